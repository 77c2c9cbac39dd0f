#include "app/document/project_file.h"
#include "app/document/proposed_file_name.h"
#include "app/document/field_ranges.h"
#include "app/document/log_text.h"
#include "app/document/project_values.h"

#include "engine/mesh/report_text.h"
#include "engine/files/stl_writer.h"
#include "engine/files/mesh_json_sections.h"
#include "engine/textures/seamless_method.h"
#include "platform/file_system.h"
#include "platform/system_error.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <limits>
#include <new>
#include <optional>
#include <set>
#include <system_error>
#include <tuple>
#include <type_traits>
#include <variant>

namespace grainforge::app {

namespace {

namespace fs = std::filesystem;
using grainforge::mesh::JsonNode;
using grainforge::mesh::JsonValue;
using grainforge::mesh::JsonView;

constexpr const char* kWriteError = "the file could not be written";
constexpr const char* kNotReadableError = "the file is not a project (it could not be read as one)";
constexpr const char* kNotOursError = "the file is not a Tessary project";
constexpr const char* kNoPartError = "the project names no part";
constexpr const char* kNotFoundError = "the file was not found";

// The most a project holds, as the refusals of a reading and a writing both say it: "16 MiB".
std::string LargestProjectText()
{
    return std::to_string(grainforge::mesh::kMaxJsonFileBytes >> 20) + " MiB";
}

// Why the JSON layer did not load a project file, in the words the user sees.
std::string LoadFailureText(const fs::path& path, const grainforge::mesh::JsonLoadResult& load)
{
    using grainforge::mesh::JsonLoadStatus;
    switch (load.status) {
    case JsonLoadStatus::OpenFailed:
        if (load.error == ENOENT || load.error == ENOTDIR)
            return std::string(kNotFoundError) + ": " + PathToUtf8(path) + " (" +
                   platform::FileErrorCauseText(path, load.error, platform::FileUse::read) + ")";
        return "the file could not be opened: " + platform::FileErrorCauseText(path, load.error, platform::FileUse::read);
    case JsonLoadStatus::NotRegularFile:
        return std::string("the file is not a regular file: it is ") + platform::FileKindText(path);
    case JsonLoadStatus::TooLarge:
        return "the file is too large to be a project: it holds " + grainforge::mesh::FormatCountGrouped(load.size) +
               " bytes, and a project is at most " + LargestProjectText();
    case JsonLoadStatus::ReadFailed:
        return "the file could not be read: " + platform::FileErrorCauseText(path, load.error, platform::FileUse::read);
    case JsonLoadStatus::OutOfMemory:
        return kProjectMemoryError;
    case JsonLoadStatus::TooDeep:
        return "the file is not a project (its values are nested more than " +
               std::to_string(grainforge::mesh::kMaxJsonDepth) + " deep)";
    case JsonLoadStatus::Ok:
    case JsonLoadStatus::NotJson:
        break;
    }
    return kNotReadableError;
}

bool Exists(const fs::path& path)
{
    std::error_code error;
    const fs::file_status status = fs::symlink_status(path, error);
    return !error && status.type() != fs::file_type::none && status.type() != fs::file_type::not_found;
}

std::string Key(std::string_view key, std::string_view member)
{
    std::string text(key);
    text += '.';
    text += member;
    return text;
}

// A name's bytes as text a JSON file can hold: each byte outside valid UTF-8, and "%", as
// "%" + two hex digits; everything else as it is. Only names that are not UTF-8 need it.
std::string EscapedNameText(const fs::path& path)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    const auto escape = [](std::string& out, unsigned byte) {
        out += '%';
        out += kHex[byte >> 4];
        out += kHex[byte & 0xF];
    };
    std::string out;
    for (const wchar_t c : PathToWide(path)) {
        if (c == L'%')
            escape(out, '%');
        else if (c >= 0xDC80 && c <= 0xDCFF)
            escape(out, static_cast<unsigned>(c - 0xDC00));
        else
            out += WideToUtf8(std::wstring_view(&c, 1));
    }
    return out;
}

// The bytes of EscapedNameText; empty for a text that is not one (a "%" without two hex digits).
fs::path UnescapedName(std::string_view text)
{
    const auto digit = [](char c) {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
    };
    std::string bytes;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            bytes += text[i];
            continue;
        }
        const int high = i + 2 < text.size() ? digit(text[i + 1]) : -1;
        const int low = high >= 0 ? digit(text[i + 2]) : -1;
        if (low < 0)
            return {};
        bytes += static_cast<char>(high * 16 + low);
        i += 2;
    }
    return fs::path(std::move(bytes));
}

// `key` + "." + `member` as a path: from the escaped entry when the name was not UTF-8,
// else from the plain one.
std::string ReadNameEntry(const JsonView& node, std::string_view key, std::string_view member)
{
    std::string escaped;
    grainforge::mesh::GetJsonPathString(node, Key(key, std::string(member) + "Escaped"), escaped);
    if (!escaped.empty())
        if (const fs::path name = UnescapedName(escaped); !name.empty())
            return name.native();
    std::string plain;
    grainforge::mesh::GetJsonPathString(node, Key(key, member), plain);
    return plain;
}

// `key` + "." + `member` = the name for people (UTF-8, U+FFFD for a byte outside it); a name
// that is not UTF-8 also gets `member` + "Escaped" with its exact bytes.
void WriteNameEntry(const JsonNode& node, std::string_view key, std::string_view member, const fs::path& name)
{
    grainforge::mesh::SetJsonPathString(node, Key(key, member), PathToPlainUtf8(name));
    if (!IsUtf8Path(name))
        grainforge::mesh::SetJsonPathString(node, Key(key, std::string(member) + "Escaped"), EscapedNameText(name));
}

// Any JSON integer of 0 or more, the unsigned range included.
bool TakeCount(const JsonView& view, std::uint64_t& out)
{
    if (view.value == nullptr || !view.value->is_number_integer())
        return false;
    if (view.value->is_number_unsigned()) {
        out = view.value->get<std::uint64_t>();
        return true;
    }
    const std::int64_t value = view.value->get<std::int64_t>();
    if (value < 0)
        return false;
    out = static_cast<std::uint64_t>(value);
    return true;
}

void PutCount(const JsonNode& root, std::string_view key, std::uint64_t value)
{
    if (JsonValue* object = root.Resolve(); object != nullptr && object->is_object())
        (*object)[std::string(key)] = value;
}

// The members of a path entry (WritePathEntry).
constexpr const char* kPathEntryMembers[] = {"path", "relative", "pathEscaped", "relativeEscaped"};

// A test shape this program makes is opened before any part file the project names; a pattern
// before any image.
bool IsPartEntryUsed(const ProjectData& data)
{
    return !IsMadeTestShape(data.testShape);
}

bool IsImageEntryUsed(const ProjectData& data)
{
    return data.proceduralName.empty();
}

// Notes the kept member `dottedKey` among the keys of an entry the opening does not use, when it
// is one of its members or the whole entry (an image's, which the writer leaves out); false for
// any other member.
bool NoteUnusedEntryMember(const std::string& dottedKey, const JsonValue& value, ProjectData& data)
{
    for (auto [entry, used, keys] : {std::tuple{"part", IsPartEntryUsed(data), &data.partEntryNotUsed},
             std::tuple{"texture.image", IsImageEntryUsed(data), &data.imageEntryNotUsed}}) {
        if (used)
            continue;
        if (dottedKey == entry && value.is_object()) {
            for (const auto& [member, memberValue] : value.items())
                keys->push_back(dottedKey + "." + member);
            return true;
        }
        for (const char* member : kPathEntryMembers)
            if (dottedKey == std::string(entry) + "." + member) {
                keys->push_back(dottedKey);
                return true;
            }
    }
    return false;
}

