// The pure functions the procedural patterns are built from: a lattice hash, value and
// gradient noise, fractal sums, cellular (feature-point) functions, a lattice contrast field,
// a smooth nearest-distance field, wave shapes, a brick lattice, clamps, and the folding and
// subdivision functions of the Penrose pattern.
//
// Tiling is a property of these kernels. A pattern works in tile units (0 to 1 across a
// tile), multiplies its coordinates by a whole number of lattice cells per tile and passes
// that number as the period: every kernel reduces each integer lattice index into
// 0 .. period - 1 (a floored modulo) before hashing it, so its output repeats exactly every
// `period` cells and the tile's edges meet without a seam. Fractal sums double the period
// with the frequency for each finer layer. The Penrose functions take no period: that
// tiling never repeats.
//
// Every kernel is a pure function of its arguments (32-bit floats, 32-bit signed lattice
// indices and periods, an unsigned 32-bit seed; hash words wrap modulo 2^32), allocates
// nothing and may run on any number of threads at once. Coordinates beyond +-2^30 lattice
// cells are held at that bound.
#pragma once

#include <bit>
#include <cstdint>
#include <string>
#include <vector>

namespace grainforge::mesh::procedural {

// The wave-shape names in index order ("Sine", "Saw", "Triangle"): the kind taken by
// WaveProfile and the choices of the patterns' "profile" parameters. Built once, on first use.
const std::vector<std::string>& WaveFormNames();

// ---- Lattice hash ------------------------------------------------------------------------

// The final mix of the published lookup3 hash.
constexpr void Lookup3FinalMix(std::uint32_t& a, std::uint32_t& b, std::uint32_t& c)
{
    c ^= b; c -= std::rotl(b, 14);
    a ^= c; a -= std::rotl(c, 11);
    b ^= a; b -= std::rotl(a, 25);
    c ^= b; c -= std::rotl(b, 16);
    a ^= c; a -= std::rotl(c, 4);
    b ^= a; b -= std::rotl(a, 14);
    c ^= b; c -= std::rotl(b, 24);
}

// lookup3's word hash of the three words (x, y, seed) with initial value 13.
constexpr std::uint32_t TileHash(std::uint32_t x, std::uint32_t y, std::uint32_t seed)
{
    constexpr std::uint32_t kStart = 0xDEADBEEFu + (3u << 2) + 13u;  // 0xDEADBF08
    std::uint32_t a = x + kStart;
    std::uint32_t b = y + kStart;
    std::uint32_t c = seed + kStart;
    Lookup3FinalMix(a, b, c);
    return c;
}

// lookup3's word hash of the two words (seed, salt) with initial value 13.
constexpr std::uint32_t TileHash(std::uint32_t seed, std::uint32_t salt)
{
    constexpr std::uint32_t kStart = 0xDEADBEEFu + (2u << 2) + 13u;  // 0xDEADBF04
    std::uint32_t a = seed + kStart;
    std::uint32_t b = salt + kStart;
    std::uint32_t c = kStart;
    Lookup3FinalMix(a, b, c);
    return c;
}

// A hash as a value in 0..1: converted to a float and scaled by 2^-32 (a hash close to 2^32
// rounds to exactly 1).
constexpr float HashToUnit(std::uint32_t hash) { return static_cast<float>(hash) * 2.3283064e-10f; }

// Seeds XORed in for further independent values from one lattice point.
inline constexpr std::uint32_t kFeatureSecondSalt = 0x9E3779B9u;  // second coordinate of a feature point
inline constexpr std::uint32_t kCellValueSalt = 0x51ED270Bu;      // a cell's value
inline constexpr std::uint32_t kLatticeContrastSalt = 0x0B1E5EEDu;

// ---- Noise and cellular kernels --------------------------------------------------------------

struct FeaturePoint {
    float x = 0.0f;
    float y = 0.0f;
};

// The feature point of the neighbour cell (dx, dy) of base cell (cx, cy), relative to the base
// cell's lower corner: (dx, dy) plus jitter times two unit hashes of the wrapped cell. Jitter 0
// puts it on the neighbour's lower corner. A period below 1 hashes every cell as cell (0, 0).
FeaturePoint CellFeaturePoint(std::int32_t cx, std::int32_t cy, std::int32_t dx, std::int32_t dy, std::int32_t period,
                              float jitter, std::uint32_t seed);

// Smoothly blended unit hashes of the lattice corners: 0..1. Periods below 1 act as 1.
float PeriodicValueNoise(float x, float y, std::int32_t periodX, std::int32_t periodY, std::uint32_t seed);

// Gradient noise over the eight gradients (+-1, +-2), (+-2, +-1) with a quintic fade, scaled by
// 0.6616: about -1..1. Periods below 1 act as 1.
float PeriodicGradientNoise(float x, float y, std::int32_t periodX, std::int32_t periodY, std::uint32_t seed);

// As PeriodicGradientNoise, also giving its exact partial derivatives in x and y.
float PeriodicGradientNoiseDerivatives(float x, float y, std::int32_t periodX, std::int32_t periodY,
                                       std::uint32_t seed, float& derivativeX, float& derivativeY);

// A sum of gradient-noise layers, each at twice the frequency (and period) of the last and
// `gain` times its amplitude, mapped to about 0..1. `octaves` (0..15) counts the layers after
// the first; a fractional part blends in part of one more layer. `gain` is limited to 0..1.
float FractalNoise(float x, float y, std::int32_t periodX, std::int32_t periodY, float octaves, float gain,
                   std::uint32_t seed);

// As FractalNoise, also giving the layers' summed derivatives (weighted like the value,
// without its 0.5 offset).
float FractalNoiseDerivatives(float x, float y, std::int32_t periodX, std::int32_t periodY, float octaves, float gain,
                              std::uint32_t seed, float& derivativeX, float& derivativeY);

enum CellMetric : std::int32_t { kEuclidean = 0, kManhattan = 1, kChebyshev = 2 };

enum CellOutput : std::int32_t {
    kNearestDistance = 0,     // F1, normalised
    kSecondMinusNearest = 1,  // F2 - F1, normalised
    kBorderDistance = 2,      // distance to the cell's border, always Euclidean
    kSquaredDifference = 3,   // F2^2 - F1^2, not normalised
};

// Cellular distance over the 3 x 3 neighbour cells, clamped to 0..1. The period is raised to
// at least 3, jitter limited to 0..1; an unknown output kind acts as kNearestDistance and an
// unknown metric as Euclidean.
float CellularDistance(float x, float y, std::int32_t period, float jitter, std::int32_t metric, std::int32_t output,
                       std::uint32_t seed);

// The value (0..1) of the nearest cell; with `blend` above 0 neighbouring cells meet at the
// mean of their values across a smooth band. Period at least 1; jitter and blend 0..1.
float CellValue(float x, float y, std::int32_t period, float jitter, float blend, std::uint32_t seed);

// At lattice point (ix, iy): how much lower its unit hash is than the mean of its 3 x 3
// neighbourhood, folded into 0..1, which spreads high and low points evenly. A period below 1
// hashes every point as (0, 0).
float LatticeContrast(std::int32_t ix, std::int32_t iy, std::int32_t period, std::uint32_t seed);

// LatticeContrast blended between lattice points: softness 0 gives flat plateaus with steps,
// higher rounds the steps. Period at least 3; softness 0..1.
float SmoothLatticeContrast(float x, float y, std::int32_t period, float softness, std::uint32_t seed);

// A distance to the nearest feature points (5 x 5 cells) that stays smooth where cells meet;
// 0 or more. Period at least 3; exponent 0.5..16; jitter 0..1.
float SmoothNearestDistance(float x, float y, std::int32_t period, float exponent, float jitter, std::uint32_t seed);

// ---- Shapes and clamps ---------------------------------------------------------------------

// One wave of period 1 in 0..1: kind 1 saw, 2 triangle, any other sine (0 at whole t).
float WaveProfile(float t, std::int32_t kind);

struct BrickSample {
    float joint = 0.0f;  // 1 in the mortar, falling to 0 across the bevel
    float value = 0.0f;  // the brick's own random value, 0..1
};

// Bricks of `brickWidth` x `brickHeight`; every row whose index is a multiple of
// `offsetPeriod` is shifted by `rowOffset` bricks. The mortar reaches `mortarHalfWidth` into
// each brick, the bevel `bevel` further; `smoothness` (0..1) softens the mortar's edge. Brick
// values repeat every `rowPeriod` rows and `columnPeriod` columns.
BrickSample BrickLattice(float x, float y, float brickWidth, float brickHeight, float mortarHalfWidth,
                         float smoothness, float bevel, float rowOffset, std::int32_t offsetPeriod,
                         std::int32_t rowPeriod, std::int32_t columnPeriod, std::uint32_t seed);

// v limited to 0..1; 0 for NaN or an infinity.
float Clamp01(float v);

// Clamp01((v - 0.5) x contrast + 0.5).
float ApplyContrast(float v, float contrast);

// Clamp01(v) rounded to one of `levels` evenly spaced values (halves away from zero); fewer
// than 2 levels leaves the clamp alone.
float QuantizeLevels(float v, std::int32_t levels);

// ---- Penrose ---------------------------------------------------------------------------------

struct Vec2f {
    float x = 0.0f;
    float y = 0.0f;
};

// Row-major 2 x 2 matrix [[xx, xy], [yx, yy]].
struct Mat2f {
    float xx = 1.0f, xy = 0.0f;
    float yx = 0.0f, yy = 1.0f;
};

// Reflects `point` in the mirror through the origin with unit normal `normal` when the point
// lies on its negative side, and returns the reflection applied (the identity otherwise).
// Then advances `normal` to the next mirror of the sequence: (nx - 1, ny) made unit length.
Mat2f PenroseFold(Vec2f& point, Vec2f& normal);

struct PenroseSample {
    bool found = false;  // false when the point lies outside the tiling's root triangle
    bool acute = false;  // the tile kind reached
    float height = 0.0f; // 0 .. fold + groove + pyramid
};

// Folds (x, y) into a 36 degree wedge, descends `depth` times through the Robinson-triangle
// subdivision with the golden ratio, and gives the height of the tile found: grooves of
// `groove`, a fold lift of `fold` and a pyramid of `pyramid`, all relative to the tile's size.
PenroseSample PenroseDescend(float x, float y, std::int32_t depth, float groove, float pyramid, float fold);

}  // namespace grainforge::mesh::procedural
