// Large meshes made in code for the benchmarks, of fixed, named sizes.
#pragma once

#include "engine/mesh/triangle_mesh.h"

#include <cstdint>

namespace grainforge::bench {

// A closed UV sphere of the given radius with `bands` bands of latitude and `segments`
// segments of longitude: 2 x segments x (bands - 1) triangles, shared vertices, outward
// winding, box and normals computed.
mesh::TriangleMesh MakeSphereGrid(float radius, std::uint32_t bands, std::uint32_t segments);

// About 200,000 triangles (199,200), radius 40 mm.
mesh::TriangleMesh MakeSphere200k();

// About 1,000,000 triangles (998,000), radius 75 mm (some 150 mm across).
mesh::TriangleMesh MakeSphere1M();

// A UV sphere as MakeSphereGrid whose radius rises and falls by up to `relief` mm in a fixed
// pattern of bumps at two scales: a surface a simplifier must work to keep.
mesh::TriangleMesh MakeBumpySphereGrid(float radius, float relief, std::uint32_t bands, std::uint32_t segments);

// 1,001,112 triangles (708 bands, 708 segments), radius 75 mm, bumps of up to 1.2 mm: "Medium"
// leaves about 104,000.
mesh::TriangleMesh MakeBumpySphere1M();

// A round tube standing along z, centred on the origin, as a file of a turned part holds it:
// `diameter` mm across the outside, walls `wall` mm thick, `height` mm tall, open through its
// bore, each circle a polygon of `segments` sides; 8 x segments triangles, closed, outward wound
// (the bore's walls face the axis), box and normals computed.
mesh::TriangleMesh MakeRoundTube(float diameter, float wall, float height, std::uint32_t segments);

// A closed cone standing on z = 0 round the z axis, `diameter` mm across its base and
// `height` mm tall, the base circle a polygon of `segments` sides: its sides are slanted
// slivers from apex to rim, its base a fan; 2 x segments triangles, outward wound, box and
// normals computed.
mesh::TriangleMesh MakeCone(float diameter, float height, std::uint32_t segments);

// The same surface as a triangle soup: every triangle has its own three vertices, as an STL
// file holds it before welding.
mesh::TriangleMesh MakeSoup(const mesh::TriangleMesh& mesh);

// The part standing on z = 0, as a user places it on the bed.
mesh::TriangleMesh OnTheBed(mesh::TriangleMesh part);

}  // namespace grainforge::bench