// The members kept from the file without those of a path entry the writer wrote itself: an
// entry is one name, which its kept members (a ".relative" beside a new ".path") would change.
std::shared_ptr<const JsonValue> KeptWithoutWrittenEntries(
    const std::shared_ptr<const JsonValue>& kept, const JsonValue& written)
{
    std::shared_ptr<JsonValue> left;
    for (const char* entry : {"/part", "/texture/image"}) {
        const JsonValue::json_pointer at(entry);
        if (!written.contains(at / "path") || !kept->contains(at) || !kept->at(at).is_object())
            continue;
        for (const char* member : kPathEntryMembers) {
            if (!(left ? *left : *kept).at(at).contains(member))
                continue;
            if (!left)
                left = std::make_shared<JsonValue>(*kept);
            left->at(at).erase(member);
        }
    }
    return left ? left : kept;
}

// "\\?\C:" and the separators after it, when the text starts with them.
std::size_t ExtendedDrivePrefixLength(const std::string& text)
{
    if (text.size() < 6 || text.compare(0, 4, "\\\\?\\") != 0)
        return 0;
    const char drive = text[4];
    const bool letter = (drive >= 'A' && drive <= 'Z') || (drive >= 'a' && drive <= 'z');
    if (!letter || text[5] != ':')
        return 0;
    std::size_t end = 6;
    while (end < text.size() && (text[end] == '\\' || text[end] == '/'))
        ++end;
    return end;
}

// The members kept from the file, put back at their places after what the writer wrote: a
// member the writer wrote itself stays the writer's.
void PutKeptMembers(JsonValue& written, const JsonValue& kept)
{
    for (const auto& [key, value] : kept.items()) {
        const auto found = written.find(key);
        if (found == written.end())
            written[key] = value;
        else if (found->is_object() && value.is_object())
            PutKeptMembers(*found, value);
    }
}

void WriteProjectDocument(const JsonNode& root, const fs::path& folder, const ProjectData& data)
{
    using namespace grainforge::mesh;
    SetJsonPathString(root, "application", kProjectApplication);
    SetJsonPathInteger(root, "version", kProjectVersion);
    WritePathEntry(root, "part", data.partPath, folder);
    if (!data.testShape.empty())
        SetJsonPathString(root, "part.testShape", data.testShape);
    WriteTransformJson(root.ObjectChild("part").ObjectChild("orientation"), data.partTransform);
    SetJsonPathString(root, "texture.procedural", data.proceduralName);
    SetJsonPathString(root, "texture.proceduralParameters", data.proceduralParameters);
    SetJsonPathString(root, "texture.proceduralPreset", data.proceduralPreset);
    WritePathEntry(root, "texture.image", data.textureImagePath, folder);
    WriteTextureSettingsJson(root.ObjectChild("texture").ObjectChild("settings"), data.textureSettings);
    WriteProjectionJson(root.ObjectChild("projection"), data.projection);
    SetJsonPathInteger(root, "maskCount", static_cast<std::int64_t>(data.masks.size()));
    for (std::size_t i = 0; i < data.masks.size(); ++i) {
        const JsonNode mask = root.ObjectChild("mask" + std::to_string(i));
        WriteMaskVolume(mask, data.masks[i]);
        // The volume's own members no reader takes go back into its object, wherever it now lies.
        if (const auto& kept = data.masks[i].keptMembers; kept && kept->is_object())
            if (JsonValue* written = mask.Resolve(); written != nullptr && written->is_object())
                PutKeptMembers(*written, *kept);
    }
    SetJsonPathBool(root, "stages.remesh", data.stageRemesh);
    SetJsonPathBool(root, "stages.displacement", data.stageDisplacement);
    SetJsonPathBool(root, "stages.simplify", data.stageSimplify);
    RemeshSettingsToJson(root.ObjectChild("remesh"), data.remesh);
    DisplacementSettingsToJson(root.ObjectChild("displacement"), data.displacement);
    WriteSimplifySettingsJson(root.ObjectChild("simplify"), data.simplify);
    SetJsonPathInteger(root, "occupancyCells", data.occupancyCells);
    PutCount(root, "maximumTriangles", data.maximumTriangles);
    PutCount(root, "displayTriangles", data.displayTriangles);
    ExportCleanupOptionsToJson(root.ObjectChild("exportCleanup"), data.exportCleanup);
    WriteRepairOptions(root.ObjectChild("exportFixes"), data.exportFixes);
    if (data.membersKept && data.membersKept->is_object())
        if (JsonValue* written = root.Resolve())
            PutKeptMembers(*written, *KeptWithoutWrittenEntries(data.membersKept, *written));
}

// The number of a mask object's key: "mask" + a number in plain decimal (no sign, no leading
// zero); none for any other key.
std::optional<std::uint64_t> MaskObjectNumber(std::string_view key)
{
    if (!key.starts_with("mask"))
        return std::nullopt;
    const std::string_view digits = key.substr(4);
    std::uint64_t number = 0;
    const auto [end, failure] = std::from_chars(digits.data(), digits.data() + digits.size(), number);
    const bool plain = !digits.empty() && (digits[0] != '0' || digits.size() == 1);
    if (failure != std::errc() || end != digits.data() + digits.size() || !plain)
        return std::nullopt;
    return number;
}

