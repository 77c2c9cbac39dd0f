#include "engine/textures/patterns_machined.h"

#include "engine/textures/noise_kernels.h"
#include "engine/textures/pattern_math_detail.h"
#include "engine/textures/patterns_hex_wood.h"

#include <algorithm>
#include <cmath>

namespace grainforge::mesh::procedural {

using detail::FlooredMod;
using detail::FloorToInt;
using detail::Fraction;
using detail::RoundedValue;
using detail::RoundToInt;
using detail::SmoothStep;

namespace {

using detail::kPi;
constexpr float kHalfSqrt2 = 0.70710677f;

// The rest level of the embossed patterns: the floor, after contrast.
float FloorLevel(const ParameterSet& set) { return ApplyContrast(0.0f, set.GetValue("contrast")); }

// ---- Dots ------------------------------------------------------------------------------------

class DotsTexture final : public ProceduralTexture {
public:
    const std::string& Name() const override
    {
        static const std::string name = "Dots";
        return name;
    }

    const std::vector<ParameterSpec>& PatternParameters() const override
    {
        static const std::vector<ParameterSpec> table = {
            MakeChoiceParameter("layout", "Layout", {"Square", "Staggered", "Hexagonal"}, 2,
                                "Square is a grid; Staggered shifts every other row by half; Hexagonal packs them "
                                "closest"),
            MakeIntParameter("count", "Dots across", 1, 64, 8, "How many dots span the tile"),
            MakeFloatParameter("size", "Dot size", 0.05f, 1.0f, 0.7f,
                               "Diameter as a share of the spacing. At 1 neighbours touch", 0.01f),
            MakeChoiceParameter("shape", "Shape", {"Dome", "Boss", "Cone", "Cylinder"}, 0,
                                "Dome is rounded; Boss is flat-topped with a tapered side; Cone is pointed; Cylinder "
                                "is flat-topped and straight-sided"),
            MakeFloatParameter("softness", "Edge softness", 0.0f, 0.5f, 0.1f,
                               "How much of the rim is rounded over, as a share of the radius", 0.01f),
            MakeContrastParameter(),
        };
        return table;
    }

    float Evaluate(float u, float v) const override
    {
        const float distance =
            DotsDistance(RoundedValue(*this, "layout"), RoundedValue(*this, "count"), Fraction(u), Fraction(v));
        const float r = distance / (0.5f * GetValue("size"));  // 0 at a dot's centre, 1 on its rim
        if (r >= 1.0f)
            return FloorLevel(*this);
        float p;
        switch (RoundedValue(*this, "shape")) {
        case 0: p = std::sqrt(1.0f - r * r); break;
        case 1: p = Clamp01((1.0f - r) / 0.35f); break;
        case 2: p = 1.0f - r; break;
        default: p = 1.0f; break;
        }
        const float softness = GetValue("softness");
        if (softness > 0.0f)
            p = p * SmoothStep(Clamp01((1.0f - r) / softness));
        return ApplyContrast(Clamp01(p), GetValue("contrast"));
    }

    float MidLevel() const override { return FloorLevel(*this); }
};

// ---- Knurl -----------------------------------------------------------------------------------

// 0 in a groove at whole s, 1 on the crest at half.
float Ridge(float s) { return 1.0f - 2.0f * std::fabs(Fraction(s) - 0.5f); }

class KnurlTexture final : public ProceduralTexture {
public:
    const std::string& Name() const override
    {
        static const std::string name = "Knurl";
        return name;
    }

    const std::vector<ParameterSpec>& PatternParameters() const override
    {
        static const std::vector<ParameterSpec> table = {
            MakeChoiceParameter("kind", "Kind", {"Diamond", "Straight", "Square"}, 0,
                                "Diamond crosses the grooves at an angle; Straight is ridges along the axis; Square "
                                "crosses them at right angles"),
            MakeIntParameter("grooves", "Grooves across", 2, 128, 24,
                             "How many grooves cross the tile from side to side"),
            MakeFloatParameter("angle", "Angle", 10.0f, 60.0f, 30.0f,
                               "The grooves' angle to the axis (Diamond). Rounded to the nearest that repeats across "
                               "the tile",
                               0.5f),
            MakeFloatParameter("flat", "Flat top", 0.0f, 0.8f, 0.0f,
                               "Truncates the pyramids into flat lands. 0 leaves them sharp", 0.01f),
            MakeContrastParameter(),
        };
        return table;
    }

    float Evaluate(float u, float v) const override
    {
        const std::int32_t grooves = RoundedValue(*this, "grooves");
        const float g = static_cast<float>(grooves);
        float t;
        switch (RoundedValue(*this, "kind")) {
        case 1: t = Ridge(g * u); break;
        case 2: t = std::min(Ridge(g * u), Ridge(g * v)); break;
        default: {
            // The slope nearest the angle that still repeats across the tile.
            const float k = static_cast<float>(DiamondSlope(grooves));
            t = std::min(Ridge(g * u + k * v), Ridge(g * u - k * v));
            break;
        }
        }
        const float f = 1.0f - GetValue("flat");
        const float h = std::min(t, f) / f;
        return ApplyContrast(Clamp01(h), GetValue("contrast"));
    }

