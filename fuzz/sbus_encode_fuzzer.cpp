// SBUS frame packing, v1 and v2: any sixteen values. Unpacking bytes 1..22
// must give each channel limited to 2047; byte 0 is the caller's and stays as
// it was; byte 23 is 0; byte 24 is 0 for v1, and for v2 steps through 0x04,
// 0x14, 0x24, 0x34, one step per v2 call since the library was loaded. Calls
// with a null pointer must change nothing and must not advance the cycle.
//
// Input: 32 bytes of little-endian channel values, the start byte, then one
// byte per call choosing v1 or v2 and which pointer, if any, is null.
#include "fuzz_support.hpp"
#include "zelkolink.h"

namespace {

constexpr size_t kChannels = ZELKOLINK_SBUS_CHANNEL_COUNT;
constexpr size_t kFrameSize = ZELKOLINK_SBUS_FRAME_SIZE;
constexpr uint8_t kFill = 0xC3;  // frame bytes before a call, byte 0 aside
constexpr size_t kMaxCalls = 64;

// v2 calls made by this process, hence the step its next v2 call must take.
uint64_t v2_calls = 0;

// Bit b of channel k is bit (11k + b) % 8 of byte 1 + (11k + b) / 8.
uint16_t unpacked(const uint8_t* frame, size_t k) {
  uint32_t value = 0;
  for (size_t b = 0; b < 11; ++b) {
    const size_t bit = 11 * k + b;
    value |= static_cast<uint32_t>(frame[1 + bit / 8] >> (bit % 8) & 1u) << b;
  }
  return static_cast<uint16_t>(value);
}

void check_call(const uint16_t* channels, uint8_t start, uint8_t op) {
  const bool v2 = (op & 1) != 0;
  const bool null_frame = (op & 6) == 2;
  const bool null_channels = (op & 6) == 4;
  const std::unique_ptr<uint8_t[]> frame = zelkolink_fuzz::exact_block<uint8_t>(kFrameSize);
  std::memset(frame.get(), kFill, kFrameSize);
  frame[0] = start;
  uint8_t* const out = null_frame ? nullptr : frame.get();
  const uint16_t* const in = null_channels ? nullptr : channels;
  (v2 ? encode_sbus_data_v2 : encode_sbus_data_v1)(out, in);

  FUZZ_CHECK(frame[0] == start);
  if (null_frame || null_channels) {
    for (size_t at = 1; at < kFrameSize; ++at) FUZZ_CHECK(frame[at] == kFill);
    return;
  }
  for (size_t k = 0; k < kChannels; ++k) {
    const uint16_t limited = std::min<uint16_t>(channels[k], ZELKOLINK_SBUS_CHANNEL_MAX);
    FUZZ_CHECK(unpacked(frame.get(), k) == limited);
  }
  FUZZ_CHECK(frame[23] == 0);
  const uint8_t end = v2 ? static_cast<uint8_t>(0x04 + 0x10 * (v2_calls++ % 4)) : 0;
  FUZZ_CHECK(frame[24] == end);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  zelkolink_fuzz::Reader reader(data, size);
  const std::unique_ptr<uint16_t[]> channels = zelkolink_fuzz::exact_block<uint16_t>(kChannels);
  for (size_t k = 0; k < kChannels; ++k) channels[k] = reader.le16();
  const uint8_t start = reader.byte();
  // Without call bytes: one v1 and one v2 call.
  if (reader.remaining() == 0) {
    check_call(channels.get(), start, 0);
    check_call(channels.get(), start, 1);
  }
  for (size_t call = 0; call < kMaxCalls && reader.remaining() != 0; ++call) {
    check_call(channels.get(), start, reader.byte());
  }
  return 0;
}
