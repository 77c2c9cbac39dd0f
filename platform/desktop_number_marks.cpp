#include "platform/desktop_number_marks.h"

#include <langinfo.h>
#include <locale.h>

#include <cstring>

namespace grainforge::platform {

wchar_t LocaleThousandsMark(const char* localeName) {
  // A locale object of its own: setlocale would change every thread's number formatting.
  const locale_t numbers = newlocale(LC_NUMERIC_MASK, localeName, static_cast<locale_t>(nullptr));
  if (numbers == static_cast<locale_t>(nullptr)) return 0;
  const char* mark = nl_langinfo_l(THOUSEP, numbers);
  wchar_t found = 0;
  if (mark != nullptr && (std::strcmp(mark, ".") == 0 || std::strcmp(mark, ",") == 0))
    found = static_cast<wchar_t>(mark[0]);
  // Where the decimal mark is a comma, the point is the thousands mark people type, even when
  // the language prints thousands apart with a space (French): "1.500" may mean 1500 there.
  const char* decimal = nl_langinfo_l(RADIXCHAR, numbers);
  if (found == 0 && decimal != nullptr && std::strcmp(decimal, ",") == 0) found = L'.';
  freelocale(numbers);
  return found;
}

wchar_t DesktopThousandsMark() {
  static const wchar_t mark = LocaleThousandsMark("");
  return mark;
}

}  // namespace grainforge::platform
