#include "engine/textures/parameter_set.h"

#include "tests/support/json_view_of.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <random>

namespace grainforge::mesh::procedural {
namespace {

const std::vector<ParameterSpec>& TestTable()
{
    static const std::vector<ParameterSpec> table = {
        MakeFloatParameter("scale", "Scale", 0.0f, 10.0f, 2.5f, "How large", 0.1f),
        MakeIntParameter("count", "Count", 1, 10, 5, "How many"),
        MakeIntParameter("shift", "Shift", -10, 10, 0, "Signed"),
        MakeChoiceParameter("shape", "Shape", {"Round", "Square", "Hex"}, 1, "Which"),
        MakeFloatParameter("wide", "Wide", -1e30f, 1e30f, 0.0f, "Any value", 1.0f),
        MakeInvertParameter()[0],
    };
    return table;
}

class TableSet : public ParameterSet {
public:
    explicit TableSet(const std::vector<ParameterSpec>& table = TestTable(), bool reset = true) : table(table)
    {
        if (reset)
            ResetToDefaults();
    }
    const std::string& Name() const override { return name; }
    const std::string name = "Test";
    const std::vector<ParameterSpec>& GetParameters() const override { return table; }
    const std::vector<ParameterSpec>& table;
};

TEST(ClampParameterValue, FollowsTheKindsRules)
{
    const std::vector<ParameterSpec>& t = TestTable();
    const ParameterSpec crossed = MakeFloatParameter("x", "X", 5.0f, 1.0f, 3.0f, "", 1.0f);
    const struct { const ParameterSpec* spec; float in, out; } cases[] = {
        {&t[0], NAN, 2.5f},    {&t[0], INFINITY, 2.5f}, {&t[0], -INFINITY, 2.5f}, {&t[0], 3.33f, 3.33f},
        {&t[0], 11.0f, 10.0f}, {&t[0], -1.0f, 0.0f},    {&t[1], 2.5f, 3.0f},      {&t[1], 2.49f, 2.0f},
        {&t[1], 0.0f, 1.0f},   {&t[1], 1e30f, 10.0f},   {&t[2], -2.5f, -3.0f},    {&t[2], -2.4f, -2.0f},
        {&t[2], -0.4f, -0.0f}, {&t[3], -0.5f, 0.0f},    {&t[3], 1.5f, 2.0f},      {&t[3], 7.0f, 2.0f},
        {&t[5], 0.5f, 1.0f},   {&t[5], 0.49f, 0.0f},    {&t[5], 7.0f, 1.0f},      {&t[5], NAN, 0.0f},
        {&crossed, 7.0f, 1.0f}, {&crossed, 0.0f, 5.0f}, {&crossed, 3.0f, 1.0f},  // the maximum first
    };
    for (const auto& c : cases)
        EXPECT_EQ(ClampParameterValue(*c.spec, c.in), c.out) << c.spec->key << " " << c.in;
}

TEST(ParameterSet, LookupsByKeyAndStoredDefaultsBeforeTheFirstSet)
{
    TableSet set;
    EXPECT_EQ(set.GetValue("nope"), 0.0f);
    set.SetValue("count", 7.0f);
    const std::vector<float> before = set.values;
    for (const char* key : {"nope", "Count", "count "})
        EXPECT_FALSE(set.SetValue(key, 3.0f)) << key;
    EXPECT_EQ(set.values, before);
    EXPECT_TRUE(set.SetValue("count", 2.5f));
    EXPECT_EQ(set.GetValue("count"), 3.0f);

    // Defaults outside the limits, to tell stored from clamped defaults.
    static const std::vector<ParameterSpec> oddTable = {MakeFloatParameter("a", "A", 0.0f, 10.0f, 20.0f, "", 1.0f),
                                                        MakeFloatParameter("b", "B", 0.0f, 1.0f, 0.5f, "", 0.1f)};
    TableSet odd(oddTable, false);
    EXPECT_EQ(odd.GetValue("a"), 20.0f) << "the default as stored";
    EXPECT_TRUE(odd.SetValue("b", 0.25f));
    EXPECT_EQ(odd.values, (std::vector<float>{10.0f, 0.25f})) << "the first set resets to clamped defaults";
    EXPECT_EQ(TableSet(oddTable).values, (std::vector<float>{10.0f, 0.5f}));
}

TEST(DescribeParameters, ShowsEachKindInItsOwnForm)
{
    TableSet set;
    EXPECT_EQ(DescribeParameters(set), "Test: Scale 2.50, Count 5, Shift 0, Shape Square, Wide 0.00, Invert off");
    for (const auto& [key, value] : {std::pair{"scale", 0.5f}, {"shift", -2.5f}, {"shape", 0.0f}, {"invert", 1.0f}})
        set.SetValue(key, value);
    EXPECT_EQ(DescribeParameters(set), "Test: Scale 0.50, Count 5, Shift -3, Shape Round, Wide 0.00, Invert on");
    // Values put in directly are shown as well as they can be.
    const struct { std::size_t index; float value; const char* shown; } cases[] = {
        {3, 5.0f, "Shape 5,"}, {3, -3.0f, "Shape Round,"}, {1, 3e30f, "Count 2999999894026671207801419726848,"}};
    for (const auto& c : cases) {
        set.values[c.index] = c.value;
        EXPECT_NE(DescribeParameters(set).find(c.shown), std::string::npos) << c.shown;
    }
}

TEST(ParametersToText, WritesNineSignificantDigitsThatReadBackBitForBit)
{
    TableSet set;
    set.SetValue("scale", 0.7f);
    set.SetValue("count", 4.0f);
    set.SetValue("wide", -1.5e-20f);
    EXPECT_EQ(ParametersToText(set), "scale=0.699999988\ncount=4\nshift=0\nshape=1\nwide=-1.49999995e-20\ninvert=0\n");
    std::mt19937 random(11);
    std::uniform_real_distribution<float> unit(0.0f, 10.0f), wide(-1e30f, 1e30f);
    for (int round = 0; round < 500; ++round) {
        TableSet written, read;
        written.SetValue("scale", unit(random));
        written.SetValue("count", unit(random));
        written.SetValue("wide", round % 2 ? wide(random) : unit(random) * 1e-7f);
        ParametersFromText(read, ParametersToText(written));
        for (std::size_t i = 0; i < read.values.size(); ++i)
            ASSERT_EQ(std::bit_cast<std::uint32_t>(read.values[i]), std::bit_cast<std::uint32_t>(written.values[i]));
    }
}

TEST(ParametersFromText, SkipsWhatItCannotRead)
{
    const struct { const char* text; float scale; } cases[] = {
        {"scale=3", 3.0f},       {" scale=3", 2.5f},      {"scale =3", 2.5f},      {"scale=abc", 2.5f},
        {"scale=4.5xyz", 4.5f},  {"scale=\t 3\r", 3.0f},  {"scale 3", 2.5f},       {"scale=", 2.5f},
        {"scale=+3", 3.0f},      {"scale=+-3", 2.5f},     {"scale=1=2", 1.0f},     {"scale=nan", 2.5f},
        {"scale=1e999", 2.5f},   {"scale=20", 10.0f},     {"x=1\nscale=6", 6.0f},  {"scale=6\nscale=7\n", 7.0f},
        {"scale=0x10", 0.0f},    {"\n\n=\nscale=1.25", 1.25f},
    };
    for (const auto& c : cases) {
        TableSet set;
        set.SetValue("count", 9.0f);
        ParametersFromText(set, c.text);
        EXPECT_EQ(set.GetValue("scale"), c.scale) << c.text;
        EXPECT_EQ(set.GetValue("count"), 9.0f) << c.text << ": not named, so kept";
    }
}

// Every line of a text is accounted for: one naming no entry is named and written back after
// the entries, a key given twice keeps its last number, a value with no number is named.
TEST(ParametersFromText, SortsEveryWordAndKeepsTheLinesItDoesNotRead)
{
    const struct {
        const char* text;
        std::vector<std::string_view> notRead;
        std::vector<std::string_view> notNumbers;  // the keys
        std::vector<std::string_view> repeated;    // "key first last times"
        const char* writtenAfter;                  // what the text form holds after "invert=0\n"
    } cases[] = {
        {"scale=3\n", {}, {}, {}, ""},
        {"future=3\nscale=3", {"future"}, {}, {}, "future=3\n"},
        {" scale=3\r\nnote\n\n\r\n", {" scale", "note"}, {}, {}, " scale=3\r\nnote\n"},
        {"count=abc\nscale=", {}, {"count", "scale"}, {}, ""},
        {"scale=1\nscale=2\nscale=3", {}, {}, {"scale 1 3 3"}, ""},
        {"scale=1\nscale=x\ncount=2", {}, {"scale"}, {}, ""},
    };
    for (const auto& c : cases) {
        TableSet set;
        ParametersFromText(set, c.text);
        const ParameterWords words = SortParameterWords(set, c.text);
        EXPECT_EQ(words.notRead, c.notRead) << c.text;
        std::vector<std::string_view> notNumbers, repeated;
        std::vector<std::string> repeatedTexts;
        for (const ParameterWordNotNumber& word : words.notNumbers)
            notNumbers.push_back(word.key);
        for (const RepeatedParameterWord& word : words.repeated)
            repeatedTexts.push_back(std::string(word.key) + " " + std::string(word.dropped) + " " +
                std::string(word.kept) + " " + std::to_string(word.times));
        for (const std::string& text : repeatedTexts)
            repeated.push_back(text);
        EXPECT_EQ(notNumbers, c.notNumbers) << c.text;
        EXPECT_EQ(repeated, c.repeated) << c.text;
        const std::string written = ParametersToText(set);
        const std::size_t after = written.find("invert=0\n") + 9;
        EXPECT_EQ(written.substr(after), c.writtenAfter) << c.text;
        // Read again, the kept lines stay once, never twice.
        TableSet again;
        ParametersFromText(again, written);
        EXPECT_EQ(ParametersToText(again), written) << c.text;
    }
}

TEST(ParametersJson, EachKindIsWrittenAsItsTypeAndReadOnlyFromIt)
{
    TableSet set;
    set.SetValue("scale", 0.7f);
    set.SetValue("invert", 1.0f);
    JsonNode document = NewJsonDocument();
    WriteParameters(set, document.ObjectChild("parameters"));
    EXPECT_EQ(document.root->dump(),
              R"({"parameters":{"scale":0.7,"count":5,"shift":0,"shape":1,"wide":0.0,"invert":true}})");

    TableSet read;
    read.SetValue("shift", 4.0f);
    ReadParameters(read, test::ViewOf(R"({"scale": "4", "count": 2.6, "shift": -1e39, "shape": true,
                                          "wide": 123, "invert": 1, "other": 5})"));
    EXPECT_EQ(read.values, (std::vector<float>{2.5f, 3.0f, 4.0f, 1.0f, 123.0f, 0.0f}))
        << "a string, a rounded number, beyond the float range, a boolean for a choice, a number for a switch";
    ReadParameters(read, test::ViewOf(R"({"invert": true})"));
    EXPECT_EQ(read.GetValue("invert"), 1.0f);

    // Through text, as a preset file carries it.
    TableSet written;
    for (const auto& [key, value] :
         {std::pair{"scale", 0.123456789f}, {"shift", -7.0f}, {"shape", 2.0f}, {"wide", -9.87654e25f}})
        written.SetValue(key, value);
    JsonNode out = NewJsonDocument();
    WriteParameters(written, out);
    TableSet again(TestTable(), false);
    ReadParameters(again, test::ViewOf(out.root->dump(2)));
    EXPECT_EQ(again.values, written.values);
}

}  // namespace
}  // namespace grainforge::mesh::procedural
