#include "engine/remesh/flat_simplify.h"

#include "engine/mesh/parallel_loop.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numeric>

namespace grainforge::mesh {

namespace {


// Compensated summation, so that the before and after measures of a large mesh compare at the
// tolerances of the guarantee.
struct KahanSum {
    double sum = 0.0;
    double carry = 0.0;
    void Add(double value)
    {
        const double y = value - carry;
        const double t = sum + y;
        carry = (t - sum) - y;
        sum = t;
    }
};

std::array<Vec3, 2> BoxOf(const TriangleMesh& mesh)
{
    if (mesh.vertices.empty())
        return {};
    Vec3 lo = mesh.vertices[0].position;
    Vec3 hi = lo;
    for (const MeshVertex& v : mesh.vertices) {
        lo = {std::min(lo.x, v.position.x), std::min(lo.y, v.position.y), std::min(lo.z, v.position.z)};
        hi = {std::max(hi.x, v.position.x), std::max(hi.y, v.position.y), std::max(hi.z, v.position.z)};
    }
    return {lo, hi};
}

struct Measures {
    double area = 0.0;
    double volume = 0.0;
};

// Area and signed volume about the box centre; nothing is read for an inconsistent mesh.
Measures MeasureOf(const TriangleMesh& mesh, const std::array<Vec3, 2>& box, bool consistent)
{
    Measures m;
    if (!consistent)
        return m;
    const double cx = mesh.vertices.empty() ? 0.0 : (double(box[0].x) + double(box[1].x)) * 0.5;
    const double cy = mesh.vertices.empty() ? 0.0 : (double(box[0].y) + double(box[1].y)) * 0.5;
    const double cz = mesh.vertices.empty() ? 0.0 : (double(box[0].z) + double(box[1].z)) * 0.5;
    KahanSum area;
    KahanSum volume;
    for (std::size_t t = 0; t < mesh.TriangleCount(); ++t) {
        double p[3][3];
        for (int i = 0; i < 3; ++i) {
            const Vec3 q = mesh.vertices[mesh.indices[3 * t + i]].position;
            p[i][0] = double(q.x) - cx;
            p[i][1] = double(q.y) - cy;
            p[i][2] = double(q.z) - cz;
        }
        const double e1[3] = {p[1][0] - p[0][0], p[1][1] - p[0][1], p[1][2] - p[0][2]};
        const double e2[3] = {p[2][0] - p[0][0], p[2][1] - p[0][1], p[2][2] - p[0][2]};
        const double cr[3] = {e1[1] * e2[2] - e1[2] * e2[1], e1[2] * e2[0] - e1[0] * e2[2],
            e1[0] * e2[1] - e1[1] * e2[0]};
        area.Add(0.5 * std::sqrt(cr[0] * cr[0] + cr[1] * cr[1] + cr[2] * cr[2]));
        const double det = p[0][0] * (p[1][1] * p[2][2] - p[1][2] * p[2][1])
            - p[0][1] * (p[1][0] * p[2][2] - p[1][2] * p[2][0])
            + p[0][2] * (p[1][0] * p[2][1] - p[1][1] * p[2][0]);
        volume.Add(det / 6.0);
    }
    m.area = area.sum;
    m.volume = volume.sum;
    return m;
}

}  // namespace

std::vector<std::uint32_t> BuildTriangleNeighbours(const TriangleMesh& mesh)
{
    const std::size_t corners = mesh.indices.size() - mesh.indices.size() % 3;
    std::vector<EdgeRecord> records(corners);
    ParallelFor(corners, [&](std::size_t slot) {
        const std::size_t t = slot / 3;
        const std::size_t i = slot % 3;
        records[slot] = {MakeEdgeKey(mesh.indices[3 * t + i], mesh.indices[3 * t + (i + 1) % 3]),
            static_cast<std::uint32_t>(slot)};
    });
    ParallelSort(records.begin(), records.end(), [](const EdgeRecord& a, const EdgeRecord& b) {
        return a.key != b.key ? a.key < b.key : a.triangle < b.triangle;
    });
    std::vector<std::uint32_t> neighbours(corners, kNoFace);
    for (std::size_t i = 0; i < records.size();) {
        std::size_t j = i + 1;
        while (j < records.size() && records[j].key == records[i].key)
            ++j;
        if (j - i == 2) {
            neighbours[records[i].triangle] = records[i + 1].triangle / 3;
            neighbours[records[i + 1].triangle] = records[i].triangle / 3;
        }
        i = j;
    }
    return neighbours;
}

PlanarRegions FindPlanarRegions(const TriangleMesh& mesh, const SimplifySettings& settings,
    const std::vector<std::uint32_t>& neighbours)
{
    PlanarRegions regions;
    const std::size_t triangleCount = mesh.TriangleCount();
    regions.regionOfTriangle.assign(triangleCount, kNoFace);
    if (triangleCount == 0 || !mesh.IsConsistent() || neighbours.size() != 3 * triangleCount)
        return regions;

    double diagonal = 0.0;
    if (mesh.boundsValid) {
        const Vec3 e = mesh.boundsMax - mesh.boundsMin;
        diagonal = std::sqrt(double(e.x) * e.x + double(e.y) * e.y + double(e.z) * e.z);
    }
    const double tolerance = std::max(diagonal * double(settings.relativePlanarTolerance),
        double(settings.planarToleranceMillimetres));
    const float cosineLimit =
        std::cos(std::clamp(settings.planarAngleDegrees, 0.0f, 90.0f) * 3.1415927f / 180.0f);

    std::vector<Vec3> normals(triangleCount);
    std::vector<float> areas(triangleCount);
    ParallelFor(triangleCount, [&](std::size_t t) {
        const Vec3 p0 = mesh.vertices[mesh.indices[3 * t]].position;
        const Vec3 cross = Cross(mesh.vertices[mesh.indices[3 * t + 1]].position - p0,
            mesh.vertices[mesh.indices[3 * t + 2]].position - p0);
        normals[t] = Normalized(cross);
        areas[t] = 0.5f * Length(cross);
    });
    std::vector<std::uint32_t> seeds(triangleCount);
    std::iota(seeds.begin(), seeds.end(), 0u);
    ParallelSort(seeds.begin(), seeds.end(), [&](std::uint32_t a, std::uint32_t b) {
        return areas[a] != areas[b] ? areas[a] > areas[b] : a < b;
    });

    const auto corner = [&](std::size_t t, std::size_t i) {
        return mesh.vertices[mesh.indices[3 * t + i]].position;
    };
    std::vector<std::uint32_t> stack;
    for (std::uint32_t seed : seeds) {
        if (regions.regionOfTriangle[seed] != kNoFace || IsZero(normals[seed]))
            continue;
        const auto id = static_cast<std::uint32_t>(regions.normals.size());
        const Vec3 n = normals[seed];
        const Vec3 planePoint = corner(seed, 0);
        regions.normals.push_back(n);
        regions.planePoints.push_back(planePoint);
        std::uint64_t members = 1;
        regions.regionOfTriangle[seed] = id;
        stack.assign(1, seed);
        const auto offPlane = [&](Vec3 p) {
            const Vec3 d = p - planePoint;
            return std::abs(double(d.x) * n.x + double(d.y) * n.y + double(d.z) * n.z);
        };
        while (!stack.empty()) {
            const std::uint32_t t = stack.back();
            stack.pop_back();
            for (std::size_t i = 0; i < 3; ++i) {
                const std::uint32_t other = neighbours[3 * t + i];
                if (other == kNoFace || regions.regionOfTriangle[other] != kNoFace)
                    continue;
                if (!IsZero(normals[other]) && !(Dot(normals[other], n) >= cosineLimit))
                    continue;
                if (offPlane(corner(other, 0)) > tolerance || offPlane(corner(other, 1)) > tolerance
                    || offPlane(corner(other, 2)) > tolerance)
                    continue;
                const std::uint32_t i0 = mesh.indices[3 * t + i];
                const std::uint32_t i1 = mesh.indices[3 * t + (i + 1) % 3];
                const Vec3 e0 = mesh.vertices[i0].position;
                const Vec3 s = Normalized(Cross(n, mesh.vertices[i1].position - e0));
                Vec3 wOther = corner(other, 0);
                for (std::size_t k = 0; k < 3; ++k) {
                    const std::uint32_t index = mesh.indices[3 * other + k];
                    if (index != i0 && index != i1)
                        wOther = mesh.vertices[index].position;
                }
                const float side = Dot(corner(t, (i + 2) % 3) - e0, s) * Dot(wOther - e0, s);
                if (side > 0.0f)
                    continue;
                regions.regionOfTriangle[other] = id;
                ++members;
                stack.push_back(other);
            }
        }
        regions.triangleCounts.push_back(members);
    }
    return regions;
}

namespace {

// The alive faces of v (containing v), sorted, without repeats.
void GatherFaces(const RemeshTopology& topology, std::uint32_t v, std::vector<std::uint32_t>& out)
{
    out.clear();
    topology.ForEachListedFace(v, [&](std::uint32_t f) {
        if (topology.triangleAlive[f] && topology.FaceContains(f, v))
            out.push_back(f);
    });
    std::sort(out.begin(), out.end());
    out.erase(std::unique(out.begin(), out.end()), out.end());
}

}  // namespace

namespace {

// IsInteriorPlanarVertex with the caller's buffers, which receive v's faces and (when the
// faces pass) its one-ring.
bool IsInteriorPlanar(const RemeshTopology& topology, const std::vector<std::uint8_t>& locks,
    const std::vector<std::uint32_t>& regionOfTriangle, std::uint32_t vertex,
    std::vector<std::uint32_t>& faces, std::vector<std::uint32_t>& ring)
{
    if (vertex >= topology.positions.size() || !topology.vertexAlive[vertex] || locks[vertex] != kUnlocked)
        return false;
    GatherFaces(topology, vertex, faces);
    if (faces.size() <= 4)
        return false;
    const std::uint32_t region = regionOfTriangle[faces[0]];
    if (region == kNoFace)
        return false;
    for (std::uint32_t f : faces) {
        if (regionOfTriangle[f] != region)
            return false;
    }
    GatherOneRing(topology, vertex, ring);
    return ring.size() == faces.size();
}

}  // namespace

bool IsInteriorPlanarVertex(const RemeshTopology& topology, const std::vector<std::uint8_t>& locks,
    const std::vector<std::uint32_t>& regionOfTriangle, std::uint32_t vertex)
{
    std::vector<std::uint32_t> faces;
    std::vector<std::uint32_t> ring;
    return IsInteriorPlanar(topology, locks, regionOfTriangle, vertex, faces, ring);
}

FlatSimplifyReport SimplifyFlatAreas(TriangleMesh& mesh, const std::vector<std::uint8_t>* texturedFaces,
    const SimplifySettings& settings, const ProgressCallback& progress)
{
    FlatSimplifyReport report;
    const bool consistent = mesh.IsConsistent();
    report.trianglesBefore = mesh.indices.size() / 3;
    report.verticesBefore = mesh.vertices.size();
    report.boundsBefore = BoxOf(mesh);
    const Measures before = MeasureOf(mesh, report.boundsBefore, consistent);
    report.areaBefore = before.area;
    report.volumeBefore = before.volume;
    report.boundsAfter = report.boundsBefore;
    report.areaAfter = report.areaBefore;
    report.volumeAfter = report.volumeBefore;
    // The face lists count corners in 32 bits: a mesh with more corners is left as it is.
    const bool countable = mesh.indices.size() < 0xFFFFFFFFull;
    if (!consistent || mesh.indices.empty() || !countable || !HasOnlyFiniteCoordinates(mesh)) {
        report.trianglesAfter = report.trianglesBefore;
        report.verticesAfter = report.verticesBefore;
        return report;
    }

    const std::size_t triangleCount = mesh.TriangleCount();
    const std::size_t vertexCount = mesh.vertices.size();
    const std::vector<std::uint32_t> neighbours = BuildTriangleNeighbours(mesh);
    const PlanarRegions regions = FindPlanarRegions(mesh, settings, neighbours);
    report.planarRegions = regions.normals.size();
    for (std::uint64_t count : regions.triangleCounts)
        report.planarTriangles += count;

    std::vector<std::uint8_t> locks(vertexCount, kUnlocked);
    for (std::size_t t = 0; t < triangleCount; ++t) {
        for (std::size_t i = 0; i < 3; ++i) {
            if (neighbours[3 * t + i] == kNoFace) {
                locks[mesh.indices[3 * t + i]] = kLocked;
                locks[mesh.indices[3 * t + (i + 1) % 3]] = kLocked;
            }
        }
        if (regions.regionOfTriangle[t] == kNoFace) {
            for (std::size_t i = 0; i < 3; ++i)
                locks[mesh.indices[3 * t + i]] = kLocked;
        }
    }
    if (texturedFaces && texturedFaces->size() == triangleCount) {
        for (std::size_t t = 0; t < triangleCount; ++t) {
            if ((*texturedFaces)[t] == 0)
                continue;
            ++report.texturedFacesKept;
            for (std::size_t i = 0; i < 3; ++i)
                locks[mesh.indices[3 * t + i]] = kLocked;
        }
    }
    {
        std::vector<std::uint32_t> firstRegion(vertexCount, kNoFace);
        std::vector<std::uint8_t> several(vertexCount, 0);
        for (std::size_t t = 0; t < triangleCount; ++t) {
            const std::uint32_t region = regions.regionOfTriangle[t];
            for (std::size_t i = 0; i < 3; ++i) {
                const std::uint32_t v = mesh.indices[3 * t + i];
                if (firstRegion[v] == kNoFace)
                    firstRegion[v] = region;
                else if (firstRegion[v] != region)
                    several[v] = 1;
            }
        }
        for (std::size_t v = 0; v < vertexCount; ++v) {
            if (several[v] && locks[v] == kUnlocked)
                locks[v] = kRegionBorder;
        }
    }

    RemeshTopology topology = BuildRemeshTopology(mesh);
    RebuildVertexFaceLists(topology);

    // Valence of every vertex, locked ones included: the limit on the kept vertex must hold
    // for a collapse onto a border or textured vertex as well.
    std::vector<std::uint32_t> valence(vertexCount, 0);
    ParallelForBlocks(vertexCount, 1024, [&](std::size_t begin, std::size_t end) {
        std::vector<std::uint32_t> ring;
        for (std::size_t v = begin; v < end; ++v) {
            GatherOneRing(topology, static_cast<std::uint32_t>(v), ring);
            valence[v] = static_cast<std::uint32_t>(ring.size());
        }
    });
    std::vector<std::uint32_t> candidates;
    std::vector<std::uint8_t> interior(vertexCount, 0);
    ParallelForBlocks(vertexCount, 1024, [&](std::size_t begin, std::size_t end) {
        std::vector<std::uint32_t> faceBuffer;
        std::vector<std::uint32_t> ringBuffer;
        for (std::size_t v = begin; v < end; ++v) {
            interior[v] = IsInteriorPlanar(topology, locks, regions.regionOfTriangle,
                static_cast<std::uint32_t>(v), faceBuffer, ringBuffer);
        }
    });
    for (std::size_t v = 0; v < vertexCount; ++v) {
        if (locks[v] != kUnlocked)
            continue;
        candidates.push_back(static_cast<std::uint32_t>(v));
        report.interiorVertices += interior[v];
    }
    std::stable_sort(candidates.begin(), candidates.end(),
        [&](std::uint32_t a, std::uint32_t b) { return valence[a] < valence[b]; });

    const std::uint64_t sweepCount = static_cast<std::uint64_t>(std::max(1, settings.maximumSweeps));
    const std::uint64_t valenceLimit = static_cast<std::uint64_t>(std::max(3, settings.maximumValence));
    const float minimumHeight = settings.minimumTriangleHeightMillimetres;
    std::vector<std::uint64_t> touched(vertexCount, 0);  // sweep number + 1 when touched
    std::vector<std::uint32_t> ring;
    std::vector<std::uint32_t> ringU;
    std::vector<std::uint32_t> common;
    std::vector<std::uint32_t> shared;
    std::vector<std::uint32_t> faces;
    std::vector<std::uint32_t> next;
    auto& pos = topology.positions;
    for (std::uint64_t s = 0; s < sweepCount; ++s) {
        if (progress
            && !progress("Simplifying flat areas", static_cast<float>(double(s) / double(sweepCount)))) {
            report.cancelled = true;
            break;
        }
        const std::uint64_t mark = s + 1;
        std::uint64_t collapsedNow = 0;
        next.clear();
        for (std::uint32_t v : candidates) {
            if (!topology.vertexAlive[v])
                continue;
            if (touched[v] == mark
                || !IsInteriorPlanar(topology, locks, regions.regionOfTriangle, v, faces, ring)) {
                next.push_back(v);
                continue;
            }
            const Vec3 normal = regions.normals[regions.regionOfTriangle[faces[0]]];
            std::uint32_t winner = kNoVertex;
            float bestScore = 0.0f;
            bool anyFailed = false;
            for (std::uint32_t u : ring) {
                if (!topology.vertexAlive[u] || touched[u] == mark)
                    continue;
                GatherOneRing(topology, u, ringU);
                common.clear();
                std::set_intersection(ring.begin(), ring.end(), ringU.begin(), ringU.end(),
                    std::back_inserter(common));
                GatherEdgeFaces(topology, u, v, shared);
                if (shared.size() != common.size()) {
                    anyFailed = true;
                    continue;
                }
                if (std::uint64_t(valence[u]) + (ring.size() - 2) > valenceLimit) {
                    ++report.refusedValence;
                    anyFailed = true;
                    continue;
                }
                float score = 3.4e38f;
                bool failed = false;
                for (std::uint32_t f : faces) {
                    if (topology.FaceContains(f, u))
                        continue;
                    std::array<Vec3, 3> p;
                    for (int i = 0; i < 3; ++i) {
                        const std::uint32_t c = topology.triangles[f][i];
                        p[i] = pos[c == v ? u : c];
                    }
                    const Vec3 cross = Cross(p[1] - p[0], p[2] - p[0]);
                    if (!(Dot(cross, normal) > 0.0f)) {
                        ++report.refusedFlip;
                        failed = true;
                        break;
                    }
                    const float longest =
                        std::max({Length(p[1] - p[0]), Length(p[2] - p[1]), Length(p[0] - p[2])});
                    const float height = longest == 0.0f ? 0.0f : Length(cross) / longest;
                    if (!(height >= minimumHeight)) {
                        ++report.refusedHeight;
                        failed = true;
                        break;
                    }
                    score = std::min(score, height);
                }
                if (failed) {
                    anyFailed = true;
                    continue;
                }
                if (score > bestScore) {
                    bestScore = score;
                    winner = u;
                }
            }
            if (winner == kNoVertex) {
                if (!anyFailed)
                    ++report.refusedNoCandidate;
                next.push_back(v);
                continue;
            }
            for (std::uint32_t f : faces)
                topology.MoveFaceToVertex(f, v, winner);
            topology.RetireVertex(v);
            ++report.collapses;
            ++collapsedNow;
            touched[v] = mark;
            touched[winner] = mark;
            for (std::uint32_t w : ring)
                touched[w] = mark;
            GatherOneRing(topology, winner, ringU);
            valence[winner] = static_cast<std::uint32_t>(ringU.size());
        }
        ++report.sweeps;
        candidates.swap(next);
        if (collapsedNow == 0 || candidates.empty())
            break;
        // Collapses leave dead and repeated entries in the face lists; a fresh start keeps the
        // next sweep's gathering short (the lists hold the same alive faces either way).
        RebuildVertexFaceLists(topology);
    }

    TopologySources sources;
    TriangleMesh result = RebuildMeshFromTopology(topology, sources);
    for (std::size_t i = 0; i < result.vertices.size(); ++i)
        result.vertices[i].normal = mesh.vertices[sources.vertices[i]].normal;
    report.vertexSources = std::move(sources.vertices);
    report.triangleSources = std::move(sources.triangles);
    if (!settings.preserveVertexNormals)
        result.ComputeVertexNormals();
    for (std::size_t i = 0; i < result.vertices.size(); ++i) {
        if (!(result.vertices[i].position == mesh.vertices[report.vertexSources[i]].position))
            ++report.verticesMoved;
    }
    mesh = std::move(result);
    report.trianglesAfter = mesh.indices.size() / 3;
    report.verticesAfter = mesh.vertices.size();
    report.boundsAfter = BoxOf(mesh);
    const Measures after = MeasureOf(mesh, report.boundsAfter, true);
    report.areaAfter = after.area;
    report.volumeAfter = after.volume;
    return report;
}

bool NoMovementGuaranteeHeld(const FlatSimplifyReport& r)
{
    const bool boundsSame = r.boundsAfter[0] == r.boundsBefore[0] && r.boundsAfter[1] == r.boundsBefore[1];
    return r.verticesMoved == 0 && r.verticesBefore - r.verticesAfter == r.collapses
        && r.trianglesBefore - r.trianglesAfter == 2 * r.collapses && boundsSame
        && std::abs(r.volumeAfter - r.volumeBefore) <= std::max(1.0, std::abs(r.volumeBefore)) * 1e-5
        && std::abs(r.areaAfter - r.areaBefore) <= std::max(1.0, std::abs(r.areaBefore)) * 1e-7;
}

namespace {

std::string Printed(const char* format, double value)
{
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, format, value);
    return buffer;
}

}  // namespace

