// A whole SBUS frame as the tools send it: the start byte, then the sixteen
// channels and the end byte packed by the library. The library leaves byte 0
// (and the flags byte, 23) to the caller.
#pragma once

#include <array>
#include <cstdint>

#include "zelkolink.hpp"

namespace zelkolink_tools {

using SbusFrame = std::array<uint8_t, zelkolink::sbus_frame_size>;
using SbusChannels = std::array<uint16_t, ZELKOLINK_SBUS_CHANNEL_COUNT>;

inline constexpr uint8_t kSbusStartByte = 0x0F;

// Byte 23: flags a receiver sets when it has lost frames or entered failsafe.
inline constexpr std::size_t kSbusFlagsByte = 23;
inline constexpr uint8_t kSbusFrameLost = 0x04;
inline constexpr uint8_t kSbusFailsafe = 0x08;

// Start byte 0F and the channels packed by encode_sbus_data_v1, or by
// encode_sbus_data_v2 (which advances the library's end-byte cycle) when
// sbus2 is set.
inline SbusFrame make_sbus_frame(const SbusChannels& channels, bool sbus2) {
  SbusFrame frame{};
  frame[0] = kSbusStartByte;
  if (sbus2) {
    zelkolink::encode_sbus_data_v2(frame, channels);
  } else {
    zelkolink::encode_sbus_data_v1(frame, channels);
  }
  return frame;
}

}  // namespace zelkolink_tools
