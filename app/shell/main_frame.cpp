#include "app/shell/main_frame.h"
#include "app/shell/kit/wx_file_names.h"
#include "app/document/log_text.h"

#include <algorithm>

#include <wx/dcclient.h>
#include <wx/display.h>
#include <wx/gauge.h>
#include <wx/menu.h>
#include <wx/sizer.h>
#include <wx/stattext.h>
#include <wx/statusbr.h>
#include <wx/textentry.h>
#include <wx/utils.h>

#include "app/shell/app_toolbar_pane.h"
#include "app/shell/info_pane.h"
#include "app/shell/run_progress_seam.h"
#include "app/shell/main_menu.h"
#include "app/shell/menu_ids.h"
#include "app/shell/output_wnd.h"
#include "app/shell/startup_timer.h"
#include "app/shell/kit/ui_scale.h"

namespace grainforge::app {
namespace {

constexpr int kOutputPaneHeight = 130;
constexpr int kLockPaneWidth = 40;
constexpr int kMarqueeStepMs = 30;
constexpr int kLockPollMs = 250;

int ToWxModifiers(int modifiers) {
  int flags = 0;
  if (modifiers & kModifierAlt) flags |= wxACCEL_ALT;
  if (modifiers & kModifierControl) flags |= wxACCEL_CTRL;
  if (modifiers & kModifierShift) flags |= wxACCEL_SHIFT;
  return flags;
}

std::vector<AcceleratorKey> ToAcceleratorKeys(const std::vector<MainAccelerator>& keys) {
  std::vector<AcceleratorKey> converted;
  for (const MainAccelerator& key : keys)
    converted.push_back({ToWxModifiers(key.modifiers), key.keyCode, key.commandId});
  return converted;
}

HookKey ToHookKey(int keyCode) {
  switch (keyCode) {
    case WXK_ESCAPE: return HookKey::Escape;
    case 'C':
    case 'c': return HookKey::LetterC;
    case WXK_INSERT:
    case WXK_NUMPAD_INSERT: return HookKey::Insert;
    default: return HookKey::Other;
  }
}

bool IsInside(const wxWindow* window, const wxWindow* ancestor) {
  for (; window != nullptr; window = window->GetParent()) {
    if (window == ancestor) return true;
  }
  return false;
}

// The placeholder of the workflow pane, until the workflow window is part of the program.
class CPlaceholderText final : public wxPanel {
public:
  CPlaceholderText(wxWindow* parent, const wxString& text) : wxPanel(parent, wxID_ANY) {
    SetBackgroundColour(wxColour(247, 248, 250));
    auto* label = new wxStaticText(this, wxID_ANY, text);
    label->SetForegroundColour(wxColour(122, 128, 138));
    label->Wrap(FromDIP(280));
    auto* sizer = new wxBoxSizer(wxVERTICAL);
    sizer->Add(label, 0, wxALL, FromDIP(12));
    SetSizer(sizer);
  }
};

void AppendEntries(CommandRouting& routing, wxMenu* menu, const std::vector<MainMenuEntry>& entries,
                   wxMenu*& recentMenu) {
  for (const MainMenuEntry& entry : entries) {
    const std::wstring label = MenuLabelForToolkit(entry.text);
    switch (entry.kind) {
      case MainMenuEntry::Kind::Separator: menu->AppendSeparator(); break;
      case MainMenuEntry::Kind::Submenu: {
        auto* sub = new wxMenu;
        AppendEntries(routing, sub, entry.children, recentMenu);
        menu->AppendSubMenu(sub, wxString(label));
        break;
      }
      case MainMenuEntry::Kind::RecentFiles:
        recentMenu = new wxMenu;
        menu->AppendSubMenu(recentMenu, wxString(label));
        break;
      case MainMenuEntry::Kind::Check:
        routing.AppendCommand(menu, entry.commandId, label, wxITEM_CHECK);
        break;
      case MainMenuEntry::Kind::Command: routing.AppendCommand(menu, entry.commandId, label); break;
    }
  }
}

}  // namespace

WorkflowPane MakePlaceholderWorkflowPane(wxWindow* parent, const WorkflowPaneContext&) {
  auto* pane = new CStaticPane();
  pane->Create(parent, kWorkflowPaneId, L"Workflow", L"pane_workflow", {kWorkflowPaneWidth, 0});
  pane->SetContent(new CPlaceholderText(pane, wxS("The workflow sections (Mapping, Texture, Relief, "
                                                  "Simplify) are not part of this build yet.")));
  return WorkflowPane{pane, {}};
}

CMainFrame::CMainFrame(const MainFrameParts& parts)
    : wxFrame(nullptr, wxID_ANY, wxS("Tessary"), wxDefaultPosition, wxSize(1400, 900)),
      routing_(this, *parts.router),
      marqueeTimer_(this),
      lockTimer_(this) {
#ifdef __WXGTK__
  // wxGTK holds a decorated window's first show back until the window manager reports its
  // frame, and then maps it at a few pixels for a moment: GTK's box and scroll-bar layout
  // complain (three Gtk-CRITICAL lines at every start). Shown at once, the window keeps its
  // client size and takes the frame's size when it is known.
  m_deferShow = false;
#endif
  MarkStartupPhase("  the frame window");
  CreateMenuBar();
  CreateStatusPanes();
  MarkStartupPhase("  the menu bar and the status bar");

  toolbar_ = new CAppToolbarPane();
  toolbar_->Create(this, CAppToolbarPane::kPaneId);
  MarkStartupPhase("  the toolbar");

  CreatePanes(parts);
  routing_.Router().SetTable(CommandLayer::Frame, FrameCommands());
  const AcceleratorSplit keys = SplitAccelerators(ToAcceleratorKeys(MainAccelerators()));
  bareKeys_ = keys.bare;
  SetAcceleratorTable(routing_.MakeAcceleratorTable(ToAcceleratorKeys(WindowTableAccelerators())));
  ApplyDpi(GetWindowDpi(this));
  Log(L"Tessary ready.", 0);
  MarkStartupPhase("  docking and the visual manager");

  Bind(wxEVT_CHAR_HOOK, &CMainFrame::OnCharHook, this);
  Bind(wxEVT_DROP_FILES, &CMainFrame::OnDropFiles, this);
  Bind(wxEVT_DPI_CHANGED, &CMainFrame::OnDpiChanged, this);
  // Before the frame's own layout, which the skip lets run.
  Bind(wxEVT_SIZE, [this](wxSizeEvent& event) {
    FitSidePanes();
    event.Skip();
  });
  Bind(wxEVT_TIMER, [this](wxTimerEvent&) { if (gauge_ != nullptr) gauge_->Pulse(); },
       marqueeTimer_.GetId());
  Bind(wxEVT_TIMER, [this](wxTimerEvent&) { UpdateLockIndicators(); }, lockTimer_.GetId());
  DragAcceptFiles(true);
  FitToDisplay();
  UpdateLockIndicators();
  lockTimer_.Start(kLockPollMs);
}

CMainFrame::~CMainFrame() {
  marqueeTimer_.Stop();
  lockTimer_.Stop();
  routing_.Router().ClearTable(CommandLayer::Frame);
}

void CMainFrame::FitToDisplay() {
  // The first size holds the three panes and a useful view; a smaller screen gets a window
  // that fits its work area.
  const int display = wxDisplay::GetFromPoint(wxGetMousePosition());
  const wxRect work = wxDisplay(display == wxNOT_FOUND ? 0u : static_cast<unsigned>(display)).GetClientArea();
  const wxSize size = GetSize();
  if (work.width > 0 && work.height > 0)
    SetSize(std::min(size.x, work.width), std::min(size.y, work.height));
  CentreOnScreen();
}

void CMainFrame::CreateMenuBar() {
  auto* bar = new wxMenuBar;
  for (const MainMenuEntry& top : MainMenuEntries()) {
    auto* menu = new wxMenu;
    AppendEntries(routing_, menu, top.children, recentMenu_);
    bar->Append(menu, wxString(top.text));
  }
  SetMenuBar(bar);
}

void CMainFrame::CreateStatusPanes() {
  wxStatusBar* bar = wxFrame::CreateStatusBar(kStatusPaneCount, wxSTB_DEFAULT_STYLE);
  const int styles[kStatusPaneCount] = {wxSB_NORMAL, wxSB_FLAT, wxSB_NORMAL, wxSB_NORMAL,
                                        wxSB_NORMAL, wxSB_NORMAL, wxSB_NORMAL};
  bar->SetStatusStyles(kStatusPaneCount, styles);
  gauge_ = new wxGauge(bar, wxID_ANY, kProgressRange, wxDefaultPosition, wxDefaultSize,
                       wxGA_HORIZONTAL | wxGA_SMOOTH);
  gauge_->SetValue(0);
  gauge_->Hide();
  bar->Bind(wxEVT_SIZE, &CMainFrame::OnStatusBarSize, this);
}

void CMainFrame::CreatePanes(const MainFrameParts& parts) {
  const WorkflowPaneFactory factory = parts.workflowPane ? parts.workflowPane : MakePlaceholderWorkflowPane;
  left_ = factory(this, parts.workflowContext);
  MarkStartupPhase("  the left pane (the workflow)");

  outputHost_ = new CStaticPane();
  outputHost_->Create(this, 149, L"Output", L"pane_output", {0, kOutputPaneHeight});
  output_ = new COutputWnd(outputHost_);
  outputHost_->SetContent(output_);
  rightHost_ = new CStaticPane();
  rightHost_->Create(this, 150, L"Information", L"pane_information", {CRightPane::kDesignWidth, 0});
  right_ = new CRightPane(rightHost_);
  rightHost_->SetContent(right_);
  view_ = parts.centreView ? parts.centreView(this) : new wxPanel(this, wxID_ANY);
  MarkStartupPhase("  the output and right panes");

  // The left pane takes the full height, the output log the width beside it, the information
  // pane the height above the log: the order in which the panes were docked.
  auto* upper = new wxBoxSizer(wxHORIZONTAL);
  upper->Add(view_, 1, wxEXPAND);
  upper->Add(rightHost_, 0, wxEXPAND);
  auto* column = new wxBoxSizer(wxVERTICAL);
  column->Add(upper, 1, wxEXPAND);
  column->Add(outputHost_, 0, wxEXPAND);
  auto* body = new wxBoxSizer(wxHORIZONTAL);
  if (left_.pane != nullptr) body->Add(left_.pane, 0, wxEXPAND);
  body->Add(column, 1, wxEXPAND);
  auto* root = new wxBoxSizer(wxVERTICAL);
  root->Add(toolbar_, 0, wxEXPAND);
  root->Add(body, 1, wxEXPAND);
  SetSizer(root);
}

CommandTable CMainFrame::FrameCommands() {
  CommandTable table;
  table.push_back({menu_ids::kStatusBar,
                   [this] {
                     if (wxStatusBar* bar = GetStatusBar()) {
                       bar->Show(!bar->IsShown());
                       SendSizeEvent();
                     }
                   },
                   [this](CommandState& state) {
                     state.checked = GetStatusBar() != nullptr && GetStatusBar()->IsShown();
                   }});
  table.push_back({menu_ids::kExit, [this] { Close(); }, {}});
  table.push_back({menu_ids::kReloadTextures, [this] { if (left_.reloadTextures) left_.reloadTextures(); },
                   [this](CommandState& state) { state.enabled = static_cast<bool>(left_.reloadTextures); }});
  table.push_back({menu_ids::kNextPane, [this] { MoveFocusToPane(1); }, {}});
  table.push_back({menu_ids::kPreviousPane, [this] { MoveFocusToPane(-1); }, {}});
  for (int pane : {menu_ids::kProgressPane, menu_ids::kFramePane, menu_ids::kToolPane})
    table.push_back({pane, {}, [](CommandState& state) { state.enabled = true; }});
  return table;
}

void CMainFrame::ApplyDpi(int dpi) {
  if (left_.pane != nullptr) left_.pane->SetDpi(dpi);
  outputHost_->SetDpi(dpi);
  output_->SetDpi(dpi);
  rightHost_->SetDpi(dpi);
  SizeStatusPanes();
  FitSidePanes();
  Layout();
}

void CMainFrame::FitSidePanes() {
  if (rightHost_ == nullptr) return;
  const int dpi = GetWindowDpi(this);
  const int left = left_.pane != nullptr ? StaticPaneSize(left_.pane->Design(), dpi).width : 0;
  const SidePaneWidths widths =
      SidePaneWidthsFor(GetClientSize().x, left, StaticPaneSize(rightHost_->Design(), dpi).width);
  if (left_.pane != nullptr) left_.pane->SetFixedWidth(widths.left);
  rightHost_->SetFixedWidth(widths.right);
}

void CMainFrame::SizeStatusPanes() {
  wxStatusBar* bar = GetStatusBar();
  if (bar == nullptr) return;
  const int dpi = GetWindowDpi(bar);
  const StatusPaneWidths widths = StatusPaneWidthsFor(dpi, widestToolText_, widestFrameText_);
  if (!(widths == paneWidths_)) {
    paneWidths_ = widths;
    const int lock = ScaleForDpi(kLockPaneWidth, dpi);
    const int all[kStatusPaneCount] = {-1, widths.progress, widths.tool, widths.frame, lock, lock, lock};
    bar->SetStatusWidths(kStatusPaneCount, all);
  }
  PlaceProgressBar();
}

void CMainFrame::PlaceProgressBar() {
  wxStatusBar* bar = GetStatusBar();
  if (bar == nullptr || gauge_ == nullptr) return;
  wxRect field;
  if (!bar->GetFieldRect(1, field) || field.IsEmpty()) return;
  field.Deflate(2);
  gauge_->SetSize(field);
  if (gauge_->IsShown()) gauge_->Refresh();
}

void CMainFrame::OnStatusBarSize(wxSizeEvent& event) {
  PlaceProgressBar();
  event.Skip();
}

void CMainFrame::ShowPipelineProgress(const grainforge::mesh::PipelineStatus& status) {
  ApplyProgressChange(grainforge::app::ShowPipelineProgress(progress_, status));
  ShowRunProgressIn(left_.pane, Utf8ToWide(status.stageText), status.fraction, status.hasFraction);
}

void CMainFrame::HidePipelineProgress() {
  ApplyProgressChange(grainforge::app::HidePipelineProgress(progress_));
  ClearRunProgressIn(left_.pane);
}

void CMainFrame::ApplyProgressChange(const ProgressChange& change) {
  if (gauge_ != nullptr) {
    if (change.show) {
      PlaceProgressBar();
      gauge_->Show();
    }
    if (change.marquee) {
      if (*change.marquee) {
        gauge_->Pulse();
        marqueeTimer_.Start(kMarqueeStepMs);
      } else {
        marqueeTimer_.Stop();
        gauge_->SetValue(0);
      }
    }
    if (change.position) gauge_->SetValue(*change.position);
    if (change.hide) gauge_->Hide();
  }
  if (change.text) SetStatusText(wxString(*change.text), 0);
}

int CMainFrame::StatusTextWidth(const std::wstring& text) const {
  wxStatusBar* bar = GetStatusBar();
  if (bar == nullptr || text.empty()) return 0;
  wxClientDC dc(bar);
  dc.SetFont(bar->GetFont());
  return dc.GetTextExtent(wxString(text)).x;
}

void CMainFrame::SetStatusPaneTexts(const std::vector<std::wstring>& toolTexts,
                                    const std::vector<std::wstring>& frameTexts) {
  for (const std::wstring& text : toolTexts) widestToolText_ = std::max(widestToolText_, StatusTextWidth(text));
  for (const std::wstring& text : frameTexts) widestFrameText_ = std::max(widestFrameText_, StatusTextWidth(text));
  SizeStatusPanes();
}

void CMainFrame::SetToolPaneText(const std::wstring& text) {
  if (text == toolText_) return;
  toolText_ = text;
  const int width = StatusTextWidth(text);
  if (width > widestToolText_) {
    widestToolText_ = width;
    SizeStatusPanes();
  }
  SetStatusText(wxString(text), 2);
}

void CMainFrame::SetFramePaneText(const std::wstring& text) {
  if (text == frameText_) return;
  frameText_ = text;
  const int width = StatusTextWidth(text);
  if (width > widestFrameText_) {
    widestFrameText_ = width;
    SizeStatusPanes();
  }
  SetStatusText(wxString(text), 3);
}

void CMainFrame::UpdateLockIndicators() {
  const LockIndicators now = LockIndicatorTexts(wxGetKeyState(WXK_CAPITAL), wxGetKeyState(WXK_NUMLOCK));
  if (now == locks_) return;
  locks_ = now;
  SetStatusText(wxString(now.caps), 4);
  SetStatusText(wxString(now.num), 5);
  SetStatusText(wxString(now.scroll), 6);
}

void CMainFrame::Log(const std::wstring& text, int level) {
  if (output_ != nullptr) output_->AppendOutputLine(DisplayText(text).c_str(), level);
}

void CMainFrame::ShowInformation(const std::wstring& text, int kind) {
  if (right_ != nullptr) right_->SetInfoText(DisplayText(text), kind);
}

void CMainFrame::ShowInformationMessages(const std::vector<InformationMessage>& messages) {
  if (right_ == nullptr) return;
  std::vector<InformationMessage> shown = messages;
  for (InformationMessage& message : shown) message.text = DisplayText(message.text);
  right_->SetInfoMessages(shown);
}

void CMainFrame::OnCharHook(wxKeyEvent& event) {
  if (!HandleKeyHook(event.GetKeyCode(), event.GetModifiers(), wxWindow::FindFocus())) event.Skip();
}

bool CMainFrame::HandleKeyHook(int keyCode, int modifiers, const wxWindow* focus) {
  FocusKind kind = FocusKind::Other;
  // A spin control's or combo box's entry is a child of the control that is the text entry.
  if (focus != nullptr && (dynamic_cast<const wxTextEntry*>(focus) != nullptr ||
                           dynamic_cast<const wxTextEntry*>(focus->GetParent()) != nullptr))
    kind = FocusKind::TextField;
  else if (output_ != nullptr && IsInside(focus, output_))
    kind = FocusKind::OutputLog;
  switch (FrameKeyFor(ToHookKey(keyCode), modifiers, kind)) {
    case FrameKey::StopProcessing:
      // Without a run Stop is disabled, and the key goes on to whoever else wants it.
      return routing_.Router().Execute(menu_ids::kStopProcessing) == CommandOutcome::Executed;
    case FrameKey::CopyLog:
      output_->CopyOutputSelection();
      return true;
    case FrameKey::PassOn:
      break;
  }
  return false;
}

void CMainFrame::OnDropFiles(wxDropFilesEvent& event) {
  std::vector<std::filesystem::path> paths;
  for (int i = 0; i < event.GetNumberOfFiles(); ++i)
    paths.push_back(PathFromWxString(event.GetFiles()[i]));
  Raise();
  OpenDroppedFiles(paths);
}

void CMainFrame::OpenDroppedFiles(const std::vector<std::filesystem::path>& paths) {
  if (dropHandler_) dropHandler_(paths);
}

void CMainFrame::OnDpiChanged(wxDPIChangedEvent& event) {
  ApplyDpi(GetWindowDpi(this));
  event.Skip();
}

void CMainFrame::MoveFocusToPane(int step) {
  std::vector<wxWindow*> panes = {view_, left_.pane, rightHost_, outputHost_};
  std::erase(panes, nullptr);
  if (panes.empty()) return;
  const wxWindow* focus = wxWindow::FindFocus();
  int current = -1;
  for (std::size_t i = 0; i < panes.size(); ++i) {
    if (IsInside(focus, panes[i])) current = static_cast<int>(i);
  }
  const int count = static_cast<int>(panes.size());
  const int next = ((current < 0 ? 0 : current + step) % count + count) % count;
  panes[static_cast<std::size_t>(next)]->SetFocus();
}

}  // namespace grainforge::app
