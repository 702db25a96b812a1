// The simulated device sending made-up upload frames: smoothly moving
// values at --rate frames a second from each request on, with the faults
// asked for, until the host's stop frame.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <vector>

#include "device_stream.hpp"
#include "host_frames.hpp"
#include "pseudo_terminal.hpp"
#include "recorder.hpp"
#include "sim_options.hpp"

namespace zelkolink_sim {

class MadeUpDevice {
 public:
  MadeUpDevice(const SimOptions& options, PseudoTerminal& link, Recorder& recorder);

  // Serves the link until a stop signal.
  void run();

 private:
  using Clock = std::chrono::steady_clock;

  [[nodiscard]] Clock::time_point wake_at() const;
  [[nodiscard]] Clock::time_point due() const;
  void take_host_bytes();
  void start_stream();
  void queue_due_frames();
  void send_pieces();

  const SimOptions& options_;
  PseudoTerminal& link_;
  Recorder& recorder_;
  uint64_t seed_;
  uint64_t sessions_ = 0;  // each session's pieces and faults get their own seed
  HostFrameReader reader_;
  std::optional<DeviceStream> stream_;  // set while sending
  Clock::time_point started_;
  std::vector<uint8_t> queue_;  // bytes waiting to be written
};

}  // namespace zelkolink_sim
