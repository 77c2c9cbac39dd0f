// The interface of the procedural patterns: formulas that give a height from 0 to 1 at any
// point (u, v) of one square tile, u to the right and v upwards, 0 to 1 across the tile. A
// pattern is a parameter set whose table is its own entries followed by "invert"; the
// renderer turns it into a height image for the height map, the dialog's preview and the
// preset thumbnails.
#pragma once

#include "engine/textures/parameter_set.h"

#include <cstdint>
#include <vector>

namespace grainforge::mesh::procedural {

// Larger renders are refused: 16384 x 16384 floats is already 1 GiB.
inline constexpr std::int32_t kMaxRenderSide = 16384;

class ProceduralTexture : public ParameterSet {
public:
    // The pattern's own table followed by the "invert" entry, built on the first call and
    // cached in the object. The factory's reset makes that first call, so the table exists
    // before any thread renders.
    const std::vector<ParameterSpec>& GetParameters() const override;
    // The pattern's own table, built once per class and kept for the whole run.
    virtual const std::vector<ParameterSpec>& PatternParameters() const = 0;
    // Height at (u, v) in tile units, nominally 0 to 1. Reads values by key on every call and
    // may run on many threads at once.
    virtual float Evaluate(float u, float v) const = 0;
    // Height of the pattern's rest level.
    virtual float MidLevel() const { return 0.5f; }

    // MidLevel made safe (non-finite gives 0, otherwise clamped to 0..1) and turned over when
    // "invert" is on.
    float MidLevelAfterInvert() const;

    // The pattern over one tile, max(width, 1) x max(height, 1) pixels row by row, row 0 at the
    // top of the tile (v near 1), each pixel sampled at its centre; values clamped to 0..1
    // (non-finite heights give 0) and turned over when "invert" is on. Rows run in parallel.
    // Empty when a side is above kMaxRenderSide.
    std::vector<float> RenderImage(std::int32_t width, std::int32_t height) const;

    // True when the pattern repeats across tile edges without a seam.
    bool repeats = true;

protected:
    // The cache behind GetParameters.
    mutable std::vector<ParameterSpec> combinedParameters;
};

}  // namespace grainforge::mesh::procedural
