#include "sbus_output.hpp"

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstring>

#include "byte_order.hpp"
#include "zelkolink.h"

namespace zelkolink::sbus {

namespace {

constexpr uint16_t SBUS_CHANNEL_MAX = ZELKOLINK_SBUS_CHANNEL_MAX;  // 11 bits
constexpr size_t CHANNELS_PER_GROUP = 8;  // eight 11-bit channels fill exactly 11 bytes
constexpr size_t GROUP_BYTES = 11;
constexpr size_t CHANNELS_BYTE = 1;
constexpr size_t FLAGS_BYTE = 23;
constexpr size_t END_BYTE = 24;

// Standard values scale by STD_TO_SBUS_FACTOR. STD_FULL_SCALE scales to
// 2047.2, the last value below 2048: every larger input gives 2047 too, so
// clamping the input there is the whole of the output limit.
constexpr float STD_TO_SBUS_FACTOR = 1.706F;
constexpr float FLOOR_NUDGE = 0.001F;
constexpr uint16_t STD_FULL_SCALE = 1200;

// SBUS2 end bytes: 0x04 + 16 * (calls mod 4).
constexpr uint8_t SBUS2_END_BASE = 0x04;
constexpr uint8_t SBUS2_END_STEP = 0x10;

// Count of encode_v2 calls, process-wide, zero at load, wrapping at 256.
std::atomic<uint8_t> i{0};

// Packs eight channels of at most 11 bits, least significant bit first,
// into 11 bytes: bit b of channel k lands on bit (11k + b) mod 8 of byte
// (11k + b) / 8.
[[gnu::always_inline]] inline void pack_group(uint8_t* bytes, const uint16_t* channel) {
  const uint64_t c5 = channel[5];
  const uint64_t low = uint64_t{channel[0]} | uint64_t{channel[1]} << 11 |
                       uint64_t{channel[2]} << 22 | uint64_t{channel[3]} << 33 |
                       uint64_t{channel[4]} << 44 | c5 << 55;
  const uint64_t high = c5 >> 9 | uint64_t{channel[6]} << 2 | uint64_t{channel[7]} << 13;
  store_le64(bytes, low);
  bytes[8] = static_cast<uint8_t>(high);
  bytes[9] = static_cast<uint8_t>(high >> 8);
  bytes[10] = static_cast<uint8_t>(high >> 16);
}

// Limits every channel to 11 bits first, in one vector pass, so that no
// channel's high bits spill into the next one's.
void encode(uint8_t* frame, const uint16_t* channels, uint8_t end_byte) {
  uint16_t limited[ZELKOLINK_SBUS_CHANNEL_COUNT];
  for (size_t k = 0; k < ZELKOLINK_SBUS_CHANNEL_COUNT; ++k) {
    limited[k] = std::min(channels[k], SBUS_CHANNEL_MAX);
  }
  pack_group(frame + CHANNELS_BYTE, limited);
  pack_group(frame + CHANNELS_BYTE + GROUP_BYTES, limited + CHANNELS_PER_GROUP);
  frame[FLAGS_BYTE] = 0;
  frame[END_BYTE] = end_byte;
}

}  // namespace

void convert_std(uint16_t* sbus_values, const uint16_t* std_values) {
  // Read all sixteen first: the two arrays may be the same.
  uint16_t standard[ZELKOLINK_SBUS_CHANNEL_COUNT];
  int16_t sbus[ZELKOLINK_SBUS_CHANNEL_COUNT];
  std::memcpy(standard, std_values, sizeof standard);
  for (size_t k = 0; k < ZELKOLINK_SBUS_CHANNEL_COUNT; ++k) {
    // For x up to STD_FULL_SCALE the exact product x * 1.706 is a multiple of
    // 1/500, so it is never less than 0.002 below the next integer, while a
    // single-precision product is within 0.0003 of it. Nudged up by 0.001
    // and truncated, it therefore lands on exactly floor(x * 1.706), and the
    // loop runs as a handful of vector instructions.
    const auto x = static_cast<float>(std::min<uint16_t>(standard[k], STD_FULL_SCALE));
    sbus[k] = static_cast<int16_t>(x * STD_TO_SBUS_FACTOR + FLOOR_NUDGE);
  }
  std::memcpy(sbus_values, sbus, sizeof sbus);
}

void encode_v1(uint8_t* frame, const uint16_t* channels) { encode(frame, channels, 0); }

void encode_v2(uint8_t* frame, const uint16_t* channels) {
  // Each caller takes its own step of the cycle; nothing else is ordered by
  // the counter, so relaxed is enough.
  const uint8_t call = i.fetch_add(1, std::memory_order_relaxed);
  encode(frame, channels, static_cast<uint8_t>(SBUS2_END_BASE + SBUS2_END_STEP * (call % 4)));
}

}  // namespace zelkolink::sbus
