#include "app/document/procedural_render_size.h"

#include <cmath>

namespace grainforge::app {
namespace {

std::int32_t RenderSide(float millimetres, float zoom)
{
    const float pixels = std::isfinite(millimetres) && millimetres > 0.0f
                             ? millimetres * zoom * kProceduralPixelsPerMillimetre
                             : 0.0f;
    // Compared before rounding, so a huge or infinite size cannot overflow the rounding.
    if (!(pixels < static_cast<float>(kMaxProceduralRenderSide)))
        return kMaxProceduralRenderSide;
    const auto rounded = static_cast<std::int32_t>(std::lround(pixels));
    return rounded < kMinProceduralRenderSide ? kMinProceduralRenderSide : rounded;
}

bool InKeepBand(std::int32_t needed, std::int32_t rendered)
{
    const float ratio = static_cast<float>(needed) / static_cast<float>(rendered);
    return ratio > kProceduralKeepAbove && ratio < kProceduralKeepBelow;
}

}  // namespace

ProceduralImageSize ComputeProceduralRenderSize(float widthMillimetres, float heightMillimetres,
                                                 float maximumLayerZoom)
{
    const float zoom = maximumLayerZoom > 0.0f && std::isfinite(maximumLayerZoom) ? maximumLayerZoom : 1.0f;
    return {RenderSide(widthMillimetres, zoom), RenderSide(heightMillimetres, zoom)};
}

bool ProceduralRenderDrifted(const ProceduralImageSize& needed, std::int32_t renderedWidth,
                             std::int32_t renderedHeight)
{
    if (renderedWidth < 1 || renderedHeight < 1)
        return true;
    return !InKeepBand(needed.width, renderedWidth) || !InKeepBand(needed.height, renderedHeight);
}

}  // namespace grainforge::app
