#pragma once

// CMappingBody: the Mapping section. Three rows of toolbar buttons (projection kind, axis,
// surfaces), a sketch of the projection and the list of its projectors. The buttons only send
// their command ids up the window chain; the frame's command routing runs them and says whether
// each is enabled and checked. The body edits the document itself only for the list's clicks:
// a click on a row's label selects (or, again, clears) that side's layer, a click on its check
// box switches the projector (for a box or a sphere through the box-side command).

#include <string>

#include "app/workflow/mapping_model.h"
#include "app/workflow/section_body.h"

namespace grainforge::app {

class CMappingPicture;
class CProjectorList;
class CToolbarHostWnd;

class CMappingBody final : public CSectionBody {
public:
  // The document may be null (then the default projection is shown and clicks do nothing).
  explicit CMappingBody(CGrainforgeDoc* document) : document_(document) {}
  bool Build(wxWindow* parent, int id, FlowStep step);

  void SetDpi(int dpi) override;
  int GetContentHeight() const override;
  void UpdateFromDocument(CGrainforgeDoc* document) override;
  void LayoutChildren() override;
  std::wstring GetPlaceholderText() const override { return {}; }

  // A click the list reported: the row and whether it fell outside the check box.
  void OnProjectorNotify(int row, bool onLabel);

  CToolbarHostWnd* TypeRow() const { return typeRow_; }
  CToolbarHostWnd* AxisColumn() const { return axisColumn_; }
  CToolbarHostWnd* SurfacesRow() const { return surfacesRow_; }
  CMappingPicture* Picture() const { return picture_; }
  CProjectorList* List() const { return list_; }
  const MappingBodyLayout& ChildRects() const { return layout_; }

private:
  bool BuildToolbars();
  void SendCommand(std::uint32_t commandId);
  void PaintBody(wxDC& dc) override;

  CGrainforgeDoc* document_;
  CToolbarHostWnd* typeRow_ = nullptr;
  CMappingPicture* picture_ = nullptr;
  CToolbarHostWnd* axisColumn_ = nullptr;
  CProjectorList* list_ = nullptr;
  CToolbarHostWnd* surfacesRow_ = nullptr;
  MappingBodyLayout layout_;
};

}  // namespace grainforge::app
