#include "engine/repair/fix_change.h"

#include "engine/mesh/test_shapes.h"
#include "engine/mesh/welding.h"
#include "tests/support/shapes.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace grainforge::mesh {
namespace {

TriangleMesh Plate() { return test::MakeBox({-20, -20, 0}, {20, 20, 1}); }
TriangleMesh Boss(float lift) { return test::MakeBox({-8, -8, 1 + lift}, {8, 8, 17 + lift}); }
TriangleMesh BossOnPlate(float lift) { return test::Combined(Plate(), Boss(lift)); }

// A fin 10 mm long, `thickness` thick (along y) and 5 mm tall, its four top corners pushed
// `shift` along y: its tip leans out of the part by that much, its volume the same.
TriangleMesh Fin(float thickness, float shift = 0.0f)
{
    TriangleMesh fin = test::MakeBox({0, 0, 0}, {10, thickness, 5});
    for (MeshVertex& v : fin.vertices)
        if (v.position.z == 5.0f)
            v.position.y += shift;
    return fin;
}

// Two cubes sharing one edge (at x = y = 10) as one body, beside a box whose own box covers
// the second cube's more than the pair's does; `split` takes the second cube apart from the
// first, its copies of the shared corners 0.002 mm off, as a non-manifold split leaves them.
TriangleMesh CubesOnAnEdge(bool split)
{
    TriangleMesh second = test::MakeBox({10, 10, 0}, {20, 20, 10});
    if (split)
        for (MeshVertex& v : second.vertices)
            if (v.position.x == 10.0f && v.position.y == 10.0f)
                v.position += Vec3{0.0014f, 0.0014f, 0.0f};
    TriangleMesh pair = test::Combined(test::MakeBox({0, 0, 0}, {10, 10, 10}), second);
    if (!split)
        WeldIdenticalVertices(pair);
    return test::Combined(pair, test::MakeBox({10.5f, 10.5f, 0.5f}, {20, 20, 10.5f}));
}

// An L-shaped prism (12,000 mm3, 10 mm high) whose arm tip's top corner at (40, 20, 10) is sunk
// `sink` mm, as a collapse cuts a corner away: the box keeps its sides through the corners
// beside it, and the volume changes by `sink` / 180.
TriangleMesh SunkArm(float sink)
{
    TriangleMesh prism = test::MakeLPrism();
    for (MeshVertex& v : prism.vertices)
        if (v.position.x == 40.0f && v.position.y == 20.0f && v.position.z == 10.0f)
            v.position.z -= sink;
    return prism;
}

// Two 5 mm cubes 1e6 mm out sharing an edge, as one body; `parted` takes the second apart, its
// copies of the shared corners one float step (0.0625 mm there) into it on x and y.
TriangleMesh FarCubesOnAnEdge(bool parted)
{
    const float o = 1e6f;
    TriangleMesh second = test::MakeBox({o + 5, o + 5, o}, {o + 10, o + 10, o + 5});
    if (parted)
        for (MeshVertex& v : second.vertices)
            if (v.position.x == o + 5 && v.position.y == o + 5)
                v.position += Vec3{0.0625f, 0.0625f, 0.0f};
    TriangleMesh pair = test::Combined(test::MakeBox({o, o, o}, {o + 5, o + 5, o + 5}), second);
    if (!parted)
        WeldIdenticalVertices(pair);
    return pair;
}

// Known answers: a 10 mm cube (1000 mm3) and what a fix might make of it.
TEST(MeasureFixChange, MeasuresEachBodyAgainstItsOwnSize)
{
    struct Case {
        const char* name;
        std::function<TriangleMesh()> before, after;
        float volumeShare, boxShare;  // expected, to 1e-4
        std::uint64_t lost;
        bool large;
        float lossShare = -1.0f;  // the furthest corner of the part from what is left, to 1e-3 (when set)
    };
    const auto cube = [] { return test::MakeBox({0, 0, 0}, {10, 10, 10}); };
    const Case cases[] = {
        {"unchanged", cube, cube, 0.0f, 0.0f, 0, false},
        // An STL file's soup of corners is one body once its corners are taken by position.
        {"the same cube as a soup", cube, [&] { return test::ToSoup(cube()); }, 0.0f, 0.0f, 0, false},
        {"one side pushed in 0.5%", cube, [] { return test::MakeBox({0, 0, 0}, {9.95f, 10, 10}); }, 0.005f, 0.005f, 0,
            false},
        {"one side pushed in 2%", cube, [] { return test::MakeBox({0, 0, 0}, {9.8f, 10, 10}); }, 0.02f, 0.02f, 0, true},
        // The boss keeps its volume, but stands 0.32 mm off the plate: 2% of its 16 mm height.
        {"boss lifted off its plate", [] { return BossOnPlate(0.0f); }, [] { return BossOnPlate(0.32f); }, 0.0f, 0.02f, 0,
            true},
        // A crumb beside the part is no share of it; a body of half the part is.
        {"crumb taken away", [&] { return test::Combined(cube(), test::MakeBox({20, 0, 0}, {20.3f, 0.3f, 0.3f})); }, cube,
            0.0f, 0.0f, 1, false},
        {"body taken away", [&] { return test::Combined(cube(), test::MakeBox({20, 0, 0}, {30, 10, 10})); }, cube, 0.0f,
            0.0f, 1, true},
        // Split into two pieces that together are the body: nothing changed.
        {"split into two pieces", cube,
            [] { return test::Combined(test::MakeBox({0, 0, 0}, {5, 10, 10}), test::MakeBox({5, 0, 0}, {10, 10, 10})); },
            0.0f, 0.0f, 0, false},
        // Fault pinned: a piece split off one body was credited to the neighbour whose box it
        // overlaps most, and both bodies read as changed by half their volume. A piece belongs
        // to the body its corners came from.
        // The cube parted off loses the sliver its split corners cut off (0.14 of its 1000 mm3).
        {"cubes sharing an edge split apart", [] { return CubesOnAnEdge(false); }, [] { return CubesOnAnEdge(true); },
            0.00014f, 0.0f, 0, false},
        // Fault pinned: the pair was measured as one body, and the cube that lost 1.25% of its
        // own volume to the split passed as a change of 0.6% of the pair's.
        {"far cubes parted along their edge by a float step", [] { return FarCubesOnAnEdge(false); },
            [] { return FarCubesOnAnEdge(true); }, 0.0125f, 0.0f, 0, true, 0.0f},
        // Fault pinned: a corner cut away measured only from what was written (every corner on
        // the part) passed; the arm tip's corner lies 1.5 mm from what is left, 15% of the
        // body's 10 mm height, more than any fix may move it.
        {"arm tip sunk 1.5 mm, volume 0.8%, box kept", [] { return SunkArm(0.0f); }, [] { return SunkArm(1.5f); },
            1.5f / 180.0f, 0.0f, 0, true, 0.1495f},
        // Relaxing moves a corner as far as a tenth of its body's size, landing a hair past it
        // by float rounding: no change past the rule (the put-back took back such moves).
        {"arm tip sunk to a tenth of its 10 mm", [] { return SunkArm(0.0f); }, [] { return SunkArm(1.0035f); },
            1.0035f / 180.0f, 0.0f, 0, false, 0.1f},
        {"arm tip sunk 0.5 mm", [] { return SunkArm(0.0f); }, [] { return SunkArm(0.5f); }, 0.5f / 180.0f, 0.0f, 0,
            false, 0.05f},
        // A leaning tip moves a side of the fin's box against its thickness along that axis.
        {"fin tip pushed 0.3 mm, 75% of its 0.4 mm", [] { return Fin(0.4f); }, [] { return Fin(0.4f, 0.3f); },
            0.0f, 0.75f, 0, true},
        {"fin tip pushed 0.1 mm, 25% of its 0.4 mm", [] { return Fin(0.4f); }, [] { return Fin(0.4f, 0.1f); },
            0.0f, 0.25f, 0, true},
        {"0.05 mm fin pushed 0.03 mm", [] { return Fin(0.05f); }, [] { return Fin(0.05f, 0.03f); }, 0.0f, 0.6f, 0,
            true},
    };
    for (const Case& c : cases) {
        const FixChangeReport report = MeasureFixChange(c.before(), c.after());
        EXPECT_TRUE(report.measured) << c.name;
        EXPECT_NEAR(report.largestVolumeShare, c.volumeShare, 1e-4) << c.name;
        EXPECT_NEAR(report.largestBoxShare, c.boxShare, 1e-4) << c.name;
        EXPECT_EQ(report.bodiesLost, c.lost) << c.name;
        if (c.lossShare >= 0.0f) {
            EXPECT_NEAR(report.largestLossShare, c.lossShare, 1e-3) << c.name;
        }
        EXPECT_EQ(IsLargeFixChange(report), c.large) << c.name << ": " << FormatFixChange(report);
    }
    EXPECT_FALSE(MeasureFixChange(TriangleMesh{}, cube()).measured);
}

TEST(FormatLargeFixChanges, NamesEachChangeWithItsSize)
{
    const FixChangeReport lifted = MeasureFixChange(BossOnPlate(0.0f), BossOnPlate(0.32f));
    EXPECT_EQ(FormatLargeFixChanges(lifted),
        std::vector<std::string>{"the fixes moved a side of a body by 0.32 mm along z, 2.0% of its 16.00 mm there"});
    const FixChangeReport shrunk =
        MeasureFixChange(test::MakeBox({0, 0, 0}, {10, 10, 10}), test::MakeBox({0, 0, 0}, {9.5f, 10, 10}));
    EXPECT_EQ(FormatLargeFixChanges(shrunk),
        (std::vector<std::string>{"the fixes changed a body's volume by 5.0% (1000.00 to 950.00 mm3), the body 10.00 x "
                                  "10.00 x 10.00 mm at (5.00, 5.00, 5.00)",
            "the fixes moved a side of a body by 0.50 mm along x, 5.0% of its 10.00 mm there"}));
    EXPECT_EQ(FormatFixChange(MeasureFixChange(Plate(), Plate())),
        "the fixes changed each body by at most 0.0% of its volume and 0.0% of its size");
    EXPECT_TRUE(FormatLargeFixChanges(MeasureFixChange(Plate(), Plate())).empty());
    // A real change reads as one however small: 0.04% of the cube's volume, moves of 0.004 mm.
    EXPECT_EQ(FormatFixChange(MeasureFixChange(test::MakeBox({0, 0, 0}, {10, 10, 10}),
                  test::MakeBox({0, 0, 0}, {10, 10, 10.004f}))),
        "the fixes changed each body by at most 0.04% of its volume and 0.04% of its size, and moved the surface at "
        "most 0.004 mm, where the part is 10.00 mm thick");
    // Fault pinned: a side pushed in leaves every corner written on the part, and the move was
    // said to be none; the part's corners lie 0.004 mm off what is written.
    EXPECT_EQ(FormatFixChange(MeasureFixChange(test::MakeBox({0, 0, 0}, {10, 10, 10}),
                  test::MakeBox({0, 0, 0}, {9.996f, 10, 10}))),
        "the fixes changed each body by at most 0.04% of its volume and 0.04% of its size, and moved the surface at "
        "most 0.004 mm, where the part is 10.00 mm thick");
    // A corner cut away is named with its distance, its share of the body's size and its place.
    EXPECT_EQ(FormatLargeFixChanges(MeasureFixChange(SunkArm(0.0f), SunkArm(1.5f))),
        std::vector<std::string>{"the fixes left a corner of a body 1.49 mm from what is written, 14.9% of its 10.00 mm "
                                 "smallest side, at (40.00, 20.00, 10.00)"});
    const std::string cut = FormatFixChange(MeasureFixChange(SunkArm(0.0f), SunkArm(0.5f)));
    EXPECT_TRUE(cut.ends_with(", and moved the surface at most 0.50 mm, where the part is 10.00 mm thick")) << cut;
    // The furthest move is said against the thickness where it happened, not the body's size:
    // the tip of a 0.4 mm fin leant 0.3 mm over.
    const std::string leaning = FormatFixChange(MeasureFixChange(Fin(0.4f), Fin(0.4f, 0.3f)));
    EXPECT_TRUE(leaning.ends_with(" of its volume and 75.0% of its size, and moved the surface at most 0.30 mm, where "
                                  "the part is 0.40 mm thick")) << leaning;
}

}  // namespace
}  // namespace grainforge::mesh
