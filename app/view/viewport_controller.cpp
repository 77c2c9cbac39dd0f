#include "app/view/viewport_controller.h"

#include "app/view/view_rules.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace grainforge::app {

namespace {

constexpr float kRadiansToDegrees = 180.0f / std::numbers::pi_v<float>;
constexpr float kCubeDragPixels = 4.0f;   // a cube press moving further orbits
constexpr float kClickPixels = 5.0f;      // a press released nearer is a click

}  // namespace

ViewportController::ViewportController(gl::GlRenderer& renderer, IViewportPlatform& platform)
    : renderer_(renderer), platform_(platform)
{
}

float ViewportController::DpiScale() const
{
    int dpi = platform_.Dpi();
    if (dpi == 0)
        dpi = 96;
    const float scale = static_cast<float>(dpi) / 96.0f;
    return scale > 0.0f ? scale : 1.0f;
}

bool ViewportController::RayAt(ViewportPoint p, ViewRay& ray) const
{
    if (!platform_.RendererReady())
        return false;
    const ViewportPoint q = Physical(p);
    const gl::RenderViewState& view = renderer_.view;
    const std::optional<ViewRay> found =
        gl::ComputeScreenRay(renderer_.CameraState(), view.width, view.height, view.orthographic != 0, q.x, q.y);
    if (!found || !mesh::IsFinite(found->origin) || !mesh::IsFinite(found->direction))
        return false;
    ray = *found;
    return true;
}

void ViewportController::Refresh()
{
    if (cageHost_ != nullptr)
        cageHost_->RefreshOverlays();
    platform_.Repaint();
}

void ViewportController::StopAnimation()
{
    if (!animating_)
        return;
    animating_ = false;
    platform_.StopAnimationTimer();
}

// ---- Window events ---------------------------------------------------------------------------

void ViewportController::OnCreate()
{
    renderer_.view.showViewCube = 1;
    renderer_.view.dpiScale = DpiScale();
    renderer_.view.viewCubeScale = app::ViewCubeScale(renderer_.view.width, renderer_.view.height, DpiScale());
}

void ViewportController::OnSize(int width, int height)
{
    renderer_.view.width = std::max(width, 1);
    renderer_.view.height = std::max(height, 1);
    renderer_.view.dpiScale = DpiScale();
    renderer_.view.viewCubeScale = app::ViewCubeScale(renderer_.view.width, renderer_.view.height, DpiScale());
    Refresh();
}

void ViewportController::OnFrameDrawn()
{
    if (frameStatisticsCallback)
        frameStatisticsCallback(renderer_.Statistics());
}

void ViewportController::OnLeftDown(ViewportPoint p, bool shift)
{
    platform_.SetFocus();
    if (!platform_.HasCapture())
        platform_.CaptureMouse();
    StopAnimation();
    last_ = press_ = p;
    pressedBoxSide_ = -1;

    const gl::ViewCubeLayout layout = Layout();
    const ViewportPoint q = Physical(p);
    if (layout.squareSize > 0.0f &&
        (gl::PointInViewCubeSquare(layout, q.x, q.y) || gl::HomeButtonHit(layout, q.x, q.y))) {
        viewCubePressed_ = true;
        viewCubeDragged_ = false;
        orbit_ = pan_ = false;
        return;
    }

    pressedRestingFace_ = -1;
    if (restingFaceHost_ != nullptr && restingFaceHost_->IsActive()) {
        ViewRay ray;
        if (RayAt(p, ray))
            pressedRestingFace_ = restingFaceHost_->PickRestingFace(ray);
    }
    if (pressedRestingFace_ < 0 && !shift && BeginHandleDrag(p)) {
        orbit_ = pan_ = false;
        return;
    }
    pressedBoxSide_ = PickBoxSideAt(p);
    pan_ = shift;
    orbit_ = !shift;
}

void ViewportController::OnMiddleDown(ViewportPoint p)
{
    platform_.SetFocus();
    if (!platform_.HasCapture())
        platform_.CaptureMouse();
    StopAnimation();
    last_ = p;
    pan_ = true;
    orbit_ = false;
}

void ViewportController::OnMiddleUp()
{
    EndMouseDrag();
}

