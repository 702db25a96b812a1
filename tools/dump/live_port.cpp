#include "live_port.hpp"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <optional>

#include "rows.hpp"
#include "run_limits.hpp"
#include "serial_port.hpp"
#include "stop_signal.hpp"
#include "tool_error.hpp"
#include "watch_view.hpp"
#include "zelkolink.hpp"

namespace zelkolink_dump {
namespace {

using Clock = RunTimer::Clock;
using std::chrono::milliseconds;
using zelkolink_tools::SerialPort;

// How long one read waits at most: the longest delay before a stop signal,
// an expired --seconds or a due redraw is noticed.
constexpr milliseconds kReadWait{50};
// How long the stop frame gets to leave the port before it is closed.
constexpr milliseconds kStopDrain{200};
constexpr uint8_t kFrameEnd = 0x5F;

// Sends the stop frame and waits for it to leave. A device that is already
// gone cannot take it, and that is not an error on the way out.
bool send_stop(SerialPort& port) noexcept {
  try {
    std::array<uint8_t, zelkolink::stop_frame_size> stop{};
    zelkolink::stop_upload_port_data(stop);
    port.write(stop);
    return port.drain(kStopDrain);
  } catch (const zelkolink_tools::ToolError&) {
    return false;
  }
}

// The one way out of a live run, whatever ends it (an exception included):
// the stop frame, then the port's own settings back.
class LinkSession {
 public:
  LinkSession(SerialPort& port, std::array<uint8_t, 2> request) : port_(port) {
    std::array<uint8_t, zelkolink::request_frame_size> frame{};
    zelkolink::request_upload_port_data(frame, request[0], request[1]);
    port_.write(frame);
  }
  ~LinkSession() {
    send_stop(port_);
    port_.close();
  }
  LinkSession(const LinkSession&) = delete;
  LinkSession& operator=(const LinkSession&) = delete;
  LinkSession(LinkSession&&) = delete;
  LinkSession& operator=(LinkSession&&) = delete;

 private:
  SerialPort& port_;
};

// Rows: one per read that completed an upload frame, flushed at once.
void print_rows(SerialPort& port, const Options& options, const RunTimer& timer,
                std::ostream& out) {
  write_header(out, options.format, true);
  out.flush();
  InputValues inputs{};
  ChannelValues channels{};
  std::array<uint8_t, zelkolink::max_chunk> buffer{};
  std::size_t offset = 0;
  uint64_t rows = 0;
  while (out && !zelkolink_tools::stop_requested() && !timer.expired()) {
    const std::size_t got = port.read(buffer, timer.wait(kReadWait));
    if (got == 0) continue;
    offset += got;
    if (!zelkolink::parse_port_data(std::span(buffer).first(got), &inputs, &channels)) continue;
    write_row(out, options.format, timer.elapsed(), offset, inputs, channels);
    // A failed flush means the reader of standard output is gone: the loop
    // ends as for any other stop.
    out.flush();
    if (options.limits.count && ++rows >= *options.limits.count) break;
  }
}

// Feeds one read in pieces that end after each end byte, so the frames that
// complete within one read are counted one by one. The values decoded are
// the same however the bytes are cut.
uint64_t feed_counting_frames(std::span<const uint8_t> read, InputValues& inputs,
                              ChannelValues& channels) {
  uint64_t frames = 0;
  while (!read.empty()) {
    const auto end = std::find(read.begin(), read.end(), kFrameEnd);
    const std::size_t size =
        end == read.end() ? read.size() : static_cast<std::size_t>(end - read.begin()) + 1;
    if (zelkolink::parse_port_data(read.first(size), &inputs, &channels)) ++frames;
    read = read.subspan(size);
  }
  return frames;
}

// The live view, redrawn at most every WatchView::kRedrawPeriod.
void show_watch(SerialPort& port, const Options& options, const RunTimer& timer) {
  WatchView view(port.name(), options.baud);
  LiveFigures figures{};
  std::array<uint8_t, zelkolink::max_chunk> buffer{};
  auto next_draw = Clock::now();
  while (!zelkolink_tools::stop_requested() && !timer.expired()) {
    const std::size_t got = port.read(buffer, timer.wait(kReadWait));
    const double now = timer.elapsed();
    figures.seconds = now;
    if (got > 0) {
      figures.bytes += got;
      const uint64_t frames =
          feed_counting_frames(std::span(buffer).first(got), figures.inputs, figures.channels);
      if (frames > 0) {
        figures.frames += frames;
        figures.last_frame_at = now;
      }
    }
    if (Clock::now() >= next_draw) {
      view.draw(figures);
      next_draw = Clock::now() + WatchView::kRedrawPeriod;
    }
    if (options.limits.count && figures.frames >= *options.limits.count) break;
  }
  view.draw(figures);
}

}  // namespace

void run_live_port(const Options& options, std::ostream& out) {
  if (options.watch) require_terminal();
  SerialPort port(*options.port, {options.baud, zelkolink_tools::Parity::none, 1});
  const LinkSession session(port, options.request);
  const RunTimer timer(options.limits.duration);
  if (options.watch) {
    show_watch(port, options, timer);
  } else {
    print_rows(port, options, timer, out);
  }
}

}  // namespace zelkolink_dump
