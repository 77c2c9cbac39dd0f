// The rhombus tiling by inflation follows the decomposition of Penrose's rhombi into Robinson
// triangles (Grunbaum and Shephard, "Tilings and Patterns", 1987); the caustics warp the
// sample point along the slope of summed gradient noise (Perlin, "Improving noise", SIGGRAPH
// 2002); the bone struts are where several points of a jittered lattice are about equally
// near, as in Worley's "A cellular texture basis function" (SIGGRAPH 1996).
#include "engine/textures/patterns_stone.h"

#include "engine/textures/noise_kernels.h"
#include "engine/textures/pattern_math_detail.h"

#include <algorithm>
#include <array>
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

// ---- Caustic Rock ----------------------------------------------------------------------------

constexpr std::int32_t kMaxRipples = 24;
constexpr std::int32_t kAdvectionPasses = 10;

// i^1.2 and 1 / i^1.9 for ripple i = 1..24, built once: the only per-ripple powers.
struct RipplePowers {
    std::array<float, kMaxRipples + 1> periodScale{};
    std::array<float, kMaxRipples + 1> amplitude{};
};

const RipplePowers& RippleTable()
{
    static const RipplePowers table = [] {
        RipplePowers powers;
        for (std::int32_t i = 1; i <= kMaxRipples; ++i) {
            powers.periodScale[i] = std::pow(static_cast<float>(i), 1.2f);
            powers.amplitude[i] = 1.0f / std::pow(static_cast<float>(i), 1.9f);
        }
        return powers;
    }();
    return table;
}

struct Ripple {
    std::int32_t period = 1;
    float periodF = 1.0f;
    float amplitude = 0.0f;
    std::uint32_t seed = 0;
};

class CausticRockTexture final : public ProceduralTexture {
public:
    const std::string& Name() const override
    {
        static const std::string name = "Caustic Rock";
        return name;
    }

    const std::vector<ParameterSpec>& PatternParameters() const override
    {
        static const std::vector<ParameterSpec> table = {
            MakeIntParameter("cells", "Cells per tile", 2, 16, 8,
                             "How many of the large pools span the tile. At least 2: periodic noise one cell across "
                             "has every lattice corner wrapped to the same one, and nearly vanishes"),
            MakeIntParameter("octaves", "Ripples", 1, 24, 8, "How many finer ripples are laid over the large ones"),
            MakeFloatParameter("focus", "Focus", 0.0f, 20.0f, 1.0f,
                               "How far the light is gathered into lines. 0 is the bare ripples; 1 is the shader; "
                               "higher is sharper and glassier",
                               0.01f),
            MakeFloatParameter("brilliance", "Brilliance", 0.0f, 4.0f, 1.3f,
                               "How hard the gathered light is brightened: high leaves thin bright lines on dark pools",
                               0.01f),
            MakeContrastParameter(),
            MakeSeedParameter(),
        };
        return table;
    }

    float Evaluate(float u, float v) const override
    {
        const std::int32_t cells = RoundedValue(*this, "cells");
        const float focus = GetValue("focus") * 0.008f / static_cast<float>(cells);
        std::array<Ripple, kMaxRipples> ripples;
        const std::int32_t count = MakeRipples(cells, ripples);
        float x = u;
        float y = v;
        for (std::int32_t pass = 0; pass < kAdvectionPasses; ++pass)
            Advect(ripples, count, focus, x, y);
        float field = 0.0f;
        for (std::int32_t i = 0; i < count; ++i) {
            const Ripple& r = ripples[i];
            float dx = 0.0f, dy = 0.0f;
            field += r.amplitude * PeriodicGradientNoiseDerivatives(r.periodF * x, r.periodF * y, r.period, r.period,
                                                                    r.seed, dx, dy);
        }
        return ApplyContrast(Clamp01(Brighten(field)), GetValue("contrast"));
    }

private:
    // The ripple list: finer periods, smaller amplitudes, a seed each. Returns how many.
    std::int32_t MakeRipples(std::int32_t cells, std::array<Ripple, kMaxRipples>& ripples) const
    {
        const RipplePowers& powers = RippleTable();
        const std::int32_t count = std::clamp(RoundedValue(*this, "octaves"), 0, kMaxRipples);
        const std::uint32_t seed = SeedValue(*this);
        for (std::int32_t i = 1; i <= count; ++i) {
            Ripple& r = ripples[i - 1];
            r.period = std::max(RoundToInt(powers.periodScale[i] * static_cast<float>(cells)), 1);
            r.periodF = static_cast<float>(r.period);
            r.amplitude = powers.amplitude[i];
            r.seed = seed + 7919u * static_cast<std::uint32_t>(i);
        }
        return count;
    }

