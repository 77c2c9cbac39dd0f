// Truchet arcs on hexagons after C. S. Smith, "The tiling patterns of Sebastien Truchet and the
// topology of structural hierarchy" (Leonardo, 1987); the wood figures are fractal gradient
// noise warped by further noise (Perlin, "Improving noise", SIGGRAPH 2002).
#include "engine/textures/patterns_hex_wood.h"

#include "engine/textures/noise_kernels.h"
#include "engine/textures/pattern_math_detail.h"

#include <algorithm>
#include <cmath>

namespace grainforge::mesh::procedural {

using detail::FlooredMod;
using detail::FloorToInt;
using detail::RoundedValue;
using detail::RoundToInt;
using detail::SeedValue;
using detail::SmoothStep;

namespace {

constexpr float kTwoPi = 6.28318531f;
constexpr float kHexInnerRadius = 0.8660254f;  // centre to the middle of a side

// Hexagons across and the row pairs down that keep them regular in a square tile.
std::int32_t HexRowPairs(std::int32_t across)
{
    return RoundToInt(static_cast<float>(across) * kHexSpacing / 3.0f);
}

// "Round" is a smooth bead over the line's width, "Flat" a ribbon with steep sides.
float LineProfile(float t, std::int32_t profile)
{
    if (profile != 0)
        return Clamp01(t / 0.3f);
    return SmoothStep(t);
}

// ---- Hex Truchet -----------------------------------------------------------------------------

class HexTruchetTexture final : public ProceduralTexture {
public:
    const std::string& Name() const override
    {
        static const std::string name = "Hex Truchet";
        return name;
    }

    const std::vector<ParameterSpec>& PatternParameters() const override
    {
        static const std::vector<ParameterSpec> table = {
            MakeIntParameter("hexes", "Hexagons across", 1, 24, 7,
                             "How many hexagons span the tile; the number down follows from it so they stay regular"),
            MakeFloatParameter("width", "Line width", 0.02f, 0.5f, 0.15f,
                               "How wide each loop stands, as a share of a hexagon's radius", 0.01f),
            MakeChoiceParameter("profile", "Line profile", {"Round", "Flat"}, 0,
                                "A rounded bead or a flat-topped ribbon"),
            MakeSeedParameter(),
            MakeContrastParameter(),
        };
        return table;
    }

    float Evaluate(float u, float v) const override
    {
        // Corners at 30 + 60k degrees; a hexagon takes either the odd or the even three.
        static constexpr float kCornerX[6] = {0.8660254f, 0.0f, -0.8660254f, -0.8660254f, 0.0f, 0.8660254f};
        static constexpr float kCornerY[6] = {0.5f, 1.0f, 0.5f, -0.5f, -1.0f, -0.5f};
        const std::int32_t n = RoundedValue(*this, "hexes");
        const std::int32_t m = std::max(HexRowPairs(n), 1);
        const HexCell c = HexLatticeNearest(static_cast<float>(n) * u * kHexSpacing, static_cast<float>(m) * v * 3.0f);
        const std::int32_t ci = FlooredMod(c.i, n);
        const std::int32_t cj = FlooredMod(c.j, m);
        const std::uint32_t seed = SeedValue(*this) + (c.subLattice == 1 ? 977u : 0u);
        const float r = HashToUnit(TileHash(static_cast<std::uint32_t>(ci), static_cast<std::uint32_t>(cj), seed));
        const std::size_t first = r < 0.5f ? 1 : 0;
        // sqrt is monotonic and correctly rounded, so the root of the smallest square is the
        // smallest distance.
        float nearest2 = 3.4028235e38f;
        for (std::size_t k = first; k < 6; k += 2) {
            const float ex = c.dx - kCornerX[k];
            const float ey = c.dy - kCornerY[k];
            nearest2 = std::min(nearest2, ex * ex + ey * ey);
        }
        const float d = std::sqrt(nearest2);
        const float t = Clamp01(1.0f - std::fabs(d - 0.5f) / GetValue("width"));
        const float h = LineProfile(t, RoundedValue(*this, "profile"));
        return Clamp01((h - 0.5f) * GetValue("contrast") + 0.5f);
    }
};

// ---- Wire Mesh -------------------------------------------------------------------------------

class WireMeshTexture final : public ProceduralTexture {
public:
    const std::string& Name() const override
    {
        static const std::string name = "Wire Mesh";
        return name;
    }

