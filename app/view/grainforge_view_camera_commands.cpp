// The View menu's camera commands: orthographic, Reset / Fit and the seven camera presets.
#include "app/view/grainforge_view.h"

#include "app/document/grainforge_doc.h"
#include "app/view/view_command_rules.h"

namespace grainforge::app {

void CGrainforgeView::AddCameraCommands(CommandTable& table)
{
    table.push_back({32788, [this] { OnOrthographic(); }, [this](CommandState& state) {
                         state.enabled = RendererReady();
                         state.checked = viewport_ != nullptr && viewport_->Renderer().view.orthographic != 0;
                     }});
    table.push_back({32773, [this] { OnResetFit(); }, {}});
    for (int id = 32774; id <= 32780; ++id)
        table.push_back({id, [this, id] { OnCameraPreset(id); }, {}});
}

void CGrainforgeView::OnOrthographic()
{
    if (viewport_ == nullptr)
        return;
    gl::GlRenderer& renderer = viewport_->Renderer();
    renderer.view.orthographic = renderer.view.orthographic != 0 ? 0 : 1;
    // The user's own choice: no orbit takes it back (as the keypad's 5).
    viewport_->Controller().SetAutomaticOrthographic(false);
    RefreshOverlays();
    Repaint();
}

void CGrainforgeView::OnResetFit()
{
    if (viewport_ == nullptr)
        return;
    viewport_->Renderer().view.orthographic = 0;
    viewport_->Controller().SetAutomaticOrthographic(false);
    RefreshOverlays();
    Repaint();
    viewport_->FitView();
}

void CGrainforgeView::OnCameraPreset(int commandId)
{
    const std::optional<CameraPreset> preset = CameraPresetOfCommand(commandId);
    if (!preset || viewport_ == nullptr)
        return;
    gl::GlRenderer& renderer = viewport_->Renderer();
    ViewportController& controller = viewport_->Controller();
    controller.StopAnimation();
    if (!preset->faceView) {
        renderer.view.orthographic = 0;
        controller.SetAutomaticOrthographic(false);
    } else if (renderer.view.orthographic == 0) {
        renderer.view.orthographic = 1;
        RefreshOverlays();
        Repaint();
        controller.SetAutomaticOrthographic(true);
    }
    gl::Camera& camera = renderer.CameraState();
    camera.yaw = preset->yaw;
    camera.pitch = preset->pitch;
    gl::FitCamera(camera, renderer.Bounds(), renderer.view.width, renderer.view.height,
                  renderer.ViewCubeScaleNow());
    RefreshOverlays();
    Repaint();
}

}  // namespace grainforge::app
