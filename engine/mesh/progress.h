// The callback through which long engine operations report progress and learn that the user
// wants them to stop.
#pragma once

#include <functional>
#include <string>

namespace grainforge::mesh {

// Called with the current stage text and a fraction from 0 to 1, or -1 when no fraction is
// known. Returning false asks the running operation to stop; it then leaves its input as it
// was. Operations call it at coarse checkpoints, never once per element.
using ProgressCallback = std::function<bool(const std::string& stage, float fraction)>;

}  // namespace grainforge::mesh
