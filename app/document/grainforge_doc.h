// The one document of the program: the part and its placement, the texture, the mask volumes,
// the stage settings with undo and redo, and the asynchronous pipeline that turns them into a
// textured part. One instance lives for the whole run; New and opening a part reuse it. The
// view, the shell and the workflow pane read its members and call its operations on the
// user-interface thread only; it reaches them only through its `DocumentHost`.
//
// The class is split by concept over several sources: state and defaults
// (grainforge_doc.cpp), the command table (doc_commands.cpp), driving Process
// (doc_process.cpp), parts and placement (doc_parts.cpp), mapping and masks
// (doc_mapping.cpp), undo and redo (doc_undo.cpp), height-map loading and the texture settings
// (doc_height_map.cpp), the texture hand-over with the procedural pattern (doc_texture.cpp),
// the project file (doc_project.cpp), the checks, export and reports (doc_export.cpp) and the
// modal mesh jobs (doc_jobs.cpp).
//
// References to meshes the document returns (CurrentDisplayMesh) may point into the pipeline's
// stage state, which belongs to the worker once a run starts: they are valid until the next
// RequestProcess, poll, part change or undo. `displayMesh` and the keys that hold a mesh
// pointer are only ever compared, never followed.
#pragma once

#include "app/document/command_entry.h"
#include "app/document/document_host.h"
#include "app/document/document_reports.h"
#include "app/document/edit_state.h"
#include "app/document/file_identity.h"
#include "app/document/mesh_jobs.h"
#include "app/document/procedural_render_size.h"
#include "app/document/no_window_system.h"
#include "app/document/texture_image_filter.h"
#include "app/document/user_folders.h"

#include "engine/displacement/displacement_settings.h"
#include "engine/displacement/mask_volume.h"
#include "engine/displacement/occupancy_grid.h"
#include "engine/displacement/projection.h"
#include "engine/displacement/texture_weights.h"
#include "engine/mesh/export_cleanup.h"
#include "engine/files/json_settings.h"
#include "engine/mesh/mesh_validation.h"
#include "engine/mesh/placement.h"
#include "engine/repair/repair_driver.h"
#include "engine/files/stl_reader.h"
#include "engine/mesh/triangle_mesh.h"
#include "engine/pipeline/async_pipeline.h"
#include "engine/pipeline/pipeline_records.h"
#include "engine/pipeline/printability_check.h"
#include "engine/remesh/flat_simplify.h"
#include "engine/remesh/remesh_settings.h"
#include "engine/textures/height_map.h"
#include "engine/textures/procedural_texture.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace grainforge::app {

struct ProjectData;

// Sizes 0, no pixels, no mid value; the settings and the name stay.
void EmptyHeightMap(grainforge::mesh::HeightMap& map);

// A copy of the map for the pipeline to own. Its pixels are shared with `map` (and with the
// undo snapshots that share them) until either side takes new ones; shared pixels are never
// written, so the pipeline's worker reads them while the document goes on editing its map.
[[nodiscard]] grainforge::mesh::HeightMap CopyTextureRecord(const grainforge::mesh::HeightMap& map);

// Wrap follows the tiling: clamp when the texture does not repeat, mirror for the "Mirror"
// seamless method (it repeats only every second tile), repeat otherwise.
void ApplyWrapRule(grainforge::mesh::TextureSettings& settings);

// Asked when a loaded image looks like a normal map: Yes and No convert it with green up or
// down, Cancel uses it as it is.
inline constexpr const wchar_t* kNormalMapQuestion =
    L"This image looks like a normal map: mostly blue, with red and green centred. A normal map "
    L"stores the surface's slope, not its height, but the height can be integrated from it.\n\n"
    L"Yes:  convert it, green pointing up the image (OpenGL style, the common one)\n"
    L"No:   convert it, green pointing down the image (DirectX style)\n"
    L"Cancel:  use the image as it is";

// The printability check the document runs, after Process and from Check Printability: the
// same printer everywhere; only Check Printability keeps the layers for the view's colours.
// The file dialog's types for a texture image: every format the image reader takes.
inline const std::wstring kTextureImageFilter = TextureImageDialogFilter();

