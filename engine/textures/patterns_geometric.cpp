#include "engine/textures/patterns_geometric.h"

#include "engine/textures/noise_kernels.h"
#include "engine/textures/pattern_math_detail.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>

namespace grainforge::mesh::procedural {

namespace {

using detail::Fraction;
using detail::RoundedValue;
using detail::SeedValue;
using detail::SmoothStep;
using detail::kPi;

// The step of the forward differences that give the contour field's slope, in tile units.
constexpr float kSlopeStep = 0.001f;

// The floored modulo of floor(x) by n (0 when n < 1), without overflowing for far coordinates.
std::int32_t WrappedCell(float x, std::int32_t n)
{
    if (n < 1)
        return 0;
    const double cell = std::floor(static_cast<double>(x));
    if (!std::isfinite(cell))
        return 0;
    const double r = std::fmod(cell, static_cast<double>(n));
    return static_cast<std::int32_t>(r < 0.0 ? r + n : r);
}

// ---- Contours --------------------------------------------------------------------------------

// The values the contour field reads, taken once per sample.
struct ContoursSettings {
    std::int32_t cells = 0;
    float falloff = 0.0f;
    float jitter = 0.0f;
    std::uint32_t seed = 0;
};

ContoursSettings ReadContoursSettings(const ParameterSet& pattern)
{
    return {RoundedValue(pattern, "cells"), pattern.GetValue("falloff"), pattern.GetValue("randomness"), SeedValue(pattern)};
}

// A fine layer of three times the cells and the coarse layer, blended and taken to the root.
float BlendContourLayers(float fine, float coarse) { return std::sqrt(0.66f * coarse + 0.34f * fine); }

float ContoursFieldAt(const ContoursSettings& s, float u, float v)
{
    const float fine = static_cast<float>(3 * s.cells);
    const float coarse = static_cast<float>(s.cells);
    const float a = SmoothNearestDistance(fine * u, fine * v, 3 * s.cells, s.falloff, s.jitter, s.seed + 5);
    const float b = SmoothNearestDistance(coarse * u, coarse * v, s.cells, s.falloff, s.jitter, s.seed);
    return BlendContourLayers(a, b);
}

// SmoothNearestDistance at three points close together. Where they share their base cell, the
// 5 x 5 feature points (the bulk of the work) are found once and each point's sum is formed in
// the kernel's own order, so every result is the kernel's to the bit; a point in another cell
// goes to the kernel itself.
std::array<float, 3> SmoothNearestDistance3(const std::array<float, 3>& xs, const std::array<float, 3>& ys,
                                            std::int32_t period, float exponent, float jitter, std::uint32_t seed)
{
    std::array<float, 3> result{};
    constexpr float kCellLimit = 1073741824.0f;  // the kernel holds lattice indices within 2^30
    const float cellX = std::floor(xs[0]);
    const float cellY = std::floor(ys[0]);
    if (!(std::fabs(cellX) < kCellLimit && std::fabs(cellY) < kCellLimit) || !(exponent >= 0.5f) ||
        !(jitter >= 0.0f)) {
        for (std::size_t i = 0; i < 3; ++i)
            result[i] = SmoothNearestDistance(xs[i], ys[i], period, exponent, jitter, seed);
        return result;
    }
    // The kernel's own limits.
    period = std::max(period, 3);
    exponent = std::min(exponent, 16.0f);
    jitter = std::min(jitter, 1.0f);
    const auto cx = static_cast<std::int32_t>(cellX);
    const auto cy = static_cast<std::int32_t>(cellY);
    std::array<FeaturePoint, 25> points;
    for (std::int32_t dy = -2, k = 0; dy <= 2; ++dy)
        for (std::int32_t dx = -2; dx <= 2; ++dx, ++k)
            points[static_cast<std::size_t>(k)] = CellFeaturePoint(cx, cy, dx, dy, period, jitter, seed);

    const float radius = std::min(0.5f * static_cast<float>(period), 2.0f);
    const float radius2 = radius * radius;
    const float whole = std::round(exponent);
    const bool multiply = whole == exponent && whole >= 1.0f && whole <= 16.0f;
    const auto power = [&](float base) {
        if (!multiply)
            return std::pow(base, exponent);
        float p = base;
        for (int i = 1; i < static_cast<int>(whole); ++i)
            p *= base;
        return p;
    };
    for (std::size_t i = 0; i < 3; ++i) {
        if (std::floor(xs[i]) != cellX || std::floor(ys[i]) != cellY) {
            result[i] = SmoothNearestDistance(xs[i], ys[i], period, exponent, jitter, seed);
            continue;
        }
        const float lx = xs[i] - cellX;
        const float ly = ys[i] - cellY;
        float sum = 0.0f;
        for (const FeaturePoint& p : points) {
            const float ox = p.x - lx;
            const float oy = p.y - ly;
            const float d2 = std::max(ox * ox + oy * oy, 0.0001f);
            if (d2 < radius2) {
                const float w = 1.0f - d2 / radius2;
                sum += w * w * w / power(d2);
            }
        }
        result[i] = sum > 0.0f ? std::pow(1.0f / sum, 0.5f / exponent) : 0.0f;
    }
    return result;
}

std::array<float, 3> ContoursFieldAt3(const ContoursSettings& s, const std::array<float, 3>& us,
                                      const std::array<float, 3>& vs)
{
    const float fine = static_cast<float>(3 * s.cells);
    const float coarse = static_cast<float>(s.cells);
    std::array<float, 3> x{}, y{};
    for (std::size_t i = 0; i < 3; ++i) {
        x[i] = fine * us[i];
        y[i] = fine * vs[i];
    }
    const std::array<float, 3> a = SmoothNearestDistance3(x, y, 3 * s.cells, s.falloff, s.jitter, s.seed + 5);
    for (std::size_t i = 0; i < 3; ++i) {
        x[i] = coarse * us[i];
        y[i] = coarse * vs[i];
    }
    const std::array<float, 3> b = SmoothNearestDistance3(x, y, s.cells, s.falloff, s.jitter, s.seed);
    return {BlendContourLayers(a[0], b[0]), BlendContourLayers(a[1], b[1]), BlendContourLayers(a[2], b[2])};
}

class ContoursTexture final : public ProceduralTexture {
public:
    const std::string& Name() const override
    {
        static const std::string name = "Contours";
        return name;
    }

