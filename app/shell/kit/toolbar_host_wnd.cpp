#include "app/shell/kit/toolbar_host_wnd.h"

#include <algorithm>

#include <wx/dcbuffer.h>
#include <wx/toplevel.h>
#include <wx/utils.h>

#include "app/shell/kit/command_events.h"
#include "app/shell/kit/kit_drawing.h"
#include "app/shell/kit/rect_tooltip.h"
#include "app/shell/kit/toolbar_tint.h"
#include "app/shell/kit/ui_scale.h"
#include "app/shell/kit/window_ids.h"

namespace grainforge::app {
namespace {

constexpr int kMainBarHeight = 40;
const Rgb kMissingIconFrame{170, 170, 170};

wxRect ToWxRect(const PixelRect& rect) {
  return wxRect(rect.left, rect.top, rect.Width(), rect.Height());
}

// Whether the window under the pointer is this one or one of its own (its tooltip); a dialog
// in front of it does not count.
bool PointerIsOver(const wxWindow& window) {
  for (wxWindow* found = wxFindWindowAtPoint(wxGetMousePosition()); found != nullptr;
       found = found->GetParent()) {
    if (found == &window) return true;
  }
  return false;
}

}  // namespace

CToolbarHostWnd::CToolbarHostWnd()
    : sourceIcons_(std::make_unique<IconFileCache>(ResourcesFolder(), IconFileCache::Misses::Retry,
                                                   ToolbarIconFilePath)),
      updateTimer_(this) {}

CToolbarHostWnd::~CToolbarHostWnd() {
  updateTimer_.Stop();
  if (HasCapture()) ReleaseMouse();
}

bool CToolbarHostWnd::Create(wxWindow* parent, wxWindowID id) {
  SetBackgroundStyle(wxBG_STYLE_PAINT);
  if (!wxWindow::Create(parent, ToWindowId(id), wxDefaultPosition, wxDefaultSize,
                        wxBORDER_NONE | wxFULL_REPAINT_ON_RESIZE, "ToolbarHost"))
    return false;
  tooltip_ = std::make_unique<CRectTooltip>(this);
  Bind(wxEVT_PAINT, &CToolbarHostWnd::OnPaint, this);
  RepaintOnFocusChange(this);
  Bind(wxEVT_SIZE, &CToolbarHostWnd::OnSize, this);
  Bind(wxEVT_MOTION, &CToolbarHostWnd::OnMotion, this);
  Bind(wxEVT_LEAVE_WINDOW, &CToolbarHostWnd::OnLeave, this);
  Bind(wxEVT_LEFT_DOWN, &CToolbarHostWnd::OnLeftDown, this);
  // A quick second click arrives as a double click; it is a press like any other.
  Bind(wxEVT_LEFT_DCLICK, &CToolbarHostWnd::OnLeftDown, this);
  Bind(wxEVT_LEFT_UP, &CToolbarHostWnd::OnLeftUp, this);
  Bind(wxEVT_MOUSE_CAPTURE_LOST, &CToolbarHostWnd::OnCaptureLost, this);
  Bind(wxEVT_IDLE, &CToolbarHostWnd::OnIdle, this);
  Bind(wxEVT_DPI_CHANGED, &CToolbarHostWnd::OnDpiChanged, this);
  // Only the update timer is owned by this window.
  Bind(wxEVT_TIMER, &CToolbarHostWnd::OnUpdateTimer, this);
  return true;
}

void CToolbarHostWnd::SetItems(std::vector<ToolbarItem> items) {
  model_.SetItems(std::move(items), commandStrings_);
  Relayout();
  UpdateCommandStates();
  Refresh(true);
}

void CToolbarHostWnd::SetButtonSize() {
  if (model_.Spacing().barHeight == kMainBarHeight) return;
  model_.Spacing().barHeight = kMainBarHeight;
  EmptyIconCaches();
  Relayout();
  Refresh(true);
  InvalidateBestSize();
  if (wxWindow* top = wxGetTopLevelParent(this)) top->Layout();
}

void CToolbarHostWnd::SetColorStyle() {
  colors_ = ToolbarColors{};
  EmptyIconCaches();
  Relayout();
  Refresh(true);
}

void CToolbarHostWnd::SetIconPadding(int pixels) {
  if (model_.Spacing().iconPadding == pixels) return;
  model_.Spacing().iconPadding = pixels;
  Relayout();
  Refresh(false);
}

void CToolbarHostWnd::SetSpacing(int pixels) {
  if (model_.Spacing().spacing == pixels) return;
  model_.Spacing().spacing = pixels;
  Relayout();
  Refresh(false);
}

void CToolbarHostWnd::SetMargin(int pixels) {
  if (model_.Spacing().margin == pixels) return;
  model_.Spacing().margin = pixels;
  Relayout();
  Refresh(false);
}

void CToolbarHostWnd::SetOrientation(int orientation) {
  if (model_.Spacing().orientation == orientation) return;
  model_.Spacing().orientation = orientation;
  scaledIcons_.clear();
  Relayout();
  Refresh(true);
}

void CToolbarHostWnd::SetIconFolder(std::filesystem::path folder) {
  sourceIcons_ = std::make_unique<IconFileCache>(std::move(folder), IconFileCache::Misses::Retry,
                                                 ToolbarIconFilePath);
  scaledIcons_.clear();
  Relayout();
  Refresh(true);
}

void CToolbarHostWnd::EmptyIconCaches() {
  sourceIcons_->Clear();
  scaledIcons_.clear();
}

std::optional<IconSize> CToolbarHostWnd::SourceIconSize(const ToolbarItem& item) {
  if (item.iconName.empty()) return std::nullopt;
  const wxImage* image = sourceIcons_->Find(item.iconName);
  if (image == nullptr) return std::nullopt;
  return IconSize{image->GetWidth(), image->GetHeight()};
}

const wxBitmap* CToolbarHostWnd::ScaledIcon(const ToolbarItem& item, int height, bool disabled) {
  if (height < 1 || item.iconName.empty()) return nullptr;
  const auto key = std::make_tuple(item.iconName, height, disabled);
  if (const auto found = scaledIcons_.find(key); found != scaledIcons_.end()) return &found->second;
  const wxImage* source = sourceIcons_->Find(item.iconName);
  if (source == nullptr || source->GetHeight() < 1) return nullptr;
  const int width = ScaledIconWidth({source->GetWidth(), source->GetHeight()}, height);
  wxImage scaled = source->Scale(width, height, wxIMAGE_QUALITY_HIGH);
  if (disabled) {
    // The plain icon stands in when the grey look cannot be made.
    if (std::optional<wxImage> tinted = TintBitmap(scaled, colors_.disabledTint))
      scaled = std::move(*tinted);
  }
  return &scaledIcons_.emplace(key, wxBitmap(scaled)).first->second;
}

void CToolbarHostWnd::Relayout() {
  const wxSize size = GetClientSize();
  model_.Layout(size.x, size.y, GetWindowDpi(this),
                [this](const ToolbarItem& item) { return SourceIconSize(item); });
  RegisterTooltipTools();
}

void CToolbarHostWnd::RegisterTooltipTools() {
  if (!tooltip_) return;
  std::vector<TooltipRegion> regions;
  for (const ToolbarButtonState& button : model_.Buttons()) {
    if (button.item.kind != ToolbarItemKind::Button || button.rect.IsEmpty()) continue;
    const ToolbarTooltipText text = TooltipForDisplay(button.tooltip);
    regions.push_back(TooltipRegion{button.rect, text.title, text.body});
  }
  tooltip_->SetRegions(std::move(regions));
}

std::optional<CommandState> CToolbarHostWnd::AskState(std::uint32_t commandId) {
  if (target_ != nullptr) return target_->QueryCommand(commandId);
  CommandQueryEvent query(commandId, GetId());
  query.SetEventObject(this);
  ProcessWindowEvent(query);
  return query.Answer();
}

void CToolbarHostWnd::SendCommand(std::uint32_t commandId) {
  if (commandId == 0) return;
  if (target_ != nullptr) {
    target_->ExecuteCommand(commandId);
    return;
  }
  wxCommandEvent event = MakeCommandEvent(commandId, this);
  ProcessWindowEvent(event);
}

// wxGTK drops the leave that comes while a menu or a modal dialog holds the pointer, so a
// button hovered just before (the one clicked before Open, say) would keep its hover look next
// to the checked one; the pointer itself is asked instead.
void CToolbarHostWnd::DropHoverLeftBehind() {
  if (model_.HotIndex() < 0 || HasCapture() || PointerIsOver(*this)) return;
  RefreshRects(model_.PointerElsewhere());
}

void CToolbarHostWnd::UpdateCommandStates() {
  if (!model_.UpdateCommandStates([this](std::uint32_t id) { return AskState(id); })) return;
  // A state may bring its own tooltip (why the button is disabled).
  RegisterTooltipTools();
  Refresh(false);
}

void CToolbarHostWnd::RefreshRects(const std::vector<PixelRect>& rects) {
  for (const PixelRect& rect : rects) {
    if (!rect.IsEmpty()) RefreshRect(ToWxRect(rect), false);
  }
}

bool CToolbarHostWnd::IsHorizontal() const {
  return model_.Spacing().orientation == 0;
}

// A line across the middle of the separator's rectangle, inset at both ends.
void CToolbarHostWnd::DrawSeparator(wxDC& dc, const PixelRect& r, int dpi) const {
  const int line = std::max(1, ScaleForDpi(1, dpi));
  const int inset = ScaleForDpi(3, dpi);
  dc.SetPen(*wxTRANSPARENT_PEN);
  dc.SetBrush(wxBrush(ToWxColour(colors_.border)));
  if (IsHorizontal()) {
    dc.DrawRectangle(r.left + (r.Width() - line) / 2, r.top + inset, line, r.Height() - 2 * inset);
  } else {
    dc.DrawRectangle(r.left + inset, r.top + (r.Height() - line) / 2, r.Width() - 2 * inset, line);
  }
}

// The face (fill and frame for its state), then the icon.
void CToolbarHostWnd::DrawButton(wxDC& dc, int index, int dpi) {
  const ToolbarButtonState& button = model_.Buttons()[static_cast<std::size_t>(index)];
  const ButtonLook look =
      ButtonLookFor(button, index == model_.HotIndex(), index == model_.PressedIndex(), colors_);
  dc.SetBrush(wxBrush(ToWxColour(look.fill)));
  dc.SetPen(look.frame ? wxPen(ToWxColour(*look.frame)) : *wxTRANSPARENT_PEN);
  dc.DrawRectangle(ToWxRect(button.rect));
  DrawButtonContent(dc, button, look.greyIcon, dpi);
}

// The icon centred in the button, or a small grey frame where it is missing.
void CToolbarHostWnd::DrawButtonContent(wxDC& dc, const ToolbarButtonState& button,
                                        bool greyIcon, int dpi) {
  const PixelRect& r = button.rect;
  const int cross = IsHorizontal() ? r.Height() : r.Width();
  const wxBitmap* icon = ScaledIcon(button.item, ToolbarDrawIconHeight(cross, dpi), greyIcon);
  if (icon != nullptr && icon->IsOk()) {
    dc.DrawBitmap(*icon, r.left + (r.Width() - icon->GetWidth()) / 2,
                  r.top + (r.Height() - icon->GetHeight()) / 2, true);
    return;
  }
  const int insetX = ScaleForDpi(10, dpi);
  const int insetY = ScaleForDpi(8, dpi);
  dc.SetPen(wxPen(ToWxColour(kMissingIconFrame)));
  dc.SetBrush(*wxTRANSPARENT_BRUSH);
  dc.DrawRectangle(r.left + insetX, r.top + insetY, r.Width() - 2 * insetX, r.Height() - 2 * insetY);
}

void CToolbarHostWnd::OnPaint(wxPaintEvent&) {
  wxAutoBufferedPaintDC dc(this);
  const int dpi = GetWindowDpi(this);
  const wxSize size = GetClientSize();
  const int line = std::max(1, ScaleForDpi(1, dpi));
  dc.SetPen(*wxTRANSPARENT_PEN);
  dc.SetBrush(wxBrush(ToWxColour(colors_.background)));
  dc.DrawRectangle(0, 0, size.x, size.y);
  dc.SetBrush(wxBrush(ToWxColour(colors_.border)));
  if (IsHorizontal()) {
    dc.DrawRectangle(0, size.y - line, size.x, line);
  } else {
    dc.DrawRectangle(size.x - line, 0, line, size.y);
  }
  const auto& buttons = model_.Buttons();
  for (std::size_t i = 0; i < buttons.size(); ++i) {
    if (buttons[i].rect.IsEmpty()) continue;
    if (buttons[i].item.kind == ToolbarItemKind::Separator) {
      DrawSeparator(dc, buttons[i].rect, dpi);
    } else {
      DrawButton(dc, static_cast<int>(i), dpi);
    }
  }
  DrawFocusOutline(dc, *this);
}

void CToolbarHostWnd::OnSize(wxSizeEvent& event) {
  Relayout();
  Refresh(true);
  event.Skip();
}

void CToolbarHostWnd::OnMotion(wxMouseEvent& event) {
  RefreshRects(model_.MouseMove(event.GetX(), event.GetY()));
  if (tooltip_) tooltip_->OnMouseMove(event.GetX(), event.GetY());
  event.Skip();
}

void CToolbarHostWnd::OnLeave(wxMouseEvent& event) {
  RefreshRects(model_.MouseLeave());
  if (tooltip_) tooltip_->OnMouseLeave();
  event.Skip();
}

void CToolbarHostWnd::OnLeftDown(wxMouseEvent& event) {
  if (tooltip_) tooltip_->OnButtonDown();
  if (model_.ButtonDown(event.GetX(), event.GetY())) {
    RefreshRects({model_.Buttons()[static_cast<std::size_t>(model_.PressedIndex())].rect});
    if (!HasCapture()) CaptureMouse();
  }
  event.Skip();
}

void CToolbarHostWnd::OnLeftUp(wxMouseEvent& event) {
  if (HasCapture()) ReleaseMouse();
  const int pressed = model_.PressedIndex();
  const std::optional<ToolbarClick> click = model_.ButtonUp(event.GetX(), event.GetY());
  if (pressed >= 0) RefreshRects({model_.Buttons()[static_cast<std::size_t>(pressed)].rect});
  if (click) {
    SendCommand(click->commandId);
    // The command may have closed the window's frame; only a live window updates itself.
    if (!IsBeingDeleted()) {
      UpdateCommandStates();
      Refresh(false);
    }
  }
  event.Skip();
}

void CToolbarHostWnd::OnCaptureLost(wxMouseCaptureLostEvent&) {
  model_.CancelPress();
  Refresh(false);
}

void CToolbarHostWnd::OnIdle(wxIdleEvent& event) {
  const auto now = IdleThrottle::Clock::now();
  if (updateThrottle_.TryRun(now)) {
    DropHoverLeftBehind();
    UpdateCommandStates();
  } else if (!updateTimer_.IsRunning()) {
    // Come back once the interval is over, so the last change before a quiet spell shows.
    const auto wait = std::max<long long>(1, updateThrottle_.Remaining(now).count());
    updateTimer_.StartOnce(static_cast<int>(wait));
  }
  event.Skip();
}

void CToolbarHostWnd::OnUpdateTimer(wxTimerEvent&) {
  if (!updateThrottle_.TryRun(IdleThrottle::Clock::now())) return;
  DropHoverLeftBehind();
  UpdateCommandStates();
}

void CToolbarHostWnd::OnDpiChanged(wxDPIChangedEvent& event) {
  scaledIcons_.clear();
  Relayout();
  Refresh(true);
  event.Skip();
}

}  // namespace grainforge::app
