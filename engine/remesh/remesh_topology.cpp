#include "engine/remesh/remesh_topology.h"

#include "engine/mesh/large_pages.h"
#include "engine/mesh/parallel_loop.h"

#include <algorithm>

namespace grainforge::mesh {

std::uint32_t RemeshTopology::AddVertex(Vec3 position)
{
    const auto index = static_cast<std::uint32_t>(positions.size());
    positions.push_back(position);
    vertexAlive.push_back(1);
    extraVertexFaces.emplace_back();
    return index;
}

RemeshTopology BuildRemeshTopology(const TriangleMesh& mesh)
{
    RemeshTopology topology;
    const std::size_t vertexCount = mesh.vertices.size();
    const std::size_t triangleCount = mesh.indices.size() / 3;
    // The passes over the topology read vertices and triangles all over it: on large pages.
    ReserveOnLargePages(topology.positions, vertexCount);
    ReserveOnLargePages(topology.extraVertexFaces, vertexCount);
    ReserveOnLargePages(topology.triangles, triangleCount);
    topology.positions.resize(vertexCount);
    AssignOnLargePages(topology.vertexAlive, vertexCount, std::uint8_t{1});
    topology.extraVertexFaces.resize(vertexCount);
    topology.triangles.resize(triangleCount);
    AssignOnLargePages(topology.triangleAlive, triangleCount, std::uint8_t{1});
    ParallelFor(vertexCount, [&](std::size_t v) { topology.positions[v] = mesh.vertices[v].position; });
    ParallelFor(triangleCount, [&](std::size_t t) {
        topology.triangles[t] = {mesh.indices[3 * t], mesh.indices[3 * t + 1], mesh.indices[3 * t + 2]};
    });
    return topology;
}

void RebuildVertexFaceLists(RemeshTopology& topology)
{
    // One pass on the calling thread: a split into parallel runs measured no faster between
    // the flat simplification's sweeps, and slower while other work shares the threads.
    const std::size_t vertexCount = topology.positions.size();
    std::vector<std::uint32_t>& offsets = topology.vertexFaceOffsets;
    AssignOnLargePages(offsets, vertexCount + 1, 0u);
    const std::size_t triangleCount = topology.triangles.size();
    for (std::size_t t = 0; t < triangleCount; ++t) {
        if (!topology.triangleAlive[t])
            continue;
        for (std::uint32_t v : topology.triangles[t])
            ++offsets[v + 1];
    }
    for (std::size_t v = 0; v < vertexCount; ++v)
        offsets[v + 1] += offsets[v];
    ReserveOnLargePages(topology.vertexFaces, offsets[vertexCount]);
    topology.vertexFaces.resize(offsets[vertexCount]);
    std::vector<std::uint32_t> cursor(offsets.begin(), offsets.end() - 1);
    for (std::size_t t = 0; t < triangleCount; ++t) {
        if (!topology.triangleAlive[t])
            continue;
        for (std::uint32_t v : topology.triangles[t])
            topology.vertexFaces[cursor[v]++] = static_cast<std::uint32_t>(t);
    }
    for (auto& extra : topology.extraVertexFaces)
        extra.clear();
}

std::vector<TopologyEdge> BuildTopologyEdges(const RemeshTopology& topology)
{
    // Sorted by key in two stages: a counting pass buckets the edge records by their smaller
    // index (the key's high half), then each bucket is sorted by the larger index and the
    // triangle, buckets in parallel. Ordering by triangle within a key means the two faces a
    // run of three or more keeps do not depend on how the work is split.
    const std::size_t vertexCount = topology.positions.size();
    const std::size_t triangleCount = topology.triangles.size();
    std::vector<std::uint32_t> offsets(vertexCount + 1, 0);
    for (std::size_t t = 0; t < triangleCount; ++t) {
        if (!topology.triangleAlive[t])
            continue;
        const auto& c = topology.triangles[t];
        for (int i = 0; i < 3; ++i)
            ++offsets[std::min(c[i], c[(i + 1) % 3]) + 1];
    }
    for (std::size_t v = 0; v < vertexCount; ++v)
        offsets[v + 1] += offsets[v];
    struct Entry {
        std::uint32_t larger;
        std::uint32_t triangle;
    };
    std::vector<Entry> entries(offsets[vertexCount]);
    {
        std::vector<std::uint32_t> cursor(offsets.begin(), offsets.end() - 1);
        for (std::size_t t = 0; t < triangleCount; ++t) {
            if (!topology.triangleAlive[t])
                continue;
            const auto& c = topology.triangles[t];
            for (int i = 0; i < 3; ++i) {
                const std::uint32_t a = c[i];
                const std::uint32_t b = c[(i + 1) % 3];
                entries[cursor[std::min(a, b)]++] = {std::max(a, b), static_cast<std::uint32_t>(t)};
            }
        }
    }
    // Per bucket: sort, then count the distinct larger indices, so that the edges can be
    // written in parallel at their final places.
    std::vector<std::uint32_t> edgeOffsets(vertexCount + 1, 0);
    ParallelFor(vertexCount, [&](std::size_t v) {
        Entry* first = entries.data() + offsets[v];
        Entry* last = entries.data() + offsets[v + 1];
        std::sort(first, last, [](const Entry& x, const Entry& y) {
            return x.larger != y.larger ? x.larger < y.larger : x.triangle < y.triangle;
        });
        std::uint32_t distinct = 0;
        for (Entry* e = first; e != last; ++e)
            distinct += (e == first || e->larger != (e - 1)->larger);
        edgeOffsets[v + 1] = distinct;
    }, 512);
    for (std::size_t v = 0; v < vertexCount; ++v)
        edgeOffsets[v + 1] += edgeOffsets[v];
    std::vector<TopologyEdge> edges(edgeOffsets[vertexCount]);
    ParallelFor(vertexCount, [&](std::size_t v) {
        std::size_t out = edgeOffsets[v];
        for (std::uint32_t i = offsets[v]; i < offsets[v + 1];) {
            TopologyEdge& edge = edges[out++];
            edge.key = (static_cast<EdgeKey>(v) << 32) | entries[i].larger;
            edge.firstFace = entries[i].triangle;
            std::uint32_t j = i + 1;
            if (j < offsets[v + 1] && entries[j].larger == entries[i].larger)
                edge.secondFace = entries[j++].triangle;
            while (j < offsets[v + 1] && entries[j].larger == entries[i].larger) {
                ++edge.extraFaces;
                ++j;
            }
            i = j;
        }
    }, 512);
    return edges;
}

Vec3 TopologyFaceNormal(const RemeshTopology& topology, std::uint32_t face)
{
    const auto& c = topology.triangles[face];
    const Vec3 p0 = topology.positions[c[0]];
    return Normalized(Cross(topology.positions[c[1]] - p0, topology.positions[c[2]] - p0));
}

namespace {

// The class of an edge, with `normalOf` giving the unit normal of a face.
template <class NormalOf>
std::uint32_t ClassifyEdge(const TopologyEdge& edge, float featureCosine, NormalOf&& normalOf)
{
    std::uint32_t bits = 0;
    if (edge.extraFaces > 0)
        bits |= kEdgeNonManifold;
    if (edge.secondFace == kNoFace)
        bits |= kEdgeBorder;
    if (edge.firstFace != kNoFace && edge.secondFace != kNoFace) {
        const Vec3 n0 = normalOf(edge.firstFace);
        const Vec3 n1 = normalOf(edge.secondFace);
        if (!IsZero(n0) && !IsZero(n1) && Dot(n0, n1) < featureCosine)
            bits |= kEdgeSharp;
    }
    return bits;
}

}  // namespace

std::uint32_t ClassifyTopologyEdge(const RemeshTopology& topology, const TopologyEdge& edge,
    float featureCosine)
{
    return ClassifyEdge(edge, featureCosine,
        [&](std::uint32_t face) { return TopologyFaceNormal(topology, face); });
}

bool EdgeIsSharp(const RemeshTopology& topology, const std::vector<std::uint32_t>& faces,
    float featureCosine)
{
    if (faces.size() != 2)
        return true;
    const Vec3 n0 = TopologyFaceNormal(topology, faces[0]);
    const Vec3 n1 = TopologyFaceNormal(topology, faces[1]);
    if (IsZero(n0) || IsZero(n1))
        return false;
    return Dot(n0, n1) < featureCosine;
}

std::vector<std::uint32_t> GatherEdgeFaces(const RemeshTopology& topology, std::uint32_t a,
    std::uint32_t b)
{
    std::vector<std::uint32_t> faces;
    GatherEdgeFaces(topology, a, b, faces);
    return faces;
}

void GatherEdgeFaces(const RemeshTopology& topology, std::uint32_t a, std::uint32_t b,
    std::vector<std::uint32_t>& out)
{
    out.clear();
    topology.ForEachListedFace(a, [&](std::uint32_t f) {
        if (topology.triangleAlive[f] && topology.FaceContains(f, a) && topology.FaceContains(f, b))
            out.push_back(f);
    });
    std::sort(out.begin(), out.end());
    out.erase(std::unique(out.begin(), out.end()), out.end());
}

void GatherOneRing(const RemeshTopology& topology, std::uint32_t v, std::vector<std::uint32_t>& out)
{
    out.clear();
    topology.ForEachListedFace(v, [&](std::uint32_t f) {
        if (!topology.triangleAlive[f] || !topology.FaceContains(f, v))
            return;
        for (std::uint32_t c : topology.triangles[f]) {
            if (c != v)
                out.push_back(c);
        }
    });
    std::sort(out.begin(), out.end());
    out.erase(std::unique(out.begin(), out.end()), out.end());
}

std::uint64_t MarkFeatureVertices(const RemeshTopology& topology,
    const std::vector<TopologyEdge>& edges, float featureCosine, std::vector<std::uint8_t>& flags)
{
    // Each face normal is worked out once, not once per edge.
    std::vector<Vec3> normals(topology.triangles.size());
    ParallelFor(topology.triangles.size(), [&](std::size_t t) {
        if (topology.triangleAlive[t])
            normals[t] = TopologyFaceNormal(topology, static_cast<std::uint32_t>(t));
    });
    std::vector<std::uint8_t> classes(edges.size());
    ParallelFor(edges.size(), [&](std::size_t e) {
        classes[e] = static_cast<std::uint8_t>(ClassifyEdge(edges[e], featureCosine,
            [&](std::uint32_t face) { return normals[face]; }));
    });
    flags.assign(topology.positions.size(), 0);
    std::uint64_t sharp = 0;
    for (std::size_t e = 0; e < edges.size(); ++e) {
        if (classes[e] == 0)
            continue;
        flags[static_cast<std::uint32_t>(edges[e].key >> 32)] = 1;
        flags[static_cast<std::uint32_t>(edges[e].key)] = 1;
        if (classes[e] & kEdgeSharp)
            ++sharp;
    }
    return sharp;
}

TriangleMesh RebuildMeshFromTopology(const RemeshTopology& topology, TopologySources& sources)
{
    TriangleMesh mesh;
    const std::size_t vertexCount = topology.positions.size();
    std::vector<std::uint32_t> remap(vertexCount, kNoVertex);
    sources.vertices.clear();
    sources.triangles.clear();
    sources.vertices.reserve(vertexCount);
    sources.triangles.reserve(topology.triangles.size());
    for (std::size_t v = 0; v < vertexCount; ++v) {
        if (topology.vertexAlive[v]) {
            remap[v] = static_cast<std::uint32_t>(sources.vertices.size());
            sources.vertices.push_back(static_cast<std::uint32_t>(v));
        }
    }
    mesh.vertices.resize(sources.vertices.size());
    ParallelFor(sources.vertices.size(), [&](std::size_t v) {
        mesh.vertices[v].position = topology.positions[sources.vertices[v]];
    });
    mesh.indices.reserve(3 * topology.triangles.size());
    for (std::size_t t = 0; t < topology.triangles.size(); ++t) {
        if (!topology.triangleAlive[t])
            continue;
        const auto& c = topology.triangles[t];
        if (c[0] == c[1] || c[1] == c[2] || c[0] == c[2])
            continue;
        if (remap[c[0]] == kNoVertex || remap[c[1]] == kNoVertex || remap[c[2]] == kNoVertex)
            continue;
        mesh.indices.insert(mesh.indices.end(), {remap[c[0]], remap[c[1]], remap[c[2]]});
        sources.triangles.push_back(static_cast<std::uint32_t>(t));
    }
    mesh.ComputeBounds();
    return mesh;
}

TriangleMesh RebuildMeshFromTopology(const RemeshTopology& topology)
{
    TopologySources sources;
    TriangleMesh mesh = RebuildMeshFromTopology(topology, sources);
    mesh.ComputeVertexNormals();
    return mesh;
}

}  // namespace grainforge::mesh
