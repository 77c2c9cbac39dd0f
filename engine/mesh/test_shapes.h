// Closed, outward-wound test parts made without any file: a cube, a cylinder and a UV sphere,
// centred on the origin with shared vertices, box and vertex normals computed. Negative sizes
// (and NaN) are taken as 0: the shape collapses to the origin but keeps its counts.
#pragma once

#include "engine/mesh/triangle_mesh.h"

namespace grainforge::mesh {

// Cube of the given edge length (mm): 8 vertices, 12 triangles.
TriangleMesh MakeTestCube(float edge);

// Cylinder along z of the given radius and height (mm), 64 segments: 130 vertices,
// 256 triangles. Radius and height are clamped separately.
TriangleMesh MakeTestCylinder(float radius, float height);

// UV sphere of the given radius (mm), 48 bands and 96 segments: 4514 vertices, 9024 triangles.
TriangleMesh MakeTestSphere(float radius);

}  // namespace grainforge::mesh
