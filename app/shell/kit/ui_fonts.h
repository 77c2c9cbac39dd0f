#pragma once

// The interface's fonts: the desktop's own interface font for labels and controls, and a
// fixed-pitch face, DejaVu Sans Mono (package fonts-dejavu-core), for reports (the output log,
// code in help pages), so that their columns line up. The desktop's font and its metrics are
// the user's choice, so layouts measure text rather than assume widths.

#include <string>

class wxFont;

namespace grainforge::app {

// The kinds GetUiFont knows; any other number gives the desktop's default weight at 9 pt.
enum UiFontKind : int {
  kUiFontHeading = 0,  // 10 pt semibold: section headers, captions
  kUiFontNormal = 1,   // 9 pt: labels, lists, edits
  kUiFontSmall = 2,    // 8 pt: hints, notes
};

inline constexpr const wchar_t* kReportFaceName = L"DejaVu Sans Mono";

// What a kind stands for at a DPI. pixelHeight is the character height in pixels, negative
// because it is the height without the internal leading: -(points × dpi / 72) rounded half
// away from zero.
struct UiFontSpec {
  int points = 9;
  // 100 to 900; 0 leaves it to the desktop (normal).
  int weight = 0;
  int pixelHeight = -12;
};
UiFontSpec UiFontSpecFor(int kind, int dpi);

// The cached interface font of that kind at that DPI: the same object for the same pair for the
// life of the process. Callers use it for drawing and never free it. Interface thread only.
const wxFont& GetUiFont(int kind, int dpi);

// The cached report font (DejaVu Sans Mono, 9 pt, or the desktop's fixed-pitch font when DejaVu
// is not installed) at that DPI.
const wxFont& GetReportFont(int dpi);

// The face of the desktop's interface font ("DejaVu Sans" under a bare X server).
std::wstring InterfaceFaceName();

// Fonts outside the cache, for windows with their own sizes (help pages, the view cube's
// labels): points may be fractional; weight as in UiFontSpec.
wxFont MakeInterfaceFont(double points, int weight, bool italic = false);
wxFont MakeReportFont(double points, int weight);

}  // namespace grainforge::app
