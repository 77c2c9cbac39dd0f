// FindSelfIntersections side by side with CGAL's Polygon_mesh_processing::self_intersections
// on the same meshes: a clean sphere of 1,001,112 triangles and two overlapping spheres of
// 499,000 triangles each. The peer runs in both its sequential and its parallel form each
// iteration and the faster one counts. Before timing, the two pair sets are compared.
#include "bench/bench_meshes.h"
#include "bench/peers/peer_timing.h"
#include "engine/mesh/self_intersection.h"

#include <CGAL/Exact_predicates_inexact_constructions_kernel.h>
#include <CGAL/Polygon_mesh_processing/self_intersections.h>
#include <CGAL/Surface_mesh.h>

#include <algorithm>
#include <iterator>
#include <set>
#include <utility>
#include <vector>

namespace grainforge::bench {
namespace {

using Kernel = CGAL::Exact_predicates_inexact_constructions_kernel;
using PeerMesh = CGAL::Surface_mesh<Kernel::Point_3>;
using PeerFace = PeerMesh::Face_index;
using PairSet = std::set<std::pair<std::uint32_t, std::uint32_t>>;

struct Input {
    mesh::TriangleMesh ours;
    PeerMesh peer;
    std::size_t pairs = 0;
    bool samePairs = false;
};

PeerMesh ToPeer(const mesh::TriangleMesh& mesh)
{
    PeerMesh peer;
    std::vector<PeerMesh::Vertex_index> vertices;
    vertices.reserve(mesh.vertices.size());
    for (const mesh::MeshVertex& v : mesh.vertices)
        vertices.push_back(peer.add_vertex(Kernel::Point_3(v.position.x, v.position.y, v.position.z)));
    for (std::size_t t = 0; t < mesh.TriangleCount(); ++t)
        peer.add_face(vertices[mesh.indices[3 * t]], vertices[mesh.indices[3 * t + 1]], vertices[mesh.indices[3 * t + 2]]);
    return peer;
}

template <class Tag>
std::vector<std::pair<PeerFace, PeerFace>> PeerPairs(const PeerMesh& peer)
{
    std::vector<std::pair<PeerFace, PeerFace>> pairs;
    CGAL::Polygon_mesh_processing::self_intersections<Tag>(peer, std::back_inserter(pairs));
    return pairs;
}

std::vector<std::uint32_t> OurPairs(const mesh::TriangleMesh& mesh)
{
    std::vector<std::uint32_t> pairs;
    bool stopped = false;
    mesh::FindSelfIntersections(mesh, {}, mesh::kNoPairLimit, pairs, stopped);
    return pairs;
}

// Faces are added in triangle order, so face i is triangle i.
bool SamePairs(const std::vector<std::uint32_t>& ours, const std::vector<std::pair<PeerFace, PeerFace>>& peer)
{
    PairSet a, b;
    for (std::size_t i = 0; i + 1 < ours.size(); i += 2)
        a.insert(std::minmax(ours[i], ours[i + 1]));
    for (const auto& [f, g] : peer)
        b.insert(std::minmax(static_cast<std::uint32_t>(f.idx()), static_cast<std::uint32_t>(g.idx())));
    return a == b;
}

Input Prepare(mesh::TriangleMesh mesh)
{
    Input input;
    input.ours = std::move(mesh);
    input.peer = ToPeer(input.ours);
    const std::vector<std::uint32_t> ours = OurPairs(input.ours);
    input.pairs = ours.size() / 2;
    input.samePairs = SamePairs(ours, PeerPairs<CGAL::Parallel_if_available_tag>(input.peer));
    return input;
}

const Input& CleanSphere()
{
    static const Input input = Prepare(MakeSphereGrid(75.0f, 708, 708));
    return input;
}

const Input& OverlappingSpheres()
{
    static const Input input = [] {
        const mesh::TriangleMesh sphere = MakeSphereGrid(50.0f, 500, 500);
        mesh::TriangleMesh both = sphere;
        const auto shift = static_cast<std::uint32_t>(both.vertices.size());
        for (const mesh::MeshVertex& v : sphere.vertices)
            both.vertices.push_back({v.position + mesh::Vec3{1.0f, 0.5f, 0.25f}, v.normal});
        for (std::uint32_t index : sphere.indices)
            both.indices.push_back(index + shift);
        both.ComputeBounds();
        return Prepare(std::move(both));
    }();
    return input;
}

void Compare(benchmark::State& state, const Input& (*input)())
{
    const Input& in = input();
    if (!in.samePairs)
        state.SkipWithError("the pair sets differ");
    SideBySide times;
    for (auto _ : state) {
        const Times ours = Measure([&] { benchmark::DoNotOptimize(OurPairs(in.ours).size()); });
        const Times sequential =
            Measure([&] { benchmark::DoNotOptimize(PeerPairs<CGAL::Sequential_tag>(in.peer).size()); });
        const Times parallel =
            Measure([&] { benchmark::DoNotOptimize(PeerPairs<CGAL::Parallel_if_available_tag>(in.peer).size()); });
        times.Add(state, ours, sequential.wall <= parallel.wall ? sequential : parallel);
    }
    times.Report(state);
    state.counters["pairs"] = static_cast<double>(in.pairs);
    state.counters["triangles"] = static_cast<double>(in.ours.TriangleCount());
}

BENCHMARK_CAPTURE(Compare, CleanSphere1M, CleanSphere)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK_CAPTURE(Compare, OverlappingSpheres2x499k, OverlappingSpheres)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

}  // namespace
}  // namespace grainforge::bench
