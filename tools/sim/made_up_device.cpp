#include "made_up_device.hpp"

#include <algorithm>
#include <array>
#include <random>

#include "stop_signal.hpp"

namespace zelkolink_sim {
namespace {

// Bytes queued beyond this while the host is not reading are not added to:
// the frames due meanwhile are lost, as on a real link.
constexpr std::size_t kMostQueued = std::size_t{64} * 1024;
// At --rate 0 the queue is topped up to this whenever it runs low.
constexpr std::size_t kFastQueue = 4096;
// The longest wait, so a stop signal is noticed promptly.
constexpr std::chrono::milliseconds kLongestWait{100};

}  // namespace

MadeUpDevice::MadeUpDevice(const SimOptions& options, PseudoTerminal& link, Recorder& recorder)
    : SimulatedDevice(options, link, recorder),
      seed_(options.seed.value_or(std::random_device{}())) {}

void MadeUpDevice::run() {
  while (!zelkolink_tools::stop_requested()) {
    const PseudoTerminal::Ready ready = link_.wait(!queue_.empty(), wake_at());
    if (ready.readable) take_host_bytes();
    if (ready.writable) send_pieces();
    if (stream_) queue_due_frames();
  }
  recorder_.flush();
}

// When the next frame is due, or a short while on to look at the stop flag.
MadeUpDevice::Clock::time_point MadeUpDevice::wake_at() const {
  const Clock::time_point latest = Clock::now() + kLongestWait;
  if (!stream_ || !queue_.empty() || options_.rate <= 0) return latest;
  return std::min(due(), latest);
}

// Frame n is due at start + n periods: a late wake-up sends the missed
// frames at once rather than shifting every later one.
MadeUpDevice::Clock::time_point MadeUpDevice::due() const {
  const auto n = static_cast<double>(stream_->frames());
  return started_ + std::chrono::duration_cast<Clock::duration>(
                        std::chrono::duration<double>(n / options_.rate));
}

void MadeUpDevice::start_sending() {
  StreamSettings settings;
  settings.kind = options_.kind;
  settings.seconds_per_frame = options_.rate > 0 ? 1.0 / options_.rate : 0.01;
  settings.noise = options_.noise;
  settings.corrupt = options_.corrupt;
  stream_.emplace(settings, seed_ + sessions_++);
  started_ = Clock::now();
}

void MadeUpDevice::queue_due_frames() {
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
void MadeUpDevice::send_pieces() {
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
  recorder_.flush();
}

}  // namespace zelkolink_sim
