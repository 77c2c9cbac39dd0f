#include "app/document/program_files.h"

#include "app/document/file_identity.h"
#include "app/document/preset_files.h"
#include "app/document/texture_library.h"
#include "platform/file_system.h"

#include <algorithm>
#include <cctype>
#include <string>
#include <system_error>

namespace grainforge::app {

namespace fs = std::filesystem;

namespace {

// The folders of a library root the program reads and writes; "help" and "resources" are the
// help pages' and the icons' folders (the workflow and the shell name them too).
constexpr std::string_view kLibraryFolders[] = {kTexturesLibraryFolder, kProceduralLibraryFolder,
    kCustomLibraryFolder, "help", "resources", kThumbnailFolder};

// The names the program gives its lists inside its folders, taken before they exist.
constexpr std::string_view kListNames[] = {kCustomImagesFile, kSeamSettingsFile, kDeletedIndexFile};

// Enough of a file's start to hold either first line of a log.
constexpr std::size_t kLogStartBytes = 64;

bool IsFolder(const fs::path& path)
{
    std::error_code error;
    return fs::is_directory(path, error);
}

// Whether some folder on the way from the real place of `file` up to the root is one of
// `folders` (the same device and inode).
bool LiesInFolders(const fs::path& file, const std::vector<fs::path>& folders)
{
    std::error_code error;
    fs::path at = fs::weakly_canonical(AbsoluteFileName(file).parent_path(), error);
    if (error)
        return false;
    for (;;) {
        for (const fs::path& folder : folders)
            if (fs::equivalent(at, folder, error) && !error)
                return true;
        fs::path up = at.parent_path();
        if (up.empty() || up == at)
            return false;
        at = std::move(up);
    }
}

// Whether a name in one of `folders`, at any depth, is another link of the same file.
bool HasLinkInFolders(const fs::path& file, const std::vector<fs::path>& folders)
{
    for (const fs::path& folder : folders) {
        std::error_code error;
        fs::recursive_directory_iterator it(folder, fs::directory_options::skip_permission_denied, error);
        for (const fs::recursive_directory_iterator end; !error && it != end; it.increment(error)) {
            std::error_code inner;
            if (it->is_regular_file(inner) && fs::equivalent(it->path(), file, inner) && !inner)
                return true;
        }
    }
    return false;
}

bool IsListName(const fs::path& file)
{
    const std::string name = file.filename().string();
    return std::find(std::begin(kListNames), std::end(kListNames), name) != std::end(kListNames);
}

// "(" digits kLogLinesLeftOutEnd "\n" at the start of `text`.
bool StartsWithLinesLeftOut(std::string_view text)
{
    if (text.empty() || text.front() != '(')
        return false;
    std::size_t digits = 1;
    while (digits < text.size() && std::isdigit(static_cast<unsigned char>(text[digits])))
        ++digits;
    const std::string end = std::string(kLogLinesLeftOutEnd) + "\n";
    return digits > 1 && text.substr(digits).starts_with(end);
}

}  // namespace

ProgramPlaces LibraryPlaces(const LibraryRoots& roots)
{
    ProgramPlaces places;
    for (const LibraryRoot& root : roots) {
        for (const std::string_view folder : kLibraryFolders)
            places.folders.push_back(root.path / std::string(folder));
        places.files.push_back(root.path / kManualFileName);
    }
    return places;
}

std::vector<fs::path> InstalledDesktopFiles(const fs::path& executableFile)
{
    // The names the install step gives them (app/CMakeLists.txt).
    const fs::path bin = executableFile.parent_path();
    if (executableFile.empty() || bin.filename() != "bin")
        return {};
    const fs::path share = bin.parent_path() / "share";
    return {share / "applications" / "tessary.desktop", share / "icons" / "hicolor" / "128x128" / "apps" / "tessary.png"};
}

bool IsProgramFile(const fs::path& target, const ProgramPlaces& places)
{
    if (target.empty())
        return false;
    // The file a write replaces: a link is written through, to the end of its chain.
    const fs::path file = platform::ResolveWriteTarget(AbsoluteFileName(target));
    for (const fs::path& own : places.files)
        if (IsSameFile(target, own) || IsSameFile(file, own))
            return true;
    std::error_code error;
    const fs::file_status status = fs::status(file, error);
    const bool present = fs::exists(status);
    if (present && (!fs::is_regular_file(status) || IsWrittenLog(file)))
        return false;
    if (!present && !IsListName(file))
        return false;
    std::vector<fs::path> folders;
    for (const fs::path& folder : places.folders)
        if (IsFolder(folder))
            folders.push_back(folder);
    if (LiesInFolders(file, folders))
        return true;
    // A hard link elsewhere names the same file; only a file with more than one name can have one.
    const std::uintmax_t names = present ? fs::hard_link_count(file, error) : 0;
    return !error && names > 1 && HasLinkInFolders(file, folders);
}

bool IsWrittenLog(const fs::path& file)
{
    const platform::OpenedFile opened = platform::OpenRegularFile(file);
    if (opened.status != platform::OpenStatus::Ok)
        return false;
    std::string start(kLogStartBytes, '\0');
    int error = 0;
    start.resize(opened.file.ReadAt(0, start.data(), start.size(), &error));
    if (error != 0)
        return false;
    return start.starts_with(std::string(kLogFirstLine) + "\n") || StartsWithLinesLeftOut(start);
}

}  // namespace grainforge::app
