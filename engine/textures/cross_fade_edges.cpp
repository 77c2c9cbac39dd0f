#include "engine/textures/cross_fade_edges.h"

#include "engine/mesh/parallel_loop.h"

#include <algorithm>
#include <cmath>

namespace grainforge::mesh::seamless {

namespace {

constexpr float kMaxOverlapPercent = 45.0f;
constexpr std::size_t kPixelsPerBlock = 16384;

std::size_t RowsPerBlock(std::size_t rowLength)
{
    return std::max<std::size_t>(1, kPixelsPerBlock / std::max<std::size_t>(rowLength, 1));
}

// Smoothstep weight of the near side at position `index` of a band `overlap` pixels wide.
float FadeWeight(std::size_t index, std::int32_t overlap)
{
    const float t = (static_cast<float>(index) + 0.5f) / static_cast<float>(overlap);
    return t * t * (3.0f - 2.0f * t);
}

// Each kept row: its first `overlap` pixels fade from the row's far end (column x + keptWidth)
// into the near one (column x).
std::vector<float> FadeColumns(const std::vector<float>& source, std::size_t width, std::size_t height,
                               std::int32_t overlap, std::size_t keptWidth)
{
    std::vector<float> faded(keptWidth * height);
    ParallelForBlocks(height, RowsPerBlock(width), [&](std::size_t begin, std::size_t end) {
        for (std::size_t y = begin; y < end; ++y) {
            const float* in = source.data() + y * width;
            float* out = faded.data() + y * keptWidth;
            for (std::size_t x = 0; x < keptWidth; ++x) {
                if (x < static_cast<std::size_t>(overlap)) {
                    const float s = FadeWeight(x, overlap);
                    out[x] = (1.0f - s) * in[x + keptWidth] + s * in[x];
                } else {
                    out[x] = in[x];
                }
            }
        }
    });
    return faded;
}

// The same along columns: the first `overlap` kept rows fade from row y + keptHeight into row y.
std::vector<float> FadeRows(const std::vector<float>& image, std::size_t width, std::int32_t overlap,
                            std::size_t keptHeight)
{
    std::vector<float> faded(width * keptHeight);
    ParallelForBlocks(keptHeight, RowsPerBlock(width), [&](std::size_t begin, std::size_t end) {
        for (std::size_t y = begin; y < end; ++y) {
            const float* near = image.data() + y * width;
            float* out = faded.data() + y * width;
            if (y >= static_cast<std::size_t>(overlap)) {
                std::copy(near, near + width, out);
                continue;
            }
            const float* far = image.data() + (y + keptHeight) * width;
            const float s = FadeWeight(y, overlap);
            for (std::size_t x = 0; x < width; ++x)
                out[x] = (1.0f - s) * far[x] + s * near[x];
        }
    });
    return faded;
}

}  // namespace

std::vector<float> CrossFadeEdges(const std::vector<float>& source, std::int32_t width, std::int32_t height,
                                  float percent, std::int32_t& outWidth, std::int32_t& outHeight)
{
    const float limited = std::isfinite(percent) ? std::clamp(percent, 0.0f, kMaxOverlapPercent) : 0.0f;
    const float fraction = limited / 100.0f;
    outWidth = width;
    outHeight = height;
    if (width < 1 || height < 1 ||
        source.size() != static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height))
        return source;
    // At most 45% of a 32-bit size, so both fit.
    const std::int32_t overlapX = static_cast<std::int32_t>(std::round(static_cast<float>(width) * fraction));
    const std::int32_t overlapY = static_cast<std::int32_t>(std::round(static_cast<float>(height) * fraction));
    if (overlapX < 1 && overlapY < 1)
        return source;

    const std::size_t keptWidth = static_cast<std::size_t>(width - overlapX);
    const std::size_t keptHeight = static_cast<std::size_t>(height - overlapY);
    const std::vector<float> horizontal = FadeColumns(source, static_cast<std::size_t>(width),
                                                      static_cast<std::size_t>(height), overlapX, keptWidth);
    std::vector<float> result = FadeRows(horizontal, keptWidth, overlapY, keptHeight);
    outWidth = static_cast<std::int32_t>(keptWidth);
    outHeight = static_cast<std::int32_t>(keptHeight);
    return result;
}

}  // namespace grainforge::mesh::seamless
