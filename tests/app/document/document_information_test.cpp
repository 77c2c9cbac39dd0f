// The information box through the document: what it shows after each step of a session, so
// that a text never outlives the event it reports.
#include "app/document/document_commands.h"
#include "app/document/log_text.h"
#include "tests/app/document/document_fixture.h"
#include "tests/support/shapes.h"
#include "tests/support/temp_folder.h"

#include "engine/textures/procedural_registry.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace grainforge::test {
namespace {

// What the box shows now: the last text the document gave it.
std::wstring Shown(const RecordingHost& host)
{
    return host.information.empty() ? std::wstring() : host.information.back().first;
}

// Runs that finish at once with an open result, so that the run warns.
void OpenResultRuns(DocumentFixture& f)
{
    f.doc->pipeline.SetRunForTesting([](mesh::PipelineStages& stages, const mesh::ProgressCallback&) {
        stages.result = stages.source;
        stages.report = mesh::PipelineReport{};
        stages.report.validated = true;
        stages.report.validation.edgeCounts.boundary = 4;
        stages.stageDirty = {0, 0, 0, 0};
        return true;
    });
}

void Process(DocumentFixture& f)
{
    f.doc->RequestProcess();
    f.PollUntilReported();
}

void RepairChangingNothing(DocumentFixture& f)
{
    // Two clean cubes: Repair asks (two bodies), then finds nothing to mend.
    f.doc->InstallGeneratedPart(MakeTwoCubes(), "Two cubes", L"Two Cubes", "Two cubes.");
    f.host.answers.push_back(app::PromptAnswer::yes);
    f.doc->OnMeshRepair();
}

void MoveTexture(DocumentFixture& f)
{
    mesh::ProjectionLayer moved = f.doc->dragBaseLayers[0];
    moved.originMillimetres[0] += 2.0f;
    f.doc->SetSidePlacement(0, moved);
}

void WriteTo(DocumentFixture& f, const std::filesystem::path& path)
{
    app::CGrainforgeDoc::ExportPlan plan;
    plan.mesh = f.doc->workingPart;
    (void)f.doc->WriteStl(path, false, plan);
}

TEST(DocumentInformationTest, TextGoesWithTheEventItReports)
{
    TempFolder folder;
    struct Step {
        const char* what;
        std::function<void(DocumentFixture&)> act;
        std::wstring shown;  // the box after the step: its text starts so; empty: the box is empty
    };
    const std::wstring refused = L"About ";
    const std::wstring notChanged = L"Nothing was changed.";
    const std::wstring open = L"The result is not a closed solid";
    const std::wstring notSaved = L"This file could not be saved.";
    const std::vector<std::vector<Step>> sessions = {
        {{"Process over the limit", [](auto& f) { f.doc->maximumTriangles = 100; f.doc->RequestProcess(); }, refused},
         {"Process within it", [](auto& f) { f.doc->maximumTriangles = 18000000; f.FakeRuns(); f.doc->RequestProcess(); }, L""},
         {"the run reported", [](auto& f) { f.PollUntilReported(); }, L""}},
        {{"Repair", RepairChangingNothing, notChanged},
         {"a pattern picked", [](auto& f) { f.doc->RenderProceduralTexture(mesh::procedural::CreateProceduralTexture("Noise"), L""); }, L""}},
        {{"Repair", RepairChangingNothing, notChanged},
         {"the texture moved", MoveTexture, L""}},
        {{"a failed save", [&](auto& f) { WriteTo(f, folder / "missing" / "part.stl"); }, notSaved},
         {"a view's note", [](auto& f) { f.doc->ShowInformation(L"Shown as a reduced copy.", app::kInfoOk); }, L"Shown as a reduced copy."},
         {"a good save", [&](auto& f) { WriteTo(f, folder / "part.stl"); }, L"Wrote: part.stl"},
         {"the texture moved", MoveTexture, L"Wrote: part.stl"}},
        {{"a failed project save", [&](auto& f) { (void)f.doc->SaveProject(folder / "missing" / "job.gfproj"); }, L"The project could not be saved."},
         {"a good one", [&](auto& f) { (void)f.doc->SaveProject(folder / "job.gfproj"); }, L"Project saved: "}},
        {{"a run that warns", [](auto& f) { OpenResultRuns(f); Process(f); }, open},
         {"the part laid on a face", [](auto& f) { f.doc->ComputeRestingFaces(); f.doc->LayOnFace(0); }, L""}},
        {{"a run that warns", [](auto& f) { OpenResultRuns(f); Process(f); }, open},
         {"the texture moved", MoveTexture, L""}},
        {{"an image that does not load", [&](auto& f) { f.doc->LoadHeightMap(folder / "none.png"); }, L"This image could not be loaded."},
         {"the texture moved", MoveTexture, L"This image could not be loaded."},
         {"Check Printability", [](auto& f) { f.doc->OnMeshCheckPrintability(); }, L"prints without support."},
         {"the texture moved", MoveTexture, L""}},
    };
    for (const std::vector<Step>& session : sessions) {
        DocumentFixture f;
        f.WithCube();
        f.GiveTexture();
        for (const Step& step : session) {
            SCOPED_TRACE(step.what);
            step.act(f);
            const std::wstring now = Shown(f.host);
            if (step.shown.empty())
                EXPECT_EQ(now, L"");
            else
                EXPECT_EQ(now.rfind(step.shown, 0), 0u) << app::WideToUtf8(now);
        }
    }
}

}  // namespace
}  // namespace grainforge::test