    // One pass: the point moves down the summed ripples' slope, which gathers light into lines.
    static void Advect(const std::array<Ripple, kMaxRipples>& ripples, std::int32_t count, float focus, float& x,
                       float& y)
    {
        float slopeX = 0.0f, slopeY = 0.0f;
        for (std::int32_t i = 0; i < count; ++i) {
            const Ripple& r = ripples[i];
            float dx = 0.0f, dy = 0.0f;
            PeriodicGradientNoiseDerivatives(r.periodF * x, r.periodF * y, r.period, r.period, r.seed, dx, dy);
            slopeX += r.amplitude * dx;
            slopeY += r.amplitude * dy;
        }
        x = x - focus * slopeX;
        y = y - focus * slopeY;
    }

    // An exponential lift that leaves thin bright lines on dark pools as "brilliance" grows.
    float Brighten(float n) const
    {
        const float b = GetValue("brilliance");
        if (b >= 0.001f) {
            const float e0 = std::exp(-2.1f * b);
            return (std::exp(b * (n - 0.95f)) - e0) / (1.0f - e0);
        }
        return (n + 1.15f) / 2.1f;
    }
};

// ---- Penrose Tiles ---------------------------------------------------------------------------

constexpr float kPhi = 1.618034f;
constexpr float kPhiInverse = 0.618034f;
constexpr float kTan54 = 1.3763819f;
constexpr float kTan18 = 0.3249197f;
constexpr float kSin36 = 0.58778524f;
constexpr float kCos36 = 0.809017f;
constexpr float kSin72 = 0.95105654f;
constexpr float kCos72 = 0.309017f;

class PenroseTilesTexture final : public ProceduralTexture {
public:
    const std::string& Name() const override
    {
        static const std::string name = "Penrose Tiles";
        return name;
    }

    const std::vector<ParameterSpec>& PatternParameters() const override
    {
        static const std::vector<ParameterSpec> table = {
            MakeIntParameter("levels", "Subdivision", 3, 10, 6,
                             "How many times the root rhombus is split. Each level is 1.6 times as many tiles across: "
                             "about 8 at 5, 13 at 6, 21 at 7"),
            MakeFloatParameter("bevel", "Bevel", 0.1f, 3.0f, 1.0f,
                               "How wide the chamfer round each tile is. 1 is the shader's", 0.01f),
            MakeFloatParameter("thin", "Thin tiles sunk", 0.0f, 1.0f, 0.35f,
                               "How far the thin rhombi sit below the thick ones. 0 leaves them level; 1 sinks them to "
                               "the floor of the grooves",
                               0.01f),
            MakeContrastParameter(),
        };
        return table;
    }

