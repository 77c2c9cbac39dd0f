// The JSON settings layer that every JSON file of Tessary goes through: the project file, the
// preset files, the library lists and the settings sections the engine's records write.
//
// One convention for all of them: files are UTF-8 with a byte-order mark, pretty-printed with
// an indent of 2 and replaced durably (temporary file beside the target, flushed, renamed over
// it); a float is stored as the shortest decimal text that reads back as the same float; a
// dotted key such as "cage.center" stands for nested objects; and a reader takes a value only
// when the key is present with the expected JSON type, otherwise the field it reads into keeps
// its value, so a missing or damaged entry keeps the record's default.
//
// Writers build a new document through JsonNode (a shared document plus a JSON pointer,
// resolved on every use). Readers walk a loaded document through JsonView (the shared document
// plus a direct pointer to one value). Nothing here throws except on allocation failure while
// a document is being built; the readers never throw.
#pragma once

#include "platform/file_system.h"

#include <nlohmann/json_fwd.hpp>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace grainforge::mesh {

// The document value type: object members keep the order in which they were written.
using JsonValue = nlohmann::ordered_json;

// Write handle on a document. Copies share the document, which lives as long as any handle.
// Every operation resolves `path` afresh, so a handle stays valid while the document grows.
// Each operation does nothing (or gives an empty node) when the handle does not resolve to a
// value of the kind it needs.
struct JsonNode {
    std::shared_ptr<JsonValue> root;  // the whole document; empty for a node that names nothing
    std::string path;                 // JSON pointer text ("/cage/center"); empty is the root

    // The value at `path`, creating nothing; null when the root is empty or nothing is there.
    JsonValue* Resolve() const;

    // Same root, path extended by the escaped key or by the decimal index. Resolves nothing.
    JsonNode WithKey(std::string_view key) const;
    JsonNode WithIndex(std::size_t index) const;

    // When this node is an object: the member `key` as an object (created when missing,
    // replaced by an empty object when it holds another type). Empty node otherwise.
    JsonNode ObjectChild(std::string_view key) const;
    // Same with an array; an existing array keeps its elements.
    JsonNode ArrayChild(std::string_view key) const;
    // When this node is an array: appends an empty object and gives its node.
    JsonNode AppendObject() const;

    // Set member `key` of this object node, replacing whatever it held.
    void PutInt(std::string_view key, std::int32_t value) const;
    void PutFloat(std::string_view key, float value) const;  // stored as ShortestFloatAsDouble
    void PutBool(std::string_view key, bool value) const;
    void PutString(std::string_view key, std::string_view utf8) const;
    // Appends ShortestFloatAsDouble(value) when this node is an array.
    void PushFloat(float value) const;
};

// Read handle on a loaded document. An empty view (no document, no value) is what a failed
// load, a missing section or a missing member gives; every read through it finds nothing.
struct JsonView {
    std::shared_ptr<const JsonValue> root;  // keeps the document alive
    const JsonValue* value = nullptr;       // the value looked at, inside `root`

    bool IsEmpty() const { return value == nullptr; }
    bool IsObject() const;
    bool IsArray() const;

    // The member `key` of this object, of any type; an empty view when this is not an object
    // or has no such member.
    JsonView FindMember(std::string_view key) const;
    // The member `key` when it is an object (a settings section); an empty view otherwise.
    JsonView Section(std::string_view key) const;

    // Typed takes: each gives true and writes its output only when this value has the
    // expected type, and leaves the output untouched otherwise.
    // A JSON number of any kind whose value a float can hold (so 1e39 is refused like a
    // value of the wrong type).
    bool TakeFloat(float& out) const;
    // A JSON integer (no fraction, no exponent: 3.0 is refused) within the signed 32-bit range.
    bool TakeInt32(std::int32_t& out) const;
    // A JSON integer within the signed 64-bit range.
    bool TakeInt64(std::int64_t& out) const;
    bool TakeBool(bool& out) const;  // true or false only; numbers are refused
    bool TakeString(std::string& out) const;
};

// A dotted key split at its last part: `node` is the innermost object, `member` the last part.
struct JsonWriteTarget {
    JsonNode node;
    std::string member;
};

struct JsonReadTarget {
    JsonView view;
    std::string member;
};

// ---- Files -------------------------------------------------------------------------------

