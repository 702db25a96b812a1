// What the source thread hands to the SBUS loop: the newest values, when the
// last fresh ones arrived, and the one-line events both threads report. Only
// the newest values are kept, never a queue.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <optional>
#include <string>

#include "channel_map.hpp"

namespace zelkolink_bridge {

using Clock = std::chrono::steady_clock;

// "3.2 s", for event lines.
inline std::string seconds_text(std::chrono::nanoseconds duration) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f s", std::chrono::duration<double>(duration).count());
  return text;
}

// The run's clock: times are durations since the start of the run.
class RunClock {
 public:
  RunClock() : start_(Clock::now()) {}
  std::chrono::nanoseconds now() const { return Clock::now() - start_; }

 private:
  Clock::time_point start_;
};

class Newest {
 public:
  struct Snapshot {
    SourceValues values;
    std::optional<std::chrono::nanoseconds> last_fresh;  // when the newest fresh values were read
    uint64_t fresh_frames = 0;                           // fresh upload frames (or reports) so far
  };

  // Stores values read at `read_at`; only fresh ones move the link's clock.
  void publish(const SourceValues& values, bool fresh, std::chrono::nanoseconds read_at) {
    const std::lock_guard lock(mutex_);
    latest_.values = values;
    if (fresh) {
      latest_.last_fresh = read_at;
      ++latest_.fresh_frames;
    }
  }

  Snapshot snapshot() const {
    const std::lock_guard lock(mutex_);
    return latest_;
  }

 private:
  mutable std::mutex mutex_;
  Snapshot latest_;
};

// State changes and status, one line each on standard error, flushed at once:
// "zelkolink-bridge: [12.345] frame lost".
class EventLog {
 public:
  explicit EventLog(const RunClock& clock) : clock_(clock) {}
  void line(const std::string& text);

 private:
  const RunClock& clock_;
  std::mutex mutex_;
};

}  // namespace zelkolink_bridge