mesh::PrintabilitySettings DocumentPrintability(std::int32_t upAxis, bool collectDisplay);

// What a text in the information box reports. Each text is shown for one event, and a later
// event takes away what it makes stale: a run started or a new part (opened, made, placed or
// replaced by a job) takes every earlier text, and a new texture every text but the words on a
// save, which it answers no more than an edit does; moving or resizing the texture on the part,
// or any other edit of what Process reads, takes the verdicts on the result and the part (run
// and check), which no longer describe what Process would make, and the note that the project
// was saved; a save takes only an earlier word on a save of the same file kind, since writing a
// file changes nothing it reports on. What changes nothing takes only an earlier word on its own
// kind: a refused or failed run an earlier word on a run, a job that left the part as it was an
// earlier word on a job. An undo or a redo takes only what its own step makes stale: never the
// word of a job that replaced the part's mesh, which the edit history does not hold. The
// warnings of a run's result are not words on an event: they stand while that result is
// current (CGrainforgeDoc::ShowResultWordsWhileCurrent).
enum class InfoEvent : std::uint8_t {
    view,        // a view's text (a display limit, a texture the graphics card refused)
    run,         // Process started (a word a test shows for a run takes what a run takes)
    check,       // Check Printability, and the busy text of Repair and the input-mesh jobs
    save,        // a save of the part (STL): written, or why not
    part,        // a part opened, made, replaced by a job or placed; or why it could not be opened
    texture,     // a texture picked, loaded or rendered; or why it could not be
    placement,   // the texture moved, turned, zoomed or resized on the part
    note,        // a command that changed nothing (a fit with nothing to do, files left alone)
    project,     // a save of the project: saved, or why not
    edit,        // any other edit of the document (a setting, a switch, a mask, an undo)
    partJob,     // Repair and the input-mesh jobs: what they did to the part's mesh, or why not
    runRefused,  // Process refused before it ran (triangle limit, memory), or a run that failed
};

// What the mesh Save STL writes is: a result with relief, a result without (no relief asked,
// or no face took texture), or the part as loaded (nothing processed with the current settings).
enum class SavedMesh : std::uint8_t { textured, untexturedResult, partAsLoaded };

// Whether the event `later` takes away a text of `kind` shown for the event `shown`.
[[nodiscard]] bool InformationGoesWith(InfoEvent later, InfoEvent shown, int kind);

class CGrainforgeDoc {
public:
    // Every member at the values of File > New, the part empty.
    explicit CGrainforgeDoc(DocumentHost host = {});
    // The pipeline's destructor cancels a run and waits for its worker.
    ~CGrainforgeDoc() = default;
    CGrainforgeDoc(const CGrainforgeDoc&) = delete;
    CGrainforgeDoc& operator=(const CGrainforgeDoc&) = delete;

    // ---- Channels ------------------------------------------------------------------------
    void SetHost(const DocumentHost& newHost) { host = newHost; }
    [[nodiscard]] const DocumentHost& Host() const { return host; }

    // ---- Document frame: modified flag, title, path ----------------------------------------
    [[nodiscard]] bool IsModified() const { return modified; }
    void SetModifiedFlag(bool value);
    [[nodiscard]] const std::wstring& GetTitle() const { return title; }
    void SetTitle(const std::wstring& value);
    [[nodiscard]] const std::filesystem::path& GetPathName() const { return pathName; }
    void SetPathName(const std::filesystem::path& value);
    void UpdateAllViews(int hint);

    // File > New: empties the part (DeleteContents), then the New defaults. Always true.
    bool OnNewDocument();
    // File > Open for a part file: a project (".gfproj") is opened as a project; anything else
    // is read as STL. On success the path is set, the modified flag
    // cleared and the file added to the recent files. A failure leaves the document exactly
    // as it was: part, settings, texture, history, title, path and modified flag.
    bool OpenDocument(const std::filesystem::path& path);
    bool OnOpenDocument(const std::filesystem::path& path);
    // Empties the part and its placement, projection (but the box blend), masks and reports;
    // keeps settings, switches, limits and the texture.
    void DeleteContents();
    // The New values of every setting, an empty texture and an empty history.
    void ResetSettingsToDefaults();

