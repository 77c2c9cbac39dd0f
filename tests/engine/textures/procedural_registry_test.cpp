#include "engine/textures/procedural_registry.h"

#include <gtest/gtest.h>

namespace grainforge::mesh::procedural {
namespace {

const std::vector<std::string> kNames = {
    "Noise",   "Wood",       "Bricks",  "Cells",        "Stripes",       "Wood Pores", "Penrose",
    "Rocks",   "Copper",     "Contours", "Stars",       "Weave",         "Truchet",    "Hex Truchet",
    "Wire Mesh", "Timber",   "Wood Rings", "Caustic Rock", "Penrose Tiles", "Flat Rock", "Trabecular",
    "Dots",    "Knurl",      "Tread Plate", "Leather"};

TEST(ProceduralTextureNames, ListsTheTwentyFiveInRegistryOrder)
{
    EXPECT_EQ(ProceduralTextureNames(), kNames);
    std::vector<std::string> names = ProceduralTextureNames();
    names.clear();
    EXPECT_EQ(ProceduralTextureNames().size(), 25u) << "a new list on every call";
}

TEST(CreateProceduralTexture, MakesTheBuiltPatternsResetAndRepeating)
{
    for (const char* name : {"Noise", "Wood", "Bricks", "Cells"}) {
        SCOPED_TRACE(name);
        const std::unique_ptr<ProceduralTexture> pattern = CreateProceduralTexture(name);
        ASSERT_NE(pattern, nullptr);
        EXPECT_EQ(pattern->Name(), name);
        EXPECT_TRUE(pattern->repeats);
        const std::vector<ParameterSpec>& table = pattern->GetParameters();
        ASSERT_EQ(table.size(), pattern->PatternParameters().size() + 1);
        EXPECT_EQ(table.back().key, "invert");
        ASSERT_EQ(pattern->values.size(), table.size());
        for (std::size_t i = 0; i < table.size(); ++i)
            EXPECT_EQ(pattern->values[i], ClampParameterValue(table[i], table[i].defaultValue)) << table[i].key;
        EXPECT_EQ(pattern->MidLevelAfterInvert(), 0.5f);
    }
}

TEST(CreateProceduralTexture, OnlyThePenroseTilingsDoNotRepeat)
{
    for (const std::string& name : kNames) {
        const std::unique_ptr<ProceduralTexture> pattern = CreateProceduralTexture(name);
        if (!pattern)
            continue;  // not built into this program yet
        EXPECT_EQ(pattern->repeats, name != "Penrose" && name != "Penrose Tiles") << name;
        EXPECT_EQ(pattern->Name(), name);
    }
}

TEST(CreateProceduralTexture, NamesMustMatchExactly)
{
    for (const char* name : {"noise", "Noise ", " Noise", "WoodPores", "Wood  Pores", "NOISE", "", "Sand",
                             "Noise\n"})
        EXPECT_EQ(CreateProceduralTexture(name), nullptr) << '"' << name << '"';
    EXPECT_EQ(CreateProceduralTexture(std::string("Cells\0", 6)), nullptr) << "the length counts";
}

}  // namespace
}  // namespace grainforge::mesh::procedural
