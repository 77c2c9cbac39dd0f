// Process, Check Printability and the Save STL check on one relief with folds and overhangs:
// where they judge the same mesh their counts agree, and where the export's fixes changed it
// the checklist says so and never contradicts a count the fixes reported.
#include "app/document/document_reports.h"
#include "app/document/log_text.h"
#include "app/workflow/dialogs/export_check.h"
#include "tests/app/document/document_fixture.h"

#include "engine/textures/procedural_registry.h"

#include <gtest/gtest.h>

#include <optional>
#include <regex>
#include <string>

namespace grainforge::app {
namespace {

namespace mesh = grainforge::mesh;

// The export dialog without a window: runs the real check, with or without its fixes, keeps
// the report and cancels.
class CheckOnlyDialogs final : public IDocumentDialogs {
public:
  explicit CheckOnlyDialogs(bool fixes) : fixes_(fixes) {}
  std::optional<mesh::RemeshSettings> EditRemeshInput(const mesh::RemeshSettings&, const mesh::TriangleMesh&) override {
    return std::nullopt;
  }
  std::unique_ptr<mesh::procedural::ProceduralTexture> EditProceduralTexture(
      std::unique_ptr<mesh::procedural::ProceduralTexture>, int, const LibraryRoots&) override {
    return nullptr;
  }
  std::optional<ExportDialogResult> RunExportCheck(const ExportDialogRequest& request) override {
    ExportCheckOptions options{request.cleanup, request.fixes};
    if (!fixes_) options.fixes = {false, false, false, false};
    ExportCheckShared shared;
    (void)app::RunExportCheck({*request.mesh, request.weldTolerance, options, request.bodies, request.check}, shared, {});
    report = shared.outcome.report;
    return std::nullopt;
  }
  std::string report;

private:
  bool fixes_;
};

// The number the pattern's first group catches, or 0 when the text has no such line.
std::uint64_t Number(const std::string& text, const std::string& pattern) {
  std::smatch match;
  if (!std::regex_search(text, match, std::regex(pattern))) return 0;
  std::string digits = match[1];
  std::erase(digits, ',');
  return std::stoull(digits);
}

struct SupportCounts {
  std::uint64_t features = 0;
  std::uint64_t places = 0;
  friend bool operator==(const SupportCounts&, const SupportCounts&) = default;
};

// As the log's and the box's summary words them, and as the checklist's notes do.
SupportCounts SummaryCounts(const std::string& text) {
  return {Number(text, R"(([\d,]+) features? starts? in the air)"), Number(text, R"(([\d,]+) places? (?:is|are) laid)")};
}
SupportCounts ChecklistCounts(const std::string& text) {
  return {Number(text, R"(([\d,]+) feature\(s\) need support)"), Number(text, R"(([\d,]+) place\(s\) laid in the air)")};
}

TEST(CheckCountsTest, SameMeshSameCountsAndAChangedMeshIsNamed) {
  struct Case {
    const char* pattern;
    bool fixes;
  };
  // A fix's "0 left", and a later line that would count the same thing again.
  const std::pair<const char*, const char*> settled[] = {
      {R"(folded triangles: [^\r\n]* 0 left)", R"(([\d,]+) triangles folded over(?! at sharp places))"},
      {R"(self-intersecting triangles: [^\r\n]* 0 left)", R"(PROBLEM ([\d,]+) triangles passing through)"},
      {R"(non-manifold edges: [^\r\n]* 0 left)", R"(PROBLEM ([\d,]+) non-manifold edges)"},
  };
  for (const Case c : {Case{"Penrose", true}, Case{"Wood", true}, Case{"Penrose", false}, Case{"Wood", false}}) {
    SCOPED_TRACE(std::string(c.pattern) + (c.fixes ? " with fixes" : " without fixes"));
    test::DocumentFixture f;
    CGrainforgeDoc& doc = f.WithCube();
    // A deep vertex relief on a coarse remesh folds and overhangs.
    doc.remeshSettings.targetEdgeMillimetres = 0.5f;
    doc.displacementSettings.method = mesh::DisplacementMethod::mesh;
    doc.displacementSettings.preventFolds = false;
    doc.displacementSettings.strengthMillimetres = 6.0f;
    doc.RenderProceduralTexture(mesh::procedural::CreateProceduralTexture(c.pattern), L"");
    doc.RequestProcess();
    f.PollUntilReported();
    std::string log;
    for (const test::LoggedLine& line : f.host.lines) log += line.text + "\n";
    const SupportCounts processed = SummaryCounts(log);
    ASSERT_NE(processed.places, 0u) << log;

    doc.OnMeshCheckPrintability();
    EXPECT_EQ(SummaryCounts(WideToUtf8(f.host.information.back().first)), processed);

    CheckOnlyDialogs dialogs(c.fixes);
    DocumentHost host = f.host.Host();
    host.dialogs = &dialogs;
    doc.SetHost(host);
    CGrainforgeDoc::ExportPlan plan;
    (void)doc.PrepareExport(plan);
    const std::string& report = dialogs.report;
    const bool afterFixes = report.find("Before saving, after the fixes above:\r\n") != std::string::npos;
    EXPECT_NE(afterFixes, report.find("Before saving:\r\n") != std::string::npos) << report;
    EXPECT_EQ(afterFixes, c.fixes) << report;
    if (!afterFixes) {
      EXPECT_EQ(ChecklistCounts(report), processed) << report;
    }
    for (const auto& [fix, again] : settled) {
      const std::size_t at = report.find("Before saving");
      if (std::regex_search(report.substr(0, at), std::regex(fix))) {
        EXPECT_EQ(Number(report.substr(at), again), 0u) << report;
      }
    }
  }
}

}  // namespace
}  // namespace grainforge::app
