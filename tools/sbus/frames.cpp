#include "frames.hpp"

namespace zelkolink_sbus {

uint16_t sweep_value(uint64_t ms) {
  constexpr uint64_t half = kSweepPeriodMs / 2;
  constexpr uint64_t top = ZELKOLINK_SBUS_CHANNEL_MAX;
  // A quarter period in, the triangle that starts at 0 is at the centre.
  const uint64_t phase = (ms + kSweepPeriodMs / 4) % kSweepPeriodMs;
  const uint64_t rise = phase < half ? phase : kSweepPeriodMs - phase;  // 0..half
  return static_cast<uint16_t>(top * rise / half);
}

ChannelArray channels_for_slot(const Options& options, uint64_t slot) {
  if (options.source == ValueSource::fixed) return options.channels;
  ChannelArray channels{};
  channels.fill(sweep_value(slot * options.interval_ms));
  return channels;
}

Frame make_frame(const ChannelArray& channels, bool sbus2) {
  Frame frame{};
  frame[0] = kStartByte;
  if (sbus2) {
    zelkolink::encode_sbus_data_v2(frame, channels);
  } else {
    zelkolink::encode_sbus_data_v1(frame, channels);
  }
  return frame;
}

}  // namespace zelkolink_sbus
