#include "host_frames.hpp"

#include <algorithm>

#include "port_frame.hpp"

namespace zelkolink_sim {
namespace {

// The payload length a host frame with this command must carry, or -1 for a
// command the device does not take.
int expected_length(uint8_t command) {
  if (command == kRequest) return 2;
  if (command == kStop) return 0;
  return -1;
}

}  // namespace

std::vector<HostFrame> HostFrameReader::feed(std::span<const uint8_t> bytes) {
  pending_.insert(pending_.end(), bytes.begin(), bytes.end());
  std::vector<HostFrame> frames;
  std::size_t at = 0;
  for (;;) {
    at = static_cast<std::size_t>(
        std::find(pending_.begin() + static_cast<std::ptrdiff_t>(at), pending_.end(), kStart) -
        pending_.begin());
    if (pending_.size() - at < kHeaderSize) break;
    const uint8_t command = pending_[at + 1];
    const std::size_t length = pending_[at + 2] | static_cast<std::size_t>(pending_[at + 3]) << 8;
    const int wanted = expected_length(command);
    if (wanted < 0 || length != static_cast<std::size_t>(wanted)) {
      ++at;
      continue;
    }
    const std::size_t size = kHeaderSize + length + 1;
    if (pending_.size() - at < size) break;
    if (pending_[at + size - 1] != kEnd) {
      ++at;
      continue;
    }
    HostFrame frame{command == kRequest ? HostFrame::Kind::request : HostFrame::Kind::stop,
                    {0, 0},
                    {pending_.begin() + static_cast<std::ptrdiff_t>(at),
                     pending_.begin() + static_cast<std::ptrdiff_t>(at + size)}};
    if (command == kRequest) frame.request_bytes = {pending_[at + 4], pending_[at + 5]};
    frames.push_back(std::move(frame));
    at += size;
  }
  pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(at));
  return frames;
}

}  // namespace zelkolink_sim
