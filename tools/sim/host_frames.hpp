// The device's side of the port link: finding the host's frames (the upload
// request, FA E5 02 00 b0 b1 5F, and the stop, FA E4 00 00 5F) in the bytes it
// writes. The library's parser is the host's side and skips these frames, so
// the simulator reads them with this small reader of its own.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

namespace zelkolink_sim {

struct HostFrame {
  enum class Kind { request, stop };
  Kind kind;
  std::array<uint8_t, 2> request_bytes;  // b0, b1 of a request
  std::vector<uint8_t> bytes;            // the whole frame as received
};

class HostFrameReader {
 public:
  // Takes bytes as they arrive, cut anywhere, and returns the frames they
  // complete, in order. Bytes that start no well-formed request or stop
  // frame are skipped one at a time, so a frame hidden after noise is found.
  std::vector<HostFrame> feed(std::span<const uint8_t> bytes);

 private:
  std::vector<uint8_t> pending_;  // bytes that may still begin a frame
};

}  // namespace zelkolink_sim