    // ---- Logging -------------------------------------------------------------------------
    // One line at a level; with the detailed log off its timings are removed first, and a line
    // that only held timings is dropped. Nothing without a log.
    void LogMessage(std::string_view utf8, int level) const;
    // Each line of the text at level 0.
    void LogUtf8Lines(std::string_view utf8) const;
    // Shows `text` in the information box as the word on `event`; an empty text clears it.
    void ShowInformation(const std::wstring& text, int kind, InfoEvent event) const;
    // The views' entry: a text that only a run or a new part or texture takes away.
    void ShowInformation(const std::wstring& text, int kind) const { ShowInformation(text, kind, InfoEvent::view); }
    // `event` happened: a text it makes stale leaves the information box.
    void NoteEvent(InfoEvent event) const;
    [[nodiscard]] bool IsDetailedLogOn() const;

    // ---- Commands ------------------------------------------------------------------------
    // The document's commands with their update rules, for the window layer to route.
    [[nodiscard]] CommandTable Commands();
    // A part is loaded: the working part has vertices and indices.
    [[nodiscard]] bool HasPart() const;
    [[nodiscard]] bool IsHeightMapLoaded() const;

    // ---- Driving Process -------------------------------------------------------------------
    [[nodiscard]] grainforge::mesh::PipelineSettings BuildPipelineSettings() const;
    // The mesh to show and validate (see the note at the top on how long it stays): the part
    // as loaded while a handle tool or the Outer / Inner view is on, else ResultOrPart.
    [[nodiscard]] const grainforge::mesh::TriangleMesh& CurrentDisplayMesh() const;
    // The mesh Save STL writes, whatever the view shows: the current result, the published one
    // while a run goes, or the part as loaded while the result is out of date.
    [[nodiscard]] const grainforge::mesh::TriangleMesh& ResultOrPart() const;
    [[nodiscard]] bool IsResultCurrent() const;
    [[nodiscard]] bool IsResultOutOfDate() const;
    [[nodiscard]] bool NeedsProcessing() const;
    // The refused texts the windows' fields hold (none without a host that has fields): a
    // section holding one is not up to date, and Process, which would be refused, says why.
    [[nodiscard]] std::vector<HeldRefusal> HeldRefusals() const;
    // Workflow steps 0 Mapping, 1 Texture, 2 Relief, 3 Simplify.
    [[nodiscard]] bool StepHasPendingChanges(int step) const;
    [[nodiscard]] bool StageFromProgressText(int step) const;
    [[nodiscard]] std::wstring StatusText() const;
    void RequestProcess();
    void OnMeshProcess() { RequestProcess(); }
    // The refresh every edit ends in.
    void UpdatePreview();
    [[nodiscard]] grainforge::mesh::TextureWeights ComputeDisplayWeights(
        const grainforge::mesh::TriangleMesh& mesh);
    [[nodiscard]] const grainforge::mesh::TextureWeights& DisplayProjectionData();
    // The projection, as last weighed on the mesh on display (every edit's preview and each run
    // weigh it), gives no face texture: its sides and surfaces take none of the part's faces.
    // False while no weighing of that mesh is at hand.
    [[nodiscard]] bool MappingReachesNoFace() const;
    // The mesh to save is a current result of a run that asked for a relief and on which no
    // face took texture: the part without relief.
    [[nodiscard]] bool SavedResultCarriesNoTexture() const;
    // What Save STL would write now, for the name it proposes.
    [[nodiscard]] SavedMesh SavedMeshKind() const;
    // Every idle pass: true when a run was reported.
    bool PollPipeline();
    // Blocks until the result is up to date at full quality, then reports it.
    void RunPipelineNow();
    void OnPipelineFinished();
    [[nodiscard]] std::wstring OutOfDateReasons() const;
    // Whether the last run's sampling measure (triangle size against the texture's mm/pixel)
    // still describes the texture, its placement, the remesh and the relief now set.
    [[nodiscard]] bool IsRunSamplingCurrent() const;
    void ReportOutOfDate();
    // Logs the relief's notes of the run just published; the text for the information box
    // (empty for none).
    [[nodiscard]] std::string LogReliefNotes();
    // Shows or takes away the result's warnings as the result they belong to becomes current
    // or stale (an edit, an undo, a run started or ended).
    void ShowResultWordsWhileCurrent() const;

