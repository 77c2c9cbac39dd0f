#include "app/workflow/dialogs/relief_dialog_apply.h"

#include "app/document/grainforge_doc.h"

namespace grainforge::app {

ReliefDialogValues ReliefDialogValuesOf(const CGrainforgeDoc& doc) {
  ReliefDialogValues values;
  values.remesh = doc.remeshSettings;
  values.triangleLimit = doc.maximumTriangles;
  values.displayLimit = doc.displayTriangles;
  values.displacement = doc.displacementSettings;
  values.simplify = doc.simplifySettings;
  values.manualMidlevel = doc.displacementSettings.midLevel;
  return values;
}

bool StoreReliefDialogValues(CGrainforgeDoc& doc, const ReliefDialogValues& values) {
  const bool same = mesh::RemeshSettingsEquals(doc.remeshSettings, values.remesh) &&
                    mesh::DisplacementSettingsEquals(doc.displacementSettings, values.displacement) &&
                    mesh::SimplifySettingsEquals(doc.simplifySettings, values.simplify) &&
                    doc.maximumTriangles == values.triangleLimit && doc.displayTriangles == values.displayLimit;
  if (same) return false;
  doc.remeshSettings = values.remesh;
  doc.displacementSettings = values.displacement;
  doc.simplifySettings = values.simplify;
  doc.maximumTriangles = values.triangleLimit;
  doc.displayTriangles = values.displayLimit;
  doc.UpdatePreview();
  return true;
}

}  // namespace grainforge::app
