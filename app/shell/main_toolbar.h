#pragma once

// The main window's toolbar: its buttons (file, lay on face, texture handles, surface views,
// shading, the sliced view) and the fixed height of the strip that carries it.

#include <optional>
#include <vector>

#include "app/shell/kit/toolbar_item.h"

namespace grainforge::app {

// The main toolbar's 25 items in order, separators (6 px) between the groups.
std::vector<ToolbarItem> BuildMainToolbarItems();

// The height the toolbar strip asks for: the bar's height at the DPI plus 2 while it is shown
// (40 + 2 when the bar does not exist yet), 0 while it is hidden.
int ToolbarPaneHeight(bool visible, std::optional<int> barHeight, int dpi);

}  // namespace grainforge::app
