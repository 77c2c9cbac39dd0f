#include "engine/textures/procedural_texture.h"

#include "engine/mesh/parallel_loop.h"

#include <algorithm>
#include <cmath>

namespace grainforge::mesh::procedural {

namespace {

// Rows per parallel block: enough pixels that a block outweighs its scheduling.
constexpr std::size_t kPixelsPerBlock = 8192;

// A non-finite height gives 0, any other is limited to 0..1.
float SafeHeight(float h)
{
    if (!std::isfinite(h))
        return 0.0f;
    return std::clamp(h, 0.0f, 1.0f);
}

}  // namespace

const std::vector<ParameterSpec>& ProceduralTexture::GetParameters() const
{
    if (combinedParameters.empty()) {
        combinedParameters = PatternParameters();
        const std::vector<ParameterSpec>& invert = MakeInvertParameter();
        combinedParameters.insert(combinedParameters.end(), invert.begin(), invert.end());
    }
    return combinedParameters;
}

float ProceduralTexture::MidLevelAfterInvert() const
{
    const float level = SafeHeight(MidLevel());
    return GetValue("invert") >= 0.5f ? 1.0f - level : level;
}

std::vector<float> ProceduralTexture::RenderImage(std::int32_t width, std::int32_t height) const
{
    const std::int32_t w = std::max(width, 1);
    const std::int32_t h = std::max(height, 1);
    if (w > kMaxRenderSide || h > kMaxRenderSide)
        return {};
    const std::size_t columns = static_cast<std::size_t>(w);
    std::vector<float> image(columns * static_cast<std::size_t>(h), 0.0f);
    // Values do not change during a render, so "invert" is read once.
    const bool invert = GetValue("invert") >= 0.5f;
    const float widthF = static_cast<float>(w);
    const float heightF = static_cast<float>(h);
    const std::size_t rowsPerBlock = std::max<std::size_t>(1, kPixelsPerBlock / columns);
    ParallelForBlocks(static_cast<std::size_t>(h), rowsPerBlock, [&](std::size_t rowBegin, std::size_t rowEnd) {
        for (std::size_t y = rowBegin; y < rowEnd; ++y) {
            const float v = 1.0f - (static_cast<float>(y) + 0.5f) / heightF;
            float* row = image.data() + y * columns;
            for (std::size_t x = 0; x < columns; ++x) {
                const float u = (static_cast<float>(x) + 0.5f) / widthF;
                float value = SafeHeight(Evaluate(u, v));
                if (invert)
                    value = 1.0f - value;
                row[x] = SafeHeight(value);
            }
        }
    });
    return image;
}

}  // namespace grainforge::mesh::procedural