    float Evaluate(float u, float v) const override
    {
        // The tile shows a 0.64-wide square about the middle of the root rhombus.
        float x = (u - 0.5f) * 0.64f + kCos36;
        float y = (v - 0.5f) * 0.64f;
        const std::int32_t kind = SubdividePenroseRhombi(x, y, RoundedValue(*this, "levels"));
        const bool thin = kind >= 2;
        float e1, e2;
        if (!thin) {
            e1 = kPhiInverse * (x - kTan54 * y);
            e2 = 1.0f - kPhiInverse * (kTan54 * y + x);
        } else {
            e1 = (kPhiInverse - kTan18 * y) - x;
            e2 = x - kTan18 * y;
        }
        const float e = std::max(std::min(e1, e2), 0.0f);
        // A steep chamfer of width 0.05 b and a gentler one out to 0.15 b; 1 on the flat top.
        const float b = GetValue("bevel");
        float h = (std::min(e, 0.15f * b) + 2.0f * std::min(e, 0.05f * b)) / (0.25f * b);
        if (thin)
            h = h * (1.0f - GetValue("thin"));
        return ApplyContrast(Clamp01(h), GetValue("contrast"));
    }
};

// ---- Flat Rock -------------------------------------------------------------------------------

// cos and sin of the wrapped cell indices (radians), for every period a table can hold.
constexpr std::int32_t kTrigTableSize = 64;

struct IndexTrig {
    std::array<float, kTrigTableSize> cosine{};
    std::array<float, kTrigTableSize> sine{};
};

const IndexTrig& IndexTrigTable()
{
    static const IndexTrig table = [] {
        IndexTrig trig;
        for (std::int32_t k = 0; k < kTrigTableSize; ++k) {
            trig.cosine[k] = std::cos(static_cast<float>(k));
            trig.sine[k] = std::sin(static_cast<float>(k));
        }
        return trig;
    }();
    return table;
}

float IndexCosine(std::int32_t k, const IndexTrig& trig)
{
    return k < kTrigTableSize ? trig.cosine[k] : std::cos(static_cast<float>(k));
}

float IndexSine(std::int32_t k, const IndexTrig& trig)
{
    return k < kTrigTableSize ? trig.sine[k] : std::sin(static_cast<float>(k));
}

// A plate cell's value: 0..1, from the cell's third hash.
float PlateValue(std::int32_t ci, std::int32_t cj, std::uint32_t seed)
{
    const float r = HashToUnit(TileHash(static_cast<std::uint32_t>(ci), static_cast<std::uint32_t>(cj), seed + 101u));
    return 0.5f * std::cos(kTwoPi * r) + 0.5f;
}

// The 5 x 5 plate cells about a point: rows floor(y) - 2 .. floor(y) + 2, columns likewise.
// Wrapped indices are found once per row and column rather than once per cell.
class PlateCells {
public:
    PlateCells(float x, float y, std::int32_t period, std::uint32_t seed)
        : trig_(IndexTrigTable()), baseX_(FloorToInt(x) - 2), baseY_(FloorToInt(y) - 2), seed_(seed)
    {
        for (std::int32_t k = 0; k < 5; ++k) {
            wrappedX_[k] = FlooredMod(baseX_ + k, period);
            wrappedY_[k] = FlooredMod(baseY_ + k, period);
        }
    }

    float PointX(std::int32_t column, std::int32_t row) const
    {
        const std::int32_t cj = wrappedY_[row];
        return static_cast<float>(baseX_ + column) + HashToUnit(TileHash(Word(wrappedX_[column]), Word(cj), seed_)) +
               0.3f * IndexCosine(cj, trig_);
    }

    float PointY(std::int32_t column, std::int32_t row) const
    {
        const std::int32_t ci = wrappedX_[column];
        return static_cast<float>(baseY_ + row) +
               HashToUnit(TileHash(Word(ci), Word(wrappedY_[row]), seed_ ^ kFeatureSecondSalt)) +
               0.3f * IndexSine(ci, trig_);
    }

    float Value(std::int32_t column, std::int32_t row) const
    {
        return PlateValue(wrappedX_[column], wrappedY_[row], seed_);
    }

