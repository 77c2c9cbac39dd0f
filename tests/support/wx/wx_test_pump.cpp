#include "tests/support/wx/wx_test_pump.h"

#include <thread>

#include <wx/app.h>
#include <wx/dcclient.h>
#include <wx/dcmemory.h>
#include <wx/image.h>
#include <wx/window.h>

namespace tessary::test {

bool PumpUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (true) {
    wxTheApp->ProcessPendingEvents();
    wxYield();
    if (condition()) return true;
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

void PumpFor(std::chrono::milliseconds duration) {
  PumpUntil([] { return false; }, duration);
}

bool WindowShot::Save(void* wxWindowPointer, const std::string& path) {
  auto* window = static_cast<wxWindow*>(wxWindowPointer);
  if (window == nullptr) return false;
  window->Update();
  const wxSize size = window->GetClientSize();
  if (size.x <= 0 || size.y <= 0) return false;
  wxClientDC source(window);
  wxBitmap bitmap(size.x, size.y, 24);
  wxMemoryDC target(bitmap);
  target.Blit(0, 0, size.x, size.y, &source, 0, 0);
  target.SelectObject(wxNullBitmap);
  return bitmap.ConvertToImage().SaveFile(wxString::FromUTF8(path), wxBITMAP_TYPE_PNG);
}

}  // namespace tessary::test
