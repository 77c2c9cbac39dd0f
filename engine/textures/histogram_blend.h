// Histogram-preserving blending: a tile is built from randomly offset copies of the source,
// blended over a triangle grid of P x P cells so that the result keeps the source's contrast
// instead of averaging it away. The grid wraps, so the result tiles without a seam, and each
// grid vertex draws its own offsets, so the tile does not repeat within itself.
//
// Method: E. Heitz and F. Neyret, "High-Performance By-Example Noise using a
// Histogram-Preserving Blending Operator", Proc. ACM Comput. Graph. Interact. Tech. 1(2), 2018,
// reduced to the variance-preserving blend of the raw values (no histogram transform). Offsets
// come from the final mix of Bob Jenkins' lookup3 hash.
#pragma once

#include <cstdint>
#include <vector>

namespace grainforge::mesh::seamless {

// The most patches across the tile, whatever the options ask for.
inline constexpr std::int32_t kMaxHistogramPatches = 64;

struct HistogramBlendOptions {
    std::int32_t patches = 4;  // grid cells across the tile, limited to 1..kMaxHistogramPatches
    std::int32_t seed = 0;     // another seed is another arrangement
};

struct HistogramBlendStatistics {
    std::int32_t patches = 0;      // the patch count used
    float mean = 0.0f;             // mean of the source
    float inputDeviation = 0.0f;   // root mean squared deviation of the source from its mean
    float outputDeviation = 0.0f;  // the result's, from the source's mean (not its own)
    double milliseconds = 0.0;
};

// Two offsets in 0..1 (1 itself when the hash is close to 2^32) for grid vertex (i, j) of a
// grid of `period` vertices across (i and j are wrapped into it; a period of 0 or less uses
// vertex 0, 0): `u` shifts the column, `v` the row.
struct PatchOffset {
    float u = 0.0f;
    float v = 0.0f;
};
PatchOffset PatchRandom(std::int32_t i, std::int32_t j, std::int32_t period, std::int32_t seed);

// The blended outWidth x outHeight tile (each raised to at least 1) of the width x height
// source, values clamped to 0..1; empty when the source size does not match its pixel count.
// Statistics, when asked for, are filled for a non-empty result. Rows run in parallel; the
// same source, options and size give the same result bit for bit on any number of threads.
std::vector<float> HistogramBlendTile(const std::vector<float>& source, std::int32_t width,
                                      std::int32_t height, std::int32_t outWidth, std::int32_t outHeight,
                                      const HistogramBlendOptions& options,
                                      HistogramBlendStatistics* statistics);

}  // namespace grainforge::mesh::seamless
