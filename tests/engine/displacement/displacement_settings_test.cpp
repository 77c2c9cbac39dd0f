#include "engine/displacement/displacement_settings.h"

#include "tests/support/json_view_of.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <string>
#include <vector>

namespace grainforge::mesh {
namespace {

using test::ViewOf;

std::string WrittenText(const DisplacementSettings& settings)
{
    const JsonNode node = NewJsonDocument();
    DisplacementSettingsToJson(node, settings);
    return node.root->dump();
}

TEST(DisplacementSettingsJson, DefaultsAreWrittenInOrderWithTheBaseNested)
{
    EXPECT_EQ(WrittenText(DisplacementSettings{}),
        R"({"method":"solid","strengthMillimetres":1.0,"midLevel":0.5,"midLevelMode":"manual",)"
        R"("direction":"centred","invert":false,"outsideRule":"average","limitToClearance":true,)"
        R"("mitreCreases":true,"preventFolds":true,"maximumTiltDegrees":80.0,)"
        R"("wallThresholdMillimetres":0.42,"checkThinWalls":true,"holdThinWalls":false,)"
        R"("base":{"enabled":false,"axis":2,"protectBelow":true,"planeMillimetres":0.0,)"
        R"("bandMillimetres":0.0}})");
}

// Each of the nineteen keys alone makes a default record differ, so each is read and each takes
// part in the equality; the whole record reads back equal.
TEST(DisplacementSettingsJson, EveryFieldCountsAndRoundTrips)
{
    const DisplacementSettings changed{.method = DisplacementMethod::mesh, .limitToClearance = false,
        .mitreCreases = false, .preventFolds = false, .maximumTiltDegrees = 70.0f,
        .wallThresholdMillimetres = 0.5f, .checkThinWalls = false, .holdThinWalls = true,
        .strengthMillimetres = 2.0f, .midLevel = 0.25f, .midLevelMode = MidLevelMode::automatic,
        .direction = DisplacementDirection::inward, .invert = true, .outsideRule = OutsideRule::any,
        .base = {.enabled = true, .axis = 1, .protectBelow = false, .planeMillimetres = 3.0f,
            .bandMillimetres = 0.5f}};
    const JsonValue document = JsonValue::parse(WrittenText(changed));
    DisplacementSettings back;
    DisplacementSettingsFromJson(ViewOf(document.dump()), back);
    EXPECT_TRUE(DisplacementSettingsEquals(back, changed));
    std::vector<JsonValue> single;
    for (const auto& item : document.items()) {
        if (item.key() != "base")
            single.push_back(JsonValue{{item.key(), item.value()}});
    }
    for (const auto& item : document["base"].items())
        single.push_back(JsonValue{{"base", JsonValue{{item.key(), item.value()}}}});
    ASSERT_EQ(single.size(), 19u);
    for (const JsonValue& one : single) {
        DisplacementSettings read;
        DisplacementSettingsFromJson(ViewOf(one.dump()), read);
        EXPECT_FALSE(DisplacementSettingsEquals(read, DisplacementSettings{})) << one.dump();
    }
}

TEST(DisplacementSettingsJson, UnusableValuesKeepTheField)
{
    DisplacementSettings odd;
    odd.direction = static_cast<DisplacementDirection>(9);
    const std::string oddText = WrittenText(odd);
    EXPECT_NE(oddText.find(R"("direction":9)"), std::string::npos);  // a bare number, not read back
    struct Case {
        std::string json;
        DisplacementDirection direction;
        std::int32_t axis;
    };
    const Case cases[] = {
        {R"({"direction":1})", DisplacementDirection::inward, 2},           // numbers are not names
        {R"({"direction":"Outward"})", DisplacementDirection::inward, 2},   // names are exact
        {R"({"direction":"outward"})", DisplacementDirection::outward, 2},
        {oddText, DisplacementDirection::inward, 2},
        {R"({"base":{"axis":2.0}})", DisplacementDirection::inward, 2},     // a float is no axis
        {R"({"base":{"axis":0}})", DisplacementDirection::inward, 0},
        {R"({"base":{"axis":5000000000}})", DisplacementDirection::inward, 2},
        {R"({"base.axis":0})", DisplacementDirection::inward, 2},           // dots mean nesting
    };
    for (const Case& c : cases) {
        DisplacementSettings s;
        s.direction = DisplacementDirection::inward;
        DisplacementSettingsFromJson(ViewOf(c.json), s);
        EXPECT_EQ(s.direction, c.direction) << c.json;
        EXPECT_EQ(s.base.axis, c.axis) << c.json;
    }
}

TEST(FormatDisplacementReport, Texts)
{
    DisplacementReport stopped;
    stopped.vertexCount = 8;
    EXPECT_EQ(FormatDisplacementReport(stopped),
        "Displaced 0 of 8 vertices, 0.0000 to 0.0000 mm, relief 0.0000 mm, mid-level 0.5000");

    DisplacementReport full = stopped;
    full.displacedVertices = 6;
    full.minimumOffset = -0.25f;
    full.maximumOffset = 0.5f;
    full.relief = 0.75f;
    full.midLevel = 0.4f;
    full.foldedTriangles = 3;
    full.foldRounds = 2;
    full.easedVertices = 4;
    full.easedFurther = 1;
    full.easedPastClearance = 0;
    full.foldedLeft = 1;
    full.crossingPairsMade = 9;
    full.crossingRounds = 1;
    full.crossingVerticesEased = 12;
    full.crossingPairsLeft = 0;
    full.keptLevelAtBase = 2;
    full.heldAtBasePlane = 1;
    full.cutByClearance = 5;
    full.heldForWalls = 7;
    full.stageTimes = {{"Sampling the map", 12.4}, {"Moving", 0.6}};
    EXPECT_EQ(FormatDisplacementReport(full),
        "Displaced 6 of 8 vertices, -0.2500 to 0.5000 mm, relief 0.7500 mm, mid-level 0.4000; "
        "3 triangles turning over eased in 2 rounds (4 vertices, 1 now further than before, "
        "0 past their clearance), 1 left; 9 crossings the relief made eased in 1 round (12 vertices), 0 left; "
        "2 kept level at the base; 1 held at the base plane; "
        "5 cut short by clearance\n    stages: Sampling the map 12 ms; Moving 1 ms;"
        "  7 vertices not moved inward: the wall under them would have gone below the threshold\n");
}

TEST(DisplacementSettings, TwoRecordsDifferingInTheOutsideRuleAreNotEqual)
{
    DisplacementSettings a;
    DisplacementSettings b;
    b.outsideRule = OutsideRule::all;
    EXPECT_FALSE(DisplacementSettingsEquals(a, b));
    EXPECT_TRUE(DisplacementSettingsEquals(a, DisplacementSettings{}));
}

}  // namespace
}  // namespace grainforge::mesh
