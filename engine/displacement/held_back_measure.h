// The held-back measure of the vertex relief: how much of the relief it was asked for the guards
// (the clearance, the base, the fold and crossing guards, the plain rims) took away, and where
// most of that lies, for the report to say. Read once every move is done; it changes nothing.
#pragma once

#include "engine/displacement/vertex_displacement_detail.h"

#include <vector>

namespace grainforge::mesh::detail {

// How much of the asked relief the guards took away. The move each vertex was asked for is its
// weight times its height along its direction (mitre scale included, clearance cut not); what it
// got is its offset along that direction. Counted in the eighths of the part's box, so the place
// named is where most of the flattening lies, not the middle of points scattered over the part.
//
// Counts in the report the textured vertices (those asked for at least kHeldBackFloorShare of
// the deepest move, outside the base band and off the plain rims), those that got under half
// their move, and the mean place and share of the eighth holding most of them. `before` holds
// every vertex's position before the relief; nothing is counted when no move was asked for.
void MeasureHeldBack(DisplacementRun& run, const std::vector<Vec3>& before);

}  // namespace grainforge::mesh::detail