// Every key a mask entry could have: "mask" and a number, in any form ("mask007", "mask-1").
// Another key that begins with "mask" ("maskX", "maskNotes") is no mask's.
bool IsMaskEntryKey(std::string_view key)
{
    if (!key.starts_with("mask"))
        return false;
    std::string_view number = key.substr(4);
    if (!number.empty() && (number[0] == '-' || number[0] == '+'))
        number.remove_prefix(1);
    return !number.empty() && std::all_of(number.begin(), number.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The mask objects the file holds, in the order of their numbers, up to the limit; the rest,
// and every mask entry that is not such an object, are counted as left out, since the next
// save drops them. "maskCount" may claim any number: only the objects are masks, so none is
// made up for a number without one, and none past the count is lost. Gives the file's key and
// object of each mask opened, in the masks' order.
struct MaskObject {
    std::uint64_t number;
    std::string_view key;  // in the document, as `value`
    const JsonValue* value;
};

std::vector<MaskObject> ReadMaskObjects(const JsonView& root, ProjectData& data)
{
    std::vector<MaskObject> held;
    if (!root.IsObject())
        return held;
    for (const auto& [key, value] : root.value->items()) {
        if (!IsMaskEntryKey(key))
            continue;
        if (const std::optional<std::uint64_t> number = MaskObjectNumber(key); number && value.is_object())
            held.push_back({*number, key, &value});
        else if (++data.masksUnread <= kMaskKeysUnreadNamed)
            data.maskKeysUnread.push_back(key);
    }
    const std::size_t opened = std::min<std::size_t>(held.size(), kMaximumMaskVolumes);
    std::partial_sort(held.begin(), held.begin() + static_cast<std::ptrdiff_t>(opened), held.end(),
        [](const MaskObject& a, const MaskObject& b) { return a.number < b.number; });
    data.masksLeftOut = held.size() - opened + data.masksUnread;
    data.masks.assign(opened, grainforge::mesh::MaskVolume{});
    for (std::size_t i = 0; i < opened; ++i)
        grainforge::mesh::ReadMaskVolume(JsonView{root.root, held[i].value}, data.masks[i]);
    held.resize(opened);
    return held;
}

// What a replaced value is said as: the JSON text of it, shortened for a sentence.
std::string ValueText(const JsonValue& value)
{
    return grainforge::mesh::ShortJsonText(value);
}

// A member's dotted key as a sentence holds it: as it is, or, when it holds a control character
// or is long, as its JSON text shortened.
std::string MemberNameText(const std::string& key)
{
    constexpr std::size_t kLongestKey = 60;
    const bool plain = key.size() <= kLongestKey && std::none_of(key.begin(), key.end(), [](char c) {
        return static_cast<unsigned char>(c) < 0x20 || c == 0x7f;
    });
    return plain ? key : ValueText(JsonValue(key));
}

// Said for a section the file holds as something else than an object.
constexpr const char* kSectionDefaultsText = "the defaults";

// Whether the reader takes `given` where the writer puts `written`: by the JSON layer's own
// rules for each kind (a float field takes any number a float holds, an integer field an
// integer within 32 bits, a vector exactly its count of such numbers).
bool IsTakenAsWritten(const JsonValue& given, const JsonValue& written)
{
    const JsonView view{nullptr, &given};
    float number = 0.0f;
    std::int32_t integer = 0;
    switch (written.type()) {
    case JsonValue::value_t::number_float:
        return view.TakeFloat(number);
    case JsonValue::value_t::number_integer:
    case JsonValue::value_t::number_unsigned:
        return view.TakeInt32(integer);
    case JsonValue::value_t::boolean:
        return given.is_boolean();
    case JsonValue::value_t::string:
        return given.is_string();
    case JsonValue::value_t::array:
        if (!given.is_array() || given.size() != written.size())
            return false;
        return std::all_of(given.begin(), given.end(),
            [&](const JsonValue& element) { return JsonView{nullptr, &element}.TakeFloat(number); });
    default:
        // Objects are walked member by member; nothing else is written.
        return true;
    }
}

// The last parts of the keys whose text is one of a table of names; a name not in it leaves
// the field as it was. Every other text member is free text, taken as it stands.
constexpr std::string_view kNamedChoiceKeys[] = {"type", "surface", "axis", "method", "midLevelMode",
    "direction", "outsideRule", "wrap", "seamlessMethod", "shape"};

// A name its reader took under another (a retired remesh method becomes the one that took
// its place), so nothing was lost.
bool IsRetiredName(std::string_view where, const JsonValue& given)
{
    return where == "remesh.method" && given == "dualContouring";
}

// A name of a table that its reader did not know: the field kept the name written instead.
bool IsUnknownName(std::string_view key, std::string_view where, const JsonValue& given, const JsonValue& written)
{
    return given.is_string() && written.is_string() && given != written &&
        std::find(std::begin(kNamedChoiceKeys), std::end(kNamedChoiceKeys), key) != std::end(kNamedChoiceKeys) &&
        !IsRetiredName(where, given);
}

// The file's keys whose numbers were taken through the one list of numbers (HoldProjectValues),
// whatever their kind: those are held and named there, not replaced.
using TakenKeys = std::set<std::string, std::less<>>;

// What of `given`, the member `key` of the file at `where`, its reader could not take, found
// against what the writer puts there for the record as read: a member of another kind, or a
// name no table holds, kept its field's value. `said` is how the warning names `where`.
void NoteValueNotTaken(const JsonValue& given, std::string_view key, const JsonValue& written,
    const std::string& where, const std::string& said, const TakenKeys& taken, std::vector<ReplacedValue>& replaced)
{
    if (taken.contains(where))
        return;
    if (!written.is_object()) {
        if (!IsTakenAsWritten(given, written) || IsUnknownName(key, where, given, written))
            replaced.push_back({said, ValueText(given), ValueText(written)});
        return;
    }
    if (!given.is_object()) {
        replaced.push_back({said, ValueText(given), kSectionDefaultsText});
        return;
    }
    for (const auto& [member, value] : written.items())
        if (const auto found = given.find(member); found != given.end())
            NoteValueNotTaken(*found, member, value, where + "." + member, said + "." + member, taken, replaced);
}

// How the mask panel names a member of a mask object, where it has a row for it.
std::string MaskMemberLabel(const std::string& member)
{
    constexpr std::pair<std::string_view, std::string_view> kLabels[] = {{"center", "Position"}, {"size", "Size"},
        {"rotationDegrees", "Turn"}, {"featherMillimetres", "Feather"}, {"shape", "Shape"}, {"name", "Name"},
        {"enabled", "On"}};
    for (const auto& [key, label] : kLabels)
        if (member == key)
            return std::string(label);
    return member;
}

// The value at a dotted key of a document, or null.
const JsonValue* FindAtDottedKey(const JsonValue& root, std::string_view dottedKey)
{
    const JsonView view{nullptr, &root};
    const grainforge::mesh::JsonReadTarget target = grainforge::mesh::ResolveJsonPathForRead(view, dottedKey);
    return target.view.FindMember(target.member).value;
}

// Read on their own, with their own words: the file's name and version, the mask count no
// reader trusts, the triangle limits and the test grid.
bool IsReadOnItsOwn(std::string_view key)
{
    for (const std::string_view own :
        {"application", "version", "maskCount", "maximumTriangles", "displayTriangles", "occupancyCells"})
        if (key == own)
            return true;
    return false;
}

// The members a reader takes that the writer leaves out (when empty, or no longer written),
// so that one of another type is named as well.
void AddMembersReadButNotWritten(const JsonNode& rewritten, const ProjectData& data)
{
    using namespace grainforge::mesh;
    const JsonValue& root = *rewritten.root;
    for (const auto& [entry, used] : {std::pair{"part", IsPartEntryUsed(data)},
             std::pair{"texture.image", IsImageEntryUsed(data)}}) {
        // An entry not used is not read either: its members are kept as they are.
        if (!used)
            continue;
        for (const char* member : kPathEntryMembers) {
            const std::string key = std::string(entry) + "." + member;
            if (FindAtDottedKey(root, key) == nullptr)
                SetJsonPathString(rewritten, key, "");
        }
    }
    if (FindAtDottedKey(root, "part.testShape") == nullptr)
        SetJsonPathString(rewritten, "part.testShape", data.testShape);
    SetJsonPathBool(rewritten, "stages.subdivide", data.stageSubdivide);
}

// The record as read written again, with the members a reader takes that the writer leaves out:
// where the file's members are compared with what was made of them.
JsonNode RewrittenDocument(const fs::path& folder, const ProjectData& data)
{
    const JsonNode rewritten = grainforge::mesh::NewJsonDocument();
    WriteProjectDocument(rewritten, folder, data);
    AddMembersReadButNotWritten(rewritten, data);
    return rewritten;
}

// Members the reader passes over on purpose: a retired entry older projects carry.
bool IsReadPast(const std::string& where)
{
    return where == "part.writtenBeside";
}

// Gathers the member `key` of an object (at `where`, named `said`) when no reader takes it,
// against `written`, what the writer writes in that object: a member it does not write is copied
// into `kept`; one that is an object in both is gone through member by member.
void KeepMemberIfNotRead(const std::string& key, const JsonValue& value, const JsonValue& written,
    const std::string& where, const std::string& said, JsonValue& kept, ProjectData& data)
{
    const std::string at = where.empty() ? key : where + "." + key;
    const std::string named = said.empty() ? key : said + (said.ends_with(": ") ? "" : ".") + key;
    const auto found = written.find(key);
    if (found == written.end()) {
        if (IsReadPast(at))
            return;
        kept[key] = value;
        if (NoteUnusedEntryMember(at, value, data))
            return;
        if (++data.membersNotReadCount <= kMembersNotReadNamed)
            data.membersNotRead.push_back(MemberNameText(named));
    } else if (value.is_object() && found->is_object()) {
        JsonValue inner = JsonValue::object();
        for (const auto& [member, memberValue] : value.items())
            KeepMemberIfNotRead(member, memberValue, *found, at, named, inner, data);
        if (!inner.empty())
            kept[key] = std::move(inner);
    }
}

// Every member of the file that no reader takes: named in `data`, and kept there so that a save
// writes it back as it was. A mask opened keeps its members on its own volume, so that they go
// where it goes; mask entries not opened are said apart (FormatMasksLeftOut).
void KeepProjectMembersNotRead(const JsonView& root, const JsonValue& rewritten,
    const std::vector<MaskObject>& maskObjects, ProjectData& data)
{
    JsonValue kept = JsonValue::object();
    for (const auto& [key, value] : root.value->items()) {
        if (!IsMaskEntryKey(key)) {
            KeepMemberIfNotRead(key, value, rewritten, "", "", kept, data);
            continue;
        }
        const std::string_view maskKey = key;  // a lambda may not capture a binding
        const auto opened = std::find_if(maskObjects.begin(), maskObjects.end(),
            [&](const MaskObject& object) { return object.key == maskKey; });
        if (opened == maskObjects.end())
            continue;
        const std::size_t index = static_cast<std::size_t>(opened - maskObjects.begin());
        const std::string written = "mask" + std::to_string(index);
        JsonValue inner = JsonValue::object();
        for (const auto& [member, memberValue] : value.items())
            KeepMemberIfNotRead(member, memberValue, rewritten.at(written), key, MaskLabel(index) + ": ", inner, data);
        if (!inner.empty())
            data.masks[index].keptMembers = std::make_shared<const JsonValue>(std::move(inner));
    }
    if (!kept.empty())
        data.membersKept = std::make_shared<const JsonValue>(std::move(kept));
}

// The "version" the file gives: a newer one than this program writes is noted; one that is not
// a whole number is named.
void ReadVersion(const JsonView& root, ProjectData& data)
{
    const JsonView member = root.FindMember("version");
    std::int64_t version = 0;
    if (member.IsEmpty())
        return;
    if (!member.TakeInt64(version)) {
        data.valuesReplaced.push_back({"version", ValueText(*member.value), std::to_string(kProjectVersion)});
        return;
    }
    if (version > kProjectVersion)
        data.newerVersion = version;
}

// Names in valuesReplaced every member of the file that the readers passed over for its type:
// each member the file holds where the writer puts one of another kind was not taken. Each mask
// is compared with the object it was read from, and named as the mask panel names it.
void NoteValuesNotTaken(const JsonView& root, const JsonValue& rewritten, const std::vector<MaskObject>& maskObjects,
    const TakenKeys& taken, ProjectData& data)
{
    for (const auto& [key, written] : rewritten.items()) {
        if (IsReadOnItsOwn(key))
            continue;
        if (const std::optional<std::uint64_t> mask = MaskObjectNumber(key)) {
            const MaskObject& object = maskObjects.at(*mask);
            for (const auto& [member, value] : written.items())
                if (const auto found = object.value->find(member); found != object.value->end())
                    NoteValueNotTaken(*found, member, value, std::string(object.key) + "." + member,
                        MaskLabel(*mask) + ": " + MaskMemberLabel(member), taken, data.valuesReplaced);
        } else if (const auto found = root.value->find(key); found != root.value->end()) {
            NoteValueNotTaken(*found, key, written, key, key, taken, data.valuesReplaced);
        }
    }
}

// A member read on its own that is not a number: its field keeps `now`.
void NoteNotANumber(const JsonView& member, std::string_view key, std::uint64_t now, ProjectData& data)
{
    data.valuesReplaced.push_back({std::string(key), ValueText(*member.value), std::to_string(now)});
}

// A triangle limit given as any number. An integer of 0 or more is taken as it stands and held
// with the other values; a negative or fractional one, or one written with a fraction or an
// exponent (1e12, 1e30), takes the nearest the field takes as the same integer would, and is
// named. Any other type keeps the limit, and is named.
void ReadTriangleLimit(const JsonView& root, std::string_view key, const NumberFieldRule& rule,
    std::uint64_t& limit, ProjectData& data)
{
    const JsonView member = root.FindMember(key);
    if (member.IsEmpty() || TakeCount(member, limit))
        return;
    if (!member.value->is_number()) {
        NoteNotANumber(member, key, limit, data);
        return;
    }
    const double given = member.value->get<double>();
    const double now = HoldToFieldRange(given / 1e6, rule, static_cast<double>(limit) / 1e6);
    limit = static_cast<std::uint64_t>(std::llround(now * 1e6));
    if (static_cast<double>(limit) != given)
        data.valuesHeld.push_back({WideToUtf8(rule.name), given, static_cast<double>(limit), kTrianglesUnit});
}

// The label of the test grid's choice, which names the value held.
constexpr const char* kTestGridName = "Test grid";

// The test grid given as any number takes the nearest resolution offered; one that is not
// that resolution already is named, as is a value of another type, which keeps the default.
void ReadTestGridCells(const JsonView& root, ProjectData& data)
{
    const JsonView member = root.FindMember("occupancyCells");
    if (member.IsEmpty())
        return;
    if (!member.value->is_number()) {
        NoteNotANumber(member, "occupancyCells", static_cast<std::uint64_t>(data.occupancyCells), data);
        return;
    }
    const double given = member.value->get<double>();
    const double bounded = std::clamp(given, static_cast<double>(std::numeric_limits<std::int32_t>::min()),
        static_cast<double>(std::numeric_limits<std::int32_t>::max()));
    data.occupancyCells = ClampSurfaceTestCells(static_cast<std::int32_t>(bounded));
    if (static_cast<double>(data.occupancyCells) != given)
        data.valuesHeld.push_back({kTestGridName, given, static_cast<double>(data.occupancyCells), {}});
}

// Reads every key the writer puts; gives the mask objects opened, in the masks' order.
std::vector<MaskObject> ReadProjectDocument(const JsonView& root, const fs::path& folder, ProjectData& data)
{
    using namespace grainforge::mesh;
    data.partPath = ReadPathEntry(root, "part", folder, &data.partSavedElsewhere);
    GetJsonPathString(root, "part.testShape", data.testShape);
    if (JsonView part = root.Section("part"); !part.IsEmpty())
        if (JsonView orientation = part.Section("orientation"); !orientation.IsEmpty())
            ReadTransformJson(orientation, data.partTransform);
    GetJsonPathString(root, "texture.procedural", data.proceduralName);
    GetJsonPathString(root, "texture.proceduralParameters", data.proceduralParameters);
    GetJsonPathString(root, "texture.proceduralPreset", data.proceduralPreset);
    data.textureImagePath = ReadPathEntry(root, "texture.image", folder, &data.textureSavedElsewhere);
    if (JsonView texture = root.Section("texture"); !texture.IsEmpty())
        if (JsonView settings = texture.Section("settings"); !settings.IsEmpty())
            ReadTextureSettingsJson(settings, data.textureSettings);
    if (JsonView projection = root.Section("projection"); !projection.IsEmpty())
        ReadProjectionJson(projection, data.projection);

    const std::vector<MaskObject> maskObjects = ReadMaskObjects(root, data);

    GetJsonPathBool(root, "stages.remesh", data.stageRemesh);
    GetJsonPathBool(root, "stages.subdivide", data.stageSubdivide);
    GetJsonPathBool(root, "stages.displacement", data.stageDisplacement);
    GetJsonPathBool(root, "stages.simplify", data.stageSimplify);
    if (JsonView section = root.Section("remesh"); !section.IsEmpty())
        RemeshSettingsFromJson(section, data.remesh);
    if (JsonView section = root.Section("displacement"); !section.IsEmpty())
        DisplacementSettingsFromJson(section, data.displacement);
    if (JsonView section = root.Section("simplify"); !section.IsEmpty())
        ReadSimplifySettingsJson(section, data.simplify);
    ReadTestGridCells(root, data);
    ReadTriangleLimit(root, "maximumTriangles", kTriangleLimitRule, data.maximumTriangles, data);
    ReadTriangleLimit(root, "displayTriangles", kDisplayLimitRule, data.displayTriangles, data);
    if (JsonView section = root.Section("exportCleanup"); !section.IsEmpty())
        ExportCleanupOptionsFromJson(section, data.exportCleanup);
    if (JsonView section = root.Section("exportFixes"); !section.IsEmpty())
        ReadRepairOptions(section, data.exportFixes);
    return maskObjects;
}

// The file's key of a listed number: a mask's "mask" + its place in the list becomes the key of
// the object it was read from ("mask500.size").
std::string FileKeyOf(const ProjectNumber& number, const std::vector<MaskObject>& maskObjects)
{
    if (const std::size_t dot = number.key.find('.'); dot != std::string::npos)
        if (const std::optional<std::uint64_t> mask = MaskObjectNumber(std::string_view(number.key).substr(0, dot)))
            return std::string(maskObjects.at(*mask).key) + number.key.substr(dot);
    return number.key;
}

// The number the file gives for a listed one, where the writer puts a number: the member, or its
// element of an array of the written length whose elements are all numbers. Any number counts,
// also one its reader does not take (beyond a float, beyond 32 bits, a fraction for a count):
// it is held by its own meaning like any other.
std::optional<double> GivenNumber(const JsonValue& root, const JsonValue& rewritten, const std::string& fileKey,
    const ProjectNumber& number)
{
    const JsonValue* written = FindAtDottedKey(rewritten, number.key);
    const JsonValue* given = FindAtDottedKey(root, fileKey);
    if (written == nullptr || given == nullptr)
        return std::nullopt;
    if (number.element < 0)
        return written->is_number() && given->is_number() ? std::optional(given->get<double>()) : std::nullopt;
    const auto isNumber = [](const JsonValue& element) { return element.is_number(); };
    if (!written->is_array() || !given->is_array() || given->size() != written->size() ||
        !std::all_of(given->begin(), given->end(), isNumber))
        return std::nullopt;
    return (*given)[static_cast<std::size_t>(number.element)].get<double>();
}

// Whether `stored` still stands for `given`: the same number, or as near as a float holds it
// (0.1 is stored as the float nearest to it, 1e-50 as 0, which is not the same).
bool StandsFor(double stored, double given)
{
    constexpr double kFloatRounding = 0x1p-24;
    return stored == given || std::fabs(stored - given) <= std::fabs(given) * kFloatRounding;
}

// The held value as the warning says it.
HeldValue NamedHeldValue(const ProjectNumber& number, double was, double now, bool toDefault)
{
    HeldValue held{number.name, was, now, WideToUtf8(number.rule->unit), toDefault, number.decimals};
    switch (number.naming) {
    case NumberNaming::shown:
        break;
    case NumberNaming::count:
        held.was = StoredFromShown(number, was);
        held.now = StoredFromShown(number, now);
        held.unit = kTrianglesUnit;
        break;
    case NumberNaming::reciprocal:
        // The exponent as the gamma edit shows it; one that the edit cannot show (0 or below)
        // is named as the file holds it.
        if (was > 0.0 && now > 0.0) {
            held.was = 1.0 / was;
            held.now = 1.0 / now;
            held.decimals = 2;
        } else {
            held.name = number.key;
        }
        break;
    }
    return held;
}

// Stores `shown` (in the rule's terms) in the number's field, rounded to the field's type.
void StoreShown(const ProjectNumber& number, double shown)
{
    std::visit(
        [&](auto* value) {
            using Stored = std::remove_pointer_t<decltype(value)>;
            const double stored = StoredFromShown(number, shown);
            if constexpr (std::is_same_v<Stored, float>)
                *value = static_cast<float>(stored);
            else
                *value = static_cast<Stored>(std::llround(stored));
        },
        number.value);
}

// The seamless method's parameters held to its parameter table as the height map takes them,
// named by the method, and saved as they are in force.
void HoldSeamlessParameters(ProjectData& data)
{
    grainforge::mesh::TextureSettings& texture = data.textureSettings;
    const std::unique_ptr<grainforge::mesh::seamless::Method> method =
        grainforge::mesh::seamless::CreateSeamlessMethod(texture.seamlessMethod);
    if (!method || method->GetParameters().empty())
        return;
    grainforge::mesh::procedural::ParametersFromText(*method, texture.seamlessParameters);
    const std::string prefix = texture.seamlessMethod + ": ";
    for (HeldValue& value : HeldPatternParameters(*method, texture.seamlessParameters)) {
        value.name = prefix + value.name;
        data.valuesHeld.push_back(std::move(value));
    }
    NoteParameterWords(*method, texture.seamlessParameters, prefix, data);
    // As in force, with the lines it does not read kept after its own.
    texture.seamlessParameters = grainforge::mesh::procedural::ParametersToText(*method);
}

// Holds every number of a project just read by its own meaning, as its field takes a typed one,
// and notes each one changed: a project written by hand, by another program or by a damaged save
// reaches no run, dialog or saved file with a value its field would refuse. A number the file
// gives is held from the file's own number, so one no float or 32-bit count holds takes the
// nearest value of its range like any other, and one a float cannot keep (1e-50) is named. A
// placement that is no turn takes the part as it was loaded. Gives the file's keys of the numbers
// taken so.
TakenKeys HoldProjectValues(const JsonView& root, const JsonValue& rewritten,
    const std::vector<MaskObject>& maskObjects, ProjectData& data)
{
    // Each number falls back to a new record's, mask volumes to a new volume's.
    ProjectData fresh;
    fresh.masks.resize(data.masks.size());
    const std::vector<ProjectNumber> numbers = ListProjectNumbers(data);
    const std::vector<ProjectNumber> defaults = ListProjectNumbers(fresh);
    TakenKeys taken;
    std::vector<double> given(numbers.size());
    std::vector<bool> nearest(numbers.size(), true);
    // As held, before a float keeps it: named so ("10.01", not the float nearest to it).
    std::vector<double> held(numbers.size());
    for (std::size_t i = 0; i < numbers.size(); ++i) {
        const ProjectNumber& number = numbers[i];
        given[i] = ShownValue(number);
        if (!number.key.empty()) {
            const std::string fileKey = FileKeyOf(number, maskObjects);
            if (const std::optional<double> fileNumber = GivenNumber(*root.value, rewritten, fileKey, number)) {
                given[i] = *fileNumber * number.scale / number.divisor;
                taken.insert(fileKey);
            }
        }
        bool near = true;
        held[i] = HoldProjectNumber(number, given[i], ShownValue(defaults[i]), &near);
        StoreShown(number, held[i]);
        nearest[i] = near;
    }
    // A placement that is no turn (all zeros, a scale, a mirror) has no nearest turn to take.
    if (!IsPlacementTurn(data.partTransform))
        for (std::size_t i = 0; i < numbers.size(); ++i)
            if (numbers[i].rule == &kPlacementTurnRule) {
                StoreShown(numbers[i], ShownValue(defaults[i]));
                nearest[i] = false;
            }
    for (std::size_t i = 0; i < numbers.size(); ++i)
        if (const double now = ShownValue(numbers[i]); !StandsFor(now, given[i]))
            data.valuesHeld.push_back(
                NamedHeldValue(numbers[i], given[i], StandsFor(now, held[i]) ? held[i] : now, !nearest[i]));

    HoldSeamlessParameters(data);

    // Black above white makes a flat relief; held as the levels' fields hold it.
    grainforge::mesh::TextureSettings& texture = data.textureSettings;
    const float black = texture.blackLevel;
    const float white = texture.whiteLevel;
    switch (HoldLevelsOrder(texture.blackLevel, texture.whiteLevel)) {
    case LevelsOrder::kept:
        break;
    case LevelsOrder::whiteRaised:
        data.valuesHeld.push_back({"White", white * kLevelScale, texture.whiteLevel * kLevelScale, "", false, 0});
        break;
    case LevelsOrder::blackLowered:
        data.valuesHeld.push_back({"Black", black * kLevelScale, texture.blackLevel * kLevelScale, "", false, 0});
        break;
    }
    return taken;
}

// A number as the warning says it, in the form its field takes typed: a whole one in full
// digits without group marks ("2000000000": a field refuses "2,000,000,000", and "1,000" is
// asked about); one with `decimals` as its field shows it; any other as the shortest text that
// reads back as it (as the float it is, where it is one: 0.1 rather than 0.10000000149011612).
std::string HeldNumberText(double value, int decimals)
{
    constexpr double kLargestWritten = 1e15;
    char text[64];
    std::to_chars_result written{};
    if (decimals >= 0 && std::fabs(value) < kLargestWritten && std::fabs(value) >= 0.5 * std::pow(10.0, -decimals))
        written = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, decimals);
    else if (value == std::trunc(value) && std::fabs(value) < kLargestWritten)
        written = std::to_chars(text, text + sizeof text, static_cast<std::int64_t>(value));
    else if (static_cast<double>(static_cast<float>(value)) == value)
        written = std::to_chars(text, text + sizeof text, static_cast<float>(value));
    else
        written = std::to_chars(text, text + sizeof text, value);
    return written.ec == std::errc() ? std::string(text, written.ptr) : std::string("?");
}

// "<stem> part.stl" for number 1, "<stem> part <number>.stl" after it.
fs::path BesideCandidate(const fs::path& folder, const std::string& stem, int number)
{
    std::string ending = " part";
    if (number > 1)
        ending.append(" ").append(std::to_string(number));
    ending += ".stl";
    return folder / ProposedFileName(fs::path(stem), ending);
}

}  // namespace

