#include "app/shell/kit/toolbar_model.h"

#include <algorithm>
#include <cwctype>
#include <utility>

#include "app/shell/kit/ui_scale.h"

namespace grainforge::app {
namespace {

// A separator longer than any screen is still drawn to the bar's end; the cap only keeps the
// arithmetic in int.
constexpr std::uint32_t kLongestSeparator = 1 << 16;
constexpr int kButtonMinimumLength = 28;

std::wstring TrimSpace(const std::wstring& text) {
  const auto first = text.find_first_not_of(L" \t\r\n");
  if (first == std::wstring::npos) return std::wstring();
  const auto last = text.find_last_not_of(L" \t\r\n");
  return text.substr(first, last - first + 1);
}

std::wstring TidyTitle(std::wstring text) {
  std::erase(text, L'\r');
  std::replace(text.begin(), text.end(), L'\n', L' ');
  return TrimSpace(text);
}

std::wstring TidyBody(std::wstring text) {
  std::erase(text, L'\r');
  return TrimSpace(text);
}

bool EqualIgnoringCase(const std::wstring& a, const std::wstring& b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](wchar_t x, wchar_t y) {
    return std::towlower(static_cast<std::wint_t>(x)) == std::towlower(static_cast<std::wint_t>(y));
  });
}

// Fills an empty title or body from the command's "prompt\ntip" text.
void FillFromCommandString(const std::wstring& text, std::wstring& title, std::wstring& body) {
  const auto lineFeed = text.find(L'\n');
  const std::wstring prompt = lineFeed == std::wstring::npos ? text : text.substr(0, lineFeed);
  const std::wstring tip = lineFeed == std::wstring::npos ? text : text.substr(lineFeed + 1);
  if (title.empty()) title = tip;
  if (body.empty()) body = prompt;
}

PixelRect AlongBar(bool horizontal, int position, int length, int across, int thickness) {
  if (horizontal) return PixelRect{position, across, position + length, across + thickness};
  return PixelRect{across, position, across + thickness, position + length};
}

int ButtonLength(const ToolbarItem& item, bool horizontal, int crossSize, int padding, int dpi,
                 const IconSizeLookup& iconSizes) {
  const int minimum = ScaleForDpi(kButtonMinimumLength, dpi);
  const std::optional<IconSize> icon = iconSizes ? iconSizes(item) : std::nullopt;
  if (!icon || icon->height < 1 || icon->width < 1) return minimum;
  const int iconHeight = ToolbarLayoutIconHeight(crossSize, dpi);
  const int iconLength = horizontal ? ScaledIconWidth(*icon, iconHeight) : iconHeight;
  return std::max(minimum, iconLength + 2 * padding);
}

}  // namespace

ToolbarTooltipText BuildTooltipText(const ToolbarItem& item, const CommandStringLookup& lookup) {
  std::wstring title = item.tooltipTitle;
  std::wstring body = item.tooltipBody;
  if ((title.empty() || body.empty()) && item.commandId != 0 && lookup) {
    if (const std::optional<std::wstring> text = lookup(item.commandId))
      FillFromCommandString(*text, title, body);
  }
  ToolbarTooltipText result{TidyTitle(std::move(title)), TidyBody(std::move(body))};
  if (EqualIgnoringCase(result.body, result.title)) result.body.clear();
  return result;
}

ToolbarTooltipText TooltipForDisplay(ToolbarTooltipText text) {
  if (text.body.empty()) {
    text.body = std::move(text.title);
    text.title.clear();
  }
  return text;
}

int ToolbarCrossSize(int thickness, int dpi) {
  const int s16 = ScaleForDpi(16, dpi);
  return std::max(s16, std::max(s16, thickness - ScaleForDpi(2, dpi)) - 2 * ScaleForDpi(4, dpi));
}

int ToolbarLayoutIconHeight(int crossSize, int dpi) {
  return std::max(12, crossSize - ScaleForDpi(6, dpi));
}

int ToolbarDrawIconHeight(int crossSize, int dpi) {
  return std::max(ScaleForDpi(12, dpi), crossSize - 2 * ScaleForDpi(4, dpi));
}

int ScaledIconWidth(IconSize source, int height) {
  const int h = std::max(height, 1);
  if (source.height < 1) return 1;
  return std::max(1, MulDiv(source.width, h, source.height));
}

std::vector<PixelRect> LayoutToolbar(const std::vector<ToolbarItem>& items, int clientWidth,
                                     int clientHeight, const ToolbarSpacing& spacing, int dpi,
                                     const IconSizeLookup& iconSizes) {
  const bool horizontal = spacing.orientation == 0;
  const int length = horizontal ? clientWidth : clientHeight;
  const int thickness = horizontal ? clientHeight : clientWidth;
  const int margin = ScaleForDpi(spacing.margin, dpi);
  const int gap = ScaleForDpi(spacing.spacing, dpi);
  const int padding = ScaleForDpi(spacing.iconPadding, dpi);
  const int cross = ToolbarCrossSize(thickness, dpi);
  const int across = (thickness - cross) / 2;

  std::vector<PixelRect> rects(items.size());
  int position = margin;
  for (std::size_t i = 0; i < items.size(); ++i) {
    const ToolbarItem& item = items[i];
    if (item.kind == ToolbarItemKind::Separator) {
      const int size = static_cast<int>(std::min(item.separatorSize, kLongestSeparator));
      const int separatorLength = std::max(ScaleForDpi(size, dpi), 0);
      rects[i] = AlongBar(horizontal, position, separatorLength, across, cross);
      position += separatorLength;
      continue;
    }
    const int buttonLength = ButtonLength(item, horizontal, cross, padding, dpi, iconSizes);
    if (position + buttonLength <= length - margin) {
      rects[i] = AlongBar(horizontal, position, buttonLength, across, cross);
      position += buttonLength + gap;
    }
  }
  return rects;
}

