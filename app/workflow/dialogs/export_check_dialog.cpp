#include "app/workflow/dialogs/export_check_dialog.h"
#include "app/shell/kit/compact_gtk_style.h"

#include <algorithm>
#include <utility>

#include <wx/app.h>
#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/gauge.h>
#include <wx/sizer.h>
#include <wx/statbox.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include "app/shell/application_core.h"
#include "app/shell/kit/dialog_fit.h"
#include "app/shell/kit/dialog_numbers.h"
#include "app/shell/kit/refusal_note.h"
#include "app/shell/kit/ui_fonts.h"
#include "app/workflow/help/help_pages.h"
#include "app/workflow/help/markdown_text_ctrl.h"

namespace grainforge::app {
namespace {

constexpr int kMarqueeTimerId = 1;

// Runs on the worker thread: wx queues the closure for the user-interface thread.
void PostToUi(std::function<void()> closure) {
  if (wxTheApp != nullptr) wxTheApp->CallAfter(std::move(closure));
}

wxString ForTextCtrl(const std::string& utf8) {
  std::string text;
  text.reserve(utf8.size());
  for (char c : utf8)
    if (c != '\r') text += c;
  return wxString::FromUTF8(text);
}

}  // namespace

wxSizer* CExportDialog::CreateOptionsBox() {
  namespace ids = export_ids;
  auto* options = new wxStaticBoxSizer(wxVERTICAL, this, wxS("Before saving"));
  wxWindow* box = options->GetStaticBox();
  weld_ = new wxCheckBox(box, ids::kWeld, wxS("Weld collapsed triangles"));
  fillHoles_ = new wxCheckBox(box, ids::kFillHoles,
                              wxS("Close gaps in the mesh (missing triangles; designed holes are kept)"));
  auto* sizes = new wxBoxSizer(wxHORIZONTAL);
  const wxSize editSize(ConvertDialogToPixels(wxSize(32, 0)).x, -1);
  // Made in the order the toolkit ties a label's key to the next field made after it: each text
  // before the field it names, and the row's closing "mm wide" before the slit field as well, so
  // that both its texts lead to it.
  auto* upTo = new wxStaticText(box, wxID_ANY, wxS("up to"));
  largestHole_ = new wxTextCtrl(box, ids::kLargestHole, wxString(), wxDefaultPosition, editSize, wxTE_RIGHT);
  auto* across = new wxStaticText(box, wxID_ANY, wxS("mm across, and slits up to"));
  auto* wide = new wxStaticText(box, wxID_ANY, wxS("mm wide"));
  widestSlit_ = new wxTextCtrl(box, ids::kWidestSlit, wxString(), wxDefaultPosition, editSize, wxTE_RIGHT);
  const int gap = ConvertDialogToPixels(wxSize(4, 0)).x;
  sizes->AddSpacer(ConvertDialogToPixels(wxSize(12, 0)).x);
  sizes->Add(upTo, 0, wxALIGN_CENTER_VERTICAL | wxRIGHT, gap);
  sizes->Add(largestHole_, 0, wxALIGN_CENTER_VERTICAL | wxRIGHT, gap);
  sizes->Add(across, 0, wxALIGN_CENTER_VERTICAL | wxRIGHT, gap);
  sizes->Add(widestSlit_, 0, wxALIGN_CENTER_VERTICAL | wxRIGHT, gap);
  sizes->Add(wide, 0, wxALIGN_CENTER_VERTICAL);
  splitNonManifold_ =
      new wxCheckBox(box, ids::kSplitNonManifold, wxS("Fix non-manifold edges (split where two solids touch)"));
  unfold_ = new wxCheckBox(box, ids::kUnfold, wxS("Fix folded-over triangles (relax the relief where it turned over)"));
  resolveCrossings_ = new wxCheckBox(box, ids::kResolveCrossings,
                                     wxS("Fix self-intersections (relax the relief where it passes through)"));
  removeCrumbs_ = new wxCheckBox(box, ids::kRemoveCrumbs, wxS("Remove stray crumbs (bodies too small to print)"));
  for (wxWindow* item : std::initializer_list<wxWindow*>{weld_, fillHoles_})
    options->Add(item, 0, wxALL, gap);
  options->Add(sizes, 0, wxLEFT | wxRIGHT | wxBOTTOM, gap);
  // A refused size is said right under the two sizes, as every field says its refusal.
  sizeRefusal_ = CreateRefusalNote(box, ids::kSizeRefusal);
  options->Add(sizeRefusal_, 0, wxLEFT | wxRIGHT | wxBOTTOM, gap);
  for (wxWindow* item : std::initializer_list<wxWindow*>{splitNonManifold_, unfold_, resolveCrossings_, removeCrumbs_})
    options->Add(item, 0, wxALL, gap);
  return options;
}

CExportDialog::CExportDialog(wxWindow* parent, const ExportDialogRequest& request, bool detailedLog)
    : wxDialog(parent, wxID_ANY, request.ascii ? wxS("Save ASCII STL") : wxS("Save STL"), wxDefaultPosition, wxDefaultSize,
               wxDEFAULT_DIALOG_STYLE | wxRESIZE_BORDER),
      marquee_(this, kMarqueeTimerId) {
  refuse = [this](const std::wstring& text) { SayRefusalNote(sizeRefusal_, text, RefusalWidth()); };
  namespace ids = export_ids;
  wxSizer* options = CreateOptionsBox();
  const int margin = ConvertDialogToPixels(wxSize(7, 0)).x;
  auto* contents = new wxBoxSizer(wxVERTICAL);
  contents->Add(options, 0, wxEXPAND | wxALL, margin);
  // Without a note its line is left out, so the report is that much taller.
  if (!request.note.empty()) {
    auto* note = new wxStaticText(this, ids::kNote, wxString(request.note));
    note->Wrap(ConvertDialogToPixels(wxSize(280, 0)).x);
    contents->Add(note, 0, wxEXPAND | wxLEFT | wxRIGHT | wxBOTTOM, margin);
  }
  progressText_ = new wxStaticText(this, ids::kProgressText, kFileAsWrittenText, wxDefaultPosition, wxDefaultSize,
                                   wxST_NO_AUTORESIZE | wxST_ELLIPSIZE_END);
  progressBar_ = new wxGauge(this, ids::kProgressBar, 100, wxDefaultPosition,
                             wxSize(-1, ConvertDialogToPixels(wxSize(0, 6)).y));
  headline_ = new wxStaticText(this, ids::kHeadline, wxString(), wxDefaultPosition, wxDefaultSize, wxST_NO_AUTORESIZE);
  wxFont semibold = GetFont();
  semibold.SetNumericWeight(600);
  headline_->SetFont(semibold);
  // The report wraps at the box's width: on a small screen a long line would otherwise read
  // only after scrolling sideways.
  report_ = new wxTextCtrl(this, ids::kReport, wxString(), wxDefaultPosition, wxDefaultSize,
                           wxTE_MULTILINE | wxTE_READONLY | wxVSCROLL | wxTE_WORDWRAP);
  report_->SetFont(GetReportFont(96));
  ShowScrollBarsBesideContents(report_->GetHandle());
  contents->Add(progressText_, 0, wxEXPAND | wxLEFT | wxRIGHT, margin);
  contents->Add(progressBar_, 0, wxEXPAND | wxLEFT | wxRIGHT | wxTOP, margin / 2);
  contents->Add(headline_, 0, wxEXPAND | wxLEFT | wxRIGHT | wxTOP, margin);
  contents->Add(report_, 1, wxEXPAND | wxALL, margin);
  auto* buttons = new wxStdDialogButtonSizer();
  auto* save = new wxButton(this, wxID_OK, wxS("Save..."));
  save->SetDefault();
  buttons->AddButton(save);
  buttons->AddButton(new wxButton(this, wxID_CANCEL, wxS("Cancel")));
  buttons->Realize();
  contents->Add(buttons, 0, wxEXPAND | wxLEFT | wxRIGHT | wxBOTTOM, margin);
  SetSizer(contents);
  SetClientSize(ConvertDialogToPixels(wxSize(300, 298)));
  progressBar_->Hide();
  Layout();

  session_ = std::make_unique<ExportCheckSession>(request, static_cast<IExportCheckView&>(*this),
                                                  ExportCheckServices{PostToUi, &RunningExportChecks(), detailedLog});
  WriteOptions(session_->Options());

  Bind(wxEVT_CHECKBOX, [this](wxCommandEvent&) { OnOptionChanged(); });
  for (wxTextCtrl* edit : {largestHole_, widestSlit_})
    edit->Bind(wxEVT_KILL_FOCUS, [this](wxFocusEvent& event) {
      event.Skip();
      // A press on Save takes the focus from a size just typed: the check of that size
      // disables Save under the pointer, so its click never came and the dialog stayed open
      // with nothing said. The press is the Save it was meant as.
      wxWindow* save = FindWindow(wxID_OK);
      if (save != nullptr && event.GetWindow() == save && !updating_ && !closing_)
        OnSave();
      else
        OnOptionChanged();
    });
  // A refused size is said under the sizes as it is typed; the check runs as the field is left.
  SayRefusalsAsTyped({sizeRefusal_, {{largestHole_, kLargestHoleRule}, {widestSlit_, kWidestSlitRule}}},
                     [this] { return RefusalWidth(); });
  Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { OnSave(); }, wxID_OK);
  Bind(wxEVT_TIMER, [this](wxTimerEvent&) { OnMarquee(); }, kMarqueeTimerId);
  report_->Bind(wxEVT_SIZE, [this](wxSizeEvent& event) {
    event.Skip();
    if (event.GetSize().x != headlineWidth_ && !headlineText_.empty()) CallAfter([this] { WrapHeadline(); });
  });

