#include "app/workflow/dialogs/export_check.h"

#include <chrono>
#include <exception>
#include <limits>
#include <map>
#include <new>
#include <string_view>
#include <utility>
#include <vector>

#include "app/document/document_reports.h"
#include "app/document/log_text.h"
#include "engine/repair/fix_change.h"
#include "engine/repair/repair_job.h"
#include "engine/mesh/report_text.h"

namespace grainforge::app {
namespace mesh = grainforge::mesh;

namespace {

constexpr std::string_view kProblemColumn = "  PROBLEM ";
constexpr std::string_view kNoteColumn = "  note    ";

bool CleanupHasNews(const mesh::ExportCleanupReport& r) {
  return r.verticesMerged != 0 || r.collapsedTrianglesDropped != 0 || r.trianglesAdded != 0 ||
         r.holesLeftOpen != 0 || r.collapsesRefused != 0 || r.zeroAreaTrianglesLeft != 0;
}

std::string_view Trim(std::string_view s) {
  const auto space = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (!s.empty() && space(s.front())) s.remove_prefix(1);
  while (!s.empty() && space(s.back())) s.remove_suffix(1);
  return s;
}

std::vector<std::string_view> SplitAt(std::string_view text, std::string_view separator) {
  std::vector<std::string_view> pieces;
  std::size_t start = 0;
  while (true) {
    const std::size_t at = text.find(separator, start);
    if (at == std::string_view::npos) {
      pieces.push_back(text.substr(start));
      return pieces;
    }
    pieces.push_back(text.substr(start, at - start));
    start = at + separator.size();
  }
}

std::string NormaliseLineEnds(std::string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 16);
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    if (text[i] == '\n') out += '\r';
    out += text[i];
  }
  return out;
}

// Live sessions by check id; touched only on the user-interface thread, but guarded anyway so
// that a mistaken call from elsewhere cannot corrupt the map.
std::mutex& LiveMutex() {
  static std::mutex m;
  return m;
}
std::map<std::uint32_t, ExportCheckSession*>& LiveSessions() {
  static std::map<std::uint32_t, ExportCheckSession*> sessions;
  return sessions;
}
void Register(std::uint32_t id, ExportCheckSession* session) {
  const std::lock_guard lock(LiveMutex());
  LiveSessions()[id] = session;
}
void Unregister(std::uint32_t id) {
  const std::lock_guard lock(LiveMutex());
  LiveSessions().erase(id);
}

std::atomic<std::uint32_t>& CheckIdCounter() {
  static std::atomic<std::uint32_t> counter{0};
  return counter;
}

// The thread of one check: lowers the running count on every way out.
void CheckThreadMain(ExportCheckJob job, std::shared_ptr<ExportCheckShared> shared, std::uint32_t id,
                     UiPoster post, std::atomic<int>* running) {
  struct LowerCount {
    std::atomic<int>* count;
    ~LowerCount() {
      if (count != nullptr) count->fetch_sub(1);
    }
  } lower{running};
  const ExportCheckNotify notify = [&post, id](bool done) {
    if (!post) return;
    post([id, done] {
      ExportCheckSession* session = ExportCheckSession::Find(id);
      if (session == nullptr) return;
      if (done)
        session->OnCheckDone(id);
      else
        session->OnCheckProgress(id);
    });
  };
  try {
    (void)RunExportCheck(std::move(job), *shared, notify);
  } catch (...) {
    // RunExportCheck reports its own errors; a poster that throws loses only a message.
  }
}

}  // namespace

