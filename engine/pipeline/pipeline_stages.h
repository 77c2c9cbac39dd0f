// The work of one pipeline run: four cached stages (remesh, the faces that receive texture,
// displacement, simplify) that run only when dirty, then cleanup and the three checks (mesh
// validation, wall measurement, printability). Each stage keeps its output mesh, so a change
// late in the chain reruns only the stages after it.
//
// Everything here runs on the pipeline's worker thread (and the threads of the parallel loops
// it starts) and takes no lock. A stage that fails,
// stops or runs out of memory leaves its own dirty flag set and writes no half-made mesh into
// the stage state: stages work on local copies and move them in only when done.
#pragma once

#include "engine/displacement/occupancy_grid.h"
#include "engine/displacement/texture_weights.h"
#include "engine/displacement/wall_measurement.h"
#include "engine/mesh/aabb_tree.h"
#include "engine/mesh/progress.h"
#include "engine/mesh/triangle_mesh.h"
#include "engine/pipeline/pipeline_records.h"
#include "engine/pipeline/process_estimate.h"
#include "engine/textures/height_map.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace grainforge::mesh {

// Stage numbers, in chain order.
inline constexpr std::int32_t kStageRemesh = 0;
inline constexpr std::int32_t kStageFaces = 1;
inline constexpr std::int32_t kStageDisplacement = 2;
inline constexpr std::int32_t kStageSimplify = 3;
inline constexpr std::int32_t kStageNone = 4;
inline constexpr std::int32_t kStageCount = 4;

// Phase texts handed to the progress callback.
inline constexpr const char* kFacesPhaseText = "Working out which faces receive texture";
inline constexpr const char* kDisplacingPhaseText = "Displacing";
inline constexpr const char* kCheckingMeshPhaseText = "Checking the mesh";
inline constexpr const char* kMeasuringWallsPhaseText = "Measuring the walls";
inline constexpr const char* kPrintCheckPhaseText = "Checking that it prints";

// What a run reports when the memory ran out; the stage state stays as it was.
inline constexpr const char* kOutOfMemoryText =
    "Process ran out of memory. Nothing was changed; a larger triangle size needs less.";
// What a run reports when a stage made a coordinate that is not a number.
inline constexpr const char* kNonFiniteResultText =
    "Process made a coordinate that is not a number, so the result cannot be shown or saved. Nothing "
    "was changed.";
// What the solid displacement's memory refusal reports.
inline constexpr const char* kReliefTooLargeText =
    "The part is too large for this triangle size: making its relief would need more memory "
    "than is safe. A larger triangle size needs less. Nothing was changed.";

struct StaleStage {
    std::int32_t stage = kStageNone;
    bool any = false;
};

// The first stage whose output the change from `last` to `next` makes stale. The projection's
// active layer is only an editing choice and stales nothing; the cleanup, wall and print-check
// settings stale no stage (see AfterStageSettingsEqual).
[[nodiscard]] StaleStage FirstStaleStage(const PipelineSettings& last, const PipelineSettings& next);

// True when the settings read only by cleanup and the checks are equal: both cleanup switches,
// the largest hole and slit, printCheckOn, the printability settings and the three wall values.
[[nodiscard]] bool AfterStageSettingsEqual(const PipelineSettings& last, const PipelineSettings& next);

// "About N triangles, which is over the limit." for a refused run, then, where bodies lie
// apart, the piece that makes the most of them (its size, where it lies, its share, and its
// triangle size when that is the finest its size allows), then "Nothing was changed;" and
// the settings that would let it run: the triangle size `advisedSize` (at which every limit
// passes, for all pieces together; when 0, a larger one, above the piece's finest) or a higher
// triangle limit; with `withoutRemesh`, turning Remesh on at that size, as no triangle size is
// in use. With `memoryToo` (the memory limit the run meets at its size), a higher triangle limit
// is not offered: the text says instead that the memory would still stop the run.
[[nodiscard]] std::string TriangleLimitText(std::uint64_t estimatedTriangles, const CostliestPiece& piece = {},
    bool withoutRemesh = false, float advisedSize = 0.0f, ProcessLimit memoryToo = ProcessLimit::none);
// The same for a refused run's report, and for the estimate the document refuses a run with.
[[nodiscard]] std::string TriangleLimitText(const PipelineReport& report);
[[nodiscard]] std::string TriangleLimitText(const ProcessEstimate& estimate);

// Records why the solid displacement gave no result: a stop as `stopped`, a triangle limit as
// `refused` with the estimate, and a memory refusal or a contour with holes as a failure
// `message`. A failure is never recorded as a stop.
void RecordSolidFailure(PipelineReport& report, const SolidDisplacementReport& solid);

