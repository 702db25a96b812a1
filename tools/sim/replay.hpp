// The simulated device replaying a capture: every read of the device's
// bytes in the capture becomes one write, at its recorded time from the
// first read (scaled by --speed), from the host's request on. The host meets
// the capture from its first byte, cut as it was cut when it was captured.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "simulated_device.hpp"

namespace zelkolink_sim {

struct ReplayBlock {
  std::chrono::nanoseconds at;  // since the capture's first read from the device
  std::vector<uint8_t> bytes;
};

// The device's reads in the capture file at path, timed from the first.
// Throws ToolError: kExitCannotOpen when the file cannot be read,
// kExitBadUsage, naming the file, when it is not a capture with reads from
// the device. The capture's notes (a last block cut short) are logged.
std::vector<ReplayBlock> load_replay(const std::string& path);

class Replay final : public SimulatedDevice {
 public:
  Replay(const SimOptions& options, PseudoTerminal& link, Recorder& recorder,
         std::vector<ReplayBlock> blocks);

  // Serves the link until a stop signal.
  void run();

 private:
  using Clock = std::chrono::steady_clock;

  [[nodiscard]] bool sending() const override { return next_.has_value(); }
  void start_sending() override;
  void stop_sending() override { next_.reset(); }
  void write_due();
  void write_block(const ReplayBlock& block);
  void send_queue();
  [[nodiscard]] Clock::time_point due(const ReplayBlock& block) const;
  [[nodiscard]] Clock::time_point wake_at() const;

  std::vector<ReplayBlock> blocks_;
  std::optional<std::size_t> next_;  // the block due next, while playing
  Clock::time_point started_;
};

}  // namespace zelkolink_sim
