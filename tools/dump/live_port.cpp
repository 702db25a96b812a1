#include "live_port.hpp"

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>

#include "port_link.hpp"
#include "port_stream.hpp"
#include "rows.hpp"
#include "run_clock.hpp"
#include "stop_signal.hpp"
#include "watch_view.hpp"
#include "zelkolink.hpp"

namespace zelkolink_dump {
namespace {

using std::chrono::milliseconds;
using zelkolink_tools::PortLink;
using zelkolink_tools::RunClock;

// How long one read waits at most: the longest delay before a stop signal,
// an expired --seconds or a due redraw is noticed.
constexpr milliseconds kReadWait{50};

// Rows: one per read that completed an upload frame, flushed at once.
void print_rows(PortLink& link, const Options& options, const RunClock& clock, std::ostream& out) {
  write_header(out, options.format, true);
  out.flush();
  InputValues inputs{};
  ChannelValues channels{};
  std::array<uint8_t, zelkolink::max_chunk> buffer{};
  std::size_t offset = 0;
  uint64_t rows = 0;
  while (out && !zelkolink_tools::stop_requested() && !clock.expired()) {
    const std::size_t got = link.read(buffer, clock.wait(kReadWait));
    if (got == 0) continue;
    offset += got;
    if (!zelkolink::parse_port_data(std::span(buffer).first(got), &inputs, &channels)) continue;
    write_row(out, options.format, clock.seconds(), offset, inputs, channels);
    // A failed flush means the reader of standard output is gone: the loop
    // ends as for any other stop.
    out.flush();
    if (options.limits.count && ++rows >= *options.limits.count) break;
  }
}

// Feeds one read in pieces that each end after an end byte, so the frames
// that complete within one read are counted one by one.
uint64_t feed_counting_frames(std::span<const uint8_t> read, InputValues& inputs,
                              ChannelValues& channels) {
  uint64_t frames = 0;
  while (!read.empty()) {
    const std::span<const uint8_t> piece = zelkolink_tools::first_piece(read);
    if (zelkolink::parse_port_data(piece, &inputs, &channels)) ++frames;
    read = read.subspan(piece.size());
  }
  return frames;
}

// The live view, redrawn at most every WatchView::kRedrawPeriod.
void show_watch(PortLink& link, const Options& options, const RunClock& clock) {
  WatchView view(link.settings().port, options.baud);
  LiveFigures figures{};
  std::array<uint8_t, zelkolink::max_chunk> buffer{};
  auto next_draw = RunClock::Clock::now();
  while (!zelkolink_tools::stop_requested() && !clock.expired()) {
    const std::size_t got = link.read(buffer, clock.wait(kReadWait));
    const double now = clock.seconds();
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
    if (RunClock::Clock::now() >= next_draw) {
      view.draw(figures);
      next_draw = RunClock::Clock::now() + WatchView::kRedrawPeriod;
    }
    if (options.limits.count && figures.frames >= *options.limits.count) break;
  }
  view.draw(figures);
}

}  // namespace

void run_live_port(const Options& options, std::ostream& out) {
  if (options.watch) require_terminal();
  std::unique_ptr<zelkolink_tools::CaptureFile> capture;
  if (options.capture) {
    capture = std::make_unique<zelkolink_tools::CaptureFile>(*options.capture, "zelkolink-dump");
  }
  PortLink link({*options.port, options.baud, options.request}, capture.get());
  link.open();
  const RunClock clock(options.limits.duration);
  if (options.watch) {
    show_watch(link, options, clock);
  } else {
    print_rows(link, options, clock, out);
  }
  // The stop frame goes into the capture before it is closed, and a capture
  // that cannot be written is reported only after the device has stopped.
  link.stop();
  if (capture) capture->close();
}

}  // namespace zelkolink_dump