void ViewportController::EndMouseDrag()
{
    if (platform_.HasCapture())
        platform_.ReleaseMouse();
    viewCubePressed_ = viewCubeDragged_ = false;
    orbit_ = pan_ = false;
    handleDragActive_ = layerDragActive_ = false;
    frameDrag_.handle = 0;
    layerDrag_.handle = 0;
    pressedBoxSide_ = -1;
}

void ViewportController::OnCaptureLost()
{
    // The host opened an edit at the grab; it is closed as at a button up.
    if (handleDragActive_ && cageHost_ != nullptr)
        cageHost_->EndCageDrag();
    pressedRestingFace_ = -1;
    EndMouseDrag();
}

void ViewportController::OrbitBy(float dx, float dy)
{
    if (automaticOrthographic_) {
        automaticOrthographic_ = false;
        renderer_.view.orthographic = 0;
        Refresh();
    }
    renderer_.Orbit(dx, dy);
    Refresh();
}

void ViewportController::OnMouseMove(ViewportPoint p, bool shift)
{
    shiftDown_ = shift;
    const bool captured = platform_.HasCapture();
    if (captured && viewCubePressed_) {
        if (!viewCubeDragged_) {
            if (std::fabs(p.x - press_.x) > kCubeDragPixels || std::fabs(p.y - press_.y) > kCubeDragPixels) {
                viewCubeDragged_ = true;
                OrbitBy(p.x - last_.x, p.y - last_.y);
            }
        } else {
            OrbitBy(p.x - last_.x, p.y - last_.y);
        }
        last_ = p;
        return;
    }
    if (!captured) {
        if (UpdateViewCubeHover(p))
            return;
        UpdateHover(p);
        return;
    }
    if (handleDragActive_) {
        DragHandle(p);
        last_ = p;
        return;
    }
    if (orbit_ || pan_) {
        const float dx = p.x - last_.x;
        const float dy = p.y - last_.y;
        last_ = p;
        if (orbit_) {
            OrbitBy(dx, dy);
        } else {
            renderer_.Pan(dx * contentScale_, dy * contentScale_);
            Refresh();
        }
    }
}

void ViewportController::OnLeftUp(ViewportPoint p, bool control)
{
    if (viewCubePressed_) {
        const bool dragged = viewCubeDragged_;
        EndMouseDrag();
        if (!dragged) {
            const gl::ViewCubeLayout layout = Layout();
            const ViewportPoint q = Physical(p);
            gl::CellDirection direction{};
            if (layout.squareSize > 0.0f && gl::HomeButtonHit(layout, q.x, q.y))
                GoHome();
            else if (gl::ViewCubeCellAt(layout, q.x, q.y, direction))
                StartCameraAnimation(direction);
        }
        UpdateViewCubeHover(p);
        return;
    }
    const bool handleDrag = handleDragActive_;
    const int boxSide = pressedBoxSide_;
    const int restingFace = pressedRestingFace_;
    pressedRestingFace_ = -1;
    EndMouseDrag();
    const bool click = std::fabs(p.x - press_.x) < kClickPixels && std::fabs(p.y - press_.y) < kClickPixels;
    if (restingFace >= 0 && click && restingFaceHost_ != nullptr && restingFaceHost_->IsActive()) {
        hoveredRestingFace_ = -1;
        restingFaceHost_->LayOnRestingFace(restingFace);
    } else if (handleDrag) {
        if (cageHost_ != nullptr)
            cageHost_->EndCageDrag();
    } else if (boxSide >= 0 && click && cageHost_ != nullptr) {
        const int tool = cageHost_->GetCageMode();
        if (tool >= 1 && tool <= 3)
            cageHost_->SelectSide(boxSide);
        else
            cageHost_->ClickBoxSide(boxSide, control);
    }
    UpdateHover(p);
}

void ViewportController::OnMouseWheel(ViewportPoint p, float notches)
{
    if (!std::isfinite(notches))
        return;
    mesh::Vec3 focus = renderer_.Bounds().centre;
    ViewRay ray;
    float hit[3] = {0.0f, 0.0f, 0.0f};
    if (cageHost_ != nullptr && RayAt(p, ray) && cageHost_->PickPart(ray, hit)) {
        const mesh::Vec3 point{hit[0], hit[1], hit[2]};
        if (mesh::IsFinite(point))
            focus = point;
    }
    renderer_.ZoomAt(notches, focus);
    Refresh();
}

