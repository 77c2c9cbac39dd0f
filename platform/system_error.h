// The operating system's own text for an error number, as shown to the user after a failed
// file operation.
#pragma once

#include <string>

namespace grainforge::platform {

// Text of the error number `code` (an errno value), e.g. "Permission denied". Thread-safe.
std::string SystemErrorText(int code);

}  // namespace grainforge::platform
