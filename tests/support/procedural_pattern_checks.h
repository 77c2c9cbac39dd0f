// Checks shared by the procedural pattern tests: patterns made through the registry with a
// few values set, random in-range parameter sets, the raw heights at the pixel centres of a
// small render (before the renderer's clamp can hide a fault) and the height steps across the
// tile's edges.
#pragma once

#include "engine/textures/procedural_registry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <initializer_list>
#include <memory>
#include <random>
#include <utility>

namespace grainforge::mesh::procedural::testing {

// The registry's pattern of that name with the given values set; each key must exist.
inline std::unique_ptr<ProceduralTexture> MakePattern(const char* name,
                                                      std::initializer_list<std::pair<const char*, float>> values = {})
{
    std::unique_ptr<ProceduralTexture> pattern = CreateProceduralTexture(name);
    if (pattern == nullptr) {
        ADD_FAILURE() << "no pattern " << name;
        return pattern;
    }
    for (const auto& [key, value] : values)
        EXPECT_TRUE(pattern->SetValue(key, value)) << key;
    return pattern;
}

// The pixel-centre coordinate of pixel i of n across a tile.
inline float PixelCentre(int i, int n) { return (static_cast<float>(i) + 0.5f) / static_cast<float>(n); }

// The largest height difference between the tile's opposite edges, at `samples` pixel
// centres along each: u = 0 against u = 1 and v = 0 against v = 1.
inline float LargestSeamStep(const ProceduralTexture& pattern, int samples)
{
    float largest = 0.0f;
    for (int i = 0; i < samples; ++i) {
        const float t = PixelCentre(i, samples);
        largest = std::max(largest, std::fabs(pattern.Evaluate(0.0f, t) - pattern.Evaluate(1.0f, t)));
        largest = std::max(largest, std::fabs(pattern.Evaluate(t, 0.0f) - pattern.Evaluate(t, 1.0f)));
    }
    return largest;
}

// The largest step across the tile's edges that a parameter set may show.
using SeamStep = std::function<float(const ProceduralTexture&)>;
inline float PlainSeamStep(const ProceduralTexture& pattern) { return LargestSeamStep(pattern, 64); }

// For 200 random in-range parameter sets (one value in ten at the minimum and one in ten at the
// maximum, where the edge cases live): finite heights within 0..1 at every pixel centre of a
// 64 x 64 tile, and, for a repeating pattern, the tile's opposite edges meeting within
// `tolerance` as measured by `seamStep`.
inline void ExpectSoundRandomRenders(const char* name, std::uint32_t seed, float tolerance = 1e-4f,
                                     const SeamStep& seamStep = PlainSeamStep)
{
    SCOPED_TRACE(name);
    std::mt19937 random(seed);
    const std::unique_ptr<ProceduralTexture> pattern = CreateProceduralTexture(name);
    ASSERT_NE(pattern, nullptr);
    for (int trial = 0; trial < 200; ++trial) {
        for (const ParameterSpec& spec : pattern->PatternParameters()) {
            const std::uint32_t pick = random() % 10;
            std::uniform_real_distribution<float> value(spec.minimum, spec.maximum);
            pattern->SetValue(spec.key, pick == 0 ? spec.minimum : pick == 1 ? spec.maximum : value(random));
        }
        for (int i = 0; i < 64 * 64; ++i) {
            const float u = PixelCentre(i % 64, 64), v = PixelCentre(i / 64, 64), h = pattern->Evaluate(u, v);
            ASSERT_TRUE(std::isfinite(h) && h >= 0.0f && h <= 1.0f) << h << " at " << u << "," << v << " with\n"
                                                                    << ParametersToText(*pattern);
        }
        if (pattern->repeats) {
            ASSERT_LE(seamStep(*pattern), tolerance) << ParametersToText(*pattern);
        }
    }
}

}  // namespace grainforge::mesh::procedural::testing
