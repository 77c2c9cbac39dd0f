#include "engine/displacement/tile_frame.h"

#include "engine/displacement/projection_detail.h"
#include "engine/textures/height_map.h"

#include <algorithm>

namespace grainforge::mesh {

void ProjectionFaceWeights(const TileFrame& frame, ProjectionSamples& samples)
{
    const TilePlacement placement{frame.offsetX, frame.offsetY, frame.rotationDegrees, frame.width,
        frame.height};
    bool keep[3] = {false, false, false};
    for (std::int32_t i = 0; i < std::clamp(samples.count, 0, 3); ++i) {
        const TileCoordinates tile =
            PlacementToTile(placement, samples.samples[i].u, samples.samples[i].v);
        keep[i] = tile.u >= 0.0f && tile.u <= 1.0f && tile.v >= 0.0f && tile.v <= 1.0f;
    }
    detail::KeepSamples(samples, keep);
}

}  // namespace grainforge::mesh