// The remesh settings a run uses: the solid displacement always remeshes by contour.
[[nodiscard]] RemeshSettings EffectiveRemeshSettings(const PipelineSettings& settings);

// The stage state of a pipeline with the operations of one run. The pipeline owns one and
// touches it only while no worker runs.
class PipelineStages {
public:
    // Empties the meshes, weights and occupancy grid, resets the working report and marks all
    // four stages dirty.
    void ResetStages();
    // ResetStages, then takes `mesh` as the source; a mesh with vertices and triangles gets its
    // box computed and is copied to `result`.
    void InstallSource(TriangleMesh mesh);
    // Marks stale stages for a run with `settings` and keeps them as the last settings.
    void InvalidateStages(const PipelineSettings& settings);
    // The first stage a run with `settings` would execute. A dirty simplify stage counts even
    // with simplify off: it also redoes the cleanup and the checks a stop cut short.
    [[nodiscard]] StaleStage StageToRerun(const PipelineSettings& settings) const;
    // The newest mesh that stays valid for `settings`.
    [[nodiscard]] const TriangleMesh& CurrentResultMesh(const PipelineSettings& settings) const;

    // The stages, with the last settings. Each returns false when the run must end: a stop
    // (the report's `stopped`), a refusal (`refused`) or a failure (`message`).
    bool RunRemeshStage(const ProgressCallback& progress);
    void RunMaskStage();
    bool RunDisplacementStage(const ProgressCallback& progress);
    // RunDisplacementStage's steps: how finely the triangles carry the texture (and the map's
    // blur to match), then the vertex relief or the solid one.
    void MeasureSampling(const Projection& framed);
    // What both reliefs read of the faces stage: whether its weights fit the mesh (weights that
    // do not read as unweighted), the outer faces, and the texture's extent.
    struct ReliefPlacement {
        bool weightsMatch = false;
        const std::vector<std::uint8_t>* outerMask = nullptr;
        TileFrame extent;
    };
    ReliefPlacement PlaceRelief() const;
    void RunVertexRelief(const Projection& framed);
    bool RunSolidRelief(const ProgressCallback& progress, const Projection& framed);
    bool RunSimplifyStage(const ProgressCallback& progress);
    void RunCleanupStage();
    // Reports a check's phase; true when the callback asked to stop (stage 3 is then dirty so
    // that the next run redoes simplify, cleanup and the checks).
    bool ReportPhase(const ProgressCallback& progress, const char* text);

    // One run over the dirty stages and the checks. True when it ended normally; false when
    // it stopped, was refused or failed, the report telling which. An allocation failure ends
    // the run with kOutOfMemoryText; the stage it hit stays dirty.
    bool Run(const ProgressCallback& progress);

    TriangleMesh source;
    TriangleMesh remeshed;
    TriangleMesh faceInput;   // a copy of `remeshed`: input of the face and displacement stages
    TriangleMesh displaced;
    TriangleMesh result;      // after simplify and cleanup
    TextureWeights stageWeights;      // on faceInput
    // Carried to displaced. After a solid relief the carrying is left to the simplify stage,
    // which runs it beside the simplification (see FinishDisplacedWeights).
    TextureWeights displacedWeights;
    HeightMap heightMap;
    PipelineSettings lastSettings;
    OccupancyGrid grid;               // of the source
    std::int32_t gridResolution = 0;
    bool gridValid = false;
    bool checksOnly = false;          // only the after-stage settings changed since the last run
    bool printChecked = false;
    PrintabilitySettings printCheckedSettings;
    bool wallsMeasured = false;
    WallSettings wallsMeasuredSettings;
    std::array<std::uint8_t, kStageCount> stageDirty{1, 1, 1, 1};
    PipelineReport report;
    // Bytes a run may use; 0 reads what the process may still take (AvailableMemoryBytes) as
    // each run starts. Tests set a figure in place of the machine's.
    std::uint64_t memoryBudgetBytes = 0;

    // Carries the weights over to `displaced` when a solid relief left that to be done; reads
    // as nothing otherwise. Every reader of displacedWeights calls it first.
    void FinishDisplacedWeights();

private:
    // What a solid relief leaves for carrying its weights over: the mesh it displaced, the tree
    // over that mesh and that mesh's weights. The simplification of `displaced` needs no
    // weights but the protected faces, and a core stays idle through most of it.
    struct PendingWeights {
        TriangleMesh source;
        std::unique_ptr<AabbTree> tree;
        TextureWeights weights;
    };
    // The simplification of `displaced` before the weights follow it.
    struct SimplifiedMesh {
        TriangleMesh mesh;
        std::vector<std::uint32_t> vertexMap;
        std::vector<std::uint32_t> faceMap;
        bool stopped = false;
    };
    SimplifiedMesh SimplifyDisplaced(const ProgressCallback& progress);

