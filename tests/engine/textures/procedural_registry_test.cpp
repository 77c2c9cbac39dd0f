// Every registered pattern and seamless method against tests/data/procedural_patterns.tsv: its
// parameter table in full (the dialogs build their rows from it, presets and project files
// store values under its keys, so a drifted key, label, limit or choice text is a fault the user
// sees) and a pattern's heights at telling points for a few parameter sets, pinned from a
// checked build; then the properties every pattern must keep over random parameter sets.
#include "engine/textures/procedural_registry.h"
#include "engine/textures/seamless_method.h"

#include "tests/support/procedural_pattern_checks.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>

namespace grainforge::mesh::procedural {
namespace {

std::string EntryLine(const ParameterSpec& s)
{
    constexpr const char* kinds[] = {"Real", "Integer", "Choice", "Switch"};
    std::ostringstream line;
    line.precision(9);
    std::string choices;
    for (const std::string& choice : s.choices)
        choices += (choices.empty() ? "" : "|") + choice;
    line << "entry\t" << s.key << '\t' << kinds[static_cast<int>(s.kind) & 3] << '\t' << s.minimum << '\t' << s.maximum
         << '\t' << s.defaultValue << '\t' << s.step << '\t' << s.label << '\t' << choices << '\t' << s.help;
    return line.str();
}

TEST(ProceduralPatterns, TablesAndPinnedHeightsMatchTheGoldenFile)
{
    const char* folder = std::getenv("TESSARY_TEST_DATA");
    ASSERT_NE(folder, nullptr);
    std::ifstream file(std::string(folder) + "/procedural_patterns.tsv");
    ASSERT_TRUE(file) << "no golden file";
    std::vector<std::string> names, methods;
    std::unique_ptr<ProceduralTexture> pattern, sample;
    std::unique_ptr<seamless::Method> method;
    const ParameterSet* set = nullptr;
    std::size_t entry = 0, heights = 0;
    const auto expectWholeTable = [&] {
        if (set != nullptr) {
            EXPECT_EQ(entry, set->GetParameters().size()) << set->Name() << ": entries missing from the golden file";
        }
    };
    for (std::string line; std::getline(file, line);) {
        if (line.empty() || line[0] == '#')
            continue;
        const std::size_t tab = std::min(line.find('\t'), line.size());
        const std::string kind = line.substr(0, tab), rest = line.substr(std::min(tab + 1, line.size()));
        if (kind == "pattern" || kind == "method") {
            expectWholeTable();
            const std::string name = rest.substr(0, rest.find('\t'));
            entry = 0;
            if (kind == "method") {
                methods.push_back(name);
                method = seamless::CreateSeamlessMethod(name);
                set = method.get();
            } else {
                names.push_back(name);
                pattern = CreateProceduralTexture(name);
                ASSERT_NE(pattern, nullptr) << name;
                EXPECT_EQ(pattern->repeats, rest == name + "\trepeats") << name;
                EXPECT_EQ(pattern->PatternParameters().size() + 1, pattern->GetParameters().size()) << name;
                EXPECT_EQ(pattern->GetParameters().back().key, "invert") << name;
                set = pattern.get();
            }
            EXPECT_EQ(set->Name(), name);
            continue;
        }
        SCOPED_TRACE(set->Name() + ": " + line);
        if (kind == "entry") {
            const std::vector<ParameterSpec>& table = set->GetParameters();
            ASSERT_LT(entry, table.size());
            const ParameterSpec& spec = table[entry];
            EXPECT_EQ(EntryLine(spec), line);
            if (set == pattern.get() && entry + 1 < table.size()) {
                EXPECT_EQ(pattern->PatternParameters()[entry].key, spec.key);
            }
            EXPECT_EQ(set->values[entry], spec.defaultValue) << "the factory starts at the defaults";
            // Entry rules the controls rely on.
            EXPECT_TRUE(spec.minimum <= spec.defaultValue && spec.defaultValue <= spec.maximum);
            if (spec.kind != ParameterKind::Real) {
                EXPECT_TRUE(spec.step == 1.0f && spec.defaultValue == std::round(spec.defaultValue));
            }
            if (spec.kind == ParameterKind::Choice) {
                EXPECT_EQ(spec.maximum + 1.0f, static_cast<float>(spec.choices.size()));
            }
            ++entry;
        } else if (kind == "values") {
            sample = CreateProceduralTexture(names.back());
            std::string text = rest;
            std::replace(text.begin(), text.end(), ' ', '\n');
            ParametersFromText(*sample, text);
            EXPECT_EQ(ParametersToText(*sample), text + "\n");
        } else {
            ASSERT_EQ(kind, "height");
            std::istringstream numbers(rest);
            float u = NAN, v = NAN, height = NAN;
            numbers >> u >> v >> height;
            EXPECT_NEAR(sample->Evaluate(u, v), height, 2e-6f);
            ++heights;
        }
    }
    expectWholeTable();
    EXPECT_EQ(ProceduralTextureNames(), names) << "the offered order";
    EXPECT_EQ(methods, (std::vector<std::string>{"Cross-fade", "Histogram blend"}));
    EXPECT_GT(heights, 300u);
}

TEST(ProceduralPatterns, NamesMustMatchExactly)
{
    for (const char* name : {"noise", "Noise ", " Noise", "WoodPores", "NOISE", "", "Sand", "Noise\n"})
        EXPECT_EQ(CreateProceduralTexture(name), nullptr) << '"' << name << '"';
    EXPECT_EQ(CreateProceduralTexture(std::string("Cells\0", 6)), nullptr) << "the length counts";
}

// Seams a little looser than 1e-4, each for a measured reason: at u = 1 the lattice
// coordinates are whole periods instead of 0 and round differently in their last bits.
// Caustic Rock's sharpest focus, Flat Rock's crispest creases, the narrowest flat wires and
// rings of Wire Mesh and Wood Rings, and the contour lines' slope from forward differences 0.001
// apart turn that into steps of a few 1e-4. Timber's ring noise stacks up to ten layers 512
// times finer than its figure, and grows it to about 1e-2. A wandering stripe's phase grows to
// 2 x stripes across the tile, which the saw's drop and the sharpening turn into a jump, so
// Stripes is measured on its unsharpened profile with a saw's 0 and 1 the same phase.
float StripesProfileSeam(const ProceduralTexture& stripes)
{
    const std::unique_ptr<ProceduralTexture> plain = CreateProceduralTexture("Stripes");
    plain->values = stripes.values;
    plain->SetValue("sharpness", 0.0f);
    const bool saw = plain->GetValue("profile") == 1.0f;
    float largest = 0.0f;
    for (int i = 0; i < 64; ++i) {
        const float t = testing::PixelCentre(i, 64);
        for (const float step : {std::fabs(plain->Evaluate(0.0f, t) - plain->Evaluate(1.0f, t)),
                                 std::fabs(plain->Evaluate(t, 0.0f) - plain->Evaluate(t, 1.0f))})
            largest = std::max(largest, saw ? std::min(step, 1.0f - step) : step);
    }
    return largest;
}

// Bricks with neither mortar nor bevel meet face to face in a step right on the tile's edges,
// where the last rounding bit picks the side a sample falls on: no seam to measure there.
float BricksSeamWithAJoint(const ProceduralTexture& bricks)
{
    const bool facesMeet = bricks.GetValue("mortar") == 0.0f && bricks.GetValue("bevel") == 0.0f;
    return facesMeet ? 0.0f : testing::LargestSeamStep(bricks, 64);
}

// One case per pattern, so that they run side by side.
class EveryPattern : public ::testing::TestWithParam<std::string> {};

TEST_P(EveryPattern, RandomParameterSetsGiveUnitHeightsAndSeamlessTiles)
{
    const std::map<std::string, float> looser = {{"Caustic Rock", 1e-3f}, {"Flat Rock", 1e-3f}, {"Wire Mesh", 1e-3f},
                                                 {"Wood Rings", 1e-3f},   {"Contours", 2e-3f},  {"Timber", 0.03f}};
    const std::map<std::string, testing::SeamStep> ownSeam = {
        {"Stripes", StripesProfileSeam}, {"Bricks", BricksSeamWithAJoint}};
    const std::string& name = GetParam();
    const auto seed = static_cast<std::uint32_t>(100 + name.size() * 7 + static_cast<unsigned char>(name[0]));
    const auto tolerance = looser.find(name);
    const auto seam = ownSeam.find(name);
    testing::ExpectSoundRandomRenders(name.c_str(), seed, tolerance == looser.end() ? 1e-4f : tolerance->second,
                                      seam == ownSeam.end() ? testing::PlainSeamStep : seam->second);
}

INSTANTIATE_TEST_SUITE_P(Registry, EveryPattern, ::testing::ValuesIn(ProceduralTextureNames()), [](const auto& info) {
    std::string name = info.param;
    name.erase(std::remove(name.begin(), name.end(), ' '), name.end());
    return name;
});

// Every pattern rests on the middle level, but the machined ones on their plate or top (with
// their own tests). Leather, Stripes and Wood Pores give NaN at non-finite and huge coordinates
// (the renderer, which only asks inside the tile, turns any NaN into 0); the others reduce the
// coordinates to the tile first.
TEST(ProceduralPatterns, RestLevelsAndHeightsAtNonFiniteAndHugeCoordinates)
{
    for (const std::string& name : ProceduralTextureNames()) {
        const std::unique_ptr<ProceduralTexture> pattern = CreateProceduralTexture(name);
        if (name != "Dots" && name != "Knurl" && name != "Tread Plate") {
            pattern->SetValue("invert", 1.0f);
            EXPECT_TRUE(pattern->MidLevel() == 0.5f && pattern->MidLevelAfterInvert() == 0.5f) << name;
        }
        if (name == "Leather" || name == "Stripes" || name == "Wood Pores")
            continue;
        for (const float bad : {NAN, INFINITY, -INFINITY, 1e30f, -3e38f, 16777217.0f})
            for (const auto& [u, v] : {std::pair{bad, 0.5f}, {0.5f, bad}}) {
                const float h = pattern->Evaluate(u, v);
                EXPECT_TRUE(std::isfinite(h) && h >= 0.0f && h <= 1.0f) << name << " at " << u << "," << v << ": " << h;
            }
    }
}

}  // namespace
}  // namespace grainforge::mesh::procedural
