// Giving back the part's own surface where the solid relief takes none. The solid relief
// rebuilds the whole part from a sampled field, and the contour of that field rounds the part's
// edges and hollows by a share of a cell even where nothing moves: a face kept plain, or the
// surface inside a mask volume, would move with it. Here each contour vertex over such surface
// goes back onto it: onto a corner of the part or a crease between its faces where one runs
// through the vertex's cell (the contour gives such a cell one vertex, meant to lie on it), else
// onto the nearest point of the part; then an edge whose triangles cut across a crease turns to
// the diagonal that runs along it.
#pragma once

#include "engine/displacement/mask_volume.h"
#include "engine/mesh/aabb_tree.h"
#include "engine/mesh/triangle_mesh.h"

#include <cstdint>
#include <span>
#include <vector>

namespace grainforge::mesh {

// Faces whose normals lie more than this far apart (cosine) meet at a crease the vertices keep to.
inline constexpr double kKeptCreaseCosine = 0.8660254;

// A vertex over kept surface goes onto its nearest point when that lies within this many cells.
inline constexpr double kKeptSnapCells = 0.5;

struct KeptSurfaceInput {
    const TriangleMesh* part = nullptr;  // the relief's input, a closed solid
    const AabbTree* tree = nullptr;      // over `part`
    // One flag per triangle of `part` (FacesKeptPlain), or null; another length is ignored.
    const std::vector<std::uint8_t>* plainFaces = nullptr;
    std::span<const MaskVolume> masks;   // a point they cover fully takes no relief (MaskingAt)
    // The contour's grid: grid point (0, 0, 0) and the step, mm.
    double originX = 0.0;
    double originY = 0.0;
    double originZ = 0.0;
    double cell = 0.0;
};

struct KeptSurfaceReport {
    std::uint64_t verticesKept = 0;  // vertices put back onto the part
    std::uint64_t edgesTurned = 0;   // edges turned to run along a crease
};

// Puts the vertices of `result` (the contour of the solid built from `input.part`) that lie
// over surface taking no relief back onto the part, as described above. A vertex moves only
// when the point it goes to takes no relief and lies in its own cell or within kKeptSnapCells of
// it; an edge turns only between four such vertices, when its own midpoint lies off the part
// and the other diagonal's on it, the new triangles face as the old ones did and the diagonal is
// no edge yet. Nothing changes without plain faces or masks, for a missing part or tree, a cell
// that is not a positive number, or an inconsistent mesh. Vertices are measured in parallel;
// the result does not depend on the thread count.
KeptSurfaceReport KeepSurfaceWithoutRelief(TriangleMesh& result, const KeptSurfaceInput& input);

}  // namespace grainforge::mesh
