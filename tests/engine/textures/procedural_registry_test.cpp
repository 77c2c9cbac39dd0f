#include "engine/textures/procedural_registry.h"

#include <gtest/gtest.h>

namespace grainforge::mesh::procedural {
namespace {

// Names, order, tables, defaults and the repeat flag are checked entry by entry in
// pattern_tables_test.cpp; here what those tables cannot show.

TEST(ProceduralTextureNames, HandsOutAFreshListEveryCall)
{
    std::vector<std::string> names = ProceduralTextureNames();
    names.clear();
    EXPECT_EQ(ProceduralTextureNames().size(), 25u);
}

TEST(CreateProceduralTexture, NamesMustMatchExactly)
{
    for (const char* name : {"noise", "Noise ", " Noise", "WoodPores", "Wood  Pores", "NOISE", "", "Sand",
                             "Noise\n"})
        EXPECT_EQ(CreateProceduralTexture(name), nullptr) << '"' << name << '"';
    EXPECT_EQ(CreateProceduralTexture(std::string("Cells\0", 6)), nullptr) << "the length counts";
}

// Every pattern but the three machined ones (tested with their contrast cases) sits on the
// middle level, whether inverted or not.
TEST(CreateProceduralTexture, PatternsSitOnTheMiddleLevel)
{
    for (const std::string& name : ProceduralTextureNames()) {
        if (name == "Dots" || name == "Knurl" || name == "Tread Plate")
            continue;
        const std::unique_ptr<ProceduralTexture> pattern = CreateProceduralTexture(name);
        ASSERT_NE(pattern, nullptr) << name;
        EXPECT_EQ(pattern->MidLevel(), 0.5f) << name;
        pattern->SetValue("invert", 1.0f);
        EXPECT_EQ(pattern->MidLevelAfterInvert(), 0.5f) << name;
    }
}

}  // namespace
}  // namespace grainforge::mesh::procedural
