// Helpers of the shell's window tests: a frame with the command routing, synthesized mouse
// events, and wx assertions turned into test failures (a message box would block the run).
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include <wx/colour.h>
#include <wx/frame.h>
#include <wx/image.h>
#include <wx/sizer.h>

#include "app/shell/command_router.h"
#include "app/shell/command_routing.h"
#include "tests/support/wx/wx_test_pump.h"

namespace grainforge::app::test {

inline void FailOnWxAssert(const wxString& file, int line, const wxString& function,
                           const wxString& condition, const wxString& message) {
  ADD_FAILURE() << "wx assertion in " << function.ToStdString() << " (" << file.ToStdString()
                << ":" << line << "): " << condition.ToStdString() << " " << message.ToStdString();
}

class AssertsFail : public ::testing::Environment {
public:
  void SetUp() override { wxSetAssertHandler(&FailOnWxAssert); }
};

// Sends a synthesized mouse event to the window at client point (x, y).
inline void SendMouse(wxWindow* window, wxEventType type, int x, int y) {
  wxMouseEvent event(type);
  event.SetPosition(wxPoint(x, y));
  event.SetEventObject(window);
  event.SetId(window->GetId());
  event.m_leftDown = type == wxEVT_LEFT_DOWN || type == wxEVT_MOTION;
  window->GetEventHandler()->ProcessEvent(event);
}

inline wxColour PixelAt(const wxImage& image, int x, int y) {
  return wxColour(image.GetRed(x, y), image.GetGreen(x, y), image.GetBlue(x, y));
}

// Reads back what a window shows, through the same path as WindowShot.
inline wxImage CaptureWindow(wxWindow* window, const std::string& path) {
  EXPECT_TRUE(::tessary::test::WindowShot::Save(window, path)) << path;
  wxImage image;
  EXPECT_TRUE(image.LoadFile(wxString::FromUTF8(path), wxBITMAP_TYPE_PNG)) << path;
  return image;
}

}  // namespace grainforge::app::test
