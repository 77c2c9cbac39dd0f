// Letter case of file and item names. Library listings are ordered without regard to case and
// the deleted index holds lower-cased names, while files and their names are told apart
// exactly (two names that differ only in case are two files).
//
// Names are UTF-8 as the file system gives them. Lower-casing works on UTF-16 units, as the
// library files written elsewhere expect, and uses a fixed table (the case pairs of the Latin,
// Greek, Cyrillic and Armenian alphabets and of the full-width Latin letters) rather than the
// process locale, so results do not change with the environment. Bytes that are not valid
// UTF-8 are kept: each becomes the unit 0xDC00 + byte (a lone low surrogate, never produced by
// valid text), so different byte strings stay different. Nothing here throws except on
// allocation failure.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace grainforge::app {

// The lower-case partner of one UTF-16 unit, or the unit itself.
char16_t LowerCaseUnit(char16_t unit);

// The name as UTF-16 units; invalid bytes as described above; code points beyond the basic
// plane as surrogate pairs.
std::u16string ToUtf16Units(std::string_view utf8);

// The name with every letter lower-cased, still UTF-8; invalid bytes are copied unchanged.
std::string LowerCaseName(std::string_view utf8);

}  // namespace grainforge::app
