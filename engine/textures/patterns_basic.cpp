#include "engine/textures/patterns_basic.h"

#include "engine/textures/noise_kernels.h"
#include "engine/textures/pattern_math_detail.h"

#include <algorithm>
#include <cmath>

namespace grainforge::mesh::procedural {

namespace {

using detail::Fraction;
using detail::RoundedValue;
using detail::SeedValue;
using detail::kPi;

// ---- Noise -----------------------------------------------------------------------------------

class NoiseTexture final : public ProceduralTexture {
public:
    const std::string& Name() const override
    {
        static const std::string name = "Noise";
        return name;
    }

    const std::vector<ParameterSpec>& PatternParameters() const override
    {
        static const std::vector<ParameterSpec> table = {
            MakeChoiceParameter("kind", "Kind", {"Fractal", "Uniform", "Blue"}, 0,
                                "Fractal has detail at every scale and looks natural; Uniform has one size of feature "
                                "and an even spread of heights, the matte of a blasted surface; Blue spreads its bumps "
                                "evenly with no clumping at all - a fine even stipple"),
            MakeIntParameter("scale", "Cells per tile", 1, 256, 6,
                             "How many noise cells span the tile: more is finer. Blue wants many - it is a stipple"),
            MakeFloatParameter("detail", "Detail", 0.0f, 8.0f, 3.0f,
                               "Octaves of finer noise laid over the first (Fractal)", 0.1f),
            MakeFloatParameter("roughness", "Roughness", 0.0f, 1.0f, 0.5f,
                               "How strong each finer octave is (Fractal)", 0.01f),
            MakeFloatParameter("softness", "Softness", 0.0f, 1.0f, 0.0f,
                               "0 leaves flat plateaus with a step between them; higher rounds the steps over "
                               "(Uniform, Blue)",
                               0.01f),
            MakeFloatParameter("spread", "Spread", 0.0f, 1.0f, 0.7f,
                               "How far the cells are scattered off a regular grid. Low keeps the roughness even "
                               "(Uniform)",
                               0.01f),
            MakeChoiceParameter("shape", "Shape", {"Plain", "Bands", "Veins"}, 0,
                                "How the field's value is read. Plain is the field itself; Bands folds it into contour "
                                "lines, which is what makes marble; Veins folds it at three scales at once"),
            MakeFloatParameter("bands", "Bands", 1.0f, 32.0f, 6.0f,
                               "How many times Bands or Veins folds the field over", 0.1f),
            MakeContrastParameter(),
            MakeSeedParameter(),
        };
        return table;
    }

    float Evaluate(float u, float v) const override
    {
        const std::int32_t n = RoundedValue(*this, "scale");
        const float x = static_cast<float>(n) * u;
        const float y = static_cast<float>(n) * v;
        const std::uint32_t seed = SeedValue(*this);
        float h;
        switch (RoundedValue(*this, "kind")) {
        case 1: h = CellValue(x, y, n, GetValue("spread"), GetValue("softness"), seed); break;
        case 2: h = SmoothLatticeContrast(x, y, n, GetValue("softness"), seed); break;
        default: h = FractalNoise(x, y, n, n, GetValue("detail"), GetValue("roughness"), seed); break;
        }
        const std::int32_t shape = RoundedValue(*this, "shape");
        if (shape != 0) {
            const float b = GetValue("bands") * h;
            if (shape == 1)
                h = std::fabs(std::cos(kPi * b));
            else
                h = std::max({Fraction(4.0f * b), Fraction(2.0f * b), Fraction(b)});
        }
        return ApplyContrast(h, GetValue("contrast"));
    }
};

// ---- Wood ------------------------------------------------------------------------------------

class WoodTexture final : public ProceduralTexture {
public:
    const std::string& Name() const override
    {
        static const std::string name = "Wood";
        return name;
    }

    const std::vector<ParameterSpec>& PatternParameters() const override
    {
        static const std::vector<ParameterSpec> table = {
            MakeIntParameter("rings", "Grain lines per tile", 1, 64, 12, "How many lines cross the board"),
            MakeChoiceParameter("direction", "Direction", {"Horizontal", "Vertical", "End grain (rings)"}, 0,
                                "Which way the board runs, or the end of it"),
            MakeFloatParameter("wander", "Figure", 0.0f, 6.0f, 4.0f,
                               "How far a line strays, in lines: past 1 they close into the arches of a flatsawn "
                               "board",
                               0.01f),
            MakeIntParameter("figure", "Figure size", 1, 12, 1, "Fewer is longer, broader sweeps"),
            MakeIntParameter("stretch", "Stretch", 1, 8, 3,
                             "How much more the figure varies across the board than down it"),
            MakeChoiceParameter("profile", "Line profile", WaveFormNames(), 1,
                                "Saw is the hard edge of latewood; sine and triangle are softer"),
            MakeFloatParameter("fibre", "Fibre", 0.0f, 1.0f, 0.45f, "The fine grain between the lines", 0.01f),
            MakeIntParameter("fibreLines", "Fibre fineness", 16, 512, 160, "Fibres across the board"),
            MakeContrastParameter(),
            MakeSeedParameter(),
        };
        return table;
    }