    // The value of the point nearest (x, y), the first found on ties, rows outer.
    float NearestValue(float x, float y) const
    {
        float nearest2 = 3.4028235e38f;
        std::int32_t nearestColumn = 0, nearestRow = 0;
        for (std::int32_t row = 0; row < 5; ++row) {
            for (std::int32_t column = 0; column < 5; ++column) {
                const float ex = PointX(column, row) - x;
                const float ey = PointY(column, row) - y;
                const float d2 = ex * ex + ey * ey;
                if (d2 < nearest2) {
                    nearest2 = d2;
                    nearestColumn = column;
                    nearestRow = row;
                }
            }
        }
        return Value(nearestColumn, nearestRow);
    }

private:
    static std::uint32_t Word(std::int32_t index) { return static_cast<std::uint32_t>(index); }

    const IndexTrig& trig_;
    std::int32_t baseX_;
    std::int32_t baseY_;
    std::uint32_t seed_;
    std::array<std::int32_t, 5> wrappedX_{};
    std::array<std::int32_t, 5> wrappedY_{};
};

class FlatRockTexture final : public ProceduralTexture {
public:
    const std::string& Name() const override
    {
        static const std::string name = "Flat Rock";
        return name;
    }

    const std::vector<ParameterSpec>& PatternParameters() const override
    {
        static const std::vector<ParameterSpec> table = {
            MakeIntParameter("plates", "Plates per tile", 2, 32, 8, "How many plates of stone span the tile"),
            MakeIntParameter("sharpness", "Crease sharpness", 2, 32, 16,
                             "How flat each plate is and how crisp the creases between them. 16 is the shader's"),
            MakeFloatParameter("crumple", "Crumple", 0.0f, 1.0f, 1.0f,
                               "The softer surface laid over the plates. 1 is the shader's; 0 leaves bare plates",
                               0.01f),
            MakeContrastParameter(),
            MakeSeedParameter(),
        };
        return table;
    }

    float Evaluate(float u, float v) const override
    {
        const std::int32_t plates = RoundedValue(*this, "plates");
        const std::int32_t sharpness = RoundedValue(*this, "sharpness");
        const std::uint32_t s = SeedValue(*this);
        const float c = GetValue("crumple");
        const float fine = static_cast<float>(2 * plates);
        const float a = FlatRockPlates(static_cast<float>(plates) * u, static_cast<float>(plates) * v, plates,
                                       sharpness, s);
        // A softer layer at twice the scale, displaced by the plates, and a crisper one.
        const float b = FlatRockPlates(fine * u + a, fine * v + a, 2 * plates, 2, s + 17);
        const float d = FlatRockPlates(fine * u, fine * v, 2 * plates, 4, s + 31);
        const float h = (0.5f * c * d + (1.0f + c * (b - 1.0f)) * a) / (3.0f * c + 2.0f);
        return ApplyContrast(Clamp01(h), GetValue("contrast"));
    }
};

// ---- Trabecular ------------------------------------------------------------------------------

constexpr std::int32_t kMaxStrutLayers = 7;
constexpr std::int32_t kStrutColumns = 9;
constexpr std::int32_t kRoughnessOctaves = 4;
constexpr std::uint32_t kStrutLayerStep = 0x9E3779B9u;
constexpr std::uint32_t kStrutDepthSalt = 0x2545F491u;
constexpr float kNoStrut = 1e9f;

// The lattice of the 3D value noise, wrapped in x and y.
struct NoiseColumn {
    std::uint32_t x0 = 0, x1 = 0, y0 = 0, y1 = 0;  // wrapped lattice indices about the point
    float sx = 0.0f, sy = 0.0f;                   // smoothstep weights of its fractions
};

NoiseColumn MakeNoiseColumn(float x, float y, std::int32_t period)
{
    const std::int32_t ix = FloorToInt(x);
    const std::int32_t iy = FloorToInt(y);
    NoiseColumn column;
    column.sx = SmoothStep(x - static_cast<float>(ix));
    column.sy = SmoothStep(y - static_cast<float>(iy));
    column.x0 = static_cast<std::uint32_t>(FlooredMod(ix, period));
    column.x1 = static_cast<std::uint32_t>(FlooredMod(ix + 1, period));
    column.y0 = static_cast<std::uint32_t>(FlooredMod(iy, period));
    column.y1 = static_cast<std::uint32_t>(FlooredMod(iy + 1, period));
    return column;
}

