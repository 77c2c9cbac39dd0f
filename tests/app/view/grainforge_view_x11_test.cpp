// The document's view under an X server (Xvfb with GLX): a frame holding CGrainforgeView over a
// real document. Opening a part frames and shows it; a cage drag records one undo step and
// uploads no mesh; the display limit shows the blue reduced copy; refused meshes leave an empty
// scene with an error; Lay on Face turns a cube; the mask panel moves a mask. Screenshots of
// the surface and section modes of a processed cube go to build/shots for a person to look at.
#include "app/view/grainforge_view.h"

#include "app/workflow/mask_panel.h"
#include "engine/files/stl_writer.h"
#include "engine/mesh/test_shapes.h"
#include "engine/textures/procedural_registry.h"
#include "tests/app/document/recording_host.h"
#include "tests/app/view/view_window_fixture.h"
#include "tests/support/wx/wx_test_pump.h"

#include <gtest/gtest.h>

#include <wx/frame.h>
#include <wx/listctrl.h>
#include <wx/sizer.h>
#include <wx/textctrl.h>

#include <algorithm>
#include <filesystem>

namespace grainforge::app {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;
using tessary::test::PumpFor;
using tessary::test::PumpUntil;

// A flat square plate of 2 x n x n triangles, 100 mm across.
mesh::TriangleMesh MakePlate(std::uint32_t n)
{
    mesh::TriangleMesh plate;
    plate.vertices.reserve(static_cast<std::size_t>(n + 1) * (n + 1));
    for (std::uint32_t y = 0; y <= n; ++y)
        for (std::uint32_t x = 0; x <= n; ++x)
            plate.vertices.push_back({{100.0f * static_cast<float>(x) / static_cast<float>(n) - 50.0f,
                                       100.0f * static_cast<float>(y) / static_cast<float>(n) - 50.0f, 0.0f},
                                      {0.0f, 0.0f, 1.0f}});
    plate.indices.reserve(static_cast<std::size_t>(n) * n * 6);
    for (std::uint32_t y = 0; y < n; ++y) {
        for (std::uint32_t x = 0; x < n; ++x) {
            const std::uint32_t a = y * (n + 1) + x;
            const std::uint32_t b = a + 1;
            const std::uint32_t c = a + n + 1;
            const std::uint32_t d = c + 1;
            plate.indices.insert(plate.indices.end(), {a, b, d, a, d, c});
        }
    }
    plate.ComputeBounds();
    return plate;
}

// Screenshots beside the build folders: build/shots.
fs::path ShotFolder()
{
    fs::path folder = fs::current_path();
    while (!folder.empty() && !fs::exists(folder / "CMakeCache.txt") && folder != folder.parent_path())
        folder = folder.parent_path();
    const fs::path shots = (fs::exists(folder / "CMakeCache.txt") ? folder.parent_path() : fs::current_path()) / "shots";
    fs::create_directories(shots);
    return shots;
}

int CountLines(const test::RecordingHost& host, const std::string& part, int level)
{
    return static_cast<int>(std::count_if(host.lines.begin(), host.lines.end(), [&](const test::LoggedLine& line) {
        return line.level == level && line.text.find(part) != std::string::npos;
    }));
}

class GrainforgeViewX11 : public ViewWindowTest {
protected:
    void Open(ViewportWindowOptions options = {})
    {
        OpenView("View", 900, 640, options);
        if (HasFatalFailure())
            return;
        PumpFor(50ms);
    }

