#include "app/workflow/flow_wnd.h"

#include <string>

#include <wx/dcbuffer.h>

#include "app/shell/kit/kit_drawing.h"
#include "app/shell/kit/scroll_arithmetic.h"
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
               wxBORDER_NONE | wxVSCROLL | wxCLIP_CHILDREN),
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
  for (const auto& type : {wxEVT_SCROLLWIN_TOP, wxEVT_SCROLLWIN_BOTTOM, wxEVT_SCROLLWIN_LINEUP,
                           wxEVT_SCROLLWIN_LINEDOWN, wxEVT_SCROLLWIN_PAGEUP,
                           wxEVT_SCROLLWIN_PAGEDOWN, wxEVT_SCROLLWIN_THUMBTRACK,
                           wxEVT_SCROLLWIN_THUMBRELEASE})
    Bind(type, &CFlowWnd::OnScroll, this);
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
  const FlowStack stack = StackSections(extents, PixelRect{0, 0, client.x, client.y}, scrollPos_);
  contentHeight_ = stack.contentHeight;
  scrollPos_ = stack.scrollPos;
  SetVScrollInfo(this, contentHeight_, client.y, scrollPos_);
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

void CFlowWnd::OnScroll(wxScrollWinEvent& event) {
  if (event.GetOrientation() != wxVERTICAL) return;
  const int code = ScrollCodeFromEventType(event.GetEventType());
  const int line = ScaleForDpi(kFlowScrollLine, dpi_);
  ScrollFlowTo(ScrollPosFromCode(code, scrollPos_, line, GetClientSize().y, contentHeight_,
                                 event.GetPosition()));
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