ButtonLook ButtonLookFor(const ToolbarButtonState& button, bool hot, bool pressed,
                         const ToolbarColors& colors) {
  ButtonLook look{colors.background, std::nullopt, !button.enabled};
  if (!button.enabled) return look;
  if (button.checked) {
    look.fill = colors.checkedFill;
    look.frame = colors.checkedBorder;
  }
  if (hot) {
    look.fill = colors.hotFill;
    look.frame = colors.hotBorder;
  }
  if (pressed) {
    look.fill = colors.pressedFill;
    look.frame = colors.hotBorder;
  }
  return look;
}

void ToolbarModel::SetItems(std::vector<ToolbarItem> items, const CommandStringLookup& lookup) {
  buttons_.clear();
  buttons_.reserve(items.size());
  for (ToolbarItem& item : items) {
    ToolbarButtonState state;
    const bool isButton = item.kind == ToolbarItemKind::Button;
    state.enabled = isButton ? item.enabledDefault : true;
    state.checked = isButton ? item.checkedDefault : false;
    state.tooltip = BuildTooltipText(item, lookup);
    state.ownTooltip = state.tooltip;
    state.item = std::move(item);
    buttons_.push_back(std::move(state));
  }
  hot_ = -1;
  pressed_ = -1;
}

void ToolbarModel::Layout(int clientWidth, int clientHeight, int dpi,
                          const IconSizeLookup& iconSizes) {
  std::vector<ToolbarItem> items;
  items.reserve(buttons_.size());
  for (const ToolbarButtonState& button : buttons_) items.push_back(button.item);
  const std::vector<PixelRect> rects =
      LayoutToolbar(items, clientWidth, clientHeight, spacing_, dpi, iconSizes);
  for (std::size_t i = 0; i < buttons_.size(); ++i) buttons_[i].rect = rects[i];
}

bool ToolbarModel::UpdateCommandStates(const CommandQuery& query) {
  bool changed = false;
  for (ToolbarButtonState& button : buttons_) {
    if (button.item.kind != ToolbarItemKind::Button) continue;
    bool enabled = button.item.enabledDefault;
    bool checked = false;
    ToolbarTooltipText tooltip = button.ownTooltip;
    if (button.item.commandId != 0) {
      const std::optional<CommandState> state =
          query ? query(button.item.commandId) : std::nullopt;
      enabled = state ? state->enabled : true;
      checked = state ? state->checked : false;
      if (state && !state->tooltip.empty()) tooltip.body = state->tooltip;
    }
    changed = changed || enabled != button.enabled || checked != button.checked || tooltip != button.tooltip;
    button.enabled = enabled;
    button.checked = checked;
    button.tooltip = std::move(tooltip);
  }
  return changed;
}

int ToolbarModel::HitTestButton(int x, int y) const {
  for (std::size_t i = 0; i < buttons_.size(); ++i) {
    const ToolbarButtonState& button = buttons_[i];
    if (button.item.kind == ToolbarItemKind::Button && !button.rect.IsEmpty() &&
        button.rect.Contains(x, y))
      return static_cast<int>(i);
  }
  return -1;
}

PixelRect ToolbarModel::RectOf(int index) const {
  if (index < 0 || index >= static_cast<int>(buttons_.size())) return PixelRect{};
  return buttons_[static_cast<std::size_t>(index)].rect;
}

std::vector<PixelRect> ToolbarModel::MouseMove(int x, int y) {
  const int hot = HitTestButton(x, y);
  if (hot == hot_) return {};
  std::vector<PixelRect> repaint;
  if (hot_ >= 0) repaint.push_back(RectOf(hot_));
  if (hot >= 0) repaint.push_back(RectOf(hot));
  hot_ = hot;
  return repaint;
}

std::vector<PixelRect> ToolbarModel::MouseLeave() {
  if (hot_ < 0) return {};
  const PixelRect rect = RectOf(hot_);
  hot_ = -1;
  return {rect};
}

std::vector<PixelRect> ToolbarModel::PointerElsewhere() {
  if (pressed_ >= 0) return {};
  return MouseLeave();
}

bool ToolbarModel::ButtonDown(int x, int y) {
  const int index = HitTestButton(x, y);
  if (index < 0 || !buttons_[static_cast<std::size_t>(index)].enabled) return false;
  pressed_ = index;
  return true;
}

std::optional<ToolbarClick> ToolbarModel::ButtonUp(int x, int y) {
  const int pressed = pressed_;
  pressed_ = -1;
  if (pressed < 0 || HitTestButton(x, y) != pressed) return std::nullopt;
  const ToolbarButtonState& button = buttons_[static_cast<std::size_t>(pressed)];
  if (!button.enabled) return std::nullopt;
  return ToolbarClick{pressed, button.item.commandId};
}

void ToolbarModel::CancelPress() {
  pressed_ = -1;
}

}  // namespace grainforge::app
