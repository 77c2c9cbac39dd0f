#pragma once

// GTK's default theme makes entries, buttons and combo boxes about 34 px high; the settings rows
// of the workflow pane, the mask panel and the dialogs are laid out 24 px apart. A small style
// sheet, loaded for the whole program, takes the extra padding and minimum heights out.

namespace grainforge::app {

// The style sheet (GTK 3 CSS).
const char* CompactGtkCss();

// Loads the style sheet for every window of the program on the default screen, above the
// theme. Call once after the toolkit has started and before the first window is made. False
// when GTK is not what runs the windows or the sheet was refused; the program then keeps the
// theme's sizes.
bool ApplyCompactGtkStyle();

// GTK's overlay scroll bars stay hidden until the pointer moves over the area, so a dialog whose
// contents scroll looked whole with its last rows out of sight. Gives the scrolled window
// (`widget`, its native handle) bars that always show and take their own room. False when
// `widget` is no GTK scrolled window.
bool ShowScrollBarsBesideContents(void* widget);

// The same for every scrolled window of the program made from now on and those made already
// (GTK's setting): help panes, report boxes, the information box, lists. Call once after the
// toolkit has started. False when GTK is not what runs the windows.
bool ShowScrollBarsBesideContentsEverywhere();

// Whether the scrolled window (`widget`, its native handle) lays its bars over its contents,
// showing them only under the pointer; false for any other widget.
bool ScrollBarsOverlayContents(void* widget);

}  // namespace grainforge::app
