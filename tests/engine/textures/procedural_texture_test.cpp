#include "engine/textures/procedural_texture.h"

#include "tests/support/same_on_one_thread.h"

#include <gtest/gtest.h>

#include <cmath>

namespace grainforge::mesh::procedural {
namespace {

// Height = "gain" x u + v / 4, which shows where each pixel was sampled; gain 0 gives NaN and
// level 10 a NaN rest level.
class RampTexture : public ProceduralTexture {
public:
    RampTexture(float gain = 1.0f)
    {
        ResetToDefaults();
        SetValue("gain", gain);
    }
    const std::string& Name() const override { return name; }
    const std::string name = "Ramp";
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
        return GetValue("gain") == 0.0f ? NAN : GetValue("gain") * u + v / 4.0f;
    }
    float MidLevel() const override { return GetValue("level") == 10.0f ? NAN : GetValue("level"); }
};

TEST(ProceduralTexture, MidLevelIsMadeSafeAndTurnedOver)
{
    const struct { float level; bool invert; float expected; } cases[] = {
        {0.25f, false, 0.25f}, {0.25f, true, 0.75f}, {3.0f, false, 1.0f},
        {-2.0f, true, 1.0f},   {10.0f, false, 0.0f}, {10.0f, true, 1.0f},
    };
    for (const auto& c : cases) {
        RampTexture ramp;
        ramp.SetValue("level", c.level);
        ramp.SetValue("invert", c.invert ? 1.0f : 0.0f);
        EXPECT_EQ(ramp.MidLevelAfterInvert(), c.expected) << c.level << " " << c.invert;
    }
}

TEST(ProceduralTexture, RenderSamplesPixelCentresWithTheFirstRowAtTheTop)
{
    const RampTexture ramp(0.5f);
    const std::vector<float> image = ramp.RenderImage(4, 2);
    ASSERT_EQ(image.size(), 8u);
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(image[i], 0.5f * ((i % 4 + 0.5f) / 4.0f) + (1.0f - (i / 4 + 0.5f) / 2.0f) / 4.0f) << i;
    EXPECT_EQ(ramp.RenderImage(0, 0), std::vector<float>{0.5f * 0.5f + 0.5f / 4.0f}) << "one pixel at the centre";
    EXPECT_EQ(ramp.RenderImage(-5, 1).size(), 1u);
    EXPECT_TRUE(ramp.RenderImage(kMaxRenderSide + 1, 1).empty());
    EXPECT_TRUE(ramp.RenderImage(1, 2147483647).empty());
    EXPECT_EQ(ramp.RenderImage(kMaxRenderSide, 1).size(), static_cast<std::size_t>(kMaxRenderSide));
}

TEST(ProceduralTexture, RenderClampsInvertsAndZeroesNonFiniteHeights)
{
    RampTexture ramp(100.0f);
    ramp.SetValue("invert", 1.0f);
    const std::vector<float> steep = ramp.RenderImage(800, 1);
    for (std::size_t x = 0; x < steep.size(); ++x)
        EXPECT_EQ(steep[x], 1.0f - std::min(100.0f * ((x + 0.5f) / 800.0f) + 0.125f, 1.0f)) << x;
    ramp.SetValue("gain", 0.0f);
    EXPECT_EQ(ramp.RenderImage(3, 3), std::vector<float>(9, 1.0f)) << "NaN gives 0, then turned over";
    test::ExpectSameOnOneThread([] { return RampTexture(0.7f).RenderImage(513, 301); });
}

}  // namespace
}  // namespace grainforge::mesh::procedural
