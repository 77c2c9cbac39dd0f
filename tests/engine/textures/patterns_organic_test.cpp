#include "engine/textures/patterns_organic.h"

#include "engine/textures/noise_kernels.h"
#include "tests/support/procedural_pattern_checks.h"

#include <gtest/gtest.h>

#include <cmath>
#include <set>

namespace grainforge::mesh::procedural {
namespace {

using testing::MakePattern;
using testing::PixelCentre;

TEST(OrganicPatterns, RandomParameterSetsGiveSoundSeamlessHeights)
{
    testing::ExpectSoundRandomRenders("Leather", 101);
    // A wandering stripe's phase grows to 2 x stripes across a diagonal tile, where float
    // rounding is some 1e-5; the saw's drop and the sharpening step turn that into a jump. So
    // the seam is measured on the unsharpened profile, with a saw's 0 and 1 the same phase;
    // the sharpening is a function of the height alone.
    const auto profileSeam = [](const ProceduralTexture& stripes) {
        const std::unique_ptr<ProceduralTexture> plain = CreateProceduralTexture("Stripes");
        plain->values = stripes.values;
        plain->SetValue("sharpness", 0.0f);
        const bool saw = plain->GetValue("profile") == 1.0f;
        float largest = 0.0f;
        for (int i = 0; i < 64; ++i) {
            const float t = PixelCentre(i, 64);
            for (const auto& [a, b] : {std::pair{plain->Evaluate(0.0f, t), plain->Evaluate(1.0f, t)},
                                       std::pair{plain->Evaluate(t, 0.0f), plain->Evaluate(t, 1.0f)}}) {
                const float step = std::fabs(a - b);
                largest = std::max(largest, saw ? std::min(step, 1.0f - step) : step);
            }
        }
        return largest;
    };
    testing::ExpectSoundRandomRenders("Stripes", 102, 1e-4f, profileSeam);
    testing::ExpectSoundRandomRenders("Wood Pores", 103);
}

TEST(LeatherPattern, RegularGrainsHaveFlatFacesAndCreasesOnTheirBorders)
{
    // No scatter and no warp: feature points on the lattice corners, so the borders run
    // half-way between them and every corner is a grain's highest point.
    auto leather = MakePattern("Leather", {{"cells", 4.0f}, {"irregularity", 0.0f}, {"warp", 0.0f},
                                           {"roughness", 0.0f}});
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) {
            EXPECT_EQ(leather->Evaluate(i / 4.0f, j / 4.0f), 1.0f) << i << "," << j;
            EXPECT_EQ(leather->Evaluate((i + 0.5f) / 4.0f, (j + 0.25f) / 4.0f), 0.0f) << "crease " << i << "," << j;
        }
}

TEST(LeatherPattern, NoWarpGivesStraightBordersAndNoRoughnessFlatFaces)
{
    // Without warp the grains are the plain Voronoi cells of the feature points.
    auto leather = MakePattern("Leather", {{"warp", 0.0f}, {"roughness", 0.0f}, {"seed", 9.0f}});
    for (int k = 0; k < 50; ++k) {
        const float u = PixelCentre(k * 37 % 64, 64), v = PixelCentre(k * 11 % 64, 64);
        const float d = CellularDistance(18 * u, 18 * v, 18, 0.85f, kEuclidean, kBorderDistance, 9);
        const float t = Clamp01((d * (0.5f * 0.85f + 0.5f) - 0.5f * 0.035f) / 0.18f);
        EXPECT_EQ(leather->Evaluate(u, v), t * t * (3 - 2 * t)) << u << "," << v;
    }
    // Flat faces at 1 and crease bottoms at 0; roughness then varies the faces.
    std::vector<float> flat = leather->RenderImage(96, 96);
    EXPECT_EQ(*std::min_element(flat.begin(), flat.end()), 0.0f);
    EXPECT_EQ(*std::max_element(flat.begin(), flat.end()), 1.0f);
    leather->SetValue("roughness", 0.3f);
    const std::vector<float> rough = leather->RenderImage(96, 96);
    std::set<float> faceHeights;
    for (std::size_t i = 0; i < flat.size(); ++i)
        if (flat[i] == 1.0f) {
            faceHeights.insert(rough[i]);
            EXPECT_LE(rough[i], 1.0f);
        }
    EXPECT_GT(faceHeights.size(), 100u);
}

TEST(StripesPattern, DiagonalStripesFitWholeOnEveryEdge)
{
    auto stripes = MakePattern("Stripes", {{"direction", 2.0f}, {"profile", 1.0f}});
    // A saw drops once per stripe: count the drops along each edge.
    const auto drops = [&](bool alongU) {
        int count = 0;
        float last = stripes->Evaluate(0.0f, 0.0f);
        for (int i = 1; i <= 1024; ++i) {
            const float t = i / 1024.0f + 1.0f / 4096.0f;
            const float h = alongU ? stripes->Evaluate(t, 0.0f) : stripes->Evaluate(0.0f, t);
            count += h < last - 0.5f ? 1 : 0;
            last = h;
        }
        return count;
    };
    EXPECT_EQ(drops(true), 8);
    EXPECT_EQ(drops(false), 8);
    for (float u : {0.125f, 0.3125f, 0.75f})
        EXPECT_EQ(stripes->Evaluate(u, 0.4375f), stripes->Evaluate(u + 1.0f, 0.4375f - 1.0f));
}

TEST(StripesPattern, SharpnessZeroKeepsTheProfileAndWavesNeedWander)
{
    const struct {
        float direction, profile, phase;
    } cases[] = {{0, 0, 0.0f}, {1, 1, 0.3f}, {2, 2, 0.7f}};
    for (const auto& c : cases) {
        auto stripes = MakePattern("Stripes", {{"direction", c.direction}, {"profile", c.profile},
                                               {"phase", c.phase}, {"stripes", 5.0f}});
        for (float u : {0.1f, 0.45f, 0.8f})
            for (float v : {0.2f, 0.65f}) {
                const float across = c.direction == 0 ? u : c.direction == 1 ? v : u + v;
                EXPECT_EQ(stripes->Evaluate(u, v), WaveProfile(5.0f * across + c.phase, int(c.profile)));
            }
    }
    auto few = MakePattern("Stripes", {{"waves", 3.0f}});
    auto many = MakePattern("Stripes", {{"waves", 17.0f}});
    EXPECT_EQ(few->Evaluate(0.3f, 0.13f), many->Evaluate(0.3f, 0.13f)) << "straight stripes ignore the waves";
    few->SetValue("wander", 0.16f);
    many->SetValue("wander", 0.16f);
    EXPECT_NE(few->Evaluate(0.3f, 0.13f), many->Evaluate(0.3f, 0.13f));
}

TEST(StripesPattern, FullSharpnessIsANearStep)
{
    auto stripes = MakePattern("Stripes", {{"sharpness", 1.0f}});
    int between = 0;
    for (int i = 0; i < 4096; ++i) {
        const float h = stripes->Evaluate(PixelCentre(i, 4096), 0.5f);
        between += h > 0.0f && h < 1.0f ? 1 : 0;
    }
    // The step spans 0.4995..0.5005 of the sine: a few samples per edge, 16 edges.
    EXPECT_LE(between, 40);
    EXPECT_EQ(stripes->Evaluate(0.0625f, 0.5f), 1.0f) << "a stripe's crest";
    EXPECT_EQ(stripes->Evaluate(0.0f, 0.5f), 0.0f) << "a trough";
}

TEST(WoodPoresPattern, DensityZeroCutsOnlyTheHighestNoise)
{
    auto pores = MakePattern("Wood Pores", {{"density", 0.0f}, {"softness", 0.0f}, {"seed", 4.0f}});
    for (int k = 0; k < 40; ++k) {
        const float u = PixelCentre(k * 29 % 64, 64), v = PixelCentre(k * 7 % 64, 64);
        float p = FractalNoise(8 * u, 256 * v, 8, 256, 1.0f, 0.5f, 4);
        p = p - 2.0f * 0.3f * 0.5f * (FractalNoise(4 * u, 32 * v, 4, 32, 0.0f, 0.5f, 105) - 0.5f);
        const float threshold = 0.82f - 0.3f * 0.0f, halfWidth = 0.08f * 0.0f + 0.01f;
        const float q = (p - (threshold - halfWidth)) / ((threshold + halfWidth) - (threshold - halfWidth));
        const float pore = q <= 0 ? 0.0f : q >= 1 ? 1.0f : q * q * (3 - 2 * q);
        EXPECT_EQ(pores->Evaluate(u, v), 1.0f - pore) << u << "," << v;
    }
}

TEST(WoodPoresPattern, DensityDeepensEveryPointAndDepthZeroIsFlat)
{
    auto sparse = MakePattern("Wood Pores", {{"density", 0.0f}});
    auto middle = MakePattern("Wood Pores", {{"density", 0.5f}});
    auto dense = MakePattern("Wood Pores", {{"density", 1.0f}});
    auto flat = MakePattern("Wood Pores", {{"depth", 0.0f}, {"density", 1.0f}});
    auto vertical = MakePattern("Wood Pores", {{"direction", 1.0f}});
    for (int i = 0; i < 64; ++i)
        for (int j = 0; j < 64; ++j) {
            const float u = PixelCentre(i, 64), v = PixelCentre(j, 64);
            ASSERT_GE(sparse->Evaluate(u, v), middle->Evaluate(u, v));
            ASSERT_GE(middle->Evaluate(u, v), dense->Evaluate(u, v));
            ASSERT_EQ(flat->Evaluate(u, v), 1.0f);
            ASSERT_EQ(vertical->Evaluate(v, u), middle->Evaluate(u, v)) << "the grain turned by a quarter";
        }
}

}  // namespace
}  // namespace grainforge::mesh::procedural