// The noise's lattice word for the z index: its products and the XOR wrap at 32 bits.
std::uint32_t NoiseLayerWord(std::int32_t iz, std::uint32_t seed)
{
    return (static_cast<std::uint32_t>(iz) * kStrutLayerStep) ^ seed;
}

float Lerp(float a, float b, float t) { return a + (b - a) * t; }

// The noise blended along x, then y, in the lattice plane of one z index.
float NoisePlane(const NoiseColumn& c, std::uint32_t zWord)
{
    const auto value = [zWord](std::uint32_t a, std::uint32_t b) { return HashToUnit(TileHash(a, b, zWord)); };
    return Lerp(Lerp(value(c.x0, c.y0), value(c.x1, c.y0), c.sx), Lerp(value(c.x0, c.y1), value(c.x1, c.y1), c.sx),
                c.sy);
}

// The jittered points of the 3 x 3 columns about the sample, a few layers deep: only what the
// march needs, each point's squared horizontal distance from the sample and its depth.
struct StrutField {
    std::array<std::array<float, kStrutColumns>, kMaxStrutLayers> horizontal2{};
    std::array<std::array<float, kStrutColumns>, kMaxStrutLayers> depth{};
    std::int32_t layers = 0;
};

StrutField MakeStrutField(float x, float y, std::int32_t period, std::uint32_t seed, std::int32_t layers)
{
    StrutField field;
    field.layers = layers;
    const std::int32_t baseX = FloorToInt(x);
    const std::int32_t baseY = FloorToInt(y);
    for (std::int32_t column = 0; column < kStrutColumns; ++column) {
        const std::int32_t cx = baseX + column % 3 - 1;
        const std::int32_t cy = baseY + column / 3 - 1;
        const auto wx = static_cast<std::uint32_t>(FlooredMod(cx, period));
        const auto wy = static_cast<std::uint32_t>(FlooredMod(cy, period));
        for (std::int32_t z = 0; z < layers; ++z) {
            const std::uint32_t word = (static_cast<std::uint32_t>(z - 1) * kStrutLayerStep) ^ seed;
            const float hx = static_cast<float>(cx) + HashToUnit(TileHash(wx, wy, word)) - x;
            const float hy = static_cast<float>(cy) + HashToUnit(TileHash(wx, wy, word ^ kCellValueSalt)) - y;
            field.horizontal2[z][column] = hx * hx + hy * hy;
            field.depth[z][column] = static_cast<float>(z - 1) + HashToUnit(TileHash(wx, wy, word ^ kStrutDepthSalt));
        }
    }
    return field;
}

// Keeps the four smallest values seen, ascending. Once four small values are held most
// values fail the first test, which the branch predictor learns quickly.
struct FourSmallest {
    float s0 = kNoStrut, s1 = kNoStrut, s2 = kNoStrut, s3 = kNoStrut;

    void Add(float d2)
    {
        if (!(d2 < s3))
            return;
        if (!(d2 < s2)) {
            s3 = d2;
            return;
        }
        s3 = s2;
        if (!(d2 < s1)) {
            s2 = d2;
            return;
        }
        s2 = s1;
        if (!(d2 < s0)) {
            s1 = d2;
            return;
        }
        s1 = s0;
        s0 = d2;
    }
};