    const std::vector<ParameterSpec>& PatternParameters() const override
    {
        static const std::vector<ParameterSpec> table = {
            MakeIntParameter("hexes", "Openings across", 1, 24, 6,
                             "How many openings span the tile; the number down follows from it so they stay regular"),
            MakeFloatParameter("width", "Wire width", 0.02f, 0.5f, 0.12f,
                               "How thick each strut stands, as a share of an opening's radius", 0.01f),
            MakeFloatParameter("roundness", "Hole roundness", 0.0f, 1.0f, 0.0f,
                               "0 leaves straight struts and hexagonal holes; 1 bends them into rings with round "
                               "holes. Past roundness x 0.134 over the wire width, a small opening appears where three "
                               "meet",
                               0.01f),
            MakeChoiceParameter("profile", "Wire profile", {"Round", "Flat"}, 0, "A rounded wire or a flat ribbon"),
            MakeContrastParameter(),
        };
        return table;
    }

    float Evaluate(float u, float v) const override
    {
        const std::int32_t n = RoundedValue(*this, "hexes");
        std::int32_t m = HexRowPairs(n);
        if (m < 2)
            m = 1;
        const HexCell c = HexLatticeNearest(static_cast<float>(n) * u * kHexSpacing, static_cast<float>(m) * v * 3.0f);
        const float x = c.dx;
        const float y = c.dy;
        // Hexagon distance: kHexInnerRadius on the hexagon's sides.
        const float hex = std::max({std::fabs(x), std::fabs(0.5f * x + 0.8660254f * y),
                                    std::fabs(0.8660254f * y - 0.5f * x)});
        const float round = std::sqrt(x * x + y * y);
        const float d = hex + GetValue("roundness") * (round - hex);
        const float t = Clamp01(1.0f - std::fabs(kHexInnerRadius - d) / GetValue("width"));
        const float h = LineProfile(t, RoundedValue(*this, "profile"));
        return Clamp01((h - 0.5f) * GetValue("contrast") + 0.5f);
    }
};

// ---- Timber ----------------------------------------------------------------------------------

class TimberTexture final : public ProceduralTexture {
public:
    const std::string& Name() const override
    {
        static const std::string name = "Timber";
        return name;
    }

    const std::vector<ParameterSpec>& PatternParameters() const override
    {
        static const std::vector<ParameterSpec> table = {
            MakeIntParameter("cells", "Cells across the grain", 2, 64, 12,
                             "The coarse field the figure is built from; more is a finer board"),
            MakeIntParameter("stretch", "Stretch along the grain", 1, 32, 7,
                             "How much longer the figure runs along the grain than across it"),
            MakeChoiceParameter("direction", "Direction", {"Vertical", "Horizontal"}, 0, "Which way the grain runs"),
            MakeFloatParameter("figure", "Figure", 0.0f, 2.0f, 1.1f,
                               "How far the grain is bent from straight. 0 is a quartersawn board, high is wild flame",
                               0.01f),
            MakeIntParameter("rings", "Ring detail", 1, 9, 6, "How many scales of ring are stacked into the grain"),
            MakeFloatParameter("sharpness", "Ring strength", 0.0f, 1.0f, 0.3f,
                               "How hard the rings cut into the figure", 0.01f),
            MakeFloatParameter("blotch", "Blotch", 0.0f, 1.0f, 0.4f, "Darker and lighter passages down the board",
                               0.01f),
            MakeFloatParameter("fibre", "Fibre", 0.0f, 1.0f, 0.2f, "The hairline pores along the grain", 0.01f),
            MakeContrastParameter(),
            MakeSeedParameter(),
        };
        return table;
    }

    float Evaluate(float u, float v) const override
    {
        const bool horizontal = RoundedValue(*this, "direction") == 1;
        const float a = horizontal ? v : u;  // across the grain
        const float b = horizontal ? u : v;  // along it
        const std::int32_t cells = RoundedValue(*this, "cells");
        const std::int32_t stretch = RoundedValue(*this, "stretch");
        const std::int32_t rows = std::max(RoundToInt(static_cast<float>(cells) / static_cast<float>(stretch)), 1);
        const std::uint32_t s = SeedValue(*this);
        const float figure = GetValue("figure");
        const float x = static_cast<float>(cells) * a;
        const float y = static_cast<float>(rows) * b;

        const float w1 = 2.0f * FractalNoise(x + 3.7f, y + 1.3f, cells, rows, 2.0f, 0.5f, s + 11) - 1.0f;
        const float w2 = 2.0f * FractalNoise(x + 9.1f, y + 5.9f, cells, rows, 2.0f, 0.5f, s + 23) - 1.0f;
        const float g = FractalNoise(x + figure * w1, y + figure * w2, cells, rows, 6.0f, 0.5f, s);
        const float base = g + 0.2f * (1.0f - g);
        const float k = Rings(base, s);
        const float m1 = Blotch(a, y, w1, rows, s);
        const float m2 = Fibre(a, b, cells, rows, s);
        return ApplyContrast(Levels(m1 * k * m2), GetValue("contrast"));
    }

private:
    // Ring lines cut into the figure, a function of the figure's height alone.
    float Rings(float base, std::uint32_t s) const
    {
        const float octaves = static_cast<float>(RoundedValue(*this, "rings"));
        const float q = FractalNoise(4.6f * base, 4.6f * base, 16, 16, octaves, 1.0f, s + 31);
        return Clamp01(base + GetValue("sharpness") * (2.0f * q - 1.0f));
    }

