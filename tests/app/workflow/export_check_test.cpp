#include "app/workflow/dialogs/export_check.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <deque>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "app/document/document_reports.h"
#include "app/document/log_text.h"
#include "engine/repair/fix_change.h"
#include "engine/mesh/test_shapes.h"
#include "engine/mesh/welding.h"
#include "tests/support/mesh_of.h"
#include "tests/support/shapes.h"

namespace grainforge::app {
namespace {

namespace mesh = grainforge::mesh;

ExportCheckFunction DocumentChecklist() {
  return [](const mesh::TriangleMesh& m, std::string& text) { return BeforeSavingReport(m, mesh::BaseProtection{}, text); };
}

mesh::TriangleMesh HoledCube() {
  mesh::TriangleMesh cube = mesh::MakeTestCube(20.0f);
  cube.indices.resize(cube.indices.size() - 3);
  return cube;
}

std::size_t Count(const std::string& text, const std::string& piece) {
  std::size_t n = 0;
  for (std::size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1)) ++n;
  return n;
}

struct SyncRun {
  ExportCheckShared shared;
  std::vector<bool> notices;  // false progress, true done
  bool finished = false;

  SyncRun(mesh::TriangleMesh part, ExportCheckOptions options, ExportCheckFunction check) {
    finished = RunExportCheck(ExportCheckJob{std::move(part), 0.0f, options, 1, std::move(check)}, shared,
                              [this](bool done) { notices.push_back(done); });
  }
  const ExportCheckOutcome& Outcome() const { return shared.outcome; }
};

ExportCheckOptions NoFixes(bool fillHoles) {
  ExportCheckOptions options;
  options.cleanup.fillHoles = fillHoles;
  options.fixes.splitNonManifoldEdges = options.fixes.unfoldTriangles = false;
  options.fixes.resolveSelfIntersections = options.fixes.removeCrumbs = false;
  return options;
}

TEST(ExportCheckWorkerTest, CleanCubePassesInOneRound) {
  SyncRun run(mesh::MakeTestCube(20.0f), ExportCheckOptions{}, DocumentChecklist());
  ASSERT_TRUE(run.finished);
  const ExportCheckOutcome& out = run.Outcome();
  EXPECT_TRUE(out.completed);
  EXPECT_TRUE(out.passed);
  EXPECT_EQ(out.mesh.indices.size(), 36u);
  EXPECT_EQ(out.report.rfind("Cleanup: nothing to do.\r\n\r\nFixes:\r\n", 0), 0u) << out.report;
  EXPECT_EQ(Count(out.report, "Read back as a slicer reads it: 12 triangles, nothing a slicer would refuse.\r\n\r\n"
                              "Before saving:\r\n"),
            1u)
      << out.report;
  EXPECT_GE(Count(out.report, "\r\n  ok      "), 5u);
  EXPECT_EQ(Count(out.report, "PROBLEM"), 0u);
  // No bare line feed survives the normalising.
  EXPECT_EQ(Count(out.report, "\n"), Count(out.report, "\r\n"));
  const ExportHeadline headline = FormatCheckHeadline(out.report, out.passed);
  EXPECT_EQ(headline.text, L"Ready to save: no problems found.");
  EXPECT_TRUE(headline.ok);
  // Progress first, the end last and once.
  ASSERT_FALSE(run.notices.empty());
  EXPECT_TRUE(run.notices.back());
  EXPECT_EQ(std::count(run.notices.begin(), run.notices.end(), true), 1);
}

// Fault pinned: a boss standing on a plate, two bodies touching face to face as CAD writes
// them, was lifted off the plate by the crossing fix under "Ready to save: no problems found.".
// Resting bodies are left where they are; a change the fixes did make beyond a small share is a
// problem the headline names.
TEST(ExportCheckWorkerTest, BodiesRestingOnEachOtherStayPutAndChangesReachTheHeadline) {
  const mesh::TriangleMesh boss = mesh::MakeTestCylinder(8.0f, 16.0f);
  mesh::TriangleMesh part = test::Combined(test::MakeBox({-20, -20, 0}, {20, 20, 1}), test::Translated(boss, {0, 0, 9}));
  part.ComputeBounds();
  SyncRun run(part, ExportCheckOptions{}, DocumentChecklist());
  const ExportCheckOutcome& out = run.Outcome();
  EXPECT_TRUE(out.completed);
  EXPECT_EQ(FormatCheckHeadline(out.report, out.passed).text, L"Ready to save: no problems found.") << out.report;
  EXPECT_FALSE(mesh::IsLargeFixChange(mesh::MeasureFixChange(part, out.mesh)));
  EXPECT_EQ(out.mesh.boundsMin, part.boundsMin);
  EXPECT_EQ(out.mesh.boundsMax, part.boundsMax);

  // A fold the fixes relax open: said with what the moves came to, against the part's thickness.
  mesh::TriangleMesh folded = mesh::MakeTestSphere(10.0f);
  const mesh::VertexAdjacency adjacency = mesh::BuildVertexAdjacency(folded);
  const std::uint32_t w = adjacency.neighbours[adjacency.neighbourOffsets[2000]];
  folded.vertices[2000].position += (folded.vertices[w].position - folded.vertices[2000].position) * 1.5f;
  SyncRun relaxed(folded, ExportCheckOptions{}, DocumentChecklist());
  EXPECT_EQ(Count(relaxed.Outcome().report, "  ok      the fixes changed each body by at most "), 1u) << relaxed.Outcome().report;
  EXPECT_EQ(Count(relaxed.Outcome().report, "% of its size, and moved the surface at most "), 1u);
  // The furthest either way: here the folded corner of the part, off what is written, where a
  // fold leaves no thickness to measure and the body's size is said.
  EXPECT_EQ(Count(relaxed.Outcome().report, "moved the surface at most 0.049 mm, where its body is 20.00 mm across\r\n"),
            1u) << relaxed.Outcome().report;

  // Fault pinned: 1e6 mm out the split that parts two cubes along their shared edge moves two
  // corners a float step (0.0625 mm) into one of them, which loses 1.04% of its own volume, and
  // the check called the part ready: the pair was measured as one body.
  mesh::TriangleMesh far = test::Translated(test::MakeWeldedCubePair({10, 10, 0}), {1e6f, 1e6f, 1e6f});
  far.ComputeBounds();
  SyncRun parted(far, ExportCheckOptions{}, DocumentChecklist());
  EXPECT_EQ(FormatCheckHeadline(parted.Outcome().report, parted.Outcome().passed).text,
            L"1 problem found: the fixes changed a body's volume by 1.0% (1000.00 to 989.61 mm3), the body 10.00 x "
            L"10.00 x 10.00 mm at (1000015.00, 1000015.00, 1000005.00).") << parted.Outcome().report;

  // The check's problem line for a change, as the headline quotes it.
  std::string report;
  bool passed = true;
  for (const std::string& line : mesh::FormatLargeFixChanges(
           mesh::MeasureFixChange(part, test::Combined(test::MakeBox({-20, -20, 0}, {20, 20, 1}),
                                                       test::Translated(boss, {0, 0, 9.32f})))))
    AppendCheckLine(report, passed, false, line);
  EXPECT_EQ(FormatCheckHeadline(report, passed).text,
            L"1 problem found: the fixes moved a side of a body by 0.32 mm along z, 2.0% of its 16.00 mm there.");
}

TEST(ExportCheckWorkerTest, HoledCubeReachesTheChecklistAndHeadline) {
  // Gap filling off so the hole stays; the fixes decide how many read-back rounds run.
  struct Case {
    bool fixes;
    std::size_t readBackLines;
    const char* lastEnding;
  };
  for (const Case& c : {Case{false, 1, "facets with no area.\r\n"}, Case{true, 3, "facets with no area.\r\n"}}) {
    ExportCheckOptions options = NoFixes(false);
    options.fixes.splitNonManifoldEdges = c.fixes;
    SyncRun run(HoledCube(), options, DocumentChecklist());
    const std::string& report = run.Outcome().report;
    EXPECT_TRUE(run.Outcome().completed);
    EXPECT_FALSE(run.Outcome().passed);
    EXPECT_EQ(Count(report, "Read back as a slicer reads it: 0 non-manifold edges, 3 open edges"), c.readBackLines)
        << report;
    EXPECT_EQ(Count(report, " - fixed again.\r\n"), c.readBackLines - 1);
    EXPECT_EQ(Count(report, c.lastEnding), 1u);
    EXPECT_EQ(Count(report, "  PROBLEM 3 open edges (watertight when zero)\r\n"), 1u) << report;
    const ExportHeadline headline = FormatCheckHeadline(report, false);
    EXPECT_FALSE(headline.ok);
    EXPECT_EQ(headline.text.rfind(L"1 problem found: 3 open edges (watertight when zero)", 0), 0u);
  }
}

// A blade standing on the bed, its two long faces meeting at under 8 degrees, one of them cut
// into a thin strip along the edge: the strip's first triangle faces against the faces round its
// corners, a fold that crosses nothing, which the fixes leave.
mesh::TriangleMesh StandingBlade() {
  const float length = 30.0f, half = 2.0f, height = 10.0f, strip = 0.1f;
  return test::MeshOf({{0, -half, 0}, {length, 0, 0}, {0, half, 0}, {0, -half, height}, {length, 0, height},
                       {0, half, height}, {length * (1 - strip), half * strip, 0},
                       {length * (1 - strip), half * strip, height}},
                      {0, 2, 6, 0, 6, 1, 3, 4, 7, 3, 7, 5, 6, 4, 1, 6, 7, 4, 2, 7, 6, 2, 5, 7,
                       0, 1, 4, 0, 4, 3, 0, 5, 2, 0, 3, 5});
}

// The fixes judge a body by its size: a plate of 12 facets beside a sphere and two cubes on one
// edge stays once the edge is split, and a crumb they take away is a note the headline counts,
// with its size and place, never a plain "no problems". So are the folds at a sharp edge that the
// fixes leave, once listed under "no problems found" and counted nowhere.
TEST(ExportCheckWorkerTest, BodyOfFewFacetsStaysAndARemovedCrumbIsANote) {
  mesh::TriangleMesh plated = test::Combined(
      test::Combined(test::Combined(mesh::MakeTestSphere(10.0f), test::MakeBox({20, 0, 0}, {22, 2, 2})),
                     test::MakeBox({22, 2, 0}, {24, 4, 2})),
      test::MakeBox({40, 0, 0}, {140, 100, 10}));
  mesh::WeldIdenticalVertices(plated);
  const struct {
    const char* what;
    mesh::TriangleMesh part;
    std::size_t triangles;
    const char* note;
    std::size_t crumbs;
  } cases[] = {
      {"plate of 12 facets beside a sphere and cubes on one edge", plated, plated.TriangleCount(), nullptr, 0},
      {"0.1 mm crumb beside a finely meshed box",
       test::Combined(test::MakeGridTopBox(25, 20.0f), test::MakeBox({-30, 0, 0}, {-29.9f, 0.1f, 0.1f})),
       test::MakeGridTopBox(25, 20.0f).TriangleCount(),
       "  note    1 stray crumb too small to print removed by the fixes: 0.10 x 0.10 x 0.10 mm at (-29.95, 0.05, "
       "0.05), 0.001 mm3\r\n",
       1},
      {"blade with a sharp edge that crosses nothing", StandingBlade(), 12,
       "  note    1 triangle folded over at sharp places that cross nothing, left as it is\r\n", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    SyncRun run(c.part, ExportCheckOptions{}, DocumentChecklist());
    const ExportCheckOutcome& out = run.Outcome();
    EXPECT_TRUE(out.completed);
    EXPECT_EQ(out.mesh.TriangleCount(), c.triangles);
    EXPECT_EQ(Count(out.report, "too small to print removed"), c.crumbs) << out.report;
    const ExportHeadline headline = FormatCheckHeadline(out.report, out.passed);
    EXPECT_TRUE(headline.ok) << out.report;
    if (c.note != nullptr) {
      EXPECT_EQ(Count(out.report, c.note), 1u) << out.report;
      EXPECT_EQ(headline.text, L"Ready to save: no problems found. 1 note about printing below.");
    }
  }
}

// A triangle repeated over corners of its own is one triangle twice in the file: the read-back
// names the duplicate and the part does not pass.
TEST(ExportCheckWorkerTest, RepeatedTriangleIsNamedByTheReadBack) {
  mesh::TriangleMesh part = mesh::MakeTestCube(20.0f);
  for (std::uint32_t c = 0; c < 3; ++c) {
    part.indices.push_back(static_cast<std::uint32_t>(part.vertices.size()));
    part.vertices.push_back(part.vertices[part.indices[c]]);
  }
  SyncRun run(part, NoFixes(false), DocumentChecklist());
  const std::string& report = run.Outcome().report;
  EXPECT_TRUE(run.Outcome().completed);
  EXPECT_FALSE(run.Outcome().passed);
  EXPECT_EQ(Count(report, "Read back as a slicer reads it: 3 non-manifold edges, 0 open edges, 0 facets with no "
                          "area, 1 duplicate triangle.\r\n"),
            1u)
      << report;
  EXPECT_FALSE(FormatCheckHeadline(report, run.Outcome().passed).ok);
}

// A part that holds no volume is never ready to save: lone triangles keep their holes open (a
// fill would be their backs), and a triangle saved with its back is a duplicate and a closed
// body without volume. The checklist names each problem, and so does the headline.
TEST(ExportCheckWorkerTest, SheetsAreNeverReadyToSave) {
  const std::pair<std::vector<std::uint32_t>, const char*> cases[] = {
      {{0, 1, 2, 3, 4, 5}, "6 open edges (watertight when zero)."},
      {{0, 1, 2, 0, 2, 1}, "1 duplicate triangle; 1 closed body without volume (a sheet, not a solid)."},
  };
  for (const auto& [indices, problems] : cases) {
    mesh::TriangleMesh part;
    for (const mesh::Vec3 p : {mesh::Vec3{0, 0, 0}, {2, 0, 0}, {0, 2, 0}, {5, 0, 0}, {7, 0, 0}, {5, 2, 0}})
      part.vertices.push_back({p, {}});
    part.indices = indices;
    SyncRun run(part, ExportCheckOptions{}, DocumentChecklist());
    const ExportHeadline headline = FormatCheckHeadline(run.Outcome().report, run.Outcome().passed);
    EXPECT_FALSE(run.Outcome().passed || headline.ok);
    EXPECT_TRUE(headline.text.ends_with(Utf8ToWide(std::string(" found: ") + problems))) << run.Outcome().report;
  }
}

TEST(ExportCheckWorkerTest, CancelAndErrorsNeverReportSuccess) {
  {
    ExportCheckShared shared;
    shared.cancel = true;
    int notices = 0;
    EXPECT_FALSE(RunExportCheck(ExportCheckJob{mesh::MakeTestCube(5.0f), 0.0f, {}, 1, DocumentChecklist()}, shared,
                                [&](bool) { ++notices; }));
    EXPECT_EQ(notices, 0);
    EXPECT_TRUE(shared.outcome.report.empty());
  }
  struct Case {
    float edge;
    ExportCheckFunction check;
    const char* line;
  };
  const Case cases[] = {
      {5.0f, [](const mesh::TriangleMesh&, std::string&) -> bool { throw std::runtime_error("boom"); },
       "The check stopped on an error: boom.\r\n"},
      {5.0f, [](const mesh::TriangleMesh&, std::string&) -> bool { throw std::bad_alloc(); },
       "The check stopped on an error: there is not enough memory for this part.\r\n"},
      {5.0f, [](const mesh::TriangleMesh&, std::string&) -> bool { throw 7; }, "The check stopped on an error.\r\n"},
      // No checklist at all: nothing was checked, so nothing passed.
      {5.0f, nullptr, "nothing a slicer would refuse.\r\n\r\n"},
      // A cube of no size collapses to a file of no triangles that does not read back: its zero
      // counts are not a clean read-back.
      {0.0f, DocumentChecklist(), "Read back as a slicer reads it: the file could not be read back ("},
  };
  for (const Case& c : cases) {
    SyncRun run(mesh::MakeTestCube(c.edge), ExportCheckOptions{}, c.check);
    EXPECT_TRUE(run.finished);
    EXPECT_FALSE(run.Outcome().passed);
    EXPECT_EQ(Count(run.Outcome().report, c.line), 1u) << run.Outcome().report;
    EXPECT_EQ(Count(run.Outcome().report, "Before saving:"), c.edge == 0.0f ? 1u : 0u);
    EXPECT_FALSE(FormatCheckHeadline(run.Outcome().report, run.Outcome().passed).ok);
    EXPECT_FALSE(run.Outcome().completed && c.edge == 0.0f);
    EXPECT_TRUE(run.notices.back());
  }
}

TEST(ExportCheckTextTest, Headlines) {
  const std::string ok = "  ok      fine\r\n";
  const std::string note = "  note    1 feature needs support\r\n";
  const std::string problemA = "  PROBLEM 3 open edges  \r\n";
  const std::string problemB = "  PROBLEM 2 non-manifold edges\r\n";
  struct Case {
    std::string report;
    bool passed;
    const wchar_t* text;
    bool ok;
  };
  const Case cases[] = {
      {ok, true, L"Ready to save: no problems found.", true},
      {ok + note, true, L"Ready to save: no problems found. 1 note about printing below.", true},
      {note + ok + note, true, L"Ready to save: no problems found. 2 notes about printing below.", true},
      {problemA, false, L"1 problem found: 3 open edges.", false},
      {problemA + ok + problemB, false, L"2 problems found: 3 open edges; 2 non-manifold edges.", false},
      {problemA, true, L"1 problem found: 3 open edges.", false},
      {ok, false, L"Not checked: see below.", false},
      // The column is matched case-sensitively and at the line's start only.
      {"  problem x\r\n x  PROBLEM y\r\n", true, L"Ready to save: no problems found.", true},
  };
  for (const Case& c : cases) {
    const ExportHeadline headline = FormatCheckHeadline(c.report, c.passed);
    EXPECT_EQ(headline.text, c.text);
    EXPECT_EQ(headline.ok, c.ok);
  }
}

TEST(ExportCheckTextTest, TimeShownOnlyWithTheDetailedLog) {
  const std::string report = "Fixes:\r\n  relaxed (12 ms)\r\n  in 3.5 ms\r\n\r\nBefore saving:\r\n  ok      x\r\n\r\n";
  EXPECT_EQ(ShownReportText(report, 1.25, true), report + "\r\nChecked in 1.2 s.");
  EXPECT_EQ(ShownReportText(report, 1.25, false), "Fixes:\r\n  relaxed\r\n\r\nBefore saving:\r\n  ok      x");
  EXPECT_EQ(ShownReportText("", 0.0, false), "");
}

// ---- Session, with a fake window and a queue standing in for the event loop ---------------------

struct FakeView final : IExportCheckView {
  std::wstring progress;
  std::string report;
  ExportHeadline headline;
  bool checking = false;
  bool saveEnabled = false;
  int endedOk = 0;
  void ShowProgressText(const std::wstring& text) override { progress = text; }
  void ShowReport(const std::string& text) override { report = text; }
  void ShowHeadline(const ExportHeadline& h) override { headline = h; }
  void ShowChecking(bool on) override { checking = on; }
  void EnableSave(bool on) override { saveEnabled = on; }
  void EndWithOk() override { ++endedOk; }
};

struct UiQueue {
  std::mutex mutex;
  std::deque<std::function<void()>> closures;
  int posted = 0;
  UiPoster Poster() {
    return [this](std::function<void()> f) {
      const std::lock_guard lock(mutex);
      closures.push_back(std::move(f));
      ++posted;
    };
  }
  void RunPending() {
    while (true) {
      std::function<void()> f;
      {
        const std::lock_guard lock(mutex);
        if (closures.empty()) return;
        f = std::move(closures.front());
        closures.pop_front();
      }
      f();
    }
  }
  // Runs closures until the condition holds; bounded so that a fault fails instead of hanging.
  bool RunUntil(const std::function<bool()>& condition) {
    for (int i = 0; i < 60000; ++i) {
      RunPending();
      if (condition()) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
  }
};

struct SessionRig {
  mesh::TriangleMesh part = mesh::MakeTestCube(20.0f);
  FakeView view;
  UiQueue queue;
  std::atomic<int> running{0};
  ExportDialogRequest request;
  SessionRig() {
    request.mesh = &part;
    request.check = DocumentChecklist();
  }
  ExportCheckServices Services() { return {queue.Poster(), &running, false}; }
};

TEST(ExportCheckSessionTest, CheckThenSaveAndSaveWithChangedOptions) {
  SessionRig rig;
  ExportCheckSession session(rig.request, rig.view, rig.Services());
  session.StartCheck();
  EXPECT_TRUE(rig.view.checking);
  EXPECT_FALSE(rig.view.saveEnabled);
  EXPECT_EQ(rig.view.progress, kCopyingPartText);
  ASSERT_TRUE(rig.queue.RunUntil([&] { return !session.IsChecking(); }));
  EXPECT_EQ(rig.view.headline.text, L"Ready to save: no problems found.");
  EXPECT_TRUE(rig.view.saveEnabled);
  EXPECT_EQ(rig.view.progress, kFileAsWrittenText);
  EXPECT_TRUE(session.RequestSave(session.Options()));

  // Save with an option typed but not yet checked: one more check, then the dialog ends.
  ExportCheckOptions changed = session.Options();
  changed.cleanup.maximumHoleMillimetres = 2.0f;
  const std::uint32_t before = session.CurrentCheckId();
  EXPECT_FALSE(session.RequestSave(changed));
  EXPECT_EQ(session.CurrentCheckId(), before + 1);
  ASSERT_TRUE(rig.queue.RunUntil([&] { return rig.view.endedOk == 1; }));
  const ExportDialogResult result = session.TakeResult();
  EXPECT_EQ(result.cleanup.maximumHoleMillimetres, 2.0f);
  EXPECT_EQ(result.mesh.indices.size(), 36u);
  EXPECT_NE(result.reportText.find("Before saving:"), std::string::npos);
  ASSERT_TRUE(rig.queue.RunUntil([&] { return rig.running.load() == 0; }));
}

TEST(ExportCheckSessionTest, ClosingDuringTheCheckLeavesNoDanglingPost) {
  SessionRig rig;
  std::atomic<bool> inCheck{false};
  std::atomic<bool> release{false};
  rig.request.check = [&](const mesh::TriangleMesh& m, std::string& text) {
    inCheck = true;
    while (!release.load()) std::this_thread::yield();
    return BeforeSavingReport(m, mesh::BaseProtection{}, text);
  };
  {
    ExportCheckSession session(rig.request, rig.view, rig.Services());
    session.StartCheck();
    while (!inCheck.load()) std::this_thread::yield();
    EXPECT_EQ(rig.running.load(), 1);
    EXPECT_EQ(ExportCheckSession::Find(session.CurrentCheckId()), &session);
  }  // the window closes mid-check
  const int postedAtClose = rig.queue.posted;
  release = true;
  for (int i = 0; i < 60000 && rig.running.load() != 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  ASSERT_EQ(rig.running.load(), 0);
  // The cancelled worker posted nothing more, and what was queued before finds no session.
  EXPECT_EQ(rig.queue.posted, postedAtClose);
  rig.queue.RunPending();
  EXPECT_EQ(rig.view.endedOk, 0);
}

TEST(ExportCheckSessionTest, NoPartOrFailedCheckNeverSaves) {
  SessionRig rig;
  rig.request.mesh = nullptr;
  {
    ExportCheckSession session(rig.request, rig.view, rig.Services());
    session.StartCheck();
    EXPECT_EQ(rig.view.report, kNoExportMeshText);
    EXPECT_FALSE(rig.view.saveEnabled);
    EXPECT_FALSE(session.IsChecking());
    EXPECT_FALSE(session.RequestSave(session.Options()));
    EXPECT_EQ(rig.running.load(), 0);
  }
  rig.request.mesh = &rig.part;
  rig.request.check = [](const mesh::TriangleMesh&, std::string&) -> bool { throw std::runtime_error("no room"); };
  ExportCheckSession session(rig.request, rig.view, rig.Services());
  session.StartCheck();
  ASSERT_TRUE(rig.queue.RunUntil([&] { return !session.IsChecking(); }));
  EXPECT_FALSE(rig.view.saveEnabled);
  EXPECT_FALSE(session.RequestSave(session.Options()));
  EXPECT_NE(rig.view.report.find("The check stopped on an error: no room."), std::string::npos);
}

}  // namespace
}  // namespace grainforge::app
