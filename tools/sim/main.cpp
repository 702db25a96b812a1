// zelkolink-sim: a ZelkoLink device on a pseudo-terminal, for developing and
// testing hosts without a device on the desk.
#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <memory>
#include <optional>
#include <random>
#include <vector>

#include "arguments.hpp"
#include "device_stream.hpp"
#include "host_frames.hpp"
#include "pseudo_terminal.hpp"
#include "sim_options.hpp"
#include "stop_signal.hpp"
#include "tool_error.hpp"

namespace zelkolink_sim {
namespace {

using Clock = std::chrono::steady_clock;
using zelkolink_tools::kExitCannotOpen;
using zelkolink_tools::ToolError;

// Bytes queued beyond this while the host is not reading are not added to:
// the frames due meanwhile are lost, as on a real link.
constexpr std::size_t kMostQueued = std::size_t{64} * 1024;
// At --rate 0 the queue is topped up to this whenever it runs low.
constexpr std::size_t kFastQueue = 4096;
// The longest wait, so a stop signal is noticed promptly.
constexpr int kLongestWaitMs = 100;

void log_line(const char* text) {
  std::fprintf(stderr, "%s\n", text);
  std::fflush(stderr);
}

// Every byte sent, for offline decoding.
class Recorder {
 public:
  explicit Recorder(const std::optional<std::string>& path) {
    if (!path) return;
    file_.reset(std::fopen(path->c_str(), "wb"));
    if (!file_) throw ToolError(kExitCannotOpen, "cannot create " + *path);
  }
  void add(std::span<const uint8_t> bytes) {
    if (file_) std::fwrite(bytes.data(), 1, bytes.size(), file_.get());
  }
  void flush() {
    if (file_) std::fflush(file_.get());
  }

 private:
  struct Closer {
    void operator()(std::FILE* file) const { std::fclose(file); }
  };
  std::unique_ptr<std::FILE, Closer> file_;
};

class Device {
 public:
  Device(const SimOptions& options, PseudoTerminal& link, Recorder& recorder)
      : options_(options),
        link_(link),
        recorder_(recorder),
        seed_(options.seed.value_or(std::random_device{}())) {}

  void run() {
    while (!zelkolink_tools::stop_requested()) {
      const PseudoTerminal::Ready ready = link_.wait(!queue_.empty(), wait_ms());
      if (ready.readable) take_host_bytes();
      if (ready.writable) send_pieces();
      if (stream_) queue_due_frames();
    }
    recorder_.flush();
  }

 private:
  // Until the next frame is due, or a short while to look at the stop flag.
  [[nodiscard]] int wait_ms() const {
    if (!stream_ || !queue_.empty() || options_.rate <= 0) return kLongestWaitMs;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(due() - Clock::now());
    return static_cast<int>(std::clamp<int64_t>(left.count(), 0, kLongestWaitMs));
  }

  // Frame n is due at start + n periods: a late wake-up sends the missed
  // frames at once rather than shifting every later one.
  [[nodiscard]] Clock::time_point due() const {
    const auto n = static_cast<double>(stream_->frames());
    return started_ + std::chrono::duration_cast<Clock::duration>(
                          std::chrono::duration<double>(n / options_.rate));
  }

  void take_host_bytes() {
    std::array<uint8_t, 1024> buffer{};
    const std::size_t got = link_.read(buffer);
    for (const HostFrame& frame : reader_.feed(std::span(buffer).first(got))) {
      if (frame.kind == HostFrame::Kind::stop) {
        log_line("stop");
        stream_.reset();
        queue_.clear();
        recorder_.flush();
        continue;
      }
      char line[32];
      std::snprintf(line, sizeof line, "request %02X %02X", unsigned{frame.request_bytes[0]},
                    unsigned{frame.request_bytes[1]});
      log_line(line);
      if (options_.echo) {
        queue_.insert(queue_.end(), frame.bytes.begin(), frame.bytes.end());
        log_line("echo");
      }
      if (stream_) {
        log_line("ignored: a request while sending");
        continue;
      }
      start_stream();
    }
  }

  void start_stream() {
    StreamSettings settings;
    settings.kind = options_.kind;
    settings.seconds_per_frame = options_.rate > 0 ? 1.0 / options_.rate : 0.01;
    settings.noise = options_.noise;
    settings.corrupt = options_.corrupt;
    stream_.emplace(settings, seed_ + sessions_++);
    started_ = Clock::now();
  }

  void queue_due_frames() {
    if (options_.rate <= 0) {
      if (queue_.size() < kFastQueue / 4) {
        while (queue_.size() < kFastQueue) stream_->append_next_frame(queue_);
      }
      return;
    }
    const auto now = Clock::now();
    std::vector<uint8_t> dropped;
    while (due() <= now) {
      // A host that does not read: the frame is made (its time passes) but
      // not queued.
      stream_->append_next_frame(queue_.size() < kMostQueued ? queue_ : dropped);
      dropped.clear();
    }
  }

  // Writes random-sized pieces until the queue is empty or the link is full.
  void send_pieces() {
    std::size_t sent = 0;
    while (sent < queue_.size()) {
      const std::size_t piece =
          std::min(queue_.size() - sent, stream_ ? stream_->next_piece_size() : queue_.size());
      const std::size_t put = link_.write(std::span(queue_).subspan(sent, piece));
      recorder_.add(std::span(queue_).subspan(sent, put));
      sent += put;
      if (put < piece) break;
    }
    queue_.erase(queue_.begin(), queue_.begin() + static_cast<std::ptrdiff_t>(sent));
    // On disk before the next wait, so even a killed simulator leaves a
    // record of what the host has read.
    recorder_.flush();
  }

  const SimOptions& options_;
  PseudoTerminal& link_;
  Recorder& recorder_;
  uint64_t seed_;
  uint64_t sessions_ = 0;  // each session's pieces and faults get their own seed
  HostFrameReader reader_;
  std::optional<DeviceStream> stream_;  // set while sending
  Clock::time_point started_;
  std::vector<uint8_t> queue_;  // bytes waiting to be written
};

int run(std::span<const char* const> arguments) {
  const SimOptions options = parse_sim_options(arguments);
  if (options.help) {
    std::fputs(sim_help_text(), stdout);
    return 0;
  }
  zelkolink_tools::install_stop_handlers();
  Recorder recorder(options.record);
  PseudoTerminal link(options.link);
  std::printf("%s\n", link.path().c_str());
  std::fflush(stdout);
  Device device(options, link, recorder);
  device.run();
  return 0;
}

}  // namespace
}  // namespace zelkolink_sim

int main(int argc, char** argv) {
  return zelkolink_tools::run_tool("zelkolink-sim", argc, argv, zelkolink_sim::run);
}
