// The view's commands on a real view over a test cube (Xvfb with GLX): the sliced view and the
// shading entries, the print check leaving with it, the mask commands and the tools, the
// texture switches without a height map, the camera presets, the box sides by kind, Outer /
// Inner chosen on a result, and the mapping dialog.
#include "app/view/grainforge_view.h"

#include "app/workflow/mask_panel.h"
#include "app/view/view_command_rules.h"
#include "app/workflow/dialogs/mapping_settings_dialog.h"
#include "engine/textures/procedural_registry.h"
#include "tests/app/document/recording_host.h"
#include "tests/app/view/view_window_fixture.h"
#include "tests/support/wx/wx_test_pump.h"

#include <gtest/gtest.h>

#include <wx/checkbox.h>
#include <wx/dialog.h>
#include <wx/frame.h>
#include <wx/timer.h>
#include <wx/sizer.h>

#include <cmath>
#include <functional>

namespace grainforge::app {
namespace {

using namespace std::chrono_literals;
using tessary::test::PumpFor;
using tessary::test::PumpUntil;

class ViewCommandsX11 : public ViewWindowTest {
protected:
    void SetUp() override
    {
        OpenView("View commands", 800, 600);
        if (HasFatalFailure())
            return;
        doc.OnFileTestShapeCube();
        ASSERT_TRUE(doc.HasPart());
        table = view->Commands();
        PumpFor(30ms);
    }

    const CommandEntry& Entry(int id)
    {
        for (const CommandEntry& entry : table)
            if (entry.id == id)
                return entry;
        ADD_FAILURE() << "the view has no command " << id;
        static const CommandEntry none{};
        return none;
    }
    CommandState State(int id)
    {
        CommandState state;
        if (const CommandEntry& entry = Entry(id); entry.update)
            entry.update(state);
        return state;
    }
    // As the routing does: a disabled command does not run.
    bool Run(int id)
    {
        if (!State(id).enabled)
            return false;
        Entry(id).execute();
        return true;
    }

    gl::GlRenderer& Renderer() { return view->Viewport()->Renderer(); }