    // ---- Parts, test shapes and placement --------------------------------------------------
    bool ImportStl(const std::filesystem::path& path);
    void InstallLoadedPart();
    // A made part; shapeName is "cube", "cylinder" or "sphere" for a test shape, else empty.
    void InstallGeneratedPart(grainforge::mesh::TriangleMesh mesh, const std::string& name,
        const std::wstring& newTitle, const std::string& logLine, const std::string& shapeName = {});
    void OnFileTestShapeCube();
    void OnFileTestShapeCylinder();
    void OnFileTestShapeSphere();
    void ComputeRestingFaces();
    bool LayOnFace(int index);
    void CarryMasksWithPart(const grainforge::mesh::Transform3x4& newTransform);
    void RebuildWorkingPart();

    // ---- Mapping, masks and sides ----------------------------------------------------------
    void FitMappingToModel();
    // Mapping > Fit to Model: the fit, and the preview brought up to date when it moved the cage;
    // when the cage already fit, nothing changes and the user is told so. False in that case.
    bool OnMappingFitToModel();
    // The cage moved, turned or resized in the view: the texture's placement changed.
    void SetProjectionCage(const grainforge::mesh::CageFrame& cage);
    void SetSidePlacement(int side, const grainforge::mesh::ProjectionLayer& placement);
    void SetSurfacesMode(int mode);
    void UpdateMaskVolume(int index, const grainforge::mesh::MaskVolume& volume);
    void DeleteMaskVolume(int index);
    // Adds the volume at the end of the list and selects it, as its own undo step; its index.
    // A part takes at most kMaximumMaskVolumes: past that nothing is added, the user is told
    // why, and the answer is -1.
    int AddMaskVolume(grainforge::mesh::MaskVolume volume);
    // A copy of the volume beside it, through AddMaskVolume; -1 for no such volume, or at the limit.
    int DuplicateMaskVolume(int index);

    // ---- Undo and redo ---------------------------------------------------------------------
    [[nodiscard]] EditState CaptureEditState() const;
    void RestoreEditState(const EditState& state);
    void NoteEdit();
    void BeginEdit();
    void CommitPendingEdit();
    void OnEditUndo();
    void OnEditRedo();
    void ResetUndoHistory();

    // ---- Height-map loading and texture settings ---------------------------------------------
    // Loads the image as the texture (asking first when it looks like a normal map). A file
    // that does not load leaves the texture as it was, says why in the information box and
    // gives false. Its seams and levels are logged unless the caller logs them once its own
    // settings are in place.
    bool LoadHeightMap(const std::filesystem::path& path, bool logSettings = true);
    // Edited settings: levels, tiling, size, blur, the seamless method (remembered per image).
    void ApplyTextureSettings(const grainforge::mesh::TextureSettings& newSettings);
    // The library roots the host's folders name (factory first, the user root last); empty
    // without folders.
    [[nodiscard]] LibraryRoots LibraryRootsOfHost() const;
    // After a write of a library list (`fileName` in the user's "custom" folder) gave `written`:
    // when it was refused because the user's copy does not read as a list, the log says so, and
    // that it is kept as it is.
    void NoteLibraryListWrite(bool written, std::string_view fileName) const;
    // Where the program keeps its own files: the host's places and the library's (LibraryPlaces).
    // No save writes over a file there (IsProgramFile).
    [[nodiscard]] ProgramPlaces ProgramPlacesOfHost() const;

