#include "app/view/display_reduction.h"

#include "engine/mesh/report_text.h"

#include "app/view/display_colours.h"
#include "engine/mesh/parallel_loop.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <new>
#include <numeric>
#include <unordered_map>

namespace grainforge::app {

namespace {

ReducedDisplayCopy IdentityCopy(const TriangleMesh& mesh)
{
    ReducedDisplayCopy copy;
    copy.mesh = mesh;
    copy.sourceTriangles.resize(mesh.TriangleCount());
    std::iota(copy.sourceTriangles.begin(), copy.sourceTriangles.end(), 0u);
    return copy;
}

bool FiniteBox(const TriangleMesh& mesh)
{
    return mesh.boundsValid && mesh::IsFinite(mesh.boundsMin) && mesh::IsFinite(mesh.boundsMax);
}

}  // namespace

ReducedDisplayCopy ClusterVertices(const TriangleMesh& mesh, float cell)
{
    if (!mesh.IsConsistent())
        return {};
    TriangleMesh boxed;
    const TriangleMesh* source = &mesh;
    if (!mesh.boundsValid) {
        boxed.vertices = mesh.vertices;
        boxed.ComputeBounds();
        if (!FiniteBox(boxed))
            return IdentityCopy(mesh);
    }
    const Vec3 lo = mesh.boundsValid ? mesh.boundsMin : boxed.boundsMin;
    const Vec3 hi = mesh.boundsValid ? mesh.boundsMax : boxed.boundsMax;
    if (!mesh::IsFinite(lo) || !mesh::IsFinite(hi) || !std::isfinite(cell) || !(cell > 0.0f))
        return IdentityCopy(*source);

    // 21 bits per axis: a cell finer than extent / 2,000,000 would wrap indices into their
    // neighbours' bits and merge distant vertices.
    const double extent = std::max({double(hi.x) - lo.x, double(hi.y) - lo.y, double(hi.z) - lo.z});
    const double cellSize = std::max(double(cell), extent / kMaximumClusterCells);

    const std::size_t vertexCount = mesh.vertices.size();
    std::vector<std::uint64_t> keys(vertexCount);
    mesh::ParallelFor(vertexCount, [&](std::size_t v) {
        const Vec3 p = mesh.vertices[v].position;
        const auto index = [cellSize](float x, float minimum) {
            const double i = std::floor((double(x) - minimum) / cellSize);
            return static_cast<std::uint64_t>(std::clamp(i, 0.0, 2097151.0));
        };
        keys[v] = (index(p.z, lo.z) << 42) | (index(p.y, lo.y) << 21) | index(p.x, lo.x);
    });

    // Cluster numbers in order of first appearance, so that the copy is the same on any
    // number of threads.
    std::vector<std::uint32_t> cluster(vertexCount);
    std::unordered_map<std::uint64_t, std::uint32_t> numbers;
    numbers.reserve(vertexCount / 4 + 16);
    for (std::size_t v = 0; v < vertexCount; ++v) {
        const auto [it, added] = numbers.try_emplace(keys[v], static_cast<std::uint32_t>(numbers.size()));
        cluster[v] = it->second;
    }
    std::vector<std::array<double, 3>> sums(numbers.size(), {0.0, 0.0, 0.0});
    std::vector<std::uint32_t> counts(numbers.size(), 0);
    for (std::size_t v = 0; v < vertexCount; ++v) {
        const Vec3 p = mesh.vertices[v].position;
        auto& s = sums[cluster[v]];
        s[0] += p.x;
        s[1] += p.y;
        s[2] += p.z;
        ++counts[cluster[v]];
    }

    ReducedDisplayCopy copy;
    copy.mesh.vertices.resize(numbers.size());
    mesh::ParallelFor(numbers.size(), [&](std::size_t c) {
        const double n = counts[c];
        copy.mesh.vertices[c].position = {float(sums[c][0] / n), float(sums[c][1] / n), float(sums[c][2] / n)};
    });

    const std::size_t triangleCount = mesh.TriangleCount();
    std::vector<std::uint8_t> kept(triangleCount);
    mesh::ParallelFor(triangleCount, [&](std::size_t t) {
        const std::uint32_t a = cluster[mesh.indices[3 * t]];
        const std::uint32_t b = cluster[mesh.indices[3 * t + 1]];
        const std::uint32_t c = cluster[mesh.indices[3 * t + 2]];
        kept[t] = a != b && b != c && a != c;
    });
    const std::size_t keptCount = static_cast<std::size_t>(std::count(kept.begin(), kept.end(), 1));
    copy.mesh.indices.reserve(3 * keptCount);
    copy.sourceTriangles.reserve(keptCount);
    for (std::size_t t = 0; t < triangleCount; ++t) {
        if (!kept[t])
            continue;
        for (int i = 0; i < 3; ++i)
            copy.mesh.indices.push_back(cluster[mesh.indices[3 * t + i]]);
        copy.sourceTriangles.push_back(static_cast<std::uint32_t>(t));
    }
    copy.mesh.ComputeBounds();
    copy.mesh.ComputeVertexNormals();
    return copy;
}

ReducedDisplayCopy MakeReducedDisplayCopy(const TriangleMesh& mesh, std::uint64_t budget)
{
    const std::uint64_t triangles = mesh.TriangleCount();
    if (triangles <= budget || budget == 0 || !mesh.boundsValid)
        return IdentityCopy(mesh);
    const double area = mesh.SurfaceArea();
    const float cell = std::max(static_cast<float>(std::sqrt(2.0 * area / double(budget))), 0.0001f);
    // The area estimate is only a first guess: clustering a curved or uneven surface keeps more
    // triangles than it, so the cell grows until the copy is within the budget (one try was
    // 69,052 triangles for a limit of 50,000).
    float tried = cell;
    ReducedDisplayCopy copy = ClusterVertices(mesh, tried);
    for (int attempt = 0; attempt < kMostClusterAttempts && copy.sourceTriangles.size() > budget; ++attempt) {
        const double grow = std::max(std::sqrt(double(copy.sourceTriangles.size()) / double(budget)) * 1.05, 1.1);
        tried = static_cast<float>(tried * grow);
        copy = ClusterVertices(mesh, tried);
    }
    return copy;
}

std::vector<Vec3> ReducedCopyColours(const ReducedDisplayCopy& copy, const std::vector<Vec3>& sourceColours,
                                     std::size_t sourceTriangleCount)
{
    std::vector<Vec3> colours(copy.sourceTriangles.size(), display_colour::kReducedCopy);
    if (sourceColours.size() != sourceTriangleCount || sourceColours.empty())
        return colours;
    mesh::ParallelFor(colours.size(), [&](std::size_t t) {
        const std::uint32_t s = copy.sourceTriangles[t];
        if (s >= sourceColours.size())
            return;
        const Vec3 c = sourceColours[s];
        const float grey = (c.x + c.y + c.z) / 3.0f;
        colours[t] = {grey, grey, grey};
    });
    return colours;
}

std::vector<float> ReducedCopyCornerWeights(const std::vector<std::uint32_t>& sources, std::uint64_t sourceTriangles,
                                            const std::vector<float>& sourceCornerWeights)
{
    if (sourceTriangles == 0 || sourceCornerWeights.size() != 3 * sourceTriangles)
        return {};
    std::vector<float> weights(3 * sources.size(), 0.0f);
    mesh::ParallelFor(sources.size(), [&](std::size_t t) {
        const std::size_t s = sources[t];
        if (s >= sourceTriangles)
            return;
        const float mean = kReducedCopyPatternShare *
            (sourceCornerWeights[3 * s] + sourceCornerWeights[3 * s + 1] + sourceCornerWeights[3 * s + 2]) / 3.0f;
        weights[3 * t] = weights[3 * t + 1] = weights[3 * t + 2] = mean;
    });
    return weights;
}

std::vector<std::uint64_t> RefusalBudgets(std::uint64_t triangleCount)
{
    std::vector<std::uint64_t> budgets;
    for (std::uint64_t budget = triangleCount / 2; budget >= kSmallestRefusalBudget; budget /= 2)
        budgets.push_back(budget);
    return budgets;
}

std::string GroupedCount(std::uint64_t count)
{
    return mesh::FormatCountGrouped(count);
}

std::string ReducedCopyMessage(bool graphicsCard, std::uint64_t sourceTriangles, std::uint64_t shownTriangles,
                               const ShownMeshName& shown)
{
    if (!shown.madeView.empty()) {
        const std::string whole = " is shown, tinted blue. The part itself is whole (" +
                                  GroupedCount(shown.partTriangles) +
                                  " triangles): it is processed and saved in full.";
        if (graphicsCard)
            return "The graphics card could not hold all " + GroupedCount(sourceTriangles) + " triangles of the " +
                   shown.madeView + ", so a reduced copy of " + GroupedCount(shownTriangles) + whole;
        return "The " + shown.madeView + " has " + GroupedCount(sourceTriangles) +
               " triangles, over the display limit, so a reduced copy of " + GroupedCount(shownTriangles) + whole +
               " The limit is in Mesh > Settings > Relief.";
    }
    if (graphicsCard)
        return "The graphics card could not hold all " + GroupedCount(sourceTriangles) + " triangles, so a reduced copy of " +
               GroupedCount(shownTriangles) +
               " is shown, tinted blue. The part itself is whole: it is processed and saved in full.";
    return GroupedCount(sourceTriangles) + " triangles is over the display limit, so a reduced copy of " +
           GroupedCount(shownTriangles) +
           " is shown, tinted blue. The part itself is whole: it is processed and saved in full. The limit is in "
           "Mesh > Settings > Relief.";
}

namespace {

// Makes, colours and uploads one copy; false (with the reason) when it could not be made or
// the renderer refused it.
bool BuildReducedCopy(const TriangleMesh& mesh, const std::vector<Vec3>& colours, std::uint64_t budget,
                      ReducedCopyState& state, const DisplayUploader& uploader, std::string& error)
{
    try {
        const ReducedDisplayCopy copy = MakeReducedDisplayCopy(mesh, budget);
        const std::vector<Vec3> copyColours = ReducedCopyColours(copy, colours, mesh.TriangleCount());
        state.uploadingSources = copy.sourceTriangles;
        state.uploadingFrom = mesh.TriangleCount();
        const bool uploaded = uploader.upload(copy.mesh, copyColours, true);
        state.uploadingSources = {};
        state.uploadingFrom = 0;
        if (!uploaded) {
            error = uploader.lastError ? uploader.lastError() : std::string();
            return false;
        }
        state.sourceTriangles = mesh.TriangleCount();
        state.shownTriangles = copy.mesh.TriangleCount();
        return true;
    } catch (const std::bad_alloc&) {
        error = "out of memory";
        return false;
    }
}

void ReportReducedCopy(bool graphicsCard, const ShownMeshName& shown, ReducedCopyState& state,
                       DisplayUploadOutcome& outcome)
{
    const std::string message = ReducedCopyMessage(graphicsCard, state.sourceTriangles, state.shownTriangles, shown);
    outcome.information = std::wstring(message.begin(), message.end());
    if (message != state.lastMessage) {
        outcome.log.push_back({message, 1});
        state.lastMessage = message;
    }
    outcome.scene = DisplayUploadOutcome::Scene::reduced;
}

std::string WithReason(std::string text, const std::string& reason)
{
    return reason.empty() ? text : text + ": " + reason;
}

}  // namespace

DisplayUploadOutcome UploadDisplayMesh(const TriangleMesh& mesh, const std::vector<Vec3>& colours,
                                       std::uint64_t displayTriangleLimit, ReducedCopyState& state,
                                       const DisplayUploader& uploader, const ShownMeshName& shown)
{
    DisplayUploadOutcome outcome;
    const bool reducedBefore = state.sourceTriangles != 0;
    state.sourceTriangles = 0;
    state.shownTriangles = 0;
    if (mesh.vertices.empty() || mesh.indices.empty() || !uploader.upload)
        return outcome;

    const std::uint64_t triangles = mesh.TriangleCount();
    if (displayTriangleLimit != 0 && triangles > displayTriangleLimit) {
        std::string error;
        if (BuildReducedCopy(mesh, colours, displayTriangleLimit, state, uploader, error)) {
            ReportReducedCopy(false, shown, state, outcome);
        } else {
            outcome.log.push_back(
                {WithReason("The reduced copy for the display limit could not be shown", error) +
                     ". Nothing is shown; raise the limit in Mesh > Settings > Relief.",
                 4});
        }
        return outcome;
    }

    if (uploader.upload(mesh, colours, false)) {
        outcome.scene = DisplayUploadOutcome::Scene::full;
        outcome.clearReducedInformation = reducedBefore;
        return outcome;
    }
    outcome.log.push_back({"The mesh could not be uploaded: " + (uploader.lastError ? uploader.lastError() : ""), 4});
    std::string error;
    for (const std::uint64_t budget : RefusalBudgets(triangles)) {
        if (BuildReducedCopy(mesh, colours, budget, state, uploader, error)) {
            ReportReducedCopy(true, shown, state, outcome);
            return outcome;
        }
    }
    outcome.log.push_back({"No reduced copy of the " + GroupedCount(triangles) +
                               " triangles could be shown either, so the view is empty.",
                           4});
    return outcome;
}

}  // namespace grainforge::app
