#include "app/view/renderer/main_shader.h"

namespace grainforge::gl {

namespace {

constexpr std::string_view kVertex = R"(
#version 330 core
layout(location = 0) in vec3 inPosition;
layout(location = 1) in vec3 inFaceNormal;
layout(location = 2) in vec3 inSmoothNormal;
layout(location = 3) in vec3 inColor;
layout(location = 4) in vec2 inProjected;
layout(location = 5) in float inMask;

uniform mat4 uMvp;
uniform bool uSmooth;

out vec3 vertexNormal;
out vec3 vertexColor;
out vec2 vertexProjected;
out float vertexMask;
out vec3 vertexWorld;
out vec3 vertexSmoothNormal;
out vec3 vertexFaceNormal;

void main()
{
    gl_Position = uMvp * vec4(inPosition, 1.0);
    vertexWorld = inPosition;
    vertexSmoothNormal = inSmoothNormal;
    vertexFaceNormal = inFaceNormal;
    // Flat and smooth shading switch by a uniform: both normals travel in every vertex.
    vertexNormal = uSmooth ? inSmoothNormal : inFaceNormal;
    vertexColor = inColor;
    vertexProjected = inProjected;
    vertexMask = inMask;
}
)";

constexpr std::string_view kFragment = R"(
#version 330 core
in vec3 vertexNormal;
in vec3 vertexColor;
in vec2 vertexProjected;
in float vertexMask;
in vec3 vertexWorld;
in vec3 vertexSmoothNormal;
in vec3 vertexFaceNormal;

uniform vec3 uLightDirection;
uniform vec3 uOverrideColor;
uniform bool uLit;
uniform bool uUseOverride;
uniform int uSurfaceMode;
uniform float uCheckerMillimetres;
uniform float uAlpha;

uniform int uMaskCount;
uniform int uMaskShape[16];
uniform vec3 uMaskCenter[16];
uniform vec3 uMaskAxisX[16];
uniform vec3 uMaskAxisY[16];
uniform vec3 uMaskAxisZ[16];
uniform vec3 uMaskHalf[16];
uniform float uMaskFeather[16];

out vec4 outColor;

// A specialised build fixes the surface mode, the blend and the masks as constants, so the
// compiler drops the paths a frame does not use: a software rasteriser runs both sides of
// every branch, and the blend alone would cost more than all the rest.
#ifdef FIXED_SURFACE_MODE
#define SURFACE_MODE FIXED_SURFACE_MODE
#define BLEND_ON FIXED_BLEND
#define MASKS_ON FIXED_MASKS
#else
#define SURFACE_MODE uSurfaceMode
#define BLEND_ON uBlend
#define MASKS_ON (uMaskCount > 0)
#endif

//@SHARED@

float maskInside(int i, vec3 p)
{
    vec3 d = p - uMaskCenter[i];
    vec3 l = vec3(dot(d, uMaskAxisX[i]), dot(d, uMaskAxisY[i]), dot(d, uMaskAxisZ[i]));
    vec3 h = uMaskHalf[i];
    float dist;
    if (uMaskShape[i] == 0) {
        vec3 q = abs(l) - h;
        dist = length(max(q, vec3(0.0))) + min(max(q.x, max(q.y, q.z)), 0.0);
    } else if (uMaskShape[i] == 2) {
        dist = (length(l / h) - 1.0) * min(h.x, min(h.y, h.z));
    } else {
        float radial = (length(l.xy / h.xy) - 1.0) * min(h.x, h.y);
        float axial = abs(l.z) - h.z;
        vec2 q = vec2(radial, axial);
        dist = length(max(q, vec2(0.0))) + min(max(radial, axial), 0.0);
    }
    if (dist <= 0.0)
        return 1.0;
    float f = uMaskFeather[i];
    if (f <= 0.0 || dist >= f)
        return 0.0;
    float t = dist / f;
    return 1.0 - t * t * (3.0 - 2.0 * t);
}

float maskFactor(vec3 p)
{
    float strongest = 0.0;
    for (int i = 0; i < uMaskCount && i < 16; ++i)
        strongest = max(strongest, maskInside(i, p));
    return 1.0 - strongest;
}

void main()
{
    vec3 base = uUseOverride ? uOverrideColor : vertexColor;
    float mask = clamp(vertexMask, 0.0, 1.0);
    if (MASKS_ON)
        mask *= maskFactor(vertexWorld);

    vec2 points[3];
    float weights[3];
    int count = 0;
    bool blended = BLEND_ON && !uUseOverride && (SURFACE_MODE == 1 || SURFACE_MODE == 3);
    if (blended) {
        vec3 blendNormal = normalize(vertexSmoothNormal);
        vec3 faceNormal = normalize(vertexFaceNormal);
        // Across a sharp edge the smooth normal belongs to neither face.
        if (dot(blendNormal, faceNormal) < 0.866)
            blendNormal = faceNormal;
        count = blendContributions(vertexWorld, blendNormal, points, weights);
    }

    if (SURFACE_MODE == 1 && !uUseOverride) {
        float c = max(uCheckerMillimetres, 0.0001);
        float dark = 0.0;
        if (blended) {
            for (int i = 0; i < count; ++i)
                dark += weights[i] * mod(floor(points[i].x / c) + floor(points[i].y / c), 2.0);
        } else {
            dark = mod(floor(vertexProjected.x / c) + floor(vertexProjected.y / c), 2.0);
        }
        vec3 check = mix(vec3(0.88, 0.88, 0.86), vec3(0.20, 0.21, 0.24), dark);
        base = mix(base, check, mask);
    } else if (SURFACE_MODE == 3 && !uUseOverride) {
        float height = 0.0;
        if (blended) {
            for (int i = 0; i < count; ++i)
                height += weights[i] * heightAt(points[i]);
        } else {
            height = heightAt(vertexProjected);
        }
        base = mix(base, vec3(height), mask);
    }

    float intensity = 1.0;
    if (uLit) {
        vec3 n = normalize(vertexNormal);
        // Two-sided, so back faces seen through an open mesh are not black.
        float diffuse = abs(dot(n, normalize(-uLightDirection)));
        intensity = 0.28 + 0.72 * diffuse;
    }
    outColor = vec4(base * intensity, uAlpha);
}
)";

