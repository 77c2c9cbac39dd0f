#include "app/shell/wx_text_metrics.h"

#include <algorithm>

#include <wx/dc.h>

namespace grainforge::app {

std::vector<int> WxTextMetrics::PartialExtents(std::wstring_view text) const {
  if (text.empty()) return {};
  wxArrayInt widths;
  if (!dc_.GetPartialTextExtents(wxString(text.data(), text.size()), widths) || widths.size() != text.size()) {
    return {};
  }
  return std::vector<int>(widths.begin(), widths.end());
}

int WxTextMetrics::Width(std::wstring_view text) const {
  if (text.empty()) return 0;
  return dc_.GetTextExtent(wxString(text.data(), text.size())).x;
}

int WxTextMetrics::LineHeight() const {
  wxCoord width = 0;
  wxCoord height = 0;
  wxCoord descent = 0;
  wxCoord leading = 0;
  dc_.GetTextExtent(wxS("Ag"), &width, &height, &descent, &leading);
  return std::max(1, height + leading);
}

}  // namespace grainforge::app
