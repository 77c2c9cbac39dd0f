// How large a procedural pattern is rendered into the height map: 32 pixels per millimetre of
// one tile as the most zoomed layer shows it, between 256 and 4096 pixels a side, and rendered
// again only when the size the placement needs drifts out of a band around the rendered one,
// so that small zoom changes do not re-render a pattern on every preview update.
#pragma once

#include <cstdint>

namespace grainforge::app {

inline constexpr float kProceduralPixelsPerMillimetre = 32.0f;
inline constexpr std::int32_t kMinProceduralRenderSide = 256;
inline constexpr std::int32_t kMaxProceduralRenderSide = 4096;
// A rendered side is kept while needed / rendered lies strictly inside this band.
inline constexpr float kProceduralKeepBelow = 1.5f;
inline constexpr float kProceduralKeepAbove = 0.6666667f;

struct ProceduralImageSize {
    std::int32_t width = kMinProceduralRenderSide;
    std::int32_t height = kMinProceduralRenderSide;

    bool operator==(const ProceduralImageSize&) const = default;
};

// The render size for a tile of `widthMillimetres` x `heightMillimetres` (negative or
// non-finite sizes count as 0) at the projection's largest layer zoom (a zoom that is not
// above 0 counts as 1): each side round(size x zoom x 32), clamped to 256..4096.
ProceduralImageSize ComputeProceduralRenderSize(float widthMillimetres, float heightMillimetres,
                                                 float maximumLayerZoom);

// Whether a render of `renderedWidth` x `renderedHeight` must be redone for the `needed` size:
// true when nothing is rendered (a side below 1) or when either ratio needed / rendered is not
// strictly between 2/3 and 1.5.
bool ProceduralRenderDrifted(const ProceduralImageSize& needed, std::int32_t renderedWidth,
                             std::int32_t renderedHeight);

}  // namespace grainforge::app