bool SameExportOptions(const ExportCheckOptions& a, const ExportCheckOptions& b) {
  return a.cleanup.weldCollapsedTriangles == b.cleanup.weldCollapsedTriangles &&
         a.cleanup.fillHoles == b.cleanup.fillHoles &&
         a.cleanup.maximumHoleMillimetres == b.cleanup.maximumHoleMillimetres &&
         a.cleanup.maximumSlitWidthMillimetres == b.cleanup.maximumSlitWidthMillimetres &&
         a.fixes.splitNonManifoldEdges == b.fixes.splitNonManifoldEdges &&
         a.fixes.unfoldTriangles == b.fixes.unfoldTriangles &&
         a.fixes.resolveSelfIntersections == b.fixes.resolveSelfIntersections &&
         a.fixes.removeCrumbs == b.fixes.removeCrumbs && a.fixes.maximumRounds == b.fixes.maximumRounds &&
         a.fixes.maximumMoveMillimetres == b.fixes.maximumMoveMillimetres;
}

namespace {

using Publish = std::function<void(const std::wstring&)>;

enum class RoundsEnd { done, cancelled, readBackRefused };

std::string CleanupText(const mesh::ExportCleanupReport& cleanup) {
  return CleanupHasNews(cleanup) ? "Cleanup:\r\n" + mesh::FormatExportCleanupReport(cleanup) + "\r\n"
                                 : "Cleanup: nothing to do.\r\n\r\n";
}

std::string ReadBackLine(const mesh::ReadBackCounts& counts, std::uint64_t triangles, bool fixedAgain) {
  if (mesh::IsCleanReadBack(counts))
    return FormatText("Read back as a slicer reads it: %s triangles, nothing a slicer would refuse.\r\n",
                      FormatThousands(triangles).c_str());
  const std::string duplicates =
      counts.duplicateTriangles == 0
          ? std::string()
          : ", " + mesh::FormatCountOf(counts.duplicateTriangles, "duplicate triangle", "duplicate triangles");
  return FormatText("Read back as a slicer reads it: %s, %s, %s%s%s\r\n",
                    mesh::FormatCountOf(counts.overSharedEdges, "non-manifold edge", "non-manifold edges").c_str(),
                    mesh::FormatCountOf(counts.openEdges, "open edge", "open edges").c_str(),
                    mesh::FormatCountOf(counts.facetsWithNoArea, "facet", "facets").c_str(),
                    (" with no area" + duplicates).c_str(), fixedAgain ? " - fixed again." : ".");
}

// A note, so that the headline never calls a part whose crumbs the fixes took away plain "no
// problems": how many went, and the size and place of the largest.
std::string RemovedBodiesNote(const std::vector<mesh::CrumbRecord>& removed) {
  if (removed.empty()) return {};
  const mesh::RemovedBodiesSummary summary = mesh::SummariseRemovedBodies(removed);
  return std::string(kNoteColumn) + mesh::FormatCountOf(removed.size(), "stray crumb", "stray crumbs") +
         " too small to print removed by the fixes" + (removed.size() == 1 ? ": " : ", the largest ") +
         mesh::FormatBodySizeAndPlace(summary.largest) + "\r\n";
}

// Up to three rounds of cleanup, fixes and read-back; a clean read-back ends them unless the
// triangles still passing through others keep falling.
RoundsEnd RunCheckRounds(ExportCheckJob& job, ExportCheckOutcome& outcome, const Publish& publish,
                         const std::atomic<bool>& cancel) {
  mesh::TriangleMesh& part = job.mesh;
  const mesh::RepairOptions& fixes = job.options.fixes;
  const bool fixesWanted = mesh::CheckFixesWanted(fixes);
  std::string& text = outcome.report;
  std::uint64_t best = std::numeric_limits<std::uint64_t>::max();
  std::vector<mesh::CrumbRecord> removed;
  mesh::CheckRoundMemo memo;
  for (int round = 1; round <= mesh::kCheckRounds; ++round) {
    if (cancel.load()) return RoundsEnd::cancelled;
    publish(round == 1 ? L"Cleaning up the mesh..." : L"Fixing what the reading found...");
    // The same round as Mesh > Repair runs, so both take a part written twice over alike.
    const mesh::FixRound fixed = mesh::RunCheckFixRound(
        part, job.tolerance, job.options.cleanup, fixesWanted ? &fixes : nullptr,
        [&](const std::string& phase) { publish(Utf8ToWide(phase) + L"..."); }, job.bodies, memo);
    const mesh::RepairReport& repair = fixed.repair;
    removed.insert(removed.end(), repair.removedBodies.begin(), repair.removedBodies.end());
    if (round == 1) {
      outcome.cleanup = fixed.cleanup;
      text = CleanupText(fixed.cleanup);
      if (fixesWanted) {
        outcome.repair = repair;
        text += "Fixes:\r\n" + mesh::FormatRepairDetails(repair) + "\r\n";
      }
    }
    publish(L"Reading the file back as a slicer will...");
    const mesh::ReadBackCounts counts = mesh::ReadBackAsSlicer(part);
    if (!counts.ok) {
      // Counts of a refused read are zeros that mean nothing: never a clean read-back.
      text += "Read back as a slicer reads it: the file could not be read back (" + counts.error + ").\r\n";
      return RoundsEnd::readBackRefused;
    }
    text += ReadBackLine(counts, part.indices.size() / 3, fixesWanted && round < mesh::kCheckRounds);
    if (!fixesWanted || mesh::CheckRoundsEnd(counts, repair, best)) break;
    if (mesh::IsCleanReadBack(counts) && round < mesh::kCheckRounds)
      text += FormatText("%s triangles still pass through others - fixed again.\r\n",
                         FormatThousands(repair.selfIntersectingTrianglesLeft).c_str());
  }
  text += RemovedBodiesNote(removed);
  return RoundsEnd::done;
}

// What the fixes changed in the part, in the checklist's columns: a change beyond the rules the
// fixes themselves keep to is a problem the headline names, whatever the read-back says. Said as
// an ok line only when the fixes moved (either way) or took away something.
bool AppendFixChangeLines(mesh::FixBaseline& before, const mesh::TriangleMesh& after,
                          const mesh::RepairReport& repair, std::string& text) {
  const mesh::FixChangeReport change = mesh::MeasureFixChange(before, after);
  bool allPassed = true;
  const std::vector<std::string> problems = mesh::FormatLargeFixChanges(change);
  for (const std::string& line : problems) AppendCheckLine(text, allPassed, false, line);
  // A weld or a fill moves corners too: any move, either way, is said.
  const bool moved = change.cornersMoved != 0 || change.furthestMoveMillimetres > 0.0f;
  if (problems.empty() && (moved || repair.verticesMoved != 0 || repair.tinyTrianglesCollapsed != 0 || repair.bodiesRemoved != 0))
    AppendCheckLine(text, allPassed, true, mesh::FormatFixChange(change));
  return allPassed;
}

std::string StoppedOnErrorText(std::exception_ptr error) {
  try {
    std::rethrow_exception(error);
  } catch (const std::bad_alloc&) {
    return "\r\nThe check stopped on an error: there is not enough memory for this part.\r\n";
  } catch (const std::exception& e) {
    return "\r\nThe check stopped on an error: " + std::string(e.what()) + ".\r\n";
  } catch (...) {
    return "\r\nThe check stopped on an error.\r\n";
  }
}

}  // namespace

