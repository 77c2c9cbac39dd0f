#pragma once

// Limits how often an idle-time pass runs (the toolbars' update pass asks every command's state,
// and idle events come in bursts while the mouse moves). A pass that is refused says how long
// until the next may run, so the caller can come back once and no change is left unshown.

#include <chrono>
#include <optional>

namespace grainforge::app {

class IdleThrottle {
public:
  using Clock = std::chrono::steady_clock;

  explicit IdleThrottle(std::chrono::milliseconds interval) : interval_(interval) {}

  // True when a pass may run at now (the first always may); the pass is then counted as run.
  bool TryRun(Clock::time_point now) {
    if (last_ && now - *last_ < interval_) return false;
    last_ = now;
    return true;
  }
  // How long after now the next pass may run; zero when it may run now.
  std::chrono::milliseconds Remaining(Clock::time_point now) const {
    if (!last_ || now - *last_ >= interval_) return std::chrono::milliseconds(0);
    return std::chrono::ceil<std::chrono::milliseconds>(interval_ - (now - *last_));
  }
  std::chrono::milliseconds Interval() const { return interval_; }

private:
  std::chrono::milliseconds interval_;
  std::optional<Clock::time_point> last_;
};

}  // namespace grainforge::app
