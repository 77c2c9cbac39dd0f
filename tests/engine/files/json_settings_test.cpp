#include "engine/files/json_settings.h"

#include "engine/mesh/triangle_mesh.h"
#include "tests/support/json_view_of.h"
#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <unistd.h>

#include <bit>
#include <cfloat>
#include <iomanip>
#include <random>
#include <sstream>

namespace grainforge::mesh {
namespace {

using test::ViewOf;

namespace fs = std::filesystem;
using test::ReadAllBytes;
using test::TempFolder;
using test::WriteAllText;

std::vector<std::uint8_t> Bytes(const std::string& text)
{
    return std::vector<std::uint8_t>(text.begin(), text.end());
}

std::string WithMark(const std::string& text) { return "\xEF\xBB\xBF" + text; }

TEST(SaveJsonFile, MarkIndentTwoWrittenOrderAndNoTrailingLineBreak)
{
    TempFolder folder;
    WriteAllText(folder / "order.json.tmp", "left over by a crash");
    JsonNode document = NewJsonDocument();
    SetJsonPathBool(document, "zeta", true);
    SetJsonPathString(document, "alpha", "\xC3\xA9t\xC3\xA9");  // written as UTF-8, not escaped
    SetJsonPathInteger(document, "mid", -7);
    document.PutFloat("a", 0.1f);  // the shortest text that reads back as the float
    ASSERT_TRUE(SaveJsonFile(document, folder / "order.json"));
    EXPECT_EQ(ReadAllBytes(folder / "order.json"),
              Bytes(WithMark("{\n  \"zeta\": true,\n  \"alpha\": \"\xC3\xA9t\xC3\xA9\",\n  \"mid\": -7,\n  \"a\": 0.1\n}")));
    // A file named like a temporary file may be the user's: it is left as it was.
    EXPECT_EQ(folder.List(), (std::vector<std::string>{"order.json", "order.json.tmp"}));
    EXPECT_EQ(ReadAllBytes(folder / "order.json.tmp"), Bytes("left over by a crash"));
}

// A name near the longest a file system takes (85 three-byte characters is 255 bytes) still
// saves: the temporary name beside it is cut short, not refused as too long.
TEST(SaveJsonFile, SavesUnderTheLongestFileNames)
{
    TempFolder folder;
    std::string longest;
    for (int i = 0; i < 83; ++i)
        longest += "\xE6\x96\x87";  // a CJK character
    longest += ".json";
    ASSERT_EQ(longest.size(), 254u);
    JsonNode document = NewJsonDocument();
    document.PutInt("a", 1);
    for (int twice = 0; twice < 2; ++twice)
        ASSERT_TRUE(SaveJsonFile(document, folder / longest));
    EXPECT_EQ(folder.List(), std::vector<std::string>{longest});
    EXPECT_EQ(ReadAllBytes(folder / longest), Bytes(WithMark("{\n  \"a\": 1\n}")));
}

TEST(DottedKeys, WritesNestObjectsReplaceOtherTypesAndAppendToVectors)
{
    JsonNode vector = NewJsonDocument();
    SetJsonPathVec3(vector, "cage.center", 1.0f, 2.0f, 3.0f);
    JsonNode replaced = NewJsonDocument();
    SetJsonPathInteger(replaced, "cage", 5);
    SetJsonPathFloat(replaced, "cage.size", 2.5f);
    JsonNode twice = NewJsonDocument();
    SetJsonPathVec2(twice, "a.b.c", 1.0f, 2.0f);
    SetJsonPathVec2(twice, "a.b.c", 3.0f, 4.0f);
    // A whole float is written with ".0", so it reads back as a float, not an integer.
    EXPECT_EQ(vector.root->dump(), "{\"cage\":{\"center\":[1.0,2.0,3.0]}}");
    EXPECT_EQ(replaced.root->dump(), "{\"cage\":{\"size\":2.5}}");
    EXPECT_EQ(twice.root->dump(), "{\"a\":{\"b\":{\"c\":[1.0,2.0,3.0,4.0]}}}");
}

// What the getter of `kind` takes from `key`: the value as text, "-" when it leaves its fields
// as they were, "changed" when it refuses but writes to them all the same.
std::string Take(const JsonView& view, char kind, const char* key)
{
    bool flag = true, taken = false;
    std::string text = "kept";
    std::int32_t integer = 7;
    float x = 7, y = 7, z = 7;
    std::ostringstream out;
    out << std::setprecision(9);
    switch (kind) {
    case 'b': taken = GetJsonPathBool(view, key, flag), out << flag; break;
    case 's': taken = GetJsonPathString(view, key, text), out << text; break;
    case 'i': taken = GetJsonPathInt32(view, key, integer), out << integer; break;
    case 'f': taken = GetJsonPathFloat(view, key, x), out << x; break;
    case '2': taken = GetJsonPathVec2(view, key, x, y), out << x << ' ' << y; break;
    default: taken = GetJsonPathVec3(view, key, x, y, z), out << x << ' ' << y << ' ' << z;
    }
    if (taken)
        return out.str();
    return flag && text == "kept" && integer == 7 && x == 7 && y == 7 && z == 7 ? "-" : "changed";
}

TEST(JsonView, EachGetterTakesOnlyValuesItsFieldCanHoldAndVectorsWhole)
{
    const JsonView view = ViewOf(R"({"plain": 40, "lowest": -2147483648, "highest": 2147483647, "whole": 40.0,
        "text": "40", "above": 2147483648, "unsigned_max": 18446744073709551615, "below": -2147483649,
        "fraction": 0.25, "largest": 3.4028235e38, "too_large": 1e39, "too_small": -3.5e38, "tiny": 1e-50,
        "flag": true, "none": null, "no": false, "name": "x\n\"y\"", "array": [1], "two": [1, 2],
        "three": [1, 2.5, -3], "with_null": [1, null, 3], "four": [1, 2, 3, 4], "huge": [1, 1e39, 3],
        "b": {"c": {"d": true}}})");
    const struct { char kind; const char* key; const char* expected; } cases[] = {
        {'i', "plain", "40"},         {'i', "lowest", "-2147483648"}, {'i', "highest", "2147483647"},
        {'i', "whole", "-"},          {'i', "text", "-"},             {'i', "above", "-"},
        {'i', "unsigned_max", "-"},   {'i', "below", "-"},            {'i', "missing", "-"},
        {'f', "plain", "40"},         {'f', "unsigned_max", "1.84467441e+19"}, {'f', "fraction", "0.25"},
        {'f', "largest", "3.40282347e+38"}, {'f', "too_large", "-"},  {'f', "too_small", "-"},
        {'f', "tiny", "0"},           {'f', "text", "-"},             {'f', "array", "-"},
        {'f', "none", "-"},           {'b', "plain", "-"},            {'b', "none", "-"},
        {'b', "no", "0"},             {'s', "flag", "-"},             {'s', "name", "x\n\"y\""},
        {'3', "two", "-"},            {'3', "with_null", "-"},        {'3', "four", "-"},
        {'3', "huge", "-"},           {'3', "text", "-"},             {'3', "three", "1 2.5 -3"},
        {'2', "three", "-"},          {'2', "two", "1 2"},
        // Dotted keys through a missing part or a part that is not an object find nothing.
        {'b', "plain.c", "-"},        {'b', "x.c.d", "-"},            {'b', "b.c.d", "1"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Take(view, c.kind, c.key), c.expected) << c.kind << " " << c.key;
    EXPECT_EQ(Take(JsonView{}, 'b', "b.c.d"), "-");
}

TEST(JsonNode, KeysHoldingSlashAndTildeRoundTrip)
{
    EXPECT_EQ(EscapeJsonPointerToken("a/b~c"), "a~1b~0c");
    // "~1" must not come back as "/": the tilde is escaped before the slash.
    EXPECT_EQ(EscapeJsonPointerToken("~1"), "~01");

    JsonNode document = NewJsonDocument();
    for (const std::string key : {"a/b", "~", "~1", "x~/y", "", "."}) {
        JsonNode child = document.ObjectChild(key);
        ASSERT_NE(child.Resolve(), nullptr) << key;
        child.PutInt("n", 1);
        EXPECT_EQ(document.WithKey(key).Resolve(), child.Resolve()) << key;
        EXPECT_TRUE(document.root->contains(key)) << key;
        EXPECT_EQ((*document.root)[key]["n"], 1) << key;
    }
}

TEST(JsonNode, OperationsOnTheWrongKindOfValueDoNothing)
{
    JsonNode document = NewJsonDocument();
    const JsonNode list = document.ArrayChild("list");
    list.PutInt("x", 1);                               // not an object
    EXPECT_EQ(document.ObjectChild("list").WithKey("x").Resolve(), nullptr);
    EXPECT_EQ(JsonNode{}.ObjectChild("a").root, nullptr);
    JsonNode{}.PutFloat("a", 1.0f);                    // no document at all
    EXPECT_EQ(document.WithKey("missing").ObjectChild("a").Resolve(), nullptr);
    EXPECT_EQ(document.AppendObject().root, nullptr);  // the root is not an array

    // An existing array keeps its elements; AppendObject names the new last element.
    JsonNode entries = document.ArrayChild("entries");
    entries.PushFloat(1.5f);
    entries = document.ArrayChild("entries");
    const JsonNode element = entries.AppendObject();
    element.PutBool("on", true);
    EXPECT_EQ(element.path, "/entries/1");
    EXPECT_EQ((*document.root)["entries"].dump(), "[1.5,{\"on\":true}]");
}

TEST(ShortestFloatAsDouble, EveryFloatReadsBackBitForBit)
{
    std::mt19937 random(7);
    std::vector<float> values = {0.1f, -0.0f, 1e-7f, 3e38f, FLT_MAX, FLT_MIN, FLT_TRUE_MIN, 0.7f, 16777217.0f};
    for (int i = 0; i < 20000; ++i) {
        const float f = std::bit_cast<float>(static_cast<std::uint32_t>(random()));
        if (std::isfinite(f))
            values.push_back(f);
    }
    for (const float f : values) {
        const double stored = ShortestFloatAsDouble(f);
        ASSERT_EQ(std::bit_cast<std::uint32_t>(static_cast<float>(stored)), std::bit_cast<std::uint32_t>(f)) << f;
    }
    EXPECT_EQ(ShortestFloatAsDouble(0.1f), 0.1);
    EXPECT_TRUE(std::isnan(ShortestFloatAsDouble(NAN)));
}

TEST(LoadJsonFile, GoodFilesLoadWithOrWithoutMarkAndDamagedOnesGiveAnEmptyView)
{
    TempFolder folder;
    for (const std::string& text : {std::string("{}"), WithMark(" { } \n")}) {
        WriteAllText(folder / "good.json", text);
        const JsonView view = LoadJsonFile(folder / "good.json");
        EXPECT_TRUE(view.IsObject() && view.value->empty()) << text;
    }
    const std::pair<const char*, std::string> files[] = {
        {"empty.json", ""},
        {"trailing_comma.json", "{\"a\": 1,}"},
        {"line_comment.json", "{\"a\": 1 // note\n}"},
        {"truncated.json", "{\"a\": [1, 2"},
        {"two_values.json", "{} {}"},
        {"bad_utf8.json", "{\"a\": \"\xC3\x28\"}"},
    };
    for (const auto& [name, text] : files) {
        WriteAllText(folder / name, text);
        EXPECT_TRUE(LoadJsonFile(folder / name).IsEmpty()) << name;
    }
    EXPECT_TRUE(LoadJsonFile(folder / "missing.json").IsEmpty());
    fs::create_directory(folder / "folder.json");
    EXPECT_TRUE(LoadJsonFile(folder / "folder.json").IsEmpty());
    ASSERT_EQ(::mkfifo((folder / "pipe.json").c_str(), 0600), 0);
    EXPECT_TRUE(LoadJsonFile(folder / "pipe.json").IsEmpty());  // refused, not waited on
}

TEST(LoadJsonFile, HugeFileIsRefusedBeforeReadingAndDeepNestingIsRefusedWhileParsed)
{
    TempFolder folder;
    // Sparse: the size is there without the disk space. Reading it would need 2 GiB.
    for (const off_t size : {off_t{2147483648}, off_t{5000000000}}) {
        const fs::path path = folder / ("huge" + std::to_string(size) + ".json");
        WriteAllText(path, "{}");
        ASSERT_EQ(::truncate(path.c_str(), size), 0);
        EXPECT_TRUE(LoadJsonFile(path).IsEmpty());
    }
    // Nesting up to the limit loads; deeper is refused as parsed, before any walk of the library
    // (writing, comparing, copying: each a recursion) could exhaust the stack.
    const std::pair<std::size_t, JsonLoadStatus> depths[] = {{kMaxJsonDepth, JsonLoadStatus::Ok},
        {kMaxJsonDepth + 1, JsonLoadStatus::TooDeep}, {200000, JsonLoadStatus::TooDeep}};
    for (const auto& [depth, status] : depths) {
        SCOPED_TRACE(depth);
        WriteAllText(folder / "deep.json", "{\"a\": " + std::string(depth - 1, '[') + std::string(depth - 1, ']') + "}");
        const JsonLoadResult load = LoadJsonFileWithStatus(folder / "deep.json");
        EXPECT_EQ(load.status, status);
        EXPECT_EQ(LoadJsonFile(folder / "deep.json").IsObject(), status == JsonLoadStatus::Ok);
    }
}

// The readers build documents their own way (so that running out of memory never leaves one
// to the library's destructor); what they build must be what the library's parser gives,
// member order and repeated keys (first place, last value) included. Each repeated key is
// recorded with where it is, its first value dropped and its last kept: the first was dropped
// without a word.
TEST(ParseJsonBytes, BuildsWhatTheLibrarysParserBuilds)
{
    std::string manyRepeats = "{";
    for (int key = 0; key < 120; ++key)
        manyRepeats.append("\"k").append(std::to_string(key * 7 % 40)).append("\": [").append(std::to_string(key)).append("],");
    const std::pair<std::string, std::string> texts[] = {
        {R"({"a": 1, "b": 2, "a": 3})", "a 1 3 2"},
        {R"({"": 1, "z": {"": [], "": {"q": -2.5e3}}, "": [true, null, "s"]})", "z. [] {\"q\":-2500.0} 2;  1 [true,null,\"s\"] 2"},
        {R"([{"k": 1, "k": {"k": [[], {}, [[1]]]}}, 18446744073709551615, -9223372036854775808, 0.1])",
            "[0].k 1 {\"k\":[[],{},[[1]]]} 2"},
        {R"({"\u00e9": "\ud83d\ude00", "\u00e9": "e"})", "\u00e9 \"\U0001F600\" \"e\" 2"},
        {manyRepeats.append(R"("k3": {"k3": 1, "k3": {"x": [{}]}}})"),
            "k3.k3 1 {\"x\":[{}]} 2; k0 [0] [80] 3; k7 [1] [81] 3; k14 [2] [82] 3; k21 [3] [83] 3; "
            "k28 [4] [84] 3; k35 [5] [85] 3; k2 [6] [86] 3; and 33 more"},
        {"  \"text\" ", ""},
        {"12", ""},
    };
    for (const auto& [text, repeats] : texts) {
        for (const std::string& bytes : {text, WithMark(text)}) {
            const JsonLoadResult parsed = ParseJsonBytes(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
            ASSERT_EQ(parsed.status, JsonLoadStatus::Ok) << text;
            EXPECT_EQ(parsed.view.value->dump(), JsonValue::parse(text).dump()) << text;
            std::string said;
            for (const JsonRepeatedMember& member : parsed.repeated)
                said += (said.empty() ? "" : "; ") + member.key + " " + member.dropped + " " + member.kept + " " +
                    std::to_string(member.times);
            if (parsed.repeatedCount > parsed.repeated.size())
                said += "; and " + std::to_string(parsed.repeatedCount - parsed.repeated.size()) + " more";
            EXPECT_EQ(said, repeats) << text;
        }
    }
}

TEST(SaveJsonFile, DocumentThatCannotBeWrittenFaithfullyIsRefusedAndTouchesNothing)
{
    TempFolder folder;
    WriteAllText(folder / "t.json", "old");
    JsonNode withNaN = NewJsonDocument();
    withNaN.PutFloat("a", NAN);  // would be written as null and never read back as a number
    JsonNode withInfinity = NewJsonDocument();
    SetJsonPathVec2(withInfinity, "v", 1.0f, INFINITY);
    JsonNode badText = NewJsonDocument();
    badText.PutString("s", "\xFF\xFE");
    for (const JsonNode& node : {withNaN, withInfinity, badText, JsonNode{}}) {
        EXPECT_FALSE(SaveJsonFile(node, folder / "t.json"));
        EXPECT_EQ(ReadAllBytes(folder / "t.json"), Bytes("old"));
        EXPECT_EQ(folder.List(), std::vector<std::string>{"t.json"});
    }
}

// Every reader refuses a file past kMaxJsonFileBytes. A document whose indented text passes it
// but whose text without the indent does not is written without it, and reads back; one past
// it even so is refused with its own cause, and the old file stays. The indented form of a
// newer version's long array was written, failed its read-back, and was said to be an
// input/output error.
TEST(SaveJsonFile, WritesOnlyWhatItsReaderTakesBack)
{
    const struct {
        const char* name;
        std::size_t numbers;  // 1.25 each, three objects deep
        bool indented;        // the file starts as the indented text does
        int error;            // 0 when it is saved
    } cases[] = {
        {"small", 10, true, 0},
        {"indented text past the limit", 2500000, false, 0},
        {"past the limit without the indent too", 3500000, false, kJsonTooLargeToWrite},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempFolder folder;
        WriteAllText(folder / "t.json", "old");
        const JsonNode node = NewJsonDocument();
        JsonValue& values = (*node.Resolve())["a"]["b"]["values"];
        values = JsonValue::array();
        for (std::size_t i = 0; i < c.numbers; ++i)
            values.push_back(1.25);
        int error = 0;
        EXPECT_EQ(SaveJsonFile(node, folder / "t.json", {.readBack = true}, &error), c.error == 0);
        EXPECT_EQ(error, c.error);
        const std::vector<std::uint8_t> bytes = ReadAllBytes(folder / "t.json");
        EXPECT_EQ(folder.List(), std::vector<std::string>{"t.json"});
        if (c.error != 0) {
            EXPECT_EQ(bytes, Bytes("old"));
            continue;
        }
        EXPECT_LE(bytes.size(), kMaxJsonFileBytes);
        EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 6), WithMark(c.indented ? "{\n " : "{\"a"));
        const JsonLoadResult load = LoadJsonFileWithStatus(folder / "t.json");
        ASSERT_EQ(load.status, JsonLoadStatus::Ok);
        EXPECT_TRUE(*load.view.value == *node.Resolve());
    }
}

TEST(WriteJsonFile, RelativePathIsWrittenBelowTheCurrentFolderWithoutFoldingParentParts)
{
    // "a/.." must stay: when a is a symbolic link, its parent is not the current folder.
    EXPECT_EQ(ToAbsolutePath("a/../part.json"), fs::current_path() / "a/../part.json");
    EXPECT_EQ(ToAbsolutePath("/work/./a/../part.json"), fs::path("/work/./a/../part.json"));
    TempFolder folder;
    const fs::path previous = fs::current_path();
    fs::current_path(folder.Path());
    JsonNode document = NewJsonDocument();
    const bool written = WriteJsonFile(document, "sub/../direct.json");
    fs::create_directory(folder / "sub");
    const bool writtenThroughSub = WriteJsonFile(document, "sub/../direct.json");
    fs::current_path(previous);
    EXPECT_FALSE(written);  // "sub" does not exist yet, so "sub/.." cannot be walked
    EXPECT_TRUE(writtenThroughSub);
    EXPECT_EQ(ReadAllBytes(folder / "direct.json"), Bytes(WithMark("{}")));
}

}  // namespace
}  // namespace grainforge::mesh
