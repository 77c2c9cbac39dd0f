#include "app/shell/app_toolbar_pane.h"

#include <optional>

#include <wx/toplevel.h>

#include "app/shell/kit/toolbar_host_wnd.h"
#include "app/shell/kit/ui_scale.h"
#include "app/shell/main_toolbar.h"
#include "app/shell/kit/window_ids.h"

namespace grainforge::app {

bool CAppToolbarPane::Create(wxWindow* frame, wxWindowID id) {
  if (!wxPanel::Create(frame, ToWindowId(id), wxDefaultPosition, wxDefaultSize, wxBORDER_NONE | wxTAB_TRAVERSAL,
                       "Toolbar"))
    return false;
  auto* toolbar = new CToolbarHostWnd();
  if (!toolbar->Create(this, kToolbarId)) {
    delete toolbar;
    return false;
  }
  toolbar_ = toolbar;
  toolbar_->SetColorStyle();
  toolbar_->SetButtonSize();
  toolbar_->SetIconPadding(4);
  toolbar_->SetSpacing(1);
  toolbar_->SetMargin(6);
  toolbar_->SetItems(BuildMainToolbarItems());
  toolbar_->Show();
  Bind(wxEVT_SIZE, &CAppToolbarPane::OnSize, this);
  ApplyFixedHeight();
  return true;
}

int CAppToolbarPane::FixedHeight() const {
  const std::optional<int> barHeight =
      toolbar_ != nullptr ? std::optional<int>(toolbar_->BarHeight()) : std::nullopt;
  return ToolbarPaneHeight(IsShown(), barHeight, GetWindowDpi(toolbar_ != nullptr ? static_cast<const wxWindow*>(toolbar_) : this));
}

void CAppToolbarPane::ApplyFixedHeight() {
  SetMinSize(wxSize(0, FixedHeight()));
  InvalidateBestSize();
}

void CAppToolbarPane::ShowPane(bool show) {
  Show(show);
  ApplyFixedHeight();
  if (wxWindow* frame = wxGetTopLevelParent(this)) frame->Layout();
}

void CAppToolbarPane::OnSize(wxSizeEvent& event) {
  if (toolbar_ != nullptr) toolbar_->SetSize(0, 0, GetClientSize().x, GetClientSize().y);
  event.Skip();
}

}  // namespace grainforge::app
