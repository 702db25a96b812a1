// Cutting the device's bytes where its frames end. The library's parser can
// complete a frame only on an end byte, so pieces cut after each one finish
// at most one frame each: a tool that wants frames one at a time (to count
// them, or to release each at its own time) feeds such pieces. Cutting never
// changes what the parser decodes.
#pragma once

#include <algorithm>
#include <cstdint>
#include <span>

namespace zelkolink_tools {

inline constexpr uint8_t kFrameEnd = 0x5F;

// The bytes through the first end byte, or all of them when there is none.
inline std::span<const uint8_t> first_piece(std::span<const uint8_t> bytes) {
  const auto end = std::find(bytes.begin(), bytes.end(), kFrameEnd);
  return end == bytes.end() ? bytes
                            : bytes.first(static_cast<std::size_t>(end - bytes.begin()) + 1);
}

}  // namespace zelkolink_tools