std::vector<HeldValue> HeldPatternParameters(const grainforge::mesh::procedural::ParameterSet& pattern,
    std::string_view text)
{
    // The lines read as the pattern read them, so a value it took as written is never named;
    // of a key given more than once only the last counts (the others were dropped, not held).
    const std::vector<grainforge::mesh::procedural::ParameterTextEntry> entries =
        grainforge::mesh::procedural::ReadParameterText(text);
    std::vector<HeldValue> held;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const auto& entry = entries[i];
        if (std::any_of(entries.begin() + static_cast<std::ptrdiff_t>(i) + 1, entries.end(),
                [&](const auto& later) { return later.key == entry.key; }))
            continue;
        for (const grainforge::mesh::procedural::ParameterSpec& spec : pattern.GetParameters()) {
            const float taken = pattern.GetValue(spec.key);
            if (spec.key == entry.key && static_cast<float>(entry.value) != taken)
                held.push_back({spec.label, entry.value, taken, {}, !std::isfinite(entry.value)});
        }
    }
    return held;
}

std::string MemberNameForSentence(const std::string& key)
{
    return MemberNameText(key);
}

std::string ParameterValueText(const grainforge::mesh::procedural::ParameterSpec& spec, float value)
{
    if (spec.kind != grainforge::mesh::procedural::ParameterKind::Real)
        return std::to_string(std::llround(value));
    char text[32];
    const std::to_chars_result written = std::to_chars(text, text + sizeof text, value);
    return written.ec == std::errc() ? std::string(text, written.ptr) : std::string("?");
}

