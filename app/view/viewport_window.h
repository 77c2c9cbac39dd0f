// COpenGLViewport: the OpenGL window in the middle of the main frame. It owns the renderer and
// forwards every mouse, wheel, key, timer and capture event to the viewport's state machine
// (ViewportController), which does the work; the window itself only makes the OpenGL 3.3 core
// context (at the first paint once it is shown), paints, and keeps the timer and the capture.
// When no context can be made it paints "OpenGL viewport unavailable" and the reason.
#pragma once

// The renderer brings libepoxy, which must come before the window system's OpenGL header.
#include "app/view/renderer/gl_renderer.h"
#include "app/view/viewport_controller.h"

#include <wx/glcanvas.h>
#include <wx/image.h>
#include <wx/timer.h>

#include <limits>
#include <memory>
#include <string>

namespace grainforge::app {

struct ViewportWindowOptions {
    // The context version asked for; anything the driver cannot give leaves the window
    // without a renderer, painting its failure text.
    int glMajor = 3;
    int glMinor = 3;
    // Host bytes one mesh upload may take (GlRendererOptions); tests lower it to make the
    // renderer refuse large meshes as a graphics card would.
    std::uint64_t maxUploadHostBytes = std::numeric_limits<std::uint64_t>::max();
};

// The label atlas of the view cube drawn with the desktop's sans-serif font: 160 x 576 bytes
// of white-text coverage, one 64-pixel row per label.
std::vector<std::uint8_t> DrawViewCubeLabels();

class COpenGLViewport : public wxGLCanvas {
public:
    static constexpr int kControlId = 1001;
    COpenGLViewport(wxWindow* parent, ViewportWindowOptions options = {});
    ~COpenGLViewport() override;

    void SetCageHost(ICageHost* host) { controller_.SetCageHost(host); }
    void SetRestingFaceHost(IRestingFaceHost* host) { controller_.SetRestingFaceHost(host); }
    void SetFrameStatisticsCallback(std::function<void(const gl::FrameStatistics&)> callback)
    {
        controller_.frameStatisticsCallback = std::move(callback);
    }

    // Called once the first paint has tried to make the context, whether it succeeded or not
    // (the renderer then says which).
    void SetContextReadyCallback(std::function<void()> callback) { contextReady_ = std::move(callback); }
    // Stores the projection's blend description for the renderer; repaints only on a change.
    void SetProjectionOverlay(const gl::ProjectionOverlay& overlay);
    const gl::ProjectionOverlay& ProjectionOverlay() const { return projectionOverlay_; }
    // Forgets the hovered resting face (the lay-on-face mode ended).
    void ClearRestingFaceHover() { controller_.ClearRestingFaceHover(); }

    void FitView() { controller_.FitView(); }
    // Hands the window's present size to the camera.
    void UpdateSize();
    void ClearCageOverlay();
    float WorldSizeOfPixels(const float point[3], float pixels) const { return controller_.WorldSizeOfPixels(point, pixels); }
    float CageHandleSize() const { return controller_.CageHandleSize(); }
    float MaskHandleSize() const { return controller_.MaskHandleSize(); }

    gl::GlRenderer& Renderer() { return renderer_; }
    ViewportController& Controller() { return controller_; }
    // Whether the first paint tried to make the context (successfully or not).
    bool ContextTried() const { return contextTried_; }
    // Draws a frame and reads it back (top row first); an empty image without a renderer.
    wxImage CaptureFrame();
    // Pixels of the failure text's background and colour.
    static const wxColour& FailureBackground();
    static const wxColour& FailureTextColour();
    static const wchar_t* FailureHeadline() { return L"OpenGL viewport unavailable"; }

private:
    class Surface;
    class Platform;

    void OnPaint(wxPaintEvent& event);
    void OnSize(wxSizeEvent& event);
    void OnLeftDown(wxMouseEvent& event);
    void OnLeftUp(wxMouseEvent& event);
    void OnMiddleDown(wxMouseEvent& event);
    void OnMiddleUp(wxMouseEvent& event);
    void OnMotion(wxMouseEvent& event);
    void OnWheel(wxMouseEvent& event);
    void OnLeave(wxMouseEvent& event);
    void OnKeyDown(wxKeyEvent& event);
    void OnTimer(wxTimerEvent& event);
    void OnCaptureLost(wxMouseCaptureLostEvent& event);
    void MakeContext();
    void PaintFailure(wxDC& dc);
    ViewportPoint PointOf(const wxMouseEvent& event) const;

    ViewportWindowOptions options_;
    std::unique_ptr<Surface> surface_;
    std::unique_ptr<Platform> platform_;
    std::unique_ptr<wxGLContext> context_;
    gl::GlRenderer renderer_;
    ViewportController controller_;
    wxTimer timer_;
    bool contextTried_ = false;
    std::function<void()> contextReady_;
    gl::ProjectionOverlay projectionOverlay_;
};

}  // namespace grainforge::app
