#include "engine/files/json_settings.h"

#include "engine/mesh/report_text.h"
#include "platform/file_system.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <limits>
#include <new>
#include <system_error>
#include <vector>

namespace grainforge::mesh {

namespace {

namespace fs = std::filesystem;

constexpr unsigned char kByteOrderMark[3] = {0xEF, 0xBB, 0xBF};
constexpr int kIndent = 2;

// Doubles below this magnitude round to a finite float; from here on they round to infinity
// (halfway above the largest float, whose last mantissa bit is odd, rounds up).
constexpr double kFloatRoundingLimit = 0x1.ffffffp+127;

JsonValue* ResolvePointer(JsonValue& root, const std::string& path)
{
    try {
        return &root.at(JsonValue::json_pointer(path));
    } catch (const nlohmann::json::exception&) {
        return nullptr;
    }
}

// Splits at every "."; there is no escaping, so "a..b" has an empty middle part.
std::vector<std::string> SplitDottedKey(std::string_view key)
{
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (;;) {
        const std::size_t dot = key.find('.', start);
        if (dot == std::string_view::npos) {
            parts.emplace_back(key.substr(start));
            return parts;
        }
        parts.emplace_back(key.substr(start, dot - start));
        start = dot + 1;
    }
}

// A document holding a NaN or an infinity cannot be written faithfully: the serialiser would
// write null, which no reader takes back as a number. Walked with an explicit stack, since a
// loaded document may nest deeply.
bool HasNonFiniteNumber(const JsonValue& document)
{
    std::vector<const JsonValue*> pending{&document};
    while (!pending.empty()) {
        const JsonValue* value = pending.back();
        pending.pop_back();
        if (value->is_number_float()) {
            if (!std::isfinite(value->get<double>()))
                return true;
        } else if (value->is_structured()) {
            for (const JsonValue& child : *value)
                pending.push_back(&child);
        }
    }
    return false;
}

// The file's bytes (mark and pretty-printed text), or 0 replaced by the reason a document
// cannot be written: a string that is not valid UTF-8 makes the strict serialiser throw
// (EILSEQ), a non-finite number is refused beforehand (EDOM). Every reader refuses a file past
// kMaxJsonFileBytes, so a document whose indented text would pass it is written without the
// indent, and one that passes it even so is refused (kJsonTooLargeToWrite): nothing is written that its
// reader would not take back.
int SerializeDocument(const JsonValue& document, std::string& bytes)
{
    if (HasNonFiniteNumber(document))
        return EDOM;
    try {
        bytes.assign(reinterpret_cast<const char*>(kByteOrderMark), sizeof kByteOrderMark);
        bytes += document.dump(kIndent, ' ', false, nlohmann::json::error_handler_t::strict);
        if (bytes.size() > kMaxJsonFileBytes) {
            bytes.resize(sizeof kByteOrderMark);
            bytes += document.dump(-1, ' ', false, nlohmann::json::error_handler_t::strict);
        }
    } catch (const nlohmann::json::exception&) {
        return EILSEQ;
    }
    return bytes.size() > kMaxJsonFileBytes ? kJsonTooLargeToWrite : 0;
}

// Creates `path` afresh (a file already there, such as the temporary file of an interrupted
// save, is removed first) and writes the document, flushed to disk. A file this function
// created is removed again when any step fails.
bool WriteDocumentFile(const JsonValue& document, const fs::path& path)
{
    std::string bytes;
    if (SerializeDocument(document, bytes) != 0)
        return false;
    platform::RemoveFileQuietly(path);
    int error = 0;
    platform::ExclusiveFile file = platform::ExclusiveFile::Create(path, fs::path(), &error);
    if (!file.IsOpen())
        return false;
    const bool written = file.WriteAll(bytes.data(), bytes.size(), &error) && file.SyncAndClose(&error);
    if (!written)
        platform::RemoveFileQuietly(path);
    return written;
}

// Writes the document into a new temporary file beside `target`, optionally reads it back,
// and renames it over the target. Returns 0 or the reason it failed; the temporary file is
// gone either way.
int ReplaceWithDocument(const JsonValue& document, const fs::path& target, const JsonSaveOptions& options)
{
    std::string bytes;
    if (const int refused = SerializeDocument(document, bytes); refused != 0)
        return refused;
    int error = 0;
    platform::ReplacementOptions replacement;
    replacement.links = options.links;
    platform::FileReplacement file = platform::FileReplacement::Begin(target, replacement, &error);
    if (!file.IsOpen())
        return error != 0 ? error : EIO;
    if (!file.Write(bytes.data(), bytes.size(), &error) || !file.Finish(&error))
        return error != 0 ? error : EIO;
    if (options.readBack) {
        const std::shared_ptr<JsonValue> back = ReadJsonFile(file.TemporaryPath());
        if (!back || *back != document)
            return EIO;
    }
    return file.Commit(&error) ? 0 : (error != 0 ? error : EIO);
}

// ---- Taking documents apart and building them -------------------------------------------
//
// The library frees a document through a stack it allocates (one entry per child), and its
// destructor may not throw: a document freed while memory is short, such as one half-built
// when the memory ran out, ends the program. Documents the readers build are freed here
// instead, and built so that nothing half-made is ever left to the library's destructor.

using JsonArray = JsonValue::array_t;
using JsonObject = JsonValue::object_t;
// The object's members as the vector it is: members can be dropped from the back.
using JsonMembers = std::vector<std::pair<const std::string, JsonValue>>;

// The last child of an array or object; null for any other value and for an empty one.
JsonValue* LastChild(JsonValue& value) noexcept
{
    if (value.is_array()) {
        JsonArray& array = *value.get_ptr<JsonArray*>();
        return array.empty() ? nullptr : &array.back();
    }
    if (value.is_object()) {
        JsonMembers& members = *value.get_ptr<JsonObject*>();
        return members.empty() ? nullptr : &members.back().second;
    }
    return nullptr;
}

// Drops the last child, which must hold no children itself: freeing it then allocates nothing.
void DropLastChild(JsonValue& value) noexcept
{
    if (value.is_array())
        value.get_ptr<JsonArray*>()->pop_back();
    else if (value.is_object())
        static_cast<JsonMembers&>(*value.get_ptr<JsonObject*>()).pop_back();
}

bool HasChildren(const JsonValue& value) noexcept { return value.is_structured() && !value.empty(); }

// Frees everything under `document`, which is left null, without allocating and without
// recursion, whatever the nesting: going down, each container's last slot is lent to hold
// the way back up (the containers above it), and on the way back the slot is dropped.
void DismantleJson(JsonValue& document) noexcept
{
    JsonValue current(std::move(document));
    JsonValue above;  // null at the top
    for (;;) {
        if (JsonValue* last = LastChild(current)) {
            if (HasChildren(*last)) {
                JsonValue child(std::move(*last));
                *last = std::move(above);
                above = std::move(current);
                current = std::move(child);
            } else {
                DropLastChild(current);
            }
            continue;
        }
        if (above.is_null())
            return;
        current = std::move(above);  // frees the emptied child
        above = std::move(*LastChild(current));
        DropLastChild(current);
    }
}

struct DismantlingDelete {
    void operator()(JsonValue* document) const noexcept
    {
        if (document != nullptr)
            DismantleJson(*document);
        delete document;
    }
};

// Builds a document from the parser's events. A container being filled stays in its frame
// until it is placed in its parent, and objects gather their members in a vector of their own
// (whose elements move without throwing) rather than in the library's object, which copies
// every member whole each time it grows. Whatever is left in the frames when parsing stops
// (an error, or memory running out) is taken apart by the destructor.
class DocumentBuilder {
public:
    explicit DocumentBuilder(JsonValue& document) : document_(document) {}
    DocumentBuilder(const DocumentBuilder&) = delete;
    DocumentBuilder& operator=(const DocumentBuilder&) = delete;
    ~DocumentBuilder()
    {
        for (Frame& frame : frames_) {
            DismantleJson(frame.value);
            for (Member& member : frame.members)
                DismantleJson(member.second);
        }
    }

