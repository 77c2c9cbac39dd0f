#include "engine/pipeline/pipeline_records.h"

#include <algorithm>

namespace grainforge::mesh {

TileFrame PipelineSettings::TileExtent() const
{
    return {tileExtentOn, tileOffsetX, tileOffsetY, tileRotationDegrees, tileWidth, tileHeight};
}

WallSettings PipelineSettings::Walls() const
{
    return {wallLineWidth, wallThreshold, wallMinimumInward};
}

std::int32_t PipelineSettings::OccupancyResolution() const
{
    return static_cast<std::int32_t>(std::clamp(occupancyCells, kSmallestOccupancyCells, kLargestOccupancyCells));
}

}  // namespace grainforge::mesh
