#include <windows.h>

#include <algorithm>
#include <cstdint>

#include "realtime.hpp"

// Older MinGW headers lack it; the value is the system's.
#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#  define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002
#endif

namespace zelkolink_tools {

using std::chrono::nanoseconds;
using std::chrono::steady_clock;

// A high-resolution waitable timer where the system has one (Windows 10
// 1803 on); otherwise a plain one, with the system timer set to 1 ms so it is
// not rounded to the default 15.6 ms tick. Each wait is set relative to the
// monotonic clock's distance to the absolute deadline, so the system clock
// being adjusted cannot move it and nothing accumulates.
struct DeadlineTimer::System {
  HANDLE handle = nullptr;
  bool raised_resolution = false;
};

DeadlineTimer::DeadlineTimer() : system_(std::make_unique<System>()) {
  system_->handle = CreateWaitableTimerExW(nullptr, nullptr, CREATE_WAITABLE_TIMER_HIGH_RESOLUTION,
                                           TIMER_ALL_ACCESS);
  if (system_->handle == nullptr) {
    system_->handle = CreateWaitableTimerW(nullptr, TRUE, nullptr);
    system_->raised_resolution = timeBeginPeriod(1) == TIMERR_NOERROR;
  }
}

DeadlineTimer::~DeadlineTimer() {
  if (system_->handle != nullptr) CloseHandle(system_->handle);
  if (system_->raised_resolution) timeEndPeriod(1);
}

bool DeadlineTimer::sleep_until(steady_clock::time_point deadline) {
  const nanoseconds left = deadline - steady_clock::now();
  if (left <= nanoseconds(0)) return true;
  LARGE_INTEGER due{};
  due.QuadPart = -std::max<int64_t>(1, left.count() / 100);  // negative: relative, 100 ns units
  if (system_->handle != nullptr &&
      SetWaitableTimer(system_->handle, &due, 0, nullptr, nullptr, FALSE)) {
    WaitForSingleObject(system_->handle, INFINITE);
  } else {
    Sleep(static_cast<DWORD>(left.count() / 1000000));
  }
  // A timer may fire a little early on its own tick; finish the wait.
  while (steady_clock::now() < deadline) Sleep(0);
  return true;
}

bool raise_thread_priority() {
  return SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_HIGHEST) != 0;
}

}  // namespace zelkolink_tools