  // Resizable, but never so small that the options, the report or the buttons are cut off;
  // fitted to the screen with the help.
  helpPane_ = AttachHelpPane(this, LoadHelpPage("export"));
  session_->StartCheck();
}

CExportDialog::~CExportDialog() {
  // The window goes: focus events of the dying controls start nothing, and a running check is
  // cancelled and let go. The children go first, while this object is still whole.
  closing_ = true;
  marquee_.Stop();
  DestroyChildren();
  session_.reset();
}

void CExportDialog::WriteOptions(const ExportCheckOptions& options, bool keepRefusedTexts) {
  updating_ = true;
  weld_->SetValue(options.cleanup.weldCollapsedTriangles);
  fillHoles_->SetValue(options.cleanup.fillHoles);
  const auto size = [keepRefusedTexts](wxTextCtrl* field, const NumberFieldRule& rule, float value) {
    // A refused text stays to be mended; it used to be put back behind its refusal.
    if (keepRefusedTexts && NumberFieldRefuses(ReadNumberField(field->GetValue().ToStdWstring(), rule), rule)) return;
    SetWindowFloat(field, value);
  };
  size(largestHole_, kLargestHoleRule, options.cleanup.maximumHoleMillimetres);
  size(widestSlit_, kWidestSlitRule, options.cleanup.maximumSlitWidthMillimetres);
  largestHole_->Enable(options.cleanup.fillHoles);
  widestSlit_->Enable(options.cleanup.fillHoles);
  splitNonManifold_->SetValue(options.fixes.splitNonManifoldEdges);
  unfold_->SetValue(options.fixes.unfoldTriangles);
  resolveCrossings_->SetValue(options.fixes.resolveSelfIntersections);
  removeCrumbs_->SetValue(options.fixes.removeCrumbs);
  updating_ = false;
}

