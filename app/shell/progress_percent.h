#pragma once

// The whole percent shown for a run's fraction, by the footer and the status bar alike:
// clamped to 0..100, half up, 0 for a fraction that is not a number.

namespace grainforge::app {

int ProgressPercent(float fraction);

}  // namespace grainforge::app
