// Process, Check Printability and the Save STL check on one relief with folds and overhangs:
// on the same mesh their counts agree; on a mesh the export's fixes changed the checklist says
// so, and never counts again what a fix reported as settled.
#include "app/document/log_text.h"
#include "app/workflow/dialogs/export_check.h"
#include "tests/app/document/document_fixture.h"

#include "engine/textures/procedural_registry.h"

#include <gtest/gtest.h>

#include <regex>

namespace grainforge::app {
namespace {

// The number the pattern's group catches (thousands separators dropped), 0 when none matches.
std::uint64_t Number(const std::string& text, const char* pattern) {
  std::smatch match;
  if (!std::regex_search(text, match, std::regex(pattern))) return 0;
  return std::stoull(std::regex_replace(match[1].str(), std::regex(","), ""));
}

TEST(CheckCountsTest, SameMeshSameCountsAndAChangedMeshIsNamed) {
  const char* places[] = {R"(([\d,]+) places? (is|are) laid)", R"(([\d,]+) places? laid)"};
  const char* features[] = {R"(([\d,]+) features? starts?)", R"(([\d,]+) features? needs? support)"};
  // A fix's "0 left", and a later line that would count the same thing again.
  const std::pair<const char*, const char*> settled[] = {
      {R"(folded triangles: [^\r\n]* 0 left)", R"(([\d,]+) triangles folded over(?! at sharp places))"},
      {R"(self-intersecting triangles: [^\r\n]* 0 left)", R"(PROBLEM ([\d,]+) triangles passing)"}};
  for (const char* pattern : {"Penrose", "Wood"}) {
    for (const bool fixes : {true, false}) {
      SCOPED_TRACE(std::string(pattern) + (fixes ? " with fixes" : " without"));
      test::DocumentFixture f;
      CGrainforgeDoc& doc = f.WithCube();
      // A deep vertex relief on coarse triangles folds and overhangs; the rims take the walls' full
      // relief ("any"), and folds there cross.
      doc.remeshSettings.targetEdgeMillimetres = 0.5f;
      doc.displacementSettings.method = mesh::DisplacementMethod::mesh;
      doc.displacementSettings.preventFolds = false;
      doc.displacementSettings.strengthMillimetres = 6.0f;
      doc.displacementSettings.outsideRule = mesh::OutsideRule::any;
      doc.RenderProceduralTexture(mesh::procedural::CreateProceduralTexture(pattern), L"");
      doc.RequestProcess();
      f.PollUntilReported();
      std::string log;
      for (const test::LoggedLine& line : f.host.lines) log += line.text + "\n";
      doc.OnMeshCheckPrintability();
      const std::string box = WideToUtf8(f.host.information.back().first);
      std::string report;
      f.host.exportDialog = [&](const ExportDialogRequest& r) -> std::optional<ExportDialogResult> {
        const ExportCheckOptions options{r.cleanup, fixes ? r.fixes : mesh::RepairOptions{false, false, false, false}};
        ExportCheckShared shared;
        (void)RunExportCheck({*r.mesh, r.weldTolerance, options, r.bodies, r.check}, shared, {});
        report = shared.outcome.report;
        return std::nullopt;
      };
      CGrainforgeDoc::ExportPlan plan;
      (void)doc.PrepareExport(plan);
      const std::size_t at = report.find("Before saving");
      ASSERT_NE(at, std::string::npos) << report;
      EXPECT_EQ(report.compare(at, 38, "Before saving, after the fixes above:\r") == 0, fixes) << report;
      ASSERT_NE(Number(log, places[0]), 0u) << log;
      for (const auto& count : {places, features}) {
        EXPECT_EQ(Number(box, count[0]), Number(log, count[0]));
        EXPECT_TRUE(fixes || Number(report, count[1]) == Number(log, count[0])) << report;
      }
      for (const auto& [fix, again] : settled)
        EXPECT_FALSE(std::regex_search(report.substr(0, at), std::regex(fix)) && Number(report.substr(at), again) != 0)
            << report;
    }
  }
}

}  // namespace
}  // namespace grainforge::app
