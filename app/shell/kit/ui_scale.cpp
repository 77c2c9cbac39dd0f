#include "app/shell/kit/ui_scale.h"

#include <cstdint>
#include <cstdlib>
#include <limits>

#include <wx/window.h>

namespace grainforge::app {

int MulDiv(int value, int numerator, int denominator) {
  if (denominator == 0) return -1;
  const std::int64_t product = static_cast<std::int64_t>(value) * numerator;
  const std::int64_t magnitude = std::llabs(product);
  const std::int64_t divisor = std::llabs(static_cast<std::int64_t>(denominator));
  std::int64_t quotient = (magnitude + divisor / 2) / divisor;
  if ((product < 0) != (denominator < 0)) quotient = -quotient;
  if (quotient > std::numeric_limits<int>::max() || quotient < std::numeric_limits<int>::min())
    return -1;
  return static_cast<int>(quotient);
}

int GetWindowDpi(const wxWindow* window) {
#ifdef wxHAS_DPI_INDEPENDENT_PIXELS
  // GTK scales logical pixels itself; scaling again would double every size.
  (void)window;
  return kDesignDpi;
#else
  if (window == nullptr) return kDesignDpi;
  const int dpi = window->GetDPI().y;
  return dpi < 1 ? kDesignDpi : dpi;
#endif
}

}  // namespace grainforge::app