bool RunExportCheck(ExportCheckJob job, ExportCheckShared& shared, const ExportCheckNotify& notify) {
  const auto start = std::chrono::steady_clock::now();
  const Publish publish = [&](const std::wstring& text) {
    {
      const std::lock_guard lock(shared.mutex);
      shared.progress = text;
    }
    if (!shared.cancel.load() && notify) notify(false);
  };

  ExportCheckOutcome outcome;
  try {
    const mesh::TriangleMesh given = job.mesh;
    // Every round judges its moves against the part as given, as the final measure does.
    mesh::FixBaseline baseline(given);
    job.options.fixes.judgeAgainst = &baseline;
    const RoundsEnd end = RunCheckRounds(job, outcome, publish, shared.cancel);
    if (end == RoundsEnd::cancelled) return false;
    const bool changeSmall = end != RoundsEnd::done || AppendFixChangeLines(baseline, job.mesh, outcome.repair, outcome.report);
    outcome.report += "\r\n";
    if (shared.cancel.load()) return false;
    publish(L"Checking the file: edges, crossings, how it prints...");
    std::string checklist;
    outcome.passed = job.check ? job.check(job.mesh, checklist) : false;
    outcome.report = NormaliseLineEnds(outcome.report + checklist);
    outcome.completed = end == RoundsEnd::done;
    if (!outcome.completed || !changeSmall) outcome.passed = false;
    outcome.mesh = std::move(job.mesh);
  } catch (...) {
    // Engine calls throw on allocation failure (a huge part): a failed check, never a crash.
    outcome.report += StoppedOnErrorText(std::current_exception());
    outcome.passed = false;
    outcome.completed = false;
    outcome.mesh = {};
  }
  outcome.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  {
    const std::lock_guard lock(shared.mutex);
    shared.outcome = std::move(outcome);
  }
  if (!shared.cancel.load() && notify) notify(true);
  return true;
}

