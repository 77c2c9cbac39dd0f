// File names between wxWidgets and the program. A file name here is bytes, UTF-8 by custom but
// not by rule. wx's own file-name conversion (file dialogs, dropped files, the recent-file list,
// the profile file) keeps a byte outside UTF-8 as the character U+100000 + byte; the document
// keeps it as U+DC00 + byte (app/document/log_text.h). These functions are the one crossing
// between wxString and std::filesystem::path, so a name that is not UTF-8 still opens and saves
// by its real bytes; and wide text with such kept bytes is made safe to show in a control (GTK
// warns about, and wx empties, text that is not valid UTF-8).
#pragma once

#include <filesystem>
#include <string_view>

#include <wx/string.h>

namespace grainforge::app {

// The bytes of a name wx gave: U+100000 + byte and U+DC00 + byte (0x80 to 0xFF) become that
// byte, every other character its UTF-8. Never throws.
[[nodiscard]] std::filesystem::path PathFromWxString(const wxString& text);

// A name for wx's file functions and dialogs: valid UTF-8 as its characters, each other byte
// as U+100000 + byte, which wx's file-name conversion turns back into that byte.
[[nodiscard]] wxString WxStringFromPath(const std::filesystem::path& path);

// Wide text for a control or a message box: a kept byte (and any other lone surrogate) shows
// as U+FFFD.
[[nodiscard]] wxString WxDisplayText(std::wstring_view text);

}  // namespace grainforge::app
