#include "app/workflow/dialogs/procedural_dialog_model.h"

#include "engine/textures/procedural_registry.h"
#include "tests/app/workflow/markdown_test_fonts.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace grainforge::app {
namespace {

namespace procedural = mesh::procedural;

// A pattern whose table and heights the tests choose: u across the tile.
class RampPattern final : public procedural::ProceduralTexture {
public:
  RampPattern() {
    table_ = {procedural::MakeIntParameter("cells", "Cells | count", 3, 64, 8, "How many\ncells."),
              procedural::MakeFloatParameter("depth", "Depth", 0.0f, 2.0f, 1.0f, "Height of a | step.", 0.01f)};
    ResetToDefaults();
  }
  const std::string& Name() const override { return name_; }
  const std::vector<procedural::ParameterSpec>& PatternParameters() const override { return table_; }
  float Evaluate(float u, float) const override { return u; }

private:
  std::string name_ = "Ramp";
  std::vector<procedural::ParameterSpec> table_;
};

TEST(ProceduralDialogModel, SliderScalesFollowTheParameterKind) {
  struct Case {
    procedural::ParameterSpec spec;
    int steps;
    int page;
  };
  const std::vector<Case> cases = {
      {procedural::MakeIntParameter("n", "N", 3, 64, 8, ""), 61, 6},
      {procedural::MakeIntParameter("n", "N", 5, 5, 5, ""), 1, 1},
      {procedural::MakeIntParameter("n", "N", 0, 5, 1, ""), 5, 1},
      {procedural::MakeFloatParameter("r", "R", 0.0f, 0.1f, 0.05f, "", 0.01f), 1000, 100},
  };
  for (const Case& c : cases) {
    const SliderScale scale = SliderScaleOf(c.spec);
    EXPECT_EQ(scale.steps, c.steps) << c.spec.minimum << ".." << c.spec.maximum;
    EXPECT_EQ(scale.page, c.page);
  }
}

TEST(ProceduralDialogModel, SliderPositionsAndValuesMeetAtTheEnds) {
  const auto integer = procedural::MakeIntParameter("n", "N", 3, 64, 8, "");
  const auto real = procedural::MakeFloatParameter("r", "R", -1.0f, 1.0f, 0.0f, "", 0.01f);
  struct Case {
    const procedural::ParameterSpec* spec;
    float value;
    int position;
  };
  const std::vector<Case> cases = {{&integer, 3.0f, 0},   {&integer, 64.0f, 61}, {&integer, 10.0f, 7},
                                   {&integer, 999.0f, 61}, {&integer, -5.0f, 0},  {&real, 0.0f, 500},
                                   {&real, 1.0f, 1000},    {&real, -1.0f, 0}};
  for (const Case& c : cases) {
    EXPECT_EQ(SliderPosition(*c.spec, c.value), c.position) << c.value;
    EXPECT_FLOAT_EQ(SliderValue(*c.spec, c.position), std::clamp(c.value, c.spec->minimum, c.spec->maximum));
  }
  const auto flat = procedural::MakeFloatParameter("f", "F", 2.0f, 2.0f, 2.0f, "", 0.01f);
  EXPECT_EQ(SliderPosition(flat, 2.0f), 0);
}

PresetEntry Entry(const wchar_t* name, LibraryItemOrigin origin) {
  PresetEntry entry;
  entry.name = name;
  entry.origin = origin;
  return entry;
}

TEST(ProceduralDialogModel, FactoryPresetsComeFirstAndEachGroupIsInNameOrder) {
  using O = LibraryItemOrigin;
  std::vector<PresetEntry> entries = {Entry(L"zeta", O::UserOnly),     Entry(L"Fine", O::FactoryOnly),
                                      Entry(L"alpha", O::UserOnly),    Entry(L"coarse", O::UserOverFactory),
                                      Entry(L"Fine grain", O::FactoryOnly), Entry(L"Alpha", O::UserOnly)};
  EXPECT_EQ(SortPresetEntries(entries), 3u);
  std::vector<std::wstring> names;
  for (const PresetEntry& e : entries) names.push_back(e.name);
  // The two spellings of "alpha" keep their order (a stable sort).
  EXPECT_EQ(names, (std::vector<std::wstring>{L"coarse", L"Fine", L"Fine grain", L"alpha", L"Alpha", L"zeta"}));

  std::vector<PresetEntry> factoryOnly = {Entry(L"b", O::FactoryOnly), Entry(L"a", O::FactoryOnly)};
  EXPECT_EQ(SortPresetEntries(factoryOnly), 2u);
  std::vector<PresetEntry> none;
  EXPECT_EQ(SortPresetEntries(none), 0u);
  EXPECT_EQ(FindPresetEntry(entries, L"ALPHA"), 4);
  EXPECT_EQ(FindPresetEntry(entries, L"missing"), -1);
}

TEST(ProceduralDialogModel, PreviewRepeatsTheTileAndClampsTheTileCount) {
  RampPattern ramp;
  struct Case {
    int asked, tiles, side;
  };
  for (const Case c : {Case{1, 1, 512}, Case{2, 2, 512}, Case{3, 3, 510}, Case{0, 1, 512}, Case{9, 3, 510}}) {
    const ProceduralPreview preview = RenderProceduralPreview(ramp, c.asked);
    EXPECT_EQ(preview.tiles, c.tiles);
    ASSERT_EQ(preview.side, c.side);
    ASSERT_EQ(preview.pixels.size(), static_cast<std::size_t>(c.side * c.side));
    const std::size_t side = static_cast<std::size_t>(c.side);
    // Left edge of every tile dark, the right edge light; a tile later repeats it exactly.
    EXPECT_LE(preview.pixels[0] & 0xFF, 1u);
    EXPECT_GT(preview.pixels[static_cast<std::size_t>(preview.tile) - 1] & 0xFF, 250u);
    EXPECT_EQ(preview.pixels[5 * side + 7], preview.pixels[(5 + static_cast<std::size_t>(preview.tile) * (c.tiles - 1)) * side + 7]);
    EXPECT_EQ(preview.pixels[0] >> 24, 0xFFu);
  }
}

TEST(ProceduralDialogModel, HelpTableKeepsEachSettingOnOneRow) {
  RampPattern ramp;
  const std::wstring help = ProceduralHelpText(L"# Procedural", ramp);
  EXPECT_EQ(help.rfind(L"# Procedural\n\n### Ramp\n\n| Setting | Meaning |\n|:--|:--|\n", 0), 0u);
  EXPECT_NE(help.find(L"| Cells / count | How many cells. |\n"), std::wstring::npos);
  EXPECT_NE(help.find(L"| Depth | Height of a / step. |\n"), std::wstring::npos);
}

// Table cells are shown as plain text: every pattern's table shows its labels without the
// emphasis markers of running text.
TEST(ProceduralDialogModel, HelpTableCellsCarryNoMarkers) {
  const test::FakeMarkdownFonts fonts;
  for (const std::string& name : procedural::ProceduralTextureNames()) {
    const auto pattern = procedural::CreateProceduralTexture(name);
    ASSERT_NE(pattern, nullptr) << name;
    const MarkdownLayout layout = ParseMarkdown(ProceduralHelpText(L"# Procedural", *pattern),
                                                test::TestGeometry(900, 400), fonts);
    std::size_t rows = 0;
    for (const FormattedLine& line : layout.lines) {
      if (!line.isTableRow || line.isHeaderRow) continue;
      ++rows;
      ASSERT_FALSE(line.cells.empty()) << name;
      EXPECT_EQ(line.cells[0].find(L'*'), std::wstring::npos) << name;
    }
    EXPECT_EQ(rows, pattern->GetParameters().size()) << name;
  }
}

}  // namespace
}  // namespace grainforge::app
