#include <pthread.h>
#include <sched.h>

#include <cerrno>
#include <ctime>

#include "realtime.hpp"

namespace zelkolink_tools {

// clock_nanosleep on CLOCK_MONOTONIC (steady_clock's clock on Linux) with an
// absolute deadline: the kernel sleeps to the deadline itself, so nothing
// needs keeping between sleeps.
struct DeadlineTimer::System {};

DeadlineTimer::DeadlineTimer() = default;
DeadlineTimer::~DeadlineTimer() = default;

// A member, not static, because the Windows timer keeps a handle between sleeps.
// NOLINTNEXTLINE(readability-convert-member-functions-to-static)
bool DeadlineTimer::sleep_until(std::chrono::steady_clock::time_point deadline) {
  const std::chrono::nanoseconds since_epoch = deadline.time_since_epoch();
  timespec when{};
  when.tv_sec = static_cast<time_t>(since_epoch.count() / 1000000000);
  when.tv_nsec = static_cast<long>(since_epoch.count() % 1000000000);
  return clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &when, nullptr) != EINTR;
}

bool raise_thread_priority() {
  sched_param parameter{};
  parameter.sched_priority = sched_get_priority_min(SCHED_FIFO);
  return pthread_setschedparam(pthread_self(), SCHED_FIFO, &parameter) == 0;
}

}  // namespace zelkolink_tools
