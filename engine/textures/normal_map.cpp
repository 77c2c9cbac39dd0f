// Integration of a gradient field by a spectral Poisson solve on a periodic grid: the
// divergence of the slopes is the Laplacian of the height, and the periodic five-point
// Laplacian is diagonal in the discrete Fourier basis. The transform is the iterative radix-2
// Cooley-Tukey algorithm (decimation in time).
#include "engine/textures/normal_map.h"

#include "engine/mesh/parallel_loop.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace grainforge::mesh {

namespace {

using Complex = std::complex<double>;

constexpr std::int32_t kMinGridSide = 8;
constexpr std::int32_t kMaxGridSide = 4096;
// Nearly flat-on normals would give huge slopes; their z is floored here.
constexpr float kMinNormalZ = 0.05f;
// Below this spread the field counts as flat.
constexpr double kFlatRange = 1e-12;
// Rows or columns per parallel block of the transforms.
constexpr std::size_t kLinesPerBlock = 8;
constexpr std::size_t kCellsPerBlock = 1 << 14;

bool IsPowerOfTwo(std::size_t n) { return n != 0 && (n & (n - 1)) == 0; }

std::int32_t WrapIndex(std::int64_t i, std::int32_t n)
{
    const std::int64_t r = i % n;
    return static_cast<std::int32_t>(r < 0 ? r + n : r);
}

// (u, v) -> (u + w v, u - w v), with the products written out so every platform rounds alike.
void Butterfly(Complex& a, Complex& b, const Complex& w)
{
    const double vr = w.real() * b.real() - w.imag() * b.imag();
    const double vi = w.real() * b.imag() + w.imag() * b.real();
    const Complex u = a;
    a = Complex(u.real() + vr, u.imag() + vi);
    b = Complex(u.real() - vr, u.imag() - vi);
}

Complex Multiply(const Complex& a, const Complex& b)
{
    return Complex(a.real() * b.real() - a.imag() * b.imag(), a.real() * b.imag() + a.imag() * b.real());
}

// Slopes along x and y of every grid cell, from the normals resampled onto the grid.
void ComputeSlopes(const std::vector<float>& rgb, std::int32_t width, std::int32_t height, std::int32_t nx,
                   std::int32_t ny, bool greenUp, std::vector<float>& p, std::vector<float>& q)
{
    const float sx = static_cast<float>(width) / static_cast<float>(nx);
    const float sy = static_cast<float>(height) / static_cast<float>(ny);
    const std::size_t columns = static_cast<std::size_t>(nx);
    ParallelFor(p.size(), [&](std::size_t cell) {
        const float x = (static_cast<float>(cell % columns) + 0.5f) * sx - 0.5f;
        const float y = (static_cast<float>(cell / columns) + 0.5f) * sy - 0.5f;
        float n[3];
        for (int c = 0; c < 3; ++c)
            n[c] = 2.0f * SampleWrappedChannel(rgb, width, height, c, x, y) - 1.0f;
        const float length = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
        if (length > 0.000001f)
            for (float& component : n)
                component /= length;
        const float nz = std::max(n[2], kMinNormalZ);
        p[cell] = -n[0] / nz;
        q[cell] = greenUp ? n[1] / nz : -n[1] / nz;
    }, kCellsPerBlock);
}

// Divergence of the slopes with periodic backward differences, as the real parts of a grid.
std::vector<Complex> Divergence(const std::vector<float>& p, const std::vector<float>& q, std::int32_t nx,
                                std::int32_t ny)
{
    std::vector<Complex> grid(p.size());
    const std::size_t columns = static_cast<std::size_t>(nx);
    ParallelFor(grid.size(), [&](std::size_t cell) {
        const std::int32_t gx = static_cast<std::int32_t>(cell % columns);
        const std::int32_t gy = static_cast<std::int32_t>(cell / columns);
        const std::size_t left = static_cast<std::size_t>(gy) * columns + WrapIndex(gx - 1, nx);
        const std::size_t up = static_cast<std::size_t>(WrapIndex(gy - 1, ny)) * columns + gx;
        const double d = static_cast<double>(p[cell]) - p[left] + q[cell] - q[up];
        grid[cell] = Complex(d, 0.0);
    }, kCellsPerBlock);
    return grid;
}

// Divides every coefficient by the eigenvalue of the periodic five-point Laplacian; the mean
// (the constant term) becomes 0.
void SolvePoisson(std::vector<Complex>& spectrum, std::int32_t nx, std::int32_t ny)
{
    std::vector<double> cosX(static_cast<std::size_t>(nx));
    std::vector<double> cosY(static_cast<std::size_t>(ny));
    for (std::int32_t k = 0; k < nx; ++k)
        cosX[k] = 2.0 * std::cos(2.0 * std::numbers::pi * k / nx);
    for (std::int32_t k = 0; k < ny; ++k)
        cosY[k] = 2.0 * std::cos(2.0 * std::numbers::pi * k / ny);
    const std::size_t columns = static_cast<std::size_t>(nx);
    ParallelFor(spectrum.size(), [&](std::size_t cell) {
        const std::size_t kx = cell % columns;
        const std::size_t ky = cell / columns;
        if (kx == 0 && ky == 0) {
            spectrum[cell] = Complex(0.0, 0.0);
            return;
        }
        const double eigenvalue = cosY[ky] + cosX[kx] - 4.0;
        spectrum[cell] = Complex(spectrum[cell].real() / eigenvalue, spectrum[cell].imag() / eigenvalue);
    }, kCellsPerBlock);
}

// Real parts scaled to 0..1 (all 0.5 when the field is flat).
std::vector<float> NormaliseHeights(const std::vector<Complex>& field)
{
    double low = field.front().real();
    double high = low;
    for (const Complex& c : field) {
        low = std::min(low, c.real());
        high = std::max(high, c.real());
    }
    std::vector<float> heights(field.size(), 0.5f);
    const double range = high - low;
    if (range <= kFlatRange)
        return heights;
    ParallelFor(field.size(), [&](std::size_t i) {
        heights[i] = static_cast<float>((field[i].real() - low) / range);
    }, kCellsPerBlock);
    return heights;
}

}  // namespace

