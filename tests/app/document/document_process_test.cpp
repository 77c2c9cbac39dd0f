#include "app/document/document_commands.h"
#include "app/document/log_text.h"
#include "tests/app/document/document_fixture.h"
#include "tests/support/temp_folder.h"

#include "engine/mesh/mesh_validation.h"
#include "engine/mesh/report_text.h"
#include "engine/files/stl_writer.h"
#include "engine/mesh/test_shapes.h"
#include "tests/support/shapes.h"
#include "engine/pipeline/process_estimate.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <iterator>
#include <stdexcept>

namespace grainforge::test {
namespace {

constexpr const char* kNeedsTexture = "Displacement needs a texture: load one, or turn Displacement off.";

// No part, a run going, Relief on without a texture, and a field holding a text it refused
// start nothing; only the missing texture says so in the log, and the refused field with what
// Process did not do.
TEST(DocumentProcessTest, RefusalsStartNothing)
{
    const struct {
        const char* what;
        bool part;
        bool texture;
        bool running;
        std::vector<std::string> logged;
        bool fieldRefused = false;
    } cases[] = {
        {"no part", false, true, false, {}},
        {"no texture", true, false, false, {kNeedsTexture}},
        {"a run going", true, true, true, {}},
        {"a field refused", true, true, false, {}, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        DocumentFixture f;
        f.host.entryRefused = c.fieldRefused;
        if (c.part)
            f.WithCube();
        if (c.texture)
            f.GiveTexture();
        if (c.running) {
            f.BlockingRuns();
            f.doc->RequestProcess();
            ASSERT_TRUE(f.doc->pipeline.IsRunning());
            f.doc->remeshSettings.targetEdgeMillimetres = 2.0f;  // something to do again
        }
        const int clears = f.host.clears;
        f.host.lines.clear();
        f.doc->RequestProcess();
        EXPECT_EQ(f.host.Lines(), c.logged);
        EXPECT_EQ(f.host.clears, clears);
        EXPECT_FALSE(f.doc->pipeline.HasPendingRequest());
        if (!c.running) {
            EXPECT_FALSE(f.doc->pipeline.IsRunning());
        }
        if (!c.logged.empty()) {
            EXPECT_EQ(f.host.lines.back().level, app::kLogWarning);
        }
        EXPECT_EQ(f.host.entryRefusals, c.fieldRefused ? std::vector<std::wstring>{L"Process did not run, so that the "
            L"result is not made with a value other than the one shown."} : std::vector<std::wstring>{});
    }
}

TEST(DocumentProcessTest, ProcessWithNothingChangedWritesNothing)
{
    DocumentFixture f;
    f.WithCube();
    f.GiveTexture();
    f.FakeRuns();
    f.doc->RequestProcess();
    f.PollUntilReported();
    const std::vector<LoggedLine> before = f.host.lines;
    const int clears = f.host.clears;
    f.doc->RequestProcess();
    EXPECT_EQ(f.host.lines, before);
    EXPECT_EQ(f.host.clears, clears);
    EXPECT_FALSE(f.doc->runStartedByProcess);
}

// The success line, with the relief only when a vertex moved; a failure is "Refused: " in the
// log and red in the information box.
TEST(DocumentProcessTest, ReportedRunTexts)
{
    const struct {
        std::uint64_t displaced;
        const char* line;
    } cases[] = {{1, "Processed: 12,345 triangles, relief 0.50 mm."}, {0, "Processed: 12,345 triangles."}};
    for (const auto& c : cases) {
        DocumentFixture f;
        f.WithCube();
        f.GiveTexture();
        f.FakeRuns(12345, 0.5f, c.displaced);
        f.doc->RequestProcess();
        f.PollUntilReported();
        EXPECT_EQ(f.host.Lines(app::kLogSuccess), std::vector<std::string>{c.line});
        EXPECT_EQ(f.host.Lines(app::kLogPlain).front(), "Processing...");
        EXPECT_EQ(f.host.clears, 1);
    }

    DocumentFixture f;
    f.WithCube();
    f.GiveTexture();
    f.doc->pipeline.SetRunForTesting([](mesh::PipelineStages&, const mesh::ProgressCallback&) -> bool {
        throw std::runtime_error("boom");
    });
    f.doc->RequestProcess();
    f.PollUntilReported();
    const std::string message = "Process stopped on an error: boom. Nothing was changed.";
    EXPECT_EQ(f.host.Lines(app::kLogError), std::vector<std::string>{"Refused: " + message});
    ASSERT_FALSE(f.host.information.empty());
    EXPECT_EQ(f.host.information.back(), std::make_pair(app::Utf8ToWide(message), app::kInfoError));
}

// Lost or added surface and an open result are said in the log and in the information box,
// beside the success line; a run without either says nothing more.
TEST(DocumentProcessTest, LostSurfaceAndOpenResultAreSaid)
{
    const struct {
        const char* what;
        bool lost;
        std::uint64_t openEdges;
        std::vector<std::string> starts;
        bool added = false;
    } cases[] = {
        {"nothing", false, 0, {}, false},
        {"lost surface", true, 0, {"The remesh lost part of the surface: the part reaches 3.40 mm from the result at 1.00, 2.00, 0.50 mm"}, false},
        {"open result", false, 1008, {"The result is not a closed solid: 1,008 edges are open"}, false},
        {"both", true, 3, {"The remesh lost part", "The result is not a closed solid: 3 edges are open"}, false},
        {"added surface", false, 0, {"The relief added surface the part does not have: the result reaches 1.63 mm from the part at 3.00, 4.00, 5.00 mm, more than the 1.40 mm allowed"}, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        DocumentFixture f;
        f.WithCube();
        f.GiveTexture();
        f.doc->pipeline.SetRunForTesting([&](mesh::PipelineStages& stages, const mesh::ProgressCallback&) {
            stages.result = stages.source;
            stages.report = mesh::PipelineReport{};
            stages.report.validated = true;
            stages.report.validation.edgeCounts.boundary = c.openEdges;
            if (c.lost)
                stages.report.remeshDistance = {true, 100, 3.4f, {1.0f, 2.0f, 0.5f}, 0.4f, 0.2f, 0, 0.0f, {}};
            if (c.added)
                stages.report.reliefDistance = {true, 100, 1.3987f, {}, 1.4f, 0.2f, 100, 1.63f, {3.0f, 4.0f, 5.0f}};
            stages.stageDirty = {0, 0, 0, 0};
            return true;
        });
        f.doc->RequestProcess();
        f.PollUntilReported();
        const std::vector<std::string> warnings = f.host.Lines(app::kLogWarning);
        ASSERT_EQ(warnings.size(), c.starts.size());
        for (std::size_t i = 0; i < warnings.size(); ++i)
            EXPECT_EQ(warnings[i].rfind(c.starts[i], 0), 0u) << warnings[i];
        ASSERT_FALSE(f.host.information.empty());
        const auto& shown = f.host.information.back();
        EXPECT_EQ(shown.second, c.starts.empty() ? app::kInfoOk : app::kInfoWarning);
        if (!c.starts.empty()) {
            EXPECT_NE(shown.first.find(app::Utf8ToWide(c.starts.front())), std::wstring::npos);
        }
    }
}

TEST(DocumentProcessTest, StoppedRunWarnsOnlyWhenProcessStartedIt)
{
    DocumentFixture f;
    f.WithCube();
    f.GiveTexture();
    f.BlockingRuns();
    f.doc->RequestProcess();
    f.doc->pipeline.Cancel();
    f.PollUntilReported();
    EXPECT_EQ(f.host.Lines(app::kLogWarning),
        std::vector<std::string>{"Stopped. The part is as it was; Process runs the rest when asked."});
}

// A new texture or a re-placed part during a run stops the worker and discards the run:
// nothing is left waiting to be reported, so the out-of-date note and the next Process work
// as before. While the run went on, the shown mesh was the published copy, never a stage mesh
// the worker writes.
TEST(DocumentProcessTest, PartOrTextureChangeDuringARunDiscardsIt)
{
    for (const bool texture : {true, false}) {
        SCOPED_TRACE(texture ? "texture" : "lay on face");
        DocumentFixture f;
        f.WithCube();
        f.GiveTexture();
        f.BlockingRuns();
        f.doc->ComputeRestingFaces();
        f.doc->RequestProcess();
        ASSERT_TRUE(f.doc->runStartedByProcess);
        EXPECT_EQ(&f.doc->CurrentDisplayMesh(), &f.doc->pipeline.PublishedMesh());
        if (texture)
            f.GiveTexture();
        else
            ASSERT_TRUE(f.doc->LayOnFace(0));
        EXPECT_FALSE(f.doc->pipeline.IsRunning());
        EXPECT_FALSE(f.doc->runStartedByProcess);
        EXPECT_FALSE(f.doc->PollPipeline());
        f.FakeRuns();
        f.doc->RequestProcess();
        f.PollUntilReported();
        EXPECT_EQ(f.host.Lines(app::kLogSuccess).size(), 1u);
        EXPECT_TRUE(f.host.Lines(app::kLogWarning).empty());
    }
}

TEST(DocumentProcessTest, OutOfDateNoteOncePerChange)
{
    DocumentFixture f;
    f.WithCube();
    f.GiveTexture();
    f.FakeRuns();
    f.doc->RequestProcess();
    f.PollUntilReported();
    f.doc->ReportOutOfDate();
    f.host.lines.clear();

    f.doc->projection.boxSideEnabled[0] = 0;
    f.doc->UpdatePreview();
    f.doc->ReportOutOfDate();
    f.doc->ReportOutOfDate();
    EXPECT_EQ(f.host.Lines(app::kLogPlain), std::vector<std::string>{"The result is out of date: sides or blend."});

    f.doc->projection.boxSideEnabled[0] = 1;  // back to the run's settings: current, no note
    f.doc->UpdatePreview();
    f.doc->ReportOutOfDate();
    EXPECT_EQ(f.host.lines.size(), 1u);

    f.doc->projection.cage.center.x += 2.0f;
    f.doc->UpdatePreview();
    f.doc->ReportOutOfDate();
    ASSERT_EQ(f.host.lines.size(), 2u);
    EXPECT_EQ(f.host.lines[1].text, "The result is out of date: cage (centre moved 2.0000 mm).");
}

// A cage that was only resized or turned is not said to have moved "0.0000 mm".
TEST(DocumentProcessTest, OutOfDateCageSaysWhatChanged)
{
    struct Case {
        void (*change)(mesh::CageFrame&);
        const char* note;
    };
    const Case cases[] = {
        {[](mesh::CageFrame& c) { c.center.x += 2.0f; }, "The result is out of date: cage (centre moved 2.0000 mm)."},
        {[](mesh::CageFrame& c) { c.size.x += 1.0f; }, "The result is out of date: cage (resized)."},
        {[](mesh::CageFrame& c) { c.rotationDegrees.z += 10.0f; }, "The result is out of date: cage (turned)."},
        {[](mesh::CageFrame& c) {
             c.rotationDegrees.z += 10.0f;
             c.size.y *= 2.0f;
         },
            "The result is out of date: cage (turned and resized)."},
    };
    for (const Case& c : cases) {
        DocumentFixture f;
        f.WithCube();
        f.GiveTexture();
        f.FakeRuns();
        f.doc->RequestProcess();
        f.PollUntilReported();
        f.doc->ReportOutOfDate();
        f.host.lines.clear();
        c.change(f.doc->projection.cage);
        f.doc->UpdatePreview();
        f.doc->ReportOutOfDate();
        EXPECT_EQ(f.host.Lines(app::kLogPlain), std::vector<std::string>{c.note});
    }
}

TEST(DocumentProcessTest, StatusTextOrder)
{
    DocumentFixture f;
    EXPECT_EQ(f.doc->StatusText(), L"No part loaded");
    f.WithCube();
    EXPECT_EQ(f.doc->StatusText(), L"Needs a texture");
    f.GiveTexture();
    EXPECT_EQ(f.doc->StatusText(), L"Not processed yet");
    f.BlockingRuns();
    f.doc->RequestProcess();
    EXPECT_EQ(f.doc->StatusText(), L"Processing");
    f.doc->pipeline.Cancel();
    f.PollUntilReported();
    f.FakeRuns();
    f.doc->RequestProcess();
    f.PollUntilReported();
    EXPECT_EQ(f.doc->StatusText(), L"Up to date");

    f.doc->simplifySettings.meshDetailError = 0.1f;
    EXPECT_EQ(f.doc->StatusText(), L"Needs: simplify");
    EXPECT_FALSE(f.doc->StepHasPendingChanges(2));
    EXPECT_TRUE(f.doc->StepHasPendingChanges(3));
    f.doc->displacementSettings.strengthMillimetres = 2.0f;
    EXPECT_EQ(f.doc->StatusText(), L"Needs: relief, simplify");
    EXPECT_TRUE(f.doc->StepHasPendingChanges(2));
    f.doc->displacementOn = false;
    f.doc->remeshSettings.targetEdgeMillimetres = 3.0f;
    EXPECT_EQ(f.doc->StatusText(), L"Needs: remesh, simplify");
}

// With a handle tool active the view is told to leave it before the run, and the working part
// stays on display until the view has left it.
TEST(DocumentProcessTest, HandleToolGetsHintThreeBeforeTheRun)
{
    DocumentFixture f;
    f.WithCube();
    f.GiveTexture();
    f.FakeRuns();
    f.doc->handleToolActive = true;
    f.host.hints.clear();
    f.doc->RequestProcess();
    ASSERT_FALSE(f.host.hints.empty());
    EXPECT_EQ(f.host.hints.front(), app::kHintLeaveTools);
    f.PollUntilReported();
    EXPECT_EQ(&f.doc->CurrentDisplayMesh(), &f.doc->workingPart);
    f.doc->handleToolActive = false;
    EXPECT_NE(&f.doc->CurrentDisplayMesh(), &f.doc->workingPart);
}

// The whole road through the document: an STL from a file, a pattern chosen through its
// command, Process, polling until it reports; the shown mesh is the closed, textured result.
TEST(DocumentProcessTest, OpenChooseProcessEndToEnd)
{
    TempFolder folder;
    mesh::TriangleMesh cube = mesh::MakeTestCube(10.0f);
    for (mesh::MeshVertex& v : cube.vertices)
        v.position.z += 5.0f;
    const std::filesystem::path path = folder / "cube.stl";
    WriteAllBytes(path, mesh::EncodeBinaryStl(cube, "cube"));

    DocumentFixture f;
    f.doc->surfaceTestCells = 64;
    ASSERT_TRUE(f.doc->OpenDocument(path));
    EXPECT_EQ(f.doc->GetPathName(), path);
    EXPECT_EQ(f.host.recentFiles, std::vector<std::filesystem::path>{path});
    f.doc->remeshSettings.targetEdgeMillimetres = 1.0f;
    f.doc->UpdatePreview();
    for (const app::CommandEntry& e : f.doc->Commands())
        if (e.id == app::kCmdProceduralFirst)
            e.execute();
    ASSERT_EQ(f.host.patternsOffered, std::vector<std::string>{"Noise"});
    ASSERT_TRUE(f.doc->IsHeightMapLoaded());
    EXPECT_EQ(f.doc->textureHandOvers, 1u);

    f.doc->RequestProcess();
    f.PollUntilReported();
    const std::vector<std::string> success = f.host.Lines(app::kLogSuccess);
    ASSERT_EQ(success.size(), 1u) << (f.host.Lines(app::kLogError).empty() ? "" : f.host.Lines(app::kLogError)[0]);
    EXPECT_EQ(success[0].rfind("Processed: ", 0), 0u) << success[0];

    const mesh::TriangleMesh& shown = f.doc->CurrentDisplayMesh();
    EXPECT_NE(&shown, &f.doc->workingPart);
    EXPECT_EQ(f.doc->displayMesh, &shown);
    EXPECT_EQ(shown.TriangleCount(), f.doc->runReport.resultTriangles);
    EXPECT_GT(shown.TriangleCount(), 12u);
    const mesh::ValidationReport check = mesh::ValidateMesh(shown, mesh::ValidationOptions{});
    EXPECT_TRUE(check.closed);
    EXPECT_EQ(f.doc->StatusText(), L"Up to date");
    EXPECT_TRUE(f.doc->IsModified());  // a validated result marks the document
}

// A Process whose relief reaches no face says so: a warning in the log and the information box
// that names the projection and the cause, and a verdict that is not "Good", where the plain
// copy of the part used to read as a textured success. Texture aimed only at the bottom the
// bed holds flat moves nothing either, and the log gives no relief for it.
TEST(DocumentProcessTest, ReliefThatTexturesNoFaceWarnsAndIsNotGood)
{
    const auto sidesOff = [](app::CGrainforgeDoc& doc) {
        std::fill(std::begin(doc.projection.boxSideEnabled), std::end(doc.projection.boxSideEnabled), std::uint8_t{0});
    };
    const struct {
        const char* what;
        std::function<void(app::CGrainforgeDoc&)> aim;
        std::string lead;
        bool plate = false;  // a 30 x 30 x 0.4 mm plate at the usual triangle size, not the cube
    } cases[] = {
        {"every box side off", sidesOff, "No face received texture: every side of the box projection is switched off."},
        // The plate came out 30.07 x 30.06 mm, said to be "the part without relief".
        {"a thin plate, every box side off", sidesOff,
            "No face received texture: every side of the box projection is switched off.", true},
        {"plane turned to face the bed",
            [](app::CGrainforgeDoc& doc) {
                doc.projection.type = mesh::ProjectionKind::Plane;
                doc.FitMappingToModel();
                doc.projection.cage.rotationDegrees = {180.0f, 0.0f, 0.0f};
            },
            "No face received texture: the plane projection reaches the bed face, which \"Keep the bed face "
            "flat\" holds flat."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        DocumentFixture f;
        f.WithCube();
        if (c.plate)
            f.doc->InstallGeneratedPart(MakeBox({0.0f, 0.0f, 0.0f}, {30.0f, 30.0f, 0.4f}), "Plate", L"Plate", "Plate.");
        f.GiveTexture();
        if (!c.plate)
            f.doc->remeshSettings.targetEdgeMillimetres = 2.0f;
        c.aim(*f.doc);
        f.doc->UpdatePreview();
        f.doc->RequestProcess();
        f.PollUntilReported();
        ASSERT_TRUE(f.doc->runReport.validated);
        EXPECT_NE(f.doc->runReport.validation.verdict, mesh::Verdict::Good);
        const std::vector<std::string> warnings = f.host.Lines(app::kLogWarning);
        EXPECT_TRUE(std::any_of(warnings.begin(), warnings.end(), [&](const std::string& l) { return l.starts_with(c.lead); }));
        ASSERT_FALSE(f.host.information.empty());
        EXPECT_EQ(f.host.information.back().second, app::kInfoWarning);
        EXPECT_TRUE(app::WideToUtf8(f.host.information.back().first).starts_with(c.lead));
        const std::vector<std::string> lines = f.host.Lines();
        const auto processed = std::find_if(lines.begin(), lines.end(), [](const std::string& l) { return l.starts_with("Processed: "); });
        ASSERT_NE(processed, lines.end());
        EXPECT_EQ(processed->find("relief"), std::string::npos) << *processed;
        // What the result is, measured on it: the part's size, or both sizes said.
        const auto sides = [](mesh::TriangleMesh mesh) {
            mesh.ComputeBounds();
            const mesh::Vec3 d = mesh.boundsMax - mesh.boundsMin;
            return mesh::FormatSize3(d.x, d.y, d.z);
        };
        const std::string part = sides(f.doc->workingPart), result = sides(f.doc->ResultOrPart());
        const std::string said = app::WideToUtf8(f.host.information.back().first);
        EXPECT_NE(said.find(part == result ? "The result is the part without relief."
                                           : "The result is the part remeshed without relief, " + result
                                                 + " where the part is " + part + "."),
            std::string::npos) << said;
    }
}

}  // namespace
}  // namespace grainforge::test

namespace grainforge::test {
namespace {

// A run over the triangle limit is refused before any stage runs, with the count the Relief
// section shows, grouped by thousands; at the limit it runs.
TEST(DocumentProcessTest, OverTheLimitIsRefusedBeforeAnyStageWithTheShownCount)
{
    DocumentFixture probe;
    probe.WithCube();
    const mesh::ProcessEstimate shown =
        mesh::EstimateProcessTriangles(probe.doc->workingPart, probe.doc->BuildPipelineSettings());
    ASSERT_GT(shown.triangles, 100000u);  // the 20 mm cube at 0.2 mm

    const struct {
        const char* what;
        std::uint64_t limit;
        bool remeshOn;
        bool refused;
    } cases[] = {
        {"one under the estimate", shown.triangles - 1, true, true},
        {"a tiny limit", 1000, true, true},
        {"at the estimate", shown.triangles, true, false},
        {"no limit", 0, true, false},
        {"no remesh", 1000, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        DocumentFixture f;
        f.WithCube();
        f.GiveTexture();
        f.doc->maximumTriangles = c.limit;
        f.doc->remeshOn = c.remeshOn;
        int runs = 0;
        f.doc->pipeline.SetRunForTesting([&runs](mesh::PipelineStages& stages, const mesh::ProgressCallback&) {
            ++runs;
            stages.result = stages.source;
            stages.stageDirty = {0, 0, 0, 0};
            return true;
        });
        const mesh::ProcessEstimate estimate =
            mesh::EstimateProcessTriangles(f.doc->workingPart, f.doc->BuildPipelineSettings());
        EXPECT_EQ(estimate.overLimit, c.refused);
        f.doc->RequestProcess();
        if (c.refused) {
            EXPECT_FALSE(f.doc->pipeline.IsRunning());
            EXPECT_FALSE(f.doc->runStartedByProcess);
            const std::string message = "About " + app::FormatThousands(shown.triangles)
                + " triangles, which is over the limit. Nothing was changed; a triangle size of at least "
                + mesh::FormatLength(estimate.advisedTriangleSize) + " mm or a higher triangle limit lets it run.";
            ASSERT_GT(estimate.advisedTriangleSize, 0.0f);
            EXPECT_EQ(f.host.Lines(app::kLogError), std::vector<std::string>{"Refused: " + message});
            ASSERT_FALSE(f.host.information.empty());
            EXPECT_EQ(f.host.information.back(), std::make_pair(app::Utf8ToWide(message), app::kInfoError));
        } else {
            f.PollUntilReported();
            EXPECT_TRUE(f.host.Lines(app::kLogError).empty());
        }
        EXPECT_EQ(runs, c.refused ? 0 : 1);
    }
}

// One count decides: a run whose shown count is over the limit is refused before any stage
// with that count; at or under it, no stage refuses, also when the relief adds surface or no
// remesh runs before it.
TEST(DocumentProcessTest, ShownCountAloneDecidesRefusal)
{
    using Shape = void (app::CGrainforgeDoc::*)();
    const Shape cube = &app::CGrainforgeDoc::OnFileTestShapeCube, sphere = &app::CGrainforgeDoc::OnFileTestShapeSphere;
    const struct {
        const char* what;
        Shape shape;
        float strength;
        bool remeshOn;
    } parts[] = {{"cube", cube, 1.0f, true}, {"cube, deep relief", cube, 3.0f, true}, {"sphere", sphere, 1.0f, true},
        {"sphere, no remesh", sphere, 1.0f, false}};
    for (const auto& part : parts) {
        for (const int offset : {-1, 0, 1}) {
            SCOPED_TRACE(std::string(part.what) + ", limit " + std::to_string(offset) + " from the shown count");
            DocumentFixture f;
            f.doc->surfaceTestCells = 32;
            (f.doc.get()->*part.shape)();
            f.GiveTexture();
            f.doc->remeshSettings.targetEdgeMillimetres = 0.5f;
            f.doc->displacementSettings.strengthMillimetres = part.strength;
            f.doc->remeshOn = part.remeshOn;
            f.doc->maximumTriangles = 0;
            const std::uint64_t shown =
                mesh::EstimateProcessTriangles(f.doc->workingPart, f.doc->BuildPipelineSettings()).triangles;
            ASSERT_GT(shown, 1000u);
            f.doc->maximumTriangles = shown + static_cast<std::uint64_t>(offset);
            f.doc->RequestProcess();
            EXPECT_EQ(f.doc->runStartedByProcess, offset >= 0);
            if (offset >= 0)
                f.PollUntilReported();
            const std::vector<std::string> refusal{"Refused: "
                + mesh::TriangleLimitText(
                    mesh::EstimateProcessTriangles(f.doc->workingPart, f.doc->BuildPipelineSettings()))};
            EXPECT_EQ(f.host.Lines(app::kLogError), offset < 0 ? refusal : std::vector<std::string>{});
            EXPECT_EQ(f.doc->runReport.refused, 0) << f.doc->runReport.refusedTriangles;
        }
    }
}

}  // namespace
}  // namespace grainforge::test
