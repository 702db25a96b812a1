// Pacing a live loop on absolute deadlines. Slot n is due at
// start + n × interval, whatever happened before it, so a late wake-up delays
// that one slot and never shifts the ones after it: the cadence cannot drift.
// A run that falls more than one interval behind (the machine stalled, the
// port blocked) drops the slots it missed and resumes at the next slot still
// in the future; the dropped slots are counted, never sent late in a burst.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>

#include "realtime.hpp"

namespace zelkolink_tools {

// What a run's pacing looked like, for its closing line.
struct PacingSummary {
  uint64_t slots_taken = 0;    // waits that ended at a slot
  uint64_t slots_skipped = 0;  // slots dropped because the run fell behind
  // Mean time between the first and the last slot taken; zero with fewer than two.
  std::chrono::nanoseconds mean_interval{0};
  // The furthest past a slot's deadline the run ever found itself, including
  // the times that made it skip.
  std::chrono::nanoseconds largest_lateness{0};
};

// Which slot to take next: `due` is the slot due next and `elapsed` the time
// since slot 0. Within one interval of its deadline the due slot is taken
// (at once if it is late); further behind, every slot already past is skipped
// and the first future one is taken.
struct SlotChoice {
  uint64_t slot;
  uint64_t skipped;
};
SlotChoice choose_slot(uint64_t due, std::chrono::nanoseconds elapsed,
                       std::chrono::nanoseconds interval);

class Pacer {
 public:
  // Slot 0 is due at once. interval must be positive.
  explicit Pacer(std::chrono::nanoseconds interval);

  // Sleeps until the next slot is due and returns its number. Returns
  // nothing when a signal cut the sleep short (Linux), so the caller can
  // check for a stop; calling again resumes the same wait. On Windows a
  // console stop does not cut the sleep: it ends within one interval.
  std::optional<uint64_t> wait_next();

  PacingSummary summary() const;

 private:
  DeadlineTimer timer_;
  std::chrono::nanoseconds interval_;
  std::chrono::steady_clock::time_point start_;
  uint64_t due_ = 0;  // the slot to take next
  PacingSummary summary_;
  std::chrono::steady_clock::time_point first_taken_{};
  std::chrono::steady_clock::time_point last_taken_{};
};

}  // namespace zelkolink_tools
