#include "engine/remesh/remesh_settings.h"
#include "engine/mesh/report_text.h"
#include "engine/remesh/contour_clusters.h"

#include "engine/mesh/parallel_loop.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cmath>
#include <limits>
#include <utility>

namespace grainforge::mesh {
namespace {

constexpr float kSmallestCell = 0.0001f;
// The contour makes a quad, two triangles, for every grid edge the surface crosses. A grid line
// along x crosses a piece of surface as often as the piece's shadow on the y-z plane holds
// cells, so the crossings are the surface's shadows on the three axis planes over the cell
// area: twice that many triangles, whatever way the surface faces. (One factor on the plain
// area, as before, ran 8% high on faces lying in the grid and 28% low on curved parts, so the
// relief section promised far fewer triangles than a run then made and refused.)
constexpr double kContourTrianglesPerShadowCell = 2.0;

struct MethodName {
    RemeshMethod method;
    const char* name;
};

constexpr MethodName kMethodNames[] = {
    {RemeshMethod::isotropic, "isotropic"},
    {RemeshMethod::dualContouring, "dualContouring"},
    {RemeshMethod::contour, "contour"},
};

std::string Fixed(double value, int decimals) { return FormatFixed(value, decimals); }

float Distance(Vec3 a, Vec3 b)
{
    const Vec3 d = b - a;
    return std::sqrt(Dot(d, d));
}

}  // namespace

bool RemeshSettingsEquals(const RemeshSettings& a, const RemeshSettings& b)
{
    const DualContouringSettings& p = a.dualContouring;
    const DualContouringSettings& q = b.dualContouring;
    return a.method == b.method && p.sharpness == q.sharpness
        && p.preserveVolume == q.preserveVolume && p.removeDisconnected == q.removeDisconnected
        && p.disconnectedThreshold == q.disconnectedThreshold && p.manifold == q.manifold
        && a.targetEdgeMillimetres == b.targetEdgeMillimetres && a.rounds == b.rounds
        && a.featureAngleDegrees == b.featureAngleDegrees && a.relaxation == b.relaxation
        && a.projectToOriginal == b.projectToOriginal;
}

void RemeshSettingsToJson(const JsonNode& node, const RemeshSettings& settings)
{
    const char* name = nullptr;
    for (const MethodName& entry : kMethodNames)
        if (entry.method == settings.method)
            name = entry.name;
    if (name != nullptr)
        node.PutString("method", name);
    else
        node.PutInt("method", static_cast<std::int32_t>(settings.method));
    SetJsonPathFloat(node, "targetEdgeMillimetres", settings.targetEdgeMillimetres);
    SetJsonPathInteger(node, "rounds", settings.rounds);
    SetJsonPathFloat(node, "featureAngleDegrees", settings.featureAngleDegrees);
    SetJsonPathFloat(node, "relaxation", settings.relaxation);
    SetJsonPathBool(node, "projectToOriginal", settings.projectToOriginal);
    const DualContouringSettings& dc = settings.dualContouring;
    SetJsonPathFloat(node, "dualContouring.sharpness", dc.sharpness);
    SetJsonPathBool(node, "dualContouring.preserveVolume", dc.preserveVolume);
    SetJsonPathBool(node, "dualContouring.removeDisconnected", dc.removeDisconnected);
    SetJsonPathFloat(node, "dualContouring.disconnectedThreshold", dc.disconnectedThreshold);
    SetJsonPathBool(node, "dualContouring.manifold", dc.manifold);
}

void RemeshSettingsFromJson(const JsonView& node, RemeshSettings& settings)
{
    std::string name;
    if (node.FindMember("method").TakeString(name)) {
        for (const MethodName& entry : kMethodNames)
            if (name == entry.name)
                settings.method = entry.method;
    }
    if (settings.method == RemeshMethod::dualContouring)
        settings.method = RemeshMethod::contour;
    GetJsonPathFloat(node, "targetEdgeMillimetres", settings.targetEdgeMillimetres);
    GetJsonPathInt32(node, "rounds", settings.rounds);
    GetJsonPathFloat(node, "featureAngleDegrees", settings.featureAngleDegrees);
    GetJsonPathFloat(node, "relaxation", settings.relaxation);
    GetJsonPathBool(node, "projectToOriginal", settings.projectToOriginal);
    DualContouringSettings& dc = settings.dualContouring;
    GetJsonPathFloat(node, "dualContouring.sharpness", dc.sharpness);
    GetJsonPathBool(node, "dualContouring.preserveVolume", dc.preserveVolume);
    GetJsonPathBool(node, "dualContouring.removeDisconnected", dc.removeDisconnected);
    GetJsonPathFloat(node, "dualContouring.disconnectedThreshold", dc.disconnectedThreshold);
    GetJsonPathBool(node, "dualContouring.manifold", dc.manifold);
}

float AskedContourCell(const RemeshSettings& settings)
{
    // Written so that a target that is not a number also gives the smallest cell.
    return settings.targetEdgeMillimetres > kSmallestCell ? settings.targetEdgeMillimetres : kSmallestCell;
}

float ContourCellSize(const TriangleMesh& mesh, const RemeshSettings& settings, bool* capped,
    std::vector<MeshCluster>* groups)
{
    float cell = AskedContourCell(settings);
    if (capped != nullptr)
        *capped = false;
    if (groups != nullptr)
        groups->clear();
    if (!mesh.boundsValid)
        return cell;
    // Bodies that lie apart are laid in grids of their own: the coarsest of those grids, never
    // a cell raised by the distance between them.
    std::vector<MeshCluster> found;
    std::vector<MeshCluster>& clusters = groups != nullptr ? *groups : found;
    clusters = ClustersNeedingOwnGrids(mesh, cell);
    float finest = clusters.empty() ? GridCellFor(mesh.boundsMax - mesh.boundsMin, cell) : cell;
    for (const MeshCluster& cluster : clusters)
        finest = std::max(finest, GridCellFor(cluster.boundsMax - cluster.boundsMin, cell));
    if (finest > cell) {
        cell = finest;
        if (capped != nullptr)
            *capped = true;
    }
    return cell;
}

namespace {

// A NaN count (from a NaN coordinate) is no number of triangles: none are estimated.
std::uint64_t CountOfTriangles(double count)
{
    return count != count ? 0
        : count >= 1.8e19 ? std::numeric_limits<std::uint64_t>::max()
                          : static_cast<std::uint64_t>(count);
}

}  // namespace

RemeshEstimate EstimateRemeshResult(const TriangleMesh& mesh, const RemeshSettings& settings)
{
    RemeshEstimate estimate;
    estimate.meshTriangles = mesh.indices.size() / 3;
    if (!mesh.IsConsistent())
        return estimate;
    // Twice the triangle's area, as a vector.
    const auto normalOf = [&](std::size_t t) {
        const Vec3 a = mesh.vertices[mesh.indices[3 * t]].position;
        const Vec3 b = mesh.vertices[mesh.indices[3 * t + 1]].position;
        const Vec3 c = mesh.vertices[mesh.indices[3 * t + 2]].position;
        return Cross(b - a, c - a);
    };
    // The areas of the triangle's shadows on the three axis planes.
    const auto shadowOf = [](Vec3 n) {
        return 0.5 * (std::fabs(static_cast<double>(n.x)) + std::fabs(static_cast<double>(n.y))
                         + std::fabs(static_cast<double>(n.z)));
    };
    double area = 0.0;
    double shadows = 0.0;
    for (std::size_t t = 0; t < estimate.meshTriangles; ++t) {
        const Vec3 n = normalOf(t);
        area += 0.5 * static_cast<double>(std::sqrt(Dot(n, n)));
        shadows += shadowOf(n);
    }
    estimate.countedTriangles = estimate.meshTriangles;
    estimate.areaSquareMillimetres = area;
    double count = 0.0;
    if (settings.method == RemeshMethod::isotropic) {
        const double edge = std::max(0.0001, static_cast<double>(settings.targetEdgeMillimetres));
        count = area / (std::sqrt(3.0) / 4.0 * edge * edge);
    } else {
        bool capped = false;
        std::vector<MeshCluster> groups;
        const double cell = std::max(kSmallestCell, ContourCellSize(mesh, settings, &capped, &groups));
        count = shadows * kContourTrianglesPerShadowCell / (cell * cell);
        if (capped)
            estimate.cappedCellMillimetres = static_cast<float>(cell);
        // Bodies laid apart are each counted at their own grid's cell (all at the cell asked
        // for when none is capped: the count above). The costliest is named by a refusal.
        double groupsCount = 0.0;
        double costliest = -1.0;
        const float asked = AskedContourCell(settings);
        for (const MeshCluster& group : groups) {
            const float own = GridCellFor(group.boundsMax - group.boundsMin, asked);
            double groupShadows = 0.0;
            for (std::uint32_t t : group.triangles)
                groupShadows += shadowOf(normalOf(t));
            const double groupCount = groupShadows * kContourTrianglesPerShadowCell / (double(own) * own);
            groupsCount += groupCount;
            if (groupCount > costliest) {
                costliest = groupCount;
                estimate.costliest = {group.boundsMin, group.boundsMax, CountOfTriangles(groupCount), groups.size(),
                    own, own > asked};
            }
        }
        if (capped && !groups.empty())
            count = groupsCount;
    }
    estimate.estimatedTriangles = CountOfTriangles(count);
    estimate.totalTriangles =
        estimate.meshTriangles - estimate.countedTriangles + estimate.estimatedTriangles;
    return estimate;
}

void RecordStageTime(StageTimer& timer, const std::string& name)
{
    const auto now = std::chrono::steady_clock::now();
    if (!timer.current.empty()) {
        const double ms =
            static_cast<double>(
                std::chrono::duration_cast<std::chrono::nanoseconds>(now - timer.mark).count())
            / 1e6;
        std::vector<StageTime>& times = *timer.stages;
        auto found = std::find_if(times.begin(), times.end(),
            [&](const StageTime& entry) { return entry.name == timer.current; });
        if (found != times.end())
            found->milliseconds += ms;
        else
            times.push_back({timer.current, ms});
    }
    timer.current = name;
    timer.mark = now;
}

double PercentileOfSorted(const std::vector<float>& sortedValues, double fraction)
{
    if (sortedValues.empty())
        return 0.0;
    const std::size_t n = sortedValues.size();
    const double position = static_cast<double>(n - 1) * fraction;
    const std::size_t i = static_cast<std::size_t>(position);
    const double low = sortedValues[i];
    const double high = sortedValues[std::min(i + 1, n - 1)];
    return low + (high - low) * (position - static_cast<double>(i));
}

namespace {

// PercentileOfSorted of `values` as if sorted; reorders them.
double PercentileBySelection(std::vector<float>& values, double fraction)
{
    if (values.empty())
        return 0.0;
    const std::size_t n = values.size();
    const double position = static_cast<double>(n - 1) * fraction;
    const std::size_t i = static_cast<std::size_t>(position);
    const auto at = values.begin() + static_cast<std::ptrdiff_t>(i);
    std::nth_element(values.begin(), at, values.end());
    // Everything after the i-th smallest is at least as large: the next one is their minimum.
    const double low = *at;
    const double high = i + 1 < n ? *std::min_element(at + 1, values.end()) : low;
    return low + (high - low) * (position - static_cast<double>(i));
}

}  // namespace

MeshQuality MeasureMeshQuality(const TriangleMesh& mesh)
{
    MeshQuality quality;
    if (!mesh.IsConsistent())
        return quality;
    const std::size_t triangles = mesh.indices.size() / 3;
    quality.triangles = triangles;
    std::vector<float> aspects(triangles, -1.0f);
    ParallelFor(triangles, [&](std::size_t t) {
        float lengths[3];
        for (int k = 0; k < 3; ++k) {
            const std::uint32_t a = mesh.indices[3 * t + k];
            const std::uint32_t b = mesh.indices[3 * t + (k + 1) % 3];
            lengths[k] = Distance(mesh.vertices[a].position, mesh.vertices[b].position);
        }
        const float shortest = std::min({lengths[0], lengths[1], lengths[2]});
        const float longest = std::max({lengths[0], lengths[1], lengths[2]});
        if (shortest > 0.0f)
            aspects[t] = longest / shortest;
    });
    // Every record of an edge has the same length (the same two corners), so each distinct
    // edge is measured once: the far ends are listed under the nearer-numbered end, and each
    // short list is sorted on its own. A repeat is given a NaN length, left out below.
    const std::size_t vertices = mesh.vertices.size();
    const std::size_t corners = 3 * triangles;
    // The lists are filled in parallel; their order within a list does not matter, as each is
    // sorted before it is read.
    const auto edgeEnds = [&](std::size_t i) {
        const std::uint32_t a = mesh.indices[i];
        const std::uint32_t b = mesh.indices[i % 3 == 2 ? i - 2 : i + 1];
        return std::pair{std::min(a, b), std::max(a, b)};
    };
    std::vector<std::size_t> start(vertices + 1, 0);
    ParallelFor(corners, [&](std::size_t i) {
        std::atomic_ref<std::size_t>(start[edgeEnds(i).first + 1]).fetch_add(1, std::memory_order_relaxed);
    });
    for (std::size_t v = 0; v < vertices; ++v)
        start[v + 1] += start[v];
    std::vector<std::uint32_t> farEnds(corners);
    {
        std::vector<std::size_t> next(start.begin(), start.end() - 1);
        ParallelFor(corners, [&](std::size_t i) {
            const auto [near, far] = edgeEnds(i);
            farEnds[std::atomic_ref<std::size_t>(next[near]).fetch_add(1, std::memory_order_relaxed)] = far;
        });
    }
    constexpr float kRepeat = std::numeric_limits<float>::quiet_NaN();
    std::vector<float> lengths(farEnds.size());
    std::atomic<std::uint64_t> distinct{0};
    ParallelForBlocks(vertices, 4096, [&](std::size_t begin, std::size_t end) {
        std::uint64_t count = 0;
        for (std::size_t v = begin; v < end; ++v) {
            const auto first = farEnds.begin() + start[v];
            const auto last = farEnds.begin() + start[v + 1];
            std::sort(first, last);
            for (auto at = first; at != last; ++at) {
                const std::size_t i = static_cast<std::size_t>(at - farEnds.begin());
                const bool repeat = at != first && *at == *(at - 1);
                lengths[i] = repeat ? kRepeat : Distance(mesh.vertices[v].position, mesh.vertices[*at].position);
                count += repeat ? 0 : 1;
            }
        }
        distinct.fetch_add(count, std::memory_order_relaxed);
    });
    quality.edges = distinct.load();
    // Lengths and aspects of NaN coordinates are left out: NaN has no place in a sorted order
    // (sorting with it can run past the ends). A few order statistics of each, found by
    // selection rather than by sorting everything, the lengths' beside the aspects'.
    const auto lengthFigures = [&] {
        std::erase_if(lengths, [](float l) { return l != l; });
        if (lengths.empty())
            return;
        const auto [shortest, longest] = std::minmax_element(lengths.begin(), lengths.end());
        quality.edgeMin = *shortest;
        quality.edgeMax = *longest;
        quality.edgeP1 = static_cast<float>(PercentileBySelection(lengths, 0.01));
        quality.edgeMedian = static_cast<float>(PercentileBySelection(lengths, 0.5));
        quality.edgeP99 = static_cast<float>(PercentileBySelection(lengths, 0.99));
    };
    const auto aspectFigures = [&] {
        std::erase_if(aspects, [](float a) { return !(a >= 0.0f); });
        if (aspects.empty())
            return;
        quality.aspectMedian = static_cast<float>(PercentileBySelection(aspects, 0.5));
        quality.aspectWorst = *std::max_element(aspects.begin(), aspects.end());
        const auto over = std::count_if(aspects.begin(), aspects.end(), [](float a) { return a > 10.0f; });
        quality.shareOver10 = static_cast<double>(over) / static_cast<double>(aspects.size());
    };
    ParallelInvoke(lengthFigures, aspectFigures);
    return quality;
}

std::string FormatMeshQuality(const MeshQuality& q)
{
    return std::to_string(q.triangles) + " triangles, edges " + Fixed(q.edgeMin, 4) + " / "
        + Fixed(q.edgeP1, 4) + " / " + Fixed(q.edgeMedian, 4) + " / " + Fixed(q.edgeP99, 4)
        + " / " + Fixed(q.edgeMax, 4) + " mm (min, 1%, median, 99%, max), aspect median "
        + Fixed(q.aspectMedian, 2) + ", worst " + Fixed(q.aspectWorst, 2) + ", over 10:1 "
        + Fixed(q.shareOver10 * 100.0, 2) + "%";
}

std::string FormatCostliestPiece(const CostliestPiece& piece)
{
    if (piece.triangles == 0 || piece.pieces < 2)
        return {};
    const Vec3 size = piece.boundsMax - piece.boundsMin;
    const Vec3 centre = (piece.boundsMin + piece.boundsMax) * 0.5f;
    std::string text = ": the piece of " + FormatLength(size.x) + " x " + FormatLength(size.y) + " x "
        + FormatLength(size.z) + " mm at (" + Fixed(centre.x, 2) + ", " + Fixed(centre.y, 2) + ", "
        + Fixed(centre.z, 2) + "), one of " + FormatCountGrouped(piece.pieces) + " that lie apart, makes about "
        + FormatCountGrouped(piece.triangles) + " of them";
    if (piece.finest)
        text += " with triangles of " + FormatLength(piece.cellMillimetres) + " mm, the finest its size allows";
    return text;
}

std::string RemeshFailureText(RemeshFailure failure)
{
    switch (failure) {
    case RemeshFailure::none:
        return {};
    case RemeshFailure::contourIncomplete:
        return "the contour grid was incomplete (a surface quad lacked a cell vertex); "
               "the part is unchanged";
    case RemeshFailure::gridTooLarge:
        return "the contour grid at this cell size needs more memory than is available; "
               "the part is unchanged (choose a larger edge length)";
    case RemeshFailure::nonFiniteCoordinates:
        return "the part has a coordinate that is not a number (NaN or infinity); "
               "the part is unchanged";
    case RemeshFailure::targetTooFine:
        return "the isotropic remesh at this edge length needs more memory than is available; "
               "the part is unchanged (choose a larger edge length)";
    }
    return {};
}

namespace {

// The advice that ends a memory refusal: the edge length from which on the grids fit, when
// the refusal worked it out.
std::string GridMemoryAdvice(const RemeshReport& report)
{
    if (!(report.advisedCellMillimetres > 0.0f) || !std::isfinite(report.advisedCellMillimetres))
        return "(choose a larger edge length)";
    return "(an edge length of at least " + FormatLength(report.advisedCellMillimetres) + " mm fits)";
}

// "1.5 GB" for a byte count, "640 MB" below a gigabyte.
std::string Gigabytes(std::uint64_t bytes)
{
    const double value = static_cast<double>(bytes);
    return value < 1e9 ? Fixed(value / 1e6, 0) + " MB" : Fixed(value / 1e9, 1) + " GB";
}

}  // namespace

std::string RemeshFailureText(const RemeshReport& report)
{
    if (report.failure != RemeshFailure::gridTooLarge)
        return RemeshFailureText(report.failure);
    const std::string advice = GridMemoryAdvice(report);
    const std::string need = report.availableBytes != 0
        ? " about " + Gigabytes(report.estimatedGridBytes) + " of memory, more than the "
            + Gigabytes(report.availableBytes) + " available"
        : " more memory than is available";
    if (report.piecesApart < 2)
        return "the contour grid at this cell size needs" + need + "; the part is unchanged " + advice;
    std::string text = "the contour grids of the " + FormatCountGrouped(report.piecesApart)
        + " pieces that lie apart, remeshed one after the other and their results held together, need" + need
        + " at this cell size";
    const Vec3 size = report.failedPieceMax - report.failedPieceMin;
    if (size.x > 0.0f || size.y > 0.0f || size.z > 0.0f) {
        const Vec3 centre = (report.failedPieceMin + report.failedPieceMax) * 0.5f;
        text += ": the piece of " + FormatLength(size.x) + " x " + FormatLength(size.y) + " x " + FormatLength(size.z)
            + " mm at (" + Fixed(centre.x, 2) + ", " + Fixed(centre.y, 2) + ", " + Fixed(centre.z, 2)
            + ") alone needs more than that";
    }
    return text + "; the part is unchanged " + advice;
}

std::string FormatRemeshReport(const RemeshReport& r)
{
    if (r.failed)
        return "Remesh failed: " + RemeshFailureText(r);
    std::string text = r.cancelled ? "Remesh cancelled: " : "Remesh: ";
    text += std::to_string(r.trianglesBefore) + " -> " + std::to_string(r.trianglesAfter);
    if (r.contour) {
        text += " triangles by dual contouring, cell " + Fixed(r.cellMillimetres, 4) + " mm";
        if (r.cellCapped)
            text += " (the finest this part's size allows)";
        if (r.strayBodiesRemoved != 0)
            text += ", " + std::to_string(r.strayBodiesRemoved)
                + " stray bodies the part did not have removed ("
                + std::to_string(r.strayBodyTriangles) + " triangles"
                + (r.strayBodies.empty() ? std::string() : "; " + FormatLargestRemovedBody(r.strayBodies)) + ")";
        if (r.thinPlaces != 0)
            text += ", " + std::to_string(r.thinPlaces) + " places thinner than the cell";
        if (r.openGridLines != 0)
            text += ", the part is open (" + std::to_string(r.openGridLines)
                + " grid lines through a hole)";
        text += "\n";
    } else {
        text += " triangles, " + std::to_string(r.splits) + " splits, "
            + std::to_string(r.collapses) + " collapses, " + std::to_string(r.flips)
            + " flips\n";
    }
    text += "  deviation from the original surface: " + Fixed(r.deviationMillimetres, 4)
        + " mm\n";
    text += "  before: " + FormatMeshQuality(r.qualityBefore) + "\n";
    text += "  after:  " + FormatMeshQuality(r.qualityAfter);
    if (!r.stageTimes.empty()) {
        text += "\n  time:";
        for (const StageTime& stage : r.stageTimes)
            text += " " + stage.name + " " + Fixed(stage.milliseconds, 0) + " ms;";
    }
    return text;
}

}  // namespace grainforge::mesh
