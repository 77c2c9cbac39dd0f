#include "app/workflow/dialogs/relief_dialog_model.h"

#include "engine/mesh/test_shapes.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace grainforge::app {
namespace {

TEST(ReliefDialogModel, FormatCountGroupsThousands) {
  const std::vector<std::pair<std::uint64_t, std::wstring>> cases = {
      {0, L"0"}, {999, L"999"}, {1000, L"1,000"}, {1234567, L"1,234,567"},
      {18446744073709551615ull, L"18,446,744,073,709,551,615"}};
  for (const auto& [count, text] : cases) EXPECT_EQ(FormatCount(count), text);
}

// "No limit" (0) must survive opening the dialog and pressing OK; typed limits are millions. A
// typing mistake ("-3", "2 mil") keeps the stored limit: it never turns the limit off, and
// "2 mil" is no 2 million.
TEST(ReliefDialogModel, LimitFieldsKeepNoLimit) {
  struct Case {
    const wchar_t* typed;
    std::uint64_t stored;
    std::uint64_t expected;
  };
  const std::vector<Case> cases = {
      {L"", 18000000, 0},          {L"  ", 5, 0},           {L"0", 18000000, 0},
      {L"-3", 18000000, 18000000},        {L"500", 0, 200000000},  {L"0.01", 0, 100000},
      {L"18", 0, 18000000},        {L"no limit", 7, 7},     {L"2.5 million", 0, 2500000},
      {L"2 mil", 7, 7},            {L"2 milli", 7, 7},      {L"0,5", 0, 500000}};
  for (const Case& c : cases) EXPECT_EQ(ReadLimitField(c.typed, c.stored), c.expected) << c.typed;
  EXPECT_EQ(LimitFieldText(0), L"");
  EXPECT_EQ(LimitFieldText(18000000), L"18");
  for (std::uint64_t limit : {std::uint64_t{0}, std::uint64_t{4000000}, std::uint64_t{100000}})
    EXPECT_EQ(ReadLimitField(LimitFieldText(limit), limit), limit);
}

ReliefDialogFields FieldsShowing(const ReliefDialogValues& v) {
  ReliefDialogFields f;
  f.triangleSize = std::to_wstring(v.remesh.targetEdgeMillimetres);
  f.strength = std::to_wstring(v.displacement.strengthMillimetres);
  f.midlevel = std::to_wstring(v.displacement.midLevel);
  f.triangleLimit = LimitFieldText(v.triangleLimit);
  f.displayLimit = LimitFieldText(v.displayLimit);
  f.planarTolerance = L"0.0001";
  f.detailLevel = L"0.01";
  return f;
}

TEST(ReliefDialogModel, OkWithUntouchedFieldsKeepsNoLimits) {
  ReliefDialogValues values;
  values.triangleLimit = 0;
  values.displayLimit = 0;
  ReadReliefFields(FieldsShowing(values), values);
  EXPECT_EQ(values.triangleLimit, 0u);
  EXPECT_EQ(values.displayLimit, 0u);
}

TEST(ReliefDialogModel, StrengthIsClampedLikeTheReliefSection) {
  struct Case {
    const wchar_t* typed;
    float stored;
    float expected;
  };
  const std::vector<Case> cases = {{L"-5", 1.0f, 0.0f},     {L"1e30", 1.0f, kMaxReliefStrengthMillimetres},
                                   {L"2.5", 1.0f, 2.5f},    {L"abc", 0.7f, 0.7f},
                                   {L"", 1e9f, kMaxReliefStrengthMillimetres}, {L"inf", 3.0f, 3.0f}};
  for (const Case& c : cases) {
    ReliefDialogValues values;
    values.displacement.strengthMillimetres = c.stored;
    ReliefDialogFields fields = FieldsShowing(values);
    fields.strength = c.typed;
    ReadReliefFields(fields, values);
    EXPECT_FLOAT_EQ(values.displacement.strengthMillimetres, c.expected) << c.typed;
  }
}

TEST(ReliefDialogModel, OkClampsEveryField) {
  ReliefDialogValues values;
  values.manualMidlevel = 0.3f;
  ReliefDialogFields f = FieldsShowing(values);
  f.triangleSize = L"0.001";
  f.planarTolerance = L"5";
  f.detailLevel = L"0";
  f.midlevel = L"2";
  f.direction = 2;
  f.automaticMidlevel = true;
  f.keepBedFlat = true;
  ReadReliefFields(f, values);
  EXPECT_FLOAT_EQ(values.remesh.targetEdgeMillimetres, 0.01f);
  EXPECT_FLOAT_EQ(values.simplify.planarToleranceMillimetres, 1.0f);
  EXPECT_FLOAT_EQ(values.simplify.meshDetailError, 0.00001f);
  EXPECT_FLOAT_EQ(values.displacement.midLevel, 1.0f);
  EXPECT_EQ(values.displacement.direction, mesh::DisplacementDirection::inward);
  EXPECT_EQ(values.displacement.midLevelMode, mesh::MidLevelMode::automatic);
  EXPECT_TRUE(values.displacement.base.enabled);

  f.triangleSize = L"not a number";
  f.planarTolerance = L"0";
  f.detailLevel = L"100";
  f.midlevelEnabled = false;  // automatic on: the kept manual midlevel is stored
  f.direction = 7;
  ReadReliefFields(f, values);
  EXPECT_FLOAT_EQ(values.remesh.targetEdgeMillimetres, 0.01f);
  EXPECT_FLOAT_EQ(values.simplify.planarToleranceMillimetres, 0.000001f);
  EXPECT_FLOAT_EQ(values.simplify.meshDetailError, 10.0f);
  EXPECT_FLOAT_EQ(values.displacement.midLevel, 0.3f);
  EXPECT_EQ(values.displacement.direction, mesh::DisplacementDirection::centred);
}

TEST(ReliefDialogModel, EstimateSaysWhenProcessWouldRefuse) {
  const mesh::RemeshSettings remesh;
  EXPECT_EQ(EstimateTriangleText(nullptr, remesh, L"0.2", L"18", 18000000),
            L"Open a part to see how many triangles the relief makes.");
  const mesh::TriangleMesh cube = mesh::MakeTestCube(20.0f);
  const std::wstring fine = EstimateTriangleText(&cube, remesh, L"0.02", L"0.1", 18000000);
  EXPECT_EQ(fine.rfind(L"About ", 0), 0u) << fine;
  EXPECT_NE(fine.find(L" triangles at 0.02 mm"), std::wstring::npos) << fine;
  EXPECT_NE(fine.find(L" Over the triangle limit of 0.1 million: Process would refuse it."), std::wstring::npos);
  // No limit, or a limit above the count: no warning.
  EXPECT_EQ(EstimateTriangleText(&cube, remesh, L"0.02", L"", 18000000).find(L"Over"), std::wstring::npos);
  EXPECT_EQ(EstimateTriangleText(&cube, remesh, L"0.02", L"200", 0).find(L"Over"), std::wstring::npos);
  // A part too large for the finest cells says what size it is made at.
  const mesh::TriangleMesh large = mesh::MakeTestCube(100.0f);
  const std::wstring capped = EstimateTriangleText(&large, remesh, L"0.01", L"", 0);
  EXPECT_NE(capped.find(L" triangles at 0.01 mm (made at 0.02 mm, the finest this part allows)."), std::wstring::npos)
      << capped;
}

// The Triangle limit was refused only by a message at OK; the line under the limits says what
// OK would refuse as it is typed, the first field first.
TEST(ReliefDialogModel, EstimateLineSaysARefusedSizeOrLimit) {
  const struct {
    const wchar_t *size, *limit, *display, *said;
  } cases[] = {
      {L"0.2", L"", L"", L""},
      {L"0.2", L"0", L"4", L""},
      {L"0.2", L"0.05", L"", L"Triangle limit must be from 0.1 to 200 million. Leave it empty, or 0, for no limit."},
      {L"0.2", L"2 mil", L"", L"Triangle limit must be a number from 0.1 to 200 million. Leave it empty, or 0, for no "
                              L"limit. \"mil\" is not its unit: type the number in million."},
      {L"0.2", L"", L"999", L"Display limit must be from 0.1 to 200 million. Leave it empty, or 0, for no limit."},
      {L"0.001", L"0.05", L"", L"Triangle size must be from 0.01 to 100000 mm."},
  };
  for (const auto& c : cases) EXPECT_EQ(ReliefEstimateRefusal(c.size, c.limit, c.display), c.said) << c.limit;
}

TEST(ReliefDialogModel, MidlevelFieldShowsThreeSignificantDigits) {
  EXPECT_EQ(MidlevelFieldText(0.123456f), L"0.123");
  EXPECT_EQ(MidlevelFieldText(0.5f), L"0.5");
  EXPECT_EQ(MidlevelFieldText(1.0f), L"1");
  EXPECT_EQ(MidlevelFieldText(std::nullopt), L"");
}

TEST(ReliefDialogModel, AutomaticMidlevelFollowsTheDirection) {
  EXPECT_FALSE(AutomaticMidlevel(nullptr, 0));
  EXPECT_EQ(ZeroLevelExplanation(nullptr, true, 0).rfind(L"Automatic: worked out from the texture once there is one. Outward", 0), 0u);
  EXPECT_EQ(ZeroLevelExplanation(nullptr, false, 1).rfind(L"Outward only cannot thin a wall", 0), 0u);
  mesh::HeightMap map;
  std::vector<float> pixels(64);
  for (std::size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<float>(i) / 63.0f;
  map.SetImage(8, 8, pixels);
  ASSERT_TRUE(AutomaticMidlevel(&map, 0));
  EXPECT_FLOAT_EQ(*AutomaticMidlevel(&map, 0), 0.5f);
  EXPECT_LT(*AutomaticMidlevel(&map, 1), *AutomaticMidlevel(&map, 2));
  EXPECT_NE(ZeroLevelExplanation(&map, true, 2).find(L"from the image's lightest"), std::wstring::npos);
}

TEST(ReliefDialogModel, RemeshInputReadsMethodAndSize) {
  mesh::RemeshSettings stored;
  stored.targetEdgeMillimetres = 0.5f;
  struct Case {
    int selection;
    const wchar_t* size;
    mesh::RemeshMethod method;
    float edge;
  };
  for (const Case c : {Case{0, L"0.3", mesh::RemeshMethod::isotropic, 0.3f},
                       Case{1, L"0.001", mesh::RemeshMethod::contour, 0.01f},
                       Case{1, L"0,5 cm", mesh::RemeshMethod::contour, 0.5f},
                       Case{-1, L"x", mesh::RemeshMethod::contour, 0.5f}}) {
    const mesh::RemeshSettings read = ReadRemeshInputFields(stored, c.selection, c.size);
    EXPECT_EQ(read.method, c.method);
    EXPECT_FLOAT_EQ(read.targetEdgeMillimetres, c.edge);
  }
  EXPECT_FALSE(RemeshInputEstimateText(nullptr, stored, 1, L"0.5"));
  const mesh::TriangleMesh cube = mesh::MakeTestCube(20.0f);
  const std::optional<std::wstring> text = RemeshInputEstimateText(&cube, stored, 1, L"0.5");
  ASSERT_TRUE(text);
  EXPECT_EQ(text->rfind(L"About ", 0), 0u);
  EXPECT_NE(text->find(L" triangles from 12. The result replaces the part as loaded"), std::wstring::npos) << *text;
  // A size about as large as the part shows no count the job would refuse, but the size it
  // takes; that size, typed back, shows a count.
  for (const auto& [selection, size] : {std::pair{1, L"100"}, std::pair{1, L"1000"}, std::pair{0, L"100"},
                                        std::pair{1, L"40"}}) {
    const std::wstring coarse = RemeshInputEstimateText(&cube, stored, selection, size).value_or(L"");
    EXPECT_EQ(coarse.rfind(L"Too few triangles for the part's surface: triangles of ", 0), 0u) << size;
    const std::wstring atMost = L"A triangle size of at most ";
    const std::size_t at = coarse.find(atMost);
    ASSERT_NE(at, std::wstring::npos) << size;
    const std::wstring advised = coarse.substr(at + atMost.size(), coarse.find(L" mm", at) - at - atMost.size());
    EXPECT_EQ(RemeshInputEstimateText(&cube, stored, selection, advised).value_or(L"").rfind(L"About ", 0), 0u)
        << size << " then " << advised;
  }
  // Read as the Remesh button reads it: "0,5 cm" used to show the count for 0.5 mm, until the
  // button refused it. A text it refuses shows no estimate but the button's refusal (it was
  // said only by a message at OK), and so does the relief dialog's line.
  for (const wchar_t* refused : {L"0,5 cm", L"2 millimetres", L"0.001", L"abc", L""}) {
    const std::wstring said = RemeshInputEstimateText(&cube, stored, 1, refused).value_or(L"");
    EXPECT_EQ(said.rfind(L"Triangle size must be ", 0), 0u) << refused << ": " << said;
    EXPECT_EQ(ReliefEstimateRefusal(refused, L"", L""), said) << refused;
    EXPECT_EQ(EstimateTriangleText(&cube, stored, refused, L"", 0), std::wstring()) << refused;
  }
  EXPECT_NE(EstimateTriangleText(&cube, stored, L"0,5 mm", L"", 0).find(L" triangles at 0.5 mm"), std::wstring::npos);
}

}  // namespace
}  // namespace grainforge::app