// Small near the struts, where three or four points are about equally near: from the four
// nearest points of the three layers about depth t.
float StrutDistance(const StrutField& field, float t)
{
    // The squared distances first, in a loop the compiler vectorises.
    std::array<float, 3 * kStrutColumns> squared;
    std::int32_t count = 0;
    const std::int32_t first = FloorToInt(t);
    for (std::int32_t z = std::max(first, 0); z <= first + 2 && z < field.layers; ++z) {
        const std::array<float, kStrutColumns>& horizontal2 = field.horizontal2[z];
        const std::array<float, kStrutColumns>& depth = field.depth[z];
        for (std::int32_t column = 0; column < kStrutColumns; ++column) {
            const float dz = depth[column] - t;
            squared[count + column] = horizontal2[column] + dz * dz;
        }
        count += kStrutColumns;
    }
    FourSmallest nearest;
    for (std::int32_t i = 0; i < count; ++i)
        nearest.Add(squared[i]);
    const float d0 = std::sqrt(nearest.s0);
    const float a = std::sqrt(nearest.s2) - d0;
    const float b = std::sqrt(nearest.s3) - d0;
    return a + b > 0.0f ? a * b / (a + b) : 0.0f;
}

// The strut radius along the sample's vertical ray: the thickness, varied by four octaves of
// 3D value noise when the struts are rough. The ray's x and y are fixed, so each octave's
// lattice column is found once per sample, and the blended lattice planes of the last z index
// are kept: the march and its bisection ask at many nearby depths. Results equal
// TrabecularValueNoise3's exactly.
class StrutRadius {
public:
    StrutRadius(float x, float y, std::int32_t period, std::uint32_t seed, float thickness, float roughness)
        : thickness_(thickness), roughness_(roughness)
    {
        if (roughness_ <= 0.0f)
            return;
        for (std::int32_t o = 0; o < kRoughnessOctaves; ++o) {
            Octave& octave = octaves_[o];
            octave.frequency = static_cast<float>(10 << o);
            octave.seed = seed + 1000u + static_cast<std::uint32_t>(o);
            const std::int64_t noisePeriod = std::min<std::int64_t>(std::int64_t{10 << o} * period, 1 << 30);
            octave.column = MakeNoiseColumn(octave.frequency * x, octave.frequency * y,
                                            static_cast<std::int32_t>(noisePeriod));
        }
    }

    float At(float t)
    {
        if (roughness_ <= 0.0f)
            return thickness_;
        float n = 0.0f;
        for (std::int32_t o = 0; o < kRoughnessOctaves; ++o) {
            const float weight = 1.0f / static_cast<float>(2 << o);  // 0.5^(o + 1)
            n += weight * OctaveAt(octaves_[o], octaves_[o].frequency * t);
        }
        n = n / 0.9375f;
        return ((2.0f * n - 1.0f) * roughness_ + 1.0f) * thickness_;
    }

private:
    struct Octave {
        float frequency = 0.0f;
        std::uint32_t seed = 0;
        NoiseColumn column;
        bool cached = false;
        std::int32_t cachedZ = 0;
        float near = 0.0f;  // the planes at cachedZ and cachedZ + 1
        float far = 0.0f;
    };

    static float OctaveAt(Octave& octave, float z)
    {
        const std::int32_t iz = FloorToInt(z);
        if (!octave.cached || iz != octave.cachedZ) {
            if (octave.cached && iz == octave.cachedZ + 1)
                octave.near = octave.far;
            else
                octave.near = NoisePlane(octave.column, NoiseLayerWord(iz, octave.seed));
            octave.far = NoisePlane(octave.column, NoiseLayerWord(iz + 1, octave.seed));
            octave.cached = true;
            octave.cachedZ = iz;
        }
        return Lerp(octave.near, octave.far, SmoothStep(z - static_cast<float>(iz)));
    }

    float thickness_;
    float roughness_;
    std::array<Octave, kRoughnessOctaves> octaves_{};
};

// Whether depth t at strut distance d lies inside a strut; never when d reaches the thickest
// a strut can be.
bool StrutHit(StrutRadius& radius, float maxRadius, float t, float d)
{
    if (d >= maxRadius)
        return false;
    return radius.At(t) > d;
}

