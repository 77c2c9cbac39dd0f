// The document's text helpers: numbers for its log lines and reports, the conversions between
// the engine's UTF-8 and the interface's wide text, and the removal of timings from log lines
// while the detailed log is off. Pure functions; the C locale's formatting whatever the
// process locale.
#pragma once

#include "app/document/no_window_system.h"

#include "engine/mesh/triangle_mesh.h"

#include <cstdarg>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace grainforge::app {

// Decimal digits with "," before every group of three from the right: 1234567 gives
// "1,234,567", 999 gives "999".
[[nodiscard]] std::string FormatThousands(std::uint64_t n);
// "%.3f" ("0.000" for a value that rounds to zero, never "-0.000").
[[nodiscard]] std::string FormatFloat3(float x);
// The three components as FormatFloat3 joined by ", ".
[[nodiscard]] std::string FormatVec3(grainforge::mesh::Vec3 v);
// printf into a std::string, in the C locale's number format; every text for people with
// numbers in it is made here or by mesh::FormatFixed. A floating conversion that would show a
// signed zero ("-0.000", "-0") shows the zero without its sign, padded as the format asks.
// The conversions are C's, without %n; each is written on its own, so a "%s" argument is
// never changed.
[[nodiscard]] std::string FormatText(const char* format, ...) __attribute__((format(printf, 1, 2)));
[[nodiscard]] std::string FormatTextV(const char* format, va_list args) __attribute__((format(printf, 1, 0)));

// UTF-8 to wide text; invalid bytes become U+FFFD. An empty text gives an empty string.
[[nodiscard]] std::wstring Utf8ToWide(std::string_view utf8);
// Wide text to UTF-8; an unpaired surrogate or a value beyond U+10FFFF becomes U+FFFD.
[[nodiscard]] std::string WideToUtf8(std::wstring_view wide);
// Appends one code point (at most U+10FFFF, not a surrogate) as UTF-8.
void AppendUtf8(std::string& out, char32_t c);

// ---- File names ----------------------------------------------------------------------------
// A file name here is bytes, UTF-8 by custom but not by rule, while the document keeps names in
// wide text. These two are the only conversions between them: valid UTF-8 becomes its
// characters, and each byte outside valid UTF-8 becomes the lone surrogate U+DC00 + byte
// (U+DC80..U+DCFF), which no character uses. So every name the system gives converts to wide
// text and back to the same bytes, and never throws (std::filesystem::path's own wide
// conversions throw for anything outside ASCII here). A lone surrogate outside that range, or
// a value past U+10FFFF, has no byte form and becomes U+FFFD.
[[nodiscard]] std::filesystem::path PathFromWide(std::wstring_view wide);
[[nodiscard]] std::wstring PathToWide(const std::filesystem::path& path);

// Names as texts for people, wherever a name is shown (log lines, the title bar, the
// information box, dialogs, the recent-file list): platform::ShownName, so a character that
// would act rather than show (a line feed, an escape, a tab, a direction override) is written
// as its bytes in "\x" and two hexadecimal digits, and a byte outside UTF-8 shows as U+FFFD.
// Every log line and report made from a name is valid UTF-8 and stays on its line.
[[nodiscard]] std::string PathToUtf8(const std::filesystem::path& path);
[[nodiscard]] std::wstring PathToDisplay(const std::filesystem::path& path);
// The name's characters as UTF-8 for a file or a list that keeps it rather than shows it (a
// project's path entry, a library category looked up by name): every character as it is, a
// byte outside UTF-8 as U+FFFD.
[[nodiscard]] std::string PathToPlainUtf8(const std::filesystem::path& path);
[[nodiscard]] std::wstring DisplayText(std::wstring_view wide);
// Whether the name's bytes are valid UTF-8 (then PathToUtf8 is exact).
[[nodiscard]] bool IsUtf8Path(const std::filesystem::path& path);

// The pieces of `text` between line feeds; a final line feed adds no empty piece, empty pieces
// in between are kept, and a carriage return ending a piece is dropped (the document's own
// texts end their lines with CR LF).
[[nodiscard]] std::vector<std::string> SplitLogLines(std::string_view text);

// The line without its timings: every "(... ms)" group is taken out with the spaces before it,
// and a line that is only "in <number> ms" becomes empty.
[[nodiscard]] std::string StripTimings(std::string_view line);

}  // namespace grainforge::app