bool ViewportController::OnKeyDown(int key)
{
    if (key == kKeyHome || key == kKeyF) {
        automaticOrthographic_ = false;
        renderer_.view.orthographic = 0;
        Refresh();
        FitView();
        return true;
    }
    if (key == kKeyNumpad5) {
        automaticOrthographic_ = false;
        renderer_.view.orthographic = renderer_.view.orthographic != 0 ? 0 : 1;
        Refresh();
        return true;
    }
    return false;
}

void ViewportController::OnTimer()
{
    if (!animating_) {
        platform_.StopAnimationTimer();
        return;
    }
    const std::uint64_t now = platform_.NowMilliseconds();
    const std::uint64_t elapsed = now > startTime_ ? now - startTime_ : 0;
    const float t = static_cast<float>(static_cast<double>(elapsed) / static_cast<double>(kAnimationMilliseconds));
    if (t < 1.0f) {
        const float s = (3.0f - 2.0f * t) * t * t;
        renderer_.SetViewAngles(startYaw_ + (endYaw_ - startYaw_) * s, startPitch_ + (endPitch_ - startPitch_) * s);
        Refresh();
    } else {
        FinishCameraAnimation();
    }
}

void ViewportController::OnMouseLeave()
{
    if (cubeHover_.cellValid || cubeHover_.homeHovered)
        SetCubeHover(gl::ViewCubeHover{});
}

// ---- Camera operations -----------------------------------------------------------------------

void ViewportController::FitView()
{
    StopAnimation();
    gl::FitCamera(renderer_.CameraState(), renderer_.Bounds(), renderer_.view.width, renderer_.view.height,
        renderer_.ViewCubeScaleNow());
    Refresh();
}

void ViewportController::GoHome()
{
    StopAnimation();
    automaticOrthographic_ = false;
    renderer_.view.orthographic = 0;
    Refresh();
    gl::Camera& camera = renderer_.CameraState();
    camera.yaw = -135.0f;
    camera.pitch = 45.0f;
    gl::FitCamera(camera, renderer_.Bounds(), renderer_.view.width, renderer_.view.height,
        renderer_.ViewCubeScaleNow());
    Refresh();
}

void ViewportController::StartCameraAnimation(gl::CellDirection d)
{
    if (d[0] == 0 && d[1] == 0 && d[2] == 0)
        return;
    StopAnimation();
    float yaw = 0.0f;
    float pitch = 0.0f;
    if (d[0] == 0 && d[1] == 0) {
        yaw = -90.0f;
        pitch = d[2] >= 1 ? gl::kMaxPitch : -gl::kMaxPitch;
    } else {
        const float x = static_cast<float>(d[0]);
        const float y = static_cast<float>(d[1]);
        const float z = static_cast<float>(d[2]);
        yaw = std::atan2(y, x) * kRadiansToDegrees;
        pitch = std::clamp(std::atan2(z, std::sqrt(x * x + y * y)) * kRadiansToDegrees, -gl::kMaxPitch, gl::kMaxPitch);
    }
    const gl::Camera& camera = renderer_.CameraState();
    startYaw_ = camera.yaw;
    startPitch_ = camera.pitch;
    endYaw_ = startYaw_ + std::remainder(yaw - startYaw_, 360.0f);
    endPitch_ = pitch;
    animationFaceView_ = (d[0] != 0 ? 1 : 0) + (d[1] != 0 ? 1 : 0) + (d[2] != 0 ? 1 : 0) == 1;
    if (!animationFaceView_ && automaticOrthographic_) {
        automaticOrthographic_ = false;
        renderer_.view.orthographic = 0;
        Refresh();
    }
    animating_ = true;
    startTime_ = platform_.NowMilliseconds();
    platform_.StartAnimationTimer(kAnimationTimerMilliseconds);
}

void ViewportController::FinishCameraAnimation()
{
    if (!animating_)
        return;
    animating_ = false;
    platform_.StopAnimationTimer();
    renderer_.SetViewAngles(endYaw_, endPitch_);
    if (animationFaceView_ && renderer_.view.orthographic == 0) {
        renderer_.view.orthographic = 1;
        Refresh();
        automaticOrthographic_ = true;
    }
    Refresh();
}

// ---- Sizes -----------------------------------------------------------------------------------

