// What the made-up device and the replay share: the link to the host, the
// record of what was written to it, the bytes waiting for the link to take
// them, and the answer to the host's frames.
#pragma once

#include <cstdint>
#include <vector>

#include "host_frames.hpp"
#include "pseudo_terminal.hpp"
#include "recorder.hpp"
#include "sim_options.hpp"

namespace zelkolink_sim {

class SimulatedDevice {
 public:
  SimulatedDevice(const SimulatedDevice&) = delete;
  SimulatedDevice& operator=(const SimulatedDevice&) = delete;
  SimulatedDevice(SimulatedDevice&&) = delete;
  SimulatedDevice& operator=(SimulatedDevice&&) = delete;

 protected:
  SimulatedDevice(const SimOptions& options, PseudoTerminal& link, Recorder& recorder)
      : options_(options), link_(link), recorder_(recorder) {}
  ~SimulatedDevice() = default;

  // Reads what the host wrote and answers each frame in turn, as a device
  // does: every frame is logged; a stop ends the stream, drops what was not
  // written yet and flushes the record; with --echo a frame goes back as it
  // came; a request starts the stream unless one is running.
  void take_host_bytes();

  [[nodiscard]] virtual bool sending() const = 0;
  virtual void start_sending() = 0;
  virtual void stop_sending() = 0;

  const SimOptions& options_;
  PseudoTerminal& link_;
  Recorder& recorder_;
  std::vector<uint8_t> queue_;  // bytes written that the link has not taken yet

 private:
  HostFrameReader reader_;
};

}  // namespace zelkolink_sim