    const std::vector<ParameterSpec>& PatternParameters() const override
    {
        static const std::vector<ParameterSpec> table = {
            MakeIntParameter("cells", "Cells per tile", 3, 10, 4, "How many soft cells span the tile"),
            MakeFloatParameter("falloff", "Hardness", 1.0f, 8.0f, 4.0f,
                               "Low melts the cells together; high keeps them apart", 0.1f),
            MakeIntParameter("lines", "Contours", 2, 48, 12, "How many contour lines the field is cut into"),
            MakeFloatParameter("width", "Line width", 0.0f, 1.0f, 0.5f,
                               "How thick each contour is, as a share of the tile - the same everywhere it runs",
                               0.01f),
            MakeChoiceParameter("style", "Style", {"Contour lines", "Terraces", "Smooth cells"}, 0,
                                "Lines standing on a floor, stepped plateaus, or the bare field"),
            MakeFloatParameter("randomness", "Randomness", 0.0f, 1.0f, 1.0f,
                               "0 lays the cells on a grid, 1 scatters them", 0.01f),
            MakeContrastParameter(1.0f),
            MakeSeedParameter(),
        };
        return table;
    }

    float Evaluate(float u, float v) const override
    {
        const ContoursSettings settings = ReadContoursSettings(*this);
        const std::int32_t style = RoundedValue(*this, "style");
        const std::int32_t lines = RoundedValue(*this, "lines");
        const float contrast = GetValue("contrast");
        if (style == 2)
            return ApplyContrast(Clamp01(ContoursFieldAt(settings, u, v) / 0.96f), contrast);
        if (style == 1)
            return ApplyContrast(QuantizeLevels(Clamp01(ContoursFieldAt(settings, u, v) / 0.96f), lines), contrast);

        // Contour lines: the distance to the nearest contour over the field's slope is a
        // distance in tile units, so a line keeps one width wherever it runs.
        const std::array<float, 3> us = {u, u + kSlopeStep, u};
        const std::array<float, 3> vs = {v, v, v + kSlopeStep};
        const std::array<float, 3> fields = ContoursFieldAt3(settings, us, vs);
        const float f = fields[0];
        const float gx = (fields[1] - f) / kSlopeStep;
        const float gy = (fields[2] - f) / kSlopeStep;
        const float linesF = static_cast<float>(lines);
        const float t = linesF * f;
        const float nearest = std::round(t);
        const float slope = std::max(std::max(std::sqrt(gx * gx + gy * gy), 0.0001f) * linesF, 0.0001f);
        const float d = std::fabs(t - nearest) / slope;
        const float w = Clamp01(1.0f - d / (GetValue("width") * 0.02f + 0.002f));
        return ApplyContrast(SmoothStep(w), contrast);
    }
};

// ---- Stars -----------------------------------------------------------------------------------

// The star distance from the centre of a cell, with a and b the two axis distances (0 at the
// centre, 1 at the cell's edge); s = 1 is the square distance.
float StarDistance(float a, float b, float sharpness)
{
    return std::max(std::min(a, b) * sharpness, std::max(a, b)) / std::max(sharpness, 1.0f);
}

class StarsTexture final : public ProceduralTexture {
public:
    const std::string& Name() const override
    {
        static const std::string name = "Stars";
        return name;
    }