constexpr std::string_view kHeightBlock = R"(
uniform sampler2D uHeightMap;
uniform int uWrapMode;
uniform vec2 uTextureSizeMm;
uniform vec2 uTextureOffsetMm;
uniform float uTextureRotation;
uniform float uBlackLevel;
uniform float uWhiteLevel;
uniform float uGamma;
uniform float uOutputBlack;
uniform float uOutputWhite;
uniform bool uInvert;

// Floored modulo in integers (the % operator is undefined for negative operands); the float
// quotient can be one off near a multiple of a large period, which the two fix-ups absorb.
int wrapTexel(int index, int size, int mode)
{
    if (mode == 2)
        return clamp(index, 0, size - 1);
    int period = mode == 1 ? 2 * size : size;
    int w = index - period * int(floor(float(index) / float(period)));
    if (w < 0)
        w += period;
    if (w >= period)
        w -= period;
    w = clamp(w, 0, period - 1);
    if (mode == 1)
        return w < size ? w : period - 1 - w;
    return w;
}

vec2 toNormalized(vec2 mm)
{
    vec2 p = mm - uTextureOffsetMm;
    if (uTextureRotation != 0.0) {
        float c = cos(uTextureRotation);
        float s = sin(uTextureRotation);
        p = vec2(p.x * c + p.y * s, -p.x * s + p.y * c);
    }
    vec2 size = vec2(uTextureSizeMm.x == 0.0 ? 1.0 : uTextureSizeMm.x,
                     uTextureSizeMm.y == 0.0 ? 1.0 : uTextureSizeMm.y);
    return p / size;
}

// Bilinear by hand from exact texel reads, never the hardware filter, so the preview matches
// the engine's sampling.
float sampleHeight(vec2 uv)
{
    ivec2 size = textureSize(uHeightMap, 0);
    if (size.x <= 0 || size.y <= 0)
        return 0.0;
    float x = uv.x * float(size.x) - 0.5;
    float y = uv.y * float(size.y) - 0.5;
    float x0 = floor(x);
    float y0 = floor(y);
    float fx = x - x0;
    float fy = y - y0;
    int c0 = wrapTexel(int(x0), size.x, uWrapMode);
    int c1 = wrapTexel(int(x0) + 1, size.x, uWrapMode);
    int r0 = wrapTexel(int(y0), size.y, uWrapMode);
    int r1 = wrapTexel(int(y0) + 1, size.y, uWrapMode);
    float a = texelFetch(uHeightMap, ivec2(c0, r0), 0).r;
    float b = texelFetch(uHeightMap, ivec2(c1, r0), 0).r;
    float c = texelFetch(uHeightMap, ivec2(c0, r1), 0).r;
    float d = texelFetch(uHeightMap, ivec2(c1, r1), 0).r;
    float top = a + (b - a) * fx;
    float bottom = c + (d - c) * fx;
    return top + (bottom - top) * fy;
}

