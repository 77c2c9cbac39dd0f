#include "app/document/user_folders.h"

#include "app/document/durable_file.h"
#include "app/document/file_identity.h"
#include "app/document/name_case.h"
#include "app/document/texture_library.h"
#include "platform/file_system.h"
#include "platform/shown_text.h"
#include "platform/system_error.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <map>
#include <optional>
#include <unordered_set>

#include <pwd.h>
#include <unistd.h>

namespace grainforge::app {
namespace fs = std::filesystem;

namespace {

bool IsRegularFile(const fs::path& path)
{
    std::error_code error;
    return fs::is_regular_file(path, error);
}

// Small settings files of a few lines; anything larger is not one of ours.
constexpr std::uint64_t kMaxLineFileBytes = std::uint64_t{16} << 20;

// The bytes' lines, as std::getline splits them (no empty line after a final line feed).
std::vector<std::string> SplitLines(const std::vector<std::uint8_t>& bytes)
{
    std::vector<std::string> lines;
    std::string_view rest(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    while (!rest.empty()) {
        const std::size_t end = rest.find('\n');
        lines.emplace_back(rest.substr(0, end));
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    }
    return lines;
}

// The lines of a small regular file (SplitLines); empty when the file is missing, larger than kMaxLineFileBytes, or a pipe or
// device, which is refused without waiting on it.
std::vector<std::string> ReadFileLines(const fs::path& path)
{
    const platform::ReadResult read = platform::ReadWholeFile(path, kMaxLineFileBytes);
    if (read.status != platform::ReadStatus::Ok && read.status != platform::ReadStatus::ShortRead)
        return {};
    return SplitLines(read.bytes);
}

// The lines of a file about to be rewritten: none when nothing is there, nothing at all when
// something is there that cannot be read whole (too large, not readable, cut short, a folder or
// a pipe), since writing then would put a few lines in the place of all it holds.
std::optional<std::vector<std::string>> ReadLinesToRewrite(const fs::path& path)
{
    const platform::ReadResult read = platform::ReadWholeFile(path, kMaxLineFileBytes);
    if (read.status == platform::ReadStatus::Ok)
        return SplitLines(read.bytes);
    std::error_code error;
    if (fs::symlink_status(path, error).type() == fs::file_type::not_found)
        return std::vector<std::string>();
    return std::nullopt;
}

// The deleted index's names from its lines: CR and LF endings dropped, empty lines skipped,
// every name lower-cased.
std::vector<std::string> IndexNames(std::vector<std::string> lines)
{
    std::vector<std::string> names;
    for (std::string& line : lines) {
        while (!line.empty() && (line.back() == '\r' || line.back() == '\n'))
            line.pop_back();
        if (!line.empty())
            names.push_back(LowerCaseName(line));
    }
    return names;
}

// ---- Documents folder --------------------------------------------------------------------

fs::path AbsoluteFromEnvironment(const char* name)
{
    const char* value = std::getenv(name);
    if (value == nullptr || value[0] != '/')
        return {};
    return fs::path(value);
}

fs::path HomeFolder()
{
    fs::path home = AbsoluteFromEnvironment("HOME");
    if (!home.empty())
        return home;
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr &&
        found->pw_dir != nullptr && found->pw_dir[0] == '/')
        return fs::path(found->pw_dir);
    return {};
}

std::string_view TrimSpaces(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r'))
        text.remove_suffix(1);
    return text;
}

// The shell word of a user-dirs line: a double-quoted text with backslash escapes, or the
// bare text.
std::string UnquoteValue(std::string_view text)
{
    text = TrimSpaces(text);
    if (text.empty() || text.front() != '"')
        return std::string(text);
    std::string value;
    for (std::size_t at = 1; at < text.size() && text[at] != '"'; ++at) {
        if (text[at] == '\\' && at + 1 < text.size())
            ++at;
        value += text[at];
    }
    return value;
}

// "$HOME/..." (or "${HOME}/...") joined to the home folder, or an absolute path; anything
// else is not a usable entry.
fs::path ExpandUserDirsValue(const std::string& value, const fs::path& home)
{
    for (std::string_view variable : {std::string_view("$HOME"), std::string_view("${HOME}")}) {
        if (value.compare(0, variable.size(), variable) != 0)
            continue;
        const std::string_view rest = std::string_view(value).substr(variable.size());
        if (home.empty() || (!rest.empty() && rest.front() != '/'))
            return {};
        return rest.size() <= 1 ? home : home / fs::path(std::string(rest.substr(1)));
    }
    if (!value.empty() && value.front() == '/')
        return fs::path(value);
    return {};
}

// The folder the last XDG_DOCUMENTS_DIR line of the user's dirs file names; empty when the
// file or a usable line is missing.
fs::path DocumentsFromUserDirs(const fs::path& home)
{
    fs::path configHome = AbsoluteFromEnvironment("XDG_CONFIG_HOME");
    if (configHome.empty()) {
        if (home.empty())
            return {};
        configHome = home / ".config";
    }
    const fs::path file = configHome / "user-dirs.dirs";
    constexpr std::string_view kKey = "XDG_DOCUMENTS_DIR=";
    fs::path documents;
    for (const std::string& line : ReadFileLines(file)) {
        std::string_view text = TrimSpaces(line);
        if (text.starts_with("export "))
            text = TrimSpaces(text.substr(7));
        if (!text.starts_with(kKey))
            continue;
        const fs::path expanded = ExpandUserDirsValue(UnquoteValue(text.substr(kKey.size())), home);
        if (!expanded.empty())
            documents = expanded;
    }
    return documents;
}

// ---- Items -------------------------------------------------------------------------------

bool IsAbsoluteName(std::string_view name) { return !name.empty() && name.front() == '/'; }

bool IsFolder(const fs::path& path)
{
    std::error_code error;
    return fs::is_directory(path, error);
}

bool AnyFactoryRootHas(const LibraryRoots& roots, const fs::path& folder, std::string_view name)
{
    return std::any_of(roots.begin(), roots.end(), [&](const LibraryRoot& root) {
        return !root.user && IsRegularFile(LibraryItemPath(root.path, folder, name));
    });
}

bool UserRootHas(const LibraryRoots& roots, const fs::path& folder, std::string_view name)
{
    const LibraryRoot* user = UserRoot(roots);
    return user != nullptr && IsRegularFile(LibraryItemPath(user->path, folder, name));
}

// The folder's deleted index as it is to be rewritten: none without a user root or an index,
// nothing at all when an index is there that cannot be read whole (ReadLinesToRewrite).
std::optional<std::vector<std::string>> ReadIndexToRewrite(const LibraryRoots& roots, const fs::path& folder)
{
    const fs::path path = DeletedIndexPath(roots, folder);
    if (path.empty())
        return std::vector<std::string>();
    std::optional<std::vector<std::string>> lines = ReadLinesToRewrite(path);
    if (!lines)
        return std::nullopt;
    return IndexNames(std::move(*lines));
}

// The lower-cased names of the folder's deleted index, read once for any number of look-ups.
using HiddenNames = std::unordered_set<std::string>;

HiddenNames ReadHiddenNames(const LibraryRoots& roots, const fs::path& folder)
{
    std::vector<std::string> names = ReadDeletedIndex(roots, folder);
    return HiddenNames(std::make_move_iterator(names.begin()), std::make_move_iterator(names.end()));
}

// Walks the folder's entries in every root, first to last, and hands `take` each entry
// `wanted` accepts with its root. A folder that cannot be read, or whose walk breaks off,
// contributes what was read of it.
template <typename Wanted, typename Take>
void WalkRoots(const LibraryRoots& roots, const fs::path& folder, Wanted wanted, Take take)
{
    for (const LibraryRoot& root : roots) {
        const fs::path where = LibraryItemPath(root.path, folder, {});
        if (!IsFolder(where))
            continue;
        std::error_code error;
        for (fs::directory_iterator it(where, error), end; !error && it != end; it.increment(error)) {
            if (wanted(*it))
                take(root, *it);
        }
    }
}

// The origin from where a visible file of the name was found.
LibraryItemOrigin OriginOf(bool user, bool factory, bool userRootIsFactoryRoot)
{
    if (userRootIsFactoryRoot)
        return user ? LibraryItemOrigin::UserOnly : LibraryItemOrigin::None;
    if (user)
        return factory ? LibraryItemOrigin::UserOverFactory : LibraryItemOrigin::UserOnly;
    return factory ? LibraryItemOrigin::FactoryOnly : LibraryItemOrigin::None;
}

// ---- Moving ------------------------------------------------------------------------------

// The entries of the folder; the error that stopped the walk, or none when it was read to its end.
std::error_code GatherEntries(const fs::path& folder, std::vector<fs::path>& entries)
{
    std::error_code error;
    fs::directory_iterator it(folder, error);
    for (const fs::directory_iterator end; !error && it != end; it.increment(error))
        entries.push_back(it->path());
    return error;
}

// Counts `files` that could not be moved, keeping the first cause for the message.
void CountFailed(MoveCounts& counts, std::int64_t files, std::string cause)
{
    counts.failed += files;
    if (counts.failure.empty())
        counts.failure = std::move(cause);
    else if (counts.failure != cause)
        counts.failuresDiffer = true;
}

std::string Unreadable(const fs::path& folder, const std::error_code& error)
{
    return platform::ShownName(folder) + " could not be read: " + platform::SystemErrorText(error.value());
}

void CopyEntry(const fs::path& from, const fs::path& to, MoveCounts& counts);

// Whether `inner` is `outer` or lies anywhere inside it, seen through links: some folder on the
// way from `inner`'s real place up to the root is `outer` itself (the same device and inode).
// False when `outer` is not a folder or `inner`'s place cannot be worked out.
bool LiesWithin(const fs::path& inner, const fs::path& outer)
{
    if (!IsFolder(outer))
        return false;
    std::error_code error;
    fs::path at = fs::weakly_canonical(AbsoluteFileName(inner), error);
    if (error)
        return false;
    for (;;) {
        if (IsSameFile(at, outer))
            return true;
        fs::path up = at.parent_path();
        if (up.empty() || up == at)
            return false;
        at = std::move(up);
    }
}

std::int64_t CountFiles(const fs::path& entry);

void CopyFolder(const fs::path& from, const fs::path& to, MoveCounts& counts)
{
    // A copy into the folder itself would meet its own copy on the walk and go on until names
    // grow too long.
    if (LiesWithin(to.parent_path(), from)) {
        CountFailed(counts, CountFiles(from), "a folder cannot be copied into itself");
        return;
    }
    // Made new, never merged: a folder that took the name meanwhile is someone else's.
    std::error_code error;
    if (!fs::create_directory(to, error)) {
        if (!error || error == std::errc::file_exists)
            counts.taken += CountFiles(from);
        else
            CountFailed(counts, CountFiles(from), platform::ShownName(to) + " could not be made: " +
                                                      platform::SystemErrorText(error.value()));
        return;
    }
    std::vector<fs::path> entries;
    if (const std::error_code unread = GatherEntries(from, entries))
        CountFailed(counts, 1, Unreadable(from, unread));
    for (const fs::path& entry : entries)
        CopyEntry(entry, to / entry.filename(), counts);
    // Each goes only once it is empty: the old one when all it held moved, the new one when
    // nothing did.
    if (!fs::remove(from, error))
        fs::remove(to, error);
}

// After a whole copy, the original goes, so that the file is in one folder only, as after a
// rename: a later start finds nothing of it to bring back, also once its copy was deleted. An
// original that cannot be removed keeps its place and the copy goes instead; one gone meanwhile
// leaves the copy the only one. The system's error, or 0.
int RemoveCopiedOriginal(const fs::path& from, const fs::path& to)
{
    std::error_code error;
    if (fs::remove(from, error) || !error)
        return 0;
    const int failure = error.value();
    fs::remove(to, error);
    return failure;
}

// A copy of a file, a link (as a link) or a folder (recursively) to a name that must be free,
// each original removed once copied whole; counted file by file: moved by copying, taken (the
// name was taken, also meanwhile) or failed. Other kinds of entry are not copied.
void CopyEntry(const fs::path& from, const fs::path& to, MoveCounts& counts)
{
    std::error_code error;
    const fs::file_status status = fs::symlink_status(from, error);
    int failure = 0;
    switch (error ? fs::file_type::none : status.type()) {
    case fs::file_type::directory:
        CopyFolder(from, to, counts);
        return;
    case fs::file_type::symlink:
        // The system refuses a name that is taken.
        fs::copy_symlink(from, to, error);
        failure = error.value();
        break;
    case fs::file_type::regular:
        failure = CopyFileToFreeName(from, to);
        break;
    default:
        CountFailed(counts, 1, platform::ShownName(from) + " is " + platform::FileKindText(from) + ", which is not copied");
        return;
    }
    if (failure == 0) {
        if (const int removal = RemoveCopiedOriginal(from, to); removal != 0) {
            CountFailed(counts, 1, platform::ShownName(from) + " could not be removed: " + platform::SystemErrorText(removal));
            return;
        }
        ++counts.moved;
        ++counts.copied;
    } else if (failure == EEXIST) {
        ++counts.taken;
    } else {
        CountFailed(counts, 1, platform::ShownName(from) + " could not be copied: " + platform::SystemErrorText(failure));
    }
}

bool IsRealFolder(const fs::path& path)
{
    std::error_code error;
    return fs::is_directory(fs::symlink_status(path, error));
}

// The files under `entry` at any depth (every entry other than a real folder: regular files,
// links and the like), links counted, never followed; 1 for an entry that is not a folder, and
// 1 more for each folder that cannot be read to its end.
std::int64_t CountFiles(const fs::path& entry)
{
    std::error_code error;
    const fs::file_type type = fs::symlink_status(entry, error).type();
    if (type == fs::file_type::not_found)
        return 0;
    if (type != fs::file_type::directory)
        return 1;
    std::vector<fs::path> entries;
    std::int64_t count = GatherEntries(entry, entries) ? 1 : 0;
    for (const fs::path& inner : entries)
        count += CountFiles(inner);
    return count;
}

void MoveEntry(const fs::path& entry, const fs::path& target, MoveCounts& counts)
{
    // The name was free when looked at; a rename that refuses a taken name keeps whatever came
    // there since. The copy across file systems places each file the same way.
    const int failure = platform::PlaceNewFile(entry, target);
    if (failure == 0)
        counts.moved += CountFiles(target);
    else if (failure == EEXIST)
        counts.taken += CountFiles(entry);
    else
        CopyEntry(entry, target, counts);
}

// True when both paths lead to one existing folder (the same device and inode), whatever links
// lie on the way.
bool SameFolder(const fs::path& a, const fs::path& b)
{
    return IsFolder(a) && IsFolder(b) && IsSameFile(a, b);
}

// Moves the entries of the real folder `source` into `destination`, but for the one named
// `keep` (empty: none), which stays where it is. A link is moved as a link; the walk never
// goes through one, on either side: a folder is merged only into a real folder of its name.
void MoveContents(const fs::path& source, const fs::path& destination, MoveCounts& counts,
                  const fs::path& keep = {})
{
    std::error_code error;
    fs::create_directories(destination, error);
    std::vector<fs::path> entries;
    if (const std::error_code unread = GatherEntries(source, entries))
        CountFailed(counts, 1, Unreadable(source, unread));
    // A destination that is no folder (a file of its name) takes nothing: said once, by what it is.
    if (!entries.empty() && !IsFolder(destination)) {
        std::int64_t files = 0;
        for (const fs::path& entry : entries)
            if (keep.empty() || entry.filename() != keep)
                files += CountFiles(entry);
        std::error_code looked;
        const bool missing = fs::symlink_status(destination, looked).type() == fs::file_type::not_found;
        if (files > 0)
            CountFailed(counts, files,
                missing && error ? platform::ShownName(destination) + " could not be made: " + platform::SystemErrorText(error.value())
                                 : platform::ShownName(destination) + " is " + platform::FileKindText(destination) + ", not a folder");
        return;
    }
    for (const fs::path& entry : entries) {
        if (!keep.empty() && entry.filename() == keep)
            continue;
        const fs::path target = destination / entry.filename();
        const fs::file_status there = fs::symlink_status(target, error);
        if (there.type() == fs::file_type::not_found) {
            MoveEntry(entry, target, counts);
        } else if (error) {
            // Cannot tell whether the name is free.
            CountFailed(counts, CountFiles(entry),
                platform::ShownName(target) + " could not be looked at: " + platform::SystemErrorText(error.value()));
        } else if (IsRealFolder(entry) && fs::is_directory(there) && !SameFolder(entry, target)) {
            MoveContents(entry, target, counts);
        } else {
            counts.taken += CountFiles(entry);  // the name is taken at the destination
        }
    }
    // Only succeeds once the folder is empty.
    fs::remove(source, error);
}

// Removes the thumbnails the program cached in the old user folder's "thumbnails" (the cache
// lives in the cache folder now); everything else there stays, and the folder goes only once
// it is empty. A link at the folder's name is not followed.
void RemoveCachedThumbnails(const fs::path& folder)
{
    if (!IsRealFolder(folder))
        return;
    std::vector<fs::path> entries;
    (void)GatherEntries(folder, entries);
    std::error_code error;
    for (const fs::path& entry : entries)
        if (IsCachedThumbnailFile(entry))
            fs::remove(entry, error);
    fs::remove(folder, error);
}

// What stayed in the old folder and why, to follow "N stayed in the old folder".
std::string ReasonsLeft(const MoveCounts& counts, std::int64_t thumbnailsKept)
{
    std::vector<std::string> reasons;
    if (counts.taken > 0)
        reasons.push_back(std::to_string(counts.taken) +
                          (counts.taken == 1 ? " whose name the new folder already has"
                                             : " whose names the new folder already has"));
    if (counts.failed > 0)
        reasons.push_back(std::to_string(counts.failed) + " could not be moved" +
                          (counts.failure.empty() ? std::string()
                               : (counts.failed > 1 && counts.failuresDiffer ? ", the first as " : ", as ") +
                                     counts.failure));
    if (thumbnailsKept > 0)
        reasons.push_back(std::to_string(thumbnailsKept) + " in its thumbnails folder that the program did not make");
    std::string text;
    for (const std::string& reason : reasons)
        text += (text.empty() ? " (" : ", ") + reason;
    return text.empty() ? text : text + ")";
}

// "3 files", and how many of them were copied: "3 files, copied and the originals removed", "5
// files, 3 of them copied and the originals removed".
std::string MovedFilesText(const MoveCounts& counts)
{
    std::string text = std::to_string(counts.moved) + (counts.moved == 1 ? " file" : " files");
    if (counts.copied == 0)
        return text;
    if (counts.copied < counts.moved)
        return text + ", " + std::to_string(counts.copied) + " of them copied and the originals removed";
    return text + (counts.moved == 1 ? ", copied and the original removed" : ", copied and the originals removed");
}

// Why nothing can move when one of the two folders lies inside the other, to follow "Nothing
// moved from <old> to <new>"; empty when neither does. A new folder inside the old one (a link
// to "Grainforge/keep") would have the old folder copied into itself, and deleting the old
// folder afterwards would delete the new one with it.
std::string NestedFoldersMessage(const fs::path& oldFolder, const fs::path& newFolder)
{
    const bool newInOld = LiesWithin(newFolder, oldFolder);
    if (!newInOld && !LiesWithin(oldFolder, newFolder))
        return {};
    std::error_code error;
    fs::path target = fs::weakly_canonical(newFolder, error);
    if (error)
        target = newFolder;
    if (newInOld)
        return ": the new folder leads to " + platform::ShownName(target) +
               ", inside the old one, and a folder cannot be moved into itself; keep the old folder, since it holds "
               "the new one.";
    return ": the new folder leads to " + platform::ShownName(target) +
           ", which holds the old one, and a folder cannot be moved into itself; its files stay where they are.";
}

}  // namespace

// ---- Roots -------------------------------------------------------------------------------

fs::path GetExecutableFile()
{
    std::error_code error;
    const fs::path executable = fs::read_symlink("/proc/self/exe", error);
    if (error || !executable.is_absolute())
        return {};
    return executable;
}

fs::path GetExecutableFolder() { return GetExecutableFile().parent_path(); }

fs::path GetDocumentsFolder()
{
    const fs::path home = HomeFolder();
    fs::path documents = DocumentsFromUserDirs(home);
    if (documents.empty() && !home.empty())
        documents = home / "Documents";
    return documents;
}

LibraryRoots MakeLibraryRoots(const fs::path& executableFolder, const fs::path& documentsFolder)
{
    LibraryRoots roots;
    if (!executableFolder.empty()) {
        const fs::path installed = (executableFolder / ".." / "share" / "tessary").lexically_normal();
        if (IsFolder(installed) && !SamePathNoCase(installed, executableFolder))
            roots.push_back({installed, false});
        roots.push_back({executableFolder, false});
    }
    const fs::path user = documentsFolder.empty() ? executableFolder : documentsFolder / kUserFolderName;
    if (!user.empty())
        roots.push_back({user, true});
    return roots;
}

fs::path ThumbnailCacheFolder()
{
    fs::path cacheHome = AbsoluteFromEnvironment("XDG_CACHE_HOME");
    if (cacheHome.empty()) {
        const fs::path home = HomeFolder();
        if (home.empty())
            return {};
        cacheHome = home / ".cache";
    }
    return cacheHome / std::string(kUserFolderName) / "thumbnails";
}

LibraryRoots FindLibraryRoots() { return MakeLibraryRoots(GetExecutableFolder(), GetDocumentsFolder()); }

const LibraryRoots& UserDataFolderCached()
{
    static const LibraryRoots roots = FindLibraryRoots();
    return roots;
}

const LibraryRoot* UserRoot(const LibraryRoots& roots)
{
    const auto found = std::find_if(roots.rbegin(), roots.rend(), [](const LibraryRoot& root) { return root.user; });
    return found == roots.rend() ? nullptr : &*found;
}

bool UserRootIsFactoryRoot(const LibraryRoots& roots)
{
    const LibraryRoot* user = UserRoot(roots);
    return user != nullptr && std::any_of(roots.begin(), roots.end(), [&](const LibraryRoot& root) {
               return !root.user && SamePathNoCase(root.path, user->path);
           });
}

// ---- Names and paths ---------------------------------------------------------------------

fs::path LibraryItemPath(const fs::path& root, const fs::path& folder, std::string_view name)
{
    fs::path path = root;
    if (!folder.empty())
        path /= folder;
    if (!name.empty())
        path /= fs::path(std::string(name));
    return path;
}

bool SamePathNoCase(const fs::path& a, const fs::path& b)
{
    return IsSameFile(a, b);
}

bool ExtensionMatches(const fs::path& file, std::string_view pattern)
{
    if (pattern.empty())
        return true;
    const auto bare = [](std::string_view text) {
        if (text.starts_with('*'))
            text.remove_prefix(1);
        if (text.starts_with('.'))
            text.remove_prefix(1);
        return LowerCaseName(text);
    };
    const std::string extension = file.extension().string();
    return bare(extension) == bare(pattern);
}

std::string MakeSafeFileName(std::string_view displayName)
{
    constexpr std::string_view kUnsafe = "\"*/:<>?\\|";
    std::string safe(displayName);
    std::size_t kept = 0;
    for (char& c : safe) {
        if (static_cast<unsigned char>(c) < 32 || kUnsafe.find(c) != std::string_view::npos)
            c = '_';
        else if (c != ' ' && c != '.')
            ++kept;
    }
    while (!safe.empty() && (safe.back() == '.' || safe.back() == ' '))
        safe.pop_back();
    if (safe.empty() || kept == 0)
        return "untitled";
    return safe;
}

bool CaseInsensitiveLess(std::string_view a, std::string_view b)
{
    const std::u16string left = ToUtf16Units(a);
    const std::u16string right = ToUtf16Units(b);
    return std::lexicographical_compare(left.begin(), left.end(), right.begin(), right.end(),
                                        [](char16_t x, char16_t y) { return LowerCaseUnit(x) < LowerCaseUnit(y); });
}

bool LibraryNameLess(std::string_view a, std::string_view b)
{
    if (CaseInsensitiveLess(a, b))
        return true;
    return !CaseInsensitiveLess(b, a) && a < b;
}

// ---- Deleted index -----------------------------------------------------------------------

fs::path DeletedIndexPath(const LibraryRoots& roots, const fs::path& folder)
{
    const LibraryRoot* user = UserRoot(roots);
    if (user == nullptr)
        return {};
    return LibraryItemPath(user->path, folder, kDeletedIndexFile);
}

std::vector<std::string> ReadDeletedIndex(const LibraryRoots& roots, const fs::path& folder)
{
    const fs::path path = DeletedIndexPath(roots, folder);
    return path.empty() ? std::vector<std::string>() : IndexNames(ReadFileLines(path));
}

bool WriteDeletedIndex(const LibraryRoots& roots, const fs::path& folder, const std::vector<std::string>& names)
{
    const fs::path path = DeletedIndexPath(roots, folder);
    if (path.empty())
        return false;
    std::error_code error;
    if (names.empty()) {
        fs::remove(path, error);
        return !error;
    }
    fs::create_directories(path.parent_path(), error);
    std::string text;
    for (const std::string& name : names)
        text += name + "\r\n";
    return WriteFileDurably(path, {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
}

bool IsLibraryItemDeleted(const LibraryRoots& roots, const fs::path& folder, std::string_view name)
{
    const std::vector<std::string> hidden = ReadDeletedIndex(roots, folder);
    return std::find(hidden.begin(), hidden.end(), LowerCaseName(name)) != hidden.end();
}

// ---- Items -------------------------------------------------------------------------------

fs::path ResolveLibraryItem(const LibraryRoots& roots, const fs::path& folder, std::string_view name)
{
    if (name.empty())
        return {};
    if (IsAbsoluteName(name))
        return fs::path(std::string(name));
    std::optional<bool> hidden;  // the index is read only when a factory file is found
    for (auto root = roots.rbegin(); root != roots.rend(); ++root) {
        fs::path path = LibraryItemPath(root->path, folder, name);
        if (!IsRegularFile(path))
            continue;
        if (root->user)
            return path;
        if (!hidden)
            hidden = IsLibraryItemDeleted(roots, folder, name);
        if (!*hidden)
            return path;
    }
    return {};
}

fs::path UserLibraryPath(const LibraryRoots& roots, const fs::path& folder, std::string_view name)
{
    if (name.empty())
        return {};
    if (IsAbsoluteName(name))
        return fs::path(std::string(name));
    const LibraryRoot* user = UserRoot(roots);
    if (user == nullptr)
        return {};
    fs::path path = LibraryItemPath(user->path, folder, name);
    std::error_code error;
    fs::create_directories(path.parent_path(), error);
    if (!IsFolder(path.parent_path()))
        return {};
    return path;
}

std::vector<std::string> ListLibraryItems(const LibraryRoots& roots, const fs::path& folder,
                                          std::string_view extension)
{
    std::vector<std::string> names;
    for (LibraryEntry& entry : ListLibraryEntries(roots, folder, {std::string(extension)}))
        names.push_back(std::move(entry.name));
    return names;
}

std::vector<LibraryEntry> ListLibraryEntries(const LibraryRoots& roots, const fs::path& folder,
                                             const std::vector<std::string>& extensions)
{
    const std::string indexName = LowerCaseName(kDeletedIndexFile);
    const HiddenNames hidden = ReadHiddenNames(roots, folder);
    const LibraryRoot* userRoot = UserRoot(roots);
    struct Found {
        fs::path path;
        bool user = false;
        bool factory = false;
    };
    std::map<std::string, Found> found;
    const auto wanted = [&](const fs::directory_entry& entry) {
        std::error_code error;
        if (!entry.is_regular_file(error))
            return false;
        const fs::path name = entry.path().filename();
        const auto matches = [&](const std::string& pattern) { return ExtensionMatches(name, pattern); };
        return LowerCaseName(name.string()) != indexName &&
               (extensions.empty() || std::any_of(extensions.begin(), extensions.end(), matches));
    };
    WalkRoots(roots, folder, wanted, [&](const LibraryRoot& root, const fs::directory_entry& entry) {
        std::string name = entry.path().filename().string();
        if (!root.user && hidden.contains(LowerCaseName(name)))
            return;
        Found& item = found[std::move(name)];
        item.path = entry.path();  // the last root that has it is the one looked up first
        item.user = item.user || &root == userRoot;
        item.factory = item.factory || !root.user;
    });
    const bool userIsFactory = UserRootIsFactoryRoot(roots);
    std::vector<LibraryEntry> entries;
    entries.reserve(found.size());
    for (auto& [name, item] : found)
        entries.push_back({name, std::move(item.path), OriginOf(item.user, item.factory, userIsFactory)});
    std::sort(entries.begin(), entries.end(),
              [](const LibraryEntry& a, const LibraryEntry& b) { return LibraryNameLess(a.name, b.name); });
    return entries;
}

std::vector<std::string> ListLibraryCategories(const LibraryRoots& roots, const fs::path& folder)
{
    std::vector<std::string> names;
    std::unordered_set<std::string> met;
    const auto wanted = [](const fs::directory_entry& entry) {
        std::error_code error;
        return entry.is_directory(error);
    };
    WalkRoots(roots, folder, wanted, [&](const LibraryRoot&, const fs::directory_entry& entry) {
        std::string name = entry.path().filename().string();
        if (met.insert(name).second)
            names.push_back(std::move(name));
    });
    std::sort(names.begin(), names.end(), LibraryNameLess);
    return names;
}

LibraryItemOrigin LibraryItemExists(const LibraryRoots& roots, const fs::path& folder, std::string_view name)
{
    if (name.empty())
        return LibraryItemOrigin::None;
    const bool user = UserRootHas(roots, folder, name);
    const bool userIsFactory = UserRootIsFactoryRoot(roots);
    const bool factory =
        !userIsFactory && AnyFactoryRootHas(roots, folder, name) && !IsLibraryItemDeleted(roots, folder, name);
    return OriginOf(user, factory, userIsFactory);
}

bool MarkFactoryItemDeleted(const LibraryRoots& roots, const fs::path& folder, std::string_view name)
{
    if (name.empty())
        return false;
    const bool hides = !UserRootIsFactoryRoot(roots) && AnyFactoryRootHas(roots, folder, name);
    // Read before anything is removed: an index that cannot be read is left as it is, and so is
    // the user's copy, rather than half the deletion being done.
    std::optional<std::vector<std::string>> hidden;
    if (hides && !(hidden = ReadIndexToRewrite(roots, folder)))
        return false;
    bool done = false;
    if (UserRootHas(roots, folder, name)) {
        std::error_code error;
        done = fs::remove(LibraryItemPath(UserRoot(roots)->path, folder, name), error);
    }
    if (!hides)
        return done;
    const std::string lower = LowerCaseName(name);
    if (std::find(hidden->begin(), hidden->end(), lower) == hidden->end()) {
        hidden->push_back(lower);
        done = WriteDeletedIndex(roots, folder, *hidden);
    }
    return done;
}

bool RestoreFactoryItem(const LibraryRoots& roots, const fs::path& folder, std::string_view name)
{
    if (name.empty() || UserRootIsFactoryRoot(roots) || !AnyFactoryRootHas(roots, folder, name))
        return false;
    std::optional<std::vector<std::string>> hidden = ReadIndexToRewrite(roots, folder);
    if (!hidden)
        return false;
    const std::size_t listed = std::erase(*hidden, LowerCaseName(name));
    return listed > 0 && WriteDeletedIndex(roots, folder, *hidden);
}

// ---- Moving an older user folder ---------------------------------------------------------

MoveCounts MoveFolderContents(const fs::path& source, const fs::path& destination)
{
    MoveCounts counts;
    std::error_code error;
    if (fs::is_symlink(fs::symlink_status(source, error)))
        return counts;  // a link is not followed to whatever folder it names
    // Moving a folder into itself would find every name taken and then remove its empty
    // sub-folders.
    if (SameFolder(source, destination))
        return counts;
    // One inside the other: nothing can be moved without moving a folder into itself.
    if (LiesWithin(destination, source) || LiesWithin(source, destination)) {
        CountFailed(counts, CountFiles(source), "a folder cannot be moved into itself");
        return counts;
    }
    MoveContents(source, destination, counts);
    return counts;
}

MoveCounts MoveByCopyToFreeName(const fs::path& from, const fs::path& to)
{
    MoveCounts counts;
    CopyEntry(from, to, counts);
    return counts;
}

std::string MigrateUserFolder(const fs::path& documentsFolder)
{
    if (documentsFolder.empty())
        return {};
    const fs::path oldFolder = documentsFolder / kOldUserFolderName;
    if (!IsFolder(oldFolder))
        return {};
    const fs::path newFolder = documentsFolder / kUserFolderName;
    // One folder under two names (a link kept for the older installation): nothing to move,
    // and its thumbnail cache is the new folder's own.
    if (SameFolder(oldFolder, newFolder))
        return {};
    const std::string moving = " from " + platform::ShownName(oldFolder) + " to " + platform::ShownName(newFolder);
    std::error_code error;
    if (!IsRealFolder(oldFolder)) {
        // A link to a folder elsewhere: its files are that folder's, not the old user folder's,
        // and moving or removing through it would reach outside the user's documents.
        return "Nothing moved" + moving + ": the old folder is a link to " +
               platform::ShownName(fs::read_symlink(oldFolder, error)) + ", and links are not followed; its files stay there.";
    }
    if (std::string nested = NestedFoldersMessage(oldFolder, newFolder); !nested.empty())
        return "Nothing moved" + moving + nested;
    const fs::path thumbnails{std::string(kThumbnailFolder)};
    // A cache, rebuilt when needed and kept in the cache folder now: not carried into the
    // user's documents. Only the program's own thumbnails go; the user's files stay.
    RemoveCachedThumbnails(oldFolder / thumbnails);
    MoveCounts counts;
    MoveContents(oldFolder, newFolder, counts, thumbnails);
    const std::int64_t left = CountFiles(oldFolder);
    std::string message = counts.moved > 0 ? "Your files moved" + moving + " (" + MovedFilesText(counts) + ")."
                                           : "Nothing moved" + moving + ".";
    if (left == 0)
        return counts.moved > 0 ? message : std::string();
    const std::int64_t thumbnailsKept = CountFiles(oldFolder / thumbnails);
    // A file that could not be moved has its only copy in the old folder: nothing may advise
    // deleting it, and the next start tries the move again.
    return message + " " + std::to_string(left) + " stayed in the old folder" + ReasonsLeft(counts, thumbnailsKept) +
           (counts.failed > 0 ? "; they are kept there, and those that could not be moved are moved at the next start."
                              : "; it can be deleted once you have checked it.");
}

}  // namespace grainforge::app
