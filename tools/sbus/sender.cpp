#include "sender.hpp"

#include <chrono>
#include <cstdio>
#include <string>

#include "frames.hpp"
#include "pacing.hpp"
#include "realtime.hpp"
#include "serial_port.hpp"
#include "stop_signal.hpp"
#include "tool_error.hpp"

namespace zelkolink_sbus {
namespace {

using zelkolink_tools::PacingSummary;

constexpr std::chrono::milliseconds kDrainTimeout{500};

double milliseconds(std::chrono::nanoseconds duration) {
  return static_cast<double>(duration.count()) / 1e6;
}

void warn_about_rate(const zelkolink_tools::SerialPort& port) {
  const uint32_t actual = port.baud();
  const uint32_t wanted = zelkolink_tools::kSbusLine.baud;
  if (actual != wanted) {
    std::fprintf(stderr,
                 "zelkolink-sbus: warning: %s reports %u baud, not the %u baud SBUS needs\n",
                 port.name().c_str(), static_cast<unsigned>(actual), static_cast<unsigned>(wanted));
  }
}

void print_summary(const std::string& port, uint64_t sent, const PacingSummary& pacing, bool raised,
                   const std::string& ending) {
  std::string mean = "-";
  if (sent >= 2) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f ms", milliseconds(pacing.mean_interval));
    mean = text;
  }
  std::fprintf(
      stderr,
      "zelkolink-sbus: %llu frames sent to %s, mean interval %s, largest lateness %.3f ms, "
      "%llu frames dropped, %s priority (%s)\n",
      static_cast<unsigned long long>(sent), port.c_str(), mean.c_str(),
      milliseconds(pacing.largest_lateness), static_cast<unsigned long long>(pacing.slots_skipped),
      raised ? "raised" : "normal", ending.c_str());
  std::fflush(stderr);
}

}  // namespace

void send_frames(const Options& options) {
  zelkolink_tools::install_stop_handlers();
  zelkolink_tools::SerialPort port(options.port, zelkolink_tools::kSbusLine);
  warn_about_rate(port);

  const bool raised = zelkolink_tools::raise_thread_priority();
  zelkolink_tools::Pacer pacer(std::chrono::milliseconds(options.interval_ms));
  uint64_t sent = 0;
  const auto done = [&] {
    return zelkolink_tools::stop_requested() || (options.count && sent >= *options.count);
  };
  try {
    while (!done()) {
      const std::optional<uint64_t> slot = pacer.wait_next();
      if (!slot || zelkolink_tools::stop_requested()) continue;
      const zelkolink_tools::SbusFrame frame =
          zelkolink_tools::make_sbus_frame(channels_for_slot(options, *slot), options.sbus2);
      port.write(frame);
      ++sent;
    }
  } catch (const zelkolink_tools::ToolError&) {
    print_summary(options.port, sent, pacer.summary(), raised, "port lost");
    throw;
  }
  // The last frame leaves before the port's settings are put back.
  port.drain(kDrainTimeout);
  port.close();
  const char* reason = zelkolink_tools::stop_reason();
  print_summary(options.port, sent, pacer.summary(), raised,
                reason != nullptr ? std::string("stopped by ") + reason : "count reached");
}

}  // namespace zelkolink_sbus
