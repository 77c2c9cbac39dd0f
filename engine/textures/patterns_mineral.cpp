#include "engine/textures/patterns_mineral.h"

#include "engine/textures/noise_kernels.h"
#include "engine/textures/pattern_math_detail.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace grainforge::mesh::procedural {

namespace {

using detail::RoundedValue;
using detail::SeedValue;
using detail::kPi;

// ---- Penrose ---------------------------------------------------------------------------------

class PenroseTexture final : public ProceduralTexture {
public:
    const std::string& Name() const override
    {
        static const std::string name = "Penrose";
        return name;
    }

    const std::vector<ParameterSpec>& PatternParameters() const override
    {
        static const std::vector<ParameterSpec> table = {
            MakeIntParameter("depth", "Tile size", 3, 8, 6,
                             "How many times the pattern is deflated: more is smaller tiles"),
            MakeFloatParameter("groove", "Groove", 0.0f, 1.0f, 0.5f, "The v-groove between one tile and the next",
                               0.01f),
            MakeFloatParameter("pyramid", "Centre rise", 0.0f, 1.0f, 0.35f, "Each tile raised to a low pyramid",
                               0.01f),
            MakeFloatParameter("fold", "Fold", 0.0f, 1.0f, 0.5f, "Corners lifted; kites and darts fold opposite ways",
                               0.01f),
            MakeContrastParameter(),
            MakeSeedParameter(),
        };
        return table;
    }

    float Evaluate(float u, float v) const override
    {
        const std::int32_t depth = RoundedValue(*this, "depth");
        // The groove keeps a floor so that the tiling shows even with every relief at 0.
        const float groove = 0.1f * GetValue("groove") + 0.02f;
        const float pyramid = 0.25f * GetValue("pyramid");
        const float fold = 0.4f * GetValue("fold");
        const std::uint32_t seed = SeedValue(*this);

        // Each seed looks at its own part of the one tiling.
        const float angle = 2.0f * kPi * HashToUnit(TileHash(seed, 11u));
        const float radius = 0.4f * HashToUnit(TileHash(seed, 23u));
        const float x = radius * std::cos(angle) + 0.35f * (2.0f * u - 1.0f);
        const float y = radius * std::sin(angle) + 0.35f * (2.0f * v - 1.0f);

        const PenroseSample sample = PenroseDescend(x, y, depth, groove, pyramid, fold);
        const float highest = pyramid + groove + fold;
        float h = 0.0f;
        if (sample.found && highest > 0.0f)
            h = Clamp01(sample.height / highest);
        return ApplyContrast(h, GetValue("contrast"));
    }
};

// ---- Rocks -----------------------------------------------------------------------------------

class RocksTexture final : public ProceduralTexture {
public:
    const std::string& Name() const override
    {
        static const std::string name = "Rocks";
        return name;
    }

    const std::vector<ParameterSpec>& PatternParameters() const override
    {
        static const std::vector<ParameterSpec> table = {
            MakeIntParameter("cells", "Stones per tile", 3, 24, 5, "How many stones span the tile"),
            MakeFloatParameter("randomness", "Randomness", 0.0f, 1.0f, 1.0f,
                               "0 lays the stones on a grid, 1 scatters them", 0.01f),
            MakeFloatParameter("warp", "Warp", 0.0f, 0.05f, 0.01f,
                               "Bends the coordinates so the stones are not too regular", 0.001f),
            MakeFloatParameter("detail", "Detail", 0.0f, 1.0f, 1.0f, "The finer Voronoi layers over the big stones",
                               0.01f),
            MakeFloatParameter("grain", "Grain", 0.0f, 1.0f, 0.35f, "Fine noise over the whole surface", 0.01f),
            MakeChoiceParameter("metric", "Distance", {"Euclidean", "Manhattan", "Chebyshev"}, 0,
                                "How distance is measured: rounded, faceted or blocky stones"),
            MakeContrastParameter(),
            MakeSeedParameter(),
        };
        return table;
    }

