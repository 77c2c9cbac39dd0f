// Tileable noise: the lattice hash is Bob Jenkins' lookup3 (2006); the gradient noise follows
// Perlin's "Improving noise" (SIGGRAPH 2002) with its quintic fade; the cellular functions
// are Worley's "A cellular texture basis function" (SIGGRAPH 1996); the Penrose subdivision
// is Robinson's triangle decomposition with the golden ratio.
#include "engine/textures/noise_kernels.h"

#include <algorithm>
#include <cmath>

namespace grainforge::mesh::procedural {

namespace {

// Lattice indices are held within this bound so that index arithmetic never overflows.
constexpr float kLatticeLimit = 1073741824.0f;  // 2^30
constexpr std::int32_t kPeriodLimit = 1 << 30;
constexpr float kFarDistance = 3.4028235e38f;
constexpr float kPi = 3.14159265358979f;
constexpr float kGoldenInverse = 0.618034f;  // one over the golden ratio
constexpr float kGradientScale = 0.6616f;

// floor(v) as a lattice index (NaN gives the lower bound).
std::int32_t FloorIndex(float v)
{
    const float f = std::floor(v);
    if (!(f > -kLatticeLimit))
        return -(1 << 30);
    if (!(f < kLatticeLimit))
        return 1 << 30;
    return static_cast<std::int32_t>(f);
}

// Floored modulo: the remainder, plus the period when it is negative. period >= 1.
std::int32_t Wrap(std::int32_t i, std::int32_t period)
{
    const std::int32_t r = i % period;
    return r < 0 ? r + period : r;
}

// period x factor, held within the index bound.
std::int32_t ScalePeriod(std::int32_t period, std::int32_t factor)
{
    return static_cast<std::int32_t>(std::min<std::int64_t>(std::int64_t{period} * factor, kPeriodLimit));
}

// v limited to lo..hi; NaN gives lo.
float ClampRange(float v, float lo, float hi)
{
    if (!(v >= lo))
        return lo;
    return v > hi ? hi : v;
}

float SmoothStep01(float t) { return t * t * (3.0f - 2.0f * t); }
float Fade(float t) { return t * t * t * (t * (6.0f * t - 15.0f) + 10.0f); }
float FadeDerivative(float t) { return 30.0f * t * t * (t - 1.0f) * (t - 1.0f); }
float Lerp(float a, float b, float t) { return a + (b - a) * t; }

float UnitAt(std::int32_t x, std::int32_t y, std::uint32_t seed)
{
    return HashToUnit(TileHash(static_cast<std::uint32_t>(x), static_cast<std::uint32_t>(y), seed));
}

// The gradient of a lattice corner from its hash.
void CornerGradient(std::uint32_t hash, float& gx, float& gy)
{
    const float e1 = (hash & 1u) != 0 ? -1.0f : 1.0f;
    const float e2 = (hash & 2u) != 0 ? -2.0f : 2.0f;
    if ((hash & 7u) < 4u) {
        gx = e1;
        gy = e2;
    } else {
        gx = e2;
        gy = e1;
    }
}

// Gradient noise and, when asked, its derivatives (unscaled by the caller's frequency).
float GradientNoise(float x, float y, std::int32_t periodX, std::int32_t periodY, std::uint32_t seed,
                    float* derivativeX, float* derivativeY)
{
    periodX = std::max(periodX, 1);
    periodY = std::max(periodY, 1);
    const std::int32_t ix = FloorIndex(x);
    const std::int32_t iy = FloorIndex(y);
    const float fx = x - static_cast<float>(ix);
    const float fy = y - static_cast<float>(iy);
    const std::int32_t x0 = Wrap(ix, periodX), x1 = Wrap(ix + 1, periodX);
    const std::int32_t y0 = Wrap(iy, periodY), y1 = Wrap(iy + 1, periodY);
    float g00x, g00y, g10x, g10y, g01x, g01y, g11x, g11y;
    CornerGradient(TileHash(static_cast<std::uint32_t>(x0), static_cast<std::uint32_t>(y0), seed), g00x, g00y);
    CornerGradient(TileHash(static_cast<std::uint32_t>(x1), static_cast<std::uint32_t>(y0), seed), g10x, g10y);
    CornerGradient(TileHash(static_cast<std::uint32_t>(x0), static_cast<std::uint32_t>(y1), seed), g01x, g01y);
    CornerGradient(TileHash(static_cast<std::uint32_t>(x1), static_cast<std::uint32_t>(y1), seed), g11x, g11y);
    const float n00 = g00x * fx + g00y * fy;
    const float n10 = g10x * (fx - 1.0f) + g10y * fy;
    const float n01 = g01x * fx + g01y * (fy - 1.0f);
    const float n11 = g11x * (fx - 1.0f) + g11y * (fy - 1.0f);
    const float u = Fade(fx);
    const float v = Fade(fy);
    const float nx0 = Lerp(n00, n10, u);
    const float nx1 = Lerp(n01, n11, u);
    if (derivativeX != nullptr) {
        const float du = FadeDerivative(fx);
        const float dv = FadeDerivative(fy);
        const float dx0 = g00x + (g10x - g00x) * u + (n10 - n00) * du;
        const float dx1 = g01x + (g11x - g01x) * u + (n11 - n01) * du;
        const float dy0 = g00y + (g10y - g00y) * u;
        const float dy1 = g01y + (g11y - g01y) * u;
        *derivativeX = Lerp(dx0, dx1, v) * kGradientScale;
        *derivativeY = (Lerp(dy0, dy1, v) + (nx1 - nx0) * dv) * kGradientScale;
    }
    return Lerp(nx0, nx1, v) * kGradientScale;
}

float Fractal(float x, float y, std::int32_t periodX, std::int32_t periodY, float octaves, float gain,
              std::uint32_t seed, float* derivativeX, float* derivativeY)
{
    octaves = ClampRange(octaves, 0.0f, 15.0f);
    gain = ClampRange(gain, 0.0f, 1.0f);
    const float whole = std::trunc(octaves);
    const std::int32_t layers = static_cast<std::int32_t>(whole) + 1;
    const bool derivatives = derivativeX != nullptr;
    float total = 0.0f, weight = 0.0f, amplitude = 1.0f;
    float sumX = 0.0f, sumY = 0.0f;
    const auto layer = [&](std::int32_t k, float& dx, float& dy) {
        const float frequency = static_cast<float>(1 << k);
        const float n = GradientNoise(x * frequency, y * frequency, ScalePeriod(periodX, 1 << k),
                                      ScalePeriod(periodY, 1 << k), seed, derivatives ? &dx : nullptr,
                                      derivatives ? &dy : nullptr);
        dx *= frequency;
        dy *= frequency;
        return n;
    };
    for (std::int32_t k = 0; k < layers; ++k) {
        float dx = 0.0f, dy = 0.0f;
        const float n = layer(k, dx, dy);
        total += amplitude * n;
        sumX += dx * amplitude;
        sumY += dy * amplitude;
        weight += amplitude;
        amplitude *= gain;
    }
    const float r0 = 0.5f * total / weight + 0.5f;
    const float phi = octaves - whole;
    if (derivatives) {
        *derivativeX = 0.5f * sumX / weight;
        *derivativeY = 0.5f * sumY / weight;
    }
    if (!(phi > 0.0f))
        return r0;
    float dx = 0.0f, dy = 0.0f;
    const float n = layer(layers, dx, dy);
    const float r1 = 0.5f * (total + amplitude * n) / (weight + amplitude) + 0.5f;
    if (derivatives) {
        const float x1 = 0.5f * (sumX + dx * amplitude) / (weight + amplitude);
        const float y1 = 0.5f * (sumY + dy * amplitude) / (weight + amplitude);
        *derivativeX = *derivativeX + (x1 - *derivativeX) * phi;
        *derivativeY = *derivativeY + (y1 - *derivativeY) * phi;
    }
    return r0 + (r1 - r0) * phi;
}

float MetricLength(float dx, float dy, std::int32_t metric)
{
    switch (metric) {
    case kManhattan: return std::fabs(dx) + std::fabs(dy);
    case kChebyshev: return std::max(std::fabs(dx), std::fabs(dy));
    default: return std::sqrt(dx * dx + dy * dy);
    }
}

// Distance from the local point to the nearest cell border: the bisectors between the nearest
// feature point and every other, in the Euclidean metric.
float BorderDistance(const FeaturePoint (&offsets)[9])
{
    std::size_t nearest = 0;
    float best = kFarDistance;
    for (std::size_t i = 0; i < 9; ++i) {
        const float d2 = offsets[i].x * offsets[i].x + offsets[i].y * offsets[i].y;
        if (d2 < best) {
            best = d2;
            nearest = i;
        }
    }
    const FeaturePoint r1 = offsets[nearest];
    float border = kFarDistance;
    for (const FeaturePoint& ri : offsets) {
        const float ex = ri.x - r1.x;
        const float ey = ri.y - r1.y;
        const float e2 = ex * ex + ey * ey;
        if (!(e2 > 0.0001f))
            continue;
        const float length = std::sqrt(e2);
        const float distance = (ri.x + r1.x) * 0.5f * (ex / length) + (ri.y + r1.y) * 0.5f * (ey / length);
        border = std::min(border, distance);
    }
    return border;
}

// Raises to a power; whole exponents 1..16 by repeated multiplication.
float PowerOf(float base, float exponent)
{
    const float whole = std::round(exponent);
    if (whole == exponent && whole >= 1.0f && whole <= 16.0f) {
        float result = base;
        for (int i = 1; i < static_cast<int>(whole); ++i)
            result *= base;
        return result;
    }
    return std::pow(base, exponent);
}

// Signed side of X relative to the directed line P -> Q (positive on the left).
float Side(Vec2f p, Vec2f q, Vec2f x) { return (q.x - p.x) * (x.y - p.y) - (q.y - p.y) * (x.x - p.x); }
Vec2f Add(Vec2f a, Vec2f b) { return {a.x + b.x, a.y + b.y}; }
Vec2f Sub(Vec2f a, Vec2f b) { return {a.x - b.x, a.y - b.y}; }
Vec2f Scale(Vec2f a, float s) { return {a.x * s, a.y * s}; }
float Cross(Vec2f a, Vec2f b) { return a.x * b.y - a.y * b.x; }
float Dot(Vec2f a, Vec2f b) { return a.x * b.x + a.y * b.y; }
float Length(Vec2f a) { return std::sqrt(a.x * a.x + a.y * a.y); }
Vec2f Apply(const Mat2f& m, Vec2f v) { return {m.xx * v.x + m.xy * v.y, m.yx * v.x + m.yy * v.y}; }
Mat2f Multiply(const Mat2f& a, const Mat2f& b)
{
    return {a.xx * b.xx + a.xy * b.yx, a.xx * b.xy + a.xy * b.yy, a.yx * b.xx + a.yy * b.yx, a.yx * b.xy + a.yy * b.yy};
}

// Where the line through `origin` along `direction` crosses the line through `lineOrigin`
// along `lineDirection`; false when they are parallel.
bool CrossLines(Vec2f origin, Vec2f direction, Vec2f lineOrigin, Vec2f lineDirection, Vec2f& crossing)
{
    const float determinant = Cross(direction, lineDirection);
    if (std::fabs(determinant) < 1e-20f)
        return false;
    const float t = Cross(Sub(lineOrigin, origin), lineDirection) / determinant;
    crossing = Add(origin, Scale(direction, t));
    return true;
}

// Height at `at` of the plane through three points with heights; `fallback` when they are
// collinear.
float PlaneHeight(Vec2f p1, float h1, Vec2f p2, float h2, Vec2f p3, float h3, Vec2f at, float fallback)
{
    const Vec2f e1 = Sub(p2, p1);
    const Vec2f e2 = Sub(p3, p1);
    const float area = Cross(e1, e2);
    if (std::fabs(area) < 1e-12f)
        return fallback;
    const Vec2f d = Sub(at, p1);
    const float b1 = Cross(d, e2) / area;
    const float b2 = Cross(e1, d) / area;
    return h1 + b1 * (h2 - h1) + b2 * (h3 - h1);
}

struct RobinsonTriangle {
    Vec2f a, b, c;
    bool acute = true;
};

// One subdivision step, keeping the child triangle that holds p.
void Subdivide(RobinsonTriangle& t, Vec2f p)
{
    if (t.acute) {
        const Vec2f pp = Add(t.a, Scale(Sub(t.b, t.a), kGoldenInverse));
        const Vec2f q = Add(t.c, Scale(Sub(t.a, t.c), kGoldenInverse));
        if (Side(pp, q, p) * Side(pp, q, t.a) < 0.0f) {
            if (Side(pp, t.c, p) * Side(pp, t.c, t.b) >= 0.0f)
                t = {t.c, pp, t.b, true};
            else
                t = {t.c, pp, q, true};
        } else {
            t = {t.a, q, pp, false};
        }
    } else {
        const Vec2f r = Add(t.a, Scale(Sub(t.c, t.a), kGoldenInverse));
        if (Side(t.b, r, p) * Side(t.b, r, t.c) < 0.0f)
            t = {t.a, t.b, r, true};
        else
            t = {t.c, r, t.b, false};
    }
}

// The height of the tile (corners carried back to the unfolded plane) at the unfolded point.
float TileHeight(const RobinsonTriangle& folded, const Mat2f& back, Vec2f point, float groove, float pyramid,
                 float fold)
{
    const Vec2f a = Apply(back, folded.a);
    const Vec2f b = Apply(back, folded.b);
    const Vec2f c = Apply(back, folded.c);
    const Vec2f m = Add(a, Scale(Sub(b, a), kGoldenInverse));
    const float size = Length(Sub(a, c));
    if (size == 0.0f)
        return 0.0f;
    const Vec2f e = Side(c, m, point) * Side(c, m, a) >= 0.0f ? a : b;
    const float s = Side(c, m, e) < 0.0f ? -1.0f : 1.0f;
    const float g = groove * size;
    const float lift = fold * size;
    const float hE = folded.acute ? lift : 0.0f;
    const float hM = hE;
    const float hC = folded.acute ? 0.0f : lift;

    // The groove's inner line O, parallel to the edge E-C at distance g on the side s.
    const Vec2f edge = Sub(c, e);
    const float edgeLength = Length(edge);
    Vec2f inner = e;
    float pointDistance = 0.0f;
    if (edgeLength > 0.0f) {
        const Vec2f normal = {(e.y - c.y) / edgeLength, (c.x - e.x) / edgeLength};
        inner = Add(e, Scale(normal, g * s));
        pointDistance = Dot(Sub(point, e), normal);
    }
    Vec2f i1 = e;
    float h1 = hE + g;
    if (CrossLines(e, Sub(m, e), inner, edge, i1))
        h1 = hM + g;
    Vec2f i2 = c;
    float h2 = hC + g;
    if (CrossLines(c, Sub(m, c), inner, edge, i2)) {
        const Vec2f cm = Sub(m, c);
        const float cm2 = Dot(cm, cm);
        const float t = cm2 > 0.0f ? Dot(Sub(i2, c), cm) / cm2 : 0.0f;
        h2 = hC + (hM - hC) * t + g;
    }
    if (pointDistance * s < g)
        return PlaneHeight(e, hE, c, hC, i1, h1, point, hE) / size;
    return PlaneHeight(i1, h1, i2, h2, m, hM + g + pyramid * size, point, h1) / size;
}

}  // namespace

const std::vector<std::string>& WaveFormNames()
{
    static const std::vector<std::string> names = {"Sine", "Saw", "Triangle"};
    return names;
}

FeaturePoint CellFeaturePoint(std::int32_t cx, std::int32_t cy, std::int32_t dx, std::int32_t dy, std::int32_t period,
                              float jitter, std::uint32_t seed)
{
    std::int32_t x = 0;
    std::int32_t y = 0;
    if (period >= 1) {
        x = Wrap(cx + dx, period);
        y = Wrap(cy + dy, period);
    }
    return {static_cast<float>(dx) + jitter * UnitAt(x, y, seed),
            static_cast<float>(dy) + jitter * UnitAt(y, x, seed ^ kFeatureSecondSalt)};
}

float PeriodicValueNoise(float x, float y, std::int32_t periodX, std::int32_t periodY, std::uint32_t seed)
{
    periodX = std::max(periodX, 1);
    periodY = std::max(periodY, 1);
    const std::int32_t ix = FloorIndex(x);
    const std::int32_t iy = FloorIndex(y);
    const float fx = x - static_cast<float>(ix);
    const float fy = y - static_cast<float>(iy);
    const float sx = SmoothStep01(fx);
    const float sy = SmoothStep01(fy);
    const std::int32_t x0 = Wrap(ix, periodX), x1 = Wrap(ix + 1, periodX);
    const std::int32_t y0 = Wrap(iy, periodY), y1 = Wrap(iy + 1, periodY);
    const float bottom = Lerp(UnitAt(x0, y0, seed), UnitAt(x1, y0, seed), sx);
    const float top = Lerp(UnitAt(x0, y1, seed), UnitAt(x1, y1, seed), sx);
    return Lerp(bottom, top, sy);
}

float PeriodicGradientNoise(float x, float y, std::int32_t periodX, std::int32_t periodY, std::uint32_t seed)
{
    return GradientNoise(x, y, periodX, periodY, seed, nullptr, nullptr);
}

float PeriodicGradientNoiseDerivatives(float x, float y, std::int32_t periodX, std::int32_t periodY,
                                       std::uint32_t seed, float& derivativeX, float& derivativeY)
{
    return GradientNoise(x, y, periodX, periodY, seed, &derivativeX, &derivativeY);
}

float FractalNoise(float x, float y, std::int32_t periodX, std::int32_t periodY, float octaves, float gain,
                   std::uint32_t seed)
{
    return Fractal(x, y, periodX, periodY, octaves, gain, seed, nullptr, nullptr);
}

float FractalNoiseDerivatives(float x, float y, std::int32_t periodX, std::int32_t periodY, float octaves, float gain,
                              std::uint32_t seed, float& derivativeX, float& derivativeY)
{
    return Fractal(x, y, periodX, periodY, octaves, gain, seed, &derivativeX, &derivativeY);
}

float CellularDistance(float x, float y, std::int32_t period, float jitter, std::int32_t metric, std::int32_t output,
                       std::uint32_t seed)
{
    period = std::max(period, 3);
    jitter = ClampRange(jitter, 0.0f, 1.0f);
    const std::int32_t cx = FloorIndex(x);
    const std::int32_t cy = FloorIndex(y);
    const float lx = x - static_cast<float>(cx);
    const float ly = y - static_cast<float>(cy);
    FeaturePoint offsets[9];
    std::size_t i = 0;
    for (std::int32_t dy = -1; dy <= 1; ++dy)
        for (std::int32_t dx = -1; dx <= 1; ++dx, ++i) {
            const FeaturePoint p = CellFeaturePoint(cx, cy, dx, dy, period, jitter, seed);
            offsets[i] = {p.x - lx, p.y - ly};
        }
    const float m = 0.5f * jitter + 0.5f;
    if (output == kBorderDistance)
        return Clamp01(BorderDistance(offsets) / m);
    float f1 = kFarDistance;
    float f2 = kFarDistance;
    for (const FeaturePoint& r : offsets) {
        const float d = MetricLength(r.x, r.y, metric);
        if (d < f1) {
            f2 = f1;
            f1 = d;
        } else {
            f2 = std::min(f2, d);
        }
    }
    const float normaliser = MetricLength(m, m, metric);
    if (output == kSecondMinusNearest)
        return Clamp01((f2 - f1) / normaliser);
    if (output == kSquaredDifference)
        return Clamp01(f2 * f2 - f1 * f1);
    return Clamp01(f1 / normaliser);
}

float CellValue(float x, float y, std::int32_t period, float jitter, float blend, std::uint32_t seed)
{
    period = std::max(period, 1);
    jitter = ClampRange(jitter, 0.0f, 1.0f);
    blend = ClampRange(blend, 0.0f, 1.0f);
    const std::int32_t cx = FloorIndex(x);
    const std::int32_t cy = FloorIndex(y);
    const float lx = x - static_cast<float>(cx);
    const float ly = y - static_cast<float>(cy);
    float f1 = kFarDistance, f2 = kFarDistance;
    float v1 = 0.0f, v2 = 0.0f;
    bool second = false;
    for (std::int32_t dy = -1; dy <= 1; ++dy)
        for (std::int32_t dx = -1; dx <= 1; ++dx) {
            const FeaturePoint p = CellFeaturePoint(cx, cy, dx, dy, period, jitter, seed);
            const float ox = p.x - lx;
            const float oy = p.y - ly;
            const float d = ox * ox + oy * oy;
            const float value = UnitAt(Wrap(cx + dx, period), Wrap(cy + dy, period), seed ^ kCellValueSalt);
            if (d < f1) {
                second = f1 < kFarDistance;
                f2 = f1;
                v2 = v1;
                f1 = d;
                v1 = value;
            } else if (d < f2) {
                second = true;
                f2 = d;
                v2 = value;
            }
        }
    if (blend == 0.0f || !second)
        return v1;
    const float t = ClampRange((std::sqrt(f2) - std::sqrt(f1)) / (0.5f * blend), 0.0f, 1.0f);
    const float s = SmoothStep01(t);
    const float mid = (v1 + v2) * 0.5f;
    return mid + (v1 - mid) * s;
}

float LatticeContrast(std::int32_t ix, std::int32_t iy, std::int32_t period, std::uint32_t seed)
{
    const std::uint32_t salted = seed ^ kLatticeContrastSalt;
    const auto unit = [&](std::int32_t i, std::int32_t j) {
        return period >= 1 ? UnitAt(Wrap(i, period), Wrap(j, period), salted) : UnitAt(0, 0, salted);
    };
    float sum = 0.0f;
    for (std::int32_t j = iy - 1; j <= iy + 1; ++j)
        for (std::int32_t i = ix - 1; i <= ix + 1; ++i)
            sum += unit(i, j);
    const float mean = sum / 9.0f;
    const float v = (mean - unit(ix, iy)) * 1.05f + 0.5f;
    if (v < 0.0f)
        return -v;
    if (v > 1.0f)
        return 2.0f - v;
    return v;
}

float SmoothLatticeContrast(float x, float y, std::int32_t period, float softness, std::uint32_t seed)
{
    // The contrast of a point against its eight neighbours needs a lattice of at least 3. A tile
    // of 1 or 2 cells gets finer cells (3 and 4 per tile) rather than a longer period, so the
    // field still repeats with the tile; raising the period alone left a step on its edges.
    if (period == 1 || period == 2) {
        const std::int32_t finer = period == 1 ? 3 : 2;
        x *= static_cast<float>(finer);
        y *= static_cast<float>(finer);
        period *= finer;
    }
    period = std::max(period, 3);
    softness = ClampRange(softness, 0.0f, 1.0f);
    const std::int32_t ix = FloorIndex(x);
    const std::int32_t iy = FloorIndex(y);
    const float fx = x - static_cast<float>(ix);
    const float fy = y - static_cast<float>(iy);
    const auto weight = [softness](float fraction) {
        if (softness == 0.0f)
            return fraction < 0.5f ? 0.0f : 1.0f;
        return SmoothStep01(ClampRange((fraction - 0.5f) / softness + 0.5f, 0.0f, 1.0f));
    };
    const float wx = weight(fx);
    const float wy = weight(fy);
    const float bottom = Lerp(LatticeContrast(ix, iy, period, seed), LatticeContrast(ix + 1, iy, period, seed), wx);
    const float top = Lerp(LatticeContrast(ix, iy + 1, period, seed), LatticeContrast(ix + 1, iy + 1, period, seed), wx);
    return Lerp(bottom, top, wy);
}

float SmoothNearestDistance(float x, float y, std::int32_t period, float exponent, float jitter, std::uint32_t seed)
{
    period = std::max(period, 3);
    exponent = ClampRange(exponent, 0.5f, 16.0f);
    jitter = ClampRange(jitter, 0.0f, 1.0f);
    const float radius = std::min(0.5f * static_cast<float>(period), 2.0f);
    const float radius2 = radius * radius;
    const std::int32_t cx = FloorIndex(x);
    const std::int32_t cy = FloorIndex(y);
    const float lx = x - static_cast<float>(cx);
    const float ly = y - static_cast<float>(cy);
    float sum = 0.0f;
    for (std::int32_t dy = -2; dy <= 2; ++dy)
        for (std::int32_t dx = -2; dx <= 2; ++dx) {
            const FeaturePoint p = CellFeaturePoint(cx, cy, dx, dy, period, jitter, seed);
            const float ox = p.x - lx;
            const float oy = p.y - ly;
            const float d2 = std::max(ox * ox + oy * oy, 0.0001f);
            if (d2 < radius2) {
                const float w = 1.0f - d2 / radius2;
                sum += w * w * w / PowerOf(d2, exponent);
            }
        }
    if (!(sum > 0.0f))
        return 0.0f;
    return std::pow(1.0f / sum, 0.5f / exponent);
}

float WaveProfile(float t, std::int32_t kind)
{
    if (kind == 1)
        return t - std::floor(t);
    if (kind == 2)
        return 2.0f * std::fabs(t - std::floor(t + 0.5f));
    return 0.5f * std::sin(2.0f * kPi * t - kPi / 2.0f) + 0.5f;
}

BrickSample BrickLattice(float x, float y, float brickWidth, float brickHeight, float mortarHalfWidth,
                         float smoothness, float bevel, float rowOffset, std::int32_t offsetPeriod,
                         std::int32_t rowPeriod, std::int32_t columnPeriod, std::uint32_t seed)
{
    const float w = std::max(brickWidth, 0.000001f);
    const float h = std::max(brickHeight, 0.000001f);
    offsetPeriod = std::max(offsetPeriod, 1);
    rowPeriod = std::max(rowPeriod, 1);
    columnPeriod = std::max(columnPeriod, 1);
    smoothness = ClampRange(smoothness, 0.0f, 1.0f);
    bevel = std::max(bevel, 0.0f);

    const std::int32_t row = FloorIndex(y / h);
    const float shifted = Wrap(row, offsetPeriod) == 0 ? x + rowOffset * w : x;
    const std::int32_t column = FloorIndex(shifted / w);
    const float lx = shifted - static_cast<float>(column) * w;
    const float ly = y - static_cast<float>(row) * h;

    BrickSample sample;
    sample.value = UnitAt(Wrap(row, rowPeriod), Wrap(column, columnPeriod), seed);
    // Rounding can put a point a hair outside its own brick; it is then on the edge.
    const float d = std::max(std::min({lx, ly, w - lx, h - ly}), 0.0f);
    const float outer = bevel + mortarHalfWidth;
    const float inner = (1.0f - smoothness) * mortarHalfWidth;
    if (d >= outer) {
        sample.joint = 0.0f;
    } else if (d <= inner || outer <= inner) {
        sample.joint = 1.0f;
    } else {
        const float t = (d - inner) / (outer - inner);
        sample.joint = 1.0f - SmoothStep01(t);
    }
    return sample;
}

float Clamp01(float v)
{
    if (!std::isfinite(v))
        return 0.0f;
    return std::clamp(v, 0.0f, 1.0f);
}

float ApplyContrast(float v, float contrast) { return Clamp01((v - 0.5f) * contrast + 0.5f); }

float QuantizeLevels(float v, std::int32_t levels)
{
    if (levels < 2)
        return Clamp01(v);
    const float steps = static_cast<float>(levels - 1);
    return std::round(Clamp01(v) * steps) / steps;
}

Mat2f PenroseFold(Vec2f& point, Vec2f& normal)
{
    const float nx = normal.x;
    const float ny = normal.y;
    const Mat2f reflection = {1.0f - 2.0f * nx * nx, -2.0f * nx * ny, -2.0f * nx * ny, 1.0f - 2.0f * ny * ny};
    Mat2f applied;
    if (nx * point.x + ny * point.y < 0.0f) {
        point = Apply(reflection, point);
        applied = reflection;
    }
    const Vec2f next = {nx - 1.0f, ny};
    const float length = Length(next);
    if (length > 0.0f)
        normal = {next.x / length, next.y / length};
    return applied;
}

PenroseSample PenroseDescend(float x, float y, std::int32_t depth, float groove, float pyramid, float fold)
{
    constexpr float kAngle36 = 0.62831855f;
    constexpr float kAngle144 = 2.5132742f;
    const Vec2f original = {x, y};
    Vec2f p = original;
    Vec2f first = {1.0f, 0.0f};
    Mat2f back = PenroseFold(p, first);
    Vec2f mirror = {-std::cos(kAngle144), std::sin(kAngle144)};
    for (int i = 0; i < 3; ++i)
        back = Multiply(back, PenroseFold(p, mirror));

    RobinsonTriangle triangle{{0.0f, 0.0f}, {0.0f, 1.0f}, {std::sin(kAngle36), std::cos(kAngle36)}, true};
    PenroseSample sample;
    if (Side(triangle.b, triangle.c, p) * Side(triangle.b, triangle.c, triangle.a) < 0.0f)
        return sample;
    for (std::int32_t step = 0; step < depth; ++step)
        Subdivide(triangle, p);
    sample.found = true;
    sample.acute = triangle.acute;
    sample.height = TileHeight(triangle, back, original, groove, pyramid, fold);
    return sample;
}

}  // namespace grainforge::mesh::procedural