    // The top of the knurl, after contrast.
    float MidLevel() const override { return ApplyContrast(1.0f, GetValue("contrast")); }

private:
    std::int32_t DiamondSlope(std::int32_t grooves) const
    {
        const float slope = std::tan(GetValue("angle") * kPi / 180.0f) * static_cast<float>(grooves);
        return std::max(RoundToInt(slope), 1);
    }
};

// ---- Tread Plate -----------------------------------------------------------------------------

class TreadPlateTexture final : public ProceduralTexture {
public:
    const std::string& Name() const override
    {
        static const std::string name = "Tread Plate";
        return name;
    }

    const std::vector<ParameterSpec>& PatternParameters() const override
    {
        static const std::vector<ParameterSpec> table = {
            MakeIntParameter("count", "Bars across", 2, 48, 8,
                             "How many bars span the tile; rounded up to an even number"),
            MakeFloatParameter("length", "Bar length", 0.3f, 1.05f, 0.95f,
                               "How long each bar is, as a share of its cell", 0.01f),
            MakeFloatParameter("width", "Bar width", 0.1f, 0.35f, 0.26f,
                               "How wide each bar is, as a share of its cell", 0.01f),
            MakeFloatParameter("edge", "Edge", 0.05f, 1.0f, 0.4f,
                               "How much of each bar slopes up from the plate; the rest is its rounded top", 0.01f),
            MakeContrastParameter(),
        };
        return table;
    }

    float Evaluate(float u, float v) const override
    {
        const std::int32_t n = RoundedValue(*this, "count");
        const std::int32_t cells = n + FlooredMod(n, 2);  // even, so the checkerboard of directions repeats
        const float xs = static_cast<float>(cells) * u;
        const float ys = static_cast<float>(cells) * v;
        const float fx = std::floor(xs);
        const float fy = std::floor(ys);
        const float x = xs - fx - 0.5f;
        const float y = ys - fy - 0.5f;
        // Neighbouring cells carry bars on crossing diagonals.
        const bool odd = cells > 0 && (FlooredMod(FloorToInt(fx), cells) + FlooredMod(FloorToInt(fy), cells)) % 2 == 1;
        const float s = odd ? -1.0f : 1.0f;
        const float along = std::fabs((s * y + x) * kHalfSqrt2) / (0.5f * GetValue("length"));
        const float across = ((y - s * x) * kHalfSqrt2) / (0.5f * GetValue("width"));
        const float e = along + across * across;  // a bar with rounded ends
        const float h = e >= 1.0f ? 0.0f : SmoothStep(Clamp01((1.0f - e) / GetValue("edge")));
        return ApplyContrast(h, GetValue("contrast"));
    }

    float MidLevel() const override { return FloorLevel(*this); }
};

// The nearest of the three rows about y, each staggered by half a dot when odd.
float StaggeredDistance(std::int32_t count, float x, float v)
{
    const std::int32_t rows = count + FlooredMod(count, 2);  // even, so the stagger repeats
    const float y = static_cast<float>(rows) * v;
    const std::int32_t first = FloorToInt(y) - 1;
    float nearest2 = 3.4028235e38f;
    for (std::int32_t r = first; r <= first + 2; ++r) {
        const float shift = FlooredMod(r, 2) == 1 ? 0.5f : 0.0f;
        const float column = std::floor(x - shift) + 0.5f + shift;
        const float dy = y - (static_cast<float>(r) + 0.5f);
        for (const float cx : {column - 1.0f, column + 1.0f, column}) {
            const float dx = x - cx;
            nearest2 = std::min(nearest2, dx * dx + dy * dy);
        }
    }
    return std::sqrt(nearest2);
}

}  // namespace

float DotsDistance(std::int32_t layout, std::int32_t count, float u, float v)
{
    const float x = static_cast<float>(count) * u;
    if (layout == 1)
        return StaggeredDistance(count, x, v);
    if (layout == 2) {
        const std::int32_t m = std::max(RoundToInt(static_cast<float>(count) * kHexSpacing / 3.0f), 1);
        const HexCell c = HexLatticeNearest(kHexSpacing * x, static_cast<float>(3 * m) * v);
        return std::sqrt(c.dx * c.dx + c.dy * c.dy) / kHexSpacing;
    }
    const float dx = Fraction(x) - 0.5f;
    const float dy = Fraction(static_cast<float>(count) * v) - 0.5f;
    return std::sqrt(dx * dx + dy * dy);
}

std::unique_ptr<ProceduralTexture> MakeDotsTexture() { return std::make_unique<DotsTexture>(); }
std::unique_ptr<ProceduralTexture> MakeKnurlTexture() { return std::make_unique<KnurlTexture>(); }
std::unique_ptr<ProceduralTexture> MakeTreadPlateTexture() { return std::make_unique<TreadPlateTexture>(); }

}  // namespace grainforge::mesh::procedural