void NoteParameterWords(const grainforge::mesh::procedural::ParameterSet& set, std::string_view text,
    const std::string& labelPrefix, ProjectData& data)
{
    namespace procedural = grainforge::mesh::procedural;
    const procedural::ParameterWords words = procedural::SortParameterWords(set, text);
    const std::string keyPrefix = set.Name() + ": ";
    for (const std::string_view key : words.notRead)
        if (++data.membersNotReadCount <= kMembersNotReadNamed)
            data.membersNotRead.push_back(MemberNameText(keyPrefix + std::string(key)));
    for (const procedural::RepeatedParameterWord& word : words.repeated) {
        ++data.membersRepeatedCount;
        if (data.membersRepeated.size() < grainforge::mesh::kRepeatedMembersRecorded)
            data.membersRepeated.push_back({keyPrefix + std::string(word.key),
                MemberNameText(std::string(word.dropped)), MemberNameText(std::string(word.kept)),
                word.times});
    }
    for (const procedural::ParameterWordNotNumber& word : words.notNumbers)
        for (const procedural::ParameterSpec& spec : set.GetParameters())
            if (spec.key == word.key) {
                data.valuesReplaced.push_back({labelPrefix + spec.label,
                    ValueText(JsonValue(std::string(word.text))), ParameterValueText(spec, set.GetValue(spec.key))});
                break;
            }
}

