// The viewport window under an X server (Xvfb with GLX): a frame with a test cube, the cage and
// its move arrows from a fake document view, the labelled view cube, clicks and drags sent as
// window events, and the failure text when no context can be made.
#include "app/view/viewport_window.h"

#include "app/view/handles.h"
#include "engine/displacement/cage_gizmo.h"
#include "engine/mesh/test_shapes.h"
#include "tests/app/view/viewport_fakes.h"
#include "tests/support/wx/wx_test_pump.h"

#include <gtest/gtest.h>

#include <wx/dcclient.h>
#include <wx/dcmemory.h>
#include <wx/frame.h>
#include <wx/sizer.h>

#include <cmath>
#include <cstdlib>

namespace grainforge::app {
namespace {

using namespace std::chrono_literals;

constexpr int kWidth = 800;
constexpr int kHeight = 600;

// Screenshots for a person to look at, beside the test program.
std::string ShotPath(const char* name)
{
    return std::string(name);
}

// A document view that rebuilds the handle overlay as the real one does on every refresh.
class DrawingCageHost : public test::FakeCageHost {
public:
    void RefreshOverlays() override
    {
        FakeCageHost::RefreshOverlays();
        if (viewport == nullptr || tool < 4)
            return;
        const float size = viewport->CageHandleSize();
        viewport->Renderer().UploadHandleOverlay(BuildFrameHandleGizmo(projection.cage, tool, hoverHandle, size));
        gl::CageOverlayGeometry cage;
        const mesh::CageGizmoGeometry gizmo = mesh::BuildCageGizmo(projection);
        cage.faces = gizmo.fillPositions;
        cage.lines = gizmo.linePositions;
        cage.highlightedLines = gizmo.accentLinePositions;
        viewport->Renderer().UploadCageOverlay(cage);
    }
    void SetCageFrame(const CageFrame& frame) override
    {
        FakeCageHost::SetCageFrame(frame);
        RefreshOverlays();
    }
    COpenGLViewport* viewport = nullptr;
};

void SendMouse(wxWindow* window, wxEventType type, wxPoint p, bool leftDown)
{
    wxMouseEvent event(type);
    event.SetPosition(p);
    event.SetEventObject(window);
    event.SetId(window->GetId());
    event.m_leftDown = leftDown;
    window->GetEventHandler()->ProcessEvent(event);
}

class ViewportX11 : public ::testing::Test {
protected:
    void Open(ViewportWindowOptions options = {})
    {
        frame = new wxFrame(nullptr, wxID_ANY, "Viewport", wxDefaultPosition, wxDefaultSize);
        frame->SetClientSize(kWidth, kHeight);
        viewport = new COpenGLViewport(frame, options);
        auto* sizer = new wxBoxSizer(wxVERTICAL);
        sizer->Add(viewport, 1, wxEXPAND);
        frame->SetSizer(sizer);
        frame->Show();
        frame->Layout();
        ASSERT_TRUE(tessary::test::PumpUntil([&] { return viewport->ContextTried(); }, 5000ms));
        tessary::test::PumpFor(100ms);
    }

    void TearDown() override
    {
        if (frame != nullptr)
            frame->Destroy();
        tessary::test::PumpFor(50ms);
    }

    // The scene: a 20 mm test cube, the cage around it with its move arrows.
    void ShowCube()
    {
        gl::GlRenderer& renderer = viewport->Renderer();
        ASSERT_TRUE(renderer.IsReady()) << renderer.LastError();
        ASSERT_TRUE(renderer.UploadMesh(mesh::MakeTestCube(20.0f), nullptr, true)) << renderer.LastError();
        renderer.view.showCage = 1;
        host.projection.cage.size = {24.0f, 24.0f, 24.0f};
        host.tool = 4;
        host.viewport = viewport;
        viewport->SetCageHost(&host);
        host.RefreshOverlays();
        viewport->Refresh(false);
        tessary::test::PumpFor(100ms);
    }