std::string FormatFlatSimplifyReport(const FlatSimplifyReport& r)
{
    std::string text = r.cancelled ? "Simplify cancelled: " : "Simplified ";
    text += std::to_string(r.trianglesBefore) + " -> " + std::to_string(r.trianglesAfter)
        + " triangles in " + std::to_string(r.sweeps) + " sweep" + (r.sweeps == 1 ? "" : "s")
        + " over " + std::to_string(r.planarRegions) + " planar regions, "
        + std::to_string(((r.trianglesBefore - r.trianglesAfter) * 50) >> 10) + " KB saved";
    if (r.texturedFacesKept != 0)
        text += ", " + std::to_string(r.texturedFacesKept) + " faces kept for the texture";
    float moved = 0.0f;
    for (int k = 0; k < 2; ++k) {
        moved = std::max({moved, std::abs(r.boundsAfter[k].x - r.boundsBefore[k].x),
            std::abs(r.boundsAfter[k].y - r.boundsBefore[k].y),
            std::abs(r.boundsAfter[k].z - r.boundsBefore[k].z)});
    }
    text += ", bounding box moved " + Printed("%.4f", moved) + " mm";
    if (r.verticesMoved != 0)
        text += ", " + std::to_string(r.verticesMoved) + " surviving vertices moved";
    if (!NoMovementGuaranteeHeld(r)) {
        text += " -- WARNING: the no-movement guarantee did not hold (volume drift "
            + Printed("%.2e", std::abs(r.volumeAfter - r.volumeBefore) / std::max(1.0, std::abs(r.volumeBefore)))
            + " of 1e-5, area drift "
            + Printed("%.2e", std::abs(r.areaAfter - r.areaBefore) / std::max(1.0, std::abs(r.areaBefore)))
            + " of 1e-7, " + std::to_string(r.verticesBefore - r.verticesAfter) + " vertices gone for "
            + std::to_string(r.collapses) + " collapses, "
            + std::to_string(r.trianglesBefore - r.trianglesAfter) + " triangles gone)";
    }
    return text;
}

