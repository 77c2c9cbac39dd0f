// Which file a name reaches. Every place that must tell whether two names are one file (a save
// over the file a part came from, a project over its own part or image, a beside name already
// taken) asks here, so that links, "./", ".." and hard links are seen through alike. Nothing
// here throws except on allocation failure.
#pragma once

#include "platform/file_system.h"

#include <filesystem>
#include <optional>
#include <span>
#include <string>

namespace grainforge::app {

// Both names reach one file: the same device and inode, whatever links or dots lie on the way
// (hard links included). Where nothing exists yet, the names are one file when their absolute,
// lexically normal forms are equal. An empty name matches nothing. Letter case counts: on this
// system two names that differ in case are two files (a file system that ignores case gives
// one device and inode, and is seen through too).
bool IsSameFile(const std::filesystem::path& a, const std::filesystem::path& b);

// The name made absolute against the current folder, with its "." elements left out: a file
// taken in by a relative name ("part.stl", "./part.stl" from the command line) is kept by a
// name that still reaches it from anywhere. ".." is kept, since a link before it may lead
// elsewhere than the name suggests. An empty name, or one that cannot be made absolute, comes
// back as it was.
std::filesystem::path AbsoluteFileName(const std::filesystem::path& path);

// Nothing is at `path` any more, links followed: the name, or a folder on its way, is not
// there. A name that cannot be looked at (a folder that may not be searched) is not gone, nor
// is one whose file is there but will not open.
bool FileIsGone(const std::filesystem::path& path);

// Whether a regular file (through a link, too) is at `path`: only then has a failed save a
// file there to leave as it was.
bool RegularFileAt(const std::filesystem::path& path);

// What a read or a save left at a name: the stamp of the regular file there (which file it is,
// its size and its last change; platform::FileStamp), or nothing when no regular file was
// there. A save since, by this program or any other, leaves another stamp: one that renames its
// new file over the name (as every save of this program does) leaves another file, one that
// writes in place another size or time.
using FileLeft = std::optional<platform::FileStamp>;

// The file at `path` (a link followed) as it is now.
FileLeft FileLeftAt(const std::filesystem::path& path);

// Whether the file at `path` is no longer the one a read or a save left there as `left`:
// another save wrote over it, made it, or it is gone. Told by what the file is, never by its
// name. The one test of a file written over by another save: the log asks it of its file, the
// file dialogs of a file just saved, Save Project of the open project.
bool WrittenOverSince(const std::filesystem::path& path, const FileLeft& left);

// A file a save must never write over, and what it is, for people ("the open project").
struct KeptFile {
    std::filesystem::path file;
    std::string what;
};

// The first of `kept` that `target` reaches (IsSameFile: links and hard links seen through),
// or null. Asked before anything is written, and before the question whether to replace.
const KeptFile* FindKeptFile(const std::filesystem::path& target, std::span<const KeptFile> kept);

}  // namespace grainforge::app
