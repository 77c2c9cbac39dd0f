#include "app/shell/splash_window.h"

#include <system_error>

#include <wx/dcbuffer.h>
#include <wx/display.h>
#include <wx/frame.h>
#include <wx/image.h>
#include <wx/log.h>
#include <wx/region.h>
#include <wx/utils.h>

#include "app/shell/splash_layout.h"

namespace grainforge::app {
namespace {

// A borderless picture window; it takes no focus and cannot be moved.
class CSplashFrame final : public wxFrame {
public:
  CSplashFrame(const wxBitmap& picture, const wxPoint& at)
      : wxFrame(nullptr, wxID_ANY, wxS("Tessary"), at, picture.GetSize(),
                wxBORDER_NONE | wxSTAY_ON_TOP | wxFRAME_NO_TASKBAR | wxFRAME_SHAPED | wxFRAME_TOOL_WINDOW),
        picture_(picture) {
    SetBackgroundStyle(wxBG_STYLE_PAINT);
    SetCursor(wxCursor(wxCURSOR_ARROWWAIT));
    Bind(wxEVT_PAINT, [this](wxPaintEvent&) {
      wxAutoBufferedPaintDC dc(this);
      // Shown only where the window's shape could not be cut to the picture.
      dc.SetBackground(wxBrush(wxColour(247, 248, 250)));
      dc.Clear();
      dc.DrawBitmap(picture_, 0, 0, true);
    });
  }

private:
  wxBitmap picture_;
};

wxRect WorkAreaUnderMouse() {
  int index = wxDisplay::GetFromPoint(wxGetMousePosition());
  if (index == wxNOT_FOUND) index = 0;
  return wxDisplay(static_cast<unsigned>(index)).GetClientArea();
}

// Without a compositor X has no per-pixel transparency: the picture's transparent pixels are cut
// out of the window's shape instead.
void ShapeToPicture(wxFrame& frame, const wxImage& picture) {
  if (!picture.HasAlpha()) return;
  wxImage masked = picture.Copy();
  if (!masked.ConvertAlphaToMask()) return;
  frame.SetShape(wxRegion(wxBitmap(masked)));
}

}  // namespace

bool ShowSplash(wxFrame*& splash, const std::filesystem::path& path) {
  if (splash != nullptr) return true;
  std::error_code error;
  if (!std::filesystem::is_regular_file(path, error)) return false;
  wxImage image;
  {
    wxLogNull quiet;  // an unreadable picture only means no splash
    if (!image.LoadFile(wxString(path.native()), wxBITMAP_TYPE_PNG) || !image.IsOk()) return false;
  }
  const wxRect work = WorkAreaUnderMouse();
  const AreaRect place = PlaceSplash(image.GetWidth(), image.GetHeight(),
                                      {work.x, work.y, work.width, work.height});
  if (place.width <= 0) return false;
  if (place.width != image.GetWidth() || place.height != image.GetHeight()) {
    image.Rescale(place.width, place.height, wxIMAGE_QUALITY_BICUBIC);
  }
  auto* frame = new CSplashFrame(wxBitmap(image), wxPoint(place.x, place.y));
  ShapeToPicture(*frame, image);
  frame->ShowWithoutActivating();
  splash = frame;
  return true;
}

void CloseSplash(wxFrame*& splash) {
  if (splash == nullptr) return;
  splash->Destroy();
  splash = nullptr;
}

}  // namespace grainforge::app
