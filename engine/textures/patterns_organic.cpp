#include "engine/textures/patterns_organic.h"

#include "engine/textures/noise_kernels.h"
#include "engine/textures/pattern_math_detail.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace grainforge::mesh::procedural {

namespace {

using detail::RoundedValue;
using detail::SeedValue;
using detail::SmoothStep;
using detail::kPi;

// The profile choices 1 (saw) and 2 (triangle); anything else is a sine.
std::int32_t WaveKind(std::int32_t choice) { return choice == 1 || choice == 2 ? choice : 0; }

// ---- Leather ---------------------------------------------------------------------------------

class LeatherTexture final : public ProceduralTexture {
public:
    const std::string& Name() const override
    {
        static const std::string name = "Leather";
        return name;
    }

    const std::vector<ParameterSpec>& PatternParameters() const override
    {
        static const std::vector<ParameterSpec> table = {
            MakeIntParameter("cells", "Grains per tile", 3, 64, 18,
                             "More grains make a finer leather at the same tile size"),
            MakeFloatParameter("crease", "Crease width", 0.0f, 0.2f, 0.035f,
                               "Width of the recessed crease, relative to one grain", 0.01f),
            MakeFloatParameter("rounding", "Grain rounding", 0.03f, 0.45f, 0.18f,
                               "Width of the rounded shoulder from the crease to the grain face", 0.01f),
            MakeFloatParameter("irregularity", "Grain irregularity", 0.0f, 1.0f, 0.85f,
                               "How far grain centres scatter from a regular grid", 0.01f),
            MakeFloatParameter("warp", "Edge waviness", 0.0f, 0.4f, 0.18f,
                               "Bends the crease lines in fractions of a grain", 0.01f),
            MakeFloatParameter("roughness", "Fine roughness", 0.0f, 0.4f, 0.1f,
                               "Fine surface relief on the raised grain", 0.01f),
            MakeSeedParameter(),
        };
        return table;
    }

    float Evaluate(float u, float v) const override
    {
        const std::int32_t n = RoundedValue(*this, "cells");
        const std::uint32_t seed = SeedValue(*this);
        const float x = static_cast<float>(n) * u;
        const float y = static_cast<float>(n) * v;

        // The warp noise runs at twice the grain frequency; its period is held within range.
        const std::int32_t cellsForWarp = std::max(n, 1);
        const std::int32_t room = 2147483647 / cellsForWarp;
        const std::int32_t k = room < 2 ? std::max(room, 1) : 2;
        const std::int32_t warpPeriod = k * cellsForWarp;
        const float w = std::max(GetValue("warp"), 0.0f);
        const float kx = static_cast<float>(k) * x;
        const float ky = static_cast<float>(k) * y;
        const float wx = PeriodicGradientNoise(kx, ky, warpPeriod, warpPeriod, seed + 13);
        const float wy = PeriodicGradientNoise(kx, ky, warpPeriod, warpPeriod, seed + 47);

        const float irregularity = GetValue("irregularity");
        const float d = CellularDistance(x + w * wx, y + w * wy, n, irregularity, kEuclidean, kBorderDistance, seed);
        // The border distance back in grain units, less half the crease, over the shoulder.
        const float t = Clamp01((d * (0.5f * irregularity + 0.5f) - 0.5f * GetValue("crease")) / GetValue("rounding"));
        float h = SmoothStep(t);

        const float roughness = GetValue("roughness");
        if (roughness > 0.0f) {
            const float r = FractalNoise(6.0f * x, 6.0f * y, 6 * n, 6 * n, 2.0f, 0.5f, seed + 83);
            h = (1.0f - r * roughness) * h;
        }
        return h;
    }
};

// ---- Stripes ---------------------------------------------------------------------------------

class StripesTexture final : public ProceduralTexture {
public:
    const std::string& Name() const override
    {
        static const std::string name = "Stripes";
        return name;
    }

    const std::vector<ParameterSpec>& PatternParameters() const override
    {
        static const std::vector<ParameterSpec> table = {
            MakeIntParameter("stripes", "Stripes per tile", 1, 64, 8, "How many stripes span the tile"),
            MakeChoiceParameter("direction", "Direction", {"Vertical", "Horizontal", "Diagonal"}, 0,
                                "Which way the stripes run"),
            MakeChoiceParameter("profile", "Profile", WaveFormNames(), 0, "The shape of one stripe"),
            MakeFloatParameter("sharpness", "Sharpness", 0.0f, 1.0f, 0.0f,
                               "0 keeps the profile; 1 makes it a hard step", 0.01f),
            MakeFloatParameter("phase", "Phase", 0.0f, 1.0f, 0.0f, "Slides the stripes by a share of one", 0.01f),
            MakeFloatParameter("wander", "Wander", 0.0f, 1.0f, 0.0f,
                               "How far each stripe wanders from straight, in stripe widths. 0 leaves them "
                               "straight; 0.16 is the shader's",
                               0.01f),
            MakeIntParameter("waves", "Wanders per tile", 1, 32, 5,
                             "How many times a stripe swings to and fro along the tile"),
        };
        return table;
    }