    std::unique_ptr<PendingWeights> pendingWeights_;
    // The tree over a solid relief's input, kept from the carrying of the weights until the
    // relief's distance from the result is measured.
    std::unique_ptr<AabbTree> reliefInputTree_;
    // The source as its volume is measured (MeasurePartAsMeant), made once per source.
    std::unique_ptr<MeasuredPart> measuredSource_;
    const MeasuredPart& MeasuredSource();
    // The remesh stage made `faceInput` and its distance from the source is still to measure.
    bool remeshDistanceDue_ = false;

    // Refuses (the report's `refused`, with the shown count) a run whose shown count is over
    // the triangle limit; true when refused.
    bool RefuseOverTheLimit();
    // Refuses (the report's `message`) a run whose whole estimate, or its relief's field, needs
    // more memory than the run may use (runAvailable_); true when refused.
    bool RefuseOverMemory();
    // What the run may use, read once as it starts (memoryBudgetBytes, or the machine's figure):
    // the checks before the stages and the relief's field budget take it from here.
    std::uint64_t runAvailable_ = 0;
    // Refuses (the report's `message`) a part whose box is smaller than the triangle size on
    // every side; true when the part is large enough.
    bool RefusePartBelowTriangleSize(float triangleSize);
    // Refuses (the report's `message`, naming the piece, or the part when every piece is) a part
    // with a piece lying so far out that its coordinates step too coarsely for the triangle size
    // (FindPieceTooFarOut): by more than the size, which no remesh there can keep, or, with a
    // solid relief, a part none of whose pieces lets its cell span kSolidCellFloatSteps of them
    // (a piece far from the rest gets a relief of its own scale); the refusal advises the size
    // that passes every limit of the run.
    // True when every piece lies near enough.
    bool RefusePieceTooFarOut(float triangleSize);
    // The source's distance from `faceInput` through `tree` (over `faceInput`), once per remesh.
    void MeasureRemeshDistance(const AabbTree& tree);
    // The distance of `faceInput` from the result of a relief and back, after simplify and cleanup.
    void MeasureReliefDistance();
    // Measures the part against the result (report.partChange): the openings a closed result
    // no longer has, and the volume lost; and each body of the part (report.bodyChanges).
    void MeasurePartChange();
    // Adds a problem to the validation for each distance past its allowance.
    void NoteLostSurface();
    // Adds a problem to the validation for each far piece the remesh kept as it was, untextured.
    void NoteKeptFarPieces();
    // Adds a problem to the validation for the bodies of the part the run took away or cut
    // down, the hollows it filled and the sealed voids it made; the validation's note on the
    // result's hollows keeps only those the part had.
    void NoteBodyChanges();
    // Marks the report when a relief was asked for and no face, or only a sliver of the chosen
    // surface, received texture, with a problem in the validation.
    void NoteMissedTexture(bool reliefWanted);
    // Adds a problem to the validation when the result holds triangles folded over where the
    // part had none (foldedTriangles): a result holding them is not good.
    void NoteReliefFolds();
    // Adds a note when the vertex relief's guards held a noticeable share of the texture under
    // half its depth: the user sees less relief than asked, and where.
    void NoteTextureHeldBack();

    // Run's body; `current` follows the stage at work, so that an allocation failure can
    // leave it dirty.
    bool RunStages(const ProgressCallback& progress, std::int32_t& current);
    // RunStages' steps, in order. Each returns false when the run ends there (a stop, a failure
    // or a refusal, said in the report). The stages that make the mesh: remesh, faces, relief,
    // simplify, each run when it is out of date.
    bool RunShapingStages(const ProgressCallback& progress, std::int32_t& current);
    // The cleanup, the refusal of a coordinate that is not a number, and the measurements of
    // what the relief and simplify changed.
    bool FinishResult(const std::array<std::uint8_t, kStageCount>& dirtyAtStart);
    // The validation of the result, when anything changed it.
    bool ValidateResult(const ProgressCallback& progress, const std::array<std::uint8_t, kStageCount>& dirtyAtStart,
        bool reliefWanted);
    // The walls measured after a vertex relief, when they or their settings changed.
    bool MeasureWallsAfterRelief(const ProgressCallback& progress,
        const std::array<std::uint8_t, kStageCount>& dirtyAtStart, bool reliefWanted);
    bool RunPrintCheck(const ProgressCallback& progress, bool reliefWanted);
};

}  // namespace grainforge::mesh
