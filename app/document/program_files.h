// The files the program keeps: its settings file, the lists, presets and images of its library,
// its cache, and what it was installed with (the executable, its data folder, help pages and
// manual). No save of the log, an STL or a project writes over one of them: every save road asks
// here, before anything is written and before the question whether to replace, so that a slip
// of a name (`--log-file ~/.config/Brookvane/Tessary.conf`) costs a refusal, not the settings.
// Files are told by identity, as the open files are (file_identity.h): links and hard links
// are seen through. Nothing here throws except on allocation failure.
#pragma once

#include "app/document/user_folders.h"
#include "platform/file_system.h"

#include <cstddef>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace grainforge::app {

// What a refused save says the file is: "The file chosen is one of the program's own files".
inline constexpr std::string_view kProgramFileWhat = "one of the program's own files";

// The user manual's file, beside the program or in its installed data folder.
inline constexpr const char* kManualFileName = "Tessary_Manual.pdf";

// The first line of every log the program writes (the output pane's first line), and the end of
// the line that takes its place once the oldest lines were left out ("(12 older lines left
// out)"). Words any file can hold: what makes a file a log is the stamp taken when it was
// written (WrittenLog).
inline constexpr std::string_view kLogFirstLine = "Output log ready.";
inline constexpr std::string_view kLogLinesLeftOutEnd = " older lines left out)";

// A log the program wrote: the file it wrote (a link followed, the name made absolute) and the
// file's stamp once the write was done. Only that file, unchanged since, is the log: a user's
// notes file that begins as a log does carries no stamp the program took, and neither does a
// copy of a log or a log edited afterwards.
struct WrittenLog {
    std::filesystem::path path;
    platform::FileStamp stamp;
    friend bool operator==(const WrittenLog&, const WrittenLog&) = default;
};

// How many written logs the program remembers, the newest kept. A log forgotten is refused as
// the program's file, never lost; the program's folders seldom hold more than a log or two.
inline constexpr std::size_t kRememberedLogs = 32;

// Where the program keeps its files.
struct ProgramPlaces {
    // Files that are the program's whatever they hold, and also before they exist: its settings
    // file, its running executable, its manual.
    std::vector<std::filesystem::path> files;
    // Folders whose files are the program's: the settings folder, the cache folder, and the
    // library folders of every root.
    std::vector<std::filesystem::path> folders;
    // The logs the program wrote (RememberWrittenLog): a file in the folders that is one of them,
    // unchanged, is the log's to replace.
    std::vector<WrittenLog> logs = {};
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
// one of `places.files`; or, in one of `places.folders` at any depth, a regular file that is
// not one of `places.logs` as the program left it (IsWrittenLog), or a name the program gives
// its lists there ("images.json", "seams.json", "_deleted.index") before it exists; or a hard
// link of such a file found elsewhere. A new name of any other kind is nobody's yet; a folder,
// pipe or device is not a file the writes would replace (they refuse it).
bool IsProgramFile(const std::filesystem::path& target, const ProgramPlaces& places);

// What `target` is when IsProgramFile holds, as a refusal says it, and empty otherwise:
// kProgramFileWhat for a file the program keeps by name (its settings, its lists, what it was
// installed with); "a file in the program's own folder <folder>" for any other file in one of
// its folders, which may be the user's own (notes put there) but is never the program's to
// replace; "another name of a file in the program's own folders" for a hard link of one.
std::string ProgramFileWhat(const std::filesystem::path& target, const ProgramPlaces& places);

// Whether the file `target` names (a link followed) lies in one of `places.folders`, at any
// depth: only a log written there needs its mark to be replaced by the next one.
bool LiesInProgramFolders(const std::filesystem::path& target, const ProgramPlaces& places);

// The log just written at `path`, stamped (the name made absolute, a link followed to the file
// written); nothing when no regular file is there.
std::optional<WrittenLog> StampWrittenLog(const std::filesystem::path& path);

// Adds `log` to `logs`, newest last, and drops the marks it makes stale: the one of the same
// path (the log written there before) and those whose file no longer bears its stamp (removed,
// rewritten or edited since). Past kRememberedLogs the oldest go.
void RememberWrittenLog(std::vector<WrittenLog>& logs, WrittenLog log);

// Whether the regular file at `file` (a link followed) is one of `logs` as the program left it:
// the same device and inode, size and modification time. Never reads the file.
bool IsWrittenLog(const std::filesystem::path& file, std::span<const WrittenLog> logs);

// A mark as one line of printable ASCII for the settings file: device, inode, size and time in
// decimal, then the path with "%", spaces, control characters and bytes past ASCII written as
// "%" and two hexadecimal digits, so that any name the file system gives comes back whole.
std::string FormatWrittenLog(const WrittenLog& log);
// The mark of such a line; nothing for a line that is not one (a hand edit, a damaged file),
// or whose path is not absolute.
std::optional<WrittenLog> ParseWrittenLog(std::string_view line);

}  // namespace grainforge::app
