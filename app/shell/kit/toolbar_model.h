#pragma once

// The owner-drawn toolbar without its window: the button records, the layout along the bar
// (buttons that do not fit are skipped, and later shorter ones may still fit), the hover and
// press state machine (press, drag off and back, release), the update pass that asks the
// command target for each button's state, and the tooltip texts. The wx window
// (CToolbarHostWnd) only paints what this model says and feeds it mouse events.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/document/command_entry.h"
#include "app/shell/kit/pixel_rect.h"
#include "app/shell/kit/toolbar_item.h"

namespace grainforge::app {

struct ToolbarTooltipText {
  std::wstring title;
  std::wstring body;
  friend bool operator==(const ToolbarTooltipText&, const ToolbarTooltipText&) = default;
};

// A command's own text, "prompt\ntip" as menus keep it, for buttons whose item leaves the
// title or the body empty; empty when the command has none.
using CommandStringLookup = std::function<std::optional<std::wstring>(std::uint32_t)>;

// The tooltip texts of an item: its own title and body; when either is empty and the item has a
// command, the command's text fills the gap (the part after the first line feed for the title,
// the part before it for the body; the whole text when it has no line feed). The title loses
// carriage returns, has line feeds turned into spaces and is trimmed; the body loses carriage
// returns and is trimmed; a body equal to the title ignoring case is dropped.
ToolbarTooltipText BuildTooltipText(const ToolbarItem& item, const CommandStringLookup& lookup);

// What the tooltip shows: a text without a body is shown as a body without a title.
ToolbarTooltipText TooltipForDisplay(ToolbarTooltipText text);

// The host's record per item.
struct ToolbarButtonState {
  ToolbarItem item;
  // Client coordinates; empty when the item is not laid out (it did not fit).
  PixelRect rect;
  bool enabled = true;
  bool checked = false;
  // What the tooltip shows now: the item's own texts, with the body the command's state gives
  // in their place when it gives one.
  ToolbarTooltipText tooltip;
  ToolbarTooltipText ownTooltip;
};

// Spacing of a bar, pixels at 96 dpi.
struct ToolbarSpacing {
  // Preferred thickness of the bar; 40 once SetButtonSize is called on the window.
  int barHeight = 36;
  int iconPadding = 8;
  int spacing = 2;
  int margin = 8;
  // 0 horizontal, 1 vertical.
  int orientation = 0;
};

struct IconSize {
  int width = 0;
  int height = 0;
};
// The decoded size of an item's icon; empty when the item has none or it is missing.
using IconSizeLookup = std::function<std::optional<IconSize>(const ToolbarItem&)>;

// The thickness of every button and separator across a bar of that thickness.
int ToolbarCrossSize(int thickness, int dpi);
// The icon height a button is measured with: C - 6 px, at least 12 (unscaled).
int ToolbarLayoutIconHeight(int crossSize, int dpi);
// The icon height a button is drawn with, from its rectangle's cross size: C - 8 px, at least
// 12 px at 96 dpi.
int ToolbarDrawIconHeight(int crossSize, int dpi);
// The width of an icon scaled to height: at least 1, rounded half away from zero.
int ScaledIconWidth(IconSize source, int height);

// The rectangles of the items in a client area of width × height (see ToolbarModel::Layout).
std::vector<PixelRect> LayoutToolbar(const std::vector<ToolbarItem>& items, int clientWidth,
                                     int clientHeight, const ToolbarSpacing& spacing, int dpi,
                                     const IconSizeLookup& iconSizes);

// How a button is painted: its fill, its one-pixel frame if any, and whether the icon is drawn
// in the grey disabled look. Checked, then hot, then pressed, each over the one before; a
// disabled button is plain whatever its state.
struct ButtonLook {
  Rgb fill;
  std::optional<Rgb> frame;
  bool greyIcon = false;
  friend bool operator==(const ButtonLook&, const ButtonLook&) = default;
};
ButtonLook ButtonLookFor(const ToolbarButtonState& button, bool hot, bool pressed,
                         const ToolbarColors& colors);

// The answer to "which state is this command in": empty when no handler took the question.
using CommandQuery = std::function<std::optional<CommandState>(std::uint32_t)>;

// A click the toolbar turns into a command.
struct ToolbarClick {
  int index = -1;
  std::uint32_t commandId = 0;
};

class ToolbarModel {
public:
  // Replaces every button record: buttons start in their default state, separators enabled
  // and unchecked; tooltip texts are built. Hot and pressed are cleared. Lay out again after.
  void SetItems(std::vector<ToolbarItem> items, const CommandStringLookup& lookup = {});

  // Lays the items along the bar: a separator takes its length wherever the running position
  // is (no gap after it, placed even past the end); a button that fits before the far margin is
  // placed and followed by the spacing; one that does not fit is left out (empty rectangle,
  // neither shown nor clickable) while later buttons may still fit.
  void Layout(int clientWidth, int clientHeight, int dpi, const IconSizeLookup& iconSizes);

  // The update pass: a button without a command takes its default enabled state and is
  // unchecked; otherwise it takes what the query answers, or enabled and unchecked when no
  // handler answers, and the tooltip body the answer gives (its own without one). True when
  // any button's enabled or checked state or tooltip changed.
  bool UpdateCommandStates(const CommandQuery& query);

  // The visible (laid out) button under the point, first in item order; -1 for none.
  int HitTestButton(int x, int y) const;

  // Mouse moves: the hot button follows the cursor. The rectangles to repaint (old and new)
  // are returned; none when nothing changed.
  std::vector<PixelRect> MouseMove(int x, int y);
  std::vector<PixelRect> MouseLeave();
  // The pointer is found elsewhere although no leave came (the toolkit drops the leaves that
  // happen while a menu or a modal dialog holds the pointer): the hover is dropped, as a leave
  // would, unless a press is going on. The rectangle to repaint is returned.
  std::vector<PixelRect> PointerElsewhere();
  // A press on an enabled button makes it the pressed one; true when the window should capture
  // the mouse. A press elsewhere or on a disabled button does nothing.
  bool ButtonDown(int x, int y);
  // The release: the pressed button is let go; a click happens only when the release is on the
  // button that was pressed and it is still enabled. The caller sends the command (when it is
  // not 0), then runs the update pass and repaints.
  std::optional<ToolbarClick> ButtonUp(int x, int y);
  // The capture was taken away (another window, a menu): the press is dropped without a click.
  void CancelPress();

  const std::vector<ToolbarButtonState>& Buttons() const { return buttons_; }
  int HotIndex() const { return hot_; }
  int PressedIndex() const { return pressed_; }
  ToolbarSpacing& Spacing() { return spacing_; }
  const ToolbarSpacing& Spacing() const { return spacing_; }

private:
  PixelRect RectOf(int index) const;

  std::vector<ToolbarButtonState> buttons_;
  ToolbarSpacing spacing_;
  int hot_ = -1;
  int pressed_ = -1;
};

}  // namespace grainforge::app
