#pragma once

// CSectionBody: the base of every workflow section body. It carries the step and the DPI and
// the operations through which the workflow window lays the bodies out and the left pane keeps
// them up to date. On its own it paints a placeholder, which is what every section shows until
// its own body is built.

#include <string>

#include <wx/window.h>

#include "app/workflow/flow_types.h"

namespace grainforge::app {

class CGrainforgeDoc;

inline constexpr int kPlaceholderBodyHeight = 36;  // at 96 dpi

class CSectionBody : public wxWindow {
public:
  CSectionBody() = default;

  FlowStep Step() const { return step_; }
  int Dpi() const { return dpi_; }

  // Stores the DPI, lays the children out again and repaints.
  virtual void SetDpi(int dpi);
  // The height the body needs at its DPI; the workflow window asks at every layout.
  virtual int GetContentHeight() const;
  // Called with the document (possibly null) after each edit and on every refresh tick: it must
  // change and repaint nothing when nothing differs, and never rewrite a field being edited.
  virtual void UpdateFromDocument(CGrainforgeDoc* document);
  // Places the child windows in the current client rectangle.
  virtual void LayoutChildren();
  // The muted line the base paints; a built body returns the empty text.
  virtual std::wstring GetPlaceholderText() const;

protected:
  // Paints the body into the buffered paint context; the base fills the pane colour and draws
  // the placeholder text.
  virtual void PaintBody(wxDC& dc);

private:
  friend bool CreateSectionBody(CSectionBody* body, wxWindow* parent, int id, FlowStep step);
  void OnPaint(wxPaintEvent& event);
  void OnSize(wxSizeEvent& event);

  FlowStep step_ = FlowStep::Mapping;
  int dpi_ = 96;
};

// Creates the body's window in parent with that child id for that step; the DPI is the
// parent's. False when the window could not be made.
bool CreateSectionBody(CSectionBody* body, wxWindow* parent, int id, FlowStep step);

}  // namespace grainforge::app
