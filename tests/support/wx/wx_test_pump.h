#pragma once

#include <chrono>
#include <functional>
#include <string>

namespace tessary::test {

// Pumps the wx event loop until the condition holds or the time runs out; X events take real
// time to arrive, so a test waits for what it expects instead of sleeping a fixed amount.
bool PumpUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds limit = std::chrono::milliseconds(2000));

// Pumps pending events for a short while (layout, paint) without waiting on a condition.
void PumpFor(std::chrono::milliseconds duration);

// Saves a window's on-screen pixels as a PNG, for a person to look at; false when it failed.
class WindowShot {
public:
  static bool Save(void* wxWindowPointer, const std::string& path);
};

}  // namespace tessary::test