std::string FormatHeldValues(const std::vector<HeldValue>& held)
{
    std::string text;
    // A field that shows two decimals names a change within them with as many more as show it:
    // "Gamma 0.099 is now 0.100", never "Gamma 0.10 is now 0.10".
    constexpr int kMostDecimals = 9;
    for (const HeldValue& value : held) {
        const std::string unit = value.unit.empty() ? std::string() : " " + value.unit;
        int decimals = value.decimals;
        std::string was = HeldNumberText(value.was, decimals);
        std::string now = HeldNumberText(value.now, decimals);
        while (was == now && value.was != value.now && decimals >= 0) {
            decimals = decimals < kMostDecimals ? decimals + 1 : -1;
            was = HeldNumberText(value.was, decimals);
            now = HeldNumberText(value.now, decimals);
        }
        text += (text.empty() ? "" : "; ") + value.name + " " + was + unit + " is now " + now + unit;
    }
    return text;
}

std::string FormatChangedValues(const std::vector<ReplacedValue>& replaced, const std::vector<HeldValue>& held)
{
    std::string text;
    for (const ReplacedValue& value : replaced)
        text += (text.empty() ? "" : "; ") + value.key + " " + value.given + " is now " + value.now;
    const std::string heldText = FormatHeldValues(held);
    if (!heldText.empty())
        text += (text.empty() ? "" : "; ") + heldText;
    return text;
}

