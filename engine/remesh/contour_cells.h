// The cell mathematics of dual contouring, shared by the contour remesh and the contouring of
// the displaced solid: which of a cube cell's twelve edges change sign and how they group
// into surface pieces (one output vertex per piece), the case table of all 256 sign masks,
// a symmetric 3 x 3 eigen decomposition, the placement of a cell vertex by minimising a
// quadratic error function of the cell's edge crossings, and the choice of diagonal that
// splits a contour quad. Pure functions over plain numbers: no mesh type, no threads, no
// allocation after the table is built; every function may be called from any thread.
//
// Numbering. A cell has local axes 0, 1, 2 (the caller picks the world axes).
// - Corner c = b0 + 2 b1 + 4 b2, bk its offset (0 or 1) along local axis k. A sign mask has
//   bit c set when corner c is inside.
// - Edge e = 4 k + s1 + 2 s2 runs along axis k at offset s1 along axis (k + 1) mod 3 and s2
//   along (k + 2) mod 3: edges 0-3 join corners (0,1) (2,3) (4,5) (6,7); 4-7 join (0,2)
//   (4,6) (1,3) (5,7); 8-11 join (0,4) (1,5) (2,6) (3,7).
// - Face f = 2 k + s is normal to axis k at offset s. Its edges are 4 j + 2 s, 4 j + 2 s + 1
//   (j = (k + 1) mod 3) and 4 m + s, 4 m + s + 2 (m = (k + 2) mod 3); its first corner is
//   s << k.
#pragma once

#include <array>
#include <cstdint>

