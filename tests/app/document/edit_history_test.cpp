#include "tests/app/document/document_fixture.h"

#include <gtest/gtest.h>

#include <set>

namespace grainforge::test {
namespace {

// A drag that ends where it began leaves no undo step; one that moved leaves exactly one.
TEST(EditHistoryTest, DragsAreOneStepOrNone)
{
    DocumentFixture f;
    app::CGrainforgeDoc& doc = f.WithCube();
    const mesh::Vec3 start = doc.projection.cage.center;
    for (const float offset : {0.0f, 5.0f}) {
        SCOPED_TRACE(offset);
        const std::size_t steps = doc.undoStack.size();
        doc.BeginEdit();
        for (const float x : {1.0f, 2.0f, offset}) {
            doc.projection.cage.center.x = start.x + x;
            doc.UpdatePreview();
        }
        doc.CommitPendingEdit();
        EXPECT_EQ(doc.undoStack.size(), steps + (offset == 0.0f ? 0 : 1));
    }
    doc.OnEditUndo();
    EXPECT_EQ(doc.projection.cage.center, start);
}

// Snapshots between two pixel changes share one map: moving the cage and undoing copies no
// pixels, and the restored map holds the same pixels.
TEST(EditHistoryTest, CageMoveAndUndoShareOneMap)
{
    DocumentFixture f;
    app::CGrainforgeDoc& doc = f.WithCube();
    f.GiveTexture();
    const std::vector<float> pixels = doc.heightMap.blurred;
    doc.projection.cage.center.y += 3.0f;
    doc.UpdatePreview();
    ASSERT_FALSE(doc.undoStack.empty());
    ASSERT_NE(doc.undoBase.heightMap, nullptr);
    EXPECT_EQ(doc.undoStack.back().heightMap.get(), doc.undoBase.heightMap.get());
    const std::size_t handOvers = doc.textureHandOvers;

    doc.OnEditUndo();
    ASSERT_FALSE(doc.redoStack.empty());
    EXPECT_EQ(doc.redoStack.back().heightMap.get(), doc.undoBase.heightMap.get());
    EXPECT_EQ(doc.heightMap.blurred, pixels);
    EXPECT_EQ(doc.textureHandOvers, handOvers);  // the texture did not change: not handed over
}

TEST(EditHistoryTest, NewChangeAfterUndoClearsRedo)
{
    DocumentFixture f;
    app::CGrainforgeDoc& doc = f.WithCube();
    doc.remeshSettings.targetEdgeMillimetres = 1.0f;
    doc.UpdatePreview();
    doc.remeshSettings.targetEdgeMillimetres = 2.0f;
    doc.UpdatePreview();
    doc.OnEditUndo();
    EXPECT_EQ(doc.remeshSettings.targetEdgeMillimetres, 1.0f);
    EXPECT_EQ(doc.redoStack.size(), 1u);
    doc.OnEditRedo();
    EXPECT_EQ(doc.remeshSettings.targetEdgeMillimetres, 2.0f);
    doc.OnEditUndo();
    doc.simplifyOn = false;
    doc.UpdatePreview();
    EXPECT_TRUE(doc.redoStack.empty());

    DocumentFixture empty;  // without a part nothing is recorded
    empty.doc->remeshOn = false;
    empty.doc->UpdatePreview();
    empty.doc->NoteEdit();
    EXPECT_TRUE(empty.doc->undoStack.empty());
}

// The history keeps at most 100 steps, and the height maps only it holds stay within their
// budget; the oldest steps go first and undo still walks back through what is kept.
TEST(EditHistoryTest, HistoryIsBounded)
{
    DocumentFixture f;
    app::CGrainforgeDoc& doc = f.WithCube();
    for (int i = 1; i <= 130; ++i) {
        doc.remeshSettings.targetEdgeMillimetres = 0.01f * static_cast<float>(i);
        doc.UpdatePreview();
    }
    EXPECT_EQ(doc.undoStack.size(), 100u);
    EXPECT_EQ(doc.undoStack.front().remesh.targetEdgeMillimetres, 0.01f * 30.0f);

    // Every new texture is a map of 16 floats (its three images share them: no seamless step,
    // no blur); a budget of four such maps keeps the base's and three steps'.
    const std::uint64_t mapBytes = 16 * sizeof(float);
    doc.historyLimits.maximumHeightMapBytes = 4 * mapBytes;
    for (int i = 0; i < 10; ++i)
        f.GiveTexture();
    EXPECT_LE(app::HistoryHeightMapBytes(doc.undoStack, doc.redoStack, doc.undoBase), 4 * mapBytes);
    EXPECT_GE(doc.undoStack.size(), 3u);
    const std::uint32_t generation = doc.pixelGeneration;
    doc.OnEditUndo();
    EXPECT_EQ(doc.pixelGeneration, generation - 1);
    EXPECT_TRUE(doc.IsHeightMapLoaded());
}

// The base holds a map of its own (the document's working map goes on to other pixels), so it
// counts against the budget like a step's map; shared maps count once. A base map over the
// budget on its own is kept, and only steps with other maps make way for it.
TEST(EditHistoryTest, HistoryBudgetCountsTheBasesCopyOfTheMap)
{
    const std::uint64_t mapBytes = 16 * sizeof(float);  // one image: see HistoryIsBounded
    const struct { const char* name; std::uint64_t budget; std::size_t maps; } cases[] = {
        {"two maps", 2 * mapBytes, 2},
        {"one map", mapBytes, 1},
        {"less than the base's", mapBytes / 2, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        DocumentFixture f;
        app::CGrainforgeDoc& doc = f.WithCube();
        doc.historyLimits.maximumHeightMapBytes = c.budget;
        for (int i = 0; i < 5; ++i) {
            f.GiveTexture();
            doc.projection.cage.center.x += 1.0f;  // a step sharing the new map
            doc.UpdatePreview();
        }
        ASSERT_NE(doc.undoBase.heightMap, nullptr);
        EXPECT_NE(doc.undoBase.heightMap.get(), &doc.heightMap);
        std::set<const mesh::HeightMap*> held = {doc.undoBase.heightMap.get()};
        for (const app::EditState& state : doc.undoStack)
            if (state.heightMap)
                held.insert(state.heightMap.get());
        EXPECT_EQ(held.size(), c.maps);
        EXPECT_EQ(app::HistoryHeightMapBytes(doc.undoStack, doc.redoStack, doc.undoBase), c.maps * mapBytes);
        // The step that only moved the cage shares the base's map and stays.
        ASSERT_FALSE(doc.undoStack.empty());
        EXPECT_EQ(doc.undoStack.back().heightMap, doc.undoBase.heightMap);
    }
}

// Undoing a Lay on Face rebuilds the part at its old placement, which seats the relief base
// again; the base the snapshot holds (switched off here) must win, and nothing is recorded.
TEST(EditHistoryTest, UndoOfLayOnFaceKeepsTheBaseAsItWas)
{
    DocumentFixture f;
    app::CGrainforgeDoc& doc = f.WithCube();
    doc.displacementSettings.base.enabled = false;
    doc.UpdatePreview();
    doc.ComputeRestingFaces();
    int plusX = -1;
    for (std::size_t i = 0; i < doc.restingFaces.size(); ++i)
        if (doc.restingFaces[i].normal.x > 0.99f)
            plusX = static_cast<int>(i);
    ASSERT_TRUE(doc.LayOnFace(plusX));
    ASSERT_TRUE(doc.displacementSettings.base.enabled);
    const std::size_t steps = doc.undoStack.size();
    doc.OnEditUndo();
    EXPECT_FALSE(doc.displacementSettings.base.enabled);
    EXPECT_TRUE(app::EditStateEquals(doc.CaptureEditState(), doc.undoBase));
    doc.UpdatePreview();
    EXPECT_EQ(doc.undoStack.size(), steps - 1);
}

TEST(EditHistoryTest, SyncJobRunnerJoinsAndReportsCancel)
{
    app::SyncJobRunner runner;
    int ran = 0;
    EXPECT_TRUE(runner.RunModalJob([&ran](const std::atomic<bool>&) { ++ran; }));
    EXPECT_FALSE(runner.RunModalJob([&runner](const std::atomic<bool>& cancel) {
        runner.Cancel();
        EXPECT_TRUE(cancel.load());
    }));
    EXPECT_FALSE(runner.RunModalJob([](const std::atomic<bool>&) { throw 1; }));
    EXPECT_EQ(ran, 1);
}

}  // namespace
}  // namespace grainforge::test
