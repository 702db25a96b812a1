#include "bridge.hpp"

#include <cstdio>
#include <fstream>
#include <thread>

#include "event_log.hpp"
#include "link_health.hpp"
#include "newest.hpp"
#include "pacing.hpp"
#include "realtime.hpp"
#include "reconnect.hpp"
#include "run_clock.hpp"
#include "sbus_frame.hpp"
#include "serial_port.hpp"
#include "stop_signal.hpp"
#include "tool_error.hpp"

namespace zelkolink_bridge {
namespace {

using std::chrono::milliseconds;
using std::chrono::nanoseconds;
using zelkolink_tools::RunClock;
using zelkolink_tools::SerialPort;
using zelkolink_tools::ToolError;

constexpr milliseconds kDrainTimeout{200};
constexpr nanoseconds kStatusEvery = std::chrono::seconds(1);

double milliseconds_of(nanoseconds duration) {
  return std::chrono::duration<double, std::milli>(duration).count();
}

// The SBUS port, reopened every 500 ms while it is gone.
class SbusOutput {
 public:
  SbusOutput(const std::string& name, EventLog& events)
      : name_(name),
        events_(events),
        port_(std::make_unique<SerialPort>(name, zelkolink_tools::kSbusLine)) {}

  // Writes the frame when the port is there; false when it is not (or just
  // went). A loss is reported once, or thrown with --exit-on-loss.
  bool write(const zelkolink_tools::SbusFrame& frame, nanoseconds now, bool exit_on_loss) {
    if (!port_ && !reopen(now)) return false;
    try {
      port_->write(frame);
      return true;
    } catch (const ToolError& error) {
      port_->close();
      port_.reset();
      if (exit_on_loss) throw;
      reconnect_.lost(now);
      events_.line(std::string("SBUS port lost: ") + error.what());
      return false;
    }
  }

  void close() {
    if (!port_) return;
    port_->drain(kDrainTimeout);
    port_->close();
  }

 private:
  bool reopen(nanoseconds now) {
    if (!reconnect_.due(now)) return false;
    try {
      port_ = std::make_unique<SerialPort>(name_, zelkolink_tools::kSbusLine);
      events_.line("SBUS port back");
      return true;
    } catch (const ToolError&) {
      reconnect_.failed(now);
      return false;
    }
  }

  std::string name_;
  EventLog& events_;
  std::unique_ptr<SerialPort> port_;
  zelkolink_tools::Reconnect reconnect_;
};

// --trace: one line per SBUS frame that first carries new values, with the
// age of those values when the frame was written.
class AgeTrace {
 public:
  explicit AgeTrace(const std::optional<std::string>& path) {
    if (!path) return;
    file_ = std::make_unique<std::ofstream>(*path);
    if (!*file_) throw ToolError(zelkolink_tools::kExitCannotOpen, "cannot write " + *path);
  }

  void sent(nanoseconds now, nanoseconds read_at, nanoseconds age) {
    if (file_ && read_at != last_read_at_) {
      *file_ << std::chrono::duration<double>(now).count() << ' '
             << std::chrono::duration_cast<std::chrono::microseconds>(age).count() << '\n';
    }
    last_read_at_ = read_at;
  }

 private:
  std::unique_ptr<std::ofstream> file_;
  nanoseconds last_read_at_{-1};
};

// Counts for the --status line, which covers the second since the last one.
class StatusLine {
 public:
  void sent(std::optional<nanoseconds> age) {
    ++sent_;
    if (!age) return;
    age_sum_ms_ += milliseconds_of(*age);
    ++aged_;
  }

  void print_if_due(EventLog& events, nanoseconds now, uint64_t fresh_frames, LinkState state) {
    if (now - since_ < kStatusEvery) return;
    const double seconds = std::chrono::duration<double>(now - since_).count();
    char age[32] = "-";
    if (aged_ > 0) {
      std::snprintf(age, sizeof age, "%.1f ms", age_sum_ms_ / static_cast<double>(aged_));
    }
    char text[160];
    std::snprintf(text, sizeof text, "status: source %.1f frames/s, SBUS %.1f frames/s, %s, age %s",
                  static_cast<double>(fresh_frames - fresh_frames_at_start_) / seconds,
                  static_cast<double>(sent_) / seconds, state_name(state), age);
    events.line(text);
    *this = StatusLine{};
    since_ = now;
    fresh_frames_at_start_ = fresh_frames;
  }

