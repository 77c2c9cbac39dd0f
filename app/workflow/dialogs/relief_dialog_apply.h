#pragma once

// The relief and simplify dialog's values taken from the document and stored back under the
// editing rule: copy the records, and only when the copy differs store it and refresh.

#include "app/workflow/dialogs/relief_dialog_model.h"

namespace grainforge::app {

class CGrainforgeDoc;

ReliefDialogValues ReliefDialogValuesOf(const CGrainforgeDoc& doc);

// Stores the values and calls UpdatePreview when any of them differs from the document's;
// true when something was stored.
bool StoreReliefDialogValues(CGrainforgeDoc& doc, const ReliefDialogValues& values);

}  // namespace grainforge::app
