#include "engine/textures/procedural_texture.h"

#include "engine/mesh/parallel_loop.h"

#include <gtest/gtest.h>

#include <cmath>

namespace grainforge::mesh::procedural {
namespace {

// Height = "gain" x u + v / 4, which shows where each pixel was sampled; a gain of 100 pushes
// values above 1, a NaN level tests the safety of the mid level.
class RampTexture : public ProceduralTexture {
public:
    const std::string& Name() const override
    {
        static const std::string name = "Ramp";
        return name;
    }
    const std::vector<ParameterSpec>& PatternParameters() const override
    {
        static const std::vector<ParameterSpec> table = {
            MakeFloatParameter("gain", "Gain", -1000.0f, 1000.0f, 1.0f, "", 0.1f),
            MakeFloatParameter("level", "Level", -10.0f, 10.0f, 0.25f, "", 0.1f),
        };
        return table;
    }
    float Evaluate(float u, float v) const override
    {
        const float gain = GetValue("gain");
        if (gain == 0.0f)
            return NAN;
        return gain * u + v / 4.0f;
    }
    float MidLevel() const override
    {
        const float level = GetValue("level");
        return level == 10.0f ? NAN : level;
    }
};

TEST(ProceduralTexture, MidLevelIsMadeSafeAndTurnedOver)
{
    const struct {
        float level;
        bool invert;
        float expected;
    } cases[] = {
        {0.25f, false, 0.25f}, {0.25f, true, 0.75f}, {3.0f, false, 1.0f},
        {-2.0f, true, 1.0f},   {10.0f, false, 0.0f}, {10.0f, true, 1.0f},
    };
    for (const auto& c : cases) {
        RampTexture ramp;
        ramp.ResetToDefaults();
        ramp.SetValue("level", c.level);
        ramp.SetValue("invert", c.invert ? 1.0f : 0.0f);
        EXPECT_EQ(ramp.MidLevelAfterInvert(), c.expected) << c.level << " " << c.invert;
    }
}

TEST(ProceduralTexture, RenderSamplesPixelCentresWithTheFirstRowAtTheTop)
{
    RampTexture ramp;
    ramp.ResetToDefaults();
    ramp.SetValue("gain", 0.5f);
    const std::vector<float> image = ramp.RenderImage(4, 2);
    ASSERT_EQ(image.size(), 8u);
    for (int y = 0; y < 2; ++y) {
        for (int x = 0; x < 4; ++x) {
            const float u = (x + 0.5f) / 4.0f;
            const float v = 1.0f - (y + 0.5f) / 2.0f;
            EXPECT_EQ(image[y * 4 + x], 0.5f * u + v / 4.0f) << x << "," << y;
        }
    }
    // Width and height 0 give one pixel sampled at the tile's centre.
    EXPECT_EQ(ramp.RenderImage(0, 0), std::vector<float>{0.5f * 0.5f + 0.5f / 4.0f});
    EXPECT_EQ(ramp.RenderImage(-5, 1).size(), 1u);
}

TEST(ProceduralTexture, RenderClampsInvertsAndZeroesNonFiniteHeights)
{
    RampTexture ramp;
    ramp.ResetToDefaults();
    ramp.SetValue("gain", 100.0f);
    ramp.SetValue("invert", 1.0f);
    const std::vector<float> steep = ramp.RenderImage(800, 1);
    for (std::size_t x = 0; x < steep.size(); ++x) {
        const float h = 100.0f * ((x + 0.5f) / 800.0f) + 0.5f / 4.0f;
        EXPECT_EQ(steep[x], 1.0f - std::min(h, 1.0f)) << x;  // clamped, then turned over
    }
    EXPECT_GT(steep[0], 0.8f);
    EXPECT_EQ(steep[799], 0.0f);

    ramp.SetValue("gain", 0.0f);  // NaN everywhere
    for (const float h : ramp.RenderImage(3, 3))
        EXPECT_EQ(h, 1.0f);  // 0, then turned over
}

TEST(ProceduralTexture, RenderRefusesSidesAboveTheLimitAndAcceptsTheLimit)
{
    RampTexture ramp;
    ramp.ResetToDefaults();
    EXPECT_TRUE(ramp.RenderImage(kMaxRenderSide + 1, 1).empty());
    EXPECT_TRUE(ramp.RenderImage(1, 2147483647).empty());
    EXPECT_EQ(ramp.RenderImage(kMaxRenderSide, 1).size(), static_cast<std::size_t>(kMaxRenderSide));
}

TEST(ProceduralTexture, RenderDoesNotDependOnTheThreadCount)
{
    RampTexture ramp;
    ramp.ResetToDefaults();
    ramp.SetValue("gain", 0.7f);
    const std::vector<float> parallel = ramp.RenderImage(513, 301);
    std::vector<float> serial;
    {
        ThreadLimit one(1);
        serial = ramp.RenderImage(513, 301);
    }
    EXPECT_EQ(parallel, serial);
}

}  // namespace
}  // namespace grainforge::mesh::procedural