bool SimplifySettingsEquals(const SimplifySettings& a, const SimplifySettings& b)
{
    return a.planarToleranceMillimetres == b.planarToleranceMillimetres
        && a.relativePlanarTolerance == b.relativePlanarTolerance
        && a.planarAngleDegrees == b.planarAngleDegrees
        && a.minimumTriangleHeightMillimetres == b.minimumTriangleHeightMillimetres
        && a.maximumValence == b.maximumValence && a.maximumSweeps == b.maximumSweeps
        && a.preserveVertexNormals == b.preserveVertexNormals
        && a.protectTexturedFaces == b.protectTexturedFaces && a.flatAreas == b.flatAreas
        && a.wholeMesh == b.wholeMesh && a.meshDetailError == b.meshDetailError;
}

void WriteSimplifySettingsJson(const JsonNode& node, const SimplifySettings& s)
{
    node.PutFloat("planarToleranceMillimetres", s.planarToleranceMillimetres);
    node.PutFloat("relativePlanarTolerance", s.relativePlanarTolerance);
    node.PutFloat("planarAngleDegrees", s.planarAngleDegrees);
    node.PutFloat("minimumTriangleHeightMillimetres", s.minimumTriangleHeightMillimetres);
    node.PutInt("maximumValence", s.maximumValence);
    node.PutInt("maximumSweeps", s.maximumSweeps);
    node.PutBool("preserveVertexNormals", s.preserveVertexNormals);
    node.PutBool("protectTexturedFaces", s.protectTexturedFaces);
    node.PutBool("flatAreas", s.flatAreas);
    node.PutBool("wholeMesh", s.wholeMesh);
    node.PutFloat("meshDetailError", s.meshDetailError);
}

void ReadSimplifySettingsJson(const JsonView& node, SimplifySettings& s)
{
    node.FindMember("planarToleranceMillimetres").TakeFloat(s.planarToleranceMillimetres);
    node.FindMember("relativePlanarTolerance").TakeFloat(s.relativePlanarTolerance);
    node.FindMember("planarAngleDegrees").TakeFloat(s.planarAngleDegrees);
    node.FindMember("minimumTriangleHeightMillimetres").TakeFloat(s.minimumTriangleHeightMillimetres);
    node.FindMember("maximumValence").TakeInt32(s.maximumValence);
    node.FindMember("maximumSweeps").TakeInt32(s.maximumSweeps);
    node.FindMember("preserveVertexNormals").TakeBool(s.preserveVertexNormals);
    node.FindMember("protectTexturedFaces").TakeBool(s.protectTexturedFaces);
    node.FindMember("flatAreas").TakeBool(s.flatAreas);
    node.FindMember("wholeMesh").TakeBool(s.wholeMesh);
    node.FindMember("meshDetailError").TakeFloat(s.meshDetailError);
}

}  // namespace grainforge::mesh
