#include "app/document/program_files.h"

#include "app/document/file_identity.h"
#include "app/document/preset_files.h"
#include "app/document/texture_library.h"
#include "platform/file_system.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
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

bool IsFolder(const fs::path& path)
{
    std::error_code error;
    return fs::is_directory(path, error);
}

// The one of `folders` (the same device and inode) that some folder on the way from the real
// place of `file` up to the root is; nothing when none is.
std::optional<fs::path> FolderHolding(const fs::path& file, const std::vector<fs::path>& folders)
{
    std::error_code error;
    fs::path at = fs::weakly_canonical(AbsoluteFileName(file).parent_path(), error);
    if (error)
        return std::nullopt;
    for (;;) {
        for (const fs::path& folder : folders)
            if (fs::equivalent(at, folder, error) && !error)
                return folder;
        fs::path up = at.parent_path();
        if (up.empty() || up == at)
            return std::nullopt;
        at = std::move(up);
    }
}

bool LiesInFolders(const fs::path& file, const std::vector<fs::path>& folders)
{
    return FolderHolding(file, folders).has_value();
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

std::vector<fs::path> ExistingFolders(const ProgramPlaces& places)
{
    std::vector<fs::path> folders;
    for (const fs::path& folder : places.folders)
        if (IsFolder(folder))
            folders.push_back(folder);
    return folders;
}

bool IsListName(const fs::path& file)
{
    const std::string name = file.filename().string();
    return std::find(std::begin(kListNames), std::end(kListNames), name) != std::end(kListNames);
}

// Bytes of a path kept as they are in a mark's line; every other byte is "%" and two hex digits.
bool IsPlainPathByte(unsigned char c) { return c > ' ' && c < 0x7f && c != '%'; }

int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

std::optional<std::string> UnescapePath(std::string_view text)
{
    std::string path;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            if (!IsPlainPathByte(static_cast<unsigned char>(text[i])))
                return std::nullopt;
            path += text[i];
            continue;
        }
        const int high = i + 2 < text.size() ? HexValue(text[i + 1]) : -1;
        const int low = high >= 0 ? HexValue(text[i + 2]) : -1;
        if (low < 0)
            return std::nullopt;
        path += static_cast<char>(high * 16 + low);
        i += 2;
    }
    return path;
}

// The next space-ended decimal field of `line`, consumed; nothing when it is not one.
template <class Number>
std::optional<Number> TakeNumber(std::string_view& line)
{
    const std::size_t space = line.find(' ');
    if (space == std::string_view::npos)
        return std::nullopt;
    Number value{};
    const auto [end, error] = std::from_chars(line.data(), line.data() + space, value);
    if (error != std::errc() || end != line.data() + space || space == 0)
        return std::nullopt;
    line.remove_prefix(space + 1);
    return value;
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

std::string ProgramFileWhat(const fs::path& target, const ProgramPlaces& places)
{
    if (target.empty())
        return {};
    // The file a write replaces: a link is written through, to the end of its chain.
    const fs::path file = platform::ResolveWriteTarget(AbsoluteFileName(target));
    for (const fs::path& own : places.files)
        if (IsSameFile(target, own) || IsSameFile(file, own))
            return std::string(kProgramFileWhat);
    std::error_code error;
    const fs::file_status status = fs::status(file, error);
    const bool present = fs::exists(status);
    if (present && (!fs::is_regular_file(status) || IsWrittenLog(file, places.logs)))
        return {};
    if (!present && !IsListName(file))
        return {};
    const std::vector<fs::path> folders = ExistingFolders(places);
    // Any file there may be the user's own (notes put beside the settings): said as it is.
    if (const std::optional<fs::path> folder = FolderHolding(file, folders))
        return IsListName(file) ? std::string(kProgramFileWhat) : "a file in the program's own folder " + folder->string();
    // A hard link elsewhere names the same file; only a file with more than one name can have one.
    const std::uintmax_t names = present ? fs::hard_link_count(file, error) : 0;
    return !error && names > 1 && HasLinkInFolders(file, folders) ? "another name of a file in the program's own folders"
                                                                  : std::string();
}

bool IsProgramFile(const fs::path& target, const ProgramPlaces& places)
{
    return !ProgramFileWhat(target, places).empty();
}

bool LiesInProgramFolders(const fs::path& target, const ProgramPlaces& places)
{
    return !target.empty() &&
           LiesInFolders(platform::ResolveWriteTarget(AbsoluteFileName(target)), ExistingFolders(places));
}

std::optional<WrittenLog> StampWrittenLog(const fs::path& path)
{
    const fs::path file = platform::ResolveWriteTarget(AbsoluteFileName(path));
    const FileLeft stamp = FileLeftAt(file);
    if (!stamp)
        return std::nullopt;
    return WrittenLog{file, *stamp};
}

void RememberWrittenLog(std::vector<WrittenLog>& logs, WrittenLog log)
{
    std::erase_if(logs, [&](const WrittenLog& old) {
        return old.path == log.path || WrittenOverSince(old.path, old.stamp);
    });
    logs.push_back(std::move(log));
    if (logs.size() > kRememberedLogs)
        logs.erase(logs.begin(), logs.end() - static_cast<std::ptrdiff_t>(kRememberedLogs));
}

bool IsWrittenLog(const fs::path& file, std::span<const WrittenLog> logs)
{
    const FileLeft stamp = FileLeftAt(file);
    return stamp && std::any_of(logs.begin(), logs.end(), [&](const WrittenLog& log) { return log.stamp == *stamp; });
}

std::string FormatWrittenLog(const WrittenLog& log)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string line = std::to_string(log.stamp.device) + " " + std::to_string(log.stamp.inode) + " " +
                       std::to_string(log.stamp.size) + " " + std::to_string(log.stamp.modifiedNanoseconds) + " ";
    for (const char c : log.path.native()) {
        const auto byte = static_cast<unsigned char>(c);
        if (IsPlainPathByte(byte)) {
            line += c;
        } else {
            line += '%';
            line += kHex[byte >> 4];
            line += kHex[byte & 15];
        }
    }
    return line;
}

std::optional<WrittenLog> ParseWrittenLog(std::string_view line)
{
    WrittenLog log;
    const auto device = TakeNumber<std::uint64_t>(line);
    const auto inode = device ? TakeNumber<std::uint64_t>(line) : std::nullopt;
    const auto size = inode ? TakeNumber<std::uint64_t>(line) : std::nullopt;
    const auto time = size ? TakeNumber<std::int64_t>(line) : std::nullopt;
    const std::optional<std::string> path = time ? UnescapePath(line) : std::nullopt;
    if (!path || !fs::path(*path).is_absolute())
        return std::nullopt;
    return WrittenLog{*path, {*device, *inode, *size, *time}};
}

}  // namespace grainforge::app
