// Process, Check Printability and the Save STL check on one relief with folds and overhangs:
// on the same mesh their counts agree; on a mesh the export's fixes changed the checklist says
// so, and never counts again what a fix reported as settled.
#include "app/document/log_text.h"
#include "app/workflow/dialogs/export_check.h"
#include "tests/app/document/document_fixture.h"

#include "engine/mesh/test_shapes.h"
#include "engine/textures/procedural_registry.h"
#include "tests/support/shapes.h"

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

// What Repair's box says the Save STL check does with the triangles passing through others is
// what the check then leaves: all parted, or so many staying, named for where they lie. It once
// said "Save STL mends those" of overlapping bodies the check leaves as they are. The check's
// rounds are forecast only when Repair changed how many cross (here by taking away a crumb
// through the surface); crossings Repair leaves as they came are counted, nothing is promised
// of them, and the check says what it parts when the part is saved.
TEST(CheckCountsTest, RepairSaysHowManyCrossingsTheCheckLeaves) {
  mesh::TriangleMesh dragged = mesh::MakeTestSphere(10);  // a vertex dragged across its neighbour
  const mesh::VertexAdjacency adjacency = mesh::BuildVertexAdjacency(dragged);
  const mesh::Vec3 to = dragged.vertices[adjacency.neighbours[adjacency.neighbourOffsets[2000]]].position;
  dragged.vertices[2000].position += (to - dragged.vertices[2000].position) * 1.5f;
  const mesh::TriangleMesh cubes =
      test::Combined(mesh::MakeTestCube(10), test::Translated(mesh::MakeTestCube(10), {5, 5, 5}));
  mesh::TriangleMesh spiked = test::MakeGridTopBox(8, 10.0f);  // a top vertex pushed through the bottom
  spiked.vertices[4 * 9 + 4].position.z = -5.0f;
  // A 0.1 mm crumb through the sphere's surface, which Repair takes away.
  const mesh::TriangleMesh crumb = test::MakeBox({9.95f, -0.05f, -0.05f}, {10.05f, 0.05f, 0.05f});
  const char* const unpromised = "through others: Repair does not move the surface.";
  const struct {
    const char* what;
    mesh::TriangleMesh part;
    const char* says;
  } cases[] = {
      {"a dragged vertex", dragged, unpromised},
      {"overlapping cubes", cubes, unpromised},
      {"both", test::Combined(dragged, test::Translated(cubes, {30, 0, 0})), unpromised},
      {"a spike through the bottom", spiked, unpromised},
      {"a dragged vertex and a crumb through the surface", test::Combined(dragged, crumb), "parts them all."},
      {"overlapping cubes and a crumb through the sphere",
          test::Combined(test::Combined(mesh::MakeTestSphere(10), crumb), test::Translated(cubes, {30, 0, 0})),
          "where bodies overlap or touch"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    test::DocumentFixture f;
    f.doc->InstallGeneratedPart(c.part, "Part", L"Part", "Part.");
    f.host.answers = {PromptAnswer::yes};
    f.doc->OnMeshRepair();
    const std::string box = WideToUtf8(f.host.information.back().first);
    ASSERT_NE(box.find(c.says), std::string::npos) << box;
    if (c.says == unpromised) {
      EXPECT_EQ(box.find("Save STL"), std::string::npos) << box;
      continue;
    }
    const std::uint64_t promised = Number(box, R"(([\d,]+) that stays?)");
    std::string report;
    f.host.exportDialog = [&](const ExportDialogRequest& r) -> std::optional<ExportDialogResult> {
      ExportCheckShared shared;
      (void)RunExportCheck({*r.mesh, r.weldTolerance, {r.cleanup, r.fixes}, r.bodies, r.check}, shared, {});
      report = shared.outcome.report;
      return std::nullopt;
    };
    CGrainforgeDoc::ExportPlan plan;
    (void)f.doc->PrepareExport(plan);
    EXPECT_EQ(Number(report, R"(([\d,]+) triangles passing through others)"), promised) << box << "\n" << report;
  }
}

}  // namespace
}  // namespace grainforge::app
