#pragma once

// Help pages: Markdown files "help/<page>.md" in the library folders. The user's folder is
// searched first, so a user can rewrite any page; a page the user deleted (listed in the help
// folder's deleted index) is not taken from the program's folder either. The pages are outside
// input: a page of any size or content gives a text the help pane can show.

#include <cstddef>
#include <string>
#include <string_view>

#include "app/document/user_folders.h"

namespace grainforge::app {

inline constexpr std::string_view kHelpFolder = "help";
// A help page is a few kilobytes; a longer file is shown up to this size (at a line end), so a
// huge or hostile file cannot hold the pane's memory and layout time without bound.
inline constexpr std::size_t kMaxHelpPageBytes = 256 * 1024;

// The page's text, found through the process's library folders.
std::wstring LoadHelpPage(std::string_view page);

// The page's text from the given roots: page + ".md", used as it is when it is an absolute path,
// else looked up in the "help" folder of the roots from the user's to the program's. A missing,
// unreadable or empty file gives MissingHelpPage.
std::wstring LoadHelpPageFrom(const LibraryRoots& roots, std::string_view page);

// The page shown for a file name that gave no text.
std::wstring MissingHelpPage(std::string_view fileName);

// A page's bytes as text: a UTF-8 byte-order mark dropped, invalid bytes shown as U+FFFD, and
// anything past kMaxHelpPageBytes left out with a note saying so.
std::wstring HelpPageText(std::string_view bytes);

}  // namespace grainforge::app