ExportCheckOptions CExportDialog::ReadOptions() const {
  ExportCheckOptions options = session_->Options();
  options.cleanup.weldCollapsedTriangles = weld_->GetValue();
  options.cleanup.fillHoles = fillHoles_->GetValue();
  const auto size = [](const wxTextCtrl* field, const NumberFieldRule& rule, float kept) {
    const NumberFieldReading typed = ReadNumberField(field->GetValue().ToStdWstring(), rule);
    return typed.kind == NumberFieldReading::Kind::accepted ? static_cast<float>(typed.value) : kept;
  };
  options.cleanup.maximumHoleMillimetres = size(largestHole_, kLargestHoleRule, options.cleanup.maximumHoleMillimetres);
  options.cleanup.maximumSlitWidthMillimetres =
      size(widestSlit_, kWidestSlitRule, options.cleanup.maximumSlitWidthMillimetres);
  options.fixes.splitNonManifoldEdges = splitNonManifold_->GetValue();
  options.fixes.unfoldTriangles = unfold_->GetValue();
  options.fixes.resolveSelfIntersections = resolveCrossings_->GetValue();
  options.fixes.removeCrumbs = removeCrumbs_->GetValue();
  return options;
}

void CExportDialog::SayRefusedSizes() {
  bool saying = false;
  bool refusing = false;
  std::wstring firstRefusal;
  std::size_t index = 0;
  for (const auto& [field, rule] :
       {std::pair{largestHole_, kLargestHoleRule}, std::pair{widestSlit_, kWidestSlitRule}}) {
    std::optional<std::wstring>& said = saidRefusals_[index++];
    const std::wstring text = field->GetValue().ToStdWstring();
    const NumberFieldReading typed = ReadNumberField(text, rule);
    if (!NumberFieldRefuses(typed, rule)) {
      said.reset();
      continue;
    }
    if (!refusing) firstRefusal = typed.refusal.empty() ? NumberFieldRangeText(rule) : typed.refusal;
    refusing = true;
    // Said once for a text: the box takes the focus from the field, which would say it again.
    if (saying || said == text) continue;  // an empty text is one to say too
    said = text;
    saying = true;
    // Not inside the focus change that read it: a box opened there would take the focus again.
    // Then the refused text is selected, to be typed again.
    CallAfter([this, edit = field, refusal = typed.refusal.empty() ? NumberFieldRangeText(rule) : typed.refusal] {
      if (refuse) refuse(refusal);
      edit->SetFocus();
      edit->SelectAll();
    });
  }
  // Both sizes mended, the refusal goes; one mended, the other's refusal stands.
  if (!refusing)
    SayRefusalNote(sizeRefusal_, L"", 0);
  else if (!saying && sizeRefusal_->IsShown())
    SayRefusalNote(sizeRefusal_, firstRefusal, RefusalWidth());
}

