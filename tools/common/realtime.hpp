// Keeping time in live loops: sleeping to an absolute deadline on the
// monotonic clock, and asking the system to run a thread whose timing
// matters ahead of ordinary work. One implementation per platform
// (realtime_posix.cpp, realtime_windows.cpp) sits behind this interface.
#pragma once

#include <chrono>
#include <memory>

namespace zelkolink_tools {

class DeadlineTimer {
 public:
  DeadlineTimer();
  ~DeadlineTimer();
  DeadlineTimer(const DeadlineTimer&) = delete;
  DeadlineTimer& operator=(const DeadlineTimer&) = delete;
  DeadlineTimer(DeadlineTimer&&) = delete;
  DeadlineTimer& operator=(DeadlineTimer&&) = delete;

  // Sleeps until `deadline`, at once when it has passed. Returns false when a
  // signal cut the sleep short (POSIX), so the caller can look for a stop. On
  // Windows a console stop does not cut the sleep, which always returns true.
  bool sleep_until(std::chrono::steady_clock::time_point deadline);

 private:
  struct System;  // what the platform sleeps on
  std::unique_ptr<System> system_;
};

// Asks the system to run the calling thread ahead of ordinary threads, so a
// busy machine delays its wake-ups less: SCHED_FIFO at the lowest real-time
// priority on Linux, which needs root, CAP_SYS_NICE or an RLIMIT_RTPRIO
// allowance; THREAD_PRIORITY_HIGHEST on Windows. Returns false when the
// system refused, and the thread keeps its usual priority. Only for threads
// that never spin: they sleep on a deadline or in poll() between short jobs.
bool raise_thread_priority();

}  // namespace zelkolink_tools
