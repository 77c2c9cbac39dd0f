#include "app/document/preset_files.h"

#include "app/document/file_identity.h"
#include "app/document/grey_bmp.h"
#include "app/document/name_case.h"
#include "engine/files/json_settings.h"
#include "engine/mesh/report_text.h"
#include "platform/file_system.h"
#include "platform/system_error.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <memory>
#include <utility>

namespace grainforge::app {
namespace fs = std::filesystem;
using mesh::procedural::ProceduralTexture;

namespace {

PresetResult Refused(std::string error)
{
    PresetResult result;
    result.error = std::move(error);
    return result;
}

PresetResult Done(std::string storedName = {})
{
    PresetResult result;
    result.ok = true;
    result.storedName = std::move(storedName);
    return result;
}

PresetResult CouldNotOpen() { return Refused("could not open the preset"); }

// Said as a project's size refusal is: a preset that big is not taken for something else.
PresetResult TooLarge(std::uint64_t size)
{
    return Refused("the file is too large to be a preset: it holds " + mesh::FormatCountGrouped(size) +
                   " bytes, and a preset is at most " + std::to_string(kMaxPresetFileBytes >> 20) + " MiB");
}

PresetResult ForAnotherPattern(std::string_view texture, const ProceduralTexture& pattern)
{
    return Refused("a preset for " + std::string(texture) + ", not " + pattern.Name());
}

// "version" counts only as a JSON integer; a float (even 2.0) or any other value counts as 0.
// Integers too large for 64 signed bits are newer all the same.
bool IsNewerVersion(const mesh::JsonView& version)
{
    if (version.IsEmpty() || !version.value->is_number_integer())
        return false;
    if (version.value->is_number_unsigned())
        return version.value->get<std::uint64_t>() > static_cast<std::uint64_t>(kPresetVersion);
    return version.value->get<std::int64_t>() > kPresetVersion;
}

void NoteNotRead(PresetResult& result, const std::string& key)
{
    if (++result.membersNotReadCount <= kMembersNotReadNamed)
        result.membersNotRead.push_back(MemberNameForSentence(key));
}

// A parameter given a value it does not take: named by its label, with the value now in force.
void NoteNotTaken(PresetResult& result, const ProceduralTexture& pattern, std::string_view key, const std::string& given)
{
    for (const mesh::procedural::ParameterSpec& spec : pattern.GetParameters())
        if (spec.key == key) {
            result.valuesReplaced.push_back({spec.label, given, ParameterValueText(spec, pattern.GetValue(spec.key))});
            return;
        }
}

PresetResult ApplyJsonPreset(const mesh::JsonView& root, ProceduralTexture& pattern)
{
    std::string format;
    root.FindMember("format").TakeString(format);
    if (format != kPresetFormat)
        return Refused("not a Tessary preset");
    if (IsNewerVersion(root.FindMember("version")))
        return Refused("a preset from a newer Tessary");
    std::string texture;
    root.FindMember("texture").TakeString(texture);
    if (texture.empty())
        return Refused("no texture");
    if (texture != pattern.Name())
        return ForAnotherPattern(texture, pattern);
    // The preset's values take the place of all the pattern held, lines not read included.
    pattern.ResetToDefaults();
    PresetResult result = Done();
    const mesh::JsonView parameters = root.FindMember("parameters");
    if (!parameters.IsObject())
        return result;
    const mesh::procedural::ParameterMembersNotUsed notUsed = mesh::procedural::ReadParameters(pattern, parameters);
    for (const std::string& key : notUsed.notRead)
        NoteNotRead(result, key);
    for (const auto& [key, given] : notUsed.notTaken)
        NoteNotTaken(result, pattern, key, given);
    return result;
}

// The next line of `text` without its CR and LF endings; `text` moves past it.
std::string_view TakeLine(std::string_view& text)
{
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n'))
        line.remove_suffix(1);
    return line;
}

// Whether the file can be read at all: a regular file (after links) that the system lets us
// look at. Errors other than "missing" count the same, since either way there is nothing
// to read.
bool IsReadableFile(const fs::path& path)
{
    std::error_code error;
    return fs::is_regular_file(path, error);
}

std::uint8_t ThumbnailByte(float value)
{
    if (!std::isfinite(value))
        return 0;
    return static_cast<std::uint8_t>(std::lround(std::clamp(value, 0.0f, 1.0f) * 255.0f));
}

// The picture's name for a preset file name: its stem and ".bmp".
std::string PictureName(const std::string& fileName)
{
    return fs::path(fileName).stem().string() + std::string(kPresetThumbnailExtension);
}

// Whether the preset file owns its picture among the preset files of its folder (`names`, over
// all roots): "<stem>.gfpreset" always; another spelling of the extension only when no other
// preset has its stem, since the picture is then the other's.
bool OwnsPicture(const std::string& fileName, const std::vector<std::string>& names)
{
    const fs::path file(fileName);
    if (file.extension() == kPresetExtension)
        return true;
    return std::none_of(names.begin(), names.end(), [&](const std::string& other) {
        return other != fileName && fs::path(other).stem() == file.stem();
    });
}

// Whether `file` is the user folder's file of its name in `folder`: the only preset file a save
// over a chosen entry or a delete may touch.
bool IsUsersFile(const LibraryRoots& roots, const fs::path& folder, const fs::path& file)
{
    const LibraryRoot* user = UserRoot(roots);
    return user != nullptr && !file.empty() &&
           IsSameFile(LibraryItemPath(user->path, folder, file.filename().string()), file);
}

// Removes the user folder's file of the name: a user-only item through MarkFactoryItemDeleted;
// the user's version of a factory item directly, showing the factory one again should it have
// been hidden. True when the user's file was removed.
bool RemoveUsersCopy(const LibraryRoots& roots, const fs::path& folder, const std::string& name)
{
    switch (LibraryItemExists(roots, folder, name)) {
    case LibraryItemOrigin::UserOnly:
        return MarkFactoryItemDeleted(roots, folder, name);
    case LibraryItemOrigin::UserOverFactory: {
        std::error_code error;
        const bool removed = fs::remove(LibraryItemPath(UserRoot(roots)->path, folder, name), error);
        (void)RestoreFactoryItem(roots, folder, name);
        return removed;
    }
    default:  // the user folder has no file of the name
        return false;
    }
}

}  // namespace

std::string PresetFileStem(std::string_view presetName)
{
    std::string stem = MakeSafeFileName(presetName);
    if (stem.size() > kPresetExtension.size() &&
        LowerCaseName(std::string_view(stem).substr(stem.size() - kPresetExtension.size())) == kPresetExtension)
        stem = MakeSafeFileName(std::string_view(stem).substr(0, stem.size() - kPresetExtension.size()));
    return stem;
}

fs::path ProceduralFolder(std::string_view patternName)
{
    return fs::path(std::string(kProceduralLibraryFolder)) / MakeSafeFileName(patternName);
}

std::vector<PresetFileEntry> ListPresets(const LibraryRoots& roots, std::string_view patternName)
{
    const fs::path folder = ProceduralFolder(patternName);
    std::vector<PresetFileEntry> entries;
    const std::vector<std::string> names = ListLibraryItems(roots, folder, kPresetExtension);
    for (const std::string& name : names) {
        PresetFileEntry entry;
        entry.name = fs::path(name).stem().string();
        entry.origin = LibraryItemExists(roots, folder, name);
        entry.file = ResolveLibraryItem(roots, folder, name);
        if (OwnsPicture(name, names))
            entry.thumbnail = ResolveLibraryItem(roots, folder, PictureName(name));
        entry.userFile =
            entry.origin == LibraryItemOrigin::UserOnly || entry.origin == LibraryItemOrigin::UserOverFactory;
        if (!entry.file.empty())
            entries.push_back(std::move(entry));
    }
    return entries;
}

std::vector<fs::path> AllPresetFiles(const LibraryRoots& roots)
{
    std::vector<fs::path> files;
    std::error_code error;
    for (const LibraryRoot& root : roots) {
        fs::directory_iterator patterns(root.path / std::string(kProceduralLibraryFolder), error);
        for (const fs::directory_iterator end; !error && patterns != end; patterns.increment(error)) {
            std::error_code inner;
            if (!patterns->is_directory(inner))
                continue;
            fs::directory_iterator presets(patterns->path(), inner);
            for (; !inner && presets != end; presets.increment(inner))
                if (ExtensionMatches(presets->path(), kPresetExtension))
                    files.push_back(presets->path());
        }
        error.clear();
    }
    return files;
}

PresetResult ReadPreset(const fs::path& path, ProceduralTexture& pattern)
{
    // Checked first, through error codes: a folder that may not be searched, a name too long
    // or a link loop must give an answer, not an exception.
    if (!IsReadableFile(path))
        return CouldNotOpen();
    const platform::FileSizeResult size = platform::QueryFileSize(path);
    if (!size.ok)
        return CouldNotOpen();
    if (size.size > kMaxPresetFileBytes)
        return TooLarge(size.size);
    const mesh::JsonLoadResult load = mesh::LoadJsonFileWithStatus(path);
    if (load.view.IsObject()) {
        PresetResult result = ApplyJsonPreset(load.view, pattern);
        if (result.ok) {
            result.membersRepeated = load.repeated;
            result.membersRepeatedCount = load.repeatedCount;
        }
        return result;
    }
    // JSON, but nested past what is read: no older text either, and saying so tells why.
    if (load.status == mesh::JsonLoadStatus::TooDeep)
        return Refused("not a Tessary preset (its values are nested more than " +
                       std::to_string(mesh::kMaxJsonDepth) + " deep)");
    return ReadLegacyPreset(path, pattern);
}

PresetResult ReadLegacyPreset(const fs::path& path, ProceduralTexture& pattern)
{
    const platform::ReadResult read = platform::ReadWholeFile(path, kMaxPresetFileBytes);
    if (read.status == platform::ReadStatus::TooLarge)
        return TooLarge(read.size);
    if (read.status != platform::ReadStatus::Ok)
        return CouldNotOpen();
    const std::string_view text(reinterpret_cast<const char*>(read.bytes.data()), read.bytes.size());
    return ReadLegacyPresetText(text, pattern);
}

PresetResult ReadLegacyPresetText(std::string_view text, ProceduralTexture& pattern)
{
    constexpr std::string_view kTextureKey = "texture=";
    std::string_view rest = text;
    if (TakeLine(rest) != kLegacyPresetFirstLine)
        return Refused("not a Tessary preset");
    std::string_view texture;
    bool found = false;
    while (!found && !rest.empty()) {
        const std::string_view line = TakeLine(rest);
        if (line.starts_with(kTextureKey)) {
            texture = line.substr(kTextureKey.size());
            found = true;
        }
    }
    if (!found)
        return Refused("no texture");
    if (texture != pattern.Name())
        return ForAnotherPattern(texture, pattern);
    pattern.ResetToDefaults();
    mesh::procedural::ParametersFromText(pattern, text);
    pattern.linesNotRead.clear();
    pattern.membersNotRead.reset();
    PresetResult result = Done();
    // The lines naming no parameter are named, and kept on the pattern as the members of the
    // form a save writes ("grain=0.5" as "grain": "0.5"), so that saving it again keeps them.
    // The file's first line and its texture line are the preset's own, no parameters.
    const mesh::procedural::ParameterWords words = mesh::procedural::SortParameterWords(pattern, text);
    auto kept = std::make_shared<mesh::JsonValue>(mesh::JsonValue::object());
    bool firstLine = true;
    bool textureLine = false;
    for (const std::string_view line : words.notReadLines) {
        std::string_view ending = line;
        while (!ending.empty() && ending.back() == '\r')
            ending.remove_suffix(1);
        if (std::exchange(firstLine, false) && ending == kLegacyPresetFirstLine)
            continue;
        if (!textureLine && ending.starts_with(kTextureKey) && ending.substr(kTextureKey.size()) == texture) {
            textureLine = true;
            continue;
        }
        const std::size_t equals = ending.find('=');
        const std::string key(equals == std::string_view::npos ? ending : ending.substr(0, equals));
        NoteNotRead(result, key);
        (*kept)[key] = equals == std::string_view::npos ? mesh::JsonValue() : mesh::JsonValue(std::string(ending.substr(equals + 1)));
    }
    if (!kept->empty())
        pattern.membersNotRead = std::move(kept);
    for (const mesh::procedural::RepeatedParameterWord& word : words.repeated) {
        ++result.membersRepeatedCount;
        if (result.membersRepeated.size() < mesh::kRepeatedMembersRecorded)
            result.membersRepeated.push_back({std::string(word.key), MemberNameForSentence(std::string(word.dropped)),
                                              MemberNameForSentence(std::string(word.kept)), word.times});
    }
    for (const mesh::procedural::ParameterWordNotNumber& word : words.notNumbers)
        NoteNotTaken(result, pattern, word.key, mesh::ShortJsonText(mesh::JsonValue(std::string(word.text))));
    return result;
}

std::string PresetWordsNotUsedText(const PresetResult& result, std::string_view presetName)
{
    const std::string preset = "The preset \"" + std::string(presetName) + "\"";
    std::string text;
    if (result.membersNotReadCount > 0) {
        std::string named;
        for (const std::string& name : result.membersNotRead)
            named += (named.empty() ? "" : ", ") + name;
        if (result.membersNotReadCount > result.membersNotRead.size())
            named += " and " + mesh::FormatCountGrouped(result.membersNotReadCount - result.membersNotRead.size()) + " more";
        text = preset + " holds parameters this version does not read: " + named +
            ". They are kept, and saving the preset writes them again.";
    }
    if (!result.membersRepeated.empty()) {
        std::string named;
        for (const mesh::JsonRepeatedMember& member : result.membersRepeated) {
            named += (named.empty() ? "" : "; ") + MemberNameForSentence(member.key) + " " + member.dropped;
            if (member.times > 2)
                named += " and " + std::to_string(member.times - 2) + " more";
            named += (member.times > 2 ? " were" : " was") + std::string(" dropped for ") + member.kept;
        }
        if (result.membersRepeatedCount > result.membersRepeated.size())
            named += "; and " + mesh::FormatCountGrouped(result.membersRepeatedCount - result.membersRepeated.size()) +
                " more";
        text += (text.empty() ? "" : " ") + preset + " gives some members more than once, and only the last of each is used: " +
            named + ".";
    }
    if (!result.valuesReplaced.empty()) {
        std::string named;
        for (const ReplacedValue& value : result.valuesReplaced)
            named += (named.empty() ? "" : "; ") + value.key + " " + value.given + " is now " + value.now;
        text += (text.empty() ? "" : " ") + preset + " holds values its parameters cannot take as they are; each is now its default: " +
            named + ".";
    }
    return text;
}

PresetResult SavePreset(const LibraryRoots& roots, const ProceduralTexture& pattern, std::string_view presetName)
{
    return SavePresetTo(roots, pattern, ChoosePresetTarget(roots, pattern.Name(), presetName, nullptr));
}

PresetTarget ChoosePresetTarget(const LibraryRoots& roots, std::string_view patternName, std::string_view presetName,
                                const PresetFileEntry* chosen)
{
    const LibraryRoot* user = UserRoot(roots);
    if (user == nullptr)
        return {};
    const fs::path folder = ProceduralFolder(patternName);
    if (chosen != nullptr && chosen->userFile && chosen->name == presetName && IsUsersFile(roots, folder, chosen->file))
        return {chosen->file, chosen->name, LibraryItemExists(roots, folder, chosen->file.filename().string())};
    const std::string stem = PresetFileStem(presetName);
    const std::string fileName = stem + std::string(kPresetExtension);
    return {LibraryItemPath(user->path, folder, fileName), stem, LibraryItemExists(roots, folder, fileName)};
}

PresetResult SavePresetTo(const LibraryRoots& roots, const ProceduralTexture& pattern, const PresetTarget& target)
{
    if (target.file.empty())
        return Refused("there is nowhere to save presets");
    // Said before any attempt: the system's own answer would only be that the write failed.
    if (const std::size_t length = target.file.filename().native().size(); length > platform::kLongestFileNameBytes)
        return Refused("could not write the preset: the name is too long (its file name would take " +
                       std::to_string(length) + " bytes; at most " +
                       std::to_string(platform::kLongestFileNameBytes) + " fit)");
    std::error_code error;
    fs::create_directories(target.file.parent_path(), error);
    if (!fs::is_directory(target.file.parent_path(), error))
        return Refused("there is nowhere to save presets");

    const mesh::JsonNode document = mesh::NewJsonDocument();
    document.PutString("format", kPresetFormat);
    document.PutInt("version", kPresetVersion);
    document.PutString("texture", pattern.Name());
    mesh::procedural::WriteParameters(pattern, document.ObjectChild("parameters"));
    int failure = 0;
    if (!mesh::SaveJsonFile(document, target.file, mesh::JsonSaveOptions{}, &failure)) {
        // A preset the user made read-only is kept, and the answer says why.
        if (failure == platform::kWriteProtectedError)
            return Refused("could not write the preset: " + platform::SystemErrorText(failure));
        return Refused("could not write the preset");
    }

    PresetResult result = Done(target.name);
    const std::string fileName = target.file.filename().string();
    if (!OwnsPicture(fileName, ListLibraryItems(roots, ProceduralFolder(pattern.Name()), kPresetExtension)))
        return result;  // the picture of that name is another preset's
    const fs::path picture = target.file.parent_path() / PictureName(fileName);
    result.withoutPicture = !WriteGreyBmp(picture, RenderThumbnail(pattern), kPresetThumbnailSide);
    return result;
}

PresetResult DeletePreset(const LibraryRoots& roots, std::string_view patternName, const PresetFileEntry& entry)
{
    const fs::path folder = ProceduralFolder(patternName);
    if (!entry.userFile || !IsUsersFile(roots, folder, entry.file))
        return Refused("only your own presets can be deleted");
    const std::string fileName = entry.file.filename().string();
    // Asked before the file goes, while the presets sharing its stem are all still there.
    const bool ownsPicture = OwnsPicture(fileName, ListLibraryItems(roots, folder, kPresetExtension));
    if (!RemoveUsersCopy(roots, folder, fileName))
        return Refused("could not delete the preset");
    if (ownsPicture)
        (void)RemoveUsersCopy(roots, folder, PictureName(fileName));
    return Done();
}

std::vector<std::uint8_t> RenderThumbnail(const ProceduralTexture& pattern)
{
    const std::vector<float> image = pattern.RenderImage(kPresetThumbnailSide, kPresetThumbnailSide);
    std::vector<std::uint8_t> pixels(image.size());
    std::transform(image.begin(), image.end(), pixels.begin(), ThumbnailByte);
    return pixels;
}

}  // namespace grainforge::app
