// The bodies of the modal mesh jobs that change the loaded part itself (Repair, Simplify Input
// Mesh, Remesh Input Mesh), with their texts. Each body runs on the job thread over its own copy
// of the part and writes only its result record; it never throws: an allocation failure or any
// other exception becomes a failure the document reports, and the part stays as it was. The
// modal runner (wait cursor, paint messages, Esc) and the installing of a result belong to the
// document.
#pragma once

#include "app/document/no_window_system.h"

#include "engine/mesh/mesh_simplify.h"
#include "engine/mesh/mesh_validation.h"
#include "engine/mesh/placement.h"
#include "engine/repair/repair_forecast.h"
#include "engine/repair/repair_job.h"
#include "engine/mesh/triangle_mesh.h"
#include "engine/remesh/own_scale_remesh.h"
#include "engine/remesh/remesh_settings.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace grainforge::app {

// One job as the modal runner calls it: the cancel flag is set by the runner (Esc) and read by
// the job through the progress callbacks it hands to the engine.
using MeshJob = std::function<void(const std::atomic<bool>& cancel)>;

enum class MeshJobOutcome : std::int32_t {
    replaced = 0,   // `mesh` holds the new part, in the part's loaded frame
    stopped = 1,    // the cancel flag stopped it
    unchanged = 2,  // nothing to do (no cheap merge, nothing to repair)
    refused = 3,    // over the triangle limit; nothing ran
    failed = 4,     // the engine failed or threw; see the failure fields
};

// Why a job failed. Filled without allocating when the memory ran out.
struct MeshJobFailure {
    bool outOfMemory = false;
    bool exception = false;   // another exception; `detail` holds its text when it had one
    std::string detail;       // an exception's text, or the engine's reason
};

struct SimplifyJobResult {
    MeshJobOutcome outcome = MeshJobOutcome::failed;
    grainforge::mesh::MeshSimplifyReport report;
    grainforge::mesh::TriangleMesh mesh;
    MeshJobFailure failure;
};

struct RemeshJobResult {
    MeshJobOutcome outcome = MeshJobOutcome::failed;
    grainforge::mesh::RemeshReport report;
    std::uint64_t estimatedTriangles = 0;  // behind a refusal
    grainforge::mesh::CostliestPiece costliest;  // of pieces that lie apart, the one that makes the most
    float advisedTriangleSize = 0.0f;  // behind a refusal: the size whose estimate is within the limit
    // Refused because the size is too coarse for any surface: the estimate is under the fewest
    // a remesh makes, `advisedTriangleSize` the largest size whose estimate is not (0: none
    // found), `partSize` the placed part's box.
    bool tooCoarse = false;
    grainforge::mesh::Vec3 partSize{};
    float askedTriangleSize = 0.0f;
    // Pieces lying so far out that they were remeshed at a size of their own, or kept as they were.
    std::vector<grainforge::mesh::OwnScalePiece> farPieces;
    grainforge::mesh::TriangleMesh mesh;
    MeshJobFailure failure;
};

struct RepairJobResult {
    MeshJobOutcome outcome = MeshJobOutcome::failed;
    grainforge::mesh::RepairForPrintReport report;
    grainforge::mesh::TriangleMesh mesh;
    MeshJobFailure failure;
    // What the Save STL check does with the triangles of the part, as Repair leaves it and
    // placed, that pass through others; of a part left as it was only their count (`before`).
    grainforge::mesh::CheckCrossingForecast crossings;
    // What the Save STL check alone leaves of the crossings of the part as given, placed: known
    // only where Repair changed the part and the check would leave crossings in what it made.
    grainforge::mesh::CheckCrossingForecast crossingsAsGiven;
    // Of the part placed, when Repair changed nothing (`unchanged`): what is wrong with it.
    grainforge::mesh::ValidationReport validation;
};

// What the Repair job needs besides the part: where the part stands and what the Save STL check
// is given (its `bodies` are counted by the job), for the forecast of the crossings.
struct RepairJobSettings {
    grainforge::mesh::Transform3x4 placement{};
    grainforge::mesh::CheckFixSettings check{};
};

// Inside a catch block: records the exception being handled in `failure`.
void RecordCurrentException(MeshJobFailure& failure) noexcept;

// Runs `body`, turning whatever it throws into `failure`; true when it returned normally.
// A template, so that calling it allocates nothing that could fail outside the guard.
template <typename Body>
bool RunMeshJobBody(Body&& body, MeshJobFailure& failure) noexcept
{
    try {
        body();
        return true;
    } catch (...) {
        RecordCurrentException(failure);
        return false;
    }
}

// The options Simplify Input Mesh uses: the detail level, and the values the pipeline's simplify
// stage gives the whole surface (no target, standing on z, 78 degrees, movement measured).
[[nodiscard]] grainforge::mesh::MeshSimplifyOptions InputSimplifyOptions(float detailLevel);

// Simplifies a copy of the part placed by `placement` (so the bed is where the part stands)
// and stores the result back in the loaded frame.
[[nodiscard]] SimplifyJobResult SimplifyInputMeshJob(const grainforge::mesh::TriangleMesh& loadedPart,
    const grainforge::mesh::Transform3x4& placement, float detailLevel, const std::atomic<bool>& cancel) noexcept;

