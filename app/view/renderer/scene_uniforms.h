// The values the main program's fragment stage reads besides the camera: the height map's
// placement and levels, the mask volumes and the blended-box description of the projection.
// The view hands the renderer plain records (the height map's TextureSettings, MaskVolume
// lists, ProjectionOverlay); the functions here turn them into the values the uniforms get,
// so the conversion is tested without a context.
//
// Also a C++ mirror of the shader's height-map sampling and mask fade, written line for line
// after the GLSL text, by which tests compare the preview with the engine's own sampling.
#pragma once

#include "app/view/renderer/render_vertex.h"
#include "engine/displacement/mask_volume.h"
#include "engine/textures/height_map.h"

#include <array>
#include <cstdint>
#include <vector>

namespace grainforge::gl {

// The blend and side-layer description of the projection, as the view builds it. The defaults
// are the view's: blend off, sharpness 4, identity axes, all sides on, zooms 1, radius 1.
struct ProjectionOverlay {
    std::uint8_t blend = 0;
    float blendSharpness = 4.0f;
    Vec3 cageCenter;
    Vec3 cageAxisX{1.0f, 0.0f, 0.0f};
    Vec3 cageAxisY{0.0f, 1.0f, 0.0f};
    Vec3 cageAxisZ{0.0f, 0.0f, 1.0f};
    std::uint8_t sideEnabled[6] = {1, 1, 1, 1, 1, 1};  // +X, -X, +Y, -Y, +Z, -Z
    float layerOrigin[6][2] = {};   // millimetres
    float layerTurn[6] = {};        // radians
    float layerZoom[6] = {1.0f, 1.0f, 1.0f, 1.0f, 1.0f, 1.0f};
    std::uint8_t sphere = 0;
    float sphereRadius = 1.0f;
    Vec3 faceU[6];
    Vec3 faceV[6];
    Vec3 faceN[6];
    float faceTurn[6] = {};  // radians
};

// The uniforms of the height-map block.
struct TextureUniforms {
    std::int32_t wrapMode = 0;           // 0 repeat, 1 mirror, 2 clamp
    float sizeMillimetres[2] = {30.0f, 30.0f};
    float offsetMillimetres[2] = {0.0f, 0.0f};
    float rotationRadians = 0.0f;
    float blackLevel = 0.0f;
    float whiteLevel = 1.0f;
    float gamma = 1.0f;
    float outputBlack = 0.0f;
    float outputWhite = 1.0f;
    bool invert = false;
};
TextureUniforms MakeTextureUniforms(const mesh::TextureSettings& settings);

// The uniforms of one mask volume: its own axes in world coordinates and its half sizes (each
// full size at least 0.001 mm, so a flat volume keeps a tiny thickness).
struct MaskUniform {
    std::int32_t shape = 0;  // 0 box, 1 cylinder along its own z, 2 ellipsoid
    Vec3 center;
    Vec3 axisX{1.0f, 0.0f, 0.0f};
    Vec3 axisY{0.0f, 1.0f, 0.0f};
    Vec3 axisZ{0.0f, 0.0f, 1.0f};
    Vec3 half{0.5f, 0.5f, 0.5f};
    float feather = 0.0f;
};
MaskUniform MakeMaskUniform(const mesh::MaskVolume& mask);

// The shader holds at most this many mask volumes.
inline constexpr std::size_t kMaxShaderMasks = 16;

// ---- The shader's arithmetic on the processor ----------------------------------------------

// Texel index under the wrap mode by floored modulo (never %, which the shader may not use on
// negative operands).
int MirrorWrapTexel(int index, int size, int mode);

// Bilinear sample by hand of a width x height row-major image at normalised (u, v), as the
// shader's `sample`; 0 for an empty image.
float MirrorSampleHeight(const std::vector<float>& texels, int width, int height, int wrapMode, float u, float v);

// Normalised coordinates of a millimetre point (offset, rotation, size with 0 read as 1).
std::array<float, 2> MirrorToNormalized(const TextureUniforms& uniforms, float u, float v);

// A raw value through the levels, gamma, output range and inversion.
float MirrorLevels(const TextureUniforms& uniforms, float value);

// heightAt: the levelled sample at a millimetre point.
float MirrorHeightAt(const TextureUniforms& uniforms, const std::vector<float>& texels, int width, int height,
                     float u, float v);

// 1 inside the volume, falling by smoothstep to 0 across the feather band outside it.
float MirrorMaskInside(const MaskUniform& mask, Vec3 point);

// 1 minus the largest MirrorMaskInside: the factor the texture keeps at a point.
float MirrorMaskFactor(const std::vector<MaskUniform>& masks, Vec3 point);

}  // namespace grainforge::gl
