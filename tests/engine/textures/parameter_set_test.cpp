#include "engine/textures/parameter_set.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

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

class TestSet : public ParameterSet {
public:
    const std::string& Name() const override
    {
        static const std::string name = "Test";
        return name;
    }
    const std::vector<ParameterSpec>& GetParameters() const override { return TestTable(); }
};

// A table whose default lies outside its limits, to tell stored from clamped defaults.
class OddDefaultSet : public ParameterSet {
public:
    const std::string& Name() const override
    {
        static const std::string name = "Odd";
        return name;
    }
    const std::vector<ParameterSpec>& GetParameters() const override
    {
        static const std::vector<ParameterSpec> table = {
            MakeFloatParameter("a", "A", 0.0f, 10.0f, 20.0f, "", 1.0f),
            MakeFloatParameter("b", "B", 0.0f, 1.0f, 0.5f, "", 0.1f),
        };
        return table;
    }
};

// The seed and invert entries' texts are checked against every pattern's table in
// pattern_tables_test.cpp.
TEST(ParameterMakers, InvertIsOneSharedTableAndChoicesSetTheirLimit)
{
    const std::vector<ParameterSpec>& invert = MakeInvertParameter();
    ASSERT_EQ(invert.size(), 1u);
    EXPECT_EQ(&invert, &MakeInvertParameter());
    const ParameterSpec& shape = TestTable()[3];
    EXPECT_EQ(shape.maximum, 2.0f);
    EXPECT_EQ(shape.defaultValue, 1.0f);
    EXPECT_EQ(shape.choices, (std::vector<std::string>{"Round", "Square", "Hex"}));
}

TEST(ClampParameterValue, FollowsTheKindsRules)
{
    const ParameterSpec& scale = TestTable()[0];
    const ParameterSpec& count = TestTable()[1];
    const ParameterSpec& shift = TestTable()[2];
    const ParameterSpec& shape = TestTable()[3];
    const ParameterSpec& invert = TestTable()[5];
    const struct {
        const ParameterSpec* spec;
        float in;
        float out;
    } cases[] = {
        {&scale, NAN, 2.5f},       {&scale, INFINITY, 2.5f}, {&scale, -INFINITY, 2.5f},
        {&scale, 3.33f, 3.33f},    {&scale, 11.0f, 10.0f},   {&scale, -1.0f, 0.0f},
        {&count, 2.5f, 3.0f},      {&count, 2.49f, 2.0f},    {&count, 0.0f, 1.0f},
        {&count, 1e30f, 10.0f},    {&shift, -2.5f, -3.0f},   {&shift, -2.4f, -2.0f},
        {&shift, -0.4f, -0.0f},    {&shape, -0.5f, 0.0f},    {&shape, 1.5f, 2.0f},
        {&shape, 7.0f, 2.0f},      {&invert, 0.5f, 1.0f},    {&invert, 0.49f, 0.0f},
        {&invert, 7.0f, 1.0f},     {&invert, NAN, 0.0f},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ClampParameterValue(*c.spec, c.in), c.out) << c.spec->key << " " << c.in;
}

TEST(ClampParameterValue, MaximumIsTestedBeforeMinimum)
{
    ParameterSpec crossed = MakeFloatParameter("x", "X", 5.0f, 1.0f, 3.0f, "", 1.0f);
    EXPECT_EQ(ClampParameterValue(crossed, 7.0f), 1.0f);
    EXPECT_EQ(ClampParameterValue(crossed, 0.0f), 5.0f);
    EXPECT_EQ(ClampParameterValue(crossed, 3.0f), 1.0f);
}

TEST(ParameterSet, LookupsByKey)
{
    TestSet set;
    EXPECT_EQ(set.GetValue("nope"), 0.0f);
    EXPECT_EQ(set.GetValue("scale"), 2.5f);  // defaults before any reset
    set.ResetToDefaults();
    set.SetValue("count", 7.0f);
    const std::vector<float> before = set.values;
    EXPECT_FALSE(set.SetValue("nope", 3.0f));
    EXPECT_FALSE(set.SetValue("Count", 3.0f));  // case matters
    EXPECT_FALSE(set.SetValue("count ", 3.0f));
    EXPECT_EQ(set.values, before);
    EXPECT_TRUE(set.SetValue("count", 2.5f));
    EXPECT_EQ(set.GetValue("count"), 3.0f);
}

TEST(ParameterSet, SetWithoutValuesReportsStoredDefaultsUntilTheFirstSet)
{
    OddDefaultSet set;
    EXPECT_EQ(set.GetValue("a"), 20.0f);  // unclamped
    EXPECT_TRUE(set.SetValue("b", 0.25f));
    EXPECT_EQ(set.values, (std::vector<float>{10.0f, 0.25f}));

    OddDefaultSet reset;
    reset.ResetToDefaults();
    EXPECT_EQ(reset.values, (std::vector<float>{10.0f, 0.5f}));
}

TEST(DescribeParameters, ShowsEachKindInItsOwnForm)
{
    TestSet set;
    EXPECT_EQ(DescribeParameters(set),
              "Test: Scale 2.50, Count 5, Shift 0, Shape Square, Wide 0.00, Invert off");
    set.SetValue("scale", 0.5f);
    set.SetValue("shift", -2.5f);
    set.SetValue("shape", 0.0f);
    set.SetValue("invert", 1.0f);
    EXPECT_EQ(DescribeParameters(set),
              "Test: Scale 0.50, Count 5, Shift -3, Shape Round, Wide 0.00, Invert on");
    // Values put in directly are shown as well as they can be: a missing choice by its index,
    // a negative one as the first choice.
    set.values[3] = 5.0f;
    EXPECT_NE(DescribeParameters(set).find("Shape 5,"), std::string::npos);
    set.values[3] = -3.0f;
    EXPECT_NE(DescribeParameters(set).find("Shape Round,"), std::string::npos);
    set.values[1] = 3e30f;
    EXPECT_NE(DescribeParameters(set).find("Count 2999999894026671207801419726848,"), std::string::npos);
}

