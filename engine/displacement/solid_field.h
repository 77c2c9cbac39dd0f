// The displaced solid sampled on a regular grid of step h:
//
//   F(p) = s(p) d(p) - H(p)
//
// with d the distance from p to the input surface, s = -1 inside the input solid and +1
// outside, and H the height at the surface point nearest to p (the vertex heights interpolated
// over the nearest triangle). F < 0 is inside the displaced solid, so a positive height moves
// the surface outward. Faces kept plain carry no height, and next to a textured triangle that
// meets one at a convex crease F is at least the signed distance past that face's plane, so the
// relief stops at the plane instead of rounding over the crease. The field is held exactly only
// in 8 x 8 x 8 point blocks near the surface; everywhere else it is the far value with the sign
// of the input solid, found by counting the input surface's crossings of the point's vertical
// grid column. The contouring reads it through ValueAt and Gradient.
#pragma once

#include "engine/displacement/mask_volume.h"
#include "engine/displacement/parallel_blocks.h"
#include "engine/mesh/aabb_tree.h"
#include "engine/mesh/triangle_mesh.h"

#include <array>
#include <cstdint>
#include <span>
#include <vector>

namespace grainforge::mesh {

// Faces kept plain whose normals lie more than 30 degrees apart meet at a crease: the contour
// smooths the cells there where the crease runs across the grid (BuildSolidField), and holds a
// cell's vertex on the crease where they meet in a hollow (FindPlainCreases).
inline constexpr double kPlainCreaseCosine = 0.8660254;

// Points along one side of a field block.
inline constexpr std::int64_t kFieldBlockSide = 8;
inline constexpr std::int64_t kFieldBlockPoints = 512;

struct SolidField {
    double originX = 0.0;  // position of grid point (0, 0, 0)
    double originY = 0.0;
    double originZ = 0.0;
    double cell = 0.0;     // grid step h, mm
    float farValue = 0.0f; // value outside the stored blocks (the reach): + outside, - inside
    std::int64_t pointsX = 0;
    std::int64_t pointsY = 0;
    std::int64_t pointsZ = 0;
    std::int64_t blocksX = 0;  // ceil(points / 8)
    std::int64_t blocksY = 0;
    std::int64_t blocksZ = 0;
    // Per block, (bz blocksY + by) blocksX + bx: its slot among the stored blocks, or -1.
    std::vector<std::int32_t> blockIndex;
    // 512 per stored slot; point (x, y, z) of a stored block is at
    // slot 512 + (z mod 8) 64 + (y mod 8) 8 + (x mod 8). Points beyond the grid's high ends are
    // never read.
    std::vector<float> values;
    // 512 per slot: 1 where the interpolated height was not 0, or where the point was measured
    // to a plain face (see SolidFieldInput) within two rings of the relief, so that the contour
    // smooths the cells beside the relief rather than solving them as sharp features.
    std::vector<std::uint8_t> displaced;
    // pointsX pointsY + 1 prefix offsets into columnCrossings; column (x, y) is y pointsX + x.
    std::vector<std::uint32_t> columnOffsets;
    std::vector<float> columnCrossings;  // z of each input surface crossing, ascending per column