std::string FormatChangedValuesWarning(const std::vector<ReplacedValue>& replaced, const std::vector<HeldValue>& held)
{
    std::vector<HeldValue> nearest;
    std::vector<HeldValue> toDefault;
    for (const HeldValue& value : held)
        (value.toDefault ? toDefault : nearest).push_back(value);
    std::string text;
    if (!nearest.empty())
        text = "The project holds values its fields do not take; each was changed to the nearest they take: " +
            FormatHeldValues(nearest) + ".";
    if (!replaced.empty() || !toDefault.empty())
        text += (text.empty() ? "The project holds values its fields cannot take as they are"
                              : " Others could not be taken as they are") +
            std::string("; each is now its field's default: ") + FormatChangedValues(replaced, toDefault) + ".";
    return text;
}

std::string FormatMembersNotRead(const ProjectData& data)
{
    if (data.membersNotReadCount == 0)
        return {};
    std::string text;
    for (const std::string& name : data.membersNotRead)
        text += (text.empty() ? "" : ", ") + name;
    if (data.membersNotReadCount > data.membersNotRead.size())
        text += " and " + grainforge::mesh::FormatCountGrouped(data.membersNotReadCount - data.membersNotRead.size()) +
            " more";
    return "The project holds members this version does not read: " + text +
        ". They are kept as they are and saved with the project.";
}

bool IsMadeTestShape(std::string_view name)
{
    return name == "cube" || name == "cylinder" || name == "sphere";
}

std::string FormatEntriesNotUsed(const ProjectData& data)
{
    std::string text;
    const auto say = [&text](const std::string& both, const std::string& opened, const std::string& entry,
                         const std::vector<std::string>& keys) {
        if (keys.empty())
            return;
        std::string named;
        for (const std::string& key : keys)
            named += (named.empty() ? "" : ", ") + MemberNameText(key);
        text += (text.empty() ? "" : " ") + std::string("The project names both ") + both + "; the " + opened +
            " was opened, and the " + entry + " entry is kept as it is and saved with the project: " + named + ".";
    };
    say("the test shape " + ValueText(JsonValue(data.testShape)) + " and a part file", "test shape", "part file's",
        data.partEntryNotUsed);
    say("the pattern " + ValueText(JsonValue(data.proceduralName)) + " and an image", "pattern", "image's",
        data.imageEntryNotUsed);
    return text;
}

std::string FormatNewerVersion(const ProjectData& data)
{
    if (data.newerVersion == 0)
        return {};
    return "The project was saved by a newer version of Tessary (project version " +
        std::to_string(data.newerVersion) + "). This version uses what it reads of it and keeps the rest as it is; "
        "saving writes it as a version " + std::to_string(kProjectVersion) + " project.";
}

std::string FormatRepeatedMembers(const ProjectData& data)
{
    if (data.membersRepeated.empty())
        return {};
    std::string text;
    for (const grainforge::mesh::JsonRepeatedMember& member : data.membersRepeated) {
        text += (text.empty() ? "" : "; ") + MemberNameText(member.key) + " " + member.dropped;
        if (member.times > 2)
            text += " and " + std::to_string(member.times - 2) + " more";
        text += (member.times > 2 ? " were" : " was") + std::string(" dropped for ") + member.kept;
    }
    if (data.membersRepeatedCount > data.membersRepeated.size())
        text += "; and " + grainforge::mesh::FormatCountGrouped(data.membersRepeatedCount - data.membersRepeated.size()) +
            " more";
    return "The project gives some members more than once, and only the last of each is used: " + text + ".";
}

std::string FormatMasksLeftOut(const ProjectData& data)
{
    using grainforge::mesh::FormatCountGrouped;
    if (data.masksLeftOut == 0)
        return {};
    const std::uint64_t unread = data.masksUnread;
    const bool pastLimit = data.masksLeftOut > unread;
    std::string text = "The project holds " + FormatCountGrouped(data.masks.size() + data.masksLeftOut) +
        " mask volumes" + (pastLimit ? ", more than a part takes; the first " : "; ") +
        FormatCountGrouped(data.masks.size()) + (data.masks.size() == 1 ? " was" : " were") + " opened and " +
        FormatCountGrouped(data.masksLeftOut) + " left out";
    if (unread > 0) {
        // A few of the keys by name, in the file's order; JSON text, so any key reads plainly.
        const std::size_t named = data.maskKeysUnread.size();
        text += ": ";
        for (std::size_t i = 0; i < named; ++i) {
            const bool last = i + 1 == named && named == unread;
            text += (i == 0 ? "" : last ? " and " : ", ") + ValueText(JsonValue(data.maskKeysUnread[i]));
        }
        if (unread > named)
            text += " and " + FormatCountGrouped(unread - named) + " more";
        text += " could not be read";
    }
    return text + ".";
}

std::int32_t ClampSurfaceTestCells(std::int32_t cells)
{
    if (cells <= 192)
        return 128;
    if (cells <= 384)
        return 256;
    return 512;
}

bool IsProjectPath(const fs::path& path)
{
    std::string extension = path.extension().string();
    for (char& c : extension)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return extension == ".gfproj";
}

bool NameHoldsNul(const fs::path& path)
{
    return path.native().find('\0') != fs::path::string_type::npos;
}

bool ProjectFileExists(const fs::path& path)
{
    if (path.empty() || !path.is_absolute() || NameHoldsNul(path))
        return false;
    std::error_code error;
    return fs::exists(path, error) && !error;
}

fs::path MakeProjectRelativePath(const fs::path& path, const fs::path& base)
{
    fs::path from = path;
    fs::path to = base;
    const std::string pathText = path.string();
    const std::string baseText = base.string();
    const std::size_t pathPrefix = ExtendedDrivePrefixLength(pathText);
    const std::size_t basePrefix = ExtendedDrivePrefixLength(baseText);
    if (pathPrefix != 0 && basePrefix != 0) {
        from = fs::path(pathText.substr(pathPrefix));
        to = fs::path(baseText.substr(basePrefix));
    }
    return from.lexically_relative(to);
}

void WritePathEntry(const JsonNode& node, std::string_view key, const fs::path& path, const fs::path& projectFolder)
{
    if (path.empty())
        return;
    WriteNameEntry(node, key, "path", path);
    const fs::path absolutePath = grainforge::mesh::ToAbsolutePath(path);
    const fs::path absoluteFolder = grainforge::mesh::ToAbsolutePath(projectFolder);
    if (!absolutePath.is_absolute() || !absoluteFolder.is_absolute())
        return;
    const fs::path relative = MakeProjectRelativePath(absolutePath, absoluteFolder);
    if (!relative.empty())
        WriteNameEntry(node, key, "relative", relative.generic_string());
}

fs::path ReadPathEntry(const JsonView& node, std::string_view key, const fs::path& projectFolder,
    fs::path* passedOver)
{
    const std::string absolute = ReadNameEntry(node, key, "path");
    const std::string relative = ReadNameEntry(node, key, "relative");
    // The name beside the project wins; the file saved with it, still there and another file,
    // is handed back so that the opening can say which one it took.
    const auto besideWins = [&](const fs::path& beside) {
        if (passedOver != nullptr && ProjectFileExists(absolute) && !IsSameFile(beside, absolute))
            *passedOver = absolute;
        return beside;
    };
    // The system reads a name only up to a NUL byte: looked up, such a name would find another
    // file, which would then be opened and written back as this one.
    if (!relative.empty() && !NameHoldsNul(relative)) {
        const fs::path joined = (projectFolder / fs::path(relative)).lexically_normal();
        if (Exists(joined))
            return besideWins(joined);
        // A project written on Windows may carry its own separators.
        if (relative.find('\\') != std::string::npos) {
            std::string generic = relative;
            std::replace(generic.begin(), generic.end(), '\\', '/');
            const fs::path converted = (projectFolder / fs::path(generic)).lexically_normal();
            if (Exists(converted))
                return besideWins(converted);
        }
    }
    if (absolute.empty() && !relative.empty())
        return (projectFolder / fs::path(relative)).lexically_normal();
    return fs::path(absolute);
}

