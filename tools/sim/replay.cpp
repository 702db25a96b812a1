#include "replay.hpp"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

#include "capture_reads.hpp"
#include "host_log.hpp"
#include "stop_signal.hpp"
#include "tool_error.hpp"

namespace zelkolink_sim {
namespace {

using zelkolink_tools::ToolError;

// The longest wait, so a stop signal is noticed promptly.
constexpr std::chrono::milliseconds kLongestWait{100};
// At --speed 0, how often to look whether the host has read the last block.
constexpr std::chrono::microseconds kDrainPoll{100};

}  // namespace

std::vector<ReplayBlock> load_replay(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    throw ToolError(zelkolink_tools::kExitCannotOpen,
                    "cannot open " + path + ": " + std::strerror(errno));
  }
  const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(file)),
                                   std::istreambuf_iterator<char>());
  const zelkolink_tools::CaptureContents capture = zelkolink_tools::read_capture(bytes, path);
  for (const std::string& note : capture.notes) log_line(note.c_str());
  std::vector<ReplayBlock> blocks;
  for (const zelkolink_tools::CapturedRead& read : capture.reads) {
    if (read.direction != zelkolink_tools::pcapng::Direction::in) continue;
    blocks.push_back({read.time, {read.bytes.begin(), read.bytes.end()}});
  }
  if (blocks.empty()) {
    throw ToolError(zelkolink_tools::kExitBadUsage, path + ": no reads from the device to replay");
  }
  const std::chrono::nanoseconds first = blocks.front().at;
  for (ReplayBlock& block : blocks) block.at -= first;
  return blocks;
}

Replay::Replay(const SimOptions& options, PseudoTerminal& link, Recorder& recorder,
               std::vector<ReplayBlock> blocks)
    : SimulatedDevice(options, link, recorder), blocks_(std::move(blocks)) {}

void Replay::run() {
  if (!options_.wait_for_request) start_sending();
  while (!zelkolink_tools::stop_requested()) {
    const PseudoTerminal::Ready ready = link_.wait(!queue_.empty(), wake_at());
    if (ready.readable) take_host_bytes();
    if (!queue_.empty()) send_queue();
    if (next_) write_due();
  }
  recorder_.flush();
}

// Block 0 is due now; each later one at its recorded time from it.
void Replay::start_sending() {
  next_ = 0;
  started_ = Clock::now();
}

Replay::Clock::time_point Replay::due(const ReplayBlock& block) const {
  return started_ + std::chrono::duration_cast<Clock::duration>(block.at / options_.speed);
}

Replay::Clock::time_point Replay::wake_at() const {
  const Clock::time_point latest = Clock::now() + kLongestWait;
  if (!next_) return latest;
  if (options_.speed <= 0) return queue_.empty() ? Clock::now() + kDrainPoll : latest;
  return std::min(due(blocks_[*next_]), latest);
}

// Timed: every block whose time has come, each in a write of its own (a
// host that falls behind reads them joined, as it would from a device). At
// --speed 0: the next block once the host has read everything before it.
void Replay::write_due() {
  while (next_) {
    const ReplayBlock& block = blocks_[*next_];
    if (options_.speed <= 0) {
      if (!queue_.empty() || link_.unread()) return;
    } else if (due(block) > Clock::now()) {
      return;
    }
    write_block(block);
    if (++*next_ < blocks_.size()) continue;
    if (options_.loop) {
      log_line("replay again from the start");
      start_sending();
    } else {
      log_line("replay ended");
      next_.reset();
    }
    return;
  }
}

void Replay::write_block(const ReplayBlock& block) {
  if (!queue_.empty()) {
    queue_.insert(queue_.end(), block.bytes.begin(), block.bytes.end());
    return;
  }
  const std::size_t put = link_.write(block.bytes);
  recorder_.add(std::span(block.bytes).first(put));
  queue_.assign(block.bytes.begin() + static_cast<std::ptrdiff_t>(put), block.bytes.end());
  recorder_.flush();
}

void Replay::send_queue() {
  const std::size_t put = link_.write(queue_);
  recorder_.add(std::span(queue_).first(put));
  queue_.erase(queue_.begin(), queue_.begin() + static_cast<std::ptrdiff_t>(put));
  recorder_.flush();
}

}  // namespace zelkolink_sim