    // ---- Texture hand-over and the procedural pattern ------------------------------------
    // Hands the texture to the pipeline only when its pixels or settings changed since the
    // last hand-over.
    void SyncTextureToPipeline();
    void RefreshProceduralTexture(bool force);
    // The current pattern's values and render size in the log.
    void LogProceduralTexture() const;
    // The image texture's seams and levels in the log, said to be the project's when it set them.
    void LogImageTexture(bool asProjectHasIt) const;
    // What a preset read held that was not used (PresetWordsNotUsedText), logged as a warning
    // and returned, wherever the preset was loaded, so the log says it in one wording; empty,
    // with nothing logged, when all of it was used.
    std::string LogPresetWordsNotUsed(const PresetResult& read, std::string_view presetName) const;
    // LogPresetWordsNotUsed for the presets a dialog loads.
    [[nodiscard]] PresetReadNote PresetReadLogger() const;
    // Makes the pattern current under the preset name and renders it, and logs it unless the
    // caller logs it once its settings are in place. Null does nothing.
    void RenderProceduralTexture(std::unique_ptr<grainforge::mesh::procedural::ProceduralTexture> pattern,
        const std::wstring& presetName, bool log = true);
    // The size the current placement needs the pattern rendered at.
    [[nodiscard]] ProceduralImageSize ProceduralRenderSize() const;
    // Lays one tile over the whole part on every layer, for a texture that does not repeat.
    void FitSingleTile();
    // Commands 32857..32880: the pattern of that index, through the procedural dialog.
    void OnProceduralPattern(int commandId);
    void RebuildSurfaceTestGrid();
    [[nodiscard]] const std::vector<std::uint8_t>& SurfaceClassification();

    // Command 32881: the current pattern through the procedural dialog.
    void OnProceduralSettings();
    // Command 32819: an image chosen in the open-file prompt, loaded as the texture and, when
    // it loaded, put first in the library's list of images loaded from disk.
    void OnTextureLoadFromDisk();

    // ---- Commands of later work (project file, checks, export, mesh jobs) --------------------
    void OnFileSaveStl(bool ascii);
    void SetSurfaceTestGridResolution(int cells);
    void OnFileOpenProject();
    void OnFileSaveProject();
    void OnFileSaveProjectAs();
    void OnMeshValidate();
    void OnMeshCheckPrintability();
    void OnMeshRepair();
    void OnMeshRepairWithWindows();
    void OnMeshSimplifyInput();
    void OnMeshRemeshInput();

    // ---- Project file (doc_project.cpp) ----------------------------------------------------
    // Writes the project at `path`, and a part changed by a mesh job beside it under a free
    // name. False (with the reason logged and shown) when nothing was saved, among others when
    // `path` reaches the part's file or the texture image; the old files stay as they were.
    bool SaveProject(const std::filesystem::path& path);
    // Reads the project and takes up its work: part, texture, settings. False when the
    // project could not be read or its part could not be had.
    bool OpenProject(const std::filesystem::path& path);
    // Before New, Open and closing: true when the work may be dropped (saved, or not wanted).
    bool SaveModified();

    // ---- Checks and export (doc_export.cpp) -------------------------------------------------
    struct ExportPlan {
        grainforge::mesh::TriangleMesh mesh;
        grainforge::mesh::ExportCleanupOptions cleanup{true, true, 5.0f, 0.5f};
        std::int32_t choice = 0;
    };
    // The validation that applies to what is shown: the result's while it is current and on
    // display, else the part's.
    [[nodiscard]] const grainforge::mesh::ValidationReport& CurrentValidation() const;
    // Check Printability's findings while the mesh they were made for is the one shown, else
    // null: a result put out of date takes its layers and colours with it.
    [[nodiscard]] const grainforge::mesh::PrintabilityReport* CurrentPrintCheck() const;
    // Runs the pipeline to a full result and shows the export dialog; true when it accepted.
    bool PrepareExport(ExportPlan& plan, bool ascii = false);
    // Writes the plan's mesh (durable replace, read back). False logged and shown. Written over
    // the file the part came from, the part counts as changed since it was opened.
    bool WriteStl(const std::filesystem::path& path, bool ascii, const ExportPlan& plan);
    // What the file at `path` is when an STL must not be written there, for people ("the open
    // project", "the loaded texture image", "a preset file", "one of the program's own files";
    // seen through links and hard links), or empty: STL bytes would replace it without the
    // document counting as changed.
    [[nodiscard]] std::string StlTargetRefusal(const std::filesystem::path& path) const;
    bool SaveStlAs();
    void OnFileSaveAsciiStl();
    // The framework's save: a project, or the STL (never over the loaded file without asking).
    bool OnSaveDocument(const std::filesystem::path& path);
    // Commands 32897..32899.
    void OnTestGridResolution(int commandId);
    void ClearInfoBox() const;
    // The View menu's mesh information ("\r\n" line ends).
    [[nodiscard]] std::string MeshInformationReport();

