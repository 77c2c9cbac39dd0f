#include "engine/remesh/isotropic_remesh.h"

#include "engine/mesh/parallel_loop.h"
#include "platform/memory_info.h"

#include <algorithm>
#include <cmath>
#include <string>

namespace grainforge::mesh {

namespace {


// Triangles the topology can hold: three corners each must stay countable in the 32-bit
// offsets of the face lists (and a tree numbers its hits in signed 32 bits).
constexpr std::uint64_t kMaxTopologyTriangles = 1'000'000'000ull;

// The nearest point of `original` without a distance limit. Most points lie within `likely`
// of the surface, and a search bounded by that reach visits far fewer nodes; since the bound
// only drops nodes farther than it, a hit within it is the very hit of the unbounded search
// (same distance, same triangle), and a miss falls back to the unbounded search.
NearestHit NearestOnOriginal(const AabbTree& tree, const TriangleMesh& original, Vec3 p, float likely)
{
    if (likely > 0.0f && likely < kNoDistanceLimit) {
        const NearestHit hit = tree.Nearest(original, p, {}, {}, likely);
        if (hit.found)
            return hit;
    }
    return tree.Nearest(original, p, {}, {}, kNoDistanceLimit);
}

}  // namespace

RemeshThresholds MakeRemeshThresholds(const RemeshSettings& settings)
{
    RemeshThresholds t;
    const float l = std::max(0.0001f, settings.targetEdgeMillimetres);
    t.targetEdge = l;
    t.splitLength = 4.0f * l / 3.0f;
    t.collapseLength = 4.0f * l / 5.0f;
    t.areaFloor = l * l * 0.0001f;
    const float angle = std::clamp(settings.featureAngleDegrees, 0.0f, 180.0f);
    t.featureCosine = std::cos(angle * 3.1415927f / 180.0f);
    t.relaxationWeight = std::clamp(settings.relaxation, 0.0f, 1.0f);
    t.projectionReach = std::max(1e-6f, 0.5f * l);
    return t;
}

std::uint64_t RemeshTriangleLimit(std::uint64_t availableBytes)
{
    if (availableBytes == 0)
        return kMaxTopologyTriangles;
    return std::min(kMaxTopologyTriangles, availableBytes / kRemeshBytesPerTriangle);
}

std::uint64_t SplitLongEdges(RemeshTopology& topology, float splitLength,
    std::uint64_t triangleLimit, bool* refused)
{
    const std::vector<TopologyEdge> edges = BuildTopologyEdges(topology);
    std::vector<std::uint8_t> longEdge(edges.size(), 0);
    ParallelFor(edges.size(), [&](std::size_t e) {
        const TopologyEdge& edge = edges[e];
        const Vec3 a = topology.positions[static_cast<std::uint32_t>(edge.key >> 32)];
        const Vec3 b = topology.positions[static_cast<std::uint32_t>(edge.key)];
        longEdge[e] = edge.extraFaces == 0 && Length(b - a) > splitLength;
    });
    std::uint64_t splits = 0;
    std::uint64_t pieces = 0;
    for (std::size_t e = 0; e < edges.size(); ++e) {
        splits += longEdge[e];
        if (longEdge[e])
            pieces += edges[e].secondFace == kNoFace ? 1 : 2;
    }
    if (splits == 0)
        return 0;
    std::uint64_t alive = 0;
    for (std::uint8_t a : topology.triangleAlive)
        alive += a;
    // Every split adds one triangle to each face it cuts; the vertex count must stay numbered
    // below the 32-bit end marker.
    if (alive + pieces > triangleLimit || topology.positions.size() + splits >= kNoVertex) {
        if (refused)
            *refused = true;
        return 0;
    }

    std::vector<std::uint32_t> midpoint(3 * topology.triangles.size(), kNoVertex);
    const auto setSlot = [&](std::uint32_t face, std::uint32_t a, std::uint32_t b, std::uint32_t m) {
        const auto& c = topology.triangles[face];
        for (int i = 0; i < 3; ++i) {
            if (MakeEdgeKey(c[i], c[(i + 1) % 3]) == MakeEdgeKey(a, b))
                midpoint[3 * face + i] = m;
        }
    };
    for (std::size_t e = 0; e < edges.size(); ++e) {
        if (!longEdge[e])
            continue;
        const auto a = static_cast<std::uint32_t>(edges[e].key >> 32);
        const auto b = static_cast<std::uint32_t>(edges[e].key);
        const std::uint32_t m =
            topology.AddVertex((topology.positions[a] + topology.positions[b]) * 0.5f);
        setSlot(edges[e].firstFace, a, b, m);
        if (edges[e].secondFace != kNoFace)
            setSlot(edges[e].secondFace, a, b, m);
    }

    std::vector<std::array<std::uint32_t, 3>> result;
    result.reserve(alive + pieces);
    const auto& pos = topology.positions;
    for (std::size_t t = 0; t < topology.triangles.size(); ++t) {
        if (!topology.triangleAlive[t])
            continue;
        const auto& c = topology.triangles[t];
        const std::uint32_t* m = &midpoint[3 * t];
        const int count = (m[0] != kNoVertex) + (m[1] != kNoVertex) + (m[2] != kNoVertex);
        if (count == 0) {
            result.push_back(c);
        } else if (count == 1) {
            const int i = m[0] != kNoVertex ? 0 : (m[1] != kNoVertex ? 1 : 2);
            result.push_back({c[i], m[i], c[(i + 2) % 3]});
            result.push_back({m[i], c[(i + 1) % 3], c[(i + 2) % 3]});
        } else if (count == 3) {
            result.push_back({c[0], m[0], m[2]});
            result.push_back({m[0], c[1], m[1]});
            result.push_back({m[2], m[1], c[2]});
            result.push_back({m[0], m[1], m[2]});
        } else {
            // i: the first of the two split edges that follow each other (0 and 2 give 2).
            const int i = m[0] == kNoVertex ? 1 : (m[1] == kNoVertex ? 2 : 0);
            const int j = (i + 1) % 3;
            const int k = (i + 2) % 3;
            result.push_back({m[i], c[j], m[j]});
            if (Length(pos[m[i]] - pos[c[k]]) > Length(pos[c[i]] - pos[m[j]])) {
                result.push_back({c[i], m[i], m[j]});
                result.push_back({c[i], m[j], c[k]});
            } else {
                result.push_back({c[i], m[i], c[k]});
                result.push_back({m[i], m[j], c[k]});
            }
        }
    }
    topology.triangles = std::move(result);
    topology.triangleAlive.assign(topology.triangles.size(), 1);
    return splits;
}

namespace {

struct FaceShape {
    Vec3 unitNormal;
    float area2 = 0.0f;  // length of the unnormalised cross product
};

FaceShape ShapeOf(Vec3 p0, Vec3 p1, Vec3 p2)
{
    const Vec3 cross = Cross(p1 - p0, p2 - p0);
    return {Normalized(cross), Length(cross)};
}

}  // namespace

std::uint64_t CollapseShortEdges(RemeshTopology& topology, const std::vector<TopologyEdge>& edges,
    const RemeshThresholds& thresholds, const std::vector<std::uint8_t>& flags,
    float featureCosine)
{
    std::uint64_t collapses = 0;
    std::vector<std::uint32_t> ringKeep;
    std::vector<std::uint32_t> ringRemove;
    std::vector<std::uint32_t> common;
    std::vector<std::uint32_t> faces;
    std::vector<std::uint32_t> linkFaces;
    auto& pos = topology.positions;
    for (const TopologyEdge& edge : edges) {
        const auto a = static_cast<std::uint32_t>(edge.key >> 32);
        const auto b = static_cast<std::uint32_t>(edge.key);
        if (!topology.vertexAlive[a] || !topology.vertexAlive[b])
            continue;
        if (!(Length(pos[b] - pos[a]) < thresholds.collapseLength))
            continue;
        GatherEdgeFaces(topology, a, b, faces);
        if (faces.size() != 2 || EdgeIsSharp(topology, faces, featureCosine))
            continue;
        const bool featureA = flags[a] != 0;
        const bool featureB = flags[b] != 0;
        if (featureA && featureB)
            continue;
        const std::uint32_t keep = featureB ? b : a;
        const std::uint32_t remove = featureB ? a : b;
        const Vec3 target = (featureA || featureB) ? pos[keep] : (pos[a] + pos[b]) * 0.5f;

        GatherOneRing(topology, keep, ringKeep);
        GatherOneRing(topology, remove, ringRemove);
        common.clear();
        std::set_intersection(ringKeep.begin(), ringKeep.end(), ringRemove.begin(),
            ringRemove.end(), std::back_inserter(common));
        GatherEdgeFaces(topology, keep, remove, linkFaces);
        if (linkFaces.size() != common.size())
            continue;

        const auto oldPos = [&](std::uint32_t v) { return pos[v]; };
        const auto newPos = [&](std::uint32_t v) {
            return (v == keep || v == remove) ? target : pos[v];
        };
        bool failed = false;
        const auto testFaces = [&](std::uint32_t owner) {
            topology.ForEachListedFace(owner, [&](std::uint32_t f) {
                if (failed || !topology.triangleAlive[f] || !topology.FaceContains(f, owner))
                    return;
                if (topology.FaceContains(f, keep) && topology.FaceContains(f, remove))
                    return;
                const auto& c = topology.triangles[f];
                const FaceShape before = ShapeOf(oldPos(c[0]), oldPos(c[1]), oldPos(c[2]));
                const Vec3 q0 = newPos(c[0]);
                const Vec3 q1 = newPos(c[1]);
                const Vec3 q2 = newPos(c[2]);
                const FaceShape after = ShapeOf(q0, q1, q2);
                if (!IsZero(before.unitNormal)
                    && (IsZero(after.unitNormal) || Dot(before.unitNormal, after.unitNormal) < 0.2f))
                    failed = true;
                else if (Length(q1 - q0) > thresholds.splitLength
                    || Length(q2 - q1) > thresholds.splitLength
                    || Length(q0 - q2) > thresholds.splitLength)
                    failed = true;
                else if (after.area2 < thresholds.areaFloor && after.area2 < before.area2)
                    failed = true;
            });
        };
        testFaces(keep);
        if (!failed)
            testFaces(remove);
        if (failed)
            continue;

        pos[keep] = target;
        topology.ForEachListedFace(remove, [&](std::uint32_t f) {
            if (topology.triangleAlive[f] && topology.FaceContains(f, remove))
                topology.MoveFaceToVertex(f, remove, keep);
        });
        topology.RetireVertex(remove);
        ++collapses;
    }
    return collapses;
}

std::uint64_t ImproveTriangleShape(RemeshTopology& topology, const std::vector<TopologyEdge>& edges,
    const std::vector<std::uint8_t>& flags, float featureCosine, float splitLength)
{
    const std::size_t vertexCount = topology.positions.size();
    std::vector<std::int64_t> valence(vertexCount, 0);
    ParallelForBlocks(vertexCount, 1024, [&](std::size_t begin, std::size_t end) {
        std::vector<std::uint32_t> ring;
        for (std::size_t v = begin; v < end; ++v) {
            if (!topology.vertexAlive[v])
                continue;
            GatherOneRing(topology, static_cast<std::uint32_t>(v), ring);
            valence[v] = static_cast<std::int64_t>(ring.size());
        }
    });

    const auto& pos = topology.positions;
    const auto otherCorner = [&](std::uint32_t f, std::uint32_t a, std::uint32_t b) {
        for (std::uint32_t c : topology.triangles[f]) {
            if (c != a && c != b)
                return c;
        }
        return kNoVertex;
    };
    std::uint64_t flips = 0;
    std::vector<std::uint32_t> faces;
    for (const TopologyEdge& edge : edges) {
        const auto a = static_cast<std::uint32_t>(edge.key >> 32);
        const auto b = static_cast<std::uint32_t>(edge.key);
        if (!topology.vertexAlive[a] || !topology.vertexAlive[b] || (flags[a] && flags[b]))
            continue;
        GatherEdgeFaces(topology, a, b, faces);
        if (faces.size() != 2 || EdgeIsSharp(topology, faces, featureCosine))
            continue;
        const std::uint32_t f0 = faces[0];
        const std::uint32_t f1 = faces[1];
        const std::uint32_t c = otherCorner(f0, a, b);
        const std::uint32_t d = otherCorner(f1, a, b);
        if (c == kNoVertex || d == kNoVertex || c == d)
            continue;
        bool linked = false;
        topology.ForEachListedFace(c, [&](std::uint32_t f) {
            linked = linked
                || (topology.triangleAlive[f] && topology.FaceContains(f, c)
                    && topology.FaceContains(f, d));
        });
        if (linked)
            continue;
        const std::int64_t before = std::abs(valence[a] - 6) + std::abs(valence[b] - 6)
            + std::abs(valence[c] - 6) + std::abs(valence[d] - 6);
        const std::int64_t after = std::abs(valence[a] - 7) + std::abs(valence[b] - 7)
            + std::abs(valence[c] - 5) + std::abs(valence[d] - 5);
        if (!(after < before))
            continue;

        // f0 may run from a to b or from b to a (the smaller index says nothing of the
        // winding); the new pair follows f0 so that a flip never turns the surface over.
        const auto& t0 = topology.triangles[f0];
        const int ia = t0[0] == a ? 0 : (t0[1] == a ? 1 : 2);
        const bool aToB = t0[(ia + 1) % 3] == b;
        const std::array<std::uint32_t, 3> new0 =
            aToB ? std::array<std::uint32_t, 3>{a, d, c} : std::array<std::uint32_t, 3>{a, c, d};
        const std::array<std::uint32_t, 3> new1 =
            aToB ? std::array<std::uint32_t, 3>{b, c, d} : std::array<std::uint32_t, 3>{b, d, c};
        const Vec3 old0 = TopologyFaceNormal(topology, f0);
        const Vec3 old1 = TopologyFaceNormal(topology, f1);
        const Vec3 n0 = ShapeOf(pos[new0[0]], pos[new0[1]], pos[new0[2]]).unitNormal;
        const Vec3 n1 = ShapeOf(pos[new1[0]], pos[new1[1]], pos[new1[2]]).unitNormal;
        if (IsZero(n0) || IsZero(n1) || Dot(n0, old0) < 0.5f || Dot(n1, old1) < 0.5f)
            continue;
        if (Length(pos[c] - pos[d]) > splitLength)
            continue;
        topology.triangles[f0] = new0;
        topology.triangles[f1] = new1;
        topology.extraVertexFaces[c].push_back(f1);
        topology.extraVertexFaces[d].push_back(f0);
        --valence[a];
        --valence[b];
        ++valence[c];
        ++valence[d];
        ++flips;
    }
    return flips;
}

void RelaxVertices(RemeshTopology& topology, const std::vector<std::uint8_t>& flags, float weight,
    const TriangleMesh& original, const AabbTree& tree, bool project, float targetEdge)
{
    const std::size_t vertexCount = topology.positions.size();
    std::vector<Vec3> moved = topology.positions;
    const auto movable = [&](std::size_t v) { return topology.vertexAlive[v] && !flags[v]; };
    ParallelFor(vertexCount, [&](std::size_t v) {
        if (!movable(v))
            return;
        const auto self = static_cast<std::uint32_t>(v);
        Vec3 sum;
        Vec3 normalSum;
        std::uint32_t count = 0;
        topology.ForEachListedFace(self, [&](std::uint32_t f) {
            if (!topology.triangleAlive[f] || !topology.FaceContains(f, self))
                return;
            const auto& c = topology.triangles[f];
            for (std::uint32_t corner : c) {
                if (corner != self) {
                    sum += topology.positions[corner];
                    ++count;
                }
            }
            const Vec3 p0 = topology.positions[c[0]];
            normalSum += Cross(topology.positions[c[1]] - p0, topology.positions[c[2]] - p0);
        });
        if (count == 0)
            return;
        const Vec3 p = topology.positions[v];
        const Vec3 n = Normalized(normalSum);
        Vec3 d = sum * (1.0f / static_cast<float>(count)) - p;
        if (!IsZero(n))
            d = d - n * Dot(n, d);
        moved[v] = p + d * weight;
    });
    if (project) {
        const float reach = std::max(1e-6f, 0.5f * targetEdge);
        ParallelFor(vertexCount, [&](std::size_t v) {
            if (!movable(v))
                return;
            const Vec3 p = moved[v];
            const NearestHit hit = NearestOnOriginal(tree, original, p, 0.25f * targetEdge);
            if (!hit.found)
                return;
            const Vec3 n = original.FaceNormal(static_cast<std::uint64_t>(hit.triangle));
            if (!IsZero(n)) {
                const Vec3 corner =
                    original.vertices[original.indices[3 * static_cast<std::size_t>(hit.triangle)]]
                        .position;
                const Vec3 foot = p - n * Dot(p - corner, n);
                if (Length(foot - hit.point) <= reach) {
                    moved[v] = foot;
                    return;
                }
            }
            moved[v] = hit.point;
        });
    }
    topology.positions = std::move(moved);
}

namespace {

std::array<float, 3> SizeOf(const TriangleMesh& mesh)
{
    if (!mesh.boundsValid)
        return {};
    const Vec3 e = mesh.boundsMax - mesh.boundsMin;
    return {e.x, e.y, e.z};
}

float LargestDeviation(const TriangleMesh& result, const TriangleMesh& original, const AabbTree& tree,
    float targetEdge)
{
    std::vector<float> distance(result.vertices.size(), 0.0f);
    ParallelFor(result.vertices.size(), [&](std::size_t v) {
        const NearestHit hit =
            NearestOnOriginal(tree, original, result.vertices[v].position, 0.25f * targetEdge);
        distance[v] = hit.found ? hit.distance : 0.0f;
    });
    float largest = 0.0f;
    for (float d : distance)
        largest = std::max(largest, d);
    return largest;
}

}  // namespace

RemeshReport RemeshIsotropic(TriangleMesh& mesh, const RemeshSettings& settings,
    const ProgressCallback& progress)
{
    RemeshReport report;
    report.trianglesBefore = mesh.indices.size() / 3;
    report.verticesBefore = mesh.vertices.size();
    report.sizeBefore = SizeOf(mesh);
    report.qualityBefore = MeasureMeshQuality(mesh);
    if (!mesh.IsConsistent() || mesh.indices.empty() || !HasOnlyFiniteCoordinates(mesh))
        return report;

    const RemeshThresholds thresholds = MakeRemeshThresholds(settings);
    // A target far too fine for the part is refused before the topology exists: the
    // triangles it asks for (from the area) must fit into the available memory.
    const std::uint64_t limit = RemeshTriangleLimit(platform::AvailableMemoryBytes());
    const double wanted = static_cast<double>(mesh.SurfaceArea())
        / (std::sqrt(3.0) / 4.0 * static_cast<double>(thresholds.targetEdge)
            * static_cast<double>(thresholds.targetEdge));
    if (!(wanted <= static_cast<double>(limit)) || report.trianglesBefore > limit) {
        report.failed = true;
        report.failure = RemeshFailure::targetTooFine;
        return report;
    }

    StageTimer timer(report);
    const auto stage = [&](const char* name, double fraction) {
        RecordStageTime(timer, name);
        return !progress || progress(name, static_cast<float>(fraction));
    };
    RecordStageTime(timer, "Building the search tree");
    const TriangleMesh original = mesh;
    AabbTree tree;
    tree.Build(original);

    RemeshTopology topology = BuildRemeshTopology(mesh);
    const int rounds = std::max(1, settings.rounds);
    const double roundCount = static_cast<double>(rounds);
    std::vector<std::uint8_t> flags;
    bool refused = false;
    for (int r = 0; r < rounds && !report.cancelled && !refused; ++r) {
        if (!stage("Splitting long edges", r / roundCount)) {
            report.cancelled = true;
            break;
        }
        for (int pass = 0; pass < 40; ++pass) {
            const std::uint64_t n =
                SplitLongEdges(topology, thresholds.splitLength, limit, &refused);
            report.splits += n;
            if (n == 0)
                break;
            if (!stage("Splitting long edges", (r + 0.25) / roundCount)) {
                report.cancelled = true;
                break;
            }
        }
        if (report.cancelled || refused)
            break;
        RebuildVertexFaceLists(topology);
        std::vector<TopologyEdge> edges = BuildTopologyEdges(topology);
        report.featureEdges = MarkFeatureVertices(topology, edges, thresholds.featureCosine, flags);

        if (!stage("Collapsing short edges", (r + 0.35) / roundCount)) {
            report.cancelled = true;
            break;
        }
        report.collapses +=
            CollapseShortEdges(topology, edges, thresholds, flags, thresholds.featureCosine);

        if (!stage("Improving triangle shape", (r + 0.6) / roundCount)) {
            report.cancelled = true;
            break;
        }
        RebuildVertexFaceLists(topology);
        edges = BuildTopologyEdges(topology);
        report.flips += ImproveTriangleShape(
            topology, edges, flags, thresholds.featureCosine, thresholds.splitLength);

        if (settings.relaxation > 0.0f) {
            if (!stage("Relaxing", (r + 0.8) / roundCount)) {
                report.cancelled = true;
                break;
            }
            RebuildVertexFaceLists(topology);
            edges = BuildTopologyEdges(topology);
            MarkFeatureVertices(topology, edges, thresholds.featureCosine, flags);
            RelaxVertices(topology, flags, thresholds.relaxationWeight, original, tree,
                settings.projectToOriginal, thresholds.targetEdge);
        }
    }
    if (refused) {
        // The pass that would not fit allocated nothing; the part stays as it was.
        report.failed = true;
        report.failure = RemeshFailure::targetTooFine;
        RecordStageTime(timer, "");
        return report;
    }

    (void)stage("Rebuilding", 1.0);  // past the point of stopping: the answer is not used
    mesh = RebuildMeshFromTopology(topology);
    report.trianglesAfter = mesh.indices.size() / 3;
    report.verticesAfter = mesh.vertices.size();
    report.sizeAfter = SizeOf(mesh);
    report.qualityAfter = MeasureMeshQuality(mesh);
    RecordStageTime(timer, "Measuring deviation");
    report.deviationMillimetres = LargestDeviation(mesh, original, tree, thresholds.targetEdge);
    RecordStageTime(timer, "");
    return report;
}

}  // namespace grainforge::mesh
