#pragma once

// The colours the owner-drawn windows of the shell and the workflow pane share, as plain RGB so
// that models and tests need no window system.

#include <cstdint>

namespace grainforge::app {

struct Rgb {
  std::uint8_t r = 0;
  std::uint8_t g = 0;
  std::uint8_t b = 0;
  friend constexpr bool operator==(Rgb, Rgb) = default;
};

namespace colours {
// Section bodies, the workflow window, the segmented control.
inline constexpr Rgb kPaneBackground{247, 248, 250};
// Section headers and disabled segments.
inline constexpr Rgb kHeaderBackground{230, 234, 240};
// Thin separators and frames.
inline constexpr Rgb kLine{210, 215, 222};
// Muted text, chevrons, the border of an unchecked box.
inline constexpr Rgb kMutedText{122, 128, 138};
inline constexpr Rgb kText{28, 32, 38};
// Selected segment, checked box, selected thumbnail.
inline constexpr Rgb kAccent{58, 123, 213};
// Hover, selected list row, gear hover.
inline constexpr Rgb kPaleAccent{214, 224, 238};
// Outline of the placeholder drawn for a missing icon.
inline constexpr Rgb kIconPlaceholder{170, 176, 186};
// A typed value a dialog refused, said beside its rows.
inline constexpr Rgb kRefusalText{192, 0, 0};
}  // namespace colours

}  // namespace grainforge::app
