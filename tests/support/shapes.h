// Small meshes built in code for the tests of every area: a cube as a triangle soup, two
// disjoint cubes, an open box, and flipped and translated copies. The indexed test cube,
// cylinder and sphere come from engine/mesh/test_shapes.h.
#pragma once

#include "engine/mesh/triangle_mesh.h"

namespace grainforge::test {

// A cube of the given edge centred on the origin, outward wound, as an STL file holds it:
// 12 triangles, each with its own three vertices (36 vertices, no index shared).
mesh::TriangleMesh MakeCubeSoup(float edge = 20.0f);

// Two indexed cubes of edge 20 in one mesh, the second 50 mm along x from the first:
// 16 vertices, 24 triangles, two bodies, closed.
mesh::TriangleMesh MakeTwoCubes();

// An indexed cube of edge 20 without its top two triangles: 8 vertices, 10 triangles, four
// boundary edges round the opening.
mesh::TriangleMesh MakeOpenBox();

// An open, wavy height-field sheet of rows x columns quads (two triangles each), numbered
// row by row as most meshes are (neighbouring triangles use nearby vertex numbers). Large
// sizes give meshes of millions of triangles for the parallel paths of the mesh passes.
mesh::TriangleMesh MakeWavyGrid(std::uint32_t rows, std::uint32_t columns);

// The wavy sheet of rows x rows quads with a second layer `gap` mm below it, wound the other
// way: a curved sheet that thin, open all round its rim (8 x rows open edges).
mesh::TriangleMesh MakeTwoLayerSheet(std::uint32_t rows, float gap);

// The mesh with edge `edge` (0..2, from corner edge to the next) of triangle `triangle` split
// at `share` of its length and the gap sealed by a facet of no area, as some exporters write a
// closed part: one vertex and two triangles more, still closed.
mesh::TriangleMesh WithZeroAreaFacet(mesh::TriangleMesh mesh, std::size_t triangle, int edge, float share);

// A closed UV sphere (2 x segments x (bands - 1) triangles) whose radius rises and falls by
// up to `relief` mm in a fixed pattern of bumps: a curved surface with detail at two scales,
// made the same way on every run.
mesh::TriangleMesh MakeBumpySphere(float radius, float relief, std::uint32_t bands, std::uint32_t segments);

// A closed box of `cells` x `cells` x `cells` cubes of 1 mm standing on z = 0, its surface
// vertices moved by a fixed pseudo-random amount of up to `noise` mm on each axis (none along
// z on the bottom face, which stays flat on the bed): 12 x cells² triangles.
mesh::TriangleMesh MakeNoisyBox(std::uint32_t cells, float noise);

// A flat grid of n x n squares of side `step` in the plane z = `z`, facing up, vertices row by
// row from the origin; square (r, c) is triangles 2 (r n + c) and the next. With `alternating`
// the diagonals alternate, so that inner vertices have valence 4 or 8 instead of 6.
mesh::TriangleMesh MakeFlatGrid(std::uint32_t n, float step, float z = 0.0f, bool alternating = false);

// A closed box of side `size` whose top is MakeFlatGrid(n, size / n, size) (vertices and
// triangles numbered first, as there); each side is a fan from its two bottom corners up to the
// top border, and the bottom is two triangles.
mesh::TriangleMesh MakeGridTopBox(std::uint32_t n, float size = 10.0f);

// A box from `low` to `high`, outward wound, 8 vertices and 12 triangles.
mesh::TriangleMesh MakeBox(mesh::Vec3 low, mesh::Vec3 high);

// A fan of `spokes` triangles round one centre vertex (number 0): a vertex of very high degree.
mesh::TriangleMesh MakeFan(std::uint32_t spokes);

// A closed cone standing on z = 0 round the z axis: `diameter` mm across its base, apex
// `height` mm up, the base circle a polygon of `segments` sides; its sides are slivers from
// apex to rim and its base a fan round the centre: 2 x segments triangles, outward wound, box
// computed.
mesh::TriangleMesh MakeCone(float diameter, float height, std::uint32_t segments);

// The same mesh with every triangle's winding reversed (corners 1 and 2 swapped).
mesh::TriangleMesh Flipped(mesh::TriangleMesh mesh);

// The same mesh moved by `offset`; the box is recomputed when it was valid.
mesh::TriangleMesh Translated(mesh::TriangleMesh mesh, mesh::Vec3 offset);

// Both meshes in one: b's vertices follow a's and its indices are shifted to match.
mesh::TriangleMesh Combined(mesh::TriangleMesh a, const mesh::TriangleMesh& b);

// Every triangle given its own three vertices (normals copied), as before welding.
mesh::TriangleMesh ToSoup(const mesh::TriangleMesh& mesh);

// The 10 mm test sphere (edges about 0.6 mm) with its first triangle missing, so that an
// import's tolerance weld runs on it, and a facet of no area, its three corners at `stray`, as
// a damaged export writes.
mesh::TriangleMesh MakeOpenSphereWithStrayFacet(mesh::Vec3 stray);

// Two closed bodies: the 10 mm test sphere at the origin and a 5 mm cube at `cubeAt`.
mesh::TriangleMesh MakeSphereAndFarCube(mesh::Vec3 cubeAt);

// A sphere of radius 10 (the indexed test sphere) with its vertices moved by up to `noise` mm
// on each axis, every `holeEvery`-th triangle removed (small holes), and, when `finEvery` is
// not 0, a fin on the first edge of every `finEvery`-th kept triangle: an extra triangle to a
// new vertex a tenth further out than the third corner, so that edge carries three triangles
// (two where a hole took the neighbour). Normals stay as the sphere's.
mesh::TriangleMesh MakeNoisySphereWithHoles(std::uint32_t seed, float noise, std::uint32_t holeEvery,
                                            std::uint32_t finEvery);

// A closed torus round the z axis: `rings` steps round the axis, `segments` round the tube of
// radius `minorRadius` whose centre line has radius `majorRadius`; 2 x rings x segments
// triangles, outward wound, box and normals computed.
mesh::TriangleMesh MakeTorus(float majorRadius, float minorRadius, std::uint32_t rings, std::uint32_t segments);

// A round tube standing on z = 0 round the z axis, as vertex mode leaves a part textured only
// outside: `diameter` mm across, walls `wall` mm thick, `height` mm tall, `rows` rows of
// `segments` quads up each wall. The outside carries a fixed pattern of bumps of up to `relief`
// mm; the bore is a polygon of segments / 2 flat sides, each meshed in two columns, and the top
// and bottom rings are flat. Closed, outward wound (the bore faces the axis), box and normals
// computed: 4 x segments x (rows + 1) triangles.
mesh::TriangleMesh MakeReliefTube(float diameter, float wall, float height, std::uint32_t segments, std::uint32_t rows,
                                  float relief);

// Two indexed cubes of edge 10, the first from the origin, the second moved by `offset`, with
// coincident corners welded into shared vertices: an offset of (10, 10, 0) makes them share an
// edge (used by four triangles), (10, 0, 0) a whole face (its two triangles present twice, once
// from each cube, wound opposite ways), (10, 10, 10) a single vertex.
mesh::TriangleMesh MakeWeldedCubePair(mesh::Vec3 offset);

// A closed box 10 x 10 x 10 with a wall written once across it at z = 5, welded: each of the
// wall's four outer edges is used by three triangles (the sides above and below, and the wall),
// and no split parts them without leaving the wall open.
mesh::TriangleMesh MakeBoxWithInnerWall();

// Two cubes of edge 10 welded along an edge: the first from the origin, the second beside it
// along +x, from z = 10 up, turned up by `degrees` about the edge they share (x = 10, z = 10):
// the first cube's top and the second's bottom meet there at a convex crease, and the plane of
// that bottom runs on into the first cube, under its top.
mesh::TriangleMesh MakeCubesPinchedAtAnEdge(float degrees);

// The indexed test cube of edge 20 with one triangle that has no area: a vertex halfway along
// an edge (a, b) splits the triangle on one side, and (a, b, middle) closes the slit. Closed.
mesh::TriangleMesh MakeCubeWithFlatTriangle();

// A blade: a closed wedge `length` long along x and `width` wide along y, `rootThickness`
// thick (along z, centred on z = 0) at x = 0, tapering to `edgeThickness` at x = length.
// 8 vertices, 12 triangles, outward wound.
mesh::TriangleMesh MakeWedge(float length, float width, float rootThickness, float edgeThickness);

// A UV sphere as MakeBumpySphere without relief, every vertex moved along its radius by a
// pseudo-random amount of up to `noise` mm either way from `seed`, as a scan comes out. Closed,
// box and normals computed.
mesh::TriangleMesh MakeNoisySphere(std::uint32_t seed, float radius, float noise, std::uint32_t bands,
                                   std::uint32_t segments);

// The mesh turned `xDegrees` about the x axis, then `zDegrees` about the z axis (through the
// origin), box and normals computed: a face square to x stays vertical, rounded off its plane
// by a few float steps.
mesh::TriangleMesh TurnedAboutXThenZ(mesh::TriangleMesh mesh, float xDegrees, float zDegrees);

// An L-shaped prism on z = 0, 10 mm high: two arms 20 mm wide, 40 mm long, their outer corner
// at the origin and their walls meeting in a hollow along the inner edge x = y = 20. The caps
// are fans from that edge's ends: 20 triangles, closed, outward, box and normals computed.
mesh::TriangleMesh MakeLPrism();

// A sphere of radius 10 at the origin with specks beside it and a plate under it: ten 0.3 mm
// cubes in a row from x = 14 every 2 mm, ten 0.15 mm cubes in a row beside those, and a
// 20 x 20 x 0.2 mm plate 3.8 mm below the sphere. 22 bodies, each apart from the others.
mesh::TriangleMesh MakeSphereWithSpecksAndPlate();

// A 20 mm cube from the origin with a 1 mm cube 3 mm beside it and a 0.5 mm cube 5 mm along:
// three bodies.
mesh::TriangleMesh MakeCubeWithTwoSmallCubes();

// A 10 mm box of overlapping 1 mm walls (seven shells) round an 8 mm hollow that opens to the top
// through a slot `slot` mm wide across the middle of the top wall.
mesh::TriangleMesh MakeBoxWithSlottedHollow(float slot);

}  // namespace grainforge::test
