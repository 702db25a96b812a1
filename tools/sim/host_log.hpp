// The simulator's event log: one line per event on standard error, flushed
// at once, so a test or a user watching it sees each as it happens.
#pragma once

#include <cstdio>

#include "host_frames.hpp"

namespace zelkolink_sim {

inline void log_line(const char* text) {
  std::fprintf(stderr, "%s\n", text);
  std::fflush(stderr);
}

// "request 01 00" or "stop", for a frame from the host.
inline void log_host_frame(const HostFrame& frame) {
  if (frame.kind == HostFrame::Kind::stop) {
    log_line("stop");
    return;
  }
  char line[32];
  std::snprintf(line, sizeof line, "request %02X %02X", unsigned{frame.request_bytes[0]},
                unsigned{frame.request_bytes[1]});
  log_line(line);
}

}  // namespace zelkolink_sim
