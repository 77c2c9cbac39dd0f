#pragma once

// One button or separator of an owner-drawn toolbar (the main toolbar, the mapping body's bars,
// the texture body's tool row, the mask panel's tool row), and the toolbars' palette. Plain data:
// items are copied whole into a toolbar.

#include <cstdint>
#include <string>

#include "app/shell/kit/ui_colours.h"

namespace grainforge::app {

enum class ToolbarItemKind : std::uint32_t { Button = 0, Separator = 1 };

struct ToolbarItem {
  ToolbarItemKind kind = ToolbarItemKind::Button;
  // Sent when the button is clicked and asked in the update pass; 0 for none.
  std::uint32_t commandId = 0;
  // File name in the resources folder, as a rule without folder and extension.
  std::wstring iconName;
  // Tooltip title (the button's text) and body; either may be empty.
  std::wstring tooltipTitle;
  std::wstring tooltipBody;
  // The state of a button without a command id.
  bool enabledDefault = true;
  bool checkedDefault = false;
  // Length of a separator along the bar, pixels at 96 dpi.
  std::uint32_t separatorSize = 8;
};

// A button with that command, icon and tooltip, enabled and unchecked by default.
ToolbarItem MakeToolbarButton(std::uint32_t commandId, std::wstring iconName,
                              std::wstring tooltipTitle, std::wstring tooltipBody);
ToolbarItem MakeToolbarSeparator(std::uint32_t separatorSize);

// The flat look every toolbar uses.
struct ToolbarColors {
  Rgb background{248, 248, 248};
  Rgb border{218, 218, 218};
  Rgb hotFill{236, 242, 249};
  Rgb hotBorder{170, 196, 227};
  Rgb pressedFill{222, 232, 245};
  Rgb checkedFill{226, 236, 248};
  Rgb checkedBorder{158, 186, 218};
  Rgb disabledTint{150, 150, 150};
};

}  // namespace grainforge::app
