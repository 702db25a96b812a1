// When a live tool tries again to open a device or port it lost: every
// 500 ms, on the run's clock, until it is back. The bridge's source, its
// SBUS port and any later live tool share the one schedule.
#pragma once

#include <chrono>
#include <cstdio>
#include <string>

namespace zelkolink_tools {

class Reconnect {
 public:
  static constexpr std::chrono::milliseconds kEvery{500};

  // The device went away at `now`: the first attempt is due one period on.
  void lost(std::chrono::nanoseconds now) {
    lost_at_ = now;
    next_ = now + kEvery;
  }

  // True when an attempt is due at `now`; a failed attempt is then told with
  // failed(now), so the next one waits a whole period.
  [[nodiscard]] bool due(std::chrono::nanoseconds now) const { return now >= next_; }
  void failed(std::chrono::nanoseconds now) { next_ = now + kEvery; }

  // "source back after 1.5 s": how long the device was gone.
  [[nodiscard]] std::string back_after(std::chrono::nanoseconds now) const {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f s",
                  std::chrono::duration<double>(now - lost_at_).count());
    return text;
  }

 private:
  std::chrono::nanoseconds lost_at_{};
  std::chrono::nanoseconds next_{};
};

}  // namespace zelkolink_tools