    // ---- Modal mesh jobs (doc_jobs.cpp) -----------------------------------------------------
    // Runs the job through the host's runner; false when it was stopped or could not run.
    bool RunModalJob(const MeshJob& job);
    bool RepairMeshInPlace();
    // The repair service of another system; unavailable here, so it says so and returns false.
    bool FixMeshWithWindows();
    bool SimplifyInputMesh();
    bool RemeshInputMesh(const grainforge::mesh::RemeshSettings& settings);
    // Validates the mesh on display (after running the pipeline) into the matching report.
    void ValidatePart();

    // ======================================================================================
    // State, read by the view, the shell and the workflow pane (user-interface thread only).

    // Part
    grainforge::mesh::TriangleMesh loadedPart;
    grainforge::mesh::Transform3x4 partTransform;
    grainforge::mesh::TriangleMesh workingPart;
    grainforge::mesh::StlImportReport importReport;
    std::wstring partSourcePath;
    std::string testShapeName;
    bool partChangedSinceOpened = false;
    // Raised whenever the working part is replaced or rebuilt, so views can tell a new part.
    std::uint32_t partGeneration = 0;
    std::vector<grainforge::mesh::RestingFace> restingFaces;

    // Texture and placement
    grainforge::mesh::HeightMap heightMap;
    std::unique_ptr<grainforge::mesh::procedural::ProceduralTexture> proceduralTexture;
    std::wstring proceduralPresetName;
    std::wstring textureImagePath;
    std::uint32_t pixelGeneration = 0;
    std::uint32_t pipelinePixelGeneration = 0;
    std::int32_t handedOverGeneration = -1;
    grainforge::mesh::TextureSettings handedOverSettings;
    grainforge::mesh::Projection projection = grainforge::mesh::InitProjection();
    grainforge::mesh::ProjectionLayer dragBaseLayers[grainforge::mesh::kBoxSideCount];
    std::vector<grainforge::mesh::MaskVolume> maskVolumes;
    int selectedMask = -1;

    // Stage settings
    grainforge::mesh::RemeshSettings remeshSettings;
    grainforge::mesh::DisplacementSettings displacementSettings;
    grainforge::mesh::SimplifySettings simplifySettings;
    bool remeshOn = true;
    bool displacementOn = true;
    bool simplifyOn = true;
    std::uint64_t maximumTriangles = 18000000;
    std::uint64_t displayTriangles = 4000000;
    grainforge::mesh::ExportCleanupOptions exportCleanupOptions;
    grainforge::mesh::RepairOptions exportFixes;
    int surfaceTestCells = 256;
    grainforge::mesh::OccupancyGrid surfaceTestGrid;

    // Pipeline and results
    grainforge::mesh::AsyncPipeline pipeline;
    grainforge::mesh::PipelineSettings runSettings;
    grainforge::mesh::PipelineSettings shownRunSettings;
    struct StageMark {
        std::int32_t stage = grainforge::mesh::kStageNone;
        bool hasStage = false;
    } runStartStage;
    std::uint32_t textureHandOvers = 0;
    std::uint32_t textureHandOversAtStart = 0;
    std::uint32_t textureHandOversShown = 0;
    grainforge::mesh::PipelineReport runReport;
    bool runStartedByProcess = false;
    bool resultWasCurrent = false;