    wxPoint Screen(mesh::Vec3 p) const
    {
        const gl::GlRenderer& r = viewport->Renderer();
        const gl::Matrix4 m =
            gl::ViewProjectionMatrix(r.CameraState(), r.Bounds(), r.view.width, r.view.height, r.view.orthographic != 0);
        const float x = m[0] * p.x + m[4] * p.y + m[8] * p.z + m[12];
        const float y = m[1] * p.x + m[5] * p.y + m[9] * p.z + m[13];
        const float w = m[3] * p.x + m[7] * p.y + m[11] * p.z + m[15];
        return {static_cast<int>(std::lround((x / w + 1.0f) * 0.5f * r.view.width - 0.5f)),
                static_cast<int>(std::lround((1.0f - y / w) * 0.5f * r.view.height - 0.5f))};
    }

    wxFrame* frame = nullptr;
    COpenGLViewport* viewport = nullptr;
    DrawingCageHost host;
};

TEST_F(ViewportX11, ShowsTheFloorThePartTheCageAndTheLabelledViewCube)
{
    Open();
    ShowCube();
    const wxImage shot = viewport->CaptureFrame();
    ASSERT_TRUE(shot.IsOk());
    EXPECT_EQ(shot.GetWidth(), kWidth);
    ASSERT_TRUE(shot.SaveFile("viewport_scene.png", wxBITMAP_TYPE_PNG));
    EXPECT_TRUE(tessary::test::WindowShot::Save(frame, ShotPath("viewport_frame.png")));

    // The part's top face is light grey in the middle of the view.
    const wxPoint top = Screen({0.0f, 0.0f, 10.0f});
    EXPECT_GT(shot.GetRed(top.x, top.y), 90);
    // The view cube's Top label is near white.
    const gl::ViewCubeLayout layout = viewport->Renderer().ViewCubeLayoutNow();
    int white = 0;
    for (int y = static_cast<int>(layout.squareY); y < static_cast<int>(layout.squareY + layout.squareSize); ++y) {
        for (int x = static_cast<int>(layout.squareX); x < static_cast<int>(layout.squareX + layout.squareSize); ++x) {
            if (shot.GetRed(x, y) > 215 && shot.GetGreen(x, y) > 215 && shot.GetBlue(x, y) > 215)
                ++white;
        }
    }
    EXPECT_GT(white, 40) << "label text on the cube";
    // The red +X arrow of the move tool.
    const float size = viewport->CageHandleSize();
    const wxPoint arrow = Screen({size * 0.6f, 0.0f, 0.0f});
    EXPECT_GT(shot.GetRed(arrow.x, arrow.y), shot.GetBlue(arrow.x, arrow.y) + 60);
}

TEST_F(ViewportX11, ClickingTheTopCellAnimatesToAnOrthographicTopView)
{
    Open();
    ShowCube();
    const gl::ViewCubeLayout layout = viewport->Renderer().ViewCubeLayoutNow();
    wxPoint cell;
    for (const gl::ViewCubeFace& face : layout.faces) {
        for (const gl::ViewCubeCell& c : face.cells) {
            if (c.direction == gl::CellDirection{0, 0, 1})
                cell = {static_cast<int>((c.quad[0].x + c.quad[2].x) / 2.0f), static_cast<int>((c.quad[0].y + c.quad[2].y) / 2.0f)};
        }
    }
    SendMouse(viewport, wxEVT_LEFT_DOWN, cell, true);
    SendMouse(viewport, wxEVT_LEFT_UP, cell, false);
    EXPECT_TRUE(viewport->Controller().IsAnimating());
    ASSERT_TRUE(tessary::test::PumpUntil([&] { return !viewport->Controller().IsAnimating(); }, 3000ms));
    const gl::Camera& camera = viewport->Renderer().CameraState();
    EXPECT_FLOAT_EQ(camera.yaw, -90.0f);
    EXPECT_FLOAT_EQ(camera.pitch, 89.5f);
    EXPECT_EQ(viewport->Renderer().view.orthographic, 1);
    EXPECT_FALSE(viewport->HasCapture());
    const wxImage shot = viewport->CaptureFrame();
    EXPECT_TRUE(shot.SaveFile("viewport_top.png", wxBITMAP_TYPE_PNG));
}

TEST_F(ViewportX11, DraggingAMoveArrowFiftyPixelsMovesTheCage)
{
    Open();
    ShowCube();
    const float size = viewport->CageHandleSize();
    ASSERT_GT(size, 0.0f);
    const wxPoint start = Screen({size * 0.6f, 0.0f, 0.0f});
    const wxPoint further = Screen({size * 0.9f, 0.0f, 0.0f});
    const float dx = static_cast<float>(further.x - start.x);
    const float dy = static_cast<float>(further.y - start.y);
    const float k = 50.0f / std::sqrt(dx * dx + dy * dy);
    host.calls.clear();
    SendMouse(viewport, wxEVT_LEFT_DOWN, start, true);
    for (int i = 1; i <= 5; ++i)
        SendMouse(viewport, wxEVT_MOTION,
                  {start.x + static_cast<int>(std::lround(dx * k * i / 5.0f)), start.y + static_cast<int>(std::lround(dy * k * i / 5.0f))},
                  true);
    const wxPoint end{start.x + static_cast<int>(std::lround(dx * k)), start.y + static_cast<int>(std::lround(dy * k))};
    SendMouse(viewport, wxEVT_LEFT_UP, end, false);
    ASSERT_GE(host.calls.size(), 3u);
    EXPECT_EQ(host.calls.front(), "BeginEdit");
    EXPECT_EQ(host.calls.back(), "EndCageDrag");
    for (std::size_t i = 1; i + 1 < host.calls.size(); ++i)
        EXPECT_EQ(host.calls[i], "SetCageFrame");
    EXPECT_GE(host.calls.size(), 5u) << "several moves";
    EXPECT_GT(host.projection.cage.center.x, 1.0f);
    tessary::test::PumpFor(50ms);
    EXPECT_TRUE(viewport->CaptureFrame().SaveFile("viewport_dragged.png", wxBITMAP_TYPE_PNG));
}

TEST_F(ViewportX11, WithoutAContextTheWindowPaintsTheFailureText)
{
    ViewportWindowOptions impossible;
    impossible.glMajor = 9;
    impossible.glMinor = 9;
    Open(impossible);
    EXPECT_FALSE(viewport->Renderer().IsReady());
    EXPECT_FALSE(viewport->Renderer().LastError().empty());
    viewport->Refresh();
    tessary::test::PumpFor(100ms);
    // Input still works without a context.
    SendMouse(viewport, wxEVT_LEFT_DOWN, {100, 100}, true);
    SendMouse(viewport, wxEVT_MOTION, {140, 120}, true);
    SendMouse(viewport, wxEVT_LEFT_UP, {140, 120}, false);
    ASSERT_TRUE(tessary::test::WindowShot::Save(viewport, ShotPath("viewport_failure.png")));
    wxImage shot("viewport_failure.png", wxBITMAP_TYPE_PNG);
    ASSERT_TRUE(shot.IsOk());
    const wxColour& background = COpenGLViewport::FailureBackground();
    EXPECT_EQ(shot.GetRed(5, 5), background.Red());
    EXPECT_EQ(shot.GetBlue(5, 5), background.Blue());
    int text = 0;
    for (int y = 0; y < shot.GetHeight(); ++y) {
        for (int x = 0; x < shot.GetWidth(); ++x) {
            if (shot.GetRed(x, y) > 150 && shot.GetGreen(x, y) < 140)
                ++text;
        }
    }
    EXPECT_GT(text, 50) << "the reddish failure text";
}

}  // namespace
}  // namespace grainforge::app
