#include "app/shell/kit/rect_tooltip.h"

#include <wx/display.h>
#include <wx/popupwin.h>
#include <wx/settings.h>
#include <wx/sizer.h>
#include <wx/stattext.h>
#include <wx/window.h>

#include "app/shell/kit/ui_scale.h"

namespace grainforge::app {
namespace {

constexpr int kPadding = 6;

PixelRect WorkAreaAround(const wxPoint& point) {
  const int index = wxDisplay::GetFromPoint(point);
  const wxRect area = wxDisplay(index == wxNOT_FOUND ? 0u : static_cast<unsigned>(index))
                          .GetClientArea();
  return PixelRect{area.GetLeft(), area.GetTop(), area.GetRight() + 1, area.GetBottom() + 1};
}

}  // namespace

CRectTooltip::CRectTooltip(wxWindow* owner, std::chrono::milliseconds delay)
    : owner_(owner), model_(delay), timer_(this) {
  Bind(wxEVT_TIMER, &CRectTooltip::OnTimer, this);
}

CRectTooltip::~CRectTooltip() {
  timer_.Stop();
  // The popup is a child of the owner, which may already be going; destroying it here keeps a
  // shown tooltip from outliving the window it belongs to.
  if (popup_ != nullptr) popup_->Destroy();
}

void CRectTooltip::SetRegions(std::vector<TooltipRegion> regions) {
  model_.SetRegions(std::move(regions));
  if (!model_.IsShown()) Hide();
}

void CRectTooltip::OnMouseMove(int x, int y) {
  Apply(model_.MouseMove(x, y, HoverTooltipModel::Clock::now()));
}

void CRectTooltip::OnMouseLeave() {
  Apply(model_.MouseLeave());
}

void CRectTooltip::OnButtonDown() {
  Apply(model_.ButtonDown());
}

wxWindow* CRectTooltip::ShownPopup() const {
  return popup_ != nullptr && popup_->IsShown() ? popup_ : nullptr;
}

void CRectTooltip::Apply(HoverTooltipModel::Change change) {
  if (change.hide) Hide();
  if (change.arm) {
    timer_.StartOnce(static_cast<int>(model_.Delay().count()));
  } else if (!model_.IsShown() && model_.CurrentIndex() < 0) {
    timer_.Stop();
  }
}

void CRectTooltip::OnTimer(wxTimerEvent&) {
  if (const auto due = model_.TakeDue(HoverTooltipModel::Clock::now())) Show(*due);
}

void CRectTooltip::CreatePopup() {
  popup_ = new wxPopupWindow(owner_, wxBORDER_SIMPLE);
  popup_->SetBackgroundColour(wxSystemSettings::GetColour(wxSYS_COLOUR_INFOBK));
  title_ = new wxStaticText(popup_, wxID_ANY, wxString());
  body_ = new wxStaticText(popup_, wxID_ANY, wxString());
  for (wxStaticText* text : {title_, body_})
    text->SetForegroundColour(wxSystemSettings::GetColour(wxSYS_COLOUR_INFOTEXT));
  title_->SetFont(title_->GetFont().Bold());
  const int padding = ScaleForDpi(kPadding, GetWindowDpi(owner_));
  auto* sizer = new wxBoxSizer(wxVERTICAL);
  sizer->Add(title_, 0, wxLEFT | wxRIGHT | wxTOP, padding);
  sizer->Add(body_, 0, wxALL, padding);
  popup_->SetSizer(sizer);
}

void CRectTooltip::Show(const TooltipRegion& region) {
  if (owner_ == nullptr || !owner_->IsShownOnScreen()) return;
  if (popup_ == nullptr) CreatePopup();
  const int dpi = GetWindowDpi(owner_);
  const int padding = ScaleForDpi(kPadding, dpi);
  const int wrapWidth = ScaleForDpi(kMaximumWidth, dpi) - 2 * padding;
  const bool hasTitle = !region.title.empty();
  title_->SetLabel(wxString(region.title));
  title_->Show(hasTitle);
  body_->SetLabel(wxString(region.body));
  body_->Wrap(wrapWidth);
  // A hidden title takes no room in the sizer.
  popup_->GetSizer()->Fit(popup_);

  const wxPoint cursor = wxGetMousePosition();
  const wxSize size = popup_->GetSize();
  const PixelPoint at =
      PlaceTooltip({cursor.x, cursor.y}, size.x, size.y, WorkAreaAround(cursor));
  popup_->Move(at.x, at.y);
  popup_->Show();
}

void CRectTooltip::Hide() {
  if (popup_ != nullptr && popup_->IsShown()) popup_->Hide();
}

}  // namespace grainforge::app
