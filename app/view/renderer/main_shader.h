// The GLSL 330 core sources of the program that draws the scene (part, floor, grid and every
// overlay). The fragment stage previews on the graphics card what the engine later does on the
// processor: it samples the height map with the engine's wrap, bilinear filter and levels,
// places it by the projection's millimetre coordinates, mixes a blended box's sides per pixel,
// fades the texture inside mask volumes, and lights the surface two-sided.
#pragma once

#include <string>
#include <string_view>

namespace grainforge::gl {

struct MainShaderSources {
    std::string_view vertex;       // "#version 330 core" and the vertex stage
    std::string_view fragment;     // the fragment stage, holding one kSharedMarker line
    std::string_view heightBlock;  // height-map uniforms and sampling; no version line
    std::string_view blendBlock;   // blended-box uniforms and functions; no version line
};

// Where the shared blocks go into the fragment text.
inline constexpr std::string_view kSharedMarker = "//@SHARED@";

const MainShaderSources& MainShaderText();

// The fragment text with its first marker replaced by the height block followed directly by
// the blend block. A text without the marker comes back unchanged.
std::string SpliceFragmentShader(const MainShaderSources& sources);

// What a specialised build of the program fixes at compile time (see SpecialiseShader).
struct MainShaderVariant {
    int surfaceMode = 0;  // 1 checkerboard, 3 height map; any other value draws no texture
    bool blend = false;   // the blended box's per-pixel side mix
    bool masks = false;   // at least one mask volume

    // A small number for each distinct variant, 0..15.
    int Key() const { return (surfaceMode == 1 ? 1 : surfaceMode == 3 ? 2 : 0) | (blend ? 4 : 0) | (masks ? 8 : 0); }
};

// The text with the variant's constants defined after its version line. The result computes
// what the general program computes with the same uniform values, minus the unused paths.
std::string SpecialiseShader(std::string text, const MainShaderVariant& variant);

}  // namespace grainforge::gl
