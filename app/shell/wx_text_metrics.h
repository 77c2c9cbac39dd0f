#pragma once

#include "app/shell/text_metrics.h"

class wxDC;

namespace grainforge::app {

// Measures text in the font currently selected into a wx device context.
class WxTextMetrics final : public ITextMetrics {
public:
  explicit WxTextMetrics(const wxDC& dc) : dc_(dc) {}

  std::vector<int> PartialExtents(std::wstring_view text) const override;
  int Width(std::wstring_view text) const override;
  int LineHeight() const override;

private:
  const wxDC& dc_;
};

}  // namespace grainforge::app