std::int32_t NormalMapGridSide(std::int32_t side)
{
    std::int32_t size = kMinGridSide;
    while (size < kMaxGridSide && size * 2 <= side)
        size *= 2;
    if (size < kMaxGridSide && size * 2 - side < side - size)
        size *= 2;
    return size;
}

void Fft1D(std::span<Complex> values, bool inverse)
{
    const std::size_t n = values.size();
    if (!IsPowerOfTwo(n) || n < 2)
        return;  // a single value is its own transform
    for (std::size_t i = 1, j = 0; i < n; ++i) {
        std::size_t bit = n >> 1;
        for (; (j & bit) != 0; bit >>= 1)
            j ^= bit;
        j ^= bit;
        if (i < j)
            std::swap(values[i], values[j]);
    }
    for (std::size_t length = 2; length <= n; length <<= 1) {
        const double theta = (inverse ? 2.0 : -2.0) * std::numbers::pi / static_cast<double>(length);
        const Complex step(std::cos(theta), std::sin(theta));
        const std::size_t half = length / 2;
        for (std::size_t start = 0; start < n; start += length) {
            Complex w(1.0, 0.0);
            for (std::size_t k = 0; k < half; ++k) {
                Butterfly(values[start + k], values[start + k + half], w);
                w = Multiply(w, step);
            }
        }
    }
    if (inverse) {
        const double scale = static_cast<double>(n);
        for (Complex& v : values)
            v = Complex(v.real() / scale, v.imag() / scale);
    }
}

