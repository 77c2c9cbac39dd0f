#pragma once

#include <string_view>
#include <vector>

namespace grainforge::app {

// Measures text in the font currently chosen for drawing. The program answers through a wx
// device context; tests use a fake with fixed advances, so layout is tested without a display.
class ITextMetrics {
public:
  virtual ~ITextMetrics() = default;
  // Width in pixels of each prefix: result[i] is the width of text[0..i]. Empty for empty text.
  virtual std::vector<int> PartialExtents(std::wstring_view text) const = 0;
  // Width in pixels of the whole text.
  virtual int Width(std::wstring_view text) const = 0;
  // Distance between baselines of successive lines (height plus external leading).
  virtual int LineHeight() const = 0;
};

}  // namespace grainforge::app