ExportHeadline FormatCheckHeadline(const std::string& report, bool passed) {
  std::vector<std::string> problems;
  int notes = 0;
  for (std::string_view line : SplitAt(report, "\n")) {
    if (line.substr(0, kProblemColumn.size()) == kProblemColumn)
      problems.emplace_back(Trim(line.substr(kProblemColumn.size())));
    else if (line.substr(0, kNoteColumn.size()) == kNoteColumn)
      ++notes;
  }
  if (passed && problems.empty()) {
    if (notes == 0) return {L"Ready to save: no problems found.", true};
    return {Utf8ToWide(FormatText("Ready to save: no problems found. %d note%s about printing below.", notes,
                             notes == 1 ? "" : "s")),
            true};
  }
  if (problems.empty()) return {L"Not checked: see below.", false};
  std::string headline = FormatText("%zu problem%s found: ", problems.size(), problems.size() == 1 ? "" : "s");
  for (std::size_t i = 0; i < problems.size(); ++i) headline += (i == 0 ? "" : "; ") + problems[i];
  headline += ".";
  return {Utf8ToWide(headline), false};
}

std::string ShownReportText(const std::string& report, double seconds, bool detailedLog) {
  if (detailedLog) return report + FormatText("\r\nChecked in %.1f s.", seconds);
  std::string shown;
  for (std::string_view line : SplitAt(report, "\r\n")) {
    std::string stripped = StripTimings(line);
    if (stripped.empty() && !line.empty()) continue;
    shown += stripped + "\r\n";
  }
  const std::size_t last = shown.find_last_not_of(" \t\r\n");
  return last == std::string::npos ? std::string() : shown.substr(0, last + 1);
}

// ---- Session -----------------------------------------------------------------------------------

ExportCheckSession::ExportCheckSession(const ExportDialogRequest& request, IExportCheckView& view,
                                       ExportCheckServices services)
    : part_(request.mesh),
      tolerance_(request.weldTolerance),
      bodies_(request.bodies),
      check_(request.check),
      view_(view),
      services_(std::move(services)),
      options_{request.cleanup, request.fixes} {}

ExportCheckSession::~ExportCheckSession() { Close(); }

ExportCheckSession* ExportCheckSession::Find(std::uint32_t id) {
  const std::lock_guard lock(LiveMutex());
  const auto found = LiveSessions().find(id);
  return found == LiveSessions().end() ? nullptr : found->second;
}

void ExportCheckSession::SetChecking(bool checking) {
  checking_ = checking;
  view_.ShowChecking(checking);
  view_.EnableSave(CanSave());
  if (!checking) view_.ShowProgressText(kFileAsWrittenText);
}

bool ExportCheckSession::CanSave() const {
  return !checking_ && result_.completed && !result_.mesh.indices.empty() &&
         SameExportOptions(options_, lastCheckOptions_);
}

void ExportCheckSession::ChangeOptions(const ExportCheckOptions& options) {
  options_ = options;
  StartCheck();
}