    float Evaluate(float u, float v) const override
    {
        const std::int32_t n = RoundedValue(*this, "cells");
        const float jitter = GetValue("randomness");
        const std::uint32_t seed = SeedValue(*this);
        const std::int32_t metricChoice = RoundedValue(*this, "metric");
        const std::int32_t metric = metricChoice == 1 || metricChoice == 2 ? metricChoice : kEuclidean;

        // Both lines bend by the unwarped coordinates; whole waves per tile keep the seam closed.
        float wu = u;
        float wv = v;
        const float warp = GetValue("warp");
        if (warp > 0.0f) {
            wu = u + warp * std::sin(4.0f * kPi * u - std::cos(8.0f * kPi * v));
            wv = v + warp * std::sin(4.0f * kPi * v - std::cos(8.0f * kPi * u));
        }

        const float nf = static_cast<float>(n);
        const auto layer = [&](float x, float y, std::int32_t period) {
            return CellularDistance(x, y, period, jitter, metric, kSquaredDifference, seed);
        };
        const float c0 = layer(nf * wu - 0.35f, nf * wv - 0.35f, n);
        const float c1 = layer(static_cast<float>(2 * n) * wv + 0.5f * nf, static_cast<float>(2 * n) * wu + 0.5f * nf,
                               2 * n);
        const float c2 = layer(static_cast<float>(5 * n) * wu, static_cast<float>(5 * n) * wv, 5 * n);
        const float c3 = layer(static_cast<float>(12 * n) * wu, static_cast<float>(12 * n) * wv, 12 * n);
        const float detail = GetValue("detail");
        float h = 0.6f * c0 + 0.3f * c1 + 0.075f * detail * (1.0f - c2) + 0.025f * detail * c3;

        const float grain = GetValue("grain");
        if (grain > 0.0f) {
            const float g = FractalNoise(static_cast<float>(16 * n) * wu, static_cast<float>(16 * n) * wv, 16 * n,
                                         16 * n, 1.0f, 0.5f, seed + 31);
            h = h + 0.1f * grain * g;
        }
        h = Clamp01(h / 1.1f);
        return ApplyContrast(h, GetValue("contrast"));
    }
};

// ---- Copper ----------------------------------------------------------------------------------

class CopperTexture final : public ProceduralTexture {
public:
    const std::string& Name() const override
    {
        static const std::string name = "Copper";
        return name;
    }

    const std::vector<ParameterSpec>& PatternParameters() const override
    {
        static const std::vector<ParameterSpec> table = {
            MakeIntParameter("scale", "Cells per tile", 2, 16, 4, "How coarse the underlying noise is"),
            MakeFloatParameter("warp", "Warp", 0.0f, 8.0f, 4.0f, "How far the first noise drags the second", 0.1f),
            MakeFloatParameter("swirl", "Swirl", 0.0f, 8.0f, 7.0f, "How far the second drags the third", 0.1f),
            MakeFloatParameter("detail", "Detail", 1.0f, 7.0f, 5.0f, "Octaves in each of them", 0.1f),
            MakeFloatParameter("pits", "Pitting", 0.0f, 1.0f, 0.5f, "How much of the surface is eaten away", 0.01f),
            MakeFloatParameter("ridges", "Rim", 0.0f, 1.0f, 0.5f, "The raised lip round each pit", 0.01f),
            MakeFloatParameter("phase", "Variation", 0.0f, 1.0f, 0.0f,
                               "Slides the warp: another part of the same pattern", 0.01f),
            MakeContrastParameter(),
            MakeSeedParameter(),
        };
        return table;
    }

    float Evaluate(float u, float v) const override
    {
        const std::int32_t scale = RoundedValue(*this, "scale");
        const std::uint32_t seed = SeedValue(*this);
        const float x = static_cast<float>(scale) * u;
        const float y = static_cast<float>(scale) * v;
        const float shift = GetValue("phase") * static_cast<float>(scale);
        const float warp = GetValue("warp");
        const float swirl = GetValue("swirl");
        const float octaves = GetValue("detail");
        const auto noise = [&](float px, float py, std::uint32_t layerSeed) {
            return FractalNoise(px, py, scale, scale, octaves, 0.5f, layerSeed);
        };

        // Each stage drags the coordinates of the next.
        const float q1 = noise(x, y, seed);
        const float q2 = noise(x + 1.0f, y + 1.0f, seed);
        const float r1 = noise(x + warp * q1, y + warp * q2, seed + 1);
        const float r2 = noise(x, y, seed + 1);
        const float t1 = noise(x + swirl * r1 + shift, y + swirl * r2 + shift, seed + 2);
        const float t2 = noise(x + 0.563f * swirl * r1 + shift, y + 0.563f * swirl * r2 + shift, seed + 2);
        const float field = noise(x + r1 + t1, y + r2 + t2, seed + 3);

        float pits = Clamp01((0.8f * GetValue("pits") + 0.9f) * field);
        pits = Clamp01(1.9f * (pits * pits * pits));
        const float rim = 0.25f * GetValue("ridges");
        if (rim > 0.0f)
            pits = std::fabs(pits - rim) / (1.0f - rim);
        const float h = Clamp01(1.0f - Clamp01(pits));
        return ApplyContrast(h, GetValue("contrast"));
    }
};

}  // namespace

std::unique_ptr<ProceduralTexture> MakePenroseTexture() { return std::make_unique<PenroseTexture>(); }
std::unique_ptr<ProceduralTexture> MakeRocksTexture() { return std::make_unique<RocksTexture>(); }
std::unique_ptr<ProceduralTexture> MakeCopperTexture() { return std::make_unique<CopperTexture>(); }

}  // namespace grainforge::mesh::procedural
