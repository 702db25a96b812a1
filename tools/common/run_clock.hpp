// The clock of a live run: times are durations since the run started, and
// the run may have a limit (--seconds) that the clock tells has passed.
// Every live tool measures its rows, events and limits on this one clock.
#pragma once

#include <algorithm>
#include <chrono>
#include <optional>

namespace zelkolink_tools {

class RunClock {
 public:
  using Clock = std::chrono::steady_clock;

  explicit RunClock(std::optional<std::chrono::milliseconds> limit = std::nullopt)
      : start_(Clock::now()), limit_(limit) {}

  // Time since the run started.
  [[nodiscard]] std::chrono::nanoseconds now() const { return Clock::now() - start_; }

  // The same in seconds: a live row's time column.
  [[nodiscard]] double seconds() const { return std::chrono::duration<double>(now()).count(); }

  [[nodiscard]] bool expired() const { return limit_ && now() >= *limit_; }

  // The next wait for input: longest, or less when the limit comes sooner
  // (at least 1 ms, so a wait never turns into a poll loop).
  [[nodiscard]] std::chrono::milliseconds wait(std::chrono::milliseconds longest) const {
    if (!limit_) return longest;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(*limit_ - now());
    return std::clamp(left, std::chrono::milliseconds(1), longest);
  }

 private:
  Clock::time_point start_;
  std::optional<std::chrono::milliseconds> limit_;
};

}  // namespace zelkolink_tools
