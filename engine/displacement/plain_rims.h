// The rims of faces kept plain (FacesKeptPlain): the moving vertices that touch a face that stays
// in its plane. A rim vertex moves only within the planes of its plain faces, unless a textured
// face round it runs on within the crease angle of that plane; such a rim, keeping no plane,
// stops short of the far edge of each plain triangle round it. Once every move is done, a plain
// triangle a rim corner could lay over a plain neighbour keeps at least a share of its starting
// area, its rim corners' moves taken back on the schedule below. Serial.
#pragma once

#include "engine/displacement/vertex_displacement_detail.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace grainforge::mesh::detail {

// The share of its height over a plain triangle's far edge that a rim vertex keeping no plane
// may move towards that edge. The far corners can move too (a neighbour on the rim); two moving
// halfway still leave the triangle turned the way it was.
inline constexpr float kRimReachShare = 0.5f;

// A plain triangle with a moving rim corner keeps at least this share of its starting area,
// measured along its starting normal, so it is never turned over nor laid across its neighbours
// in the plane.
inline constexpr float kPlainAreaShare = 0.5f;

// The schedule of KeepPlainTrianglesTurned: for this many rounds the rim corners of a plain
// triangle that lost too much area give up half of their moves; from then on, round after
// round, they are put back where they were (PlanRimRound).
inline constexpr std::int32_t kRimHalvingRounds = 4;

// How round `round` (counted from 0) of KeepPlainTrianglesTurned takes the moves back.
[[nodiscard]] TakeBack PlanRimRound(std::int32_t round);

// Finds the rims of the moving vertices that touch a face flagged in `plainFaces` (one flag per
// triangle), with the planes each keeps, where it starts, the far edges of those that keep no
// plane and the plain triangles their moves could lay over a neighbour. Fills the run's rim
// fields; leaves them empty when no moving vertex touches a plain face.
void FindPlainRims(DisplacementRun& run, const std::vector<std::uint8_t>& plainFaces);

// A move or offset of vertex v with its parts across the planes of its plain rim dropped; a rim
// that keeps no plane has it shortened, direction kept, to stop short of every far edge. Any
// other vertex keeps `move` as it is.
[[nodiscard]] Vec3 KeptInPlainPlanes(const DisplacementRun& run, std::size_t v, Vec3 move);

// Takes back the rim corners' moves of the plain triangles that kept less than their share of
// area, on the schedule above, until every one of them keeps it.
void KeepPlainTrianglesTurned(DisplacementRun& run);

}  // namespace grainforge::mesh::detail
