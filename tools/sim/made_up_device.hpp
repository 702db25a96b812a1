// The simulated device sending made-up upload frames: smoothly moving
// values at --rate frames a second from each request on, with the faults
// asked for, until the host's stop frame.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <vector>

#include "device_stream.hpp"
#include "simulated_device.hpp"

namespace zelkolink_sim {

class MadeUpDevice final : public SimulatedDevice {
 public:
  MadeUpDevice(const SimOptions& options, PseudoTerminal& link, Recorder& recorder);

  // Serves the link until a stop signal.
  void run();

 private:
  using Clock = std::chrono::steady_clock;

  [[nodiscard]] Clock::time_point wake_at() const;
  [[nodiscard]] Clock::time_point due() const;
  [[nodiscard]] bool sending() const override { return stream_.has_value(); }
  void start_sending() override;
  void stop_sending() override { stream_.reset(); }
  void queue_due_frames();
  void send_pieces();

  uint64_t seed_;
  uint64_t sessions_ = 0;               // each session's pieces and faults get their own seed
  std::optional<DeviceStream> stream_;  // set while sending
  Clock::time_point started_;
};

}  // namespace zelkolink_sim