    CommandTable table;
};

TEST_F(ViewCommandsX11, SlicedTwiceReturnsToTheNormalViewAndShadingWaitsMeanwhile)
{
    ASSERT_TRUE(Run(32784));  // wireframe
    EXPECT_EQ(Renderer().view.shadingMode, 2);
    ASSERT_TRUE(Run(kCmdSectionSliced));
    EXPECT_EQ(view->sectionMode, 4u);
    EXPECT_TRUE(State(kCmdSectionSliced).checked);
    EXPECT_EQ(Renderer().view.shadingMode, 0);  // smooth while sliced
    for (int id = 32782; id <= 32785; ++id)
        EXPECT_FALSE(State(id).enabled) << id;
    EXPECT_FALSE(Run(32783));
    ASSERT_TRUE(Run(kCmdSectionSliced));
    EXPECT_EQ(view->sectionMode, 0u);
    EXPECT_TRUE(State(kCmdSectionOff).checked);
    EXPECT_TRUE(State(32784).enabled);
    EXPECT_TRUE(State(32784).checked);
    EXPECT_EQ(Renderer().view.shadingMode, 2);  // the choice comes back
    EXPECT_EQ(Renderer().IndexCount(), 36);
}

TEST_F(ViewCommandsX11, CheckPrintabilityShowsSlicedAndLeavingTheSlicesTakesThePrintCheckAway)
{
    EXPECT_FALSE(State(32855).enabled);
    doc.OnMeshCheckPrintability();  // hint 2
    ASSERT_TRUE(doc.printCheckReport.checked);
    EXPECT_EQ(view->sectionMode, 4u);
    EXPECT_TRUE(State(32855).enabled);
    EXPECT_TRUE(State(32855).checked);
    ASSERT_TRUE(Run(kCmdSectionSliced));
    EXPECT_EQ(view->sectionMode, 0u);
    EXPECT_FALSE(State(32855).checked);
    EXPECT_EQ(Renderer().view.showPrintCheck, 0);
    ASSERT_TRUE(Run(32855));  // back on by hand, outside the slices
    EXPECT_EQ(Renderer().view.showPrintCheck, 1);
}

TEST_F(ViewCommandsX11, MaskCommandsAddSelectAndLeaveTheToolWithTheLastVolume)
{
    // A mask tool with no volume changes nothing (the panel never shows).
    EXPECT_FALSE(State(view_command::kMoveMask).enabled);
    view->OnSelectTool(view_command::kMoveMask);
    EXPECT_EQ(view->handleTool, kToolNone);
    EXPECT_EQ(view->MaskPanel(), nullptr);
    EXPECT_FALSE(State(32908).enabled);

    ASSERT_TRUE(Run(32902));  // Add Cylinder
    ASSERT_EQ(doc.maskVolumes.size(), 1u);
    EXPECT_EQ(doc.maskVolumes[0].shape, mesh::MaskShape::Cylinder);
    EXPECT_EQ(doc.maskVolumes[0].name, "Cylinder 1");
    EXPECT_EQ(doc.selectedMask, 0);
    EXPECT_EQ(view->handleTool, kToolMoveMask);
    ASSERT_NE(view->MaskPanel(), nullptr);
    EXPECT_TRUE(view->MaskPanel()->IsShown());
    EXPECT_TRUE(State(32904).checked);
    EXPECT_FALSE(doc.undoStack.empty());

    ASSERT_TRUE(Run(32908));  // Duplicate
    ASSERT_EQ(doc.maskVolumes.size(), 2u);
    EXPECT_EQ(doc.selectedMask, 1);
    ASSERT_TRUE(Run(32909));  // Delete the copy
    ASSERT_TRUE(Run(32909));  // and the last one
    EXPECT_TRUE(doc.maskVolumes.empty());
    EXPECT_EQ(view->handleTool, kToolNone);
    EXPECT_EQ(panes.tool, L"Tool: none (orbit)");
    EXPECT_FALSE(view->MaskPanel()->IsShown());
    EXPECT_FALSE(State(32909).enabled);

    // Edit Masks with nothing to edit starts from a box.
    ASSERT_TRUE(Run(32904));
    ASSERT_EQ(doc.maskVolumes.size(), 1u);
    EXPECT_EQ(doc.maskVolumes[0].shape, mesh::MaskShape::Box);
    EXPECT_EQ(view->handleTool, kToolMoveMask);
}

TEST_F(ViewCommandsX11, TextureSwitchesWithoutAHeightMap)
{
    ASSERT_FALSE(doc.IsHeightMapLoaded());
    for (const int id : {32825, 32894, 32895})
        EXPECT_FALSE(State(id).enabled) << id;
    const mesh::TextureSettings before = doc.heightMap.settings;
    view->OnTextureSwitch(32894);
    view->OnTextureSwitch(32895);
    EXPECT_EQ(doc.heightMap.settings.tiles, before.tiles);
    EXPECT_EQ(doc.heightMap.settings.autoLevels, before.autoLevels);
    view->OnTextureSwitch(32825);
    EXPECT_NE(doc.heightMap.settings.invert, before.invert);
}

TEST_F(ViewCommandsX11, CameraPresetsAndTheAutomaticOrthographic)
{
    ViewportController& controller = view->Viewport()->Controller();
    ASSERT_TRUE(Run(32779));  // Top
    const gl::Camera& camera = Renderer().CameraState();
    EXPECT_EQ(camera.yaw, -90.0f);
    EXPECT_EQ(camera.pitch, 89.5f);
    EXPECT_NEAR(camera.distance, Renderer().Bounds().radius / std::sin(0.3926991f) * 1.15f, 1e-4f);
    EXPECT_EQ(camera.target.z, Renderer().Bounds().centre.z);
    EXPECT_EQ(Renderer().view.orthographic, 1);
    EXPECT_TRUE(controller.AutomaticOrthographic());
    EXPECT_TRUE(State(32788).checked);

    ASSERT_TRUE(Run(32774));  // Isometric
    EXPECT_EQ(camera.yaw, -135.0f);
    EXPECT_EQ(Renderer().view.orthographic, 0);
    EXPECT_FALSE(controller.AutomaticOrthographic());

    // Orthographic chosen by hand after a face view stays through the next orbit.
    ASSERT_TRUE(Run(32775));
    ASSERT_TRUE(Run(32788));
    ASSERT_TRUE(Run(32788));
    EXPECT_EQ(Renderer().view.orthographic, 1);
    EXPECT_FALSE(controller.AutomaticOrthographic());

    ASSERT_TRUE(Run(32773));  // Reset / Fit
    EXPECT_EQ(Renderer().view.orthographic, 0);
}

TEST_F(ViewCommandsX11, SideSwitchesAndTheKindsThatHaveThem)
{
    ASSERT_TRUE(Run(32808));  // None
    for (const std::uint8_t side : doc.projection.boxSideEnabled)
        EXPECT_EQ(side, 0);
    ASSERT_TRUE(Run(32809));  // Invert
    for (const std::uint8_t side : doc.projection.boxSideEnabled)
        EXPECT_EQ(side, 1);
    ASSERT_TRUE(Run(32803));
    EXPECT_EQ(doc.projection.boxSideEnabled[2], 0);
    EXPECT_FALSE(State(32803).checked);
    EXPECT_FALSE(State(32851).enabled);  // a box has no axis

    ASSERT_TRUE(Run(32798));  // cylinder
    EXPECT_EQ(doc.projection.type, mesh::ProjectionKind::Cylinder);
    EXPECT_TRUE(State(32798).checked);
    EXPECT_FALSE(State(32803).enabled);
    EXPECT_FALSE(State(32800).enabled);
    ASSERT_TRUE(Run(32850));
    EXPECT_EQ(doc.projection.cylinderAxis, 0);
    EXPECT_TRUE(State(32850).checked);

    ASSERT_TRUE(Run(32921));  // inner only
    EXPECT_EQ(doc.projection.cylinderSurface, mesh::SurfaceSide::Inside);
    EXPECT_TRUE(State(32921).checked);
    EXPECT_FALSE(State(32919).checked);
    // The plane takes every face turned towards it: the buttons claim no choice and take none.
    ASSERT_TRUE(Run(32797));
    EXPECT_FALSE(State(32921).enabled || State(32921).checked || Run(32920));
    EXPECT_EQ(doc.projection.cylinderSurface, mesh::SurfaceSide::Inside);
}

TEST_F(ViewCommandsX11, OuterInnerChosenOnTheResultStaysOnThroughItsOwnPreviewUpdate)
{
    doc.RenderProceduralTexture(mesh::procedural::CreateProceduralTexture("Noise"), L"");
    ASSERT_TRUE(doc.IsHeightMapLoaded());
    doc.RequestProcess();
    ASSERT_TRUE(PumpUntil([&] { return doc.PollPipeline(); }, 120000ms));
    ASSERT_TRUE(doc.IsResultCurrent());
    EXPECT_EQ(Renderer().view.surfaceMode, 0);  // the result: plain
    ASSERT_TRUE(Run(32896));
    EXPECT_EQ(Renderer().view.surfaceMode, 4);
    EXPECT_TRUE(doc.surfaceViewActive);
    // Back to the result with a choice of its own, kept through a refresh.
    ASSERT_TRUE(Run(32812));
    EXPECT_FALSE(doc.surfaceViewActive);
    doc.UpdateAllViews(0);
    EXPECT_EQ(Renderer().view.surfaceMode, 1);
}

// Once the modal dialog is up, `act` is run on it (from a timer inside its event loop).
class ModalDialogDriver : public wxEvtHandler {
public:
    explicit ModalDialogDriver(std::function<void(wxDialog&)> act) : act_(std::move(act)), timer_(this)
    {
        Bind(wxEVT_TIMER, [this](wxTimerEvent&) {
            for (wxWindow* window : wxTopLevelWindows) {
                auto* dialog = dynamic_cast<wxDialog*>(window);
                if (dialog != nullptr && dialog->IsModal() && dialog->IsShown()) {
                    timer_.Stop();
                    act_(*dialog);
                    ++dialogs;
                    return;
                }
            }
        });
        timer_.Start(20);
    }
    int dialogs = 0;

private:
    std::function<void(wxDialog&)> act_;
    wxTimer timer_;
};

void PressOk(wxDialog& dialog)
{
    wxCommandEvent ok(wxEVT_BUTTON, wxID_OK);
    ok.SetEventObject(dialog.FindWindow(wxID_OK));
    dialog.GetEventHandler()->ProcessEvent(ok);
}

TEST_F(ViewCommandsX11, TheMappingDialogStoresBlendingAndTheOverlayFollows)
{
    ASSERT_EQ(doc.projection.type, mesh::ProjectionKind::Box);
    doc.projection.boxBlended = 0;
    doc.UpdateAllViews(1);
    EXPECT_EQ(view->Viewport()->ProjectionOverlay().blend, 0);
    ModalDialogDriver driver([](wxDialog& dialog) {
        auto* blend = dynamic_cast<wxCheckBox*>(dialog.FindWindow(CMappingSettingsDialog::kBlendId));
        ASSERT_NE(blend, nullptr);
        blend->SetValue(true);
        PressOk(dialog);
    });
    ASSERT_TRUE(Run(32900));
    EXPECT_EQ(driver.dialogs, 1);
    EXPECT_EQ(doc.projection.boxBlended, 1);
    EXPECT_EQ(view->Viewport()->ProjectionOverlay().blend, 1);
}

}  // namespace
}  // namespace grainforge::app
