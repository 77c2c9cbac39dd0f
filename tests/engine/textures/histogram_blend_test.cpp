#include "engine/textures/histogram_blend.h"

#include "engine/mesh/parallel_loop.h"
#include "tests/support/lookup3_reference.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>
#include <random>

namespace grainforge::mesh::seamless {
namespace {

// PatchRandom from the published hash's final mix, as an independent reference.
PatchOffset ReferencePatchRandom(std::int64_t i, std::int64_t j, std::int64_t period, std::uint32_t seed)
{
    if (period > 0) {
        i = ((i % period) + period) % period;
        j = ((j % period) + period) % period;
    } else {
        i = j = 0;
    }
    const std::uint32_t k = 0xDEADBF08u;
    std::uint32_t a = static_cast<std::uint32_t>(i) + k, b = static_cast<std::uint32_t>(j) + k, c = seed + k;
    test::lookup3::Final(a, b, c);
    const std::uint32_t first = c;
    a = static_cast<std::uint32_t>(j) + k;
    b = static_cast<std::uint32_t>(i) + k;
    c = (seed ^ 0x9E3779B9u) + k;
    test::lookup3::Final(a, b, c);
    // Divided in double, where it is exact, then rounded once to float.
    return PatchOffset{static_cast<float>(first / 4294967296.0), static_cast<float>(c / 4294967296.0)};
}

TEST(PatchRandom, MatchesTheReferenceBitForBit)
{
    ASSERT_EQ(test::lookup3::HashLittle("Four score and seven years ago", 30, 1), 0xcd628161u);
    std::mt19937 random(3);
    for (int n = 0; n < 20000; ++n) {
        const std::int32_t period = static_cast<std::int32_t>(random() % 70) - 3;
        const std::int32_t i = static_cast<std::int32_t>(random() % 200) - 100;
        const std::int32_t j = static_cast<std::int32_t>(random() % 200) - 100;
        const std::int32_t seed = n % 3 == 0 ? static_cast<std::int32_t>(random()) : static_cast<std::int32_t>(random() % 1000);
        const PatchOffset got = PatchRandom(i, j, period, seed);
        const PatchOffset want = ReferencePatchRandom(i, j, period, static_cast<std::uint32_t>(seed));
        ASSERT_EQ(std::memcmp(&got.u, &want.u, sizeof(float)), 0) << i << " " << j << " " << period;
        ASSERT_EQ(std::memcmp(&got.v, &want.v, sizeof(float)), 0) << i << " " << j << " " << period;
        ASSERT_GE(got.u, 0.0f);
        ASSERT_LE(got.u, 1.0f);
    }
}

// A smooth pattern that repeats over the image, so any seam in a result comes from the blend.
std::vector<float> PeriodicImage(int width, int height)
{
    std::vector<float> image(static_cast<std::size_t>(width) * height);
    const double twoPi = 2.0 * std::numbers::pi;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const double u = static_cast<double>(x) / width;
            const double v = static_cast<double>(y) / height;
            image[y * width + x] = static_cast<float>(0.5 + 0.22 * std::sin(twoPi * (3 * u) + 1.0) * std::cos(twoPi * 2 * v) +
                                                      0.15 * std::sin(twoPi * (5 * u + 4 * v)));
        }
    }
    return image;
}

TEST(HistogramBlendTile, PatchCountIsLimitedAndReported)
{
    const std::vector<float> image = PeriodicImage(32, 24);
    const struct {
        std::int32_t asked;
        std::int32_t used;
    } cases[] = {{100, 64}, {64, 64}, {0, 1}, {-5, 1}, {7, 7}};
    for (const auto& c : cases) {
        HistogramBlendStatistics statistics;
        const std::vector<float> result = HistogramBlendTile(image, 32, 24, 32, 24, {c.asked, 0}, &statistics);
        EXPECT_EQ(result.size(), image.size());
        EXPECT_EQ(statistics.patches, c.used) << c.asked;
    }
}

