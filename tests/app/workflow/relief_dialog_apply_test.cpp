#include "app/workflow/dialogs/relief_dialog_apply.h"

#include "app/shell/kit/number_text.h"
#include "tests/app/document/document_fixture.h"

#include <gtest/gtest.h>

namespace grainforge::app {
namespace {

// OK on an untouched dialog stores nothing and refreshes nothing; a changed field is stored
// and refreshes once, and "no limit" stays no limit.
TEST(ReliefDialogApply, StoresOnlyWhenTheCopyDiffers) {
  test::DocumentFixture fixture;
  CGrainforgeDoc& doc = fixture.WithCube();
  doc.maximumTriangles = 0;
  ReliefDialogValues values = ReliefDialogValuesOf(doc);
  ReliefDialogFields fields;
  // The fields as the dialog shows the document's values.
  fields.triangleSize = FormatDialogFloat(values.remesh.targetEdgeMillimetres);
  fields.strength = FormatDialogFloat(values.displacement.strengthMillimetres);
  fields.midlevel = FormatDialogFloat(values.displacement.midLevel);
  fields.direction = static_cast<int>(values.displacement.direction);
  fields.automaticMidlevel = values.displacement.midLevelMode == mesh::MidLevelMode::automatic;
  fields.keepBedFlat = values.displacement.base.enabled;
  fields.triangleLimit = LimitFieldText(values.triangleLimit);
  fields.displayLimit = LimitFieldText(values.displayLimit);
  fields.planarTolerance = FormatDialogFloat(values.simplify.planarToleranceMillimetres);
  fields.detailLevel = FormatDialogFloat(values.simplify.meshDetailError);
  ReadReliefFields(fields, values);
  fixture.host.hints.clear();
  EXPECT_FALSE(StoreReliefDialogValues(doc, values));
  EXPECT_TRUE(fixture.host.hints.empty());
  EXPECT_EQ(doc.maximumTriangles, 0u);

  fields.strength = L"-4";
  ReadReliefFields(fields, values);
  EXPECT_TRUE(StoreReliefDialogValues(doc, values));
  EXPECT_EQ(fixture.host.hints.size(), 1u);
  EXPECT_FLOAT_EQ(doc.displacementSettings.strengthMillimetres, 0.0f);
  EXPECT_EQ(doc.maximumTriangles, 0u);
}

}  // namespace
}  // namespace grainforge::app
