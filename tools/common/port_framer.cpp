#include "port_framer.hpp"

#include <algorithm>

namespace zelkolink_tools {
namespace {

constexpr std::size_t kHeader = 4;    // start, command, two length bytes
constexpr std::size_t kOverhead = 5;  // the header and the end byte
constexpr uint8_t kEnd = 0x5F;

}  // namespace

void PortFramer::feed(std::span<const uint8_t> bytes) {
  pending_.insert(pending_.end(), bytes.begin(), bytes.end());
  const std::span<const uint8_t> stream(pending_);
  std::size_t at = 0;
  std::size_t noise = 0;
  while (at < stream.size()) {
    if (stream[at] != kFrameStart) {
      const auto next =
          std::find(stream.begin() + static_cast<std::ptrdiff_t>(at), stream.end(), kFrameStart);
      const auto found = static_cast<std::size_t>(next - stream.begin());
      noise += found - at;
      at = found;
      continue;
    }
    if (stream.size() - at < kHeader) break;
    const std::size_t length = stream[at + 2] | std::size_t{stream[at + 3]} << 8;
    if (length > kMostPayload) {
      ++noise;
      ++at;
      continue;
    }
    if (stream.size() - at < length + kOverhead) break;
    const uint8_t command = stream[at + 1];
    const bool corrupt = stream[at + length + kHeader] != kEnd;
    if (!corrupt && command != kUploadData && command != kUploadRequest) {
      ++noise;  // the bytes after this start byte are scanned again
      ++at;
      continue;
    }
    if (noise != 0) on_noise_(noise);
    noise = 0;
    on_frame_({command, corrupt, stream.subspan(at + kHeader, length)});
    at += length + kOverhead;
  }
  if (noise != 0) on_noise_(noise);
  pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(at));
}

}  // namespace zelkolink_tools
