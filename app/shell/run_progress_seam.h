#pragma once

// The frame hands the run's progress sample to the Workflow pane's footer through these, so
// that the status bar and the footer show one sample; a pane that is not the Workflow pane
// ignores them.

#include <string>

namespace grainforge::app {

class CStaticPane;

void ShowRunProgressIn(CStaticPane* pane, const std::wstring& stage, float fraction, bool fractionKnown);
void ClearRunProgressIn(CStaticPane* pane);

}  // namespace grainforge::app