    bool null() { return PutScalar(JsonValue(nullptr)); }
    bool boolean(bool value) { return PutScalar(JsonValue(value)); }
    bool number_integer(JsonValue::number_integer_t value) { return PutScalar(JsonValue(value)); }
    bool number_unsigned(JsonValue::number_unsigned_t value) { return PutScalar(JsonValue(value)); }
    bool number_float(JsonValue::number_float_t value, const std::string&) { return PutScalar(JsonValue(value)); }
    bool string(std::string& value) { return PutScalar(JsonValue(std::move(value))); }
    bool binary(JsonValue::binary_t&) { return false; }  // JSON text has none

    bool start_object(std::size_t) { return Open(false); }
    bool start_array(std::size_t) { return Open(true); }
    // Whether parsing stopped at an array or object nested deeper than kMaxJsonDepth.
    bool TooDeep() const { return tooDeep_; }
    // The members given more than once, as recorded, and how many there were.
    std::vector<JsonRepeatedMember>& Repeated() { return repeated_; }
    std::size_t RepeatedCount() const { return repeatedCount_; }
    bool key(std::string& key)
    {
        frames_.back().key = std::move(key);
        return true;
    }
    bool end_array() { return Close(); }
    bool end_object()
    {
        Frame& frame = frames_.back();
        KeepLastOfRepeatedKeys(frame.members);
        frame.value = JsonValue::object();
        JsonMembers& members = *frame.value.get_ptr<JsonObject*>();
        members.reserve(static_cast<std::size_t>(
            std::count_if(frame.members.begin(), frame.members.end(), [](const Member& m) { return !IsDropped(m); })));
        // Reserved: no step below allocates or throws.
        for (Member& member : frame.members)
            if (!IsDropped(member))
                members.emplace_back(std::move(member.first), std::move(member.second));
        frame.members.clear();
        return Close();
    }
    bool parse_error(std::size_t, const std::string&, const nlohmann::json::exception&) { return false; }

private:
    using Member = std::pair<std::string, JsonValue>;
    struct Frame {
        JsonValue value;               // the array being filled; the object once it is closed
        std::vector<Member> members;   // an object's members so far
        std::string key;               // the member whose value comes next
        std::string step;              // how the parent reaches it: its key, or "[index]"
    };