namespace grainforge::mesh {

// Marks an edge that does not change sign in a cell case.
inline constexpr std::uint8_t kNoComponent = 255;

// Corner index at the start of edge e (offset 0 along the edge's axis).
inline constexpr int EdgeStartCorner(int edge)
{
    const int k = edge / 4;
    const int s1 = edge & 1;
    const int s2 = (edge >> 1) & 1;
    return (s1 << ((k + 1) % 3)) | (s2 << ((k + 2) % 3));
}

// Corner index at the end of edge e.
inline constexpr int EdgeEndCorner(int edge) { return EdgeStartCorner(edge) | (1 << (edge / 4)); }

// One entry of the case table.
struct CellCase {
    std::array<std::uint8_t, 12> edgeComponent{};  // 0..3, or kNoComponent
    std::uint8_t componentCount = 0;               // 0..4
    std::uint8_t joinedFaces = 0;                  // bit f: ambiguous face f ended joined
};

// Groups the sign-changing edges of the cell with sign mask `mask` into surface pieces.
// `faceFlips` bit f resolves ambiguous face f the other way (0: two inside corners diagonal on
// a face are kept apart). Writes each edge's component (numbered by the smallest edge of the
// piece, from 0) and, when `joinedFaces` is given, bit f for each ambiguous face whose two
// crossing pairs ended in one piece. Returns the number of pieces.
int ComputeCellCase(std::uint8_t mask, std::uint8_t faceFlips,
    std::array<std::uint8_t, 12>& edgeComponent, std::uint8_t* joinedFaces);

// The 256 cases with no face flipped. Built once on the first call (concurrent first callers
// wait for one builder); constant afterwards.
const std::array<CellCase, 256>& CellCaseTable();

// The edge components of the cell with sign mask `mask` and face flips `faceFlips`: the
// table's entry when no face is flipped, ComputeCellCase otherwise. Returns the piece count.
int CellEdgeComponents(std::uint8_t mask, std::uint8_t faceFlips,
    std::array<std::uint8_t, 12>& edgeComponent);

// How many of the three edges leaving corner 0 (one along each axis) change sign. A cell owns
// those edges, and each that changes sign gives one quad.
int SignChangingAxesAtCorner0(std::uint8_t mask);

// The face flips of a cell with sign mask `mask`: bit f for each face f that the cell's case
// joins while the neighbour across it joins the same face from its side (its face f ^ 1). Both
// cells then resolve the face the other way and agree on it. `neighbourMask(f)` gives the sign
// mask of the neighbour across face f, or -1 when there is none; it is asked only for joined
// faces.
template <class NeighbourMask>
std::uint8_t FlipsForJoinedFaces(std::uint8_t mask, NeighbourMask&& neighbourMask);

// Jacobi eigen decomposition of the symmetric 3 x 3 row-major `matrix`, which is overwritten by
// the rotated matrix. Eigenvalues are its final diagonal (unsorted); eigenvector k is column
// k of `eigenvectors` (row-major). At most 32 sweeps.
void JacobiEigen3(std::array<double, 9>& matrix, std::array<double, 3>& eigenvalues,
    std::array<double, 9>& eigenvectors);

struct Point3d {
    double x[3] = {0.0, 0.0, 0.0};
};

// The crossings of one cell piece and the boxes its vertex must keep to.
struct CellVertexProblem {
    const Point3d* points = nullptr;        // n crossing points
    const Point3d* normals = nullptr;       // n unit normals (used where the flag is 1)
    const std::uint8_t* useNormal = nullptr;  // n flags
    int count = 0;                          // n, at least 1
    double sharpness = 1.0;                 // 0 or less gives the mass point
    Point3d searchLow, searchHigh;          // where the minimiser may lie
    Point3d clampLow, clampHigh;            // final clamp of each coordinate
};

// The gap between a float of magnitude |coordinate| and the next one up (that of the smallest
// normal float near zero).
double FloatStepAt(double coordinate);

// Margin, in cells, that a vertex keeps along one axis from a cell face its piece touches:
// four float steps at the cell's own faces on that axis (at `faceLow` and `faceHigh`), within
// 1/1024 and 1/16 of a cell, so that a vertex written in float never lands on the face (where
// two cells' triangles could meet edge-on). Taken where the cell lies, so a part far from the
// origin is contoured as near it, up to the rounding of its floats.
double CellVertexMargin(double faceLow, double faceHigh, double cell);

// Search and clamp boxes of a piece in cell-local coordinates (the cell spans 0 to 1): on an
// axis whose low (high) face the piece's crossings touch, the vertex is searched from that
// face and clamped `margin[axis]` inside it; on an untouched side it may go one cell beyond.
void SetCellVertexBoxes(CellVertexProblem& problem, const bool touchesLow[3],
    const bool touchesHigh[3], const std::array<double, 3>& margin);

// Vertex of one piece: the mass point of the crossings moved by a truncated pseudo-inverse of
// the normals' quadratic error (directions the normals leave open stay at the mass point);
// when that leaves the search box, the best of 27 box-constrained candidates. Clamped into
// the clamp box at the end.
Point3d SolveCellVertex(const CellVertexProblem& problem);

// Height along `axis` of the point (u, w) in the plane of the other two axes (u = axis + 1,
// w = axis + 2, cyclic) on the plane of quad corners i, j, k, by barycentric interpolation;
// *smallestWeight gets the smallest barycentric coordinate, -1 (height 0) for a triangle of no
// projected area.
double QuadHeightAt(const Point3d quad[4], int i, int j, int k, double u, double w, int axis,
    double* smallestWeight);

// Which diagonal splits the quad q0..q3 (the ring of cell vertices round a sign-changing edge
// along `axis`): true for q1-q3 (triangles q0 q1 q3, q1 q2 q3), false for q0-q2 (q0 q1 q2,
// q0 q2 q3). `orientation` (+1 or -1) makes a well-formed quad's areas positive. With
// `useHeight`, when both splits are valid, the one that better reproduces the crossing
// (crossingU, crossingW, crossingHeight) wins.
bool SplitQuad(const Point3d quad[4], int axis, int orientation, bool useHeight,
    double crossingU, double crossingW, double crossingHeight, double cellSize);

// ---- Inline definitions ------------------------------------------------------------------

template <class NeighbourMask>
std::uint8_t FlipsForJoinedFaces(std::uint8_t mask, NeighbourMask&& neighbourMask)
{
    const std::uint8_t joined = CellCaseTable()[mask].joinedFaces;
    std::uint8_t flips = 0;
    for (int f = 0; f < 6; ++f) {
        if (((joined >> f) & 1) == 0)
            continue;
        const int other = neighbourMask(f);
        if (other >= 0 && ((CellCaseTable()[static_cast<std::uint8_t>(other)].joinedFaces >> (f ^ 1)) & 1) != 0)
            flips = static_cast<std::uint8_t>(flips | (1u << f));
    }
    return flips;
}

}  // namespace grainforge::mesh
