// The viewport's input: clicks against drags, orbit, pan and wheel zoom, the keys it handles
// itself, the camera animation to a view chosen on the view cube, handle grabs and drags, box
// side and resting-face picks, and the hover state of all of them. Holds no window: the window
// (COpenGLViewport) forwards its events here and implements IViewportPlatform, so tests drive
// the same state machine with a fake window and a fake clock.
//
// Points are client pixels (y down). Picking rays and the view cube work in the renderer's
// pixels: a point is multiplied by the content scale first.
#pragma once

#include "app/view/cage_host.h"
#include "app/view/handles.h"
#include "app/view/renderer/gl_renderer.h"

#include <cmath>
#include <cstdint>
#include <functional>

namespace grainforge::app {

// What the state machine needs of its window.
class IViewportPlatform {
public:
    virtual ~IViewportPlatform() = default;
    virtual void Repaint() = 0;
    virtual void SetFocus() = 0;
    virtual void CaptureMouse() = 0;
    virtual void ReleaseMouse() = 0;
    virtual bool HasCapture() const = 0;
    // Timer 92: every 15 ms while the camera animates.
    virtual void StartAnimationTimer(int milliseconds) = 0;
    virtual void StopAnimationTimer() = 0;
    virtual std::uint64_t NowMilliseconds() const = 0;
    virtual int Dpi() const = 0;  // 96 when unknown
    // Whether the renderer has a context, so that picking rays can be made.
    virtual bool RendererReady() const = 0;
};

struct ViewportPoint {
    float x = 0.0f;
    float y = 0.0f;
};

// The keys the viewport handles itself (Windows key codes, as the command texts name them).
inline constexpr int kKeyHome = 36;
inline constexpr int kKeyF = 70;
inline constexpr int kKeyNumpad5 = 101;
inline constexpr int kAnimationTimerId = 92;
inline constexpr int kAnimationTimerMilliseconds = 15;
inline constexpr std::uint64_t kAnimationMilliseconds = 250;
inline constexpr float kCageHandlePixels = 110.0f;
inline constexpr float kMaskHandlePixels = 16.0f;

class ViewportController {
public:
    ViewportController(gl::GlRenderer& renderer, IViewportPlatform& platform);

    void SetCageHost(ICageHost* host) { cageHost_ = host; }
    void SetRestingFaceHost(IRestingFaceHost* host) { restingFaceHost_ = host; }
    // Physical pixels per client pixel (1 unless the desktop scales).
    void SetContentScale(float scale) { contentScale_ = scale > 0.0f && std::isfinite(scale) ? scale : 1.0f; }
    std::function<void(const gl::FrameStatistics&)> frameStatisticsCallback;

    // Window events.
    void OnCreate();
    // Size in renderer pixels.
    void OnSize(int width, int height);
    void OnLeftDown(ViewportPoint p, bool shift);
    void OnLeftUp(ViewportPoint p, bool control);
    void OnMiddleDown(ViewportPoint p);
    void OnMiddleUp();
    // shift: whether Shift is down now (a mask face dragged with it moves symmetrically).
    void OnMouseMove(ViewportPoint p, bool shift);
    void OnMouseWheel(ViewportPoint p, float notches);
    // True when the key was handled.
    bool OnKeyDown(int key);
    void OnTimer();
    void OnMouseLeave();
    // The capture was taken away (another window, a menu): the gesture ends as at button up
    // without its click.
    void OnCaptureLost();
    // After a frame was drawn.
    void OnFrameDrawn();
    void EndMouseDrag();

    // Operations of the view.
    void FitView();
    void GoHome();
    void ClearCageOverlay();
    void ClearRestingFaceHover() { hoveredRestingFace_ = -1; pressedRestingFace_ = -1; }
    float WorldSizeOfPixels(const float point[3], float pixels) const;
    float CageHandleSize() const;
    float MaskHandleSize() const;
    void StartCameraAnimation(gl::CellDirection direction);
    void FinishCameraAnimation();
    void StopAnimation();

    // State, for the view and for checks.
    bool IsAnimating() const { return animating_; }
    bool AutomaticOrthographic() const { return automaticOrthographic_; }
    // Set when a command turned orthographic on for a face view: the next orbit turns it off.
    void SetAutomaticOrthographic(bool on) { automaticOrthographic_ = on; }
    bool IsOrbiting() const { return orbit_; }
    bool IsPanning() const { return pan_; }
    bool HandleDragActive() const { return handleDragActive_; }
    bool LayerDragActive() const { return layerDragActive_; }
    bool ViewCubePressed() const { return viewCubePressed_; }
    bool ViewCubeDragged() const { return viewCubeDragged_; }
    int HoveredBoxSide() const { return hoveredBoxSide_; }
    int HoveredHandle() const { return hoveredHandle_; }
    int HoveredRestingFace() const { return hoveredRestingFace_; }
    const gl::ViewCubeHover& CubeHover() const { return cubeHover_; }
    float AnimationEndYaw() const { return endYaw_; }
    float AnimationEndPitch() const { return endPitch_; }

private:
    bool RayAt(ViewportPoint p, ViewRay& ray) const;
    gl::ViewCubeLayout Layout() const { return renderer_.ViewCubeLayoutNow(); }
    ViewportPoint Physical(ViewportPoint p) const { return {p.x * contentScale_, p.y * contentScale_}; }
    void Refresh();
    void OrbitBy(float dx, float dy);
    bool BeginHandleDrag(ViewportPoint p);
    void DragHandle(ViewportPoint p);
    int PickBoxSideAt(ViewportPoint p);
    bool UpdateViewCubeHover(ViewportPoint p);
    void UpdateHover(ViewportPoint p);
    void SetCubeHover(const gl::ViewCubeHover& hover);
    float DpiScale() const;
    float WorldSizeAt(mesh::Vec3 point, float pixels) const;

    gl::GlRenderer& renderer_;
    IViewportPlatform& platform_;
    ICageHost* cageHost_ = nullptr;
    IRestingFaceHost* restingFaceHost_ = nullptr;
    float contentScale_ = 1.0f;

    ViewportPoint last_;
    bool orbit_ = false;
    bool automaticOrthographic_ = false;
    bool pan_ = false;
    int hoveredRestingFace_ = -1;
    int pressedRestingFace_ = -1;
    int hoveredBoxSide_ = -1;
    int hoveredHandle_ = 0;
    bool handleDragActive_ = false;
    FrameDragState frameDrag_;
    bool layerDragActive_ = false;
    LayerDragState layerDrag_;
    int pressedBoxSide_ = -1;
    ViewportPoint press_;
    gl::ViewCubeHover cubeHover_;
    bool viewCubePressed_ = false;
    bool viewCubeDragged_ = false;
    bool animating_ = false;
    bool animationFaceView_ = false;
    float startYaw_ = 0.0f;
    float startPitch_ = 0.0f;
    float endYaw_ = 0.0f;
    float endPitch_ = 0.0f;
    std::uint64_t startTime_ = 0;
    bool shiftDown_ = false;
};

}  // namespace grainforge::app
