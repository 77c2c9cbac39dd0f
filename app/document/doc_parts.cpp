#include "app/document/document_commands.h"
#include "app/document/field_ranges.h"
#include "app/document/file_identity.h"
#include "app/document/grainforge_doc.h"
#include "app/document/log_text.h"
#include "app/document/project_file.h"

#include "engine/mesh/test_shapes.h"

#include <chrono>
#include <new>

namespace grainforge::app {

namespace mesh = grainforge::mesh;

namespace {

constexpr float kTestShapeSize = 20.0f;

mesh::TriangleMesh CopyWithTransform(const mesh::TriangleMesh& part, const mesh::Transform3x4& t)
{
    mesh::TriangleMesh copy = part;
    mesh::TransformMesh(copy, t);
    return copy;
}

}  // namespace

// Every file is taken in by an absolute name: one given relative to the current folder (the
// command line) would otherwise be stored so in a project and in the recent files, and lead
// elsewhere from anywhere else.
bool CGrainforgeDoc::OpenDocument(const std::filesystem::path& given)
{
    const std::filesystem::path path = AbsoluteFileName(given);
    if (!OnOpenDocument(path))
        return false;
    SetPathName(path);
    SetModifiedFlag(false);
    if (host.recentFiles != nullptr)
        host.recentFiles->AddRecentFile(path);
    return true;
}

bool CGrainforgeDoc::OnOpenDocument(const std::filesystem::path& given)
{
    const std::filesystem::path path = AbsoluteFileName(given);
    if (IsProjectPath(path))
        return OpenProject(path);
    return ImportStl(path);
}

bool CGrainforgeDoc::ImportStl(const std::filesystem::path& given)
{
    const std::filesystem::path path = AbsoluteFileName(given);
    const BusyScope busy(host.busy);
    LogMessage("Opening " + PathToUtf8(path), kLogPlain);
    const auto start = std::chrono::steady_clock::now();

    mesh::StlReadResult read;
    try {
        read = mesh::ReadStlFile(path, mesh::StlReadOptions{true, -1.0f, true, true, false, true});
    } catch (const std::bad_alloc&) {
        // A file too large for memory is a failed open like any other: the part stays.
        read = mesh::StlReadResult{};
        read.error = "There is not enough memory to read this file.";
    }
    if (!read.ok) {
        LogMessage("Import failed: " + read.error, kLogError);
        // The box stands apart from the log's "Opening" line: it names the file itself.
        ShowInformation(L"This file could not be opened.\n" + Utf8ToWide(read.error) + L"\n" + PathToWide(path),
            kInfoError, InfoEvent::part);
        return false;
    }

    DeleteContents();
    loadedPart = std::move(read.mesh);
    partTransform = mesh::Transform3x4{};
    importReport = read.report;
    partSourcePath = PathToWide(path);
    LogUtf8Lines(mesh::FormatImportReport(importReport));
    if (IsDetailedLogOn()) {
        const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        LogMessage(FormatText("Imported in %.0f ms.", ms), kLogPlain);
    }
    InstallLoadedPart();
    return true;
}

void CGrainforgeDoc::ReplacePipelineSource()
{
    // Setting the source stops a running worker and its run is discarded: nothing is left
    // waiting to be reported.
    runStartedByProcess = false;
    pipeline.SetSource(workingPart);
    // The results and their warnings are gone with the old source.
    resultWords.clear();
    ShowResultWordsWhileCurrent();
}

void CGrainforgeDoc::SeatReliefBase()
{
    if (!HasPart())
        return;
    if (!workingPart.boundsValid)
        workingPart.ComputeBounds();
    mesh::BaseProtection& base = displacementSettings.base;
    base.enabled = true;
    base.axis = 2;
    base.protectBelow = true;
    base.planeMillimetres = workingPart.boundsMin.z;
}

void CGrainforgeDoc::InstallLoadedPart()
{
    partChangesAtRead = partChanges;
    workingPart = CopyWithTransform(loadedPart, partTransform);
    ++partGeneration;
    ReplacePipelineSource();
    printCheckReport = mesh::PrintabilityReport{};
    displayMesh = nullptr;
    NoteEvent(InfoEvent::part);
    RebuildSurfaceTestGrid();
    partValidation = mesh::ValidateMesh(CurrentDisplayMesh(),
        &CurrentDisplayMesh() == &workingPart ? WorkingPartValidationOptions() : PartValidationOptions());
    LogUtf8Lines(mesh::FormatValidationReport(partValidation));
    FitMappingToModel();
    // The bottom rests on the bed, where texture would only lift the part.
    projection.boxSideEnabled[5] = 0;
    SeatReliefBase();
    UpdatePreview();
    ++settingsVersion;
    SetModifiedFlag(false);
    ResetUndoHistory();
    UpdateAllViews(kHintFullRefresh);
}

void CGrainforgeDoc::InstallGeneratedPart(mesh::TriangleMesh part, const std::string& name,
    const std::wstring& newTitle, const std::string& logLine, const std::string& shapeName)
{
    DeleteContents();
    testShapeName = shapeName;  // before the views ask for the mesh information
    loadedPart = std::move(part);
    loadedPart.ComputeBounds();
    loadedPart.ComputeVertexNormals();
    partTransform = mesh::Transform3x4{};
    workingPart = loadedPart;
    ++partGeneration;

    importReport = mesh::StlImportReport{};
    importReport.fileName = name;
    importReport.trianglesRead = importReport.trianglesKept = loadedPart.TriangleCount();
    importReport.verticesBeforeWelding = importReport.verticesAfterWelding = loadedPart.vertices.size();
    if (loadedPart.boundsValid)
        importReport.dimensions = loadedPart.boundsMax - loadedPart.boundsMin;

    partSourcePath = Utf8ToWide(name);
    // A made part is no file: the path of a part opened before must not stay on it.
    SetPathName({});
    SetTitle(newTitle);
    LogMessage(logLine, kLogPlain);
    InstallLoadedPart();
}

void CGrainforgeDoc::OnFileTestShapeCube()
{
    InstallGeneratedPart(mesh::MakeTestCube(kTestShapeSize), "Test cube", L"Test Cube",
        "Test cube: 20 mm, 12 triangles.", "cube");
}

void CGrainforgeDoc::OnFileTestShapeCylinder()
{
    mesh::TriangleMesh cylinder = mesh::MakeTestCylinder(kTestShapeSize / 2, kTestShapeSize);
    const std::string line = FormatText("Test cylinder: 20 mm across, 20 mm tall, %s triangles.",
        FormatThousands(cylinder.TriangleCount()).c_str());
    InstallGeneratedPart(std::move(cylinder), "Test cylinder", L"Test Cylinder", line, "cylinder");
}

void CGrainforgeDoc::OnFileTestShapeSphere()
{
    mesh::TriangleMesh sphere = mesh::MakeTestSphere(kTestShapeSize / 2);
    // Raised by its radius, so that it stands on the bed.
    for (mesh::MeshVertex& v : sphere.vertices)
        v.position.z += kTestShapeSize / 2;
    const std::string line = FormatText("Test sphere: 20 mm across, %s triangles.",
        FormatThousands(sphere.TriangleCount()).c_str());
    InstallGeneratedPart(std::move(sphere), "Test sphere", L"Test Sphere", line, "sphere");
}

void CGrainforgeDoc::ComputeRestingFaces()
{
    restingFaces.clear();
    if (HasPart())
        restingFaces = mesh::FindRestingFaces(workingPart, mesh::RestingFaceSettings{1.0f, 1.0f, 0.05f});
}

bool CGrainforgeDoc::LayOnFace(int index)
{
    printCheckReport = mesh::PrintabilityReport{};
    if (!HasPart() || index < 0 || static_cast<std::size_t>(index) >= restingFaces.size())
        return false;
    const BusyScope busy(host.busy);
    const float area = restingFaces[static_cast<std::size_t>(index)].area;
    const mesh::Transform3x4 t =
        mesh::LayOnFaceTransform(workingPart, restingFaces[static_cast<std::size_t>(index)].normal);
    CarryMasksWithPart(mesh::ComposeTransforms(t, partTransform));
    LogMessage(FormatText("Laid on a face of %.1f mm\xC2\xB2; the part now stands on it.",
                   static_cast<double>(area)),
        kLogPlain);
    return true;
}

void CGrainforgeDoc::CarryMasksWithPart(const mesh::Transform3x4& newTransform)
{
    if (!HasPart())
        return;
    const mesh::Transform3x4 change =
        mesh::ComposeTransforms(newTransform, mesh::InvertTransform(partTransform));
    // Carried as their fields show them, as a drag leaves them.
    for (mesh::MaskVolume& mask : maskVolumes)
        mask = HeldToMaskFieldDecimals(mesh::TransformMask(mask, change));
    partTransform = newTransform;
    RebuildWorkingPart();
    SetModifiedFlag(true);
}

void CGrainforgeDoc::RebuildWorkingPart()
{
    NoteEvent(InfoEvent::part);
    workingPart = CopyWithTransform(loadedPart, partTransform);
    ++partGeneration;
    ReplacePipelineSource();
    printCheckReport = mesh::PrintabilityReport{};
    displayMesh = nullptr;
    RebuildSurfaceTestGrid();
    FitMappingToModel();
    SeatReliefBase();
    ComputeRestingFaces();
    // With the crossing search, as at the load: a placement or an undone job must not bring
    // back a verdict of "Good" on a part whose triangles pass through others.
    partValidation = mesh::ValidateMesh(workingPart, WorkingPartValidationOptions());
    UpdatePreview();
    UpdateAllViews(kHintFullRefresh);
}

}  // namespace grainforge::app
