#pragma once

// The export check behind the "Save STL" dialog, without any window: the worker's body (clean,
// fix, read back as a slicer, the document's checklist), the texts the dialog shows, and the
// dialog's state machine (`ExportCheckSession`) that a thin wx view drives.
//
// Threads: the session lives on the user-interface thread. Each check runs on a thread of its
// own with value copies of everything it needs (the part, the options, the document's check
// callable); it shares only `ExportCheckShared` with the session. Results cross back through a
// poster that runs a closure on the user-interface thread (wx: CallAfter); the closure finds
// the live session by check id, so a session already gone is never touched.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "app/document/document_host.h"
#include "app/document/field_ranges.h"
#include "app/shell/kit/number_text.h"
#include "engine/mesh/export_cleanup.h"
#include "engine/repair/repair_driver.h"
#include "engine/mesh/triangle_mesh.h"

namespace grainforge::app {

// The options the dialog edits.
struct ExportCheckOptions {
  grainforge::mesh::ExportCleanupOptions cleanup;
  grainforge::mesh::RepairOptions fixes;
};
// The ranges of the two gap sizes (kLargestHoleRule, kWidestSlitRule) are in field_ranges.h;
// a number outside is refused at its field and the check keeps the size it had.

// Field by field: weld, fill holes, largest hole, widest slit, the four fixes, rounds, move.
bool SameExportOptions(const ExportCheckOptions& a, const ExportCheckOptions& b);

using ExportCheckFunction = std::function<bool(const grainforge::mesh::TriangleMesh&, std::string&)>;

// What one check works on; all copies.
struct ExportCheckJob {
  grainforge::mesh::TriangleMesh mesh;
  float tolerance = 0.0f;
  ExportCheckOptions options;
  std::uint64_t bodies = 0;
  ExportCheckFunction check;
};

// What a finished check gives.
struct ExportCheckOutcome {
  grainforge::mesh::TriangleMesh mesh;
  grainforge::mesh::ExportCleanupReport cleanup;  // of round 1
  grainforge::mesh::RepairReport repair;          // of round 1
  std::string report;                             // UTF-8, CR LF line ends
  bool passed = false;     // the document's checklist passed
  bool completed = false;  // the check ran to its end without an error
  double seconds = 0.0;
};

// Held by the session and by the worker; whoever lets go last destroys it.
struct ExportCheckShared {
  std::mutex mutex;  // guards all but `cancel`
  std::wstring progress;
  ExportCheckOutcome outcome;
  std::atomic<bool> cancel{false};
};

// Tells the user-interface thread that the progress text changed (false) or that the check
// ended (true). Called by the worker only while cancel is not set.
using ExportCheckNotify = std::function<void(bool done)>;

inline constexpr const wchar_t* kCopyingPartText = L"Copying the part...";
inline constexpr const wchar_t* kCheckingPartText =
    L"Checking the part before it is saved. On a large part this takes a little while.";
inline constexpr const wchar_t* kFileAsWrittenText = L"The file as it will be written:";
inline constexpr const char* kNoExportMeshText = "There is no mesh to save.";

// The worker's body: up to three rounds of cleanup, fixes and read-back, then the document's
// checklist. Publishes progress texts and the outcome into `shared`. Never throws: an error
// ends the check as failed with "The check stopped on an error: ...". Returns false when it
// saw the cancel flag and stopped without publishing an outcome.
bool RunExportCheck(ExportCheckJob job, ExportCheckShared& shared, const ExportCheckNotify& notify);

// The headline over the report: its text and whether it is drawn as good news.
struct ExportHeadline {
  std::wstring text;
  bool ok = true;
};
ExportHeadline FormatCheckHeadline(const std::string& report, bool passed);

// The report as the dialog shows it: with the detailed log on, the text and "Checked in %.1f s.";
// otherwise without timings (lines that were only a timing dropped) and trailing space trimmed.
std::string ShownReportText(const std::string& report, double seconds, bool detailedLog);

// ---- The dialog's logic ---------------------------------------------------------------------

// What the session asks of its window.
class IExportCheckView {
public:
  virtual ~IExportCheckView() = default;
  virtual void ShowProgressText(const std::wstring& text) = 0;
  virtual void ShowReport(const std::string& utf8Text) = 0;
  virtual void ShowHeadline(const ExportHeadline& headline) = 0;
  // The marquee runs while checking.
  virtual void ShowChecking(bool checking) = 0;
  virtual void EnableSave(bool enabled) = 0;
  // The check asked for by Save ended well: the dialog closes with OK.
  virtual void EndWithOk() = 0;
};

// Runs a closure on the user-interface thread, later (wx: wxTheApp->CallAfter).
using UiPoster = std::function<void(std::function<void()>)>;

struct ExportCheckServices {
  UiPoster post;
  std::atomic<int>* runningChecks = nullptr;  // raised while a worker runs; may be null
  bool detailedLog = false;
};

class ExportCheckSession {
public:
  ExportCheckSession(const ExportDialogRequest& request, IExportCheckView& view, ExportCheckServices services);
  // Cancels and detaches a running worker.
  ~ExportCheckSession();
  ExportCheckSession(const ExportCheckSession&) = delete;
  ExportCheckSession& operator=(const ExportCheckSession&) = delete;

  const ExportCheckOptions& Options() const { return options_; }
  // A changed option: checks again (after the running check when one runs).
  void ChangeOptions(const ExportCheckOptions& options);
  void StartCheck();
  // Save... with the options read from the controls. True when the dialog may end with OK now;
  // otherwise a check of the new options runs (or the running one goes on, when it checks them)
  // and ends the dialog when it ends well.
  bool RequestSave(const ExportCheckOptions& options);
  // The window closes: a running check is cancelled and left to finish on its own.
  void Close();

  // Called on the user-interface thread for a check id (the poster's closures end here).
  void OnCheckProgress(std::uint32_t id);
  void OnCheckDone(std::uint32_t id);

  bool IsChecking() const { return checking_; }
  bool CanSave() const;
  std::uint32_t CurrentCheckId() const { return checkId_; }
  // The result to hand to the document (the mesh moved out).
  ExportDialogResult TakeResult();
  const ExportCheckOutcome& LastOutcome() const { return result_; }

  // The live session of a check id, or null; user-interface thread only.
  static ExportCheckSession* Find(std::uint32_t id);

private:
  void JoinWorker();
  void SetChecking(bool checking);

  const grainforge::mesh::TriangleMesh* part_;
  float tolerance_;
  std::uint64_t bodies_;
  ExportCheckFunction check_;
  IExportCheckView& view_;
  ExportCheckServices services_;

  ExportCheckOptions options_;
  ExportCheckOptions lastCheckOptions_;
  std::shared_ptr<ExportCheckShared> shared_;
  std::thread worker_;
  std::uint32_t checkId_ = 0;
  bool checking_ = false;
  bool recheckRequested_ = false;
  bool saveRequested_ = false;
  ExportCheckOutcome result_;
};

}  // namespace grainforge::app