TEST(HistogramBlendTile, BadSizesGiveAnEmptyResultAndTinyOutputsOnePixel)
{
    const std::vector<float> image(12, 0.5f);
    EXPECT_TRUE(HistogramBlendTile(image, 5, 2, 5, 2, {}, nullptr).empty());
    EXPECT_TRUE(HistogramBlendTile(image, 0, 12, 5, 2, {}, nullptr).empty());
    EXPECT_TRUE(HistogramBlendTile({}, 0, 0, 5, 2, {}, nullptr).empty());
    EXPECT_EQ(HistogramBlendTile(image, 4, 3, 0, -3, {}, nullptr), std::vector<float>{0.5f});
}

TEST(HistogramBlendTile, ValuesAreClampedToTheUnitRange)
{
    // Black and white halves: the contrast-keeping blend overshoots, and the clamp catches it.
    std::vector<float> image(64 * 64);
    for (std::size_t i = 0; i < image.size(); ++i)
        image[i] = (i % 64) < 32 ? 0.0f : 1.0f;
    const std::vector<float> result = HistogramBlendTile(image, 64, 64, 128, 96, {5, 3}, nullptr);
    ASSERT_EQ(result.size(), 128u * 96u);
    float lowest = 1.0f, highest = 0.0f;
    for (const float value : result) {
        lowest = std::min(lowest, value);
        highest = std::max(highest, value);
    }
    EXPECT_EQ(lowest, 0.0f);
    EXPECT_EQ(highest, 1.0f);
}

TEST(HistogramBlendTile, KeepsTheSourcesContrast)
{
    // Averaging three patches would bring the spread down to about 0.7 of the source's; the
    // blend divides by the root of the summed squared weights to keep it.
    const std::vector<float> image = PeriodicImage(96, 96);
    HistogramBlendStatistics statistics;
    HistogramBlendTile(image, 96, 96, 192, 192, {6, 2}, &statistics);
    EXPECT_NEAR(statistics.mean, 0.5f, 0.01f);
    EXPECT_GT(statistics.inputDeviation, 0.1f);
    EXPECT_NEAR(statistics.outputDeviation / statistics.inputDeviation, 1.0f, 0.12f);
}

// Mean absolute step from line k to line k + 1 (wrapping to 0) of a square image: columns
// when `columns`, else rows.
double LineStep(const std::vector<float>& image, int size, int k, bool columns)
{
    double sum = 0.0;
    for (int i = 0; i < size; ++i)
        sum += columns ? std::fabs(image[i * size + (k + 1) % size] - image[i * size + k])
                       : std::fabs(image[((k + 1) % size) * size + i] - image[k * size + i]);
    return sum / size;
}

TEST(HistogramBlendTile, ResultTilesWithoutASeam)
{
    const int size = 160;
    const std::vector<float> image = PeriodicImage(size, size);
    for (const std::int32_t seed : {0, 1, 2, 3}) {
        const std::vector<float> result = HistogramBlendTile(image, size, size, size, size, {4, seed}, nullptr);
        for (const bool columns : {true, false}) {
            double interior = 0.0;
            for (int k = 0; k + 1 < size; ++k)
                interior += LineStep(result, size, k, columns);
            EXPECT_LT(LineStep(result, size, size - 1, columns), 2.0 * interior / (size - 1)) << seed << columns;
        }
    }
}