float ViewportController::WorldSizeAt(mesh::Vec3 point, float pixels) const
{
    int dpi = platform_.Dpi();
    if (dpi == 0)
        dpi = 96;
    const float h = static_cast<float>(std::max(renderer_.view.height, 1));
    const float t = std::tan(gl::kHalfFieldOfView);
    const gl::Camera& camera = renderer_.CameraState();
    float depth = camera.distance;
    if (renderer_.view.orthographic == 0) {
        const mesh::Vec3 eye = renderer_.CameraEye();
        const mesh::Vec3 toTarget = camera.target - eye;
        const float lengthSquared = mesh::Dot(toTarget, toTarget);
        const mesh::Vec3 forward =
            lengthSquared > 1e-6f ? toTarget * (1.0f / std::sqrt(lengthSquared)) : mesh::Vec3{};
        depth = std::max(0.05f * camera.distance, mesh::Dot(point - eye, forward));
    }
    return static_cast<float>(dpi) * ((2.0f * depth * t / h) * pixels) / 96.0f;
}

float ViewportController::WorldSizeOfPixels(const float point[3], float pixels) const
{
    return WorldSizeAt({point[0], point[1], point[2]}, pixels);
}

float ViewportController::CageHandleSize() const
{
    if (cageHost_ == nullptr || !cageHost_->HasPart())
        return 0.0f;
    const CageFrame* frame = cageHost_->GetCageFrame();
    return frame != nullptr ? WorldSizeAt(frame->center, kCageHandlePixels) : 0.0f;
}

float ViewportController::MaskHandleSize() const
{
    if (cageHost_ == nullptr || !cageHost_->HasPart())
        return 0.0f;
    const CageFrame* frame = cageHost_->GetCageFrame();
    return frame != nullptr ? WorldSizeAt(frame->center, kMaskHandlePixels) : 0.0f;
}

void ViewportController::ClearCageOverlay()
{
    if (renderer_.IsReady())
        renderer_.DeleteCageOverlays();
    platform_.Repaint();
}

// ---- Handles ---------------------------------------------------------------------------------

bool ViewportController::BeginHandleDrag(ViewportPoint p)
{
    if (cageHost_ == nullptr || !cageHost_->HasPart())
        return false;
    const int tool = cageHost_->GetCageMode();
    ViewRay ray;
    if (tool == 0 || !RayAt(p, ray))
        return false;
    if (tool >= 1 && tool <= 3) {
        LayerGizmo gizmo;
        cageHost_->GetLayerGizmo(gizmo);
        const float size = gizmo.valid != 0 ? std::max(0.001f, WorldSizeAt(gizmo.origin, kCageHandlePixels)) : 0.0f;
        const int id = PickLayerHandle(ray, gizmo, tool, size);
        if (id == 0 || gizmo.valid == 0)
            return false;
        const Projection* projection = cageHost_->GetProjection();
        if (projection == nullptr)
            return false;
        LayerDragState state;
        if (!BeginLayerDrag(ray, gizmo, *projection, tool, id, size, state))
            return false;
        layerDrag_ = state;
        handleDragActive_ = layerDragActive_ = true;
        frameDrag_.handle = id;
        cageHost_->BeginEdit();
        cageHost_->BeginCageDrag();
        return true;
    }
    if (tool < 4 || tool > 8)
        return false;
    const CageFrame* found = cageHost_->GetCageFrame();
    if (found == nullptr)
        return false;
    const CageFrame frame = *found;
    const float handleSize = WorldSizeAt(frame.center, kCageHandlePixels);
    int id = 0;
    if (tool == 8)
        id = PickMaskScaleHandle(ray, frame, cageHost_->CageIsCylinder(), WorldSizeAt(frame.center, kMaskHandlePixels) * 1.4f);
    else
        id = PickFrameHandle(ray, frame, tool, handleSize);
    float value = 0.0f;
    if (id == 0 || !FrameDragStartValue(ray, frame, tool, id, value))
        return false;
    handleDragActive_ = true;
    layerDragActive_ = false;
    cageHost_->BeginEdit();
    frameDrag_ = FrameDragState{id, frame, value, handleSize};
    return true;
}