    float Evaluate(float u, float v) const override
    {
        const std::int32_t direction = RoundedValue(*this, "direction");
        const bool endGrain = direction == 2;
        const float a = direction == 1 ? v : u;  // along the board
        const float c = direction == 1 ? u : v;  // across it
        const std::int32_t rings = RoundedValue(*this, "rings");
        const std::uint32_t seed = SeedValue(*this);

        float t;
        if (endGrain) {
            const float dx = std::min(std::fabs(u - 0.5f), 1.0f - std::fabs(u - 0.5f));
            const float dy = std::min(std::fabs(v - 0.5f), 1.0f - std::fabs(v - 0.5f));
            t = 2.0f * static_cast<float>(rings) * std::sqrt(dx * dx + dy * dy);
        } else {
            t = static_cast<float>(rings) * c;
        }
        const float wander = GetValue("wander");
        if (wander > 0.0f)
            t = t + (2.0f * Figure(u, v, a, c, endGrain, seed) - 1.0f) * wander;

        const std::int32_t profile = RoundedValue(*this, "profile");
        float h = WaveProfile(t, profile == 1 || profile == 2 ? profile : 0);

        const float fibre = GetValue("fibre");
        if (fibre > 0.0f)
            h = h * (1.0f - (1.0f - Fibre(u, v, a, c, endGrain, seed)) * fibre);
        return ApplyContrast(h, GetValue("contrast"));
    }

private:
    // The noise that bends the grain lines into the board's figure.
    float Figure(float u, float v, float a, float c, bool endGrain, std::uint32_t seed) const
    {
        const std::int32_t f = RoundedValue(*this, "figure");
        const std::int32_t s = RoundedValue(*this, "stretch");
        if (endGrain)
            return FractalNoise(static_cast<float>(f) * u, static_cast<float>(f) * v, f, f, 2.0f, 0.5f, seed);
        return FractalNoise(static_cast<float>(f) * a, static_cast<float>(f * s) * c, f, f * s, 2.0f, 0.5f, seed);
    }

    // The fine fibres between the lines, long along the board.
    float Fibre(float u, float v, float a, float c, bool endGrain, std::uint32_t seed) const
    {
        const std::int32_t lines = RoundedValue(*this, "fibreLines");
        const std::int32_t along = std::max(lines / 24, 1);
        if (endGrain)
            return FractalNoise(static_cast<float>(lines) * u, static_cast<float>(lines) * v, lines, lines, 1.0f, 0.5f,
                                seed + 7);
        return FractalNoise(static_cast<float>(along) * a, static_cast<float>(lines) * c, along, lines, 1.0f, 0.5f,
                            seed + 7);
    }
};

// ---- Bricks ----------------------------------------------------------------------------------

class BricksTexture final : public ProceduralTexture {
public:
    const std::string& Name() const override
    {
        static const std::string name = "Bricks";
        return name;
    }

    const std::vector<ParameterSpec>& PatternParameters() const override
    {
        static const std::vector<ParameterSpec> table = {
            MakeIntParameter("rows", "Rows per tile", 1, 32, 8,
                             "Courses of bricks in the tile (rounded up to the offset period)"),
            MakeIntParameter("bricks", "Bricks per row", 1, 32, 4, "Bricks along one course"),
            MakeFloatParameter("mortar", "Mortar width", 0.0f, 0.45f, 0.1f, "As a share of the brick's smaller side",
                               0.01f),
            MakeFloatParameter("mortarSmooth", "Mortar smoothness", 0.0f, 1.0f, 0.3f,
                               "How softly the joint meets the face", 0.01f),
            MakeFloatParameter("bevel", "Bevel width", 0.0f, 0.25f, 0.04f,
                               "How far the joint's slope extends into each brick, as a share of its smaller side",
                               0.01f),
            MakeFloatParameter("offset", "Row offset", 0.0f, 1.0f, 0.5f,
                               "How far every offset course is shifted, in bricks", 0.01f),
            MakeIntParameter("offsetEvery", "Offset every", 1, 4, 2, "Every Nth course is shifted"),
            MakeFloatParameter("variation", "Height variation", 0.0f, 1.0f, 0.0f, "Bricks sit at random heights",
                               0.01f),
            MakeFloatParameter("roughness", "Face roughness", 0.0f, 1.0f, 0.0f, "Noise on the brick faces", 0.01f),
            MakeSeedParameter(),
        };
        return table;
    }

