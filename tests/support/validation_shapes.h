// Test meshes for the tree, the self-intersection search and validation: small solids typed in
// by hand (tetrahedron, Moebius strip) and seeded random triangle sets for comparisons against
// brute force.
#pragma once

#include "engine/mesh/triangle_mesh.h"

#include <cstdint>

namespace grainforge::test {

// The tetrahedron (0,0,0), (10,0,0), (0,10,0), (0,0,10), outward wound: volume 1000/6.
mesh::TriangleMesh MakeTetrahedron();

// A Moebius strip of `segments` quads (two triangles each) round a circle of radius 10 with a
// half twist: open, and no choice of windings agrees across every edge.
mesh::TriangleMesh MakeMoebiusStrip(std::uint32_t segments = 12);

// `count` random triangles inside a cube of edge `extent` at the origin, corners drawn from
// `vertexPool` shared random vertices (so some triangles share vertex indices) or, when the
// pool is 0, each triangle with its own three vertices. Edge lengths scale with `size`; every
// twentieth triangle is ten times larger, so triangles land on several grid levels.
mesh::TriangleMesh MakeRandomTriangles(std::uint32_t seed, std::uint32_t count, float extent, float size,
    std::uint32_t vertexPool = 0);

}  // namespace grainforge::test