    float Evaluate(float u, float v) const override
    {
        const std::int32_t stripes = RoundedValue(*this, "stripes");
        float across = u;
        float along = v;
        switch (RoundedValue(*this, "direction")) {
        case 1:
            across = v;
            along = u;
            break;
        case 2:
            across = u + v;
            along = u - v;
            break;
        default: break;  // vertical
        }
        float t = static_cast<float>(stripes) * across;
        const float wander = GetValue("wander");
        if (wander > 0.0f) {
            const float waves = static_cast<float>(RoundedValue(*this, "waves"));
            t = t + std::cos(2.0f * kPi * waves * along) * wander;
        }
        float h = WaveProfile(t + GetValue("phase"), WaveKind(RoundedValue(*this, "profile")));

        const float sharpness = GetValue("sharpness");
        if (sharpness > 0.0f) {
            // Below 1 so that the step keeps a width and the division stays finite.
            const float k = 0.5f * std::min(sharpness, 0.999f);
            const float hi = 1.0f - k;
            h = SmoothStep((h - k) / (hi - k));
        }
        return h;
    }
};

// ---- Wood Pores ------------------------------------------------------------------------------

class WoodPoresTexture final : public ProceduralTexture {
public:
    const std::string& Name() const override
    {
        static const std::string name = "Wood Pores";
        return name;
    }

    const std::vector<ParameterSpec>& PatternParameters() const override
    {
        static const std::vector<ParameterSpec> table = {
            MakeFloatParameter("density", "Density", 0.0f, 1.0f, 0.5f, "How much of the surface is pore", 0.01f),
            MakeIntParameter("along", "Pores along the grain", 2, 64, 8,
                             "Fewer is longer pores: noise cells per tile along the grain"),
            MakeIntParameter("across", "Rows across the grain", 8, 1024, 256,
                             "More is finer pores: noise cells per tile across the grain"),
            MakeChoiceParameter("direction", "Direction", {"Horizontal", "Vertical"}, 0, "Which way the grain runs"),
            MakeFloatParameter("breakup", "Break-up", 0.0f, 1.0f, 0.5f,
                               "How much the pores cluster and break into shorter ones", 0.01f),
            MakeFloatParameter("softness", "Edge softness", 0.0f, 1.0f, 0.1f,
                               "0 is a hard-edged pore; more is a rounded one", 0.01f),
            MakeFloatParameter("depth", "Pore depth", 0.0f, 1.0f, 1.0f, "How deep a pore goes, of the strength",
                               0.01f),
            MakeSeedParameter(),
        };
        return table;
    }

    float Evaluate(float u, float v) const override
    {
        const bool vertical = RoundedValue(*this, "direction") == 1;
        const float a = vertical ? v : u;  // along the grain
        const float c = vertical ? u : v;  // across it
        const std::int32_t along = RoundedValue(*this, "along");
        const std::int32_t across = RoundedValue(*this, "across");
        const std::uint32_t seed = SeedValue(*this);

        float p = FractalNoise(static_cast<float>(along) * a, static_cast<float>(across) * c, along, across, 1.0f,
                               0.5f, seed);
        // A coarser field that gathers the pores into clusters and breaks long ones up.
        const std::int32_t along2 = std::max(along / 2, 1);
        const std::int32_t across2 = std::max(across / 8, 1);
        const float b = FractalNoise(static_cast<float>(along2) * a, static_cast<float>(across2) * c, along2, across2,
                                     0.0f, 0.5f, seed + 101);
        p = p - 2.0f * 0.3f * GetValue("breakup") * (b - 0.5f);

        const float threshold = 0.82f - 0.3f * GetValue("density");
        const float halfWidth = 0.08f * GetValue("softness") + 0.01f;
        const float lo = threshold - halfWidth;
        const float hi = threshold + halfWidth;
        const float pore = SmoothStep((p - lo) / (hi - lo));
        return 1.0f - GetValue("depth") * pore;
    }
};

}  // namespace

std::unique_ptr<ProceduralTexture> MakeLeatherTexture() { return std::make_unique<LeatherTexture>(); }
std::unique_ptr<ProceduralTexture> MakeStripesTexture() { return std::make_unique<StripesTexture>(); }
std::unique_ptr<ProceduralTexture> MakeWoodPoresTexture() { return std::make_unique<WoodPoresTexture>(); }

}  // namespace grainforge::mesh::procedural
