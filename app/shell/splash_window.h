#pragma once

#include <filesystem>

class wxFrame;

namespace grainforge::app {

// Shows the start-up picture centred on the monitor that holds the mouse. `splash` receives the
// window; true when a splash exists afterwards (a second call while it exists creates nothing).
// A missing, unreadable or empty picture shows nothing and returns false.
bool ShowSplash(wxFrame*& splash, const std::filesystem::path& path);

// Closes the splash, if any, and clears the pointer.
void CloseSplash(wxFrame*& splash);

}  // namespace grainforge::app
