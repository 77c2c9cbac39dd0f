// Placement of the part on the print bed: a rigid transform kept beside the loaded part, the
// search for flat faces the part can rest on and the transform that lays it on one of them.
// The transform's JSON section is the files layer's (mesh_json_sections.h).
#pragma once

#include <cstdint>
#include <vector>

#include "engine/mesh/triangle_mesh.h"

namespace grainforge::mesh {

// A point p maps to (rowX . p, rowY . p, rowZ . p) + translation. Default is the identity.
struct Transform3x4 {
    float m00 = 1.0f, m01 = 0.0f, m02 = 0.0f;
    float m10 = 0.0f, m11 = 1.0f, m12 = 0.0f;
    float m20 = 0.0f, m21 = 0.0f, m22 = 1.0f;
    Vec3 translation;
};

// One candidate face the part can rest on.
struct RestingFace {
    Vec3 normal;        // unit normal by winding (that of the face's first triangle)
    float offset = 0;   // normal . p for points p of the face's plane
    float area = 0;     // square millimetres
    Vec3 centroid;      // area-weighted centre of the face's triangles
    std::vector<std::uint32_t> triangles;  // in triangle order
};

struct RestingFaceSettings {
    float minimumArea = 1.0f;      // square millimetres
    float angle = 1.0f;            // degrees
    float planeTolerance = 0.05f;  // millimetres; below 0 counts as 0
};

// Exact: every linear entry equal to the identity's and a zero translation; NaN gives false.
bool IsIdentityTransform(const Transform3x4& t);

// Inverse of a rigid transform (transpose, translation -(transpose x t.translation)); not a
// general matrix inverse.
Transform3x4 InvertTransform(const Transform3x4& t);

// a after b: applying the result equals applying b, then a.
Transform3x4 ComposeTransforms(const Transform3x4& a, const Transform3x4& b);

// Applies t to every position (M p + translation) and normal (M n, not renormalised), then
// refreshes the box. The identity leaves the mesh entirely untouched.
void TransformMesh(TriangleMesh& mesh, const Transform3x4& t);

// Planar facets that support the part, largest area first. Empty for an inconsistent mesh or
// one without triangles.
std::vector<RestingFace> FindRestingFaces(const TriangleMesh& mesh,
                                          const RestingFaceSettings& settings);

// Turns faceNormal to (0, 0, -1) about the centre of the mesh's box and keeps the lowest point
// at its height. A mesh without vertices, or a zero face normal, gives the identity.
Transform3x4 LayOnFaceTransform(const TriangleMesh& mesh, Vec3 faceNormal);

// v c + (k x v) s + k (k . v)(1 - c): rotation of v about the unit axis k.
Vec3 RotateAboutAxis(Vec3 v, Vec3 k, float c, float s);

}  // namespace grainforge::mesh
