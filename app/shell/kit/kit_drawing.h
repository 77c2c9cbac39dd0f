#pragma once

// Drawing helpers every owner-drawn window uses: icons (with the grey placeholder for a missing
// one), anti-aliased circles, the check mark and the blit of a 32-bit pixel block.

#include <cstdint>
#include <span>
#include <string>

#include "app/shell/kit/pixel_rect.h"
#include "app/shell/kit/ui_colours.h"

class wxBitmap;
class wxColour;
class wxDC;
class wxWindow;

namespace grainforge::app {

wxColour ToWxColour(Rgb colour);

// The rectangle filled with the colour, no outline; nothing for an empty rectangle.
void FillRect(wxDC& dc, const PixelRect& rect, Rgb colour);
// A one-pixel outline of the rectangle in the colour, nothing filled.
void FrameRect(wxDC& dc, const PixelRect& rect, Rgb colour);

// The icon resources/<name>.png as a bitmap, made once per name and kept for the life of the
// process; null when it is missing or does not decode (and then it is not looked for again).
const wxBitmap* GetIconBitmap(const std::wstring& name);

// Draws the icon resources/<name>.png stretched into the rectangle at high quality, or, when it
// is missing or does not decode, the grey rounded placeholder outline.
void DrawIcon(wxDC& dc, const std::wstring& name, const PixelRect& rect);
void DrawIconPlaceholder(wxDC& dc, const PixelRect& rect);

// An anti-aliased circle in the rectangle: a 1.5 px outline inset by one pixel, or filled.
void DrawCircle(wxDC& dc, const PixelRect& rect, Rgb colour, bool outline);

// A white check mark for a square box (see CheckMarkPoints).
void DrawCheckMark(wxDC& dc, const PixelRect& rect, int dpi);

// Stretches the first rows of a block of 32-bit pixels (0x00RRGGBB, rows from the top) into the
// rectangle (see RowsToShow). Draws nothing for an empty block, a size that is not positive, a
// block shorter than width × height, or an empty rectangle.
void StretchPixelsToRect(wxDC& dc, const PixelRect& rect, std::span<const std::uint32_t> pixels,
                         int width, int height, int rowLimit);

// Panes the program draws itself show where the keyboard focus is, as the toolkit's own
// controls do: the window repaints when it gains or loses the focus, and DrawFocusOutline, at
// the end of its painting, draws a 2 px outline in the accent colour inside its edge while it
// has the focus (nothing otherwise).
void RepaintOnFocusChange(wxWindow* window);
void DrawFocusOutline(wxDC& dc, const wxWindow& window);

}  // namespace grainforge::app