    // The key of the open object's member `key`, from the root.
    std::string PathOf(const std::string& key) const
    {
        std::string path;
        for (std::size_t i = 1; i < frames_.size(); ++i)
            path += (path.empty() || frames_[i].step.starts_with('[') ? "" : ".") + frames_[i].step;
        return path + (path.empty() ? "" : ".") + key;
    }


    // A repeated key's earlier entry, left out of the object.
    static bool IsDropped(const Member& member) { return member.second.is_discarded(); }

    bool Open(bool array)
    {
        if (frames_.size() >= kMaxJsonDepth) {
            tooDeep_ = true;
            return false;
        }
        std::string step;
        if (!frames_.empty()) {
            const Frame& parent = frames_.back();
            step = parent.value.is_array() ? "[" + std::to_string(parent.value.size()) + "]" : parent.key;
        }
        frames_.emplace_back();
        frames_.back().step = std::move(step);
        if (array)
            frames_.back().value = JsonValue::array();
        return true;
    }

    bool PutScalar(JsonValue&& value)
    {
        JsonValue scalar(std::move(value));
        Place(scalar);
        return true;
    }

    // Moves `value` into the open container, or makes it the document. A failed allocation
    // leaves `value` where it was, for its owner to take apart.
    void Place(JsonValue& value)
    {
        if (frames_.empty()) {
            document_ = std::move(value);
            return;
        }
        Frame& parent = frames_.back();
        if (parent.value.is_array())
            parent.value.get_ptr<JsonArray*>()->push_back(std::move(value));
        else
            parent.members.emplace_back(std::move(parent.key), std::move(value));
    }

    bool Close()
    {
        Frame& frame = frames_.back();
        if (frames_.size() == 1) {
            document_ = std::move(frame.value);
        } else {
            Frame& parent = frames_[frames_.size() - 2];
            if (parent.value.is_array())
                parent.value.get_ptr<JsonArray*>()->push_back(std::move(frame.value));
            else
                parent.members.emplace_back(std::move(parent.key), std::move(frame.value));
        }
        frames_.pop_back();
        return true;
    }

