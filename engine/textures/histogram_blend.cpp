#include "engine/textures/histogram_blend.h"

#include "engine/mesh/parallel_loop.h"
#include "engine/textures/noise_kernels.h"
#include "engine/textures/pixel_sums.h"

#include <algorithm>
#include <chrono>
#include <cmath>

namespace grainforge::mesh::seamless {

namespace {

constexpr std::uint32_t kHashInit = 0xDEADBF08u;
constexpr std::uint32_t kSecondSalt = 0x9E3779B9u;
constexpr float kTwoToMinus32 = 0x1p-32f;
constexpr float kMinWeightSquares = 1e-8f;
constexpr std::size_t kPixelsPerBlock = 4096;

// The final mix of lookup3 (Bob Jenkins, 2006), on three 32-bit words; gives c.
std::uint32_t FinalMix(std::uint32_t a, std::uint32_t b, std::uint32_t c)
{
    procedural::Lookup3FinalMix(a, b, c);
    return c;
}

std::int32_t WrapIndex(std::int32_t index, std::int32_t period)
{
    if (index >= 0 && index < period)
        return index;
    const std::int32_t r = index % period;
    return r < 0 ? r + period : r;
}

// A sample position wrapped into 0..size - 1. Positions lie between -1 and twice the size, so
// one addition or subtraction settles nearly all of them before a division is needed; 64 bits
// so no size can overflow.
std::size_t WrapPixel(std::int64_t position, std::int64_t size)
{
    if (position < 0)
        position += size;
    else if (position >= size)
        position -= size;
    if (position < 0 || position >= size) {
        position %= size;
        if (position < 0)
            position += size;
    }
    return static_cast<std::size_t>(position);
}

// floor(x) for |x| below 2^62, without the library call that baseline x86-64 makes of
// std::floor (there is no rounding instruction before SSE4.1). Callers pass bounded values.
float FastFloor(float x)
{
    const float truncated = static_cast<float>(static_cast<std::int64_t>(x));
    return truncated > x ? truncated - 1.0f : truncated;
}

// Bilinear sample at pixel coordinates (x, y), pixel centres at whole numbers, with repeat
// addressing.
float SampleRepeat(const std::vector<float>& image, std::int64_t width, std::int64_t height, float x, float y)
{
    const float fx0 = FastFloor(x);
    const float fy0 = FastFloor(y);
    const float fx = x - fx0;
    const float fy = y - fy0;
    const auto x0 = static_cast<std::int64_t>(fx0);
    const auto y0 = static_cast<std::int64_t>(fy0);
    const std::size_t c0 = WrapPixel(x0, width);
    const std::size_t c1 = WrapPixel(x0 + 1, width);
    const std::size_t r0 = WrapPixel(y0, height) * static_cast<std::size_t>(width);
    const std::size_t r1 = WrapPixel(y0 + 1, height) * static_cast<std::size_t>(width);
    const float top = (1.0f - fx) * image[r0 + c0] + fx * image[r0 + c1];
    const float bottom = (1.0f - fx) * image[r1 + c0] + fx * image[r1 + c1];
    return (1.0f - fy) * top + fy * bottom;
}

struct BlendInput {
    const std::vector<float>& source;
    std::int64_t width;
    std::int64_t height;
    std::int32_t patches;
    float mean;
    // PatchRandom of grid vertex (i, j), 0 <= i, j < patches, at j x patches + i: drawn once
    // instead of three times per pixel; other vertices wrap onto these.
    std::vector<PatchOffset> offsets;
};

std::vector<PatchOffset> VertexOffsets(std::int32_t patches, std::int32_t seed)
{
    const std::size_t side = static_cast<std::size_t>(patches);
    std::vector<PatchOffset> offsets(side * side);
    for (std::int32_t j = 0; j < patches; ++j)
        for (std::int32_t i = 0; i < patches; ++i)
            offsets[static_cast<std::size_t>(j) * side + static_cast<std::size_t>(i)] = PatchRandom(i, j, patches, seed);
    return offsets;
}

// One output pixel at tile coordinates (u, v): three offset copies of the source at the
// corners of the grid triangle holding (u, v), blended so the spread stays the source's.
float BlendPixel(const BlendInput& in, float u, float v)
{
    const float gx = static_cast<float>(in.patches) * u;
    const float gy = static_cast<float>(in.patches) * v;
    const float fi0 = FastFloor(gx);
    const float fj0 = FastFloor(gy);
    const float fx = gx - fi0;
    const float fy = gy - fj0;
    const auto i0 = static_cast<std::int32_t>(fi0);
    const auto j0 = static_cast<std::int32_t>(fj0);

    std::int32_t vi[3];
    std::int32_t vj[3];
    float weight[3];
    const float lower = 1.0f - fx - fy;
    if (lower > 0.0f) {
        vi[0] = i0;     vj[0] = j0;     weight[0] = lower;
        vi[1] = i0 + 1; vj[1] = j0;     weight[1] = fx;
        vi[2] = i0;     vj[2] = j0 + 1; weight[2] = fy;
    } else {
        vi[0] = i0 + 1; vj[0] = j0 + 1; weight[0] = fx + fy - 1.0f;
        vi[1] = i0 + 1; vj[1] = j0;     weight[1] = 1.0f - fy;
        vi[2] = i0;     vj[2] = j0 + 1; weight[2] = 1.0f - fx;
    }

    float weighted = 0.0f;
    float squares = 0.0f;
    for (int k = 0; k < 3; ++k) {
        const PatchOffset offset =
            in.offsets[static_cast<std::size_t>(WrapIndex(vj[k], in.patches)) * static_cast<std::size_t>(in.patches) +
                       static_cast<std::size_t>(WrapIndex(vi[k], in.patches))];
        const float x = (offset.u + u) * static_cast<float>(in.width) - 0.5f;
        const float y = (offset.v + v) * static_cast<float>(in.height) - 0.5f;
        const float sample = SampleRepeat(in.source, in.width, in.height, x, y);
        weighted += weight[k] * (sample - in.mean);
        squares += weight[k] * weight[k];
    }
    const float value = weighted / std::sqrt(std::max(squares, kMinWeightSquares)) + in.mean;
    return std::clamp(value, 0.0f, 1.0f);
}

// Root mean squared deviation from `mean`; an empty image counts as one pixel.
float DeviationFrom(const std::vector<float>& values, double mean)
{
    const double squares = detail::SumOverPixels(values, [mean](float value) {
        const double d = static_cast<double>(value) - mean;
        return d * d;
    });
    const double count = values.empty() ? 1.0 : static_cast<double>(values.size());
    return static_cast<float>(std::sqrt(squares / count));
}

double Mean(const std::vector<float>& values)
{
    const double sum = detail::SumOverPixels(values, [](float value) { return static_cast<double>(value); });
    return sum / (values.empty() ? 1.0 : static_cast<double>(values.size()));
}

}  // namespace

PatchOffset PatchRandom(std::int32_t i, std::int32_t j, std::int32_t period, std::int32_t seed)
{
    if (period > 0) {
        i = WrapIndex(i, period);
        j = WrapIndex(j, period);
    } else {
        i = 0;
        j = 0;
    }
    const auto ui = static_cast<std::uint32_t>(i);
    const auto uj = static_cast<std::uint32_t>(j);
    const auto us = static_cast<std::uint32_t>(seed);
    const std::uint32_t first = FinalMix(ui + kHashInit, uj + kHashInit, us + kHashInit);
    const std::uint32_t second = FinalMix(uj + kHashInit, ui + kHashInit, (us ^ kSecondSalt) + kHashInit);
    return PatchOffset{static_cast<float>(first) * kTwoToMinus32, static_cast<float>(second) * kTwoToMinus32};
}

std::vector<float> HistogramBlendTile(const std::vector<float>& source, std::int32_t width,
                                      std::int32_t height, std::int32_t outWidth, std::int32_t outHeight,
                                      const HistogramBlendOptions& options,
                                      HistogramBlendStatistics* statistics)
{
    const std::int32_t W = std::max(outWidth, 1);
    const std::int32_t H = std::max(outHeight, 1);
    if (width < 1 || height < 1 ||
        source.size() != static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height))
        return {};
    const auto start = std::chrono::steady_clock::now();
    const std::int32_t patches = std::clamp(options.patches, 1, kMaxHistogramPatches);
    const float mean = static_cast<float>(Mean(source));

    const std::size_t columns = static_cast<std::size_t>(W);
    std::vector<float> result(columns * static_cast<std::size_t>(H), 0.0f);
    const BlendInput input{source, width, height, patches, mean, VertexOffsets(patches, options.seed)};
    const float widthF = static_cast<float>(W);
    const float heightF = static_cast<float>(H);
    const std::size_t rowsPerBlock = std::max<std::size_t>(1, kPixelsPerBlock / columns);
    ParallelForBlocks(static_cast<std::size_t>(H), rowsPerBlock, [&](std::size_t begin, std::size_t end) {
        for (std::size_t y = begin; y < end; ++y) {
            const float v = (static_cast<float>(y) + 0.5f) / heightF;
            float* row = result.data() + y * columns;
            for (std::size_t x = 0; x < columns; ++x)
                row[x] = BlendPixel(input, (static_cast<float>(x) + 0.5f) / widthF, v);
        }
    });

    if (statistics != nullptr) {
        statistics->patches = patches;
        statistics->mean = mean;
        statistics->inputDeviation = DeviationFrom(source, mean);
        statistics->outputDeviation = DeviationFrom(result, mean);
        statistics->milliseconds =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    }
    return result;
}

}  // namespace grainforge::mesh::seamless