    gl::GlRenderer& Renderer() { return view->Viewport()->Renderer(); }
    void Process()
    {
        doc.remeshSettings.targetEdgeMillimetres = 1.0f;
        doc.displacementSettings.strengthMillimetres = 0.6f;
        doc.RenderProceduralTexture(mesh::procedural::CreateProceduralTexture("Noise"), L"");
        ASSERT_TRUE(doc.IsHeightMapLoaded());
        doc.RequestProcess();
        ASSERT_TRUE(PumpUntil([&] { return doc.PollPipeline(); }, 120000ms));
        ASSERT_TRUE(doc.IsResultCurrent());
    }

};

TEST_F(GrainforgeViewX11, OpeningAnStlFramesItHidesTheHintAndFillsTheInformation)
{
    Open();
    EXPECT_TRUE(view->StartHint()->IsShown());
    EXPECT_EQ(view->StartHint()->GetLabel(), wxString(kStartHintText));
    EXPECT_EQ(panes.report, kNoMeshReport);
    EXPECT_EQ(panes.tool, L"Tool: none (orbit)");
    EXPECT_EQ(Renderer().IndexCount(), 0);
    EXPECT_TRUE(tessary::test::WindowShot::Save(frame, (ShotFolder() / "view_start_hint.png").string()));

    // The hint opens the Open STL command, after the click.
    wxMouseEvent click(wxEVT_LEFT_UP);
    click.SetEventObject(view->StartHint());
    view->StartHint()->GetEventHandler()->ProcessEvent(click);
    ASSERT_TRUE(PumpUntil([&] { return !commands.executed.empty(); }));
    EXPECT_EQ(commands.executed.front(), 57601u);

    const fs::path file = fs::temp_directory_path() / "tessary_view_cube.stl";
    mesh::TriangleMesh cube = mesh::MakeTestCube(40.0f);
    for (mesh::MeshVertex& v : cube.vertices)
        v.position = v.position + Vec3{100.0f, 0.0f, 20.0f};
    cube.ComputeBounds();
    ASSERT_TRUE(mesh::WriteStlFile(file, cube, mesh::StlWriteOptions{}).ok);
    ASSERT_TRUE(doc.OpenDocument(file));
    PumpFor(50ms);
    fs::remove(file);

    EXPECT_EQ(Renderer().IndexCount(), 36);
    EXPECT_FALSE(view->StartHint()->IsShown());
    EXPECT_NE(panes.report, kNoMeshReport);
    EXPECT_NE(panes.report.find(L"12"), std::wstring::npos) << panes.report;  // the triangle count
    // Framed: the camera looks at the part, wherever it lies.
    const Vec3 centre = (doc.workingPart.boundsMin + doc.workingPart.boundsMax) * 0.5f;
    EXPECT_NEAR(Renderer().CameraState().target.x, centre.x, 1.0f);
    EXPECT_NEAR(Renderer().CameraState().target.y, centre.y, 1.0f);
    EXPECT_GT(Renderer().CameraState().distance, 40.0f);
}

TEST_F(GrainforgeViewX11, FirstUpdateReportsTheContextAndTheFramePaneFollowsTheFrames)
{
    host.detailedLog = true;
    Open();
    EXPECT_EQ(CountLines(host, "OpenGL viewport ready: ", 0), 1);
    EXPECT_EQ(panes.frameText, L"");  // no mesh, no statistics
    doc.OnFileTestShapeCube();
    for (int i = 0; i < 40 && panes.frameText.empty(); ++i) {
        view->Repaint();
        PumpFor(20ms);
    }
    EXPECT_NE(panes.frameText.find(L" fps"), std::wstring::npos) << panes.frameText;
}

TEST_F(GrainforgeViewX11, CommandTableAndItsStates)
{
    Open();
    const CommandTable table = view->Commands();
    std::vector<int> ids;
    for (const CommandEntry& entry : table)
        ids.push_back(entry.id);
    std::sort(ids.begin(), ids.end());
    // The whole table is walked in the program's command test; here the tools, Stop and Lay on Face.
    for (const int id : {32814, 32815, 32817, 32836, 32837, 32845, 32846, 32847, 32905, 32906, 32907})
        EXPECT_TRUE(std::binary_search(ids.begin(), ids.end(), id)) << id;
    EXPECT_EQ(std::adjacent_find(ids.begin(), ids.end()), ids.end()) << "an id handled twice";
    const auto state = [&](int id) {
        CommandState result;
        for (const CommandEntry& entry : table)
            if (entry.id == id && entry.update)
                entry.update(result);
        return result;
    };
    EXPECT_FALSE(state(32837).enabled);  // Lay on Face needs a part
    EXPECT_FALSE(state(32836).enabled);  // nothing runs
    doc.OnFileTestShapeCube();
    EXPECT_TRUE(state(32837).enabled);
    // View > Mesh Information is checked while the information pane shows.
    EXPECT_TRUE(state(32789).checked);
    panes.informationPaneShown = false;
    EXPECT_FALSE(state(32789).checked);
    panes.informationPaneShown = true;
    // Clicking the ticked item hides the pane and unticks it; clicking again brings it back.
    const auto execute = [&](int id) {
        for (const CommandEntry& entry : table)
            if (entry.id == id)
                entry.execute();
    };
    execute(32789);
    EXPECT_FALSE(panes.informationPaneShown);
    EXPECT_FALSE(state(32789).checked);
    execute(32789);
    EXPECT_TRUE(panes.informationPaneShown);
    EXPECT_TRUE(state(32789).checked);
    EXPECT_TRUE(state(32817).checked);
    EXPECT_TRUE(state(32845).enabled);
    EXPECT_FALSE(state(32905).enabled);  // no mask volume selected
    for (const CommandEntry& entry : table)
        if (entry.id == 32846)
            entry.execute();
    EXPECT_TRUE(state(32846).checked);
    EXPECT_FALSE(state(32817).checked);
    EXPECT_EQ(panes.tool, L"Tool: Rotate Texture");
    EXPECT_GT(Renderer().HandleLinesOverlay().count, 0);
}

TEST_F(GrainforgeViewX11, CheckPrintabilityShowsTheSlicedPartWithItsColours)
{
    Open();
    doc.OnFileTestShapeSphere();
    doc.OnMeshCheckPrintability();
    PumpFor(20ms);
    EXPECT_EQ(view->sectionMode, 4u);
    EXPECT_EQ(Renderer().view.shadingMode, 0);
    EXPECT_EQ(Renderer().view.showPrintCheck, 1);
    EXPECT_GT(Renderer().IndexCount(), 0);
    EXPECT_FALSE(view->slicedPreviewText.empty());
}

// The print check's lines and colours belong to the result they were made for: another texture
// puts it out of date, the plain part is shown, and the old findings go with the result.
TEST_F(GrainforgeViewX11, APrintCheckGoesWithTheResultItWasMadeFor)
{
    Open();
    doc.OnFileTestShapeCube();
    Process();
    doc.OnMeshCheckPrintability();
    PumpFor(20ms);
    ASSERT_EQ(Renderer().view.showPrintCheck, 1);
    doc.RenderProceduralTexture(mesh::procedural::CreateProceduralTexture("Bricks"), L"");
    PumpFor(20ms);
    ASSERT_FALSE(doc.IsResultCurrent());
    EXPECT_EQ(Renderer().view.showPrintCheck, 0);
    EXPECT_EQ(doc.CurrentPrintCheck(), nullptr);
}

TEST_F(GrainforgeViewX11, ACageDragUploadsNoMeshAndRecordsOneUndoStep)
{
    Open();
    doc.OnFileTestShapeCube();
    PumpFor(30ms);
    view->OnSelectTool(view_command::kMoveCage);
    EXPECT_EQ(panes.tool, L"Tool: Move Cage");
    EXPECT_GT(Renderer().HandleLinesOverlay().count, 0);
    const std::uint64_t uploads = view->MeshUploadCount();
    const std::size_t undoSteps = doc.undoStack.size();
    const Vec3 start = doc.projection.cage.center;

    // What the viewport does for a drag of the move arrow: one BeginEdit, then a frame a step.
    view->BeginEdit();
    for (int step = 1; step <= 6; ++step) {
        const CageFrame* frame0 = view->GetCageFrame();
        ASSERT_NE(frame0, nullptr);
        CageFrame moved = *frame0;
        moved.center.x = start.x + 1.5f * static_cast<float>(step);
        view->SetCageFrame(moved);
    }
    view->EndCageDrag();
    PumpFor(30ms);

    EXPECT_FLOAT_EQ(doc.projection.cage.center.x, start.x + 9.0f);
    EXPECT_EQ(view->MeshUploadCount(), uploads);
    EXPECT_EQ(doc.undoStack.size(), undoSteps + 1);
    doc.OnEditUndo();
    EXPECT_FLOAT_EQ(doc.projection.cage.center.x, start.x);
}

// A projection-only update after the mesh on display changed its size in place falls back to a
// full refresh rather than leave the old mesh on screen.
TEST_F(GrainforgeViewX11, AProjectionUpdateForAMeshOfAnotherSizeRefreshesEverything)
{
    Open();
    doc.OnFileTestShapeCube();
    ASSERT_EQ(Renderer().IndexCount(), 36);
    ASSERT_EQ(&doc.CurrentDisplayMesh(), &doc.workingPart);
    doc.workingPart = mesh::MakeTestSphere(10.0f);
    doc.UpdateAllViews(kHintProjection);
    EXPECT_EQ(Renderer().IndexCount(), static_cast<int>(doc.workingPart.indices.size()));
    EXPECT_EQ(view->CornerProjection().size(), doc.workingPart.indices.size());
}

TEST_F(GrainforgeViewX11, TheDisplayLimitShowsTheBlueReducedCopyAndSaysSoOnce)
{
    Open();
    doc.displayTriangles = 100000;
    doc.InstallGeneratedPart(MakePlate(708), "plate", L"plate", "A plate.");  // 1,002,528 triangles
    PumpFor(50ms);
    ASSERT_GT(view->reducedCopy.shownTriangles, 0u);
    EXPECT_LE(view->reducedCopy.shownTriangles, 100000u);
    EXPECT_EQ(view->reducedCopy.sourceTriangles, 1002528u);
    EXPECT_EQ(static_cast<std::uint64_t>(Renderer().IndexCount()), 3 * view->reducedCopy.shownTriangles);
    ASSERT_FALSE(host.information.empty());
    EXPECT_NE(host.information.back().first.find(L"1,002,528 triangles is over the display limit"), std::wstring::npos);
    EXPECT_EQ(CountLines(host, "over the display limit", 1), 1);
    doc.UpdateAllViews(0);
    doc.UpdateAllViews(0);
    EXPECT_EQ(CountLines(host, "over the display limit", 1), 1);

    // Blue: the plate fills the middle of the frame from above.
    Renderer().SetViewAngles(-90.0f, 89.0f);
    const wxImage shot = view->Viewport()->CaptureFrame();
    ASSERT_TRUE(shot.IsOk());
    shot.SaveFile(wxString((ShotFolder() / "view_reduced_copy.png").string()), wxBITMAP_TYPE_PNG);
    const int x = shot.GetWidth() / 2;
    const int y = shot.GetHeight() / 2;
    EXPECT_GT(shot.GetBlue(x, y), shot.GetRed(x, y) + 12);
    EXPECT_GT(shot.GetBlue(x, y), shot.GetGreen(x, y) + 4);
}

// Fault mended: a refused mesh with no smaller copy to try, and a display-limit copy that
// could not be shown, used to leave the previous part on screen as if it were current.
TEST_F(GrainforgeViewX11, RefusedMeshesLeaveAnEmptySceneAndAnError)
{
    ViewportWindowOptions options;
    options.maxUploadHostBytes = gl::kHostBytesPerCorner * 3 * 50000;  // 50,000 triangles
    Open(options);
    const struct {
        std::uint64_t displayLimit;
        const char* error;
    } rows[] = {
        {0, "No reduced copy of the 151,250 triangles could be shown either"},
        {120000, "The reduced copy for the display limit could not be shown"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.error);
        doc.displayTriangles = 0;
        doc.OnFileTestShapeCube();
        PumpFor(20ms);
        ASSERT_EQ(Renderer().IndexCount(), 36);
        doc.displayTriangles = row.displayLimit;
        doc.InstallGeneratedPart(MakePlate(275), "plate", L"plate", "A plate.");  // 151,250 triangles
        PumpFor(20ms);
        EXPECT_EQ(Renderer().IndexCount(), 0);
        EXPECT_GE(CountLines(host, row.error, 4), 1);
        // One upload, one error line.
        host.lines.clear();
        view->UploadMesh(false);
        EXPECT_EQ(CountLines(host, row.error, 4), 1);
        EXPECT_EQ(CountLines(host, "The mesh could not be uploaded: ", 4), row.displayLimit == 0 ? 1 : 0);
        EXPECT_EQ(Renderer().IndexCount(), 0);
    }
}

TEST_F(GrainforgeViewX11, LayOnFaceTurnsACube)
{
    Open();
    doc.OnFileTestShapeCube();
    view->OnMeshLayOnFace();
    ASSERT_TRUE(view->IsActive());
    ASSERT_FALSE(doc.restingFaces.empty());
    int side = -1;
    for (std::size_t i = 0; i < doc.restingFaces.size(); ++i)
        if (doc.restingFaces[i].normal.x > 0.9f)
            side = static_cast<int>(i);
    ASSERT_GE(side, 0);
    view->SetHoveredRestingFace(side);
    EXPECT_EQ(view->hoveredRestingFace, side);
    view->LayOnRestingFace(side);
    PumpFor(20ms);
    // +X now faces the bed: the part's turn takes +X to -Z.
    EXPECT_NEAR(doc.partTransform.m20, -1.0f, 1e-5f);
    EXPECT_NEAR(doc.partTransform.m00, 0.0f, 1e-5f);
    EXPECT_EQ(view->hoveredRestingFace, -1);
    EXPECT_TRUE(view->IsActive());  // stays on until the command again
    view->OnMeshLayOnFace();
    EXPECT_FALSE(view->IsActive());
}

TEST_F(GrainforgeViewX11, TheMaskPanelMovesAMaskAndTheLastMaskLeavesTheTool)
{
    Open();
    doc.OnFileTestShapeCube();
    view->OnSelectTool(view_command::kMoveMask);  // no mask volume: nothing changes
    EXPECT_EQ(view->handleTool, kToolNone);
    EXPECT_EQ(view->MaskPanel(), nullptr);

    mesh::MaskVolume mask;
    mask.size = {5.0f, 5.0f, 5.0f};
    mask.name = "Box 1";
    doc.maskVolumes.push_back(mask);
    doc.selectedMask = 0;
    view->OnSelectTool(view_command::kMoveMask);
    EXPECT_EQ(view->handleTool, kToolMoveMask);
    ASSERT_NE(view->MaskPanel(), nullptr);
    ASSERT_TRUE(PumpUntil([&] { return view->MaskPanel()->IsShown(); }));
    EXPECT_EQ(panes.tool, L"Tool: Move Mask");

    view->MaskPanel()->Field(0)->ChangeValue("7.5");
    view->MaskPanel()->ApplyVolumeFields();
    PumpFor(20ms);
    EXPECT_FLOAT_EQ(doc.maskVolumes[0].center.x, 7.5f);
    ASSERT_NE(view->GetCageFrame(), nullptr);
    EXPECT_FLOAT_EQ(view->GetCageFrame()->center.x, 7.5f);

    doc.DeleteMaskVolume(0);
    doc.UpdateAllViews(0);
    EXPECT_EQ(view->handleTool, kToolNone);
    EXPECT_FALSE(view->MaskPanel()->IsShown());

    // The main window may delete the panel first: the view forgets it and makes a new one.
    view->MaskPanel()->Destroy();
    ASSERT_TRUE(PumpUntil([&] { return view->MaskPanel() == nullptr; }));
    doc.maskVolumes.push_back(mask);
    doc.selectedMask = 0;
    view->OnSelectTool(view_command::kScaleMask);
    ASSERT_NE(view->MaskPanel(), nullptr);
    EXPECT_EQ(panes.tool, L"Tool: Scale Mask");
}

// With the mask panel open, Process keeps the mask outlines on screen, Edit Masks again keeps the
// processed part shown (only moving a mask makes it out of date), and Escape after a click in
// the view closes the panel as it does from inside it.
TEST_F(GrainforgeViewX11, TheMaskPanelKeepsItsOutlinesAndTheProcessedPartAndEscapeFromTheViewClosesIt)
{
    Open();
    doc.OnFileTestShapeCube();
    mesh::MaskVolume mask;
    mask.size = {8.0f, 8.0f, 8.0f};
    mask.center = {10.0f, 10.0f, 10.0f};  // at a corner of the 20 mm cube
    mask.name = "Box 1";
    doc.maskVolumes.push_back(mask);
    doc.selectedMask = 0;
    view->OnSelectTool(view_command::kMoveMask);
    ASSERT_NE(view->MaskPanel(), nullptr);
    ASSERT_TRUE(PumpUntil([&] { return view->MaskPanel()->IsShown(); }));
    EXPECT_GT(Renderer().MaskOutlineVertexCount(), 0);

    Process();
    PumpFor(100ms);
    ASSERT_TRUE(view->MaskPanel()->IsShown());
    EXPECT_GT(Renderer().MaskOutlineVertexCount(), 0) << "the outline went with Process";
    const TriangleMesh* result = &doc.CurrentDisplayMesh();
    EXPECT_NE(result, &doc.workingPart);

    // Edit Masks again: the processed part stays on screen.
    view->OnEditMasks();
    PumpFor(50ms);
    EXPECT_TRUE(IsMaskTool(view->handleTool));
    EXPECT_EQ(&doc.CurrentDisplayMesh(), result);
    EXPECT_GT(Renderer().MaskOutlineVertexCount(), 0);
    view->Repaint();
    PumpFor(100ms);
    EXPECT_TRUE(tessary::test::WindowShot::Save(frame, (ShotFolder() / "view_mask_panel_after_process.png").string()));

    // A click in the view takes the focus from the panel; Escape there still closes it.
    view->Viewport()->SetFocus();
    PumpFor(50ms);
    wxKeyEvent escape(wxEVT_CHAR_HOOK);
    escape.m_keyCode = WXK_ESCAPE;
    escape.SetEventObject(view->Viewport());
    view->Viewport()->ProcessWindowEvent(escape);
    PumpFor(50ms);
    EXPECT_FALSE(view->MaskPanel()->IsShown());
    EXPECT_EQ(view->handleTool, kToolNone);
    EXPECT_EQ(Renderer().MaskOutlineVertexCount(), 0);
}

// The view shows the keyboard focus as the program's other panes do: a frame in the accent colour.
TEST_F(GrainforgeViewX11, TheViewShowsAFocusFrameWhileItHasTheFocus)
{
    Open();
    doc.OnFileTestShapeCube();
    const auto edgePixel = [&] {
        view->Repaint();
        PumpFor(50ms);
        const wxImage image = view->Viewport()->CaptureFrame();
        EXPECT_TRUE(image.IsOk());
        return image.IsOk() ? wxColour(image.GetRed(0, image.GetHeight() / 2), image.GetGreen(0, image.GetHeight() / 2),
                                       image.GetBlue(0, image.GetHeight() / 2))
                            : wxColour();
    };
    view->Viewport()->SetFocus();
    PumpFor(100ms);
    ASSERT_TRUE(view->Viewport()->HasFocus());
    EXPECT_EQ(edgePixel(), wxColour(58, 123, 213));
    auto* elsewhere = new wxTextCtrl(frame, wxID_ANY);
    elsewhere->SetFocus();
    PumpFor(100ms);
    EXPECT_NE(edgePixel(), wxColour(58, 123, 213));
}

TEST_F(GrainforgeViewX11, ScreenshotsOfTheSurfaceAndSectionModesOfAProcessedCube)
{
    Open();
    doc.OnFileTestShapeCube();
    Process();
    PumpFor(50ms);
    const fs::path shots = ShotFolder();
    const auto save = [&](const std::string& name) {
        view->Repaint();
        PumpFor(30ms);
        const wxImage image = view->Viewport()->CaptureFrame();
        ASSERT_TRUE(image.IsOk());
        ASSERT_TRUE(image.SaveFile(wxString((shots / name).string()), wxBITMAP_TYPE_PNG)) << name;
    };
    for (std::uint32_t mode = 1; mode <= 4; ++mode) {
        // What the surface commands do: the mode in the renderer, stored as the choice of the
        // current result (Outer / Inner as the preview's), the outer/inner flag, the upload.
        Renderer().view.surfaceMode = static_cast<int>(mode);
        if (mode == 4) {
            view->surfaceMemory.previewChoice = mode;
            view->surfaceMemory.previewChoiceSet = true;
        } else {
            view->surfaceMemory.resultChoice = mode;
            view->surfaceMemory.resultChoiceSet = true;
        }
        if (doc.surfaceViewActive != (mode == 4)) {
            doc.surfaceViewActive = mode == 4;
            doc.UpdatePreview();
        }
        view->UploadMesh(false);
        view->SyncSurfaceMode();
        EXPECT_EQ(Renderer().view.surfaceMode, static_cast<int>(mode));
        save("view_surface_mode_" + std::to_string(mode) + ".png");
    }
    EXPECT_TRUE(doc.surfaceViewActive);
    view->surfaceMemory.resultChoiceSet = false;
    view->UpdateAllViews(kHintLeaveTools);  // as Process does: back to the plain surface
    EXPECT_FALSE(doc.surfaceViewActive);
    EXPECT_EQ(Renderer().view.surfaceMode, 0);
    for (std::uint32_t section = 2; section <= 4; ++section) {
        view->sectionMode = section;
        view->PushShadingMode();
        view->UploadMesh(false);
        EXPECT_GT(Renderer().IndexCount(), 0);
        save("view_section_mode_" + std::to_string(section) + ".png");
    }
    EXPECT_FALSE(view->slicedPreviewText.empty());

    // Fault mended: Outer / Inner kept as the result's choice switched the preview on, whose
    // own mode switched it off again, without end (the stack overflowed).
    view->sectionMode = 0;
    view->surfaceMemory.resultChoice = 4;
    view->surfaceMemory.resultChoiceSet = true;
    view->surfaceMemory.pushedValid = false;
    Renderer().view.surfaceMode = 0;
    view->SyncSurfaceMode();
    PumpFor(20ms);
    EXPECT_GT(Renderer().IndexCount(), 0);
}

}  // namespace
}  // namespace grainforge::app