    // A key given more than once keeps its first place and takes its last value, as the
    // library's own parser does; the later entries are marked for leaving out (a discarded
    // value, which the parser never gives), and the key is recorded. Sorted, so an object of
    // many members costs no more than a sort.
    void KeepLastOfRepeatedKeys(std::vector<Member>& members)
    {
        if (members.size() < 2)
            return;
        std::vector<std::size_t> order(members.size());
        for (std::size_t i = 0; i < order.size(); ++i)
            order[i] = i;
        std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
            const int compared = members[a].first.compare(members[b].first);
            return compared != 0 ? compared < 0 : a < b;
        });
        // The runs of one key in `order`, as (first place in the file, start, end).
        struct Run {
            std::size_t first, start, end;
        };
        std::vector<Run> runs;
        for (std::size_t start = 0; start < order.size();) {
            std::size_t end = start + 1;
            while (end < order.size() && members[order[end]].first == members[order[start]].first)
                ++end;
            if (end - start > 1)
                runs.push_back({order[start], start, end});
            start = end;
        }
        // Recorded in the order the keys first come in the file.
        std::sort(runs.begin(), runs.end(), [](const Run& a, const Run& b) { return a.first < b.first; });
        for (const Run& run : runs) {
            if (++repeatedCount_ > kRepeatedMembersRecorded)
                continue;
            repeated_.push_back({PathOf(members[run.first].first), ShortJsonText(members[run.first].second),
                ShortJsonText(members[order[run.end - 1]].second), run.end - run.start});
        }
        for (const Run& run : runs) {
            JsonValue& kept = members[order[run.start]].second;
            DismantleJson(kept);
            kept = std::move(members[order[run.end - 1]].second);
            for (std::size_t i = run.start + 1; i < run.end; ++i) {
                Member& dropped = members[order[i]];
                DismantleJson(dropped.second);
                dropped.second = JsonValue(JsonValue::value_t::discarded);
            }
        }
    }

    JsonValue& document_;
    std::vector<Frame> frames_;
    bool tooDeep_ = false;
    std::vector<JsonRepeatedMember> repeated_;
    std::size_t repeatedCount_ = 0;
};

// Parses `[begin, end)` (a byte-order mark already skipped) into a new document, which is
// freed without allocating whenever it goes.
JsonLoadStatus ParseDocument(const std::uint8_t* begin, const std::uint8_t* end,
                             std::shared_ptr<JsonValue>& parsed, JsonLoadResult& result) noexcept
{
    try {
        std::shared_ptr<JsonValue> document(new JsonValue(), DismantlingDelete{});
        bool complete = false;
        bool tooDeep = false;
        {
            DocumentBuilder builder(*document);
            complete = JsonValue::sax_parse(begin, end, &builder, nlohmann::json::input_format_t::json,
                                            /*strict=*/true, /*ignore_comments=*/false);
            tooDeep = builder.TooDeep();
            result.repeated = std::move(builder.Repeated());
            result.repeatedCount = builder.RepeatedCount();
        }
        if (tooDeep)
            return JsonLoadStatus::TooDeep;
        if (!complete)
            return JsonLoadStatus::NotJson;
        parsed = std::move(document);
        return JsonLoadStatus::Ok;
    } catch (const std::bad_alloc&) {
        return JsonLoadStatus::OutOfMemory;
    } catch (...) {
        return JsonLoadStatus::NotJson;
    }
}

// The document of the file's bytes, with the load's status.
JsonLoadResult ParseBytes(const std::uint8_t* data, std::size_t size, std::shared_ptr<JsonValue>& parsed) noexcept
{
    JsonLoadResult result;
    const std::uint8_t* begin = data;
    if (size >= 3 && std::equal(kByteOrderMark, kByteOrderMark + 3, data))
        begin += 3;
    result.size = size;
    result.status = ParseDocument(begin, data + size, parsed, result);
    if (result.status != JsonLoadStatus::Ok) {
        result.repeated.clear();
        result.repeatedCount = 0;
    }
    result.error = result.status == JsonLoadStatus::OutOfMemory ? ENOMEM : 0;
    return result;
}

JsonLoadResult ReadDocument(const fs::path& path, std::shared_ptr<JsonValue>& parsed) noexcept
{
    JsonLoadResult result;
    try {
        // Sized and refused before any byte is read, so a huge file costs no memory; a pipe or
        // device is refused without waiting on it.
        const platform::ReadResult read = platform::ReadWholeFile(ToAbsolutePath(path), kMaxJsonFileBytes);
        result.size = read.size;
        result.error = read.error;
        switch (read.status) {
        case platform::ReadStatus::Ok:
            break;
        case platform::ReadStatus::ShortRead:
            // A file that shrank meanwhile keeps the bytes that came; a read error gives nothing.
            if (read.error != 0) {
                result.status = JsonLoadStatus::ReadFailed;
                return result;
            }
            break;
        case platform::ReadStatus::NotRegularFile:
            result.status = JsonLoadStatus::NotRegularFile;
            return result;
        case platform::ReadStatus::TooLarge:
            result.status = JsonLoadStatus::TooLarge;
            return result;
        case platform::ReadStatus::OpenFailed:
            result.status = JsonLoadStatus::OpenFailed;
            return result;
        }
        const std::uint64_t size = result.size;
        result = ParseBytes(read.bytes.data(), read.bytes.size(), parsed);
        result.size = size;
        return result;
    } catch (...) {
        // Only memory for the path or the file's bytes can run out here.
        result.status = JsonLoadStatus::OutOfMemory;
        result.error = ENOMEM;
        return result;
    }
}

