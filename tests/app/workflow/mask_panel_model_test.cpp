// The mask panel's field texts, which typed fields reach the volume, the list rebuild rule and
// where the panel opens.
#include "app/workflow/mask_panel_model.h"

#include "engine/mesh/test_shapes.h"

#include <gtest/gtest.h>

namespace grainforge::app {
namespace {

mesh::MaskVolume Volume()
{
    mesh::MaskVolume v;
    v.center = {1.23456f, -7.891f, 12.5f + 3.3333f};
    v.size = {10.004f, 2.5f, 0.75f};
    v.rotationDegrees = {0.0f, 33.3333f, -90.0f};
    v.featherMillimetres = 0.125f;
    v.name = "Keep plain";
    return v;
}

TEST(MaskPanelModel, FieldTexts)
{
    const std::pair<float, const wchar_t*> cases[] = {
        {2.5f, L"2.5"},     {3.0f, L"3"},       {0.0f, L"0"},     {-0.001f, L"0"}, {0.0049f, L"0"},
        {1.23456f, L"1.23"}, {-7.891f, L"-7.89"}, {100.1f, L"100.1"}, {1e30f, L"1000000015047466219876688855040"},
    };
    for (const auto& [value, text] : cases)
        EXPECT_EQ(FormatMaskField(value), text) << value;
    EXPECT_EQ(MaskFieldTextsOf(Volume(), 12.5f)[2], L"3.33") << "z above the bed";
}

TEST(MaskPanelModel, UnchangedTextsLeaveTheVolumeExact)
{
    const mesh::MaskVolume volume = Volume();
    const MaskFieldTexts shown = MaskFieldTextsOf(volume, 12.5f);
    EXPECT_TRUE(mesh::MaskVolumeEquals(ApplyMaskFieldEdits(volume, shown, shown, 12.5f), volume))
        << "tabbing through the fields must not round the volume to the shown 0.01";
}

TEST(MaskPanelModel, TypedFieldsApplyWithTheirLimits)
{
    const mesh::MaskVolume volume = Volume();
    const MaskFieldTexts shown = MaskFieldTextsOf(volume, 12.5f);
    struct Case {
        int field;
        const wchar_t* typed;
        float mesh::MaskVolume::*scalar;  // feather, or null for a vector field
        float want;
    };
    const auto component = [](const mesh::MaskVolume& v, int field) {
        const mesh::Vec3 vectors[3] = {v.center, v.size, v.rotationDegrees};
        const mesh::Vec3 vec = vectors[field / 3];
        return field % 3 == 0 ? vec.x : (field % 3 == 1 ? vec.y : vec.z);
    };
    const Case cases[] = {
        {0, L"5", nullptr, 5.0f},        {2, L"5", nullptr, 17.5f},       {2, L"0", nullptr, 12.5f},
        {3, L"0.1", nullptr, 10.004f},   {5, L"-3", nullptr, 0.75f},      {7, L"45 deg", nullptr, 45.0f},
        {0, L"abc", nullptr, 1.23456f},  {1, L"", nullptr, -7.891f},      {9, L"-1", &mesh::MaskVolume::featherMillimetres, 0.125f},
        {9, L"2.25", &mesh::MaskVolume::featherMillimetres, 2.25f},
        // Refused as the dialogs refuse (the value stays): a size below 0.5 mm or negative used to
        // be raised without a word, a centre of 1e30 mm taken, "1,500.5" read as 1.
        {0, L"1e30", nullptr, 1.23456f}, {1, L"1,500.5", nullptr, -7.891f}, {8, L"-90\u00b0", nullptr, -90.0f},
    };
    for (const Case& c : cases) {
        MaskFieldTexts typed = shown;
        typed[static_cast<std::size_t>(c.field)] = c.typed;
        const mesh::MaskVolume edited = ApplyMaskFieldEdits(volume, shown, typed, 12.5f);
        const float got = c.scalar != nullptr ? edited.*c.scalar : component(edited, c.field);
        EXPECT_FLOAT_EQ(got, c.want) << "field " << c.field << " typed " << std::string(c.typed, c.typed + wcslen(c.typed));
        // Every other field keeps its exact value.
        for (int other = 0; other < 9; ++other)
            if (other != c.field) {
                EXPECT_EQ(component(edited, other), component(volume, other)) << other;
            }
    }
}

TEST(MaskPanelModel, RefusedFieldsNameTheirRange)
{
    const MaskFieldTexts shown = MaskFieldTextsOf(Volume(), 12.5f);
    const std::pair<int, const wchar_t*> cases[] = {
        {0, L"Position X must be from -10000 to 10000 mm."}, {4, L"Size Y must be from 0.5 to 10000 mm."},
        {9, L"Feather must be from 0 to 10000 mm."},
    };
    const wchar_t* const typed[] = {L"1e30", L"-3", L"-1"};
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        MaskFieldTexts texts = shown;
        texts[static_cast<std::size_t>(cases[i].first)] = typed[i];
        const MaskFieldRefusal refusal = CheckMaskFieldEdits(shown, texts);
        EXPECT_EQ(refusal.field, cases[i].first);
        EXPECT_EQ(refusal.text, cases[i].second);
    }
    EXPECT_EQ(CheckMaskFieldEdits(shown, shown).field, -1);
    // Each refused field is flagged, so each keeps its text; the first is said.
    MaskFieldTexts two = shown;
    two[3] = L"0.1";
    two[9] = L"nan";
    two[5] = L"7";
    const MaskFieldRefusal both = CheckMaskFieldEdits(shown, two);
    EXPECT_EQ(both.field, 3);
    EXPECT_EQ(both.text, L"Size X must be from 0.5 to 10000 mm.");
    std::array<bool, kMaskFieldCount> flagged{};
    flagged[3] = flagged[9] = true;
    EXPECT_EQ(both.refused, flagged);
}

TEST(MaskPanelModel, BedBaseHeightAndListRebuild)
{
    mesh::TriangleMesh cube = mesh::MakeTestCube(10.0f);
    EXPECT_FLOAT_EQ(BedBaseHeight(cube), cube.boundsMin.z);
    cube.boundsValid = false;
    EXPECT_EQ(BedBaseHeight(cube), 0.0f);
    EXPECT_EQ(BedBaseHeight(mesh::TriangleMesh{}), 0.0f);

    const std::vector<mesh::MaskVolume> shown{Volume(), Volume()};
    std::vector<mesh::MaskVolume> volumes = shown;
    volumes[1].enabled = 0;
    volumes[1].center.x = 40.0f;
    EXPECT_FALSE(VolumeListNeedsRebuild(shown, volumes)) << "check and place change without a rebuild";
    volumes[1].name = "other";
    EXPECT_TRUE(VolumeListNeedsRebuild(shown, volumes));
    volumes[1] = shown[1];
    volumes[1].shape = mesh::MaskShape::Sphere;
    EXPECT_TRUE(VolumeListNeedsRebuild(shown, volumes));
    EXPECT_STREQ(MaskShapeName(static_cast<mesh::MaskShape>(7)), L"Volume");
}

// The list's columns share its width while both read whole so; else each keeps what its text
// needs, the names the rest, and a list narrower than both scrolls across.
TEST(MaskPanelModel, ListColumnsKeepTheirTextsWhole)
{
    const struct {
        int room;
        std::array<int, 2> needs, widths;
    } rows[] = {
        {170, {60, 40}, {105, 62}},   // 1600 x 1000: shared as ever
        {170, {120, 40}, {128, 40}},  // a long name
        {170, {40, 80}, {88, 80}},    // a long shape
        {45, {80, 50}, {80, 50}},     // 800 x 600: wider than the list
        {128, {80, 50}, {80, 50}},    // just not room for both
        {0, {80, 50}, {80, 50}},
    };
    for (const auto& row : rows) {
        const std::array<int, 2> widths = MaskListColumnWidths(row.room, row.needs);
        EXPECT_EQ(widths, row.widths) << row.room << ": " << row.needs[0] << ", " << row.needs[1];
        EXPECT_GE(widths[0], row.needs[0]);
        EXPECT_GE(widths[1], row.needs[1]);
    }
}

}  // namespace
}  // namespace grainforge::app
