// The port and file sources, and the port decoding they share. The HID source
// lives in hid_source.cpp (or hid_source_unavailable.cpp).
#include "sources.hpp"

#include <algorithm>
#include <array>
#include <fstream>
#include <iterator>
#include <thread>
#include <vector>

#include "serial_port.hpp"
#include "stop_signal.hpp"
#include "tool_error.hpp"
#include "zelkolink.hpp"

namespace zelkolink_bridge {
namespace {

using std::chrono::milliseconds;
using zelkolink_tools::SerialPort;
using zelkolink_tools::ToolError;

constexpr milliseconds kReadWait{20};  // the longest a stop or an end waits to be seen
constexpr milliseconds kReopenEvery{500};
constexpr milliseconds kStopDrain{200};
constexpr uint8_t kFrameEnd = 0x5F;

class PortSource final : public Source {
 public:
  explicit PortSource(const Options& options)
      : line_{options.baud, zelkolink_tools::Parity::none, 1},
        port_(std::make_unique<SerialPort>(options.from, line_)) {}

  void run(SourceContext& context) override {
    const Options& options = context.options;
    std::array<uint8_t, zelkolink::max_chunk> buffer{};
    bool request_due = true;
    while (!context.finish && !zelkolink_tools::stop_requested()) {
      if (!port_ && !reopen(context)) {
        std::this_thread::sleep_for(kReadWait);
        continue;
      }
      try {
        if (request_due) send_request(options);
        request_due = false;
        const std::size_t got = port_->read(buffer, kReadWait);
        if (got == 0) continue;
        const std::chrono::nanoseconds read_at = context.clock.now();
        const Carried carried = decode_port_bytes(std::span(buffer).first(got), values_);
        if (carried.frame)
          context.newest.publish(values_, is_fresh(carried, context.uses), read_at);
      } catch (const ToolError& error) {
        port_->close();
        port_.reset();
        request_due = true;
        if (options.exit_on_loss) {
          context.exit_message = error.what();
          context.exit_status = error.exit_status();
          return;
        }
        lost_at_ = context.clock.now();
        next_attempt_ = lost_at_ + kReopenEvery;
        context.events.line(std::string("source lost: ") + error.what());
      }
    }
    if (port_) {
      send_stop();
      port_->close();
    }
  }

 private:
  // Every 500 ms while the port is gone. A new connection's bytes must not
  // join what the old one left pending in the parser, so it is emptied
  // first; the request goes out again before the first read.
  bool reopen(SourceContext& context) {
    const std::chrono::nanoseconds now = context.clock.now();
    if (now < next_attempt_) return false;
    try {
      port_ = std::make_unique<SerialPort>(context.options.from, line_);
    } catch (const ToolError&) {
      next_attempt_ = now + kReopenEvery;
      return false;
    }
    zelkolink::reset_port_parser();
    context.events.line("source back after " + seconds_text(now - lost_at_));
    return true;
  }

  void send_request(const Options& options) {
    std::array<uint8_t, zelkolink::request_frame_size> frame{};
    zelkolink::request_upload_port_data(frame, options.request[0], options.request[1]);
    port_->write(frame);
  }

  // A device already gone cannot take the stop frame; that is no error on
  // the way out.
  void send_stop() noexcept {
    try {
      std::array<uint8_t, zelkolink::stop_frame_size> frame{};
      zelkolink::stop_upload_port_data(frame);
      port_->write(frame);
      port_->drain(kStopDrain);
    } catch (const ToolError&) {
    }
  }

  zelkolink_tools::LineSettings line_;
  std::unique_ptr<SerialPort> port_;
  SourceValues values_;
  std::chrono::nanoseconds lost_at_{};
  std::chrono::nanoseconds next_attempt_{};
};

class FileSource final : public Source {
 public:
  explicit FileSource(const Options& options) : name_(options.from) {
    std::ifstream file(name_, std::ios::binary);
    if (!file) throw ToolError(zelkolink_tools::kExitCannotOpen, "cannot open " + name_);
    bytes_.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  }

  // Pieces that each end after an end byte, so every frame is released at
  // its own time: start + n / rate.
  void run(SourceContext& context) override {
    const auto period = std::chrono::duration_cast<std::chrono::nanoseconds>(
        std::chrono::duration<double>(1.0 / context.options.file_rate));
    const Clock::time_point start = Clock::now();
    uint64_t released = 0;
    std::span<const uint8_t> rest(bytes_);
    while (!rest.empty() && !context.finish && !zelkolink_tools::stop_requested()) {
      const auto end = std::find(rest.begin(), rest.end(), kFrameEnd);
      const std::size_t size =
          end == rest.end() ? rest.size() : static_cast<std::size_t>(end - rest.begin()) + 1;
      const Carried carried = decode_port_bytes(rest.first(size), values_);
      rest = rest.subspan(size);
      if (!carried.frame) continue;
      std::this_thread::sleep_until(start + period * released++);
      context.newest.publish(values_, is_fresh(carried, context.uses), context.clock.now());
    }
    if (rest.empty()) context.events.line("source ended: end of " + name_);
    while (!context.finish && !zelkolink_tools::stop_requested()) {
      std::this_thread::sleep_for(kReadWait);
    }
  }

 private:
  std::string name_;
  std::vector<uint8_t> bytes_;
  SourceValues values_;
};

}  // namespace

std::unique_ptr<Source> open_port_source(const Options& options) {
  return std::make_unique<PortSource>(options);
}

std::unique_ptr<Source> open_file_source(const Options& options) {
  return std::make_unique<FileSource>(options);
}

}  // namespace zelkolink_bridge
