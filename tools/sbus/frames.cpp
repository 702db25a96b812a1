#include "frames.hpp"

namespace zelkolink_sbus {

uint16_t sweep_value(uint64_t ms, uint16_t low, uint16_t high) {
  constexpr uint64_t half = kSweepPeriodMs / 2;
  // A quarter period in, the triangle that starts at low is at the middle.
  const uint64_t phase = (ms + kSweepPeriodMs / 4) % kSweepPeriodMs;
  const uint64_t rise = phase < half ? phase : kSweepPeriodMs - phase;  // 0..half
  const uint64_t span = high - low;
  return static_cast<uint16_t>(low + (span * rise + half / 2) / half);
}

zelkolink_tools::SbusChannels channels_for_slot(const Options& options, uint64_t slot) {
  if (options.source == ValueSource::fixed) return options.channels;
  zelkolink_tools::SbusChannels channels{};
  channels.fill(sweep_value(slot * options.interval_ms, options.sweep_low, options.sweep_high));
  return channels;
}

}  // namespace zelkolink_sbus