JsonLoadResult WithView(JsonLoadResult result, std::shared_ptr<JsonValue> document) noexcept
{
    if (result.status == JsonLoadStatus::Ok) {
        const JsonValue* value = document.get();
        result.view = JsonView{std::move(document), value};
    }
    return result;
}

}  // namespace

std::string ShortJsonText(const JsonValue& value)
{
    constexpr std::size_t kLongestText = 40;
    constexpr std::size_t kLargestShown = 8;
    if (value.is_array() && value.size() > kLargestShown)
        return "an array of " + FormatCountGrouped(value.size()) + " values";
    if (value.is_object() && value.size() > kLargestShown)
        return "an object of " + FormatCountGrouped(value.size()) + " members";
    std::string text = value.dump(-1, ' ', false, JsonValue::error_handler_t::replace);
    if (text.size() <= kLongestText)
        return text;
    std::size_t end = kLongestText;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
        --end;
    text.resize(end);
    return text + "\u2026";
}

// ---- JsonNode ----------------------------------------------------------------------------

JsonValue* JsonNode::Resolve() const
{
    if (!root)
        return nullptr;
    return ResolvePointer(*root, path);
}

JsonNode JsonNode::WithKey(std::string_view key) const
{
    return JsonNode{root, path + "/" + EscapeJsonPointerToken(key)};
}

JsonNode JsonNode::WithIndex(std::size_t index) const
{
    return JsonNode{root, path + "/" + std::to_string(index)};
}

JsonNode JsonNode::ObjectChild(std::string_view key) const
{
    JsonValue* value = Resolve();
    if (value == nullptr || !value->is_object())
        return {};
    JsonValue& member = (*value)[std::string(key)];
    if (!member.is_object())
        member = JsonValue::object();
    return WithKey(key);
}

JsonNode JsonNode::ArrayChild(std::string_view key) const
{
    JsonValue* value = Resolve();
    if (value == nullptr || !value->is_object())
        return {};
    JsonValue& member = (*value)[std::string(key)];
    if (!member.is_array())
        member = JsonValue::array();
    return WithKey(key);
}

JsonNode JsonNode::AppendObject() const
{
    JsonValue* value = Resolve();
    if (value == nullptr || !value->is_array())
        return {};
    value->push_back(JsonValue::object());
    return WithIndex(value->size() - 1);
}

void JsonNode::PutInt(std::string_view key, std::int32_t number) const
{
    if (JsonValue* value = Resolve(); value != nullptr && value->is_object())
        (*value)[std::string(key)] = number;
}

void JsonNode::PutFloat(std::string_view key, float number) const
{
    if (JsonValue* value = Resolve(); value != nullptr && value->is_object())
        (*value)[std::string(key)] = ShortestFloatAsDouble(number);
}

void JsonNode::PutBool(std::string_view key, bool flag) const
{
    if (JsonValue* value = Resolve(); value != nullptr && value->is_object())
        (*value)[std::string(key)] = flag;
}

void JsonNode::PutString(std::string_view key, std::string_view utf8) const
{
    if (JsonValue* value = Resolve(); value != nullptr && value->is_object())
        (*value)[std::string(key)] = std::string(utf8);
}

void JsonNode::PushFloat(float number) const
{
    if (JsonValue* value = Resolve(); value != nullptr && value->is_array())
        value->push_back(ShortestFloatAsDouble(number));
}

// ---- JsonView ----------------------------------------------------------------------------

bool JsonView::IsObject() const { return value != nullptr && value->is_object(); }

bool JsonView::IsArray() const { return value != nullptr && value->is_array(); }

JsonView JsonView::FindMember(std::string_view key) const
{
    if (!IsObject())
        return {};
    const auto found = value->find(std::string(key));
    if (found == value->end())
        return {};
    return JsonView{root, &*found};
}

JsonView JsonView::Section(std::string_view key) const
{
    JsonView member = FindMember(key);
    return member.IsObject() ? member : JsonView{};
}

