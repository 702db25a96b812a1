#include "simulated_device.hpp"

#include <array>
#include <span>

#include "host_log.hpp"

namespace zelkolink_sim {

void SimulatedDevice::take_host_bytes() {
  std::array<uint8_t, 1024> buffer{};
  const std::size_t got = link_.read(buffer);
  for (const HostFrame& frame : reader_.feed(std::span(buffer).first(got))) {
    log_host_frame(frame);
    if (frame.kind == HostFrame::Kind::stop) {
      stop_sending();
      queue_.clear();
      recorder_.flush();
      continue;
    }
    if (options_.echo) {
      queue_.insert(queue_.end(), frame.bytes.begin(), frame.bytes.end());
      log_line("echo");
    }
    if (sending()) {
      log_line("ignored: a request while sending");
      continue;
    }
    start_sending();
  }
}

}  // namespace zelkolink_sim
