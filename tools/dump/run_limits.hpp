// What ends a live run besides a stop signal, from a port or a HID device
// alike; the run's clock (run_clock.hpp) tells when --seconds is up.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>

namespace zelkolink_dump {

struct RunLimits {
  std::optional<uint64_t> count;                      // --count: rows (frames with --watch)
  std::optional<std::chrono::milliseconds> duration;  // --seconds
};

}  // namespace zelkolink_dump