    // Darker and lighter passages down the board (a multiplier at most 1).
    float Blotch(float a, float y, float w1, std::int32_t rows, std::uint32_t s) const
    {
        const float p = 3.0f * (0.5f * std::sin(kTwoPi * (2.0f * a + 0.15f * w1)) + 0.5f);
        const float blotch = FractalNoise(p, y, 8, rows, 3.0f, 0.5f, s + 43);
        return 1.0f - 0.5f * GetValue("blotch") * blotch;
    }

    // Hairline pores along the grain (a multiplier at most 1).
    float Fibre(float a, float b, std::int32_t cells, std::int32_t rows, std::uint32_t s) const
    {
        const auto across = static_cast<std::int32_t>(std::min<std::int64_t>(std::int64_t{16} * cells, 2048));
        const std::int32_t along = std::max(rows, 1);
        const float fibre = FractalNoise(static_cast<float>(across) * a, static_cast<float>(along) * b, across, along,
                                         2.0f, 0.5f, s + 47);
        return 1.0f - GetValue("fibre") * SmoothStep((fibre - 0.35f) / 0.65f);
    }

    // Two ramps that put the figure's middle values at the pattern's rest level.
    static float Levels(float t)
    {
        if (t < 0.56f)
            return 0.53f * Clamp01((t - 0.28f) / 0.28f);
        return 0.53f + 0.47f * Clamp01((t - 0.56f) / 0.24f);
    }
};

// ---- Wood Rings ------------------------------------------------------------------------------

class WoodRingsTexture final : public ProceduralTexture {
public:
    const std::string& Name() const override
    {
        static const std::string name = "Wood Rings";
        return name;
    }

    const std::vector<ParameterSpec>& PatternParameters() const override
    {
        static const std::vector<ParameterSpec> table = {
            MakeIntParameter("rings", "Rings across the tile", 1, 64, 14, "How many growth rings span the tile"),
            MakeFloatParameter("wander", "Wander", 0.0f, 20.0f, 5.0f,
                               "How far the rings bend from straight, in ring widths", 0.1f),
            MakeIntParameter("cells", "Bend scale", 1, 32, 3, "How large the bends are: few is long sweeping figure"),
            MakeIntParameter("stretch", "Stretch along the grain", 1, 32, 6,
                             "How much longer the figure runs along the grain than across it"),
            MakeChoiceParameter("direction", "Direction", {"Vertical", "Horizontal"}, 0, "Which way the rings run"),
            MakeFloatParameter("width", "Ring width", 0.02f, 1.0f, 0.3f,
                               "How much of the space between rings each one fills", 0.01f),
            MakeFloatParameter("variation", "Ring variation", 0.0f, 1.0f, 0.8f,
                               "How much the rings differ from one another in depth", 0.01f),
            MakeFloatParameter("grain", "Grain", 0.0f, 1.0f, 1.0f,
                               "Fine speckle on the rings and the board. 1 is the shader's; 0 leaves them clean",
                               0.01f),
            MakeIntParameter("fibre", "Grain stretch", 1, 16, 1,
                             "1 is the shader's round speckle; higher draws it out into fibres along the grain"),
            MakeContrastParameter(),
            MakeSeedParameter(),
        };
        return table;
    }

    float Evaluate(float u, float v) const override
    {
        const bool horizontal = RoundedValue(*this, "direction") == 1;
        const float a = horizontal ? v : u;  // across the rings
        const float b = horizontal ? u : v;  // along them
        const std::int32_t rings = RoundedValue(*this, "rings");
        const std::uint32_t s = SeedValue(*this);
        const RingLine line = NearestRingLine(a, b, rings, s);
        const float depth = RingDepth(line.t, rings, s);
        const GrainSpeckle grain = Grain(a, b, rings, s);
        const float h = (1.0f - grain.onRings * line.coverage * depth) * grain.onBoard;
        return ApplyContrast(Clamp01(h), GetValue("contrast"));
    }

private:
    struct RingLine {
        float coverage = 0.0f;  // 1 on a ring line, falling to 0 at the ring's edge
        float t = 0.0f;         // the ring coordinate: whole numbers on the lines
    };