class TrabecularTexture final : public ProceduralTexture {
public:
    const std::string& Name() const override
    {
        static const std::string name = "Trabecular";
        return name;
    }

    const std::vector<ParameterSpec>& PatternParameters() const override
    {
        static const std::vector<ParameterSpec> table = {
            MakeIntParameter("cells", "Cells per tile", 2, 16, 4, "How many bone cells span the tile"),
            MakeFloatParameter("thickness", "Strut thickness", 0.01f, 0.25f, 0.06f,
                               "How thick the struts are, as a share of a cell", 0.005f),
            MakeFloatParameter("depth", "Depth", 0.25f, 4.0f, 2.5f,
                               "How far down the view reaches, in cells. Struts deeper than this are not seen, and "
                               "where a ray finds none the surface drops to the floor",
                               0.05f),
            MakeFloatParameter("roughness", "Roughness", 0.0f, 1.0f, 0.5f,
                               "Pits and blobs on the struts, as the shader's spikes. 0 leaves them smooth", 0.01f),
            MakeContrastParameter(),
            MakeSeedParameter(),
        };
        return table;
    }

    float Evaluate(float u, float v) const override
    {
        const std::int32_t period = RoundedValue(*this, "cells");
        const std::uint32_t seed = SeedValue(*this);
        const float thickness = GetValue("thickness");
        const float roughness = GetValue("roughness");
        const float depth = GetValue("depth");
        const float x = static_cast<float>(period) * u;
        const float y = static_cast<float>(period) * v;
        const std::int32_t layers =
            depth <= 4.0f ? static_cast<std::int32_t>(std::ceil(std::max(depth, 0.0f))) + 3 : kMaxStrutLayers;
        const StrutField field = MakeStrutField(x, y, period, seed, layers);
        StrutRadius radius(x, y, period, seed, thickness, roughness);
        const float hit = MarchToStrut(field, radius, (roughness + 1.0f) * thickness, roughness, depth);
        if (hit < 0.0f)
            return 0.0f;  // the floor, whatever the contrast
        return ApplyContrast(Clamp01(1.0f - hit / depth), GetValue("contrast"));
    }

private:
    // Marches down from the surface; returns the depth of the first strut, or -1 when there is
    // none within `depth`. Steps by half the clearance to the thickest possible strut, finely
    // inside that clearance, and refines a hit by bisection from the last miss.
    static float MarchToStrut(const StrutField& field, StrutRadius& radius, float maxRadius, float roughness,
                              float depth)
    {
        const float leastStep = roughness > 0.0f ? 0.003f : 0.0001f;
        float t = 0.0f;
        float miss = 0.0f;
        while (t < depth) {
            const float d = StrutDistance(field, t);
            if (StrutHit(radius, maxRadius, t, d)) {
                if (t > 0.0f) {
                    for (int step = 0; step < 10; ++step) {
                        const float mid = (miss + t) / 2.0f;
                        if (StrutHit(radius, maxRadius, mid, StrutDistance(field, mid)))
                            t = mid;
                        else
                            miss = mid;
                    }
                }
                return t;
            }
            const float step = d <= maxRadius ? 0.003f : std::max((d - maxRadius) / 2.0f, leastStep);
            miss = t;
            // Within the table's depths every step moves t; this only stops a march that a
            // depth beyond them (or a non-finite clearance) would never end.
            if (!(t + step > t))
                break;
            t = t + step;
        }
        return -1.0f;
    }
};

}  // namespace