    // Display and checks
    bool handleToolActive = false;
    bool surfaceViewActive = false;
    const grainforge::mesh::TriangleMesh* displayMesh = nullptr;  // compared, never followed
    grainforge::mesh::TextureWeights displayWeights;
    struct WeightsKey {
        const grainforge::mesh::TriangleMesh* mesh = nullptr;
        std::size_t indexCount = 0;
        std::uint32_t settingsVersion = 0;
    } displayWeightsKey;
    std::uint32_t settingsVersion = 0;
    grainforge::mesh::ValidationReport partValidation;
    // The open and non-manifold edges Mesh > Repair left in the loaded part when it last ran, and
    // that part's TriangleFingerprint: the validation's notes on them say so only of that very
    // part, and need no Repair run on a copy to know what Repair leaves of a part it gave back
    // (its rounds ran until one changed nothing), unless its round limit stopped it.
    struct RepairLeft {
        std::uint64_t fingerprint = 0;
        std::uint64_t openEdges = 0;
        std::uint64_t nonManifoldEdges = 0;
        bool nonManifoldKnown = false;
        bool valid = false;
    } repairLeft;
    // The validation options of the part placed: PartValidationOptions of the loaded part, with
    // what Repair left in it when it last ran on it.
    [[nodiscard]] grainforge::mesh::ValidationOptions WorkingPartValidationOptions() const;
    grainforge::mesh::ValidationReport resultValidation;
    const grainforge::mesh::TriangleMesh* resultValidationMesh = nullptr;  // compared only
    std::uint64_t runsReported = 0;
    std::uint64_t resultValidationRun = 0;
    grainforge::mesh::PrintabilityReport printCheckReport;
    struct PrintCheckKey {  // the mesh the print check was made for, compared only
        const grainforge::mesh::TriangleMesh* mesh = nullptr;
        std::size_t indexCount = 0;
        std::uint64_t run = 0;
        std::uint32_t partGeneration = 0;
        bool operator==(const PrintCheckKey&) const = default;
    } printCheckKey;
    [[nodiscard]] PrintCheckKey ShownMeshKey() const;
    std::vector<std::uint8_t> surfaceClasses;   // cache of SurfaceClassification
    int surfaceClassesCells = 0;
    bool surfaceClassesValid = false;

    // Undo and redo
    std::vector<EditState> undoStack;
    std::vector<EditState> redoStack;
    EditState undoBase;
    bool editPending = false;
    bool restoringEdit = false;
    EditHistoryLimits historyLimits;

    std::wstring projectPath;
    // The project file as this window last opened or saved it: Save Project asks before it
    // replaces a file another save wrote over since.
    FileLeft projectLeft;
    // What the open project holds that this program does not read, for its saves to write back
    // as it was: its members not read (a mask volume's travel on the volume itself), and a
    // pattern this program does not know, kept until another texture takes its place; the
    // snapshots carry the pattern, so Undo brings it back.
    struct ProjectKept {
        std::shared_ptr<const grainforge::mesh::JsonValue> members;
        KeptPattern pattern;
    } projectKept;

    // Mesh information measurements, keyed by the mesh they describe (compared only).
    struct MeasurementKey {
        const grainforge::mesh::TriangleMesh* mesh = nullptr;
        std::size_t indexCount = 0;
        std::size_t vertexCount = 0;
        std::uint64_t runs = 0;
        std::uint64_t partChanges = 0;
        bool valid = false;
    } measurementKey;
    MeshMeasurements measurements;
    // Counts replacements of the loaded part by a mesh job.
    std::uint64_t partChanges = 0;
    // partChanges when the part was last read from its file: the import warnings describe that
    // part, not one a job made of it since.
    std::uint64_t partChangesAtRead = 0;

private:
    // Whether what the windows' fields show was taken (ITypedEntries); when one refuses, it is
    // said with `consequence` and the caller does nothing.
    [[nodiscard]] bool TypedEntriesTaken(const std::wstring& consequence);
    // SaveProject's work, telling a target refused because it is a file the project takes in
    // (its part, its texture image) from the other failures: Save Project As then asks again.
    enum class ProjectSave { saved, failed, targetIsInput };
    // `replaceAgreed`: the user chose the file in a save dialog, which asked before replacing it.
    ProjectSave SaveProjectAt(const std::filesystem::path& path, bool replaceAgreed);
    // Whether the project may be written at `path`: true unless it is the open project's file
    // and another save (another window, another program) wrote over it since this window opened
    // or saved it, and the user, asked, keeps that file; then that is said and nothing is written.
    bool MayReplaceOpenProjectFile(const std::filesystem::path& path);
    // OpenProject's steps, in order: read the file (false, said, when it cannot be), open its part
    // (false when there is none to open), install its texture, take up its settings, then say
    // together what the opening could not keep as saved.
    struct ProjectTextureOutcome {
        bool installed = false;
        bool missing = false;
        bool unreadable = false;  // there, but not an image this program reads
        bool unknownPattern = false;  // a pattern this program does not know, kept to save back
    };
    bool ReadProjectToOpen(const std::filesystem::path& path, ProjectData& data);
    bool OpenProjectPart(const std::filesystem::path& path, const ProjectData& data);
    // Says that the project at `path` was not opened, and why, when nothing of it was taken up.
    void RefuseProjectOpening(const std::filesystem::path& path, const std::string& reason);
    ProjectTextureOutcome InstallProjectTexture(ProjectData& data);
    void ApplyProjectSettings(const ProjectData& data);
    void ShowProjectOpeningWarnings(const ProjectData& data, const ProjectTextureOutcome& texture);
    // The files a project must never be written over: its own part and texture image, and every
    // preset file; what each is, for people ("its own part").
    [[nodiscard]] std::vector<KeptFile> FilesAProjectKeeps() const;
    // What the file at `path` is when a project must not be written there: one of
    // FilesAProjectKeeps or of the program's own files; empty when it may.
    [[nodiscard]] std::string ProjectTargetRefusal(const std::filesystem::path& path) const;
    // The STL save dialog, again after a refused name, then WriteStl; false when cancelled or
    // not written.
    bool AskAndWriteStl(FileDialogRequest request, bool ascii, const ExportPlan& plan);
    // After an STL save: when `saved` is the file the part came from, that file no longer
    // holds the part as opened, so the part counts as changed and the next project save
    // writes it beside the project.
    void NoteSaveOverPartFile(const std::filesystem::path& saved);
    // Shared end of the jobs that replace the part: installs `mesh` as the loaded part,
    // validates and logs, refreshes.
    void TakeJobResult(grainforge::mesh::TriangleMesh mesh);
    // The image of a project's texture as the current texture; false when it cannot be read.

