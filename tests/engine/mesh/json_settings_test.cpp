#include "engine/mesh/json_settings.h"

#include "engine/mesh/triangle_mesh.h"
#include "tests/support/json_view_of.h"
#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <unistd.h>

#include <bit>
#include <cfloat>
#include <random>

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
    EXPECT_EQ(folder.List(), std::vector<std::string>{"order.json"}) << "the leftover temporary file is replaced";
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

TEST(DottedKeys, ReadThroughAMissingOrNonObjectPartFindsNothing)
{
    const JsonView view = ViewOf(R"({"a": 3, "b": {"c": {"d": true}}})");
    bool flag = false;
    EXPECT_FALSE(GetJsonPathBool(view, "a.c", flag));
    EXPECT_FALSE(GetJsonPathBool(view, "x.c.d", flag));
    EXPECT_TRUE(GetJsonPathBool(view, "b.c.d", flag));
    EXPECT_TRUE(flag);
    EXPECT_FALSE(GetJsonPathBool(JsonView{}, "b.c.d", flag));
}

TEST(JsonView, IntegerFieldTakesOnlyIntegersWithinThirtyTwoBits)
{
    const JsonView view = ViewOf(R"({
        "plain": 40, "lowest": -2147483648, "highest": 2147483647,
        "whole_float": 40.0, "exponent": 4e1, "text": "40", "above": 2147483648,
        "unsigned_max": 18446744073709551615, "below": -2147483649, "flag": true, "none": null})");
    const struct {
        const char* key;
        bool taken;
        std::int32_t expected;
    } cases[] = {
        {"plain", true, 40},         {"lowest", true, INT32_MIN},   {"highest", true, INT32_MAX},
        {"whole_float", false, 0},   {"exponent", false, 0},        {"text", false, 0},
        {"above", false, 0},         {"unsigned_max", false, 0},    {"below", false, 0},
        {"flag", false, 0},          {"none", false, 0},            {"missing", false, 0},
    };
    for (const auto& c : cases) {
        std::int32_t field = 12345;
        EXPECT_EQ(GetJsonPathInt32(view, c.key, field), c.taken) << c.key;
        EXPECT_EQ(field, c.taken ? c.expected : 12345) << c.key;
    }
}

TEST(JsonView, FloatFieldTakesAnyNumberThatAFloatCanHold)
{
    const JsonView view = ViewOf(R"({
        "integer": 5, "unsigned": 18446744073709551615, "fraction": 0.25,
        "largest": 3.4028235e38, "too_large": 1e39, "too_small": -3.5e38, "tiny": 1e-50,
        "text": "1", "flag": false, "none": null, "array": [1], "object": {}})");
    const struct {
        const char* key;
        bool taken;
        float expected;
    } cases[] = {
        {"integer", true, 5.0f},       {"unsigned", true, 18446744073709551615.0f},
        {"fraction", true, 0.25f},     {"largest", true, FLT_MAX},
        {"too_large", false, 0},       {"too_small", false, 0},
        {"tiny", true, 0.0f},          {"text", false, 0},
        {"flag", false, 0},            {"none", false, 0},
        {"array", false, 0},           {"object", false, 0},
        {"missing", false, 0},
    };
    for (const auto& c : cases) {
        float field = -7.5f;
        EXPECT_EQ(GetJsonPathFloat(view, c.key, field), c.taken) << c.key;
        EXPECT_EQ(field, c.taken ? c.expected : -7.5f) << c.key;
    }
}

TEST(JsonView, BooleanAndStringFieldsTakeOnlyTheirOwnType)
{
    const JsonView view = ViewOf(R"({"one": 1, "yes": true, "no": false, "name": "x\n\"y\"", "null": null})");
    bool flag = true;
    EXPECT_FALSE(GetJsonPathBool(view, "one", flag) || GetJsonPathBool(view, "null", flag) || !flag);
    EXPECT_TRUE(GetJsonPathBool(view, "no", flag) && !flag);
    std::string text = "kept";
    EXPECT_FALSE(GetJsonPathString(view, "yes", text));
    EXPECT_EQ(text, "kept");
    EXPECT_TRUE(GetJsonPathString(view, "name", text));
    EXPECT_EQ(text, "x\n\"y\"");
}

TEST(JsonView, VectorIsTakenWholeOrNotAtAll)
{
    const JsonView view = ViewOf(R"({
        "two": [1, 2], "three": [1, 2.5, -3], "with_null": [1, null, 3], "four": [1, 2, 3, 4],
        "huge": [1, 1e39, 3], "text": "1,2,3"})");
    for (const char* key : {"two", "with_null", "four", "huge", "text", "missing"}) {
        float x = 7, y = 8, z = 9;
        EXPECT_FALSE(GetJsonPathVec3(view, key, x, y, z)) << key;
        EXPECT_EQ((Vec3{x, y, z}), (Vec3{7, 8, 9})) << key;
    }
    float x = 7, y = 8, z = 9;
    EXPECT_TRUE(GetJsonPathVec3(view, "three", x, y, z));
    EXPECT_EQ((Vec3{x, y, z}), (Vec3{1.0f, 2.5f, -3.0f}));
    EXPECT_FALSE(GetJsonPathVec2(view, "three", x, y));
    EXPECT_TRUE(GetJsonPathVec2(view, "two", x, y));
    EXPECT_EQ((Vec3{x, y, z}), (Vec3{1.0f, 2.0f, -3.0f}));
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
        {"mark_only.json", WithMark("")},
        {"trailing_comma.json", "{\"a\": 1,}"},
        {"line_comment.json", "{\"a\": 1 // note\n}"},
        {"block_comment.json", "/* x */ {}"},
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

TEST(LoadJsonFile, HugeFileIsRefusedBeforeReadingAndDeepNestingLoads)
{
    TempFolder folder;
    // Sparse: the size is there without the disk space. Reading it would need 2 GiB.
    for (const off_t size : {off_t{2147483648}, off_t{5000000000}}) {
        const fs::path path = folder / ("huge" + std::to_string(size) + ".json");
        WriteAllText(path, "{}");
        ASSERT_EQ(::truncate(path.c_str(), size), 0);
        EXPECT_TRUE(LoadJsonFile(path).IsEmpty());
    }
    // Without exhausting the stack.
    const int depth = 200000;
    WriteAllText(folder / "deep.json", std::string(depth, '[') + std::string(depth, ']'));
    EXPECT_TRUE(LoadJsonFile(folder / "deep.json").IsArray());
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
