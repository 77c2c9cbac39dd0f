// The library: texture images and their categories, procedural presets, help pages and other
// data files live in named folders (such as "textures/Stone") under two kinds of root. The
// factory roots hold what ships with the program (beside the executable, or in
// ../share/tessary for an installed program); the user root is the folder "Tessary" in the
// user's documents folder. An item the user has is found before the factory's, the user can
// hide factory items (a "_deleted.index" list per folder of the user root), and the files of
// an older installation's user folder ("Grainforge") are moved over once.
//
// Paths are std::filesystem::path and names UTF-8 strings, as the file system gives them. Two
// files whose names differ only in case are different files, so paths and names are compared
// exactly and listings show both; only the order of a listing ignores case. The deleted index
// keeps its lower-cased names and hides the factory files whose lower-cased name it lists,
// never a file of the user root. Every operation works through error codes: a file-system
// failure gives an empty path, an empty list, false or a failed count, never an exception
// (except on allocation failure).
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace grainforge::app {

// The user's folder inside the documents folder, and the one an older installation used.
inline constexpr std::string_view kUserFolderName = "Tessary";
inline constexpr std::string_view kOldUserFolderName = "Grainforge";
// The list of hidden factory items in a library folder of the user root.
inline constexpr std::string_view kDeletedIndexFile = "_deleted.index";

struct LibraryRoot {
    std::filesystem::path path;
    bool user = false;  // false for a factory root
};

// Ordered factory first, the user root last: items are looked up from the last root to the
// first, and in listings the last root's spelling of a name wins.
using LibraryRoots = std::vector<LibraryRoot>;

enum class LibraryItemOrigin : std::int32_t {
    None = 0,
    UserOnly = 1,
    FactoryOnly = 2,
    UserOverFactory = 3,  // the user's copy hides a factory item of the same name
};

// ---- Roots -------------------------------------------------------------------------------

// The running executable's file (from /proc/self/exe), and the folder holding it; empty when
// unknown.
std::filesystem::path GetExecutableFile();
std::filesystem::path GetExecutableFolder();

// The user's documents folder: the XDG_DOCUMENTS_DIR entry of the user's dirs file
// ($XDG_CONFIG_HOME/user-dirs.dirs, by default ~/.config/user-dirs.dirs; "$HOME/..." or an
// absolute path, the last entry counting, as the xdg-user-dir command reads it), else
// $HOME/Documents. The home folder is $HOME, else the password database's entry. Empty when
// no home folder is known and the dirs file names no absolute folder. The folder need not
// exist yet.
std::filesystem::path GetDocumentsFolder();

// Where thumbnails are cached: $XDG_CACHE_HOME/Tessary/thumbnails, by default
// ~/.cache/Tessary/thumbnails (a cache is no document of the user's). Empty when neither
// XDG_CACHE_HOME nor a home folder is known. The folder need not exist yet.
std::filesystem::path ThumbnailCacheFolder();

// The roots for a program in `executableFolder` and a user with `documentsFolder`:
//   1. `executableFolder`/../share/tessary when that is a folder (an installed program's data);
//   2. `executableFolder`, so data beside the executable comes before the installed data;
//   3. the user root `documentsFolder`/Tessary, or without a documents folder the executable
//      folder again (then the user's items and the factory's are the same files).
// Empty paths are left out.
LibraryRoots MakeLibraryRoots(const std::filesystem::path& executableFolder,
                              const std::filesystem::path& documentsFolder);

// MakeLibraryRoots for this process and user.
LibraryRoots FindLibraryRoots();

// FindLibraryRoots worked out on the first call and kept for the rest of the run (the one
// process-wide copy; safe to call from any thread).
const LibraryRoots& UserDataFolderCached();

// The last root with the user flag; null when there is none.
const LibraryRoot* UserRoot(const LibraryRoots& roots);

// True when a factory root is the same folder as the user root (SamePathNoCase).
bool UserRootIsFactoryRoot(const LibraryRoots& roots);

// ---- Names and paths ---------------------------------------------------------------------

// root / folder / name, leaving out an empty folder or name.
std::filesystem::path LibraryItemPath(const std::filesystem::path& root, const std::filesystem::path& folder,
                                      std::string_view name);

// True when both paths name the same file (IsSameFile: the same device and inode, or for
// names at which nothing exists, the same absolute normal form). The comparison is exact: on
// this system case makes a different file.
bool SamePathNoCase(const std::filesystem::path& a, const std::filesystem::path& b);

// True for an empty pattern; otherwise one leading "*" and one leading "." are removed from
// the pattern and from the file's extension, and the two are compared without regard to case
// ("*.PNG", ".png" and "png" all match "stone.Png").
bool ExtensionMatches(const std::filesystem::path& file, std::string_view pattern);

// A display name made safe as a file name: control characters and " * / : < > ? \ | become
// "_", trailing dots and spaces are removed, and a name that ends up empty or had nothing but
// dots, spaces and replaced characters becomes "untitled". Reserved device names are not
// treated specially (they mean nothing here).
std::string MakeSafeFileName(std::string_view displayName);

// Lower-cased comparison by UTF-16 unit (name_case.h), the shorter name first on a tie: the
// order of every library listing.
bool CaseInsensitiveLess(std::string_view a, std::string_view b);

// CaseInsensitiveLess, and for two names that differ only in case their bytes: the order of
// every library listing, the same whatever order the folders were read in.
bool LibraryNameLess(std::string_view a, std::string_view b);

// ---- Items -------------------------------------------------------------------------------
// `folder` is a library folder relative to the roots ("textures/Stone", "procedural/Noise");
// `name` an item's file name, or an absolute path, which ResolveLibraryItem and
// UserLibraryPath hand back unchanged.

// user root / folder / "_deleted.index"; empty without a user root.
std::filesystem::path DeletedIndexPath(const LibraryRoots& roots, const std::filesystem::path& folder);

// The hidden names, lower-cased, one per line of the index (a CR or LF ending a line is
// dropped, empty lines are skipped); empty when the file is missing or not a regular file.
std::vector<std::string> ReadDeletedIndex(const LibraryRoots& roots, const std::filesystem::path& folder);

// Writes the names, each followed by CR LF, durably, creating the folder when needed; an
// empty list removes the file instead. False without a user root or when the write fails.
[[nodiscard]] bool WriteDeletedIndex(const LibraryRoots& roots, const std::filesystem::path& folder,
                                     const std::vector<std::string>& names);

// Whether the lower-cased name is in the folder's deleted index: a factory item of that name
// is hidden (the user's own file of any name never is).
bool IsLibraryItemDeleted(const LibraryRoots& roots, const std::filesystem::path& folder, std::string_view name);

// The item's file: the first root / folder / name that is a regular file, trying the roots
// from the last (the user's) to the first and passing over a factory root's file when the
// name is hidden. Empty for an empty name, or when no root has it.
std::filesystem::path ResolveLibraryItem(const LibraryRoots& roots, const std::filesystem::path& folder,
                                         std::string_view name);

// Where the user's copy of the item goes: user root / folder / name, its folder created.
// Empty for an empty name, without a user root, or when the folder cannot be made.
std::filesystem::path UserLibraryPath(const LibraryRoots& roots, const std::filesystem::path& folder,
                                      std::string_view name);

// The names of the regular files in the folder over all roots whose extension matches
// (ExtensionMatches; "_deleted.index" is never listed, whatever its case): one entry per
// name, hidden factory files left out, sorted with LibraryNameLess. A folder that cannot be
// read contributes what was read of it.
std::vector<std::string> ListLibraryItems(const LibraryRoots& roots, const std::filesystem::path& folder,
                                          std::string_view extension);

struct LibraryEntry {
    std::string name;
    std::filesystem::path path;  // the file ResolveLibraryItem gives for the name
    LibraryItemOrigin origin = LibraryItemOrigin::None;  // as LibraryItemExists gives it
};

// ListLibraryItems for files matching any of the extensions (all files when there are none),
// each with its file and origin; one walk of each root and one read of the deleted index,
// however many items the folder holds.
std::vector<LibraryEntry> ListLibraryEntries(const LibraryRoots& roots, const std::filesystem::path& folder,
                                             const std::vector<std::string>& extensions);

// The sub-folders of the folder over all roots, one entry per name and sorted the same way
// (the deleted index does not apply to them).
std::vector<std::string> ListLibraryCategories(const LibraryRoots& roots, const std::filesystem::path& folder);

// Where the item is: None for an empty name; when the user root is a factory root, UserOnly
// or None; otherwise whether the user root has it and whether a factory root has it, not
// hidden, as a regular file.
LibraryItemOrigin LibraryItemExists(const LibraryRoots& roots, const std::filesystem::path& folder,
                                    std::string_view name);

// Deletes the item as the user sees it: removes the user's copy, and when a factory root has
// the item (and is not the user root) adds its lower-cased name to the deleted index. True
// when the user's copy was removed or the name was written to the index; false for an empty
// name. When the name must go into an index that is there but cannot be read whole (larger
// than 16 MiB, not readable, a folder or a pipe), false, and neither the index nor the user's
// copy is touched: rewriting it would drop every name it holds.
[[nodiscard]] bool MarkFactoryItemDeleted(const LibraryRoots& roots, const std::filesystem::path& folder,
                                          std::string_view name);

// Shows a hidden factory item again by removing its name from the deleted index. True when
// the name was listed and the index was written; false for an empty name, when the user root
// is a factory root, when no factory root has the item or when the index cannot be read whole
// (then it is left as it is).
[[nodiscard]] bool RestoreFactoryItem(const LibraryRoots& roots, const std::filesystem::path& folder,
                                      std::string_view name);

// ---- Moving an older user folder ---------------------------------------------------------

// Counted in files: every entry other than a folder (regular files, links and the like), at
// any depth, so a folder moved whole counts the files in it.
struct MoveCounts {
    std::int64_t moved = 0;   // renamed or copied into the destination
    std::int64_t failed = 0;  // could not be moved; a folder that could not be read counts one
    std::int64_t taken = 0;   // left where they were, their name taken at the destination
    std::int64_t copied = 0;  // of the moved: copied (across file systems), the originals then removed
    // Why the first of the failed could not be moved, for people ("<path> is a regular file, not
    // a folder"); whether later ones failed for another reason.
    std::string failure;
    bool failuresDiffer = false;
};

// Moves every entry of `source` into `destination` (created when missing): an entry with
// nothing of its name at the destination is renamed there, or copied when the rename fails
// (across file systems) and each original removed once copied whole, so that a file is never
// in both folders and the next move finds nothing of it to bring back; an original that cannot
// be removed stays, its copy is taken away again and it counts as failed. Both place each
// file only while its name is free, so one that took the name meanwhile is kept and counted as
// taken; a folder copied is made new, never merged into one that appeared meanwhile. A folder whose
// name is a folder at the destination too is merged entry by entry; an entry whose name is
// taken otherwise (a file, or a link, even one to a folder) stays where it is. A folder that
// cannot be read (or whose reading breaks off) counts as one failure, and the entries read
// before that are still moved. The source folder is removed when it ends up empty. Symbolic
// links are moved as links, never followed into, on either side; a source that is itself a
// link is not followed and nothing is moved. When source and destination are the same folder
// nothing is touched and nothing counted; when either lies inside the other (seen through
// links) nothing is touched and every file counts as failed. A folder is never copied into
// itself.
MoveCounts MoveFolderContents(const std::filesystem::path& source, const std::filesystem::path& destination);

// The move's road across file systems for one entry: a copy of a file, a link (as a link) or a
// folder (recursively) to the name `to`, each file placed only while its name is free and each
// folder made new, never merged into one that is there; each original is removed once copied
// whole, as MoveFolderContents does. Counted file by file: copied (moved and copied), taken, or
// failed with the cause.
MoveCounts MoveByCopyToFreeName(const std::filesystem::path& from, const std::filesystem::path& to);

// Moves the files of documents/Grainforge to documents/Tessary, removes the thumbnails the
// program cached in its "thumbnails" folder (IsCachedThumbnailFile; any other file there stays
// where it is, as does the folder until it is empty) and removes the old folder when it is
// empty. Nothing is followed through a link: an old folder that is a link to another folder is
// left as it is, a link inside is moved as a link. Returns what to tell the user, or empty
// when there was no old folder, when the two are the same folder (then nothing is touched), or
// when nothing was moved and nothing stayed:
//   "Your files moved from <old> to <new> (<n> files)." when files moved, with ", copied and
//   the originals removed" (or ", <c> of them copied and the originals removed") after the count
//   when they were copied across file systems, else
//   "Nothing moved from <old> to <new>.", followed, when files stayed in the old folder, by
//   " <n> stayed in the old folder (<why>); it can be deleted once you have checked it.", or,
//   when any could not be moved, "...; they are kept there, and those that could not be moved
//   are moved at the next start.",
//   <why> naming the counts of those whose names the new folder already has, that could not
//   be moved and that lie in its thumbnails folder; or
//   "Nothing moved from <old> to <new>: the old folder is a link to <target>, and links are not
//   followed; its files stay there." When either folder lies inside the other, seen through
//   links ("Tessary" a link to "Grainforge/keep"), nothing is moved or removed and the message
//   says where the new folder leads: "Nothing moved from <old> to <new>: the new folder leads
//   to <place>, inside the old one, and a folder cannot be moved into itself; keep the old
//   folder, since it holds the new one." or "...: the new folder leads to <place>, which holds
//   the old one, and a folder cannot be moved into itself; its files stay where they are."
//   Never throws except on allocation failure: start-up calls
//   it with nothing to catch an exception.
std::string MigrateUserFolder(const std::filesystem::path& documentsFolder);

}  // namespace grainforge::app
