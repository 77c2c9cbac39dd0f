#include "app/workflow/flow_wnd.h"

#include <algorithm>
#include <string>

#include <wx/dcbuffer.h>
#include <wx/scrolbar.h>

#include "app/shell/kit/kit_drawing.h"
#include "app/shell/kit/ui_colours.h"
#include "app/shell/kit/ui_scale.h"
#include "app/shell/kit/window_ids.h"
#include "app/shell/startup_timer.h"
#include "app/document/log_text.h"

namespace grainforge::app {
namespace {

constexpr int kFirstHeaderId = 100;
constexpr int kFirstBodyId = 200;

}  // namespace

CFlowWnd::CFlowWnd(wxWindow* parent, wxWindowID id, int dpi, IProfileStore* profile)
    : wxWindow(parent, ToWindowId(id), wxDefaultPosition, wxDefaultSize,
               wxBORDER_NONE | wxCLIP_CHILDREN),
      collapse_(profile),
      dpi_(dpi) {
  SetBackgroundStyle(wxBG_STYLE_PAINT);
  SetCursor(wxCursor(wxCURSOR_ARROW));
  for (int i = 0; i < kFlowStepCount; ++i) {
    const FlowStep step = StepAt(i);
    auto* header = new CSectionHeader(this, kFirstHeaderId + i, step, dpi_);
    header->SetNotify([this](FlowStep s, HeaderCode code, bool ctrl) { OnHeader(s, code, ctrl); });
    header->Bind(wxEVT_MOUSEWHEEL, &CFlowWnd::OnWheel, this);
    auto* body = new CSectionBody();
    CreateSectionBody(body, this, kFirstBodyId + i, step);
    body->Bind(wxEVT_MOUSEWHEEL, &CFlowWnd::OnWheel, this);
    sections_[i] = Section{header, body};
    MarkStartupPhase(("    section " + WideToUtf8(SectionOf(step).title)).c_str());
  }
  Bind(wxEVT_SIZE, &CFlowWnd::OnSize, this);
  Bind(wxEVT_PAINT, &CFlowWnd::OnPaint, this);
  Bind(wxEVT_MOUSEWHEEL, &CFlowWnd::OnWheel, this);
  // A scroll bar of our own rather than the toolkit's scrolled window: GTK's one draws its
  // edge shading over the owner-drawn column and lays the children out itself.
  scrollBar_ = new wxScrollBar(this, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxSB_VERTICAL);
  scrollBar_->Hide();
  scrollBar_->Bind(wxEVT_SCROLL_THUMBTRACK, &CFlowWnd::OnScroll, this);
  scrollBar_->Bind(wxEVT_SCROLL_CHANGED, &CFlowWnd::OnScroll, this);
  for (const auto& type : {wxEVT_SCROLL_TOP, wxEVT_SCROLL_BOTTOM, wxEVT_SCROLL_LINEUP,
                           wxEVT_SCROLL_LINEDOWN, wxEVT_SCROLL_PAGEUP, wxEVT_SCROLL_PAGEDOWN})
    scrollBar_->Bind(type, &CFlowWnd::OnScroll, this);
  wheelRedirect_ = std::make_unique<PaneWheelRedirect>(*this, [this](const wxMouseEvent& wheel) {
    ScrollFlowTo(WheelScrollTarget(scrollPos_, wheel.GetWheelRotation(), dpi_));
  });
  collapse_.LoadFromProfile();
  ApplyCollapsedFlags();
  RelayoutSections();
}

void CFlowWnd::ReplaceBody(FlowStep step, CSectionBody* body) {
  if (body == nullptr) return;
  Section& section = sections_[StepIndex(step)];
  if (section.body == body) return;
  if (section.body != nullptr) section.body->Destroy();
  section.body = body;
  body->Bind(wxEVT_MOUSEWHEEL, &CFlowWnd::OnWheel, this);
  ApplyCollapsedFlags();
  RelayoutSections();
}

void CFlowWnd::ApplyCollapsedFlags() {
  for (int i = 0; i < kFlowStepCount; ++i) {
    const bool collapsed = collapse_.IsCollapsed(StepAt(i));
    sections_[i].header->SetCollapsed(collapsed);
    sections_[i].body->Show(!collapsed);
  }
}

void CFlowWnd::SetSectionCollapsed(FlowStep step, bool collapsed) {
  if (!collapse_.SetSectionCollapsed(step, collapsed)) return;
  ApplyCollapsedFlags();
  RelayoutSections();
}

void CFlowWnd::SetCollapsedMask(int mask) {
  collapse_.SetCollapsedMask(mask);
  ApplyCollapsedFlags();
  RelayoutSections();
}

void CFlowWnd::RelayoutSections() {
  const wxSize client = GetClientSize();
  std::array<SectionExtent, kFlowStepCount> extents;
  for (int i = 0; i < kFlowStepCount; ++i) {
    const Section& section = sections_[i];
    extents[i] = SectionExtent{section.header->BarHeight(), section.body->GetContentHeight(),
                               collapse_.IsCollapsed(StepAt(i))};
  }
  FlowStack stack = StackSections(extents, PixelRect{0, 0, client.x, client.y}, scrollPos_);
  const bool needsBar = stack.contentHeight > client.y && client.y > 0;
  const int barWidth = needsBar ? std::min(scrollBar_->GetBestSize().x, client.x) : 0;
  if (needsBar)
    stack = StackSections(extents, PixelRect{0, 0, client.x - barWidth, client.y}, scrollPos_);
  contentHeight_ = stack.contentHeight;
  scrollPos_ = stack.scrollPos;
  if (needsBar) {
    scrollBar_->SetScrollbar(scrollPos_, client.y, contentHeight_, client.y);
    scrollBar_->SetSize(client.x - barWidth, 0, barWidth, client.y);
  }
  scrollBar_->Show(needsBar);
  for (int i = 0; i < kFlowStepCount; ++i) {
    const PixelRect& h = stack.headers[i];
    const PixelRect& b = stack.bodies[i];
    sections_[i].header->SetSize(h.left, h.top, h.Width(), h.Height());
    sections_[i].body->SetSize(b.left, b.top, b.Width(), b.Height());
  }
  Refresh(false);
}

void CFlowWnd::ScrollFlowTo(int position) {
  const int clamped = ClampFlowScroll(position, contentHeight_, GetClientSize().y);
  if (clamped == scrollPos_) return;
  scrollPos_ = clamped;
  RelayoutSections();
  Update();
}

void CFlowWnd::BringIntoSight(wxWindow* child) {
  for (int i = 0; i < kFlowStepCount; ++i) {
    bool inBody = false;
    for (wxWindow* w = child; w != nullptr && w != this && !inBody; w = w->GetParent())
      inBody = w == sections_[i].body;
    if (!inBody) continue;
    SetSectionCollapsed(static_cast<FlowStep>(i), false);
    const int top = child->GetScreenPosition().y - GetScreenPosition().y;
    const int bottom = top + child->GetSize().y;
    const int margin = ScaleForDpi(kFlowScrollLine, dpi_);
    if (top < 0) ScrollFlowTo(scrollPos_ + top - margin);
    else if (bottom > GetClientSize().y) ScrollFlowTo(scrollPos_ + bottom - GetClientSize().y + margin);
    return;
  }
}

void CFlowWnd::SetDpi(int dpi) {
  for (const Section& section : sections_) {
    section.header->SetDpi(dpi);
    section.body->SetDpi(dpi);
  }
  dpi_ = dpi;
  RelayoutSections();
}

void CFlowWnd::OnHeader(FlowStep step, HeaderCode code, bool ctrlHeld) {
  if (code == HeaderCode::Collapse) {
    collapse_.OnHeaderCollapse(step, Header(step).Model().IsCollapsed(), ctrlHeld);
    ApplyCollapsedFlags();
    RelayoutSections();
  }
  const FlowEvent event = code == HeaderCode::Settings   ? FlowEvent::Settings
                          : code == HeaderCode::Collapse ? FlowEvent::Collapse
                                                         : FlowEvent::Switch;
  if (onFlowEvent_) onFlowEvent_(step, event);
}

void CFlowWnd::OnScroll(wxScrollEvent& event) {
  const int line = ScaleForDpi(kFlowScrollLine, dpi_);
  const int page = GetClientSize().y;
  const wxEventType type = event.GetEventType();
  int target = event.GetPosition();
  if (type == wxEVT_SCROLL_LINEUP) target = scrollPos_ - line;
  else if (type == wxEVT_SCROLL_LINEDOWN) target = scrollPos_ + line;
  else if (type == wxEVT_SCROLL_PAGEUP) target = scrollPos_ - page;
  else if (type == wxEVT_SCROLL_PAGEDOWN) target = scrollPos_ + page;
  else if (type == wxEVT_SCROLL_TOP) target = 0;
  else if (type == wxEVT_SCROLL_BOTTOM) target = contentHeight_;
  ScrollFlowTo(target);
}

void CFlowWnd::OnWheel(wxMouseEvent& event) {
  if (event.GetWheelAxis() != wxMOUSE_WHEEL_VERTICAL) {
    event.Skip();
    return;
  }
  ScrollFlowTo(WheelScrollTarget(scrollPos_, event.GetWheelRotation(), dpi_));
}

void CFlowWnd::OnSize(wxSizeEvent& event) {
  event.Skip();
  RelayoutSections();
}

void CFlowWnd::OnPaint(wxPaintEvent&) {
  wxAutoBufferedPaintDC dc(this);
  const wxSize size = GetClientSize();
  dc.SetPen(*wxTRANSPARENT_PEN);
  dc.SetBrush(wxBrush(ToWxColour(colours::kPaneBackground)));
  dc.DrawRectangle(0, 0, size.x, size.y);
}

}  // namespace grainforge::app