bool JsonView::TakeFloat(float& out) const
{
    if (value == nullptr || !value->is_number())
        return false;
    const double number = value->get<double>();
    if (!(std::fabs(number) < kFloatRoundingLimit))
        return false;
    out = static_cast<float>(number);
    return true;
}

bool JsonView::TakeInt32(std::int32_t& out) const
{
    std::int64_t number = 0;
    if (!TakeInt64(number) || number < std::numeric_limits<std::int32_t>::min() ||
        number > std::numeric_limits<std::int32_t>::max())
        return false;
    out = static_cast<std::int32_t>(number);
    return true;
}

bool JsonView::TakeInt64(std::int64_t& out) const
{
    if (value == nullptr || !value->is_number_integer())
        return false;
    if (value->is_number_unsigned()) {
        const std::uint64_t number = value->get<std::uint64_t>();
        if (number > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
            return false;
        out = static_cast<std::int64_t>(number);
        return true;
    }
    out = value->get<std::int64_t>();
    return true;
}

bool JsonView::TakeBool(bool& out) const
{
    if (value == nullptr || !value->is_boolean())
        return false;
    out = value->get<bool>();
    return true;
}

bool JsonView::TakeString(std::string& out) const
{
    if (value == nullptr || !value->is_string())
        return false;
    out = value->get_ref<const std::string&>();
    return true;
}

// ---- Files -------------------------------------------------------------------------------

fs::path ToAbsolutePath(const fs::path& path)
{
    std::error_code error;
    fs::path absolute = fs::absolute(path, error);
    return error ? path : absolute;
}

JsonLoadResult LoadJsonFileWithStatus(const fs::path& path)
{
    std::shared_ptr<JsonValue> document;
    JsonLoadResult result = ReadDocument(path, document);
    return WithView(std::move(result), std::move(document));
}

JsonLoadResult ParseJsonBytes(const std::uint8_t* data, std::size_t size)
{
    std::shared_ptr<JsonValue> document;
    JsonLoadResult result = ParseBytes(data, size, document);
    return WithView(std::move(result), std::move(document));
}

std::shared_ptr<JsonValue> ReadJsonFile(const fs::path& path)
{
    std::shared_ptr<JsonValue> document;
    ReadDocument(path, document);
    return document;
}

JsonView LoadJsonFile(const fs::path& path) { return LoadJsonFileWithStatus(path).view; }

JsonNode NewJsonDocument()
{
    return JsonNode{std::make_shared<JsonValue>(JsonValue::object()), std::string()};
}

bool WriteJsonFile(const JsonNode& node, const fs::path& path)
{
    if (!node.root)
        return false;
    try {
        return WriteDocumentFile(*node.root, ToAbsolutePath(path));
    } catch (...) {
        return false;
    }
}

bool SaveJsonFile(const JsonNode& node, const fs::path& path)
{
    return SaveJsonFile(node, path, JsonSaveOptions{}, nullptr);
}

bool SaveJsonFile(const JsonNode& node, const fs::path& path, const JsonSaveOptions& options, int* error)
{
    int failure = EINVAL;
    try {
        if (node.root)
            failure = ReplaceWithDocument(*node.root, ToAbsolutePath(path), options);
    } catch (const std::bad_alloc&) {
        failure = ENOMEM;
    } catch (...) {
        failure = EIO;
    }
    if (failure != 0 && error)
        *error = failure;
    return failure == 0;
}

// ---- Keys and numbers --------------------------------------------------------------------

std::string EscapeJsonPointerToken(std::string_view key)
{
    std::string escaped;
    escaped.reserve(key.size());
    for (const char c : key) {
        if (c == '~')
            escaped += "~0";
        else if (c == '/')
            escaped += "~1";
        else
            escaped += c;
    }
    return escaped;
}

double ShortestFloatAsDouble(float value)
{
    if (!std::isfinite(value))
        return static_cast<double>(value);
    char text[64];
    const std::to_chars_result written = std::to_chars(text, text + sizeof text, value);
    double parsed = 0.0;
    if (written.ec != std::errc() ||
        std::from_chars(text, written.ptr, parsed).ec != std::errc())
        return static_cast<double>(value);
    return parsed;
}

// ---- Dotted keys -------------------------------------------------------------------------

JsonWriteTarget ResolveJsonPathForWrite(const JsonNode& node, std::string_view dottedKey)
{
    std::vector<std::string> parts = SplitDottedKey(dottedKey);
    JsonNode current = node;
    for (std::size_t i = 0; i + 1 < parts.size(); ++i)
        current = current.ObjectChild(parts[i]);
    return JsonWriteTarget{std::move(current), std::move(parts.back())};
}

void SetJsonPathString(const JsonNode& node, std::string_view dottedKey, std::string_view utf8)
{
    const JsonWriteTarget target = ResolveJsonPathForWrite(node, dottedKey);
    target.node.PutString(target.member, utf8);
}

void SetJsonPathInteger(const JsonNode& node, std::string_view dottedKey, std::int64_t number)
{
    const JsonWriteTarget target = ResolveJsonPathForWrite(node, dottedKey);
    if (JsonValue* value = target.node.Resolve(); value != nullptr && value->is_object())
        (*value)[target.member] = number;
}

void SetJsonPathFloat(const JsonNode& node, std::string_view dottedKey, float number)
{
    const JsonWriteTarget target = ResolveJsonPathForWrite(node, dottedKey);
    target.node.PutFloat(target.member, number);
}

void SetJsonPathBool(const JsonNode& node, std::string_view dottedKey, bool flag)
{
    const JsonWriteTarget target = ResolveJsonPathForWrite(node, dottedKey);
    target.node.PutBool(target.member, flag);
}

void SetJsonPathVec2(const JsonNode& node, std::string_view dottedKey, float x, float y)
{
    const JsonWriteTarget target = ResolveJsonPathForWrite(node, dottedKey);
    const JsonNode array = target.node.ArrayChild(target.member);
    array.PushFloat(x);
    array.PushFloat(y);
}

void SetJsonPathVec3(const JsonNode& node, std::string_view dottedKey, float x, float y, float z)
{
    const JsonWriteTarget target = ResolveJsonPathForWrite(node, dottedKey);
    const JsonNode array = target.node.ArrayChild(target.member);
    array.PushFloat(x);
    array.PushFloat(y);
    array.PushFloat(z);
}

JsonReadTarget ResolveJsonPathForRead(const JsonView& view, std::string_view dottedKey)
{
    std::vector<std::string> parts = SplitDottedKey(dottedKey);
    JsonView current = view;
    for (std::size_t i = 0; i + 1 < parts.size(); ++i)
        current = current.Section(parts[i]);
    return JsonReadTarget{std::move(current), std::move(parts.back())};
}

namespace {

JsonView FindAtPath(const JsonView& view, std::string_view dottedKey)
{
    const JsonReadTarget target = ResolveJsonPathForRead(view, dottedKey);
    return target.view.FindMember(target.member);
}

// Takes all `count` components or none.
bool TakeFloatArray(const JsonView& member, float* out, std::size_t count)
{
    if (!member.IsArray() || member.value->size() != count)
        return false;
    float taken[3] = {};
    for (std::size_t i = 0; i < count; ++i) {
        if (!JsonView{member.root, &(*member.value)[i]}.TakeFloat(taken[i]))
            return false;
    }
    std::copy(taken, taken + count, out);
    return true;
}

}  // namespace

bool GetJsonPathBool(const JsonView& view, std::string_view dottedKey, bool& value)
{
    return FindAtPath(view, dottedKey).TakeBool(value);
}

bool GetJsonPathString(const JsonView& view, std::string_view dottedKey, std::string& value)
{
    return FindAtPath(view, dottedKey).TakeString(value);
}

bool GetJsonPathFloat(const JsonView& view, std::string_view dottedKey, float& value)
{
    return FindAtPath(view, dottedKey).TakeFloat(value);
}

bool GetJsonPathInt32(const JsonView& view, std::string_view dottedKey, std::int32_t& value)
{
    return FindAtPath(view, dottedKey).TakeInt32(value);
}

bool GetJsonPathVec2(const JsonView& view, std::string_view dottedKey, float& x, float& y)
{
    float taken[2];
    if (!TakeFloatArray(FindAtPath(view, dottedKey), taken, 2))
        return false;
    x = taken[0];
    y = taken[1];
    return true;
}

bool GetJsonPathVec3(const JsonView& view, std::string_view dottedKey, float& x, float& y, float& z)
{
    float taken[3];
    if (!TakeFloatArray(FindAtPath(view, dottedKey), taken, 3))
        return false;
    x = taken[0];
    y = taken[1];
    z = taken[2];
    return true;
}

}  // namespace grainforge::mesh
