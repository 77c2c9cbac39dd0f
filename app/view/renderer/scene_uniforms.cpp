#include "app/view/renderer/scene_uniforms.h"

#include "engine/displacement/projection.h"

#include <algorithm>
#include <climits>
#include <cmath>

namespace grainforge::gl {

namespace {

constexpr float kDegreesToRadians = 3.1415927f / 180.0f;
constexpr float kMinimumMaskSize = 0.001f;
constexpr float kMinimumLevelSpan = 0.000001f;

// The texel a float coordinate falls on, limited to where the int conversion is defined; any
// position that far out is beyond a real texture anyway.
int FloorToInt(float value)
{
    constexpr float kLimit = 1073741824.0f;  // 2^30
    return static_cast<int>(std::clamp(std::floor(value), -kLimit, kLimit));
}

float Mix(float a, float b, float t)
{
    return a + (b - a) * t;
}

}  // namespace

TextureUniforms MakeTextureUniforms(const mesh::TextureSettings& settings)
{
    TextureUniforms uniforms;
    uniforms.wrapMode = settings.wrap;
    uniforms.sizeMillimetres[0] = settings.widthMillimetres;
    uniforms.sizeMillimetres[1] = settings.heightMillimetres;
    uniforms.offsetMillimetres[0] = settings.offsetMillimetres[0];
    uniforms.offsetMillimetres[1] = settings.offsetMillimetres[1];
    uniforms.rotationRadians = settings.rotationDegrees * kDegreesToRadians;
    uniforms.blackLevel = settings.blackLevel;
    uniforms.whiteLevel = settings.whiteLevel;
    uniforms.gamma = settings.gamma;
    uniforms.outputBlack = settings.outputBlackLevel;
    uniforms.outputWhite = settings.outputWhiteLevel;
    uniforms.invert = settings.invert;
    return uniforms;
}

MaskUniform MakeMaskUniform(const mesh::MaskVolume& mask)
{
    const mesh::CageFrame frame = mask.Frame();
    MaskUniform uniform;
    uniform.shape = static_cast<std::int32_t>(mask.shape);
    uniform.center = mask.center;
    uniform.axisX = mesh::CageToWorld(frame, Vec3{1.0f, 0.0f, 0.0f});
    uniform.axisY = mesh::CageToWorld(frame, Vec3{0.0f, 1.0f, 0.0f});
    uniform.axisZ = mesh::CageToWorld(frame, Vec3{0.0f, 0.0f, 1.0f});
    uniform.half = Vec3{std::max(mask.size.x, kMinimumMaskSize), std::max(mask.size.y, kMinimumMaskSize),
                        std::max(mask.size.z, kMinimumMaskSize)} *
                   0.5f;
    uniform.feather = mask.featherMillimetres;
    return uniform;
}

int MirrorWrapTexel(int index, int size, int mode)
{
    if (mode == 2)
        return std::clamp(index, 0, size - 1);
    const int period = mode == 1 ? 2 * size : size;
    const int quotient = FloorToInt(static_cast<float>(index) / static_cast<float>(period));
    long long w = static_cast<long long>(index) - static_cast<long long>(period) * quotient;
    // The float quotient can be one off for indices near a multiple of a large period.
    if (w < 0)
        w += period;
    if (w >= period)
        w -= period;
    const int wrapped = static_cast<int>(std::clamp<long long>(w, 0, period - 1));
    if (mode == 1)
        return wrapped < size ? wrapped : period - 1 - wrapped;
    return wrapped;
}

float MirrorSampleHeight(const std::vector<float>& texels, int width, int height, int wrapMode, float u, float v)
{
    if (width <= 0 || height <= 0 ||
        texels.size() != static_cast<std::size_t>(width) * static_cast<std::size_t>(height))
        return 0.0f;
    const float x = u * static_cast<float>(width) - 0.5f;
    const float y = v * static_cast<float>(height) - 0.5f;
    const float x0 = std::floor(x);
    const float y0 = std::floor(y);
    const float fx = x - x0;
    const float fy = y - y0;
    const int cx0 = MirrorWrapTexel(FloorToInt(x0), width, wrapMode);
    const int cx1 = MirrorWrapTexel(FloorToInt(x0) + 1, width, wrapMode);
    const int ry0 = MirrorWrapTexel(FloorToInt(y0), height, wrapMode);
    const int ry1 = MirrorWrapTexel(FloorToInt(y0) + 1, height, wrapMode);
    const auto texel = [&](int column, int row) {
        return texels[static_cast<std::size_t>(row) * static_cast<std::size_t>(width) + static_cast<std::size_t>(column)];
    };
    const float top = Mix(texel(cx0, ry0), texel(cx1, ry0), fx);
    const float bottom = Mix(texel(cx0, ry1), texel(cx1, ry1), fx);
    return Mix(top, bottom, fy);
}

std::array<float, 2> MirrorToNormalized(const TextureUniforms& uniforms, float u, float v)
{
    float px = u - uniforms.offsetMillimetres[0];
    float py = v - uniforms.offsetMillimetres[1];
    if (uniforms.rotationRadians != 0.0f) {
        const float c = std::cos(uniforms.rotationRadians);
        const float s = std::sin(uniforms.rotationRadians);
        const float turnedX = px * c + py * s;
        const float turnedY = -px * s + py * c;
        px = turnedX;
        py = turnedY;
    }
    const float sx = uniforms.sizeMillimetres[0] == 0.0f ? 1.0f : uniforms.sizeMillimetres[0];
    const float sy = uniforms.sizeMillimetres[1] == 0.0f ? 1.0f : uniforms.sizeMillimetres[1];
    return {px / sx, py / sy};
}

float MirrorLevels(const TextureUniforms& uniforms, float value)
{
    const float span = uniforms.whiteLevel - uniforms.blackLevel;
    float r;
    if (std::fabs(span) > kMinimumLevelSpan)
        r = (value - uniforms.blackLevel) / span;
    else
        r = value >= uniforms.whiteLevel ? 1.0f : 0.0f;
    r = std::clamp(r, 0.0f, 1.0f);
    if (uniforms.gamma > 0.0f && uniforms.gamma != 1.0f)
        r = std::pow(r, uniforms.gamma);
    r = uniforms.outputBlack + r * (uniforms.outputWhite - uniforms.outputBlack);
    return uniforms.invert ? 1.0f - r : r;
}

float MirrorHeightAt(const TextureUniforms& uniforms, const std::vector<float>& texels, int width, int height,
                     float u, float v)
{
    const std::array<float, 2> p = MirrorToNormalized(uniforms, u, v);
    return MirrorLevels(uniforms, MirrorSampleHeight(texels, width, height, uniforms.wrapMode, p[0], p[1]));
}

float MirrorMaskInside(const MaskUniform& mask, Vec3 point)
{
    const Vec3 d = point - mask.center;
    const Vec3 l{mesh::Dot(d, mask.axisX), mesh::Dot(d, mask.axisY), mesh::Dot(d, mask.axisZ)};
    const Vec3 h = mask.half;
    float dist;
    if (mask.shape == 0) {
        const Vec3 q{std::fabs(l.x) - h.x, std::fabs(l.y) - h.y, std::fabs(l.z) - h.z};
        const Vec3 outside{std::max(q.x, 0.0f), std::max(q.y, 0.0f), std::max(q.z, 0.0f)};
        dist = mesh::Length(outside) + std::min(std::max({q.x, q.y, q.z}), 0.0f);
    } else if (mask.shape == 2) {
        dist = (mesh::Length(Vec3{l.x / h.x, l.y / h.y, l.z / h.z}) - 1.0f) * std::min({h.x, h.y, h.z});
    } else {
        const float radial = (std::hypot(l.x / h.x, l.y / h.y) - 1.0f) * std::min(h.x, h.y);
        const float axial = std::fabs(l.z) - h.z;
        dist = std::hypot(std::max(radial, 0.0f), std::max(axial, 0.0f)) + std::min(std::max(radial, axial), 0.0f);
    }
    if (dist <= 0.0f)
        return 1.0f;
    if (mask.feather <= 0.0f || dist >= mask.feather)
        return 0.0f;
    const float t = dist / mask.feather;
    return 1.0f - t * t * (3.0f - 2.0f * t);
}

float MirrorMaskFactor(const std::vector<MaskUniform>& masks, Vec3 point)
{
    float strongest = 0.0f;
    for (const MaskUniform& mask : masks)
        strongest = std::max(strongest, MirrorMaskInside(mask, point));
    return 1.0f - strongest;
}

}  // namespace grainforge::gl