void Fft2D(std::span<Complex> grid, std::int32_t nx, std::int32_t ny, bool inverse)
{
    if (nx < 1 || ny < 1 || grid.size() != static_cast<std::size_t>(nx) * static_cast<std::size_t>(ny))
        return;
    const std::size_t columns = static_cast<std::size_t>(nx);
    const std::size_t rows = static_cast<std::size_t>(ny);
    ParallelForBlocks(rows, kLinesPerBlock, [&](std::size_t begin, std::size_t end) {
        for (std::size_t y = begin; y < end; ++y)
            Fft1D(grid.subspan(y * columns, columns), inverse);
    });
    // Columns go through a buffer a few at a time, so the copies read whole cache lines.
    ParallelForBlocks(columns, kLinesPerBlock, [&](std::size_t begin, std::size_t end) {
        std::vector<Complex> buffer((end - begin) * rows);
        for (std::size_t y = 0; y < rows; ++y)
            for (std::size_t x = begin; x < end; ++x)
                buffer[(x - begin) * rows + y] = grid[y * columns + x];
        for (std::size_t x = begin; x < end; ++x)
            Fft1D(std::span<Complex>(buffer).subspan((x - begin) * rows, rows), inverse);
        for (std::size_t y = 0; y < rows; ++y)
            for (std::size_t x = begin; x < end; ++x)
                grid[y * columns + x] = buffer[(x - begin) * rows + y];
    });
}

float SampleWrappedChannel(const std::vector<float>& rgb, std::int32_t width, std::int32_t height, int channel,
                           float x, float y)
{
    // Coordinates beyond any image (or not numbers) and a vector too short sample nothing.
    constexpr float kCoordinateLimit = 1e15f;
    if (!(std::fabs(x) < kCoordinateLimit) || !(std::fabs(y) < kCoordinateLimit) || width < 1 || height < 1 ||
        channel < 0 || channel > 2 ||
        rgb.size() < static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 3)
        return 0.0f;
    const float fx0 = std::floor(x);
    const float fy0 = std::floor(y);
    const float fx = x - fx0;
    const float fy = y - fy0;
    const std::int64_t x0 = static_cast<std::int64_t>(fx0);
    const std::int64_t y0 = static_cast<std::int64_t>(fy0);
    const std::size_t c0 = static_cast<std::size_t>(WrapIndex(x0, width));
    const std::size_t c1 = static_cast<std::size_t>(WrapIndex(x0 + 1, width));
    const std::size_t r0 = static_cast<std::size_t>(WrapIndex(y0, height));
    const std::size_t r1 = static_cast<std::size_t>(WrapIndex(y0 + 1, height));
    const std::size_t w = static_cast<std::size_t>(width);
    const auto at = [&](std::size_t column, std::size_t row) { return rgb[(row * w + column) * 3 + channel]; };
    const float top = at(c0, r0) + (at(c1, r0) - at(c0, r0)) * fx;
    const float bottom = at(c0, r1) + (at(c1, r1) - at(c0, r1)) * fx;
    return top + (bottom - top) * fy;
}

NormalMapResult HeightFromNormalMap(const std::vector<float>& rgb, std::int32_t width, std::int32_t height,
                                    bool greenUp)
{
    NormalMapResult result;
    if (width < 1 || height < 1 ||
        rgb.size() != static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 3) {
        result.message = "the image has no three-channel pixels to read normals from";
        return result;
    }
    const std::int32_t nx = NormalMapGridSide(width);
    const std::int32_t ny = NormalMapGridSide(height);
    const std::size_t cells = static_cast<std::size_t>(nx) * static_cast<std::size_t>(ny);
    std::vector<Complex> field;
    {
        std::vector<float> p(cells);
        std::vector<float> q(cells);
        ComputeSlopes(rgb, width, height, nx, ny, greenUp, p, q);
        field = Divergence(p, q, nx, ny);
    }
    Fft2D(field, nx, ny, false);
    SolvePoisson(field, nx, ny);
    Fft2D(field, nx, ny, true);

    result.heights = NormaliseHeights(field);
    result.width = nx;
    result.height = ny;
    result.ok = true;
    result.message = "height integrated from the normals (" + std::to_string(width) + " x " + std::to_string(height) +
                     " -> " + std::to_string(nx) + " x " + std::to_string(ny) + ", green pointing " +
                     (greenUp ? "up" : "down") + "); the depth is the strength setting's, the map only says the shape";
    return result;
}

}  // namespace grainforge::mesh
