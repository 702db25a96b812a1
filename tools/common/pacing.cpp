#include "pacing.hpp"

#include <algorithm>

#if defined(_WIN32)
#  include <windows.h>
// Older MinGW headers lack it; the value is the system's.
#  ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#    define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002
#  endif
#else
#  include <cerrno>
#  include <ctime>
#endif

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

#if defined(_WIN32)

// A high-resolution waitable timer where the system has one (Windows 10
// 1803 on); otherwise a plain one, with the system timer set to 1 ms so it is
// not rounded to the default 15.6 ms tick. Each wait is set relative to the
// monotonic clock's distance to the absolute deadline, so the system clock
// being adjusted cannot move it and nothing accumulates.
struct Pacer::Timer {
  HANDLE handle = nullptr;
  bool raised_resolution = false;

  Timer() {
    handle = CreateWaitableTimerExW(nullptr, nullptr, CREATE_WAITABLE_TIMER_HIGH_RESOLUTION,
                                    TIMER_ALL_ACCESS);
    if (handle == nullptr) {
      handle = CreateWaitableTimerW(nullptr, TRUE, nullptr);
      raised_resolution = timeBeginPeriod(1) == TIMERR_NOERROR;
    }
  }
  ~Timer() {
    if (handle != nullptr) CloseHandle(handle);
    if (raised_resolution) timeEndPeriod(1);
  }
  Timer(const Timer&) = delete;
  Timer& operator=(const Timer&) = delete;
  Timer(Timer&&) = delete;
  Timer& operator=(Timer&&) = delete;

  bool sleep_until(steady_clock::time_point deadline) const {
    const nanoseconds left = deadline - steady_clock::now();
    if (left <= nanoseconds(0)) return true;
    LARGE_INTEGER due{};
    due.QuadPart = -std::max<int64_t>(1, left.count() / 100);  // negative: relative, 100 ns units
    if (handle != nullptr && SetWaitableTimer(handle, &due, 0, nullptr, nullptr, FALSE)) {
      WaitForSingleObject(handle, INFINITE);
    } else {
      Sleep(static_cast<DWORD>(left.count() / 1000000));
    }
    // A timer may fire a little early on its own tick; finish the wait.
    while (steady_clock::now() < deadline) Sleep(0);
    return true;
  }
};

#else

// clock_nanosleep on CLOCK_MONOTONIC (steady_clock's clock on Linux) with an
// absolute deadline: the kernel sleeps to the deadline itself.
struct Pacer::Timer {
  static bool sleep_until(steady_clock::time_point deadline) {
    const nanoseconds since_epoch = deadline.time_since_epoch();
    timespec when{};
    when.tv_sec = static_cast<time_t>(since_epoch.count() / 1000000000);
    when.tv_nsec = static_cast<long>(since_epoch.count() % 1000000000);
    const int result = clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &when, nullptr);
    return result != EINTR;
  }
};

#endif

Pacer::Pacer(nanoseconds interval)
    : timer_(std::make_unique<Timer>()), interval_(interval), start_(steady_clock::now()) {}

Pacer::~Pacer() = default;

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
  if (!timer_->sleep_until(deadline)) return std::nullopt;
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