    // Index of the point in `values`, or -1 when its block is not stored or the point lies
    // outside the grid.
    std::int64_t PointSlot(std::int64_t x, std::int64_t y, std::int64_t z) const;
    // The stored value, or the far value signed by the parity of the column's crossings
    // strictly below the point (even: outside, +). A point outside the grid reads +farValue.
    float ValueAt(std::int64_t x, std::int64_t y, std::int64_t z) const;
    // Central differences of ValueAt (one-sided at the grid's ends, 0 on an axis of one point).
    std::array<double, 3> Gradient(std::int64_t x, std::int64_t y, std::int64_t z) const;
};

// The figures of one field build.
struct SolidFieldStats {
    double columnSeconds = 0.0;
    double blockSeconds = 0.0;
    double seedSeconds = 0.0;
    double propagateSeconds = 0.0;
    double valueSeconds = 0.0;
    double estimateBytes = 0.0;  // fixed parts: block index and column offsets
    double storedEstimateBytes = 0.0;  // the whole field once the blocks are chosen
    bool tooLarge = false;
    // The input cannot make a field (see BuildSolidField); nothing was measured or built.
    bool badInput = false;
    std::uint64_t candidateBlocks = 0;
    std::uint32_t propagationPasses = 0;
    std::uint64_t pointsMeasured = 0;
    std::uint64_t pointsDisplaced = 0;
    std::uint64_t subCubesSkipped = 0;
    std::uint64_t pointsRechecked = 0;
    std::uint64_t oddColumns = 0;
    std::uint64_t verifyChecks = 0;
    std::uint64_t verifyMismatches = 0;
    std::uint64_t verifyMisses = 0;
    double verifyMaxError = 0.0;
};

// How the field's nearest surface points are found.
enum class FieldMeasure : std::int32_t {
    // Nearest triangles seeded near the surface and propagated between points. A propagated
    // triangle may be a little farther than the nearest one; points that its height puts near
    // the displaced surface are searched again, so with heights that vary smoothly the values
    // a contour reads are exact. Heights that jump between neighbouring vertices can leave a
    // few of them off; direct mode is exact everywhere.
    labels = 1,
    direct = 0,  // every point searched in the tree on its own
};

struct SolidFieldInput {
    const TriangleMesh* mesh = nullptr;       // the input solid
    const AabbTree* tree = nullptr;           // over `mesh`
    const std::vector<float>* heights = nullptr;  // one per vertex of `mesh`
    // One flag per triangle of `mesh`, or null: the flagged faces stay in their planes (their
    // corners carry no height, and no height reaches past them from a textured face at a
    // convex crease, though a point inside `mesh` stays inside). Another length is ignored.
    // The points measured to two of them meeting at a crease that runs across the grid count
    // as displaced, so the contour smooths those cells: solved as sharp features there, their
    // vertices pinned to the cells' faces folded over each other along the crease.
    const std::vector<std::uint8_t>* plainFaces = nullptr;
    // The enabled mask volumes: a surface point one of them covers fully carries no height,
    // wherever its triangle's corners lie (MaskingAt).
    std::span<const MaskVolume> masks;
    // Nothing of the solid lies below it. NaN or above 1e30 mm is bad input; at or below
    // -1e30 mm (the default, and -infinity) there is no floor. The floor is applied in the
    // stored blocks only: above the part's lowest point it would leave the unstored inside
    // below it negative, so the solid displacement passes the lowest z of its input.
    float floorZ = -1e30f;
    double cell = 0.2;                        // h, mm
    std::uint64_t cellLimit = ~std::uint64_t{0};  // largest grid point count
    FieldMeasure measure = FieldMeasure::labels;
    bool verify = false;                      // compare every measured point with a search
    // Bytes the whole field may take once its blocks are chosen; 0 for no budget. The solid
    // displacement passes a share of the available memory.
    std::uint64_t memoryBudgetBytes = 0;
};

// What a field for a part would take before it is built, by the rules BuildSolidField's
// guards apply: the fixed parts (held against kMostFixedSolidFieldBytes) and the most its
// memory guards hold against the budget (the whole field once its blocks are chosen, or the
// crossings while they are gathered). The stored blocks are not known before the field is
// placed, so they are taken as the shell within their keep reach of the surface, which holds at
// least as many as are kept on the parts measured in the tests. Lets a caller refuse before
// anything is spent a part whose field the budget would refuse after minutes of work.
struct SolidFieldNeed {
    double fixedBytes = 0.0;
    double mostBytes = 0.0;
    double gridPoints = 0.0;
};
inline constexpr double kMostFixedSolidFieldBytes = 1.5e9;

// The need of a label-mode field of step `cell` (mm) over `mesh` (bounds computed) whose largest
// |height| is `largestHeight` mm. Not finite for a cell or height that is not.
[[nodiscard]] SolidFieldNeed EstimateSolidFieldNeed(const TriangleMesh& mesh, double cell, double largestHeight);

// True when a field of that need passes every guard of BuildSolidField under `budgetBytes`
// (0: no budget) and `cellLimit` grid points.
[[nodiscard]] bool SolidFieldFits(const SolidFieldNeed& need, std::uint64_t budgetBytes,
    std::uint64_t cellLimit = ~std::uint64_t{0});

// Builds `field` from the input. False when the field is too large (stats.tooLarge): its
// fixed parts above 1.5e9 bytes or not finite, more grid points than the cell limit, more
// column crossings than 32-bit offsets can count, or the fixed parts, the crossings or the
// whole field (values, flags, labels and crossings, known once the stored blocks are chosen)
// above the memory budget. False too when the input cannot make a field (stats.badInput): a
// missing mesh, tree or heights; an inconsistent mesh, one without triangles, with more than
// 2^31 - 1 triangles or 2^32 - 1 vertices, or with a coordinate that is not finite; a tree not
// built over this mesh; heights not one per vertex or not finite; h not a positive finite
// number; a grid reaching beyond 1e30 mm; a bad floor. On either refusal the field is left
// empty and nothing large was allocated. The result is the same on any number of threads.
// Heavy passes run as parallel blocks of `job` (none: they cannot be stopped); a stop throws
// Stopped and leaves the field incomplete.
bool BuildSolidField(const SolidFieldInput& input, SolidField& field, SolidFieldStats& stats,
    JobProgressContext* job);

}  // namespace grainforge::mesh
