// The information box through the document: after each step of a session it shows the word on
// the latest event, never a text that a later run, save, part or texture change made stale.
#include "app/document/document_commands.h"
#include "app/document/log_text.h"
#include "tests/app/document/document_fixture.h"
#include "tests/support/shapes.h"
#include "tests/support/temp_folder.h"

#include "engine/textures/procedural_registry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <iterator>

namespace grainforge::test {
namespace {

TEST(DocumentInformationTest, TextGoesWithTheEventItReports)
{
    TempFolder folder;
    using Act = std::function<void(DocumentFixture&)>;
    const Act refused = [](auto& f) {  // the limit set in Mesh > Settings > Relief, then Process
        f.doc->maximumTriangles = 100;
        f.doc->UpdatePreview();
        f.doc->RequestProcess();
    };
    const Act limitRight = [](auto& f) { f.doc->maximumTriangles = 18000000; f.doc->UpdatePreview(); };
    const auto sides = [](std::uint8_t on) -> Act {  // Mapping > Sides > None or All
        return [on](auto& f) {
            std::fill(std::begin(f.doc->projection.boxSideEnabled), std::end(f.doc->projection.boxSideEnabled), on);
            f.doc->UpdatePreview();
        };
    };
    const Act noFace = [](auto& f) {
        f.doc->ShowInformation(L"No face received texture: every side of the box projection is switched off.",
            app::kInfoWarning, app::InfoEvent::run);
    };
    const Act textureWider = [](auto& f) {
        mesh::TextureSettings settings = f.doc->heightMap.settings;
        settings.widthMillimetres *= 2.0f;
        f.doc->ApplyTextureSettings(settings);
        EXPECT_TRUE(f.doc->IsModified()) << "the title's change mark shows";
    };
    const Act undo = [](auto& f) { f.doc->OnEditUndo(); };
    const Act redo = [](auto& f) { f.doc->OnEditRedo(); };
    const Act doubled = [](auto& f) {  // the cube twice over: Repair removes the copy
        mesh::TriangleMesh part = f.doc->loadedPart;
        const auto offset = static_cast<std::uint32_t>(part.vertices.size());
        part.vertices.insert(part.vertices.end(), f.doc->loadedPart.vertices.begin(), f.doc->loadedPart.vertices.end());
        for (const std::uint32_t index : f.doc->loadedPart.indices)
            part.indices.push_back(index + offset);
        part.ComputeBounds();
        f.doc->InstallGeneratedPart(part, "Doubled", L"Doubled", "Doubled cube.");
    };
    const Act turned = [](auto& f) {  // laid on another face: the part's placement changes
        f.doc->ComputeRestingFaces();
        ASSERT_TRUE(f.doc->LayOnFace(1));
    };
    const Act mended = [](auto& f) {
        f.host.answers.push_back(app::PromptAnswer::yes);
        f.doc->OnMeshRepair();
        ASSERT_EQ(f.doc->loadedPart.TriangleCount(), 12u);
    };
    const Act start = [](auto& f) { f.doc->maximumTriangles = 18000000; f.FakeRuns(); f.doc->RequestProcess(); };
    const Act warned = [](auto& f) { f.FakeRuns(12345, 2.0f); f.doc->RequestProcess(); f.PollUntilReported(); };
    const Act repaired = [](auto& f) {  // two clean cubes: Repair asks, then mends nothing
        f.doc->InstallGeneratedPart(MakeTwoCubes(), "Two cubes", L"Two Cubes", "Two cubes.");
        f.host.answers.push_back(app::PromptAnswer::yes);
        f.doc->OnMeshRepair();
    };
    const Act picked = [](auto& f) {
        f.doc->RenderProceduralTexture(mesh::procedural::CreateProceduralTexture("Noise"), L"");
    };
    const Act moved = [](auto& f) {
        mesh::ProjectionLayer layer = f.doc->dragBaseLayers[0];
        layer.originMillimetres[0] += 2.0f;
        f.doc->SetSidePlacement(0, layer);
    };
    const auto save = [](const std::filesystem::path& path) -> Act {
        return [path](auto& f) { (void)f.doc->WriteStl(path, false, {f.doc->workingPart}); };
    };
    const Act laid = [](auto& f) { f.doc->ComputeRestingFaces(); (void)f.doc->LayOnFace(0); };
    const Act badImage = [&](auto& f) { (void)f.doc->LoadHeightMap(folder / "none.png"); };
    const auto size = [](float millimetres) -> Act {  // typed in the Relief section's Triangle size
        return [millimetres](auto& f) {
            f.doc->remeshSettings.targetEdgeMillimetres = millimetres;
            f.doc->UpdatePreview();
        };
    };
    const Act nothingToRepair = [](auto& f) { f.doc->OnMeshRepair(); };
    const Act viewNote = [](auto& f) { f.doc->ShowInformation(L"Shown as a reduced copy.", app::kInfoOk); };
    const Act printCheck = [](auto& f) { f.doc->OnMeshCheckPrintability(); };
    const Act fitted = [](auto& f) { (void)f.doc->OnMappingFitToModel(); };
    const Act caged = [](auto& f) {  // a cage drag in the view
        mesh::CageFrame cage = f.doc->projection.cage;
        cage.center.x += 3.0f;
        f.doc->SetProjectionCage(cage);
    };
    const Act refitted = [](auto& f) {  // the cage moved by hand, then fitted for real
        f.doc->projection.cage.size.x *= 2.0f;
        ASSERT_TRUE(f.doc->OnMappingFitToModel());
    };
    // Each step and how the box's text then starts; "" for an empty box.
    const std::vector<std::vector<std::pair<Act, std::wstring>>> sessions = {
        {{refused, L"About "}, {start, L""}, {[](auto& f) { f.PollUntilReported(); }, L""}},
        {{repaired, L"Nothing was changed: this part needed no repair."}, {picked, L""}},
        {{repaired, L"Nothing was changed: this part needed no repair."}, {moved, L""}},
        {{save(folder / "no" / "a.stl"), L"This file could not be saved."}, {viewNote, L"This file could not be saved."},
            {save(folder / "a.stl"), L"Wrote: a.stl"}, {moved, L"Wrote: a.stl"}},
        // Another texture answers no save: the file written, or not, is still so.
        {{save(folder / "a.stl"), L"Wrote: a.stl"}, {picked, L"Wrote: a.stl"}},
        {{save(folder / "no" / "a.stl"), L"This file could not be saved."}, {picked, L"This file could not be saved."}},
        {{[&](auto& f) { (void)f.doc->SaveProject(folder / "no" / "a.gfproj"); }, L"The project could not be saved."},
            {[&](auto& f) { (void)f.doc->SaveProject(folder / "a.gfproj"); }, L"Project saved: a.gfproj"}},
        {{warned, L"This part is small for a relief"}, {laid, L""}},
        {{warned, L"This part is small for a relief"}, {moved, L""}},
        {{badImage, L"This image could not be loaded."}, {moved, L"This image could not be loaded."},
            {printCheck, L"This image could not be loaded."}, {moved, L"This image could not be loaded."}},
        {{fitted, L"The cage already fits"}, {moved, L""}},
        {{fitted, L"The cage already fits"}, {caged, L""}},
        {{fitted, L"The cage already fits"}, {refitted, L""}},
        // A word on the settings goes when they change; a note goes with the state it describes.
        {{sides(0), L""}, {noFace, L"No face received texture"}, {sides(1), L""}},
        {{refused, L"About "}, {limitRight, L""}},
        {{[&](auto& f) { (void)f.doc->SaveProject(folder / "proj1.gfproj"); }, L"Project saved: proj1.gfproj"},
            {textureWider, L""}},
        {{sides(0), L""}, {printCheck, L"Prints without support"}, {undo, L""}},
        // Undo and redo step through placement, texture and settings, never the repaired mesh:
        // the Repair's word stays while they do, and a new edit still takes it.
        {{doubled, L""}, {moved, L""}, {mended, L"Repaired: open edges"}, {undo, L"Repaired: open edges"},
            {redo, L"Repaired: open edges"}, {moved, L""}},
        {{doubled, L""}, {picked, L""}, {mended, L"Repaired: open edges"}, {undo, L"Repaired: open edges"},
            {redo, L"Repaired: open edges"}},
        {{doubled, L""}, {turned, L""}, {mended, L"Repaired: open edges"}, {undo, L"Repaired: open edges"},
            {redo, L"Repaired: open edges"}},
        {{doubled, L""}, {sides(0), L""}, {mended, L"Repaired: open edges"}, {undo, L"Repaired: open edges"}},
        // A result's warnings are shown while that result is current, also when it comes back.
        {{warned, L"This part is small for a relief"}, {size(0.15f), L""}, {size(0.2f), L"This part is small"}},
        {{warned, L"This part is small for a relief"}, {refused, L"About "}, {limitRight, L"This part is small"}},
        // A file written is still written after what neither writes nor changes the part.
        {{save(folder / "a.stl"), L"Wrote: a.stl"}, {printCheck, L"Wrote: a.stl"}, {nothingToRepair, L"Wrote: a.stl"},
            {[](auto& f) { (void)f.doc->RepairMeshInPlace(); }, L"Wrote: a.stl"}, {refused, L"About "},
            {limitRight, L"Wrote: a.stl"}},
    };
    for (std::size_t s = 0; s < sessions.size(); ++s) {
        DocumentFixture f;
        f.WithCube();
        f.GiveTexture();
        for (std::size_t i = 0; i < sessions[s].size(); ++i) {
            sessions[s][i].first(f);
            const std::wstring now = f.host.information.empty() ? L"" : f.host.information.back().first;
            const std::wstring& expected = sessions[s][i].second;
            EXPECT_TRUE(expected.empty() ? now.empty() : now.starts_with(expected))
                << "session " << s << " step " << i << ": " << app::WideToUtf8(now);
        }
    }
}

// A warning or an error that still holds stays in the box through every other road that
// writes to it, the later word shown under it in its own kind; only what changes the work it
// reports on takes it. The table runs every road after a standing warning on the relief and
// after a standing error, a Save STL that failed.
TEST(DocumentInformationTest, AWarningOrAnErrorStaysThroughEveryRoadThatDoesNotChangeItsCause)
{
    TempFolder folder;
    using Act = std::function<void(app::CGrainforgeDoc&)>;
    const std::wstring warning = L"This part is small for a relief";
    const std::wstring error = L"This file could not be saved.";
    const struct {
        const char* road;
        Act act;
        const wchar_t* later;  // a text the box then holds; null: none
        int laterKind;
        bool warningStays;
        bool errorStays;
        Act before = {};  // the state the road starts from, set up before the standing text
    } roads[] = {
        {"fit with nothing to do", [](auto& d) { (void)d.OnMappingFitToModel(); }, L"The cage already fits",
            app::kInfoOk, true, true},
        {"save STL", [&](auto& d) { (void)d.WriteStl(folder / "a.stl", false, {d.workingPart}); }, L"Wrote: a.stl",
            app::kInfoOk, true, false},
        {"failed save STL", [&](auto& d) { (void)d.WriteStl(folder / "no" / "a.stl", false, {d.workingPart}); },
            L"This file could not be saved.", app::kInfoError, true, true},
        {"save project", [&](auto& d) { (void)d.SaveProject(folder / "a.gfproj"); }, L"Project saved: ",
            app::kInfoOk, true, true},
        {"failed project save", [&](auto& d) { (void)d.SaveProject(folder / "no" / "a.gfproj"); },
            L"The project could not be saved.", app::kInfoError, true, true},
        {"nothing to repair", [](auto& d) { d.OnMeshRepair(); }, L"Validation found nothing to repair.",
            app::kInfoOk, true, true},
        {"a print check that passes", [](auto& d) { d.OnMeshCheckPrintability(); }, L"Prints without support.",
            app::kInfoOk, true, true},
        {"a view's note", [](auto& d) { d.ShowInformation(L"Shown as a reduced copy.", app::kInfoOk); },
            L"Shown as a reduced copy.", app::kInfoOk, true, true},
        {"mask limit", [](auto& d) { (void)d.AddMaskVolume(mesh::MaskVolume{}); }, L"No mask volume was added",
            app::kInfoWarning, true, true,
            // The volumes the part already holds are set up before: adding them is an edit.
            [](auto& d) { d.maskVolumes.assign(app::kMaximumMaskVolumes, mesh::MaskVolume{}); }},
        {"a shell's note", [](auto& d) { d.ShowInformation(L"Not a part.", app::kInfoWarning, app::InfoEvent::note); },
            L"Not a part.", app::kInfoWarning, true, true},
        {"a Repair that changed nothing", [](auto& d) { (void)d.RepairMeshInPlace(); }, L"Nothing was changed",
            app::kInfoOk, true, true},
        {"an image that does not load", [&](auto& d) { (void)d.LoadHeightMap(folder / "none.png"); },
            L"This image could not be loaded.", app::kInfoError, true, true},
        {"a refused Process", [](auto& d) {  // the limit set in Mesh > Settings > Relief, then Process
             d.maximumTriangles = 100;
             d.NoteEdit();
             d.RequestProcess();
         }, L"About ", app::kInfoError, false, true},
        {"texture moved", [](auto& d) {
             mesh::ProjectionLayer layer = d.dragBaseLayers[0];
             layer.originMillimetres[0] += 2.0f;
             d.SetSidePlacement(0, layer);
         }, nullptr, 0, false, true},
        {"another texture", [](auto& d) {
             d.RenderProceduralTexture(mesh::procedural::CreateProceduralTexture("Noise"), L"");
         }, nullptr, 0, false, true},
        {"a setting changed", [](auto& d) {
             d.remeshSettings.targetEdgeMillimetres *= 2.0f;
             d.UpdatePreview();
         }, nullptr, 0, false, true},
        {"File > New", [](auto& d) { (void)d.OnNewDocument(); }, nullptr, 0, false, false},
    };
    for (const bool standingError : {false, true}) {
        const std::wstring& standing = standingError ? error : warning;
        for (const auto& [road, act, later, laterKind, warningStays, errorStays, before] : roads) {
            const std::string label = std::string(road) + (standingError ? " after an error" : " after a warning");
            DocumentFixture f;
            f.WithCube();
            f.GiveTexture();
            if (before)
                before(*f.doc);
            if (standingError) {
                ASSERT_FALSE(f.doc->WriteStl(folder / "missing" / "a.stl", false, {f.doc->workingPart}));
            } else {
                f.FakeRuns(12345, 2.0f);
                f.doc->RequestProcess();
                f.PollUntilReported();
            }
            ASSERT_TRUE(f.host.information.back().first.starts_with(standing)) << label;
            act(*f.doc);
            const auto& [now, kind] = f.host.information.back();
            const bool stays = standingError ? errorStays : warningStays;
            EXPECT_EQ(now.find(standing) != std::wstring::npos, stays) << label << ": " << app::WideToUtf8(now);
            if (later == nullptr)
                continue;
            EXPECT_NE(now.find(later), std::wstring::npos) << label << ": " << app::WideToUtf8(now);
            // The later word keeps its own kind, under the standing one.
            const std::wstring wanted = later;
            const auto message = std::find_if(f.host.messages.begin(), f.host.messages.end(),
                [&wanted](const app::InformationMessage& m) { return m.text.find(wanted) != std::wstring::npos; });
            ASSERT_NE(message, f.host.messages.end()) << label;
            EXPECT_EQ(message->kind, laterKind) << label;
            if (stays) {
                EXPECT_EQ(kind, standingError ? app::kInfoError : std::max(app::kInfoWarning, laterKind)) << label;
            }
        }
    }
}

// A view's note (the display limit's reduced copy) and the word on an event share the box: the
// note never takes the place of a warning or an error that still holds, which then leads; a
// graver text replaces a lesser one; what an event takes away leaves the other standing.
TEST(DocumentInformationTest, ANoteNeverHidesAWarningOrAnErrorThatStillHolds)
{
    using Act = std::function<void(DocumentFixture&)>;
    const auto word = [](int kind, app::InfoEvent event) -> Act {
        return [kind, event](auto& f) {
            f.doc->ShowInformation(kind == app::kInfoOk ? L"Done." : L"Support needed.", kind, event);
        };
    };
    const Act note = [](auto& f) { f.doc->ShowInformation(L"Shown as a reduced copy.", app::kInfoOk); };
    const Act noteGone = [](auto& f) { f.doc->ShowInformation(L"", app::kInfoOk); };
    const Act cardError = [](auto& f) { f.doc->ShowInformation(L"The texture could not be uploaded.", app::kInfoError); };
    const Act moved = [](auto& f) { f.doc->NoteEvent(app::InfoEvent::placement); };
    const Act newPart = [](auto& f) { f.doc->NoteEvent(app::InfoEvent::part); };
    struct Step {
        Act act;
        std::wstring text;  // the whole box, paragraphs joined by a blank line
        int kind;
    };
    const std::wstring both = L"Support needed.\n\nShown as a reduced copy.";
    const std::vector<std::vector<Step>> sessions = {
        {{word(app::kInfoWarning, app::InfoEvent::run), L"Support needed.", 1}, {note, both, 1},
            {note, both, 1}, {moved, L"Shown as a reduced copy.", 0}},
        {{word(app::kInfoError, app::InfoEvent::save), L"Support needed.", 2},
            {note, L"Support needed.\n\nShown as a reduced copy.", 2}, {noteGone, L"Support needed.", 2}},
        {{word(app::kInfoOk, app::InfoEvent::run), L"Done.", 0}, {note, L"Shown as a reduced copy.", 0},
            {moved, L"Shown as a reduced copy.", 0}, {newPart, L"", 0}},
        {{note, L"Shown as a reduced copy.", 0}, {word(app::kInfoWarning, app::InfoEvent::run), L"Support needed.", 1}},
        {{cardError, L"The texture could not be uploaded.", 2},
            {word(app::kInfoOk, app::InfoEvent::check), L"The texture could not be uploaded.\n\nDone.", 2},
            {word(app::kInfoOk, app::InfoEvent::save), L"The texture could not be uploaded.\n\nDone.", 2}},
    };
    for (std::size_t s = 0; s < sessions.size(); ++s) {
        DocumentFixture f;
        f.WithCube();
        for (std::size_t i = 0; i < sessions[s].size(); ++i) {
            sessions[s][i].act(f);
            ASSERT_FALSE(f.host.information.empty());
            const auto& [now, kind] = f.host.information.back();
            EXPECT_EQ(now, sessions[s][i].text) << "session " << s << " step " << i;
            if (!now.empty()) {
                EXPECT_EQ(kind, sessions[s][i].kind) << "session " << s << " step " << i;
            }
        }
    }
}

// The mesh information's "Texture detail" measures the last run's triangles against its
// texture: once the triangle size, the texture or its placement changes, the old figures go
// rather than stand beside settings they do not describe.
TEST(DocumentInformationTest, TextureDetailLeavesWhenItsTrianglesOrTextureChange)
{
    using Act = std::function<void(DocumentFixture&)>;
    const std::vector<std::pair<const char*, Act>> changes = {
        {"triangle size", [](auto& f) { f.doc->remeshSettings.targetEdgeMillimetres = 0.5f; }},
        {"a pattern", [](auto& f) {
             f.doc->RenderProceduralTexture(mesh::procedural::CreateProceduralTexture("Noise"), L"");
         }},
        {"placement", [](auto& f) {
             mesh::ProjectionLayer layer = f.doc->dragBaseLayers[0];
             layer.zoom *= 2.0f;
             f.doc->SetSidePlacement(0, layer);
         }},
    };
    for (const auto& [name, change] : changes) {
        DocumentFixture f;
        f.WithCube();
        f.GiveTexture();
        f.doc->pipeline.SetRunForTesting([](mesh::PipelineStages& stages, const mesh::ProgressCallback&) {
            stages.result = stages.source;
            stages.report = mesh::PipelineReport{};
            stages.report.sampling = {.measured = true, .triangleSize = 0.2f, .millimetresPerPixel = 0.1f,
                                      .pixelsPerEdge = 2.0f, .finestDetail = 0.4f};
            stages.stageDirty = {0, 0, 0, 0};
            return true;
        });
        f.doc->RequestProcess();
        f.PollUntilReported();
        EXPECT_NE(f.doc->MeshInformationReport().find("Triangles: 0.200 mm"), std::string::npos) << name;
        change(f);
        EXPECT_EQ(f.doc->MeshInformationReport().find("Texture detail"), std::string::npos) << name;
    }
}

}  // namespace
}  // namespace grainforge::test
