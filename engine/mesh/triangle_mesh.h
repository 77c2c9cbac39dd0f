// The one mesh type of Tessary and the small geometry helpers shared by every operation.
// A mesh is a plain value: contiguous vertices (position and normal), a flat index array with
// three entries per triangle, and a cached bounding box. Lengths are millimetres.
//
// Every mesh operation first checks TriangleMesh::IsConsistent (index count a multiple of
// three, every index below the vertex count) and gives its neutral result when that fails;
// nothing here throws on bad input. Only allocation failure propagates.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace grainforge::mesh {

struct Vec3 {
    float x = 0.0f;
    float y = 0.0f;
    float z = 0.0f;

    friend bool operator==(const Vec3&, const Vec3&) = default;
};

inline Vec3 operator+(Vec3 a, Vec3 b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
inline Vec3 operator-(Vec3 a, Vec3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
inline Vec3 operator*(Vec3 a, float s) { return {a.x * s, a.y * s, a.z * s}; }
inline Vec3& operator+=(Vec3& a, Vec3 b) { a = a + b; return a; }
inline float Dot(Vec3 a, Vec3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
inline Vec3 Cross(Vec3 a, Vec3 b)
{
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

inline float Length(Vec3 v) { return std::sqrt(Dot(v, v)); }
// Exactly zero: the marker Normalized gives for a degenerate direction.
inline bool IsZero(Vec3 v) { return v.x == 0.0f && v.y == 0.0f && v.z == 0.0f; }
inline bool IsFinite(Vec3 v) { return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z); }

// Unit vector along v (length computed in float), or the zero vector when the length is 1e-12
// or less.
Vec3 Normalized(Vec3 v);

struct MeshVertex {
    Vec3 position;  // millimetres
    Vec3 normal;    // unit length, or zero when none has been computed
};

// Triangle mesh. Triangle t uses indices 3t, 3t+1, 3t+2; its front side is the one from which
// its corners run counter-clockwise. Closed parts have outward normals and positive volume.
// The box and the normals are caches: whoever moves vertices calls ComputeBounds (and
// ComputeVertexNormals where the geometry changed).
struct TriangleMesh {
    std::vector<MeshVertex> vertices;
    std::vector<std::uint32_t> indices;
    Vec3 boundsMin;
    Vec3 boundsMax;
    bool boundsValid = false;  // the box was computed for the current vertices

    std::size_t TriangleCount() const { return indices.size() / 3; }

    // True when the index count is a multiple of three and every index is below the vertex
    // count. A mesh without triangles passes. Checks in parallel.
    bool IsConsistent() const;

    // Box of every vertex position, used or not; zero and not valid for a mesh without
    // vertices. A NaN coordinate makes both ends of its axis NaN and an infinite one reaches
    // the box, so the box is finite only when every coordinate is.
    void ComputeBounds();

    // Area-weighted vertex normals. All normals are zeroed first, so an inconsistent mesh ends
    // with zero normals; a vertex on no triangle or only on zero-area ones keeps zero. Runs in
    // parallel, yet every vertex adds its triangles' cross products in triangle order, so the
    // result is bit for bit that of the serial loop, on any number of threads.
    void ComputeVertexNormals();

    // Unit normal of triangle t, or zero when t or one of its indices is out of range or the
    // triangle has no area. Checks only this triangle.
    Vec3 FaceNormal(std::uint64_t t) const;

    // Sum of triangle areas (each in float) accumulated in double, in triangle order (hence
    // serial): a float sum stops growing once its terms fall below half its step, which tens of
    // millions of fine triangles reach; 0 for an inconsistent mesh.
    float SurfaceArea() const;

    // Signed volume (64-bit accumulation) measured about VolumeReference, so that it keeps its
    // digits wherever the part sits: positive for a closed, outward part; 0 for an inconsistent
    // mesh.
    float Volume() const;
};

// The point volumes and orientations are measured about: the centre of the box of the finite
// vertex positions (the origin when there is none). About the origin, the triple products of a
// part a million millimetres out are some 1e18 mm3 each and their sum keeps no digit of the
// part's own volume, nor its sign.
Vec3 VolumeReference(const TriangleMesh& mesh);

// Six times the signed volume of the tetrahedron (reference, a, b, c): the triple product of
// the corners' offsets from `reference`, taken in double (exact for points of one part).
inline double TetrahedronVolume6(Vec3 a, Vec3 b, Vec3 c, Vec3 reference)
{
    const double ax = double(a.x) - reference.x, ay = double(a.y) - reference.y, az = double(a.z) - reference.z;
    const double bx = double(b.x) - reference.x, by = double(b.y) - reference.y, bz = double(b.z) - reference.z;
    const double cx = double(c.x) - reference.x, cy = double(c.y) - reference.y, cz = double(c.z) - reference.z;
    return ax * (by * cz - bz * cy) + ay * (bz * cx - bx * cz) + az * (bx * cy - by * cx);
}

// The edge between vertex indices a and b: the smaller index shifted left by 32, or-ed with
// the larger. Both directions give the same key; keys order edges by smaller, then larger index.
using EdgeKey = std::uint64_t;

inline EdgeKey MakeEdgeKey(std::uint32_t a, std::uint32_t b)
{
    const std::uint64_t lo = a < b ? a : b;
    const std::uint64_t hi = a < b ? b : a;
    return (lo << 32) | hi;
}

struct EdgeRecord {
    EdgeKey key = 0;
    std::uint32_t triangle = 0;
};

// Edge use counts: each triangle adds one use to the key of each corner pair 0-1, 1-2, 0-2.
struct EdgeCounts {
    std::uint64_t edges = 0;        // distinct edges
    std::uint64_t boundary = 0;     // used once
    std::uint64_t manifold = 0;     // used exactly twice
    std::uint64_t nonManifold = 0;  // used three times or more
};

// Vertex adjacency in compressed form (offsets plus flat lists).
struct VertexAdjacency {
    // vertex count + 1 entries; neighbours of v are neighbours[neighbourOffsets[v] ..
    // neighbourOffsets[v+1]), distinct and ascending.
    std::vector<std::uint32_t> neighbourOffsets;
    std::vector<std::uint32_t> neighbours;
    // vertex count + 1 entries; triangles of v are triangles[triangleOffsets[v] ..
    // triangleOffsets[v+1]), one entry per corner naming v, in ascending corner order.
    std::vector<std::uint32_t> triangleOffsets;
    std::vector<std::uint32_t> triangles;
};

// Median length of the non-zero edges of a sample of at most 80001 triangles (every
// max(T / 40001, 1)-th triangle); the upper middle value for an even count; 0 when nothing
// was sampled. Edges with an out-of-range index are skipped, so no consistency check is needed.
float SampleMedianEdgeLength(const TriangleMesh& mesh);

// Number of connected bodies (triangles joined through shared vertex indices). Unused
// vertices are no body. 0 for an inconsistent mesh. Serial (a union-find over the triangles).
std::uint64_t CountBodies(const TriangleMesh& mesh);

// Three records per triangle (corner pairs 0-1, 1-2, 0-2), sorted by key and then triangle
// (a parallel sort; the order is total, so the result is unique). Reads only the index array.
std::vector<EdgeRecord> BuildEdgeTable(const TriangleMesh& mesh);

// Adjacency of every vertex. The caller passes a consistent mesh; for an inconsistent one (or
// one too large for 32-bit offsets, over 2^31 indices) every vertex gets empty lists (both
// offset vectors all zero) instead of reading out of bounds.
VertexAdjacency BuildVertexAdjacency(const TriangleMesh& mesh);

// The work set of a guard's round: the distinct corners of `triangles` in first occurrence
// order, then, when `widen`, the corners of every triangle round them. `mark` holds one entry
// per vertex; a vertex is taken when its entry is not `round` and the entry becomes `round`, so
// each round passes a new number.
std::vector<std::uint32_t> GuardWorkSet(const TriangleMesh& mesh, const VertexAdjacency& faces,
    std::span<const std::uint32_t> triangles, bool widen, std::vector<std::uint32_t>& mark, std::uint32_t round);

// Sets `flags` (one per triangle) to 1 for every triangle round vertex v.
inline void FlagTrianglesRound(const VertexAdjacency& faces, std::uint32_t v, std::vector<std::uint8_t>& flags)
{
    for (std::uint32_t j = faces.triangleOffsets[v]; j < faces.triangleOffsets[v + 1]; ++j)
        flags[faces.triangles[j]] = 1;
}

// True when every vertex coordinate, used or not, is a finite number. Checks in parallel.
bool HasOnlyFiniteCoordinates(const TriangleMesh& mesh);

// Edge use counts; all zero for an inconsistent mesh. Runs in parallel (exact integer counts).
EdgeCounts CountEdges(const TriangleMesh& mesh);

}  // namespace grainforge::mesh
