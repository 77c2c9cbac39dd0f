// The editable indexed mesh shared by the isotropic remesh and the flat-area simplification:
// growable arrays of positions and triangles with alive flags, and per-vertex face lists kept
// as one compressed array (rebuilt between passes) plus small extra lists that a pass appends
// to while it edits, so no pass has to rebuild while it works.
//
// Between rebuilds the lists may name triangles that no longer use the vertex (dead, or
// changed by a flip or a collapse); every user tests what it needs (alive, contains the
// vertex) and tolerates repeats.
#pragma once

#include "engine/mesh/triangle_mesh.h"

#include <array>
#include <cstdint>
#include <vector>

namespace grainforge::mesh {

// End markers of the 32-bit indices: no triangle, no vertex.
inline constexpr std::uint32_t kNoFace = 0xFFFFFFFFu;
inline constexpr std::uint32_t kNoVertex = 0xFFFFFFFFu;

struct RemeshTopology {
    std::vector<Vec3> positions;                       // appended, never removed
    std::vector<std::uint8_t> vertexAlive;             // 1 while the vertex exists
    std::vector<std::array<std::uint32_t, 3>> triangles;
    std::vector<std::uint8_t> triangleAlive;           // 1 while the triangle exists
    std::vector<std::uint32_t> vertexFaceOffsets;      // vertex count + 1 after a rebuild
    std::vector<std::uint32_t> vertexFaces;            // alive faces at the last rebuild
    std::vector<std::vector<std::uint32_t>> extraVertexFaces;  // faces attached since then

    std::size_t VertexCount() const { return positions.size(); }
    std::size_t TriangleCount() const { return triangles.size(); }

    // Calls f(face) for every entry of v's compressed and extra lists (dead, stale and
    // repeated entries included).
    template <class F>
    void ForEachListedFace(std::uint32_t v, F&& f) const
    {
        if (static_cast<std::size_t>(v) + 1 < vertexFaceOffsets.size()) {
            for (std::uint32_t i = vertexFaceOffsets[v]; i < vertexFaceOffsets[v + 1]; ++i)
                f(vertexFaces[i]);
        }
        for (std::uint32_t face : extraVertexFaces[v])
            f(face);
    }

    bool FaceContains(std::uint32_t face, std::uint32_t v) const
    {
        const auto& t = triangles[face];
        return t[0] == v || t[1] == v || t[2] == v;
    }

    // A new alive vertex with an empty extra list; its index.
    std::uint32_t AddVertex(Vec3 position);

    // One face of a vertex `from` that is collapsing into `to`: a face holding both dies with
    // the edge between them; any other takes `to` for its corner and is listed at `to`.
    void MoveFaceToVertex(std::uint32_t face, std::uint32_t from, std::uint32_t to)
    {
        if (FaceContains(face, to)) {
            triangleAlive[face] = 0;
            return;
        }
        for (std::uint32_t& c : triangles[face]) {
            if (c == from)
                c = to;
        }
        extraVertexFaces[to].push_back(face);
    }

    // The end of a collapse: the vertex is gone and lists nothing.
    void RetireVertex(std::uint32_t v)
    {
        vertexAlive[v] = 0;
        extraVertexFaces[v].clear();
    }
};

// One distinct edge of the alive triangles.
struct TopologyEdge {
    EdgeKey key = 0;                       // smaller index << 32 | larger index
    std::uint32_t firstFace = kNoFace;     // ascending; kNoFace where missing
    std::uint32_t secondFace = kNoFace;
    std::uint64_t extraFaces = 0;          // further triangles on the edge
};

// Bits of ClassifyTopologyEdge.
inline constexpr std::uint32_t kEdgeSharp = 1;
inline constexpr std::uint32_t kEdgeBorder = 2;
inline constexpr std::uint32_t kEdgeNonManifold = 4;

// Positions and triangles of the mesh, everything alive, one empty extra list per vertex;
// the compressed lists are left empty. The caller passes a consistent mesh.
RemeshTopology BuildRemeshTopology(const TriangleMesh& mesh);

// Compressed lists from the alive triangles (in triangle order); extra lists emptied.
void RebuildVertexFaceLists(RemeshTopology& topology);

// Distinct edges of the alive triangles, sorted by key: records bucketed by their smaller
// index, buckets sorted in parallel. Runs of three or more faces keep the two lowest triangle
// indices, so the result is the same on any number of threads.
std::vector<TopologyEdge> BuildTopologyEdges(const RemeshTopology& topology);

// Unit normal of a triangle at the current positions, zero when degenerate.
Vec3 TopologyFaceNormal(const RemeshTopology& topology, std::uint32_t face);

// 4 when the edge has further faces, 2 when it has one face, and +1 when both faces have
// non-zero unit normals whose dot product is below `featureCosine`.
std::uint32_t ClassifyTopologyEdge(const RemeshTopology& topology, const TopologyEdge& edge,
    float featureCosine);

// True unless exactly two faces are given; with two, true when both unit normals are non-zero
// and their dot product is below `featureCosine`.
bool EdgeIsSharp(const RemeshTopology& topology, const std::vector<std::uint32_t>& faces,
    float featureCosine);

// The alive faces of a that contain b, sorted, without repeats.
std::vector<std::uint32_t> GatherEdgeFaces(const RemeshTopology& topology, std::uint32_t a,
    std::uint32_t b);
// The same into `out`, which loops reuse.
void GatherEdgeFaces(const RemeshTopology& topology, std::uint32_t a, std::uint32_t b,
    std::vector<std::uint32_t>& out);

// The corners other than v of v's alive faces, sorted, without repeats. `out` is reused.
void GatherOneRing(const RemeshTopology& topology, std::uint32_t v, std::vector<std::uint32_t>& out);

// Feature flags from the edges: both ends of every edge whose class is not 0. Gives the number
// of sharp edges (bit 1).
std::uint64_t MarkFeatureVertices(const RemeshTopology& topology,
    const std::vector<TopologyEdge>& edges, float featureCosine, std::vector<std::uint8_t>& flags);

// Where each vertex and triangle of a rebuilt mesh came from in the topology.
struct TopologySources {
    std::vector<std::uint32_t> vertices;
    std::vector<std::uint32_t> triangles;
};

// Alive vertices in index order, then every alive triangle whose corners are pairwise
// different and alive, renumbered; bounding box and vertex normals computed. Alive vertices no
// triangle uses stay.
TriangleMesh RebuildMeshFromTopology(const RemeshTopology& topology);
// The same, with the sources of the result recorded and no normals computed (all zero), for a
// caller that carries its own.
TriangleMesh RebuildMeshFromTopology(const RemeshTopology& topology, TopologySources& sources);

}  // namespace grainforge::mesh
