#include "app/shell/kit/wx_file_names.h"

#include "app/document/log_text.h"

#include <string>

namespace grainforge::app {
namespace {

// wx's file-name conversion keeps a byte outside UTF-8 as this plus the byte.
constexpr char32_t kWxByteBase = 0x100000;
// The document's form of the same byte.
constexpr char32_t kDocumentByteBase = 0xDC00;

bool IsKeptByte(char32_t c, char32_t base) { return c >= base + 0x80 && c <= base + 0xFF; }

// The document's wide form of wx's text: wx's kept bytes become the document's.
std::wstring DocumentForm(const wxString& text) {
  std::wstring wide;
  wide.reserve(text.length());
  for (const wxUniChar c : text) {
    const char32_t value = c.GetValue();
    wide += static_cast<wchar_t>(IsKeptByte(value, kWxByteBase) ? value - kWxByteBase + kDocumentByteBase : value);
  }
  return wide;
}

}  // namespace

std::filesystem::path PathFromWxString(const wxString& text) { return PathFromWide(DocumentForm(text)); }

wxString WxStringFromPath(const std::filesystem::path& path) {
  std::wstring wide = PathToWide(path);
  for (wchar_t& c : wide)
    if (IsKeptByte(static_cast<char32_t>(c), kDocumentByteBase))
      c = static_cast<wchar_t>(static_cast<char32_t>(c) - kDocumentByteBase + kWxByteBase);
  return wxString(wide);
}

wxString WxDisplayText(std::wstring_view text) { return wxString(DisplayText(text)); }

}  // namespace grainforge::app
