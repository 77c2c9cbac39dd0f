// The reduced display copy: when a mesh is over the display limit, or the graphics card
// refuses it, the view shows a copy made by vertex clustering, tinted blue, and says so. The
// part itself never changes; the reduction exists only on screen.
//
// UploadDisplayMesh runs the whole schedule against the view's uploader and returns what the
// view must do with the log, the information box and the scene, so that it is tested without a
// window or a context.
#pragma once

#include "engine/mesh/triangle_mesh.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace grainforge::app {

using mesh::TriangleMesh;
using mesh::Vec3;

struct ReducedDisplayCopy {
    TriangleMesh mesh;
    std::vector<std::uint32_t> sourceTriangles;  // one per triangle of `mesh`
};

// The cell index packs into 21 bits per axis; the cell is raised so that no index passes this.
inline constexpr double kMaximumClusterCells = 2'000'000.0;

// Merges the vertices of each grid cell (cell size in mm, from the box's minimum) into their
// mean and keeps the triangles whose three clusters differ. A cell too small for the box is
// raised to the largest extent / 2,000,000. An inconsistent mesh gives an empty copy; a
// non-finite box or cell the mesh itself.
[[nodiscard]] ReducedDisplayCopy ClusterVertices(const TriangleMesh& mesh, float cell);

// A copy of at most `budget` triangles: a clustering pass, then coarser ones (at most
// kMostClusterAttempts) while it is over; the mesh itself with the identity map when it is
// within budget, the budget is 0 or its box is not valid.
inline constexpr int kMostClusterAttempts = 12;
[[nodiscard]] ReducedDisplayCopy MakeReducedDisplayCopy(const TriangleMesh& mesh, std::uint64_t budget);

// Colours of the copy: the grey of each source triangle's colour when `sourceColours` has one
// per source triangle, else the blue tint.
[[nodiscard]] std::vector<Vec3> ReducedCopyColours(const ReducedDisplayCopy& copy,
                                                   const std::vector<Vec3>& sourceColours,
                                                   std::size_t sourceTriangleCount);

// The budgets tried after the graphics card refused a mesh: half the count, halved again while
// at least 100,000.
inline constexpr std::uint64_t kSmallestRefusalBudget = 100'000;
[[nodiscard]] std::vector<std::uint64_t> RefusalBudgets(std::uint64_t triangleCount);

// "1,234,567".
[[nodiscard]] std::string GroupedCount(std::uint64_t count);

// What the view shows, for the reduced-copy message: the part itself (or its processed result),
// or a view made from it with triangles of its own (the sliced preview), whose count is not the
// part's.
struct ShownMeshName {
    std::string madeView;              // empty: the part itself; else "sliced preview", ...
    std::uint64_t partTriangles = 0;   // the part's own count, said beside a made view's
};

// The message of a shown copy, for the information box and the log. For a made view it names
// the view and gives the part's own count, which the copy leaves whole.
[[nodiscard]] std::string ReducedCopyMessage(bool graphicsCard, std::uint64_t sourceTriangles,
                                             std::uint64_t shownTriangles, const ShownMeshName& shown = {});

// What the view hands the schedule: the renderer upload of a mesh with its triangle colours
// (for a reduced copy the view computes the copy's projection and passes no mask values), and
// the renderer's last error text.
struct DisplayUploader {
    std::function<bool(const TriangleMesh& mesh, const std::vector<Vec3>& colours, bool reducedCopy)> upload;
    std::function<std::string()> lastError;
};

// The view's memory of the reduced copy between uploads.
struct ReducedCopyState {
    std::uint64_t sourceTriangles = 0;  // 0 while no copy is shown
    std::uint64_t shownTriangles = 0;
    std::string lastMessage;            // the last reduced-copy message logged
    // While a copy is handed to the uploader: the source triangle of each of its triangles and
    // the source's triangle count, so that the upload can give the copy the source's texture
    // weights (without them the surface modes would not show on it). Empty otherwise.
    std::vector<std::uint32_t> uploadingSources;
    std::uint64_t uploadingFrom = 0;
};

// How much of a surface mode's pattern covers the reduced copy: the rest is its blue tint, so
// the copy stays told apart from the part while Checkerboard and Height Map show on it.
inline constexpr float kReducedCopyPatternShare = 0.65f;

// The copy's corner weights from the source's (three a source triangle): each copy corner
// takes the mean of its source triangle's, times kReducedCopyPatternShare. Empty when the
// source weights do not fit.
[[nodiscard]] std::vector<float> ReducedCopyCornerWeights(const std::vector<std::uint32_t>& sources,
                                                          std::uint64_t sourceTriangles,
                                                          const std::vector<float>& sourceCornerWeights);

struct DisplayLogLine {
    std::string text;  // UTF-8
    int level = 1;
};

// What the view does after an upload.
struct DisplayUploadOutcome {
    enum class Scene { full, reduced, cleared };
    Scene scene = Scene::cleared;  // cleared: the view calls GlRenderer::ClearScene
    std::vector<DisplayLogLine> log;
    std::optional<std::wstring> information;   // show this with kind 0
    bool clearReducedInformation = false;      // empty the box if it still says "reduced copy"
};

// The upload schedule: display limit, full upload, then halving budgets after a refusal. A
// mesh without vertices or indices clears the scene. Every failure that leaves nothing shown
// logs an error and clears the scene rather than keep the previous mesh as if current.
[[nodiscard]] DisplayUploadOutcome UploadDisplayMesh(const TriangleMesh& mesh, const std::vector<Vec3>& colours,
                                                     std::uint64_t displayTriangleLimit, ReducedCopyState& state,
                                                     const DisplayUploader& uploader,
                                                     const ShownMeshName& shown = {});

}  // namespace grainforge::app
