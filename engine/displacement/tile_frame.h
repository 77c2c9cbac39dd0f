// The one rectangle a texture that does not repeat covers. When the frame is on, only the
// projection samples whose tile coordinates lie in that rectangle carry texture: the texture
// weights and the height sampling pass every mapped point through ProjectionFaceWeights.
#pragma once

#include "engine/displacement/projection.h"

#include <cstdint>

namespace grainforge::mesh {

struct TileFrame {
    std::uint8_t on = 0;           // the texture covers this one rectangle only
    float offsetX = 0.0f;          // millimetres
    float offsetY = 0.0f;
    float rotationDegrees = 0.0f;
    float width = 30.0f;           // millimetres; 0 counts as 1
    float height = 30.0f;
};

// Keeps the samples whose (u, v) in millimetres fall in the frame's rectangle (tile
// coordinates in 0..1, ends included), in their order, and renormalises them: weights divided
// by their sum, coverage multiplied by it, the dominant side the first of the heaviest. With
// none kept (or kept weights that add up to nothing) the set is cleared: no sample, coverage
// 0, dominant side -1. The frame's switch is not read: callers ask only when it is on.
void ProjectionFaceWeights(const TileFrame& frame, ProjectionSamples& samples);

}  // namespace grainforge::mesh
