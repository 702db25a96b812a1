// The device's byte stream framed exactly as the library's parser frames
// it, for tools that must know more than the parser tells: which frames
// came, with which command and record kind, which were corrupt, and which
// bytes were stepped over. The parser's outcome does not depend on how the
// stream is cut, so neither does the framer's.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

namespace zelkolink_tools {

inline constexpr uint8_t kFrameStart = 0xFA;
inline constexpr uint8_t kUploadData = 0xA5;     // device to host: one upload record
inline constexpr uint8_t kUploadRequest = 0xE5;  // host to device; skipped whole when received
inline constexpr uint8_t kUploadStop = 0xE4;     // host to device
// The parser holds 500 bytes, so a start byte claiming more payload than
// this is an ordinary byte.
inline constexpr std::size_t kMostPayload = 495;

// A frame the parser completed: an upload frame it decodes or a request
// frame it skips (both with the end byte 0x5F), or a corrupt frame, skipped
// by its claimed length because its end byte is wrong.
struct FramedFrame {
  uint8_t command = 0;
  bool corrupt = false;
  std::span<const uint8_t> payload;  // valid during the call only
};

class PortFramer {
 public:
  // What the framer reports, in stream order: frames, and counts of bytes
  // stepped over (noise before a start byte, a start byte claiming too long
  // a frame or beginning a frame of a command the host does not act on).
  // The bytes of corrupt frames are reported as frames, not as noise.
  using OnFrame = std::function<void(const FramedFrame&)>;
  using OnNoise = std::function<void(std::size_t)>;

  PortFramer(OnFrame on_frame, OnNoise on_noise)
      : on_frame_(std::move(on_frame)), on_noise_(std::move(on_noise)) {}

  // Takes the next bytes of the stream, cut anywhere.
  void feed(std::span<const uint8_t> bytes);

  // Bytes of an unfinished frame held for the next feed.
  [[nodiscard]] std::size_t pending() const { return pending_.size(); }

 private:
  OnFrame on_frame_;
  OnNoise on_noise_;
  std::vector<uint8_t> pending_;
};

}  // namespace zelkolink_tools
