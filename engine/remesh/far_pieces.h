// Far from the origin a float coordinate steps coarsely (0.0625 mm at 1,000,000 mm), and a run
// whose triangles or relief cells span too few of those steps rounds vertices onto one another.
// This holds the one rule every road that picks a triangle size asks (Process before it runs,
// and the advice of every refusal that names a size): the smallest triangle size a part allows
// at its farthest corner, and the piece of a part that lies too far out for a given size.
// Repair and the Save STL check pick no size and weld at float steps of their own.
#pragma once

#include "engine/mesh/triangle_mesh.h"

namespace grainforge::mesh {

// Float steps a solid relief's cell must span where it lies. Its contour keeps each vertex four
// steps off the cell's faces, but never more than a sixteenth of the cell; with fewer steps to
// the cell the written vertices of neighbouring cells round onto one another and double the
// surface there. Measured at 1,000,000 mm (a step of 0.0625 mm) with the corpus's rotor, small
// rotor, holes and mask cone: 0.4 mm cells (6.4 steps) left edges shared by more than two
// triangles in all four, 0.5 mm and coarser (8 steps and more) in none, at 1 and 1.5 mm deep.
inline constexpr double kSolidCellFloatSteps = 8.0;

// Float steps the triangles of any other run must span: one, or a vertex moves by more than a
// triangle when it is written.
inline constexpr double kTriangleFloatSteps = 1.0;

// The gap between a float at the coordinate of largest magnitude in the box and the next one up.
[[nodiscard]] double FloatStepOfBox(Vec3 low, Vec3 high);

// The smallest triangle size (mm) a run allows for a part lying in the box: the float step at its
// farthest corner times kSolidCellFloatSteps with a solid relief, kTriangleFloatSteps without.
// A size below it is refused; it is a power of two, so that it reads and types exactly.
[[nodiscard]] float SmallestTriangleSizeFarOut(Vec3 low, Vec3 high, bool solidRelief);

// The largest of `cell` and the smallest cell a solid relief allows in the box: a piece lying far
// from the rest of its part gets a relief field of its own, at the cell its own float steps need,
// so that it never refuses nor coarsens the part (and a part near the origin keeps `cell`).
[[nodiscard]] float OwnScaleReliefCell(Vec3 low, Vec3 high, float cell);

// The piece of a part that lies too far out for a triangle size.
struct FarPiece {
    bool found = false;
    bool wholePart = false;     // every piece of the part is too far out: moving the part, not a piece, helps
    bool reliefCell = false;    // refused for the solid relief's cell, not for the triangles themselves
    Vec3 boundsMin{};
    Vec3 boundsMax{};
    double step = 0.0;          // the float step where it lies (mm)
    float smallestSize = 0.0f;  // the smallest size that lets it run
};

// Of the pieces of `source` that lie apart at `triangleSize` (FindMeshClusters), the one with the
// coarsest float step whose triangles the step there is too coarse for (kTriangleFloatSteps).
// With a solid relief, a piece that allows the triangles but not the relief's cell gets a field of
// its own at its own scale (OwnScaleReliefCell) and is not refused; only a part none of whose
// pieces allows the cell is, as a whole. Without a solid relief a piece the triangles do not allow
// is remeshed at its own scale (RemeshAtOwnScale) and only a part every piece of which is too far
// out is refused. The part is named (wholePart, its own box) when every
// piece is too far out. Not found when the part's own box allows the size (the pieces are only
// sought then) or `source` has no valid bounds. Serial.
[[nodiscard]] FarPiece FindPieceTooFarOut(const TriangleMesh& source, float triangleSize, bool solidRelief);

}  // namespace grainforge::mesh
