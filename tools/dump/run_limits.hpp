// What ends a live run besides a stop signal, from a port or a HID device
// alike, and the one clock that measures it.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <optional>

namespace zelkolink_dump {

struct RunLimits {
  std::optional<uint64_t> count;                      // --count: rows (frames with --watch)
  std::optional<std::chrono::milliseconds> duration;  // --seconds
};

// The run's clock and its --seconds limit, started when it is made.
class RunTimer {
 public:
  using Clock = std::chrono::steady_clock;

  explicit RunTimer(std::optional<std::chrono::milliseconds> limit)
      : start_(Clock::now()), limit_(limit) {}

  // Seconds since the run started: a live row's time column.
  [[nodiscard]] double elapsed() const {
    return std::chrono::duration<double>(Clock::now() - start_).count();
  }
  [[nodiscard]] bool expired() const { return limit_ && Clock::now() - start_ >= *limit_; }

  // The next wait for input: longest, or less when the limit comes sooner
  // (at least 1 ms, so a wait never turns into a poll loop).
  [[nodiscard]] std::chrono::milliseconds wait(std::chrono::milliseconds longest) const {
    if (!limit_) return longest;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(start_ + *limit_ - Clock::now());
    return std::clamp(left, std::chrono::milliseconds(1), longest);
  }

 private:
  Clock::time_point start_;
  std::optional<std::chrono::milliseconds> limit_;
};

}  // namespace zelkolink_dump
