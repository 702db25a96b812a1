// State changes and status, one line each on standard error with the run's
// time, flushed at once: "zelkolink-bridge: [12.345] frame lost". Both the
// SBUS loop and the source's thread write here.
#pragma once

#include <mutex>
#include <string>

#include "run_clock.hpp"

namespace zelkolink_bridge {

class EventLog {
 public:
  explicit EventLog(const zelkolink_tools::RunClock& clock) : clock_(clock) {}
  void line(const std::string& text);

 private:
  const zelkolink_tools::RunClock& clock_;
  std::mutex mutex_;
};

}  // namespace zelkolink_bridge