    const std::vector<ParameterSpec>& PatternParameters() const override
    {
        static const std::vector<ParameterSpec> table = {
            MakeIntParameter("cells", "Stars per tile", 1, 32, 4, "How many stars span the tile each way"),
            MakeFloatParameter("sharpness", "Point sharpness", 1.0f, 5.0f, 2.0f,
                               "A point's length against its width. 1 is a plain grid of square pyramids, 2 the "
                               "original star; higher sends the points further and shrinks the hollows between them",
                               0.1f),
            MakeChoiceParameter("lattice", "Lattice", {"Square", "Square and turned"}, 0,
                                "Turned lays a second, finer lattice of stars at 45 degrees over the first"),
            MakeChoiceParameter("style", "Style", {"Pyramids", "Rings", "Steps"}, 0,
                                "A star-shaped pyramid, concentric ridges, or flat terraces"),
            MakeIntParameter("rings", "Rings", 1, 16, 4, "How many rings each star is cut into; Pyramids ignores this"),
            MakeChoiceParameter("profile", "Ring profile", WaveFormNames(), 0, "The shape of each ring"),
            MakeContrastParameter(1.0f),
        };
        return table;
    }

    float Evaluate(float u, float v) const override
    {
        const float n = static_cast<float>(RoundedValue(*this, "cells"));
        const float sharpness = GetValue("sharpness");
        const float x = n * u;
        const float y = n * v;
        float d = StarDistance(2.0f * std::fabs(Fraction(x) - 0.5f), 2.0f * std::fabs(Fraction(y) - 0.5f), sharpness);
        if (RoundedValue(*this, "lattice") == 1) {
            const float turned = StarDistance(2.0f * std::fabs(Fraction(x + y) - 0.5f),
                                              2.0f * std::fabs(Fraction(x - y) - 0.5f), sharpness);
            d = std::min(d, turned);
        }
        const std::int32_t rings = RoundedValue(*this, "rings");
        float h;
        switch (RoundedValue(*this, "style")) {
        case 1: {
            const std::int32_t profile = RoundedValue(*this, "profile");
            h = Clamp01(WaveProfile(static_cast<float>(rings) * d, profile == 1 || profile == 2 ? profile : 0));
            break;
        }
        // With fewer than two rings the quantisation only clamps: one ring is the pyramid.
        case 2: h = QuantizeLevels(1.0f - d, rings); break;
        default: h = Clamp01(1.0f - d); break;
        }
        return ApplyContrast(h, GetValue("contrast"));
    }
};

// ---- Weave -----------------------------------------------------------------------------------

// The weave's float count; at least 1, which the table guarantees for real values.
std::int32_t WeaveFloat(const ParameterSet& pattern) { return std::max(RoundedValue(pattern, "float"), 1); }

class WeaveTexture final : public ProceduralTexture {
public:
    const std::string& Name() const override
    {
        static const std::string name = "Weave";
        return name;
    }

    const std::vector<ParameterSpec>& PatternParameters() const override
    {
        static const std::vector<ParameterSpec> table = {
            MakeIntParameter("threads", "Threads per tile", 2, 64, 6,
                             "How many threads span the tile each way; rounded up to fit whole repeats of the weave"),
            MakeIntParameter("float", "Weave float", 1, 8, 1,
                             "How many threads each one passes over before it dips under. 1 is a plain over-under "
                             "weave; more leans the pattern into a twill"),
            MakeFloatParameter("gap", "Gap", 0.0f, 0.6f, 0.36f,
                               "How much of each thread's pitch is the groove beside it", 0.01f),
            MakeFloatParameter("round", "Thread rounding", 0.0f, 1.0f, 0.0f,
                               "0 leaves the threads flat-topped as the original has them; 1 gives them a round "
                               "section",
                               0.01f),
            MakeFloatParameter("crossing", "Crossing depth", 0.0f, 1.0f, 0.9f,
                               "How much higher a thread sits where it passes over than where it passes under", 0.01f),
            MakeContrastParameter(1.07f),
        };
        return table;
    }