    struct GrainSpeckle {
        float onRings = 1.0f;  // multiplies the ring's cut
        float onBoard = 1.0f;  // multiplies the whole height
    };

    // Growth rings bent by fractal noise. The distance to the nearest line is the ring
    // coordinate's offset over its gradient, so the rings keep their width where they bend.
    RingLine NearestRingLine(float a, float b, std::int32_t rings, std::uint32_t s) const
    {
        const float wander = GetValue("wander");
        const std::int32_t cells = RoundedValue(*this, "cells");
        const std::int32_t stretch = RoundedValue(*this, "stretch");
        const std::int32_t rows = std::max(RoundToInt(static_cast<float>(cells) / static_cast<float>(stretch)), 1);
        float nx = 0.0f, ny = 0.0f;
        const float n = FractalNoiseDerivatives(static_cast<float>(cells) * a, static_cast<float>(rows) * b, cells,
                                                rows, 3.0f, 0.5f, s, nx, ny);
        const float ringsF = static_cast<float>(rings);
        RingLine line;
        line.t = ringsF * a + wander * (2.0f * n - 1.0f);
        const float gx = ringsF + 2.0f * wander * static_cast<float>(cells) * nx;
        const float gy = 2.0f * wander * static_cast<float>(rows) * ny;
        const float e = std::fabs(line.t - std::round(line.t)) / std::max(std::sqrt(gx * gx + gy * gy), 0.0001f);
        line.coverage = Clamp01(1.0f - e / (0.5f * std::max(GetValue("width"), 0.001f) / ringsF));
        return line;
    }

    // Each ring's own depth, from its index round the tile.
    float RingDepth(float t, std::int32_t rings, std::uint32_t s) const
    {
        const std::int32_t k = FlooredMod(FloorToInt(t + 0.5f), rings);
        const float r = HashToUnit(TileHash(static_cast<std::uint32_t>(k), 0u, s ^ kFeatureSecondSalt));
        return 1.0f + GetValue("variation") * ((0.4f + 0.6f * r) - 1.0f);
    }

    // Fine speckle, drawn out along the grain by "fibre".
    GrainSpeckle Grain(float a, float b, std::int32_t rings, std::uint32_t s) const
    {
        const auto across = static_cast<std::int32_t>(std::min<std::int64_t>(std::int64_t{18} * rings, 4096));
        const std::int32_t along =
            std::max(RoundToInt(static_cast<float>(across) / static_cast<float>(RoundedValue(*this, "fibre"))), 1);
        const float x = static_cast<float>(across) * a;
        const float y = static_cast<float>(along) * b;
        const float g1 = PeriodicValueNoise(x, y, across, along, s + 7);
        const float g2 = PeriodicValueNoise(x, y, across, along, s + 11);
        const float speckle = SmoothStep((g1 + 0.2f) / 1.1f);
        const float grain = GetValue("grain");
        GrainSpeckle result;
        result.onRings = 1.0f + grain * (speckle - 1.0f);
        result.onBoard = 1.0f + 0.1f * grain * (0.7f * g2 + 0.5f - 1.0f);
        return result;
    }
};

}  // namespace

HexCell HexLatticeNearest(float x, float y)
{
    HexCell cell;
    cell.i = RoundToInt(x / kHexSpacing);
    cell.j = RoundToInt(y / 3.0f);
    cell.dx = x - kHexSpacing * static_cast<float>(cell.i);
    cell.dy = y - 3.0f * static_cast<float>(cell.j);
    const std::int32_t i = RoundToInt(x / kHexSpacing - 0.5f);
    const std::int32_t j = RoundToInt(y / 3.0f - 0.5f);
    const float dx = x - kHexSpacing * (static_cast<float>(i) + 0.5f);
    const float dy = y - 3.0f * (static_cast<float>(j) + 0.5f);
    if (dx * dx + dy * dy < cell.dx * cell.dx + cell.dy * cell.dy)
        cell = {dx, dy, i, j, 1};
    return cell;
}

std::unique_ptr<ProceduralTexture> MakeHexTruchetTexture() { return std::make_unique<HexTruchetTexture>(); }
std::unique_ptr<ProceduralTexture> MakeWireMeshTexture() { return std::make_unique<WireMeshTexture>(); }
std::unique_ptr<ProceduralTexture> MakeTimberTexture() { return std::make_unique<TimberTexture>(); }
std::unique_ptr<ProceduralTexture> MakeWoodRingsTexture() { return std::make_unique<WoodRingsTexture>(); }

}  // namespace grainforge::mesh::procedural
