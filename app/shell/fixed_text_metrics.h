#pragma once

#include <map>
#include <string_view>
#include <vector>

#include "app/shell/text_metrics.h"

namespace grainforge::app {

// Text metrics with a fixed advance per character (some characters may be given their own), for
// layout tests that must not depend on installed fonts or a display.
class FixedTextMetrics final : public ITextMetrics {
public:
  FixedTextMetrics(int advance, int lineHeight) : advance_(advance), lineHeight_(lineHeight) {}

  void SetAdvance(wchar_t c, int advance) { special_[c] = advance; }

  std::vector<int> PartialExtents(std::wstring_view text) const override {
    std::vector<int> extents;
    extents.reserve(text.size());
    int x = 0;
    for (wchar_t c : text) {
      x += AdvanceOf(c);
      extents.push_back(x);
    }
    return extents;
  }
  int Width(std::wstring_view text) const override {
    int x = 0;
    for (wchar_t c : text) x += AdvanceOf(c);
    return x;
  }
  int LineHeight() const override { return lineHeight_; }

private:
  int AdvanceOf(wchar_t c) const {
    const auto found = special_.find(c);
    return found == special_.end() ? advance_ : found->second;
  }
  int advance_;
  int lineHeight_;
  std::map<wchar_t, int> special_;
};

}  // namespace grainforge::app