    float Evaluate(float u, float v) const override
    {
        // Threads rounded up to whole repeats of the over-under phase (2 x float threads).
        const std::int32_t repeat = 2 * WeaveFloat(*this);
        const std::int32_t requested = RoundedValue(*this, "threads");
        const std::int32_t threads = std::max((requested - 1 + repeat) / repeat, 1) * repeat;
        const float x = static_cast<float>(threads) * u;
        const float y = static_cast<float>(threads) * v;
        const float alongY = WeaveThread(*this, x, y);
        const float alongX = WeaveThread(*this, y, x + 1.0f);
        return ApplyContrast(Clamp01(std::max(alongY, alongX)), GetValue("contrast"));
    }
};

// ---- Truchet ---------------------------------------------------------------------------------

class TruchetTexture final : public ProceduralTexture {
public:
    const std::string& Name() const override
    {
        static const std::string name = "Truchet";
        return name;
    }

    const std::vector<ParameterSpec>& PatternParameters() const override
    {
        static const std::vector<ParameterSpec> table = {
            MakeIntParameter("cells", "Cells per tile", 2, 32, 6,
                             "How many Truchet cells span the tile each way; rounded up to an even number"),
            MakeIntParameter("rings", "Rings per cell", 1, 20, 7,
                             "How many rings are drawn about each corner. 7 is the original, and a whole number is "
                             "what lets the scattered layout join up"),
            MakeFloatParameter("width", "Line width", 0.05f, 1.0f, 0.5f,
                               "How much of each ring stands up. 0.5 is the original; less draws finer lines", 0.01f),
            MakeChoiceParameter("profile", "Line profile", {"Sine", "Triangle"}, 0,
                                "The cross-section of each line. Both are symmetric, which is what the scattered "
                                "layout needs; a saw would put a straight step along every cell edge"),
            MakeChoiceParameter("layout", "Layout", {"Alternating", "Scattered"}, 1,
                                "Scattered turns the cells at random, as the original does, and the curves wander; "
                                "Alternating turns every other one, which closes them into a lattice of rings"),
            MakeSeedParameter(),
            MakeContrastParameter(1.0f),
        };
        return table;
    }

    float Evaluate(float u, float v) const override
    {
        // An even count, so that the alternating layout tiles.
        const std::int32_t n = RoundedValue(*this, "cells");
        const std::int32_t cells = n + n % 2;
        const float x = static_cast<float>(cells) * u;
        const float y = static_cast<float>(cells) * v;
        float lx = x - std::floor(x);
        const float ly = y - std::floor(y);
        const std::int32_t ix = WrappedCell(x, cells);
        const std::int32_t iy = WrappedCell(y, cells);

        bool flip = (ix + iy) % 2 != 0;
        if (RoundedValue(*this, "layout") == 1)
            flip = HashToUnit(TileHash(static_cast<std::uint32_t>(ix), static_cast<std::uint32_t>(iy), SeedValue(*this))) <
                   0.5f;
        if (flip)
            lx = 1.0f - lx;

        const float toOrigin = std::sqrt(lx * lx + ly * ly);
        const float toFar = std::sqrt((lx - 1.0f) * (lx - 1.0f) + (ly - 1.0f) * (ly - 1.0f));
        const float d = std::min(toOrigin, toFar);
        const std::int32_t kind = RoundedValue(*this, "profile") != 0 ? 2 : 0;
        const float h = WaveProfile(d * static_cast<float>(RoundedValue(*this, "rings")) + 0.5f, kind);
        const float width = GetValue("width");
        const float t = Clamp01((h - (1.0f - width)) / width);
        return ApplyContrast(t, GetValue("contrast"));
    }
};

}  // namespace

float ContoursField(const ParameterSet& pattern, float u, float v)
{
    return ContoursFieldAt(ReadContoursSettings(pattern), u, v);
}

float WeaveThread(const ParameterSet& pattern, float a, float b)
{
    const float gap = pattern.GetValue("gap");
    const float p = Fraction(a);
    if (p <= gap)
        return 0.0f;
    const float section = std::sin(kPi * (p - gap) / (1.0f - gap));
    const float bent = pattern.GetValue("round") * (section - 1.0f) + 1.0f;
    // Each thread is shifted by one along b against its neighbour: a twill when float > 1.
    const float floatCount = static_cast<float>(WeaveFloat(pattern));
    const float phase = std::sin((kPi / floatCount) * (b - std::ceil(a)));
    const float crossing = pattern.GetValue("crossing");
    const float level = (0.5f * phase + 0.5f) * crossing + (1.0f - crossing);
    return level * bent;
}

std::unique_ptr<ProceduralTexture> MakeContoursTexture() { return std::make_unique<ContoursTexture>(); }
std::unique_ptr<ProceduralTexture> MakeStarsTexture() { return std::make_unique<StarsTexture>(); }
std::unique_ptr<ProceduralTexture> MakeWeaveTexture() { return std::make_unique<WeaveTexture>(); }
std::unique_ptr<ProceduralTexture> MakeTruchetTexture() { return std::make_unique<TruchetTexture>(); }

}  // namespace grainforge::mesh::procedural