    float Evaluate(float u, float v) const override
    {
        const std::int32_t every = std::max(RoundedValue(*this, "offsetEvery"), 1);
        const std::int32_t requested = RoundedValue(*this, "rows");
        // Rows rounded up to a whole number of offset periods, so the pattern tiles.
        const std::int32_t rows = (requested - 1 + every) - ((requested - 1 + every) % every);
        const std::int32_t bricks = RoundedValue(*this, "bricks");
        const std::uint32_t seed = SeedValue(*this);
        const float h = 1.0f / static_cast<float>(rows);
        const float w = 1.0f / static_cast<float>(bricks);
        const float side = std::min(w, h);
        const BrickSample brick = BrickLattice(u, v, w, h, GetValue("mortar") * side, GetValue("mortarSmooth"),
                                               GetValue("bevel") * side, GetValue("offset"), every, rows, bricks, seed);
        float face = 1.0f - GetValue("variation") * brick.value * 0.5f;
        const float roughness = GetValue("roughness");
        if (roughness > 0.0f) {
            const float g = FractalNoise(static_cast<float>(4 * bricks) * u, static_cast<float>(4 * rows) * v,
                                         4 * bricks, 4 * rows, 2.0f, 0.5f, seed + 17);
            face = face + (2.0f * g - 1.0f) * roughness * 0.2f;
        }
        return Clamp01(face * (1.0f - brick.joint));
    }
};

// ---- Cells -----------------------------------------------------------------------------------

class CellsTexture final : public ProceduralTexture {
public:
    const std::string& Name() const override
    {
        static const std::string name = "Cells";
        return name;
    }

    const std::vector<ParameterSpec>& PatternParameters() const override
    {
        static const std::vector<ParameterSpec> table = {
            MakeIntParameter("cells", "Cells per tile", 3, 64, 6, "How many cells span the tile"),
            MakeFloatParameter("randomness", "Randomness", 0.0f, 1.0f, 1.0f,
                               "0 is a regular grid, 1 is cells anywhere", 0.01f),
            MakeChoiceParameter("feature", "Look", {"Cobbles", "Crackle", "Grooves"}, 0,
                                "Rounded cells, ridges between cells, or grooves along the cell edges"),
            MakeChoiceParameter("metric", "Distance", {"Euclidean", "Manhattan", "Chebyshev"}, 0,
                                "How distance is measured: round, diamond or square cells"),
            MakeContrastParameter(),
            MakeSeedParameter(),
        };
        return table;
    }

    float Evaluate(float u, float v) const override
    {
        const std::int32_t n = RoundedValue(*this, "cells");
        const float x = static_cast<float>(n) * u;
        const float y = static_cast<float>(n) * v;
        const std::int32_t metricChoice = RoundedValue(*this, "metric");
        const std::int32_t metric = metricChoice == 1 || metricChoice == 2 ? metricChoice : kEuclidean;
        const std::uint32_t seed = SeedValue(*this);
        const float jitter = GetValue("randomness");
        float h;
        switch (RoundedValue(*this, "feature")) {
        case 1: h = CellularDistance(x, y, n, jitter, metric, kSecondMinusNearest, seed); break;
        case 2: h = CellularDistance(x, y, n, jitter, metric, kBorderDistance, seed); break;
        default: h = 1.0f - CellularDistance(x, y, n, jitter, metric, kNearestDistance, seed); break;
        }
        return ApplyContrast(h, GetValue("contrast"));
    }
};

}  // namespace

std::unique_ptr<ProceduralTexture> MakeNoiseTexture() { return std::make_unique<NoiseTexture>(); }
std::unique_ptr<ProceduralTexture> MakeWoodTexture() { return std::make_unique<WoodTexture>(); }
std::unique_ptr<ProceduralTexture> MakeBricksTexture() { return std::make_unique<BricksTexture>(); }
std::unique_ptr<ProceduralTexture> MakeCellsTexture() { return std::make_unique<CellsTexture>(); }

}  // namespace grainforge::mesh::procedural