float levels(float v)
{
    float span = uWhiteLevel - uBlackLevel;
    float r;
    if (abs(span) > 0.000001)
        r = (v - uBlackLevel) / span;
    else
        r = v >= uWhiteLevel ? 1.0 : 0.0;
    r = clamp(r, 0.0, 1.0);
    if (uGamma > 0.0 && uGamma != 1.0)
        r = pow(r, uGamma);
    r = uOutputBlack + r * (uOutputWhite - uOutputBlack);
    return uInvert ? 1.0 - r : r;
}

float heightAt(vec2 mm)
{
    return levels(sampleHeight(toNormalized(mm)));
}
)";

constexpr std::string_view kBlendBlock = R"(
uniform bool uBlend;
uniform float uBlendSharpness;
uniform vec3 uCageCenter;
uniform vec3 uCageAxisX;
uniform vec3 uCageAxisY;
uniform vec3 uCageAxisZ;
uniform int uSideEnabled[6];
uniform vec2 uLayerOrigin[6];
uniform vec2 uLayerTurnZoom[6];
uniform bool uSphere;
uniform float uSphereRadius;
uniform vec3 uFaceU[6];
uniform vec3 uFaceV[6];
uniform vec3 uFaceN[6];
uniform float uFaceTurn[6];

vec2 blendSideMillimetres(int side, vec3 local)
{
    vec2 point;
    if (uSphere) {
        float depth = dot(local, uFaceN[side]);
        point = vec2(uSphereRadius * (uFaceTurn[side] + atan(dot(local, uFaceU[side]), depth)),
                     uSphereRadius * atan(dot(local, uFaceV[side]), depth));
    } else {
        int axis = side / 2;
        float sign = (side % 2) == 0 ? 1.0 : -1.0;
        if (axis == 0)
            point = vec2(sign * local.y, local.z);
        else if (axis == 1)
            point = vec2(sign * local.x, local.z);
        else
            point = vec2(sign * local.x, local.y);
    }
    vec2 p = point - uLayerOrigin[side];
    float turn = uLayerTurnZoom[side].x;
    if (turn != 0.0) {
        float c = cos(turn);
        float s = sin(turn);
        p = vec2(p.x * c + p.y * s, -p.x * s + p.y * c);
    }
    float zoom = uLayerTurnZoom[side].y > 0.0 ? uLayerTurnZoom[side].y : 1.0;
    return p / zoom;
}

int blendContributions(vec3 world, vec3 normal, out vec2 points[3], out float weights[3])
{
    vec3 d = world - uCageCenter;
    vec3 local = vec3(dot(d, uCageAxisX), dot(d, uCageAxisY), dot(d, uCageAxisZ));
    vec3 n = vec3(dot(normal, uCageAxisX), dot(normal, uCageAxisY), dot(normal, uCageAxisZ));
    int count = 0;
    float total = 0.0;
    if (dot(n, n) <= 0.0)
        return 0;
    n = normalize(n);
    float k = max(uBlendSharpness, 0.1);
    for (int a = 0; a < 3; ++a) {
        int side = n[a] >= 0.0 ? 2 * a : 2 * a + 1;
        if (uSideEnabled[side] == 0)
            continue;
        float w = pow(abs(n[a]), k);
        if (w <= 0.0)
            continue;
        points[count] = blendSideMillimetres(side, local);
        weights[count] = w;
        total += w;
        ++count;
    }
    for (int i = 0; i < count; ++i)
        weights[i] /= total;
    return count;
}
)";

}  // namespace

const MainShaderSources& MainShaderText()
{
    static const MainShaderSources sources{kVertex, kFragment, kHeightBlock, kBlendBlock};
    return sources;
}

std::string SpecialiseShader(std::string text, const MainShaderVariant& variant)
{
    constexpr std::string_view kVersion = "#version 330 core\n";
    const std::size_t at = text.find(kVersion);
    if (at == std::string::npos)
        return text;
    const std::string defines = "#define FIXED_SURFACE_MODE " + std::to_string(variant.surfaceMode) +
                                "\n#define FIXED_BLEND " + (variant.blend ? "true" : "false") +
                                "\n#define FIXED_MASKS " + (variant.masks ? "true" : "false") + "\n";
    text.insert(at + kVersion.size(), defines);
    return text;
}

std::string SpliceFragmentShader(const MainShaderSources& sources)
{
    std::string text(sources.fragment);
    const std::size_t at = text.find(kSharedMarker);
    if (at == std::string::npos)
        return text;
    std::string shared(sources.heightBlock);
    shared += sources.blendBlock;
    text.replace(at, kSharedMarker.size(), shared);
    return text;
}

}  // namespace grainforge::gl
