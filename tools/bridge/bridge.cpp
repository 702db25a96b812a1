#include "bridge.hpp"

#include <cstdio>
#include <fstream>
#include <thread>

#include "link_health.hpp"
#include "pacing.hpp"
#include "realtime.hpp"
#include "sbus_frame.hpp"
#include "serial_port.hpp"
#include "stop_signal.hpp"
#include "tool_error.hpp"

namespace zelkolink_bridge {

void EventLog::line(const std::string& text) {
  const std::lock_guard lock(mutex_);
  std::fprintf(stderr, "zelkolink-bridge: [%.3f] %s\n",
               std::chrono::duration<double>(clock_.now()).count(), text.c_str());
  std::fflush(stderr);
}

namespace {

using std::chrono::milliseconds;
using std::chrono::nanoseconds;
using zelkolink_tools::SerialPort;
using zelkolink_tools::ToolError;

constexpr milliseconds kReopenEvery{500};
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
    if (!port_ && (now < next_attempt_ || !reopen(now))) return false;
    try {
      port_->write(frame);
      return true;
    } catch (const ToolError& error) {
      port_->close();
      port_.reset();
      if (exit_on_loss) throw;
      next_attempt_ = now + kReopenEvery;
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
    try {
      port_ = std::make_unique<SerialPort>(name_, zelkolink_tools::kSbusLine);
      events_.line("SBUS port back");
      return true;
    } catch (const ToolError&) {
      next_attempt_ = now + kReopenEvery;
      return false;
    }
  }

  std::string name_;
  EventLog& events_;
  std::unique_ptr<SerialPort> port_;
  nanoseconds next_attempt_{};
};

// Counts for the status line, reset every second.
struct StatusWindow {
  nanoseconds since{};
  uint64_t fresh_frames_at_start = 0;
  uint64_t sent = 0;
  double age_sum_ms = 0;
  uint64_t aged = 0;
};

void print_status(EventLog& events, const StatusWindow& window, nanoseconds now,
                  uint64_t fresh_frames, LinkState state) {
  const double seconds = std::chrono::duration<double>(now - window.since).count();
  char text[160];
  char age[32] = "-";
  if (window.aged > 0) {
    std::snprintf(age, sizeof age, "%.1f ms", window.age_sum_ms / static_cast<double>(window.aged));
  }
  std::snprintf(text, sizeof text, "status: source %.1f frames/s, SBUS %.1f frames/s, %s, age %s",
                static_cast<double>(fresh_frames - window.fresh_frames_at_start) / seconds,
                static_cast<double>(window.sent) / seconds, state_name(state), age);
  events.line(text);
}

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
            context.exit_message = error.what();
            context.exit_status = error.exit_status();
          } catch (const std::exception& error) {
            context.exit_message = error.what();
            context.exit_status = zelkolink_tools::kExitBadInput;
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

// The loop's view of time and --seconds.
bool time_is_up(const Options& options, nanoseconds now) {
  return options.seconds && now >= *options.seconds;
}

}  // namespace

int run_bridge(const Options& options, const ChannelMap& map, std::unique_ptr<Source> source) {
  zelkolink_tools::install_stop_handlers();
  const RunClock clock;
  EventLog events(clock);
  SbusOutput output(options.to_sbus, events);
  std::unique_ptr<std::ofstream> trace;
  if (options.trace) {
    trace = std::make_unique<std::ofstream>(*options.trace);
    if (!*trace)
      throw ToolError(zelkolink_tools::kExitCannotOpen, "cannot write " + *options.trace);
  }

  Newest newest;
  std::atomic<bool> finish{false};
  SourceContext context{options, uses(map), newest, events, clock, finish, {}, {}};
  ReaderThread reader(*source, context);

  const HealthLimits limits{milliseconds(options.lost_ms), milliseconds(options.failsafe_ms)};
  const bool raised = zelkolink_tools::raise_thread_priority();
  zelkolink_tools::Pacer pacer(milliseconds(options.interval_ms));
  LinkState shown = LinkState::waiting;
  SbusChannels held = waiting_channels(map);
  std::optional<nanoseconds> last_carried;  // read time of the values the last frame carried
  StatusWindow window;
  uint64_t sent = 0;
  int status = zelkolink_tools::kExitOk;
  std::string failure;
  try {
    while (!zelkolink_tools::stop_requested() && context.exit_status == 0 &&
           !time_is_up(options, clock.now())) {
      if (!pacer.wait_next()) continue;
      const Newest::Snapshot latest = newest.snapshot();
      const nanoseconds now = clock.now();
      const LinkState state = link_state(latest.last_fresh, now, limits);
      const SbusChannels channels = frame_channels(map, state, latest.values, held);
      zelkolink_tools::SbusFrame frame = zelkolink_tools::make_sbus_frame(channels, options.sbus2);
      frame[zelkolink_tools::kSbusFlagsByte] = sbus_flags(state);
      if (output.write(frame, now, options.exit_on_loss)) {
        ++sent;
        ++window.sent;
        if (state == LinkState::ok) {
          const nanoseconds age = clock.now() - *latest.last_fresh;
          window.age_sum_ms += milliseconds_of(age);
          ++window.aged;
          if (trace && latest.last_fresh != last_carried) {
            *trace << std::chrono::duration<double>(now).count() << ' '
                   << std::chrono::duration_cast<std::chrono::microseconds>(age).count() << '\n';
          }
          last_carried = latest.last_fresh;
        }
      }
      if (state != shown) {
        events.line(state_name(state));
        shown = state;
      }
      if (options.status && now - window.since >= kStatusEvery) {
        print_status(events, window, now, latest.fresh_frames, state);
        window = StatusWindow{now, latest.fresh_frames};
      }
    }
  } catch (const ToolError& error) {
    status = error.exit_status();
    failure = error.what();
  }
  finish = true;
  reader.join();
  output.close();
  if (context.exit_status != 0) {
    status = context.exit_status;
    failure = context.exit_message;
  }
  const zelkolink_tools::PacingSummary pacing = pacer.summary();
  const char* reason = zelkolink_tools::stop_reason();
  std::fprintf(stderr,
               "zelkolink-bridge: %llu SBUS frames sent, %llu fresh source frames, %llu slots "
               "dropped, largest lateness %.3f ms, %s priority (%s)\n",
               static_cast<unsigned long long>(sent),
               static_cast<unsigned long long>(newest.snapshot().fresh_frames),
               static_cast<unsigned long long>(pacing.slots_skipped),
               milliseconds_of(pacing.largest_lateness), raised ? "raised" : "normal",
               status == zelkolink_tools::kExitVanished ? "a port vanished"
               : status != 0                            ? "failed"
               : reason != nullptr ? (std::string("stopped by ") + reason).c_str()
                                   : "time is up");
  if (status != 0) std::fprintf(stderr, "zelkolink-bridge: %s\n", failure.c_str());
  std::fflush(stderr);
  return status;
}

}  // namespace zelkolink_bridge