std::int32_t SubdividePenroseRhombi(float& x, float& y, std::int32_t levels)
{
    std::int32_t kind = 0;
    if (y < 0.0f) {
        y = -y;
        kind = 1;
    }
    // Each level replaces the tile by the child that holds the point, in the child's frame at
    // 1 / phi of the size, then scales by phi so that every frame has side 1. A tile is either
    // thin or thick within one level: a thin tile's thick child waits for the next level.
    for (std::int32_t level = 0; level < levels; ++level) {
        if (kind >= 2) {
            if (kTan54 * y - x > 0.0f) {
                kind -= 2;
                const float nx = kCos72 * x + kSin72 * y;
                const float ny = kSin72 * x - kCos72 * y;
                x = nx;
                y = ny;
            } else {
                const float t = x - kPhiInverse;
                const float nx = kSin72 * y - kCos72 * t;
                const float ny = -kSin72 * t - kCos72 * y;
                x = nx;
                y = ny;
            }
        } else if (1.0f - kTan54 * y - x > 0.0f) {
            kind = 1 - kind;
            x = 1.0f - x;
        } else if (1.0f - kTan18 * y - x > 0.0f) {
            const float t = x - kCos36;
            const float w = y - kSin36;
            kind = 3 - kind;
            const float nx = -kCos36 * t - kSin36 * w;
            const float ny = kSin36 * t - kCos36 * w;
            x = nx;
            y = ny;
        } else {
            const float t = x - kPhi;
            const float nx = kSin36 * y - kCos36 * t;
            const float ny = -kSin36 * t - kCos36 * y;
            x = nx;
            y = ny;
        }
        x = x * kPhi;
        y = y * kPhi;
    }
    return kind;
}

float FlatRockPlates(float x, float y, std::int32_t period, std::int32_t sharpness, std::uint32_t seed)
{
    const PlateCells cells(x, y, period, seed);
    // With sharpness 0 every weight is 1, even a cell or more away.
    const bool distantWeighNothing = sharpness > 0;
    double weightSum = 0.0;
    double valueSum = 0.0;
    for (std::int32_t row = 0; row < 5; ++row) {
        for (std::int32_t column = 0; column < 5; ++column) {
            // A point a cell or more away along either axis has weight 0 and adds nothing to
            // either sum, so it is left before its second hash and its value's cosine.
            const float ex = cells.PointX(column, row) - x;
            if (distantWeighNothing && !(std::fabs(ex) < 1.0f))
                continue;
            const float ey = cells.PointY(column, row) - y;
            if (distantWeighNothing && !(std::fabs(ey) < 1.0f))
                continue;
            const double base = static_cast<double>(SmoothStep(1.0f - std::fabs(ex))) *
                                static_cast<double>(SmoothStep(1.0f - std::fabs(ey)));
            double weight = 1.0;
            for (std::int32_t k = 0; k < sharpness; ++k)
                weight *= base;
            if (weight > 0.0) {
                weightSum += weight;
                valueSum += weight * static_cast<double>(cells.Value(column, row));
            }
        }
    }
    double r;
    if (weightSum > 1e-300)
        r = std::max(valueSum / weightSum, 0.0);
    else
        r = std::max(static_cast<double>(cells.NearestValue(x, y)), 0.0);
    return static_cast<float>(2.0 * std::sqrt(r));
}

float TrabecularValueNoise3(float x, float y, float z, std::int32_t period, std::uint32_t seed)
{
    const NoiseColumn column = MakeNoiseColumn(x, y, period);
    const std::int32_t iz = FloorToInt(z);
    const float near = NoisePlane(column, NoiseLayerWord(iz, seed));
    const float far = NoisePlane(column, NoiseLayerWord(iz + 1, seed));
    return Lerp(near, far, SmoothStep(z - static_cast<float>(iz)));
}

std::unique_ptr<ProceduralTexture> MakeCausticRockTexture() { return std::make_unique<CausticRockTexture>(); }
std::unique_ptr<ProceduralTexture> MakePenroseTilesTexture() { return std::make_unique<PenroseTilesTexture>(); }
std::unique_ptr<ProceduralTexture> MakeFlatRockTexture() { return std::make_unique<FlatRockTexture>(); }
std::unique_ptr<ProceduralTexture> MakeTrabecularTexture() { return std::make_unique<TrabecularTexture>(); }

}  // namespace grainforge::mesh::procedural
