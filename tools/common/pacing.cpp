#include "pacing.hpp"

#include <algorithm>

namespace zelkolink_tools {

using std::chrono::nanoseconds;
using std::chrono::steady_clock;

SlotChoice choose_slot(uint64_t due, nanoseconds elapsed, nanoseconds interval) {
  const auto due_at = nanoseconds(interval.count() * static_cast<int64_t>(due));
  if (elapsed - due_at <= interval) return {due, 0};
  // The first slot strictly after `elapsed`.
  const auto next = static_cast<uint64_t>(elapsed.count() / interval.count()) + 1;
  return {next, next - due};
}

Pacer::Pacer(nanoseconds interval) : interval_(interval), start_(steady_clock::now()) {}

std::optional<uint64_t> Pacer::wait_next() {
  const SlotChoice choice = choose_slot(due_, steady_clock::now() - start_, interval_);
  const auto deadline_of = [&](uint64_t slot) {
    return start_ + nanoseconds(interval_.count() * static_cast<int64_t>(slot));
  };
  if (choice.skipped > 0) {
    // How far behind the run was when it found out.
    summary_.largest_lateness =
        std::max(summary_.largest_lateness,
                 std::chrono::duration_cast<nanoseconds>(steady_clock::now() - deadline_of(due_)));
    summary_.slots_skipped += choice.skipped;
    due_ = choice.slot;
  }
  const steady_clock::time_point deadline = deadline_of(due_);
  if (!timer_.sleep_until(deadline)) return std::nullopt;
  const steady_clock::time_point now = steady_clock::now();
  summary_.largest_lateness = std::max(summary_.largest_lateness, nanoseconds(now - deadline));
  if (summary_.slots_taken == 0) first_taken_ = now;
  last_taken_ = now;
  ++summary_.slots_taken;
  return due_++;
}

PacingSummary Pacer::summary() const {
  PacingSummary result = summary_;
  if (result.slots_taken >= 2) {
    result.mean_interval =
        nanoseconds(last_taken_ - first_taken_) / static_cast<int64_t>(result.slots_taken - 1);
  }
  return result;
}

}  // namespace zelkolink_tools