TEST(ParametersToText, WritesNineSignificantDigits)
{
    TestSet set;
    set.ResetToDefaults();
    set.SetValue("scale", 0.7f);
    set.SetValue("count", 4.0f);
    set.SetValue("wide", -1.5e-20f);
    EXPECT_EQ(ParametersToText(set),
              "scale=0.699999988\ncount=4\nshift=0\nshape=1\nwide=-1.49999995e-20\ninvert=0\n");
}

TEST(ParametersToText, TextReadsBackBitForBit)
{
    std::mt19937 random(11);
    std::uniform_real_distribution<float> unit(0.0f, 10.0f);
    std::uniform_real_distribution<float> wide(-1e30f, 1e30f);
    for (int round = 0; round < 500; ++round) {
        TestSet written;
        written.ResetToDefaults();
        written.SetValue("scale", unit(random));
        written.SetValue("count", unit(random));
        written.SetValue("wide", round % 2 ? wide(random) : unit(random) * 1e-7f);
        TestSet read;
        read.ResetToDefaults();
        ParametersFromText(read, ParametersToText(written));
        ASSERT_EQ(read.values.size(), written.values.size());
        for (std::size_t i = 0; i < read.values.size(); ++i)
            ASSERT_EQ(std::bit_cast<std::uint32_t>(read.values[i]), std::bit_cast<std::uint32_t>(written.values[i]));
    }
}

TEST(ParametersFromText, SkipsWhatItCannotRead)
{
    const struct {
        const char* text;
        float scale;
    } cases[] = {
        {"scale=3", 3.0f},           {" scale=3", 2.5f},      {"scale =3", 2.5f},
        {"scale=abc", 2.5f},         {"scale=4.5xyz", 4.5f},  {"scale=\t 3\r", 3.0f},
        {"scale 3", 2.5f},           {"scale=", 2.5f},        {"scale=+3", 3.0f},
        {"scale=+-3", 2.5f},         {"scale=1=2", 1.0f},     {"scale=nan", 2.5f},
        {"scale=1e999", 2.5f},       {"scale=20", 10.0f},     {"x=1\nscale=6", 6.0f},
        {"scale=6\nscale=7\n", 7.0f}, {"scale=0x10", 0.0f},   {"\n\n=\nscale=1.25", 1.25f},
    };
    for (const auto& c : cases) {
        TestSet set;
        set.ResetToDefaults();
        set.SetValue("count", 9.0f);
        ParametersFromText(set, c.text);
        EXPECT_EQ(set.GetValue("scale"), c.scale) << c.text;
        EXPECT_EQ(set.GetValue("count"), 9.0f) << c.text;  // not named, so kept
    }
}

TEST(WriteParameters, WritesEachKindAsItsJsonType)
{
    TestSet set;
    set.ResetToDefaults();
    set.SetValue("scale", 0.7f);
    set.SetValue("invert", 1.0f);
    JsonNode document = NewJsonDocument();
    WriteParameters(set, document.ObjectChild("parameters"));
    EXPECT_EQ(document.root->dump(),
              R"({"parameters":{"scale":0.7,"count":5,"shift":0,"shape":1,"wide":0.0,"invert":true}})");
}

TEST(ReadParameters, TakesOnlyTheTypeEachKindExpects)
{
    auto document = std::make_shared<JsonValue>(JsonValue::parse(R"({
        "scale": "4", "count": 2.6, "shift": -1e39, "shape": true, "wide": 123,
        "invert": 1, "other": 5})"));
    const JsonView view{document, document.get()};
    TestSet set;
    set.ResetToDefaults();
    set.SetValue("shift", 4.0f);
    ReadParameters(set, view);
    EXPECT_EQ(set.GetValue("scale"), 2.5f);   // a string
    EXPECT_EQ(set.GetValue("count"), 3.0f);   // clamped and rounded
    EXPECT_EQ(set.GetValue("shift"), 4.0f);   // beyond the float range
    EXPECT_EQ(set.GetValue("shape"), 1.0f);   // a boolean for a choice
    EXPECT_EQ(set.GetValue("wide"), 123.0f);
    EXPECT_EQ(set.GetValue("invert"), 0.0f);  // a number for a switch

    auto flags = std::make_shared<JsonValue>(JsonValue::parse(R"({"invert": true})"));
    ReadParameters(set, JsonView{flags, flags.get()});
    EXPECT_EQ(set.GetValue("invert"), 1.0f);
    ReadParameters(set, JsonView{});  // nothing there: nothing changes
    EXPECT_EQ(set.GetValue("invert"), 1.0f);
}

TEST(WriteParameters, JsonFormReadsBack)
{
    TestSet written;
    written.ResetToDefaults();
    written.SetValue("scale", 0.123456789f);
    written.SetValue("shift", -7.0f);
    written.SetValue("shape", 2.0f);
    written.SetValue("wide", -9.87654e25f);
    JsonNode document = NewJsonDocument();
    WriteParameters(written, document);
    // Through text, as a preset file carries it.
    auto reparsed = std::make_shared<JsonValue>(JsonValue::parse(document.root->dump(2)));
    TestSet read;
    ReadParameters(read, JsonView{reparsed, reparsed.get()});
    EXPECT_EQ(read.values, written.values);
}

}  // namespace
}  // namespace grainforge::mesh::procedural