int CExportDialog::RefusalWidth() const {
  // The options' frame less its margins: the row of sizes is as wide as the text allows.
  return std::max(sizeRefusal_->GetParent()->GetClientSize().x - 2 * FromDIP(12), FromDIP(200));
}

void CExportDialog::OnOptionChanged() {
  if (updating_ || closing_ || session_ == nullptr) return;
  SayRefusedSizes();
  const ExportCheckOptions options = ReadOptions();
  WriteOptions(options, true);
  // Leaving an edit without changing it checks nothing again.
  if (SameExportOptions(options, session_->Options())) return;
  session_->ChangeOptions(options);
}

void CExportDialog::OnSave() {
  // While a check runs the session keeps the Save for when it has ended well.
  if (closing_ || session_ == nullptr) return;
  if (!CheckNumberFields({{largestHole_, kLargestHoleRule}, {widestSlit_, kWidestSlitRule}}, refuse)) return;
  const ExportCheckOptions options = ReadOptions();
  WriteOptions(options);
  if (session_->RequestSave(options)) EndWithOk();
}

void CExportDialog::OnMarquee() { progressBar_->Pulse(); }

void CExportDialog::ShowProgressText(const std::wstring& text) { progressText_->SetLabelText(wxString(text)); }

void CExportDialog::ShowReport(const std::string& utf8Text) { report_->ChangeValue(ForTextCtrl(utf8Text)); }

void CExportDialog::ShowHeadline(const ExportHeadline& headline) {
  headline_->SetForegroundColour(headline.ok ? wxColour(0, 122, 61) : wxColour(190, 78, 0));
  headlineText_ = wxControl::EscapeMnemonics(wxString(headline.text));
  headlineWidth_ = 0;
  WrapHeadline();
  headline_->Refresh();
}

void CExportDialog::WrapHeadline() {
  const int width = report_->GetSize().x;
  if (width <= 0 || width == headlineWidth_) return;
  headlineWidth_ = width;
  // The verdict wraps to the report's width rather than losing its end; a wider report may
  // take it on fewer lines.
  headline_->SetMinSize(wxSize(headline_->GetMinSize().x, -1));
  SetWrappedLabel(headline_, headlineText_, width);
  Layout();
}

void CExportDialog::ShowChecking(bool checking) {
  progressBar_->Show(checking);
  if (checking) {
    progressBar_->Pulse();
    marquee_.Start(30);
  } else {
    marquee_.Stop();
    progressBar_->SetValue(0);
  }
  Layout();
}

void CExportDialog::EnableSave(bool enabled) {
  wxWindow* save = FindWindow(wxID_OK);
  if (save == nullptr) return;
  save->Enable(enabled);
  // Save disabled under the focus (a press on it started the check) kept the keys from the
  // dialog: Escape no longer closed it. The focus goes to the report meanwhile.
  if (!enabled)
    CallAfter([this, save] {
      if (!closing_ && !save->IsEnabled() && wxWindow::FindFocus() == save) report_->SetFocus();
    });
}

void CExportDialog::EndWithOk() {
  closing_ = true;
  if (IsModal())
    EndModal(wxID_OK);
  else
    SetReturnCode(wxID_OK);
}

std::optional<ExportDialogResult> RunExportCheckDialog(wxWindow* parent, const ExportDialogRequest& request,
                                                       bool detailedLog) {
  CExportDialog dialog(parent, request, detailedLog);
  const int answer = dialog.ShowModal();
  if (answer != wxID_OK || !dialog.Session().CanSave()) return std::nullopt;
  return dialog.Session().TakeResult();
}

}  // namespace grainforge::app