bool WriteProject(const fs::path& projectPath, const ProjectData& data, std::string& error)
{
    int failure = 0;
    try {
        const fs::path folder = grainforge::mesh::ToAbsolutePath(projectPath).parent_path();
        const JsonNode root = grainforge::mesh::NewJsonDocument();
        WriteProjectDocument(root, folder, data);
        // Read back before it is put in place: a file that does not read back as the document
        // meant never replaces the old project.
        if (grainforge::mesh::SaveJsonFile(root, projectPath, {.readBack = true}, &failure))
            return true;
    } catch (...) {
        // Only allocation failure while building the document reaches here: nothing was written.
        failure = ENOMEM;
    }
    error = kWriteError;
    if (failure == grainforge::mesh::kJsonTooLargeToWrite)
        error += ": the project would be larger than " + LargestProjectText() + ", the most a project may hold";
    else if (failure != 0)
        error += ": " + platform::FileErrorCauseText(projectPath, failure, platform::FileUse::write);
    return false;
}

bool CanWriteProjectAt(const fs::path& projectPath, std::string& error)
{
    // The project goes through the JSON layer's save, which writes through a link.
    const int refused = platform::CheckReplaceTarget(projectPath, platform::ReplacementOptions{});
    if (refused == 0)
        return true;
    error = std::string(kWriteError) + ": " + platform::FileErrorCauseText(projectPath, refused, platform::FileUse::write);
    return false;
}

bool ReadProjectJson(const JsonView& root, const fs::path& projectFolder, ProjectData& data, std::string& error)
{
    try {
        if (!root.IsObject()) {
            error = kNotReadableError;
            return false;
        }
        std::string application;
        if (!root.FindMember("application").TakeString(application) || application != kProjectApplication) {
            error = kNotOursError;
            return false;
        }
        ProjectData read;
        const std::vector<MaskObject> maskObjects = ReadProjectDocument(root, projectFolder, read);
        // An entry the opening does not use names no file of the project: its members are kept.
        if (!IsPartEntryUsed(read)) {
            read.partPath.clear();
            read.partSavedElsewhere.clear();
        }
        if (!IsImageEntryUsed(read)) {
            read.textureImagePath.clear();
            read.textureSavedElsewhere.clear();
        }
        const JsonNode rewritten = RewrittenDocument(projectFolder, read);
        const TakenKeys taken = HoldProjectValues(root, *rewritten.root, maskObjects, read);
        NoteValuesNotTaken(root, *rewritten.root, maskObjects, taken, read);
        ReadVersion(root, read);
        KeepProjectMembersNotRead(root, *rewritten.root, maskObjects, read);
        if (read.partPath.empty() && read.testShape.empty()) {
            error = kNoPartError;
            return false;
        }
        data = std::move(read);
        return true;
    } catch (...) {
        // Only allocation failure reaches here (a huge mask list, long names). The text is
        // set once the half-read record is freed, not while memory is still short.
    }
    error = kProjectMemoryError;
    return false;
}

bool ReadProject(const fs::path& projectPath, ProjectData& data, std::string& error)
{
    try {
        const grainforge::mesh::JsonLoadResult load = grainforge::mesh::LoadJsonFileWithStatus(projectPath);
        if (load.status != grainforge::mesh::JsonLoadStatus::Ok &&
            load.status != grainforge::mesh::JsonLoadStatus::NotJson) {
            error = LoadFailureText(projectPath, load);
            return false;
        }
        if (!ReadProjectJson(load.view, grainforge::mesh::ToAbsolutePath(projectPath).parent_path(), data, error))
            return false;
        // The file's own repeated members come first, then the words of a seamless method's
        // parameters given more than once, which the reading noted.
        std::vector<grainforge::mesh::JsonRepeatedMember> words = std::move(data.membersRepeated);
        data.membersRepeated = load.repeated;
        for (grainforge::mesh::JsonRepeatedMember& word : words)
            if (data.membersRepeated.size() < grainforge::mesh::kRepeatedMembersRecorded)
                data.membersRepeated.push_back(std::move(word));
        data.membersRepeatedCount += load.repeatedCount;
        return true;
    } catch (...) {
        // Out of memory for a path or a text; the document is freed by now.
    }
    error = kProjectMemoryError;
    return false;
}

BesidePartChoice PartBesideProject(const fs::path& projectPath, const fs::path& partSourcePath)
{
    BesidePartChoice choice;
    if (Exists(projectPath)) {
        ProjectData replaced;
        std::string error;
        if (ReadProject(projectPath, replaced, error))
            choice.replacedPart = replaced.partPath;
    }
    const fs::path absoluteProject = grainforge::mesh::ToAbsolutePath(projectPath);
    const fs::path folder = absoluteProject.parent_path();
    const std::string stem = absoluteProject.stem().string();
    for (int number = 1; number <= kMaximumBesidePartNumber; ++number) {
        const fs::path candidate = BesideCandidate(folder, stem, number);
        if (IsSameFile(candidate, choice.replacedPart) || IsSameFile(candidate, partSourcePath))
            continue;
        // An existing file of another name is someone's work: never overwritten unasked.
        if (Exists(candidate))
            continue;
        choice.chosen = candidate;
        break;
    }
    return choice;
}

bool WritePartBesideProject(const fs::path& path, const grainforge::mesh::TriangleMesh& part, std::string& error,
    bool* taken)
{
    if (taken != nullptr)
        *taken = false;
    try {
        grainforge::mesh::StlWriteOptions options;
        options.format = 0;
        options.headerText = "Tessary";
        options.readBack = true;
        options.newFileOnly = true;
        const grainforge::mesh::ExportResult result = grainforge::mesh::WriteStlFile(path, part, options);
        if (result.ok)
            return true;
        error = result.error;
        if (taken != nullptr)
            *taken = result.nameTaken;
    } catch (const std::bad_alloc&) {
        error = "There was not enough memory to write the part.";
    } catch (...) {
        error = "The part could not be written.";
    }
    return false;
}

fs::path WritePartUnderFreeBesideName(const fs::path& projectPath, const fs::path& partSourcePath,
    const grainforge::mesh::TriangleMesh& part, std::string& error, fs::path* tried)
{
    return detail::WriteUnderFreeName(
        [&] { return PartBesideProject(projectPath, partSourcePath).chosen; }, part, error, tried);
}

namespace detail {

fs::path WriteUnderFreeName(const std::function<fs::path()>& choose, const grainforge::mesh::TriangleMesh& part,
    std::string& error, fs::path* tried)
{
    if (tried != nullptr)
        tried->clear();
    // A taken name exists, so the next choice passes it; the bound only ends a folder whose
    // names keep coming and going.
    for (int attempt = 0; attempt < kMaximumBesidePartNumber; ++attempt) {
        const fs::path chosen = choose();
        if (chosen.empty())
            break;
        if (tried != nullptr)
            *tried = chosen;
        bool taken = false;
        if (WritePartBesideProject(chosen, part, error, &taken))
            return chosen;
        if (!taken)
            return {};
    }
    error = kNoFreeBesideNameError;
    if (tried != nullptr)
        tried->clear();
    return {};
}

}  // namespace detail

}  // namespace grainforge::app
