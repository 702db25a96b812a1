#include "event_log.hpp"

#include <cstdio>

namespace zelkolink_bridge {

void EventLog::line(const std::string& text) {
  const std::lock_guard lock(mutex_);
  std::fprintf(stderr, "zelkolink-bridge: [%.3f] %s\n", clock_.seconds(), text.c_str());
  std::fflush(stderr);
}

}  // namespace zelkolink_bridge