    // Hands a copy of the working part to the pipeline, discarding a run that was going.
    void ReplacePipelineSource();
    // Shared by install and rebuild: the relief base plane on the part's lowest z.
    void SeatReliefBase();
    // The stage a run with `settings` would start at; only while no worker runs.
    [[nodiscard]] grainforge::mesh::StaleStage StageToRerun(
        const grainforge::mesh::PipelineSettings& settings) const;
    // The weights of the shown result, keyed to the current display mesh when it is current.
    void BindResultWeights();
    // Logs the finished run's report lines.
    void LogRunReport(const grainforge::mesh::PipelineReport& report) const;
    // Whether applying the snapshot changes the texture (pixels, settings, pattern, image).
    [[nodiscard]] bool TextureDiffersFrom(const EditState& state) const;
    // The snapshot's pattern, preset, image path and height map, with its pixel generation.
    void PutBackTexture(const EditState& state);
    // The run's validation bound to the mesh it describes, when that mesh is on display.
    void BindResultValidation(const grainforge::mesh::PipelineReport& report);
    // Takes a step off `from`, pushes the base onto `to` and applies the step.
    void StepHistory(std::vector<EditState>& from, std::vector<EditState>& to);

    DocumentHost host;
    bool modified = false;
    std::wstring title = L"Untitled";
    std::filesystem::path pathName;

    // The information box holds the words on events and a view's note (a display limit) side
    // by side. A warning or an error stays until an event takes away what it reports on (a
    // later word on such an event as grave as it, or the change itself); a note goes with the
    // next text. So a note never hides a warning or an error that still holds: it is added
    // under it.
    struct InformationText {
        std::wstring text;
        int kind = 0;
        InfoEvent event = InfoEvent::view;
    };
    // Shows the words and the view's note, the gravest first, the older first among equals.
    void ShowComposedInformation() const;
    // Whether `event` takes `word` away (InformationGoesWith, but an undo or redo keeps a job's).
    bool EventTakesWord(InfoEvent event, const InformationText& word) const;
    // Drops the words `event` takes away; true when one went.
    bool DropInformationTakenBy(InfoEvent event) const;

    mutable std::vector<InformationText> eventWords;
    mutable InformationText viewNote;
    // The warnings of the last run Process reported (kind 1), shown while its result is
    // current, and whether the box last showed them.
    std::wstring resultWords;
    mutable bool resultWordsShown = false;
    [[nodiscard]] bool ResultWordsStand() const;
};

}  // namespace grainforge::app
