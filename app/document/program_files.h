// The files the program keeps: its settings file, the lists, presets and images of its library,
// its cache, and what it was installed with (the executable, its data folder, help pages and
// manual). No save of the log, an STL or a project writes over one of them: every save road asks
// here, before anything is written and before the question whether to replace, so that a slip
// of a name (`--log-file ~/.config/Brookvane/Tessary.conf`) costs a refusal, not the settings.
// Files are told by identity, as the open files are (file_identity.h): links and hard links
// are seen through. Nothing here throws except on allocation failure.
#pragma once

#include "app/document/user_folders.h"

#include <filesystem>
#include <string_view>
#include <vector>

namespace grainforge::app {

// What a refused save says the file is: "The file chosen is one of the program's own files".
inline constexpr std::string_view kProgramFileWhat = "one of the program's own files";

// The user manual's file, beside the program or in its installed data folder.
inline constexpr const char* kManualFileName = "Tessary_Manual.pdf";

// The first line of every log the program writes (the output pane's first line), and the end of
// the line that takes its place once the oldest lines were left out ("(12 older lines left
// out)"): a file that begins with either was made as a log.
inline constexpr std::string_view kLogFirstLine = "Output log ready.";
inline constexpr std::string_view kLogLinesLeftOutEnd = " older lines left out)";

// Where the program keeps its files.
struct ProgramPlaces {
    // Files that are the program's whatever they hold, and also before they exist: its settings
    // file, its running executable, its manual.
    std::vector<std::filesystem::path> files;
    // Folders whose files are the program's: the settings folder, the cache folder, and the
    // library folders of every root.
    std::vector<std::filesystem::path> folders;
};

// The library's part of the places: in every root, the folders the program reads and writes
// its items and lists in ("textures", "procedural", "custom", "help", "resources",
// "thumbnails") and the manual. The rest of a root (the user's documents folder "Tessary", the
// folder the program runs from) holds whatever the user put there and is not the program's.
ProgramPlaces LibraryPlaces(const LibraryRoots& roots);

// The files the install step puts down beside the program's data, outside its folders: the
// desktop entry and its icon under <prefix>/share, when `executableFile` lies in <prefix>/bin.
// Empty for a program run from its build folder.
std::vector<std::filesystem::path> InstalledDesktopFiles(const std::filesystem::path& executableFile);

// Whether `target`, or the file at the end of its links, is one of the program's own files:
// one of `places.files`; or, in one of `places.folders` at any depth, a regular file the
// program did not make as a log (IsWrittenLog), or a name the program gives its lists there
// ("images.json", "seams.json", "_deleted.index") before it exists; or a hard link of such a
// file found elsewhere. A new name of any other kind is nobody's yet; a folder, pipe or device
// is not a file the writes would replace (they refuse it).
bool IsProgramFile(const std::filesystem::path& target, const ProgramPlaces& places);

// Whether the regular file begins with a log's first line (kLogFirstLine, or "(" digits
// kLogLinesLeftOutEnd), followed by a line feed. Reads at most a few dozen bytes, never waits
// on a pipe; false for anything that cannot be read.
bool IsWrittenLog(const std::filesystem::path& file);

}  // namespace grainforge::app
