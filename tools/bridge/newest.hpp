// What the source thread hands to the SBUS loop: the newest values and when
// the last fresh ones arrived. Only the newest values are kept, never a
// queue.
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>

#include "channel_map.hpp"

namespace zelkolink_bridge {

class Newest {
 public:
  struct Snapshot {
    SourceValues values;
    std::optional<std::chrono::nanoseconds> last_fresh;  // when the newest fresh values were read
    uint64_t fresh_frames = 0;                           // fresh upload frames (or reports) so far
  };

  // Stores values read at `read_at` (on the run's clock); only fresh ones
  // move the link's clock.
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

}  // namespace zelkolink_bridge
