#pragma once

// Two windows of the program share one profile file. Each holds the settings it read and
// writes them whole, so the window that wrote last took the other's changes away (its recent
// project vanished from the list). A window whose file was written by another since it read or
// wrote it writes that file with its own changes made in it instead: the settings it changed take
// their new values, the others stay as the other window left them, and the recent files of both
// stay in the list, this window's newest first. The text form is the profile's "[Group]" and
// "key=value" lines; lines that are no settings stay where they are.

#include <cstddef>
#include <string>
#include <string_view>

namespace grainforge::app {

// The recent files' group and how many the list keeps: "file1" is the newest.
inline constexpr std::string_view kRecentFilesSection = "Recent File List";
inline constexpr std::string_view kRecentFileKeyPrefix = "file";
inline constexpr std::size_t kRecentFilesKept = 4;

// `disk` with the changes from `base` (the settings as this window last read or wrote them) to
// `mine` (as it holds them now) made in it; the recent files merged as said above.
std::string MergeProfileText(std::string_view base, std::string_view mine, std::string_view disk);

}  // namespace grainforge::app
