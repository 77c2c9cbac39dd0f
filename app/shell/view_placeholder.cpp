#include "app/shell/view_placeholder.h"

#include <wx/dcbuffer.h>
#include <wx/frame.h>

#include "app/document/grainforge_doc.h"
#include "app/shell/command_router.h"
#include "app/shell/menu_ids.h"

namespace grainforge::app {

std::wstring ViewPlaceholderText(bool hasPart, const std::wstring& title, std::size_t triangles) {
  if (!hasPart) return L"Open an STL to begin: File > Open STL (Ctrl+O), or drop a file here.";
  return title + L": " + std::to_wstring(triangles) + L" triangles (the 3D view is not part of this build yet)";
}

CViewPlaceholder::CViewPlaceholder(wxWindow* parent, CGrainforgeDoc& document, CommandRouter& router)
    : wxPanel(parent, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxWANTS_CHARS | wxBORDER_NONE),
      document_(document),
      router_(router) {
  SetBackgroundStyle(wxBG_STYLE_PAINT);
  Bind(wxEVT_PAINT, &CViewPlaceholder::OnPaint, this);
  Bind(wxEVT_KEY_DOWN, &CViewPlaceholder::OnKeyDown, this);
  Bind(wxEVT_LEFT_DOWN, [this](wxMouseEvent& event) { SetFocus(); event.Skip(); });
}

CommandTable CViewPlaceholder::Commands() {
  CommandTable table;
  table.push_back({menu_ids::kStopProcessing, [this] { document_.pipeline.Cancel(); },
                   [this](CommandState& state) { state.enabled = document_.pipeline.IsRunning(); }});
  return table;
}

void CViewPlaceholder::UpdateAllViews(int) {
  ++updates_;
  Refresh();
}

void CViewPlaceholder::FocusView() { SetFocus(); }

void CViewPlaceholder::ShowInformationPane() {}

void CViewPlaceholder::DocumentStateChanged() {
  if (auto* frame = dynamic_cast<wxFrame*>(wxGetTopLevelParent(this)))
    frame->SetTitle(wxString(document_.GetTitle()) + wxS(" - Tessary"));
  Refresh();
}

void CViewPlaceholder::OnPaint(wxPaintEvent&) {
  wxAutoBufferedPaintDC dc(this);
  dc.SetBackground(wxBrush(wxColour(58, 62, 70)));
  dc.Clear();
  dc.SetTextForeground(wxColour(220, 224, 230));
  dc.SetFont(GetFont());
  const std::wstring text = ViewPlaceholderText(document_.HasPart(), document_.GetTitle(),
                                                document_.workingPart.TriangleCount());
  dc.DrawLabel(wxString(text), GetClientRect(), wxALIGN_CENTER);
}

void CViewPlaceholder::OnKeyDown(wxKeyEvent& event) {
  const int key = event.GetKeyCode();
  if (event.GetModifiers() == wxMOD_NONE && (key == WXK_HOME || key == 'F')) {
    router_.Execute(menu_ids::kResetFit);
    return;
  }
  event.Skip();
}

}  // namespace grainforge::app
