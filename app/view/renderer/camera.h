// The viewport's orbit camera around a target point, z up, and the matrices and picking rays
// made from it. Angles of the camera record are degrees. Matrices are 4 x 4 floats,
// column-major as OpenGL takes them. Plain functions over the camera record and the scene
// bounds (render_vertex.h), so everything here is tested without a context.
#pragma once

#include "app/view/renderer/render_vertex.h"

#include <array>
#include <optional>

namespace grainforge::gl {

struct Camera {
    float yaw = -135.0f;    // degrees, -180..180 after every orbit
    float pitch = 45.0f;    // degrees, kept within -kMaxPitch..kMaxPitch
    float distance = 5.2f;  // target to eye, millimetres
    Vec3 target;
};

// Half the vertical field of view (pi / 8); the pitch limit keeps the up vector (0, 0, 1) away
// from the view direction.
inline constexpr float kHalfFieldOfView = 0.3926991f;
inline constexpr float kMaxPitch = 89.5f;

struct CameraFrame {
    Vec3 right;
    Vec3 up;
    Vec3 forward;
};

// forward points from the eye towards the target; right = forward x z, up = right x forward,
// each normalised (to zero when its squared length is 0.000001 or less).
CameraFrame CameraBasis(float yaw, float pitch);

Vec3 CameraEye(const Camera& camera);

// Turns the view by pixels of mouse motion (0.8 degrees a pixel) about the scene centre: a
// panned target turns with the view.
void OrbitCamera(Camera& camera, const SceneBounds& bounds, float dx, float dy);
// As OrbitCamera, to the given angles (yaw wrapped to -180..180, pitch clamped).
void SetCameraAngles(Camera& camera, const SceneBounds& bounds, float yaw, float pitch);
// Moves the target with the mouse: 1.5 camera distances across the viewport height.
void PanCamera(Camera& camera, int viewportHeight, float dx, float dy);
// Moves towards `focus` by 0.86 a notch (positive notches closer), the distance kept within
// 0.005 and 35 scene radii.
void ZoomCameraAt(Camera& camera, const SceneBounds& bounds, float notches, Vec3 focus);
// The distance at which a sphere of `radius` fills the view with a margin, in a viewport of the
// given width / height: the narrower of the vertical and the horizontal field decides, so a
// view narrower than tall does not cut the sphere at its sides. A non-positive or non-finite
// aspect counts as 1.
float FitCameraDistance(float radius, float aspect);
// Target at the scene centre, distance to see the scene's sphere with a margin in a viewport of
// the given width / height (FitCameraDistance); angles kept.
void FitCamera(Camera& camera, const SceneBounds& bounds, float aspect);
// The fit in a viewport of width x height pixels that keeps the scene's sphere clear of the view
// cube in its top right corner (BuildViewCubeLayout at `cubeScale`): the sphere is lowered
// below the cube by `lift` (millimetres along the camera's up, the target above the scene
// centre) as far as the view has room, and only then drawn smaller (a larger distance). A view
// so small that the cube covers its centre keeps the plain fit, as does a `cubeScale` of 0 (no
// cube drawn).
struct ViewFit {
    float distance = 0.0f;
    float lift = 0.0f;
};
ViewFit FitClearOfViewCube(float radius, int width, int height, float cubeScale);
float FitCameraDistance(float radius, int width, int height, float cubeScale);
// FitCamera with that fit, angles kept: what every fit of the program's viewport uses.
void FitCamera(Camera& camera, const SceneBounds& bounds, int width, int height, float cubeScale);

struct ClipRange {
    float nearPlane = 0.0f;
    float farPlane = 0.0f;
    float eyeDistance = 0.0f;  // eye to scene centre
    float radius = 0.0f;       // the larger of the scene radius and the floor half-extent
};
ClipRange ComputeClipRange(const Camera& camera, const SceneBounds& bounds);

using Matrix4 = std::array<float, 16>;

Matrix4 LookAtMatrix(Vec3 eye, Vec3 target, Vec3 up);
Matrix4 PerspectiveMatrix(float aspect, float nearPlane, float farPlane);
// A box 2h high (h = camera distance x tan of the half field of view) from -R to the far plane.
Matrix4 OrthographicMatrix(const Camera& camera, const ClipRange& clip, float aspect);
Matrix4 MultiplyMatrix4(const Matrix4& a, const Matrix4& b);

// Projection x view for a viewport of the given size (each side at least 1).
Matrix4 ViewProjectionMatrix(const Camera& camera, const SceneBounds& bounds, int width, int height,
                             bool orthographic);

// The picking ray through a pixel (x to the right, y down from the top).
struct ViewRay {
    Vec3 origin;
    Vec3 direction;  // unit length
};
// None when the viewport has no area.
std::optional<ViewRay> ComputeScreenRay(const Camera& camera, int width, int height, bool orthographic, float x,
                                        float y);

}  // namespace grainforge::gl
