#include "app/view/renderer/camera.h"

#include "app/view/renderer/view_cube.h"

#include <algorithm>
#include <cmath>

namespace grainforge::gl {

namespace {

constexpr float kDegreesToRadians = 3.1415927f / 180.0f;
constexpr float kOrbitDegreesPerPixel = 0.8f;
constexpr float kPanDistancesPerHeight = 1.5f;
constexpr float kZoomPerNotch = 0.86f;
constexpr float kNearestDistance = 0.005f;   // in scene radii
constexpr float kFarthestDistance = 35.0f;
constexpr float kFitMargin = 1.15f;
constexpr Vec3 kUp{0.0f, 0.0f, 1.0f};

// Unit vector, or zero for a vector too short to have a direction.
Vec3 NormalisedOrZero(Vec3 v)
{
    const float squared = mesh::Dot(v, v);
    if (squared <= 0.000001f)
        return Vec3{};
    return v * (1.0f / std::sqrt(squared));
}

Vec3 EyeDirection(float yaw, float pitch)
{
    const float y = yaw * kDegreesToRadians;
    const float p = pitch * kDegreesToRadians;
    return Vec3{std::cos(p) * std::cos(y), std::cos(p) * std::sin(y), std::sin(p)};
}

// Right and up of a view along `forward`.
CameraFrame FrameAlong(Vec3 forward)
{
    CameraFrame frame;
    frame.forward = forward;
    frame.right = NormalisedOrZero(mesh::Cross(forward, kUp));
    frame.up = NormalisedOrZero(mesh::Cross(frame.right, forward));
    return frame;
}

// Turns to new angles, carrying the target's offset from the scene centre with the view.
void TurnTo(Camera& camera, const SceneBounds& bounds, float yaw, float pitch)
{
    const CameraFrame before = CameraBasis(camera.yaw, camera.pitch);
    const Vec3 offset = camera.target - bounds.centre;
    const float r = mesh::Dot(offset, before.right);
    const float u = mesh::Dot(offset, before.up);
    const float f = mesh::Dot(offset, before.forward);
    camera.yaw = yaw;
    camera.pitch = std::clamp(pitch, -kMaxPitch, kMaxPitch);
    const CameraFrame after = CameraBasis(camera.yaw, camera.pitch);
    camera.target = bounds.centre + after.right * r + after.up * u + after.forward * f;
}

}  // namespace

CameraFrame CameraBasis(float yaw, float pitch)
{
    return FrameAlong(EyeDirection(yaw, pitch) * -1.0f);
}

Vec3 CameraEye(const Camera& camera)
{
    return camera.target + EyeDirection(camera.yaw, camera.pitch) * camera.distance;
}

void OrbitCamera(Camera& camera, const SceneBounds& bounds, float dx, float dy)
{
    TurnTo(camera, bounds, std::remainder(camera.yaw - kOrbitDegreesPerPixel * dx, 360.0f),
           camera.pitch + kOrbitDegreesPerPixel * dy);
}

void SetCameraAngles(Camera& camera, const SceneBounds& bounds, float yaw, float pitch)
{
    TurnTo(camera, bounds, std::remainder(yaw, 360.0f), pitch);
}

void PanCamera(Camera& camera, int viewportHeight, float dx, float dy)
{
    const CameraFrame frame = FrameAlong(NormalisedOrZero(camera.target - CameraEye(camera)));
    const float k = camera.distance * kPanDistancesPerHeight / static_cast<float>(std::max(viewportHeight, 1));
    camera.target += frame.right * (-dx * k) + frame.up * (dy * k);
}

void ZoomCameraAt(Camera& camera, const SceneBounds& bounds, float notches, Vec3 focus)
{
    const float d = std::clamp(camera.distance * std::pow(kZoomPerNotch, notches), bounds.radius * kNearestDistance,
                               bounds.radius * kFarthestDistance);
    if (camera.distance > 0.0f)
        camera.target = focus + (camera.target - focus) * (d / camera.distance);
    camera.distance = d;
}

float FitCameraDistance(float radius, float aspect)
{
    const float a = std::isfinite(aspect) && aspect > 0.0f ? aspect : 1.0f;
    // Half the horizontal field: tan of it is tan(half vertical) x aspect.
    const float halfWidthAngle = std::atan(std::tan(kHalfFieldOfView) * a);
    return radius / std::sin(std::min(kHalfFieldOfView, halfWidthAngle)) * kFitMargin;
}

void FitCamera(Camera& camera, const SceneBounds& bounds, float aspect)
{
    camera.target = bounds.centre;
    camera.distance = FitCameraDistance(bounds.radius, aspect);
}

ViewFit FitClearOfViewCube(float radius, int width, int height, float cubeScale)
{
    const int w = std::max(width, 1);
    const int h = std::max(height, 1);
    const float plain = FitCameraDistance(radius, static_cast<float>(w) / static_cast<float>(h));
    if (!(radius > 0.0f) || !(plain > radius) || !(cubeScale > 0.0f))
        return {plain, 0.0f};
    // A sphere seen from distance d subtends asin(r / d); on screen that is tan of it over
    // tan(half field) of half the height, a circle round the point the target shows at.
    const float halfHeight = 0.5f * static_cast<float>(h);
    const float tanHalf = std::tan(kHalfFieldOfView);
    const float plainSine = radius / plain;
    const float plainPixels = plainSine / std::sqrt(1.0f - plainSine * plainSine) / tanHalf * halfHeight;
    const ViewCubeLayout cube = BuildViewCubeLayout(w, cubeScale, 0.0f, 0.0f);
    const float gap = 4.0f * cube.scale;
    const float cx = 0.5f * static_cast<float>(w);
    const float dx = std::max({cube.squareX - cx, 0.0f, cx - (cube.squareX + cube.squareSize)});
    const float bottomRoom = std::min(halfHeight - plainPixels, 0.075f * static_cast<float>(h));
    // The lowest centre a circle of `pixels` needs to pass below the cube (3% more for the
    // widening of a sphere seen off the axis), or none when it then leaves the view.
    const auto centreFor = [&](float pixels) -> std::optional<float> {
        const float need = 1.03f * pixels + gap;
        float y = halfHeight;
        if (dx < need)
            y = std::max(y, cube.squareY + cube.squareSize + std::sqrt(need * need - dx * dx));
        if (y > halfHeight && y + 1.03f * pixels > static_cast<float>(h) - std::max(bottomRoom, gap))
            return std::nullopt;
        return y;
    };
    float pixels = plainPixels;
    std::optional<float> centre = centreFor(pixels);
    if (!centre) {
        float fits = 0.0f;
        float fails = plainPixels;
        for (int step = 0; step < 24; ++step) {
            const float mid = 0.5f * (fits + fails);
            (centreFor(mid) ? fits : fails) = mid;
        }
        if (fits < 1.0f)
            return {plain, 0.0f};
        pixels = fits;
        centre = centreFor(pixels);
    }
    const float t = pixels / halfHeight * tanHalf;
    const float distance = pixels < plainPixels ? radius * std::sqrt(1.0f + t * t) / t : plain;
    return {distance, (*centre - halfHeight) / halfHeight * distance * tanHalf};
}

float FitCameraDistance(float radius, int width, int height, float cubeScale)
{
    return FitClearOfViewCube(radius, width, height, cubeScale).distance;
}

void FitCamera(Camera& camera, const SceneBounds& bounds, int width, int height, float cubeScale)
{
    const ViewFit fit = FitClearOfViewCube(bounds.radius, width, height, cubeScale);
    camera.target = bounds.centre + CameraBasis(camera.yaw, camera.pitch).up * fit.lift;
    camera.distance = fit.distance;
}

ClipRange ComputeClipRange(const Camera& camera, const SceneBounds& bounds)
{
    ClipRange clip;
    clip.radius = std::max(bounds.radius, bounds.floorHalfExtent);
    clip.eyeDistance = mesh::Length(CameraEye(camera) - bounds.centre);
    clip.farPlane = 3.0f * clip.radius + std::max(clip.eyeDistance, camera.distance);
    clip.nearPlane = std::max(clip.eyeDistance - 3.0f * clip.radius,
                              std::min(0.001f * clip.farPlane, 0.01f * camera.distance));
    return clip;
}

Matrix4 LookAtMatrix(Vec3 eye, Vec3 target, Vec3 up)
{
    const Vec3 f = NormalisedOrZero(target - eye);
    const Vec3 s = NormalisedOrZero(mesh::Cross(f, up));
    const Vec3 u = mesh::Cross(s, f);
    return Matrix4{s.x, u.x, -f.x, 0.0f,
                   s.y, u.y, -f.y, 0.0f,
                   s.z, u.z, -f.z, 0.0f,
                   -mesh::Dot(s, eye), -mesh::Dot(u, eye), mesh::Dot(f, eye), 1.0f};
}

Matrix4 PerspectiveMatrix(float aspect, float nearPlane, float farPlane)
{
    const float c = 1.0f / std::tan(kHalfFieldOfView);
    Matrix4 m{};
    m[0] = c / aspect;
    m[5] = c;
    m[10] = (farPlane + nearPlane) / (nearPlane - farPlane);
    m[11] = -1.0f;
    m[14] = 2.0f * farPlane * nearPlane / (nearPlane - farPlane);
    return m;
}

Matrix4 OrthographicMatrix(const Camera& camera, const ClipRange& clip, float aspect)
{
    const float h = std::max(camera.distance * std::tan(kHalfFieldOfView), 0.000001f);
    const float behind = 3.0f * clip.radius;
    Matrix4 m{};
    m[0] = 1.0f / (aspect * h);
    m[5] = 1.0f / h;
    m[10] = -2.0f / (clip.farPlane + behind);
    m[14] = -(clip.farPlane - behind) / (clip.farPlane + behind);
    m[15] = 1.0f;
    return m;
}

Matrix4 MultiplyMatrix4(const Matrix4& a, const Matrix4& b)
{
    Matrix4 product{};
    for (int column = 0; column < 4; ++column) {
        for (int row = 0; row < 4; ++row) {
            float sum = 0.0f;
            for (int k = 0; k < 4; ++k)
                sum += a[static_cast<std::size_t>(k * 4 + row)] * b[static_cast<std::size_t>(column * 4 + k)];
            product[static_cast<std::size_t>(column * 4 + row)] = sum;
        }
    }
    return product;
}

Matrix4 ViewProjectionMatrix(const Camera& camera, const SceneBounds& bounds, int width, int height,
                             bool orthographic)
{
    const ClipRange clip = ComputeClipRange(camera, bounds);
    const float aspect = static_cast<float>(std::max(width, 1)) / static_cast<float>(std::max(height, 1));
    const Matrix4 projection = orthographic ? OrthographicMatrix(camera, clip, aspect)
                                            : PerspectiveMatrix(aspect, clip.nearPlane, clip.farPlane);
    return MultiplyMatrix4(projection, LookAtMatrix(CameraEye(camera), camera.target, kUp));
}

std::optional<ViewRay> ComputeScreenRay(const Camera& camera, int width, int height, bool orthographic, float x,
                                        float y)
{
    if (width <= 0 || height <= 0)
        return std::nullopt;
    const float sx = 2.0f * (x + 0.5f) / static_cast<float>(width) - 1.0f;
    const float sy = 1.0f - 2.0f * (y + 0.5f) / static_cast<float>(height);
    const float a = static_cast<float>(width) / static_cast<float>(height);
    const float t = std::tan(kHalfFieldOfView);
    const Vec3 eye = CameraEye(camera);
    const CameraFrame frame = FrameAlong(NormalisedOrZero(camera.target - eye));
    ViewRay ray;
    if (orthographic) {
        ray.direction = frame.forward;
        ray.origin = eye - frame.forward * (2.0f * camera.distance) + frame.right * (camera.distance * t * sx * a) +
                     frame.up * (camera.distance * t * sy);
    } else {
        ray.origin = eye;
        ray.direction = NormalisedOrZero(frame.forward + frame.right * (t * sx * a) + frame.up * (t * sy));
    }
    return ray;
}

}  // namespace grainforge::gl