// Remeshes a copy of the placed part as the pipeline's remesh stage would: refused without
// running when the estimate passes `maximumTriangles` (0: no limit) or is too few for any
// surface, failed when the remesh refuses for memory, fails on its own or makes no triangles,
// stopped by the flag.
[[nodiscard]] RemeshJobResult RemeshInputMeshJob(const grainforge::mesh::TriangleMesh& loadedPart,
    const grainforge::mesh::Transform3x4& placement, const grainforge::mesh::RemeshSettings& settings,
    std::uint64_t maximumTriangles, const std::atomic<bool>& cancel) noexcept;

// Repairs a copy of the part; it cannot be stopped. When the part as Repair leaves it, placed,
// has triangles passing through others and Repair changed how many, the check's fixes run on a
// copy of it too, so that the texts can say what saving does with them; a part left as it was is
// only validated.
[[nodiscard]] RepairJobResult RepairInputMeshJob(const grainforge::mesh::TriangleMesh& loadedPart,
    const RepairJobSettings& settings = {}) noexcept;

// The document's validation of the part: the crossing search on, at its pair limit, without the
// relief wording.
[[nodiscard]] grainforge::mesh::ValidationOptions PartValidationOptions();
// The same, with what Repair does to the non-manifold edges of `loadedPart` (Repair run on a
// copy, only when it has such edges), for the validation of the part placed.
[[nodiscard]] grainforge::mesh::ValidationOptions PartValidationOptions(const grainforge::mesh::TriangleMesh& loadedPart);

// ---- Texts ---------------------------------------------------------------------------------

inline constexpr const char* kRepairJobName = "Repair";
inline constexpr const char* kSimplifyJobName = "Simplify Input Mesh";
inline constexpr const char* kRemeshJobName = "Remesh Input Mesh";

inline constexpr const char* kRepairBusyText = "Repairing the part.";
inline constexpr const char* kSimplifyBusyText = "Simplifying the loaded part. Esc stops it.";
inline constexpr const char* kRemeshBusyText = "Remeshing the loaded part. Esc stops it.";
inline constexpr const char* kSimplifyStoppedText = "Simplify Input Mesh: stopped. The part is as it was.";
inline constexpr const char* kRemeshStoppedText = "Remesh Input Mesh: stopped. The part is as it was.";
inline constexpr const char* kNothingToSimplifyText =
    "Nothing to simplify at this detail level: no merge was cheap enough.";

// "<job> ran out of memory. The part is as it was.", "<job> stopped on an error: <text>. The
// part is as it was." or "<job> stopped on an error. The part is as it was."
[[nodiscard]] std::string MeshJobFailureText(std::string_view jobName, const MeshJobFailure& failure);

// The remesh job's refusal and failure texts (for the log at level 4 and the error box).
[[nodiscard]] std::string RemeshJobProblemText(const RemeshJobResult& result);

// "Simplify Input Mesh: 1,234 triangles at detail level 0.01. Esc stops it."
[[nodiscard]] std::string SimplifyStartLine(std::uint64_t triangles, float detailLevel);
// "Remesh Input Mesh: 1,234 triangles at 0.2 mm. Esc stops it."
[[nodiscard]] std::string RemeshStartLine(std::uint64_t triangles, float targetEdgeMillimetres);

// The question of Simplify Input Mesh, the level named where it has a name ("Medium (0.1)").
[[nodiscard]] std::string SimplifyQuestion(std::uint64_t triangles, float detailLevel);

// The information text after a repair, and its kind: 1 when open or non-manifold edges are
// left, when the part has fewer bodies, when validation of the result still names a fault
// Repair mends (`faultLeft`: a body wound inward where it can be no hollow, say), or when the
// repair changed nothing because it would have emptied the part or could not choose between
// doubled facets; else 0. `selfIntersecting` comes from the fresh validation; `crossings`, when
// given and of that count, says what the Save STL check does with them (without it, nothing is
// promised of the check). `asGiven`, when known, is what the check alone leaves of the part as
// given: where the check after Repair would leave more, the text says so with both counts and
// the kind is 1.
struct RepairInformation {
    std::string text;
    int kind = 0;
};
[[nodiscard]] RepairInformation RepairInformationText(const grainforge::mesh::RepairForPrintReport& report,
    std::uint64_t selfIntersecting, const grainforge::mesh::CheckCrossingForecast* crossings = nullptr,
    const grainforge::mesh::CheckCrossingForecast* asGiven = nullptr);

// Whether the validation of a part Repair left as it was names anything wrong with it: an
// insert (a closed body inside another, solid on both sides) alone is not.
[[nodiscard]] bool NamesSomethingWrong(const grainforge::mesh::ValidationReport& validation);

// The text after a repair that changed nothing (neither emptied nor held by doubled facets):
// that the part needed no repair when `problemsFound` is false and nothing is left, else what
// is left of what Repair looks at, as RepairInformationText says it.
[[nodiscard]] RepairInformation RepairUnchangedText(const grainforge::mesh::RepairForPrintReport& report,
    const grainforge::mesh::CheckCrossingForecast& crossings, bool problemsFound);

}  // namespace grainforge::app