// The blend written step by step, plainly: the fast path must give the same bits.
std::vector<float> ReferenceBlend(const std::vector<float>& source, int w, int h, int outW, int outH,
                                  int patches, int seed)
{
    double sum = 0.0;
    for (const float value : source)
        sum += value;
    const float mean = static_cast<float>(sum / static_cast<double>(source.size()));
    auto pixel = [&](long long x, long long y) {
        x = ((x % w) + w) % w;
        y = ((y % h) + h) % h;
        return source[static_cast<std::size_t>(y * w + x)];
    };
    std::vector<float> out(static_cast<std::size_t>(outW) * outH);
    for (int y = 0; y < outH; ++y) {
        for (int x = 0; x < outW; ++x) {
            const float u = (x + 0.5f) / static_cast<float>(outW);
            const float v = (y + 0.5f) / static_cast<float>(outH);
            const float gx = static_cast<float>(patches) * u, gy = static_cast<float>(patches) * v;
            const int i0 = static_cast<int>(std::floor(gx)), j0 = static_cast<int>(std::floor(gy));
            const float fx = gx - std::floor(gx), fy = gy - std::floor(gy);
            int vi[3], vj[3];
            float k[3];
            if (1.0f - fx - fy > 0.0f) {
                vi[0] = i0; vj[0] = j0; k[0] = 1.0f - fx - fy;
                vi[1] = i0 + 1; vj[1] = j0; k[1] = fx;
                vi[2] = i0; vj[2] = j0 + 1; k[2] = fy;
            } else {
                vi[0] = i0 + 1; vj[0] = j0 + 1; k[0] = fx + fy - 1.0f;
                vi[1] = i0 + 1; vj[1] = j0; k[1] = 1.0f - fy;
                vi[2] = i0; vj[2] = j0 + 1; k[2] = 1.0f - fx;
            }
            float weighted = 0.0f, squares = 0.0f;
            for (int n = 0; n < 3; ++n) {
                const PatchOffset offset = PatchRandom(vi[n], vj[n], patches, seed);
                const float sx = (offset.u + u) * static_cast<float>(w) - 0.5f;
                const float sy = (offset.v + v) * static_cast<float>(h) - 0.5f;
                const float bx = std::floor(sx), by = std::floor(sy);
                const float tx = sx - bx, ty = sy - by;
                const long long cx = static_cast<long long>(bx), cy = static_cast<long long>(by);
                const float top = (1.0f - tx) * pixel(cx, cy) + tx * pixel(cx + 1, cy);
                const float bottom = (1.0f - tx) * pixel(cx, cy + 1) + tx * pixel(cx + 1, cy + 1);
                const float sample = (1.0f - ty) * top + ty * bottom;
                weighted += k[n] * (sample - mean);
                squares += k[n] * k[n];
            }
            const float value = weighted / std::sqrt(std::max(squares, 1e-8f)) + mean;
            out[static_cast<std::size_t>(y) * outW + x] = std::clamp(value, 0.0f, 1.0f);
        }
    }
    return out;
}

TEST(HistogramBlendTile, MatchesThePlainlyWrittenBlendBitForBit)
{
    const std::vector<float> image = PeriodicImage(45, 31);
    for (const auto& [patches, seed] : {std::pair{1, 0}, {4, 7}, {13, 999}}) {
        EXPECT_EQ(HistogramBlendTile(image, 45, 31, 70, 52, {patches, seed}, nullptr),
                  ReferenceBlend(image, 45, 31, 70, 52, patches, seed))
            << patches << " " << seed;
    }
}

TEST(HistogramBlendTile, SameInputsGiveTheSameBitsOnAnyThreadCount)
{
    const std::vector<float> image = PeriodicImage(77, 51);
    const std::vector<float> parallel = HistogramBlendTile(image, 77, 51, 300, 200, {9, 41}, nullptr);
    std::vector<float> serial;
    {
        ThreadLimit one(1);
        serial = HistogramBlendTile(image, 77, 51, 300, 200, {9, 41}, nullptr);
    }
    EXPECT_EQ(parallel, serial);

    // The statistics too, though their sums run in parallel blocks.
    const std::vector<float> large = PeriodicImage(700, 300);
    HistogramBlendStatistics many, one;
    HistogramBlendTile(large, 700, 300, 700, 300, {5, 1}, &many);
    {
        ThreadLimit limit(1);
        HistogramBlendTile(large, 700, 300, 700, 300, {5, 1}, &one);
    }
    EXPECT_EQ(many.mean, one.mean);
    EXPECT_EQ(many.inputDeviation, one.inputDeviation);
    EXPECT_EQ(many.outputDeviation, one.outputDeviation);
}

}  // namespace
}  // namespace grainforge::mesh::seamless
