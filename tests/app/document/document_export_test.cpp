// The check and export commands and the document's reports, headless: the export dialog is
// the recording host's double.
#include "app/document/document_commands.h"
#include "app/document/log_text.h"
#include "tests/app/document/document_fixture.h"
#include "tests/support/shapes.h"
#include "tests/support/temp_folder.h"

#include "engine/mesh/export_cleanup.h"
#include "engine/mesh/mesh_validation.h"
#include "engine/files/stl_reader.h"
#include "engine/files/stl_writer.h"
#include "engine/mesh/test_shapes.h"
#include "engine/textures/procedural_registry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>

namespace grainforge::test {
namespace {

namespace fs = std::filesystem;

bool Contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

// Test cube, a pattern, Process, the export dialog accepting, the write: the file reads back
// closed and manifold, in both formats, and the checklist went to the log.
TEST(DocumentExportTest, CubeWithPatternProcessedAndSavedReadsBackClosed)
{
    TempFolder folder;
    DocumentFixture f;
    app::CGrainforgeDoc& doc = f.WithCube();
    // A coarse remesh keeps the run short; the relief is real.
    doc.remeshSettings.targetEdgeMillimetres = 1.0f;
    doc.displacementSettings.strengthMillimetres = 0.3f;
    doc.RenderProceduralTexture(
        mesh::procedural::CreateProceduralTexture(mesh::procedural::ProceduralTextureNames().front()), L"");
    ASSERT_TRUE(doc.IsHeightMapLoaded());
    doc.RequestProcess();
    f.PollUntilReported();
    EXPECT_GT(doc.runReport.resultTriangles, 12u);

    f.host.acceptExport = true;
    app::CGrainforgeDoc::ExportPlan plan;
    ASSERT_TRUE(doc.PrepareExport(plan));
    EXPECT_EQ(f.host.exportNotes.back(), L"");  // processed with the current settings
    EXPECT_FALSE(plan.mesh.indices.empty());
    const std::vector<std::string> lines = f.host.Lines(app::kLogPlain);
    EXPECT_NE(std::find(lines.begin(), lines.end(), "Before saving:"), lines.end());

    for (const bool ascii : {false, true}) {
        SCOPED_TRACE(ascii ? "ascii" : "binary");
        const fs::path path = folder / (ascii ? "textured ascii.stl" : "textured.stl");
        ASSERT_TRUE(doc.WriteStl(path, ascii, plan));
        const mesh::StlReadResult read = mesh::ReadStlFile(path, mesh::StlReadOptions{});
        ASSERT_TRUE(read.ok) << read.error;
        EXPECT_EQ(read.mesh.TriangleCount(), plan.mesh.TriangleCount());
        mesh::ValidationOptions options;
        const mesh::ValidationReport report = mesh::ValidateMesh(read.mesh, options);
        EXPECT_EQ(report.edgeCounts.boundary, 0u);
        EXPECT_EQ(report.edgeCounts.nonManifold, 0u);
        EXPECT_TRUE(report.closed);
    }
    EXPECT_TRUE(f.host.exportCheckPassed);
}

TEST(DocumentExportTest, OutOfDateResultCarriesTheNoteWithTheStatus)
{
    DocumentFixture f;
    app::CGrainforgeDoc& doc = f.WithCube();
    f.host.acceptExport = true;
    doc.displacementOn = false;
    f.FakeRuns();
    doc.RequestProcess();
    f.PollUntilReported();
    // A stage switched after the run: what is shown is not what the settings would make.
    doc.simplifyOn = !doc.simplifyOn;
    ASSERT_TRUE(doc.IsResultOutOfDate());
    app::CGrainforgeDoc::ExportPlan plan;
    ASSERT_TRUE(doc.PrepareExport(plan));
    EXPECT_EQ(f.host.exportNotes.back(), L"The part has not been processed with the current settings (" +
                                             doc.StatusText() + L"). The part as shown is what will be saved.");
    EXPECT_NE(doc.StatusText(), L"Up to date");

    // Save ASCII STL's check says the file will be text, beside the out-of-date note.
    f.host.acceptExport = false;
    doc.OnFileSaveStl(true);
    EXPECT_EQ(f.host.exportNotes.back().rfind(std::wstring(app::kAsciiSaveNote) + L" The part has not been", 0), 0u);
}

TEST(DocumentExportTest, NothingToSaveAndFailedWrites)
{
    TempFolder folder;
    DocumentFixture f;
    app::CGrainforgeDoc::ExportPlan plan;
    EXPECT_FALSE(f.doc->PrepareExport(plan));
    EXPECT_EQ(f.host.information.back(), std::make_pair(std::wstring(L"There is no mesh to save."), app::kInfoOk));

    // A folder that is not there: nothing is written, the log and the box say why.
    f.WithCube();
    plan.mesh = f.doc->workingPart;
    EXPECT_FALSE(f.doc->WriteStl(folder / "missing" / "part.stl", false, plan));
    const std::vector<std::string> errors = f.host.Lines(app::kLogError);
    ASSERT_FALSE(errors.empty());
    EXPECT_EQ(errors.back().rfind("Export failed: ", 0), 0u);
    EXPECT_EQ(f.host.information.back().second, app::kInfoError);
    EXPECT_EQ(f.host.information.back().first.rfind(L"This file could not be saved.\n", 0), 0u);

    // An empty plan over an existing file leaves the file as it was.
    WriteAllText(folder / "old.stl", "old bytes");
    EXPECT_FALSE(f.doc->WriteStl(folder / "old.stl", false, app::CGrainforgeDoc::ExportPlan{}));
    const std::vector<std::uint8_t> bytes = ReadAllBytes(folder / "old.stl");
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "old bytes");
}

// A save that works says so in the box, in place of an earlier save's failure; a warning on
// the relief still holds, so the word on the save goes under it.
TEST(DocumentExportTest, SuccessfulSaveClearsTheFailureBanner)
{
    struct Case {
        std::wstring shown;
        int kind;
        app::InfoEvent event;
        std::wstring after;
        int afterKind;
    };
    const Case cases[] = {
        {L"This file could not be saved.\nNo such folder", app::kInfoError, app::InfoEvent::save, L"Wrote: part.stl",
            app::kInfoOk},
        {L"The project could not be saved.\nDisk full", app::kInfoError, app::InfoEvent::save, L"Wrote: part.stl",
            app::kInfoOk},
        {L"The relief needs support.", app::kInfoWarning, app::InfoEvent::run,
            L"The relief needs support.\n\nWrote: part.stl", app::kInfoWarning},
    };
    for (const Case& c : cases) {
        TempFolder folder;
        DocumentFixture f;
        f.WithCube();
        app::CGrainforgeDoc::ExportPlan plan;
        plan.mesh = f.doc->workingPart;
        f.doc->ShowInformation(c.shown, c.kind, c.event);
        const std::size_t shownBefore = f.host.information.size();
        ASSERT_TRUE(f.doc->WriteStl(folder / "part.stl", false, plan));
        ASSERT_EQ(f.host.information.size(), shownBefore + 1);
        EXPECT_EQ(f.host.information.back(), std::make_pair(c.after, c.afterKind));
    }
}

// The document's save onto the file the part came from goes through "Save STL As"; a project
// path saves the project.
TEST(DocumentExportTest, SaveOntoTheLoadedFileAsksWhereInstead)
{
    TempFolder folder;
    const fs::path part = folder / "Block.stl";
    WriteAllBytes(part, mesh::EncodeBinaryStl(mesh::MakeTestCube(10.0f), "part"));
    DocumentFixture f;
    f.doc->surfaceTestCells = 32;
    ASSERT_TRUE(f.doc->OpenDocument(part));
    const std::vector<std::uint8_t> before = ReadAllBytes(part);
    f.host.acceptExport = true;
    f.doc->displacementOn = false;
    EXPECT_FALSE(f.doc->OnSaveDocument(folder / "block.STL"));  // the dialog is cancelled
    ASSERT_EQ(f.host.fileDialogTitles.size(), 1u);
    EXPECT_EQ(f.host.fileDialogTitles[0], L"Save STL As");
    EXPECT_EQ(ReadAllBytes(part), before);

    EXPECT_TRUE(f.doc->OnSaveDocument(folder / "job.GFPROJ"));
    EXPECT_TRUE(fs::exists(folder / "job.GFPROJ"));
}

// Save STL writes the current result whatever the view shows, and proposes a name that says what
// the file holds, never the file the part came from: "<name> textured.stl" for a result with
// relief, "processed" for one without, "as loaded" for a part not processed with the settings.
TEST(DocumentExportTest, SaveWritesTheResultItNamesWhateverTheViewShows)
{
    using Setup = std::function<void(DocumentFixture&)>;
    const auto processed = [](bool relief, bool noFace) -> Setup {
        return [relief, noFace](DocumentFixture& f) {
            f.doc->displacementOn = relief;
            f.doc->pipeline.SetRunForTesting([noFace](mesh::PipelineStages& stages, const mesh::ProgressCallback&) {
                stages.result = mesh::MakeTestSphere(8.0f);
                stages.report = mesh::PipelineReport{};
                stages.report.textureMissed = noFace;
                stages.stageDirty = {0, 0, 0, 0};
                return true;
            });
            f.doc->RequestProcess();
            f.PollUntilReported();
        };
    };
    const Setup none = [](DocumentFixture& f) { f.doc->displacementOn = false; };
    const Setup outerInner = [](DocumentFixture& f) { f.doc->surfaceViewActive = true; };
    const Setup moveTool = [](DocumentFixture& f) { f.doc->handleToolActive = true; };
    const Setup stale = [](DocumentFixture& f) { f.doc->simplifyOn = !f.doc->simplifyOn; };
    const struct {
        const wchar_t* source;
        std::vector<Setup> steps;
        const wchar_t* proposed;
        bool writesResult;
        const wchar_t* note;  // a sentence the check's note holds; empty: no note
    } cases[] = {
        {L"/parts/Block.stl", {none}, L"Block as loaded.stl", false, L"The part as shown is what will be saved."},
        {L"/parts/bearing.v2.STL", {processed(true, false)}, L"bearing.v2 textured.stl", true, L""},
        {L"Test cube", {processed(true, false), outerInner}, L"Test cube textured.stl", true,
            L"The view shows the part as loaded; the processed result is what will be saved."},
        {L"Test cube", {processed(true, false), moveTool}, L"Test cube textured.stl", true,
            L"The view shows the part as loaded"},
        {L"Test cube", {processed(true, true), outerInner}, L"Test cube processed.stl", true,
            L"the result carries no texture"},
        {L"Test cube", {processed(false, false)}, L"Test cube processed.stl", true, L""},
        {L"Test cube", {processed(true, false), outerInner, stale}, L"Test cube as loaded.stl", false,
            L"The part as shown is what will be saved."},
        {L"", {processed(true, false)}, L"model.stl", true, L""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(app::WideToUtf8(c.proposed));
        DocumentFixture f;
        f.WithCube();
        f.GiveTexture();
        for (const Setup& step : c.steps)
            step(f);
        f.doc->partSourcePath = c.source;
        f.host.acceptExport = true;
        const std::size_t written = c.writesResult ? mesh::MakeTestSphere(8.0f).TriangleCount() : 12u;
        for (const bool ascii : {false, true}) {
            f.doc->OnFileSaveStl(ascii);
            ASSERT_FALSE(f.host.fileDialogs.empty());
            EXPECT_EQ(f.host.fileDialogs.back().initialName, c.proposed) << ascii;
            const std::wstring& note = f.host.exportNotes.back();
            if (!ascii) {
                EXPECT_EQ(note.empty(), std::wstring(c.note).empty()) << app::WideToUtf8(note);
            }
            EXPECT_NE(note.find(c.note), std::wstring::npos) << app::WideToUtf8(note);
        }
        app::CGrainforgeDoc::ExportPlan plan;
        ASSERT_TRUE(f.doc->PrepareExport(plan));
        EXPECT_EQ(plan.mesh.TriangleCount(), written);
    }
}

// The texture chooser offers every format the image reader takes, GIF among them.
TEST(DocumentExportTest, TextureChooserListsGif)
{
    DocumentFixture f;
    f.doc->OnTextureLoadFromDisk();
    ASSERT_EQ(f.host.fileDialogs.size(), 1u);
    const std::wstring& filter = f.host.fileDialogs[0].filter;
    const std::wstring images = filter.substr(0, filter.find(L'|', filter.find(L'|') + 1)) + L";";
    for (const wchar_t* pattern : {L"*.png", L"*.tif", L"*.tiff", L"*.bmp", L"*.jpg", L"*.jpeg", L"*.gif"})
        EXPECT_NE(images.find(std::wstring(pattern) + L";"), std::wstring::npos) << pattern;
    EXPECT_NE(filter.find(L"GIF (*.gif)|*.gif|"), std::wstring::npos);
}

// After a published run the notes reach the log and the box: a 20 mm cube with 5 mm of relief
// is small for it.
TEST(DocumentExportTest, PublishedRunShowsTheReliefNotes)
{
    DocumentFixture f;
    app::CGrainforgeDoc& doc = f.WithCube();
    f.GiveTexture();
    f.FakeRuns(1000, 5.0f);
    doc.RequestProcess();
    f.PollUntilReported();
    ASSERT_FALSE(f.host.information.empty());
    EXPECT_EQ(f.host.information.back().second, app::kInfoWarning);
    EXPECT_TRUE(Contains(app::WideToUtf8(f.host.information.back().first),
        "This part is small for a relief: 20.0 mm across, with 5.00 mm of relief (25% of its size)"));
    const std::vector<std::string> warnings = f.host.Lines(app::kLogWarning);
    ASSERT_FALSE(warnings.empty());
    EXPECT_EQ(warnings.back().rfind("This part is small for a relief: ", 0), 0u);

    // 0.5 mm on the same cube: nothing to say, the box stays cleared.
    f.host.information.clear();
    f.FakeRuns(1000, 0.5f);
    doc.displacementSettings.strengthMillimetres = 0.9f;
    doc.RequestProcess();
    f.PollUntilReported();
    ASSERT_FALSE(f.host.information.empty());
    EXPECT_EQ(f.host.information.back(), std::make_pair(std::wstring(), app::kInfoOk));
}

TEST(DocumentExportTest, MeshInformationOfTheDisplayedMesh)
{
    DocumentFixture f;
    EXPECT_EQ(f.doc->MeshInformationReport(), "No mesh loaded.\r\n\r\nUse File > Open STL to load one.");
    app::CGrainforgeDoc& doc = f.WithCube();
    const std::string text = doc.MeshInformationReport();
    SCOPED_TRACE(text);
    EXPECT_EQ(text.rfind("Verdict\r\n  ", 0), 0u);
    EXPECT_TRUE(Contains(text, "Part\r\n  Test cube\r\n  20.00 x 20.00 x 20.00 mm\r\n  12 triangles\r\n\r\nDetails\r\n-------\r\n"));
    EXPECT_TRUE(Contains(text, "Surfaces (part as loaded)\r\n  outer 100.0%, inner 0.0% of the area\r\n"));
    EXPECT_TRUE(Contains(text, "  Volume: 8000.000 mm\xC2\xB3\r\n  Surface area: 2400.000 mm\xC2\xB2\r\n"));
    EXPECT_TRUE(Contains(text, "  The mesh is closed.\r\n"));
    // The cached measurements follow a changed part.
    doc.OnFileTestShapeSphere();
    EXPECT_FALSE(Contains(doc.MeshInformationReport(), "Volume: 8000.000"));
}

// The bodies line counts the mesh on display: the test shapes, which no file import counted,
// and a processed result whose bodies differ from the part's.
TEST(DocumentExportTest, MeshInformationCountsTheBodiesOnDisplay)
{
    struct Case {
        const char* name;
        void (app::CGrainforgeDoc::*make)();
    };
    const Case shapes[] = {
        {"cube", &app::CGrainforgeDoc::OnFileTestShapeCube},
        {"cylinder", &app::CGrainforgeDoc::OnFileTestShapeCylinder},
        {"sphere", &app::CGrainforgeDoc::OnFileTestShapeSphere},
    };
    for (const Case& shape : shapes) {
        SCOPED_TRACE(shape.name);
        DocumentFixture f;
        f.doc->surfaceTestCells = 32;
        (f.doc.get()->*shape.make)();
        EXPECT_TRUE(Contains(f.doc->MeshInformationReport(), "  Bodies: 1\r\n")) << f.doc->MeshInformationReport();
    }

    DocumentFixture f;
    app::CGrainforgeDoc& doc = f.WithCube();
    f.GiveTexture();
    // A run whose result is the part twice, side by side.
    doc.pipeline.SetRunForTesting([](mesh::PipelineStages& stages, const mesh::ProgressCallback&) {
        mesh::TriangleMesh twice = stages.source;
        const auto offset = static_cast<std::uint32_t>(twice.vertices.size());
        for (mesh::MeshVertex v : stages.source.vertices) {
            v.position.x += 50.0f;
            twice.vertices.push_back(v);
        }
        for (const std::uint32_t index : stages.source.indices)
            twice.indices.push_back(index + offset);
        twice.ComputeBounds();
        stages.result = std::move(twice);
        stages.report = mesh::PipelineReport{};
        stages.report.resultTriangles = stages.result.TriangleCount();
        stages.report.displacementReport.displacedVertices = 1;
        stages.stageDirty = {0, 0, 0, 0};
        return true;
    });
    doc.RequestProcess();
    f.PollUntilReported();
    ASSERT_EQ(doc.CurrentDisplayMesh().TriangleCount(), 24u);
    EXPECT_TRUE(Contains(doc.MeshInformationReport(), "  Bodies: 2\r\n")) << doc.MeshInformationReport();
}

TEST(DocumentExportTest, CheckPrintabilityAndRepairOnACleanCube)
{
    DocumentFixture f;
    app::CGrainforgeDoc& doc = f.WithCube();
    doc.OnMeshCheckPrintability();
    EXPECT_EQ(f.host.hints.back(), app::kHintPrintCheck);
    EXPECT_EQ(f.host.information.back().second, app::kInfoOk);
    EXPECT_TRUE(Contains(app::WideToUtf8(f.host.information.back().first),
        ". Every layer has something beneath it and nothing reaches far past the layer below."));

    doc.OnMeshRepair();
    EXPECT_TRUE(f.host.questions.empty());
    EXPECT_EQ(f.host.information.back(),
        std::make_pair(std::wstring(L"Validation found nothing to repair."), app::kInfoOk));

    f.host.lines.clear();
    doc.OnMeshValidate();
    EXPECT_GE(f.host.clears, 1);
    EXPECT_FALSE(f.host.Lines(app::kLogPlain).empty());
    EXPECT_GE(f.host.focusCalls, 1);
}

// The Save STL check cleans up with the tolerance the document hands it: a part a million
// millimetres out comes through that cleanup whole.
TEST(DocumentExportTest, SaveCheckCleanupKeepsEveryTriangleOfAPartFarOut)
{
    TempFolder folder;
    for (const mesh::TriangleMesh& shape : {MakeBumpySphere(10.0f, 0.0f, 24, 48), mesh::MakeTestCylinder(10.0f, 20.0f)}) {
        const mesh::TriangleMesh part = Translated(shape, {1.0e6f, 1.0e6f, 0.0f});
        ASSERT_TRUE(mesh::WriteStlFile(folder / "far.stl", part, {}).ok);
        DocumentFixture f;
        ASSERT_TRUE(f.doc->ImportStl(folder / "far.stl"));
        f.host.acceptExport = true;
        app::CGrainforgeDoc::ExportPlan plan;
        ASSERT_TRUE(f.doc->PrepareExport(plan));
        const float tolerance = f.host.exportWeldTolerance;
        EXPECT_EQ(mesh::FormatExportCleanupReport(mesh::CleanupForExport(plan.mesh, tolerance, plan.cleanup)),
            "nothing to clean up");
        EXPECT_EQ(plan.mesh.TriangleCount(), part.TriangleCount());
    }
}

}  // namespace
}  // namespace grainforge::test