// The largest JSON file any reader takes: far above any real project, preset or library list
// (a few hundred KiB at most), and small enough that parsing one (about 16 bytes of memory
// for each byte of text at worst) cannot take the program's memory. A larger file is refused
// before any byte of it is read.
inline constexpr std::uint64_t kMaxJsonFileBytes = std::uint64_t{16} << 20;

// The deepest nesting of arrays and objects any reader takes: far past any file of the program
// (a project nests five deep), and shallow enough that every walk of a document, which the
// library makes by recursion (writing it, comparing it, copying it), stays well within the
// stack of any thread. A document nested deeper is refused as it is parsed.
inline constexpr std::size_t kMaxJsonDepth = 256;

// Why a JSON file did or did not load.
enum class JsonLoadStatus {
    Ok,
    OpenFailed,      // nothing there, or it would not open: `error` says why (ENOENT, EACCES, ...)
    NotRegularFile,  // a folder (EISDIR), named pipe, device or socket (EINVAL): refused unread
    TooLarge,        // above kMaxJsonFileBytes (EFBIG): refused unread
    ReadFailed,      // an error while reading (`error`)
    NotJson,         // read whole, but not one strict JSON value
    TooDeep,         // JSON whose arrays and objects nest deeper than kMaxJsonDepth
    OutOfMemory,     // there was not enough memory to hold or parse it (ENOMEM)
};

// A member an object gives more than once. The document holds the last value in the first
// member's place, as the library's own parser does; the earlier values are dropped.
struct JsonRepeatedMember {
    std::string key;      // where: the keys from the root joined by ".", an array's element as "[2]"
    std::string dropped;  // the first value given, as ShortJsonText says it
    std::string kept;     // the last value given, which the document holds
    std::size_t times = 0;
};

// How many repeated members a load records; the rest are counted.
inline constexpr std::size_t kRepeatedMembersRecorded = 8;

struct JsonLoadResult {
    JsonLoadStatus status = JsonLoadStatus::OpenFailed;
    int error = 0;           // errno of the step that failed; 0 for Ok and NotJson
    std::uint64_t size = 0;  // the file's size, once it was opened
    JsonView view;           // the root value when Ok; empty otherwise
    // When Ok: the first members given more than once, in the order their objects end, and how
    // many there are.
    std::vector<JsonRepeatedMember> repeated;
    std::size_t repeatedCount = 0;
};

// Reads and parses the file, saying why when it cannot: a view of its root value when Ok. A
// leading byte-order mark is skipped; the text must be strict JSON (one value, no comments,
// nothing but white space after it; an empty file does not parse). Never throws: running out
// of memory anywhere, parsing included, gives OutOfMemory, and a document built halfway is
// taken apart again without needing memory. A loaded document is taken apart the same way
// when its last view goes.
JsonLoadResult LoadJsonFileWithStatus(const std::filesystem::path& path);

// The same for bytes already in memory, as a file's content (for readers fed otherwise):
// Ok, NotJson, TooDeep or OutOfMemory.
JsonLoadResult ParseJsonBytes(const std::uint8_t* data, std::size_t size);

// LoadJsonFileWithStatus's view: empty when the file cannot be opened, is not a regular file,
// is larger than kMaxJsonFileBytes, cannot be read, is not strict JSON or nests deeper than
// kMaxJsonDepth.
JsonView LoadJsonFile(const std::filesystem::path& path);

// The parsed document, or an empty pointer on any failure (see LoadJsonFile).
std::shared_ptr<JsonValue> ReadJsonFile(const std::filesystem::path& path);

// A new document whose root is an empty object; the node names the root.
JsonNode NewJsonDocument();

// Durable save of the node's whole document (not only the part the node names): written to a
// new temporary file beside the target (the target's name, a random part and ".tmp"; a file
// already there under any name is never touched), flushed, renamed over the target, folder
// flushed. A symbolic link is written through to the file it names, and the target's
// permission bits are kept. False when the document cannot be serialised (invalid UTF-8, a
// non-finite number), the temporary file cannot be made or written, or the rename fails; the
// target then keeps its old content and no temporary file is left behind.
bool SaveJsonFile(const JsonNode& node, const std::filesystem::path& path);

// The failure of a save whose document no reader would take for its size; not EFBIG, which the
// system gives for a file past its own limits.
inline constexpr int kJsonTooLargeToWrite = EOVERFLOW;