 private:
  nanoseconds since_{};
  uint64_t fresh_frames_at_start_ = 0;
  uint64_t sent_ = 0;
  double age_sum_ms_ = 0;
  uint64_t aged_ = 0;
};

// The source's thread. It ends when `finish` is set, and is joined on every
// way out of the run; what the source throws ends the run with its status.
class ReaderThread {
 public:
  ReaderThread(Source& source, SourceContext& context)
      : context_(context), thread_([&source, &context] {
          // The read time stamps the values' age: a reader kept waiting
          // behind other work would age them before the SBUS loop sees them.
          zelkolink_tools::raise_thread_priority();
          try {
            source.run(context);
          } catch (const ToolError& error) {
            context.end_run(error.exit_status(), error.what());
          } catch (const std::exception& error) {
            context.end_run(zelkolink_tools::kExitBadInput, error.what());
          }
        }) {}
  ~ReaderThread() { join(); }
  ReaderThread(const ReaderThread&) = delete;
  ReaderThread& operator=(const ReaderThread&) = delete;
  ReaderThread(ReaderThread&&) = delete;
  ReaderThread& operator=(ReaderThread&&) = delete;

  void join() {
    context_.finish = true;
    if (thread_.joinable()) thread_.join();
  }

 private:
  SourceContext& context_;
  std::thread thread_;
};

struct LoopResult {
  uint64_t sent = 0;
  int status = zelkolink_tools::kExitOk;
  std::string failure;
};

// An SBUS frame at every slot of the pacer's schedule, until a stop signal,
// --seconds, or the source ending the run.
LoopResult run_sbus_loop(const Options& options, const ChannelMap& map, SourceContext& context,
                         SbusOutput& output, AgeTrace& trace, zelkolink_tools::Pacer& pacer) {
  const RunClock& clock = context.clock;
  const HealthLimits limits{milliseconds(options.lost_ms), milliseconds(options.failsafe_ms)};
  StatusLine status;
  SbusChannels held = waiting_channels(map);
  LinkState shown = LinkState::waiting;
  LoopResult result;
  try {
    while (!zelkolink_tools::stop_requested() && context.exit_status == 0 &&
           !(options.seconds && clock.now() >= *options.seconds)) {
      if (!pacer.wait_next()) continue;
      const Newest::Snapshot latest = context.newest.snapshot();
      const nanoseconds now = clock.now();
      const LinkState state = link_state(latest.last_fresh, now, limits);
      zelkolink_tools::SbusFrame frame = zelkolink_tools::make_sbus_frame(
          frame_channels(map, state, latest.values, held), options.sbus2);
      frame[zelkolink_tools::kSbusFlagsByte] = sbus_flags(state);
      if (output.write(frame, now, options.exit_on_loss)) {
        ++result.sent;
        std::optional<nanoseconds> age;
        if (state == LinkState::ok) {
          age = clock.now() - *latest.last_fresh;
          trace.sent(now, *latest.last_fresh, *age);
        }
        status.sent(age);
      }
      if (state != shown) {
        context.events.line(state_name(state));
        shown = state;
      }
      if (options.status) status.print_if_due(context.events, now, latest.fresh_frames, state);
    }
  } catch (const ToolError& error) {
    result.status = error.exit_status();
    result.failure = error.what();
  }
  return result;
}

void print_closing_line(const LoopResult& result, uint64_t fresh_frames,
                        const zelkolink_tools::PacingSummary& pacing, bool raised) {
  const char* reason = zelkolink_tools::stop_reason();
  std::fprintf(stderr,
               "zelkolink-bridge: %llu SBUS frames sent, %llu fresh source frames, %llu slots "
               "dropped, largest lateness %.3f ms, %s priority (%s)\n",
               static_cast<unsigned long long>(result.sent),
               static_cast<unsigned long long>(fresh_frames),
               static_cast<unsigned long long>(pacing.slots_skipped),
               milliseconds_of(pacing.largest_lateness), raised ? "raised" : "normal",
               result.status == zelkolink_tools::kExitVanished ? "a port vanished"
               : result.status != 0                            ? "failed"
               : reason != nullptr ? (std::string("stopped by ") + reason).c_str()
                                   : "time is up");
  if (result.status != 0) std::fprintf(stderr, "zelkolink-bridge: %s\n", result.failure.c_str());
  std::fflush(stderr);
}

}  // namespace

int run_bridge(const Options& options, const ChannelMap& map, std::unique_ptr<Source> source) {
  zelkolink_tools::install_stop_handlers();
  const RunClock clock;
  EventLog events(clock);
  SbusOutput output(options.to_sbus, events);
  AgeTrace trace(options.trace);
  Newest newest;
  std::atomic<bool> finish{false};
  SourceContext context{parts_read(map),      newest, events, clock, finish,
                        options.exit_on_loss, {},     {}};
  ReaderThread reader(*source, context);

  const bool raised = zelkolink_tools::raise_thread_priority();
  zelkolink_tools::Pacer pacer(milliseconds(options.interval_ms));
  LoopResult result = run_sbus_loop(options, map, context, output, trace, pacer);
  reader.join();
  output.close();
  if (context.exit_status != 0) {
    result.status = context.exit_status;
    result.failure = context.exit_message;
  }
  print_closing_line(result, newest.snapshot().fresh_frames, pacer.summary(), raised);
  return result.status;
}

}  // namespace zelkolink_bridge
