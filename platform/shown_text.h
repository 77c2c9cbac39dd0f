// Text for people made from bytes that came from outside the program: file and folder names,
// words of a file. Such bytes may hold characters that act instead of showing: a line feed
// that splits a log line in two, an escape that recolours a terminal, a tab that a menu takes
// for the start of its shortcut, a direction override that shows the rest of a name
// backwards. Every text that shows such bytes is made here, so each of these characters is
// written as its bytes in "\x" and two hexadecimal digits ("evil\x1B[31mred.stl") and the
// text shows whole, on one line, saying what is there. Everything else, names in any script
// included, shows as it is. Nothing here throws except on allocation failure.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace grainforge::platform {

// What becomes of a byte that is not part of valid UTF-8 (a lone byte of another encoding, a
// cut sequence, an overlong form, a surrogate).
enum class BrokenUtf8 {
    Replaced,  // U+FFFD, one for each such byte: a name as every window of the program shows it
    Escaped,   // "\x" and two hexadecimal digits, as a character that acts: a word of a file
};

// Whether the character acts on the text around it rather than showing: the C0 controls (tab,
// line feed and escape among them), DEL, the C1 controls, the line and paragraph separators,
// and the direction embeddings, overrides and isolates.
bool IsActingCharacter(char32_t c);

// `bytes` as valid UTF-8 for people, as above.
std::string ShownText(std::string_view bytes, BrokenUtf8 broken = BrokenUtf8::Replaced);

// A file's name (any part of a path, or a whole one) as people see it: ShownText of its bytes.
std::string ShownName(const std::filesystem::path& path);

}  // namespace grainforge::platform