void ExportCheckSession::StartCheck() {
  if (checking_) {
    recheckRequested_ = true;
    return;
  }
  result_ = {};
  view_.ShowHeadline({});
  if (part_ == nullptr || part_->vertices.empty()) {
    view_.ShowReport(kNoExportMeshText);
    view_.EnableSave(false);
    return;
  }
  JoinWorker();
  lastCheckOptions_ = options_;
  if (checkId_ != 0) Unregister(checkId_);
  checkId_ = ++CheckIdCounter();
  shared_ = std::make_shared<ExportCheckShared>();
  Register(checkId_, this);
  SetChecking(true);
  view_.ShowProgressText(kCopyingPartText);
  view_.ShowReport(WideToUtf8(kCheckingPartText));

  ExportCheckJob job{*part_, tolerance_, options_, bodies_, check_};
  if (services_.runningChecks != nullptr) services_.runningChecks->fetch_add(1);
  try {
    worker_ = std::thread(CheckThreadMain, std::move(job), shared_, checkId_, services_.post, services_.runningChecks);
  } catch (const std::system_error& error) {
    if (services_.runningChecks != nullptr) services_.runningChecks->fetch_sub(1);
    const std::lock_guard lock(shared_->mutex);
    shared_->outcome.report = std::string("The check stopped on an error: ") + error.what() + ".\r\n";
    // Nothing runs: end the check at once, as a failed one.
    shared_->outcome.completed = false;
    if (services_.post) services_.post([id = checkId_] {
        if (ExportCheckSession* s = Find(id)) s->OnCheckDone(id);
      });
  }
}

void ExportCheckSession::JoinWorker() {
  if (worker_.joinable()) worker_.join();
}

void ExportCheckSession::OnCheckProgress(std::uint32_t id) {
  if (id != checkId_ || !checking_ || shared_ == nullptr) return;
  std::wstring text;
  {
    const std::lock_guard lock(shared_->mutex);
    text = shared_->progress;
  }
  view_.ShowProgressText(text);
}

void ExportCheckSession::OnCheckDone(std::uint32_t id) {
  if (id != checkId_ || shared_ == nullptr || !checking_) return;
  JoinWorker();
  {
    const std::lock_guard lock(shared_->mutex);
    result_ = std::move(shared_->outcome);
    shared_->outcome = {};
  }
  view_.ShowReport(ShownReportText(result_.report, result_.seconds, services_.detailedLog));
  view_.ShowHeadline(FormatCheckHeadline(result_.report, result_.passed));
  SetChecking(false);
  if (recheckRequested_) {
    recheckRequested_ = false;
    StartCheck();
  } else if (saveRequested_) {
    saveRequested_ = false;
    if (CanSave()) view_.EndWithOk();
  }
}

bool ExportCheckSession::RequestSave(const ExportCheckOptions& options) {
  if (checking_) {
    // Save pressed while a check runs (the press took the focus from a size just typed, whose
    // leaving started that check): the dialog ends when the check of these options has ended
    // well. Dropping the press left the dialog open with nothing said.
    if (!SameExportOptions(options, options_)) ChangeOptions(options);
    saveRequested_ = true;
    return false;
  }
  options_ = options;
  if (!SameExportOptions(options_, lastCheckOptions_) && part_ != nullptr && !part_->vertices.empty()) {
    saveRequested_ = true;
    StartCheck();
    return false;
  }
  return CanSave();
}

void ExportCheckSession::Close() {
  if (checkId_ != 0) Unregister(checkId_);
  if (worker_.joinable()) {
    if (shared_ != nullptr) shared_->cancel.exchange(true);
    worker_.detach();
  }
  checking_ = false;
}

ExportDialogResult ExportCheckSession::TakeResult() {
  ExportDialogResult result;
  result.cleanup = options_.cleanup;
  result.fixes = options_.fixes;
  result.reportText = result_.report;
  result.mesh = std::move(result_.mesh);
  return result;
}

}  // namespace grainforge::app