struct JsonSaveOptions {
    // ReplaceLink for the program's own files (library lists): a symbolic link planted at the
    // name is replaced, never written through.
    platform::LinkHandling links = platform::LinkHandling::WriteThrough;
    // Parse the written temporary file and compare it with the document before it replaces
    // the target, so a file that would not read back as meant never takes the old one's place.
    bool readBack = false;
};

// SaveJsonFile with options; on failure `error` (when given) receives the errno of the step
// that failed: EILSEQ for text that is not UTF-8, EDOM for a non-finite number,
// kJsonTooLargeToWrite for a document larger than kMaxJsonFileBytes even without its indent (one
// larger only with it is written without), EIO for a file that did not read back as written.
bool SaveJsonFile(const JsonNode& node, const std::filesystem::path& path, const JsonSaveOptions& options,
                  int* error);

// Writes the document straight to `path` (an existing file there is replaced), flushed to
// disk: byte-order mark, then the text indented by 2, no trailing line break. False when the
// node has no document, the document cannot be serialised, or the file cannot be created or
// fully written; a partly written file is removed.
bool WriteJsonFile(const JsonNode& node, const std::filesystem::path& path);

// The absolute form every file operation of this layer uses: a relative path is joined to the
// current folder; ".." parts are kept (lexical folding would be wrong across symbolic links).
// An absolute path comes back unchanged; when the current folder is unknown the path is used
// as given.
std::filesystem::path ToAbsolutePath(const std::filesystem::path& path);

// A value as a sentence can hold it: its JSON text, cut after 40 bytes (at a character's start)
// with "…", and a container of more than 8 elements said by its size ("an array of 1,000
// values"), so that a hostile file makes no long message.
std::string ShortJsonText(const JsonValue& value);

// ---- Keys and numbers --------------------------------------------------------------------

// A key escaped for a JSON pointer: "~" becomes "~0", then "/" becomes "~1".
std::string EscapeJsonPointerToken(std::string_view key);

// The float's shortest round-trip decimal text read as a double, so 0.1f is stored (and
// written) as 0.1 rather than 0.10000000149011612. Non-finite floats stay non-finite.
double ShortestFloatAsDouble(float value);

// ---- Dotted keys -------------------------------------------------------------------------

// Walks the parts of `dottedKey` before the last with JsonNode::ObjectChild, so missing
// objects are created and a member of another type on the way is replaced by an object.
JsonWriteTarget ResolveJsonPathForWrite(const JsonNode& node, std::string_view dottedKey);

void SetJsonPathString(const JsonNode& node, std::string_view dottedKey, std::string_view utf8);
void SetJsonPathInteger(const JsonNode& node, std::string_view dottedKey, std::int64_t value);
void SetJsonPathFloat(const JsonNode& node, std::string_view dottedKey, float value);
void SetJsonPathBool(const JsonNode& node, std::string_view dottedKey, bool value);
// An array at the key, then each value appended in order (writing the same key twice appends
// to the same array).
void SetJsonPathVec2(const JsonNode& node, std::string_view dottedKey, float x, float y);
void SetJsonPathVec3(const JsonNode& node, std::string_view dottedKey, float x, float y, float z);

// Walks the parts before the last with JsonView::FindMember; a part that is missing or not an
// object gives an empty view from there on. Creates nothing.
JsonReadTarget ResolveJsonPathForRead(const JsonView& view, std::string_view dottedKey);

// Reads at a dotted key with the Take rules of JsonView; true when the value was taken, and
// the output untouched otherwise.
bool GetJsonPathBool(const JsonView& view, std::string_view dottedKey, bool& value);
bool GetJsonPathString(const JsonView& view, std::string_view dottedKey, std::string& value);
bool GetJsonPathFloat(const JsonView& view, std::string_view dottedKey, float& value);
bool GetJsonPathInt32(const JsonView& view, std::string_view dottedKey, std::int32_t& value);
// An array of exactly 2 (3) elements that each pass TakeFloat; all components are written
// together or none.
bool GetJsonPathVec2(const JsonView& view, std::string_view dottedKey, float& x, float& y);
bool GetJsonPathVec3(const JsonView& view, std::string_view dottedKey, float& x, float& y, float& z);

}  // namespace grainforge::mesh
