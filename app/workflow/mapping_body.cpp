#include "app/workflow/mapping_body.h"

#include <wx/dc.h>

#include "app/document/grainforge_doc.h"
#include "app/shell/kit/command_events.h"
#include "app/shell/kit/kit_drawing.h"
#include "app/shell/kit/toolbar_host_wnd.h"
#include "app/shell/kit/ui_colours.h"
#include "app/shell/kit/ui_fonts.h"
#include "app/workflow/browser_controls.h"
#include "app/workflow/mapping_picture.h"
#include "app/workflow/projector_list.h"

namespace grainforge::app {
namespace {

namespace mesh = grainforge::mesh;

constexpr int kTypeRowId = 1;
constexpr int kPictureId = 2;
constexpr int kAxisColumnId = 3;
constexpr int kListId = 4;
constexpr int kSurfacesRowId = 6;
constexpr int kProjectionOnlyHint = 1;

bool SetUpToolbar(CToolbarHostWnd* bar, wxWindow* parent, int id, bool vertical, std::vector<ToolbarItem> items) {
  if (!bar->Create(parent, id)) return false;
  if (vertical) bar->SetOrientation(1);
  bar->SetColorStyle();
  bar->SetButtonSize();
  bar->SetIconPadding(4);
  bar->SetSpacing(1);
  bar->SetMargin(2);
  bar->SetItems(std::move(items));
  return true;
}

void Place(wxWindow* window, const PixelRect& r) { window->SetSize(r.left, r.top, r.Width(), r.Height()); }

}  // namespace

bool CMappingBody::Build(wxWindow* parent, int id, FlowStep step) {
  if (!CreateSectionBody(this, parent, id, step)) return false;
  if (!BuildToolbars()) return false;
  picture_ = new CMappingPicture(this, kPictureId, Dpi());
  list_ = new CProjectorList(this, kListId, Dpi());
  list_->onNotify = [this](int row, bool onLabel) { OnProjectorNotify(row, onLabel); };
  SetDpi(Dpi());
  UpdateFromDocument(document_);
  return true;
}

bool CMappingBody::BuildToolbars() {
  typeRow_ = new CToolbarHostWnd();
  if (!SetUpToolbar(typeRow_, this, kTypeRowId, false, MappingTypeButtons())) return false;
  axisColumn_ = new CToolbarHostWnd();
  if (!SetUpToolbar(axisColumn_, this, kAxisColumnId, true, MappingAxisButtons())) return false;
  surfacesRow_ = new CToolbarHostWnd();
  return SetUpToolbar(surfacesRow_, this, kSurfacesRowId, false, MappingSurfacesButtons());
}

void CMappingBody::SetDpi(int dpi) {
  CSectionBody::SetDpi(dpi);
  if (list_ == nullptr) return;
  picture_->SetDpi(dpi);
  list_->SetDpi(dpi);
  LayoutChildren();
}

int CMappingBody::GetContentHeight() const { return MappingBodyContentHeight(Dpi()); }

void CMappingBody::LayoutChildren() {
  if (list_ == nullptr) return;
  layout_ = LayoutMappingBody(GetClientSize().x, Dpi(), list_->LeastWidth());
  Place(typeRow_, layout_.typeRow);
  Place(picture_, layout_.picture);
  Place(axisColumn_, layout_.axisColumn);
  Place(list_, layout_.list);
  Place(surfacesRow_, layout_.surfacesRow);
  RefreshRect(wxRect(layout_.label.left, layout_.label.top, layout_.label.Width(), layout_.label.Height()), false);
}

void CMappingBody::UpdateFromDocument(CGrainforgeDoc* document) {
  document_ = document;
  if (list_ == nullptr) return;
  const MappingState state = ReadMappingState(document);
  picture_->SetState(state.projection, state.axis, state.hasPart);
  std::vector<ProjectorRow> rows = BuildProjectorRows(state.projection, state.axis, state.hasPart);
  const int selected = SelectedProjectorRow(rows, state.projection.activeLayer);
  list_->SetRows(std::move(rows), selected);
  // Another projection's labels: the list may need another width.
  LayoutChildren();
  typeRow_->UpdateCommandStates();
  axisColumn_->UpdateCommandStates();
  surfacesRow_->UpdateCommandStates();
}

void CMappingBody::OnProjectorNotify(int row, bool onLabel) {
  if (list_ == nullptr || row < 0 || row >= static_cast<int>(list_->Rows().size())) return;
  if (!HasMappablePart(document_)) return;
  const ProjectorRow shown = list_->Rows()[static_cast<std::size_t>(row)];
  const ProjectorClickPlan plan = PlanProjectorClick(document_->projection, shown, onLabel);
  if (plan.activeLayer) {
    document_->projection.activeLayer = *plan.activeLayer;
    document_->UpdateAllViews(kProjectionOnlyHint);
  } else if (plan.command) {
    SendCommand(*plan.command);
  } else if (plan.projection) {
    document_->projection = *plan.projection;
    document_->UpdatePreview();
  }
  UpdateFromDocument(document_);
}

void CMappingBody::SendCommand(std::uint32_t commandId) {
  wxCommandEvent command = MakeCommandEvent(commandId, this);
  ProcessWindowEvent(command);
}

void CMappingBody::PaintBody(wxDC& dc) {
  const wxSize size = GetClientSize();
  dc.SetPen(*wxTRANSPARENT_PEN);
  dc.SetBrush(wxBrush(ToWxColour(colours::kPaneBackground)));
  dc.DrawRectangle(0, 0, size.x, size.y);
  dc.SetBackgroundMode(wxBRUSHSTYLE_TRANSPARENT);
  dc.SetFont(GetUiFont(kUiFontNormal, Dpi()));
  dc.SetTextForeground(ToWxColour(colours::kText));
  DrawTextLine(dc, L"Surfaces", layout_.label, TextAlign::Left);
}

}  // namespace grainforge::app
