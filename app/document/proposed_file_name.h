#pragma once

// The name a save dialog proposes from the part's: its stem with what the file will hold
// (" textured.stl", ".gfproj"). A part's name may already take the file system's 255 bytes,
// and a longer name cannot be written ("the filename is too long"): the stem is shortened,
// never the ending, at a whole character.

#include <cstddef>
#include <filesystem>
#include <string_view>

namespace grainforge::app {

// The most bytes a file's name may hold on the file systems the program writes to.
inline constexpr std::size_t kLongestFileNameBytes = 255;

// `stem` followed by `ending`, the stem cut short so that the name holds at most
// kLongestFileNameBytes bytes. A cut never splits a UTF-8 character nor leaves a combining
// mark without its letter; a stem that is not UTF-8 is cut at a byte.
std::filesystem::path ProposedFileName(const std::filesystem::path& stem, std::string_view ending);

}  // namespace grainforge::app
