// The three texts the document writes for the user, each a fixed sequence of lines: the notes
// after a Process run, the "Before saving:" checklist of the export check, and the mesh
// information of the View menu. Each is a pure function of plain inputs, so the checklist can
// run on the export dialog's worker thread with copies, and the document only routes the
// results to its log and information box.
//
// Counts are grouped by three digits with ","; the checklist and the mesh information end
// their lines with "\r\n", the run notes use "\n" as the information box shows them.
#pragma once

#include "app/document/no_window_system.h"

#include "engine/displacement/displacement_settings.h"
#include "engine/displacement/mask_volume.h"
#include "engine/displacement/occupancy_grid.h"
#include "engine/displacement/projection.h"
#include "engine/mesh/mesh_validation.h"
#include "engine/files/stl_reader.h"
#include "engine/mesh/triangle_mesh.h"
#include "engine/pipeline/pipeline_records.h"
#include "engine/textures/height_map.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace grainforge::app {

// ---- Notes after a run ---------------------------------------------------------------------

struct DocumentLogLine {
    std::string text;  // UTF-8, no line break
    int level = 0;     // 0 plain, 2 success, 3 warning, 4 error
};

struct ReliefNotes {
    std::vector<DocumentLogLine> logLines;  // in order
    bool showInformation = false;           // else the information box is left as it is
    std::string informationText;            // UTF-8, lines split by "\n"
    int informationKind = 1;                // always a warning when shown
};

// The parts of a middle size below this are small for any relief.
inline constexpr float kSmallPartMillimetres = 20.0f;
// A relief deeper than this share of the part's middle size is too deep for it.
inline constexpr float kLargestReliefShare = 0.083333336f;

// The notes of one published run: thinned walls, held vertices, held heights and removed
// pieces, the small-part warning, triangles of the result that pass through others and the
// support advice. `partSize` is the working part's box
// size (zero when its bounds are not valid); `wallThresholdMillimetres` the document's.
[[nodiscard]] ReliefNotes ReliefReportText(const grainforge::mesh::PipelineReport& report,
    grainforge::mesh::Vec3 partSize, float wallThresholdMillimetres);

// What the user must know of a published result before using it, one paragraph a line: surface
// the remesh or the relief lost, a relief that textured no face or only a sliver of the chosen
// surface (in the terms of `run`, the settings the run was started with), and a result that is
// not closed. Empty when there is nothing.
[[nodiscard]] std::string ResultWarningText(const grainforge::mesh::PipelineReport& report,
    const grainforge::mesh::PipelineSettings& run);

// The box size of the mesh's stored bounds, zero when they are not valid.
[[nodiscard]] grainforge::mesh::Vec3 BoundsSize(const grainforge::mesh::TriangleMesh& mesh);

// ---- Before saving -------------------------------------------------------------------------

// Appends "  ok      " or "  PROBLEM " + line + "\r\n"; a failed line clears `allPassed`.
void AppendCheckLine(std::string& text, bool& allPassed, bool passed, const std::string& line);

// Which mesh a checklist judges: the mesh as shown, which Process and Check Printability
// judged too, or that mesh as the export's own cleanup and fixes changed it, whose counts may
// differ from theirs (the heading then says so).
enum class CheckedMesh : std::uint8_t { asShown, afterFixes };

// The checklist of the mesh about to be written, with the base fields copied when the export
// was prepared: watertight, manifold, no empty, reversed or duplicate triangles, no closed body
// without volume (BodyVolume), right way out, nothing passing through itself, folds counted as
// the repair counts them, nothing below the base plane, nothing needing support. Fills `text`
// and gives true when every check line passed. Reads only its arguments; an allocation failure
// ends the list with a failed line instead of escaping.
bool BeforeSavingReport(const grainforge::mesh::TriangleMesh& mesh, const grainforge::mesh::BaseProtection& base,
    std::string& text, CheckedMesh checked = CheckedMesh::asShown);

// The triangles' corner positions, in order, hashed: the same for a mesh that the export's
// cleanup, fixes and read-back left as it was (they renumber vertices, not triangles), and in
// all likelihood different for one they changed.
[[nodiscard]] std::uint64_t TriangleFingerprint(const grainforge::mesh::TriangleMesh& mesh);

// ---- Mesh information ----------------------------------------------------------------------

// The measured figures of a displayed mesh, cached by the document (keyed by the mesh, its
// index count and the document's change counter).
struct MeshMeasurements {
    grainforge::mesh::EdgeCounts edges;
    float volume = 0.0f;  // absolute, cubic millimetres
    float surfaceArea = 0.0f;
    std::uint64_t bodies = 0;  // connected pieces
};

[[nodiscard]] MeshMeasurements MeasureMesh(const grainforge::mesh::TriangleMesh& mesh);

// What the mesh information shows, copied or pointed to by the document. Null pointers and
// empty fields leave their sections out.
struct MeshInformationInputs {
    bool hasPart = false;  // the working part has vertices and triangles
    const grainforge::mesh::TriangleMesh* displayMesh = nullptr;
    const grainforge::mesh::ValidationReport* validation = nullptr;  // CurrentValidation
    // The part as loaded is on display (Outer / Inner, a handle tool) while a processed result
    // is current: the verdict is the part's, and its heading says so, so that it is not read as
    // the result's beside a warning on the result.
    bool partShownForResult = false;
    MeshMeasurements measurements;
    std::filesystem::path partSourcePath;
    // The surface-test grid and its last classification; left out without a built grid or
    // without a classification.
    const grainforge::mesh::OccupancyGrid* surfaceGrid = nullptr;
    const grainforge::mesh::SurfaceClassReport* surfaceClasses = nullptr;  // one march a triangle
    bool detailedLog = false;
    grainforge::mesh::StlFormat fileFormat = grainforge::mesh::StlFormat::Unrecognised;
    // "cube", "cylinder" or "sphere" for a made test shape, which has no file format; empty for
    // a part from a file.
    std::string testShapeName;
    std::uint64_t bodies = 0;  // of the mesh on display
    // With a procedural texture: DescribeParameters of its parameters and the rendered size.
    bool hasProceduralTexture = false;
    std::string proceduralDescription;
    std::int32_t renderedWidth = 0;
    std::int32_t renderedHeight = 0;
    grainforge::mesh::Projection projection = grainforge::mesh::InitProjection();
    grainforge::mesh::TextureSettings textureSettings;
    std::vector<grainforge::mesh::MaskVolume> masks;
    // The bed's height in the part's own coordinates (its lowest point as placed): the mask
    // panel's Z is measured up from it, the bounding box is not.
    float bedHeight = 0.0f;
    grainforge::mesh::SamplingReport sampling;
    std::vector<std::string> importWarnings;
    bool partChangedSinceRead = false;  // a mesh job replaced the part the warnings describe
};

// The whole report, "\r\n" line ends: verdict, part, texture detail and "Details", surfaces,
// file and counts, bounding box, measurements, procedural texture, texture placement, masks,
// topology and import warnings.
[[nodiscard]] std::string MeshInformationReport(const MeshInformationInputs& inputs);

}  // namespace grainforge::app