void ViewportController::DragHandle(ViewportPoint p)
{
    if (cageHost_ == nullptr || !cageHost_->HasPart())
        return;
    ViewRay ray;
    if (!RayAt(p, ray))
        return;
    if (layerDragActive_) {
        ProjectionLayer layer;
        if (ApplyLayerDrag(ray, layerDrag_, layer))
            cageHost_->SetSidePlacement(layerDrag_.gizmo.side, layer);
        return;
    }
    const int tool = cageHost_->GetCageMode();
    CageFrame frame;
    if (ApplyFrameDrag(ray, frameDrag_, tool, shiftDown_, frame))
        cageHost_->SetCageFrame(frame);
}

int ViewportController::PickBoxSideAt(ViewportPoint p)
{
    if (cageHost_ == nullptr || !cageHost_->HasPart() || renderer_.view.showCage == 0)
        return -1;
    ViewRay ray;
    if (!RayAt(p, ray))
        return -1;
    const Projection* projection = cageHost_->GetProjection();
    if (projection == nullptr)
        return -1;
    const BoxSidePick pick = PickBoxSide(ray, *projection);
    return pick.hit ? pick.side : -1;
}

// ---- Hover -----------------------------------------------------------------------------------

void ViewportController::SetCubeHover(const gl::ViewCubeHover& hover)
{
    cubeHover_ = hover;
    renderer_.viewCubeHover = hover;
    platform_.Repaint();
}

bool ViewportController::UpdateViewCubeHover(ViewportPoint p)
{
    const gl::ViewCubeLayout layout = Layout();
    const ViewportPoint q = Physical(p);
    gl::ViewCubeHover next;
    bool over = false;
    if (layout.squareSize > 0.0f) {
        over = gl::PointInViewCubeSquare(layout, q.x, q.y) || gl::HomeButtonHit(layout, q.x, q.y);
        if (over) {
            if (gl::HomeButtonHit(layout, q.x, q.y))
                next.homeHovered = true;
            else
                next.cellValid = gl::ViewCubeCellAt(layout, q.x, q.y, next.cell);
        }
    }
    const bool changed = next.cellValid != cubeHover_.cellValid ||
                         (next.cellValid && next.cell != cubeHover_.cell) ||
                         next.homeHovered != cubeHover_.homeHovered;
    if (changed)
        SetCubeHover(next);
    return over;
}

void ViewportController::UpdateHover(ViewportPoint p)
{
    ViewRay ray;
    if (restingFaceHost_ != nullptr && restingFaceHost_->IsActive()) {
        const int face = RayAt(p, ray) ? restingFaceHost_->PickRestingFace(ray) : -1;
        if (face != hoveredRestingFace_) {
            hoveredRestingFace_ = face;
            restingFaceHost_->SetHoveredRestingFace(face);
        }
        return;
    }
    hoveredRestingFace_ = -1;
    if (cageHost_ == nullptr || !cageHost_->HasPart())
        return;
    int side = -1;
    int handle = 0;
    if (RayAt(p, ray)) {
        const int tool = cageHost_->GetCageMode();
        if (tool >= 1 && tool <= 3) {
            LayerGizmo gizmo;
            cageHost_->GetLayerGizmo(gizmo);
            const float size =
                gizmo.valid != 0 ? std::max(0.001f, WorldSizeAt(gizmo.origin, kCageHandlePixels)) : 0.0f;
            handle = PickLayerHandle(ray, gizmo, tool, size);
        } else if (const CageFrame* found = cageHost_->GetCageFrame(); found != nullptr) {
            const CageFrame frame = *found;
            if (tool == 8)
                handle = PickMaskScaleHandle(ray, frame, cageHost_->CageIsCylinder(),
                                             WorldSizeAt(frame.center, kMaskHandlePixels) * 1.4f);
            else
                handle = PickFrameHandle(ray, frame, tool, WorldSizeAt(frame.center, kCageHandlePixels));
        }
        if (handle == 0 && renderer_.view.showCage != 0) {
            if (const Projection* projection = cageHost_->GetProjection(); projection != nullptr) {
                const BoxSidePick pick = PickBoxSide(ray, *projection);
                if (pick.hit)
                    side = pick.side;
            }
        }
    }
    if (side != hoveredBoxSide_ || handle != hoveredHandle_) {
        hoveredBoxSide_ = side;
        hoveredHandle_ = handle;
        cageHost_->SetHover(side, handle);
    }
}

}  // namespace grainforge::app
