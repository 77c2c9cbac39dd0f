// Height from a normal map. A normal map stores a surface's slope, not its height: this
// turns the slopes into a height field by solving a Poisson equation with the fast Fourier
// transform on a periodic grid, then scales the heights to 0..1. Only the shape comes from the
// map; the relief depth is the displacement strength's.
//
// The grid is a power of two per side, the nearest to the image's side, from 8 to 4096, so
// the result's size may differ from the image's: a 1000 x 700 image gives 1024 x 512 heights.
// The image is treated as tiling (its edges wrap).
#pragma once

#include <complex>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace grainforge::mesh {

struct NormalMapResult {
    bool ok = false;
    // On failure the reason; on success a description of what was done.
    std::string message;
    std::int32_t width = 0;   // of the integration grid
    std::int32_t height = 0;
    std::vector<float> heights;  // width x height values in 0..1, row-major
};

// Integrates the normals `rgb` (red, green, blue per pixel, each 0..1, row-major, `width` x
// `height` pixels) into heights. `greenUp` says the green channel points up the image (the
// OpenGL convention); otherwise down. Refuses, with "the image has no three-channel pixels to
// read normals from", a size below 1 or a vector that does not hold exactly width x height x 3
// values. Costs two 2-D transforms of the grid (at most 4096 x 4096 complex doubles); rows and
// columns are transformed in parallel with results independent of the thread count.
[[nodiscard]] NormalMapResult HeightFromNormalMap(const std::vector<float>& rgb, std::int32_t width,
                                                  std::int32_t height, bool greenUp);

// In-place radix-2 transform of a power-of-two number of values: forward unscaled, inverse
// divided by the length.
void Fft1D(std::span<std::complex<double>> values, bool inverse);

// In-place transform of an nx x ny grid (rows of nx values, both powers of two): every row,
// then every column. The inverse is scaled by 1 / (nx x ny) in all.
void Fft2D(std::span<std::complex<double>> grid, std::int32_t nx, std::int32_t ny, bool inverse);

// Bilinear sample of one channel (0 red, 1 green, 2 blue) at pixel coordinates (x, y), where
// (0, 0) is the centre of the first pixel, wrapping round the image's edges.
float SampleWrappedChannel(const std::vector<float>& rgb, std::int32_t width, std::int32_t height, int channel,
                           float x, float y);

// The integration grid's side for an image side: the nearest power of two from 8 to 4096 (a
// tie keeps the smaller).
std::int32_t NormalMapGridSide(std::int32_t side);

}  // namespace grainforge::mesh
