// The frames zelkolink-sbus sends: the channel values for each slot of the
// schedule, packed by the library behind the start byte.
#pragma once

#include <array>
#include <cstdint>

#include "options.hpp"

namespace zelkolink_sbus {

using Frame = std::array<uint8_t, zelkolink::sbus_frame_size>;

inline constexpr uint8_t kStartByte = 0x0F;
inline constexpr uint64_t kSweepPeriodMs = 4000;

// The --sweep value at `ms` into the run: a triangle over 0..2047 with a
// period of kSweepPeriodMs, at the centre (1023) and rising at 0 ms.
uint16_t sweep_value(uint64_t ms);

// The sixteen channels of the frame for `slot`, which is due at
// slot × interval into the run.
ChannelArray channels_for_slot(const Options& options, uint64_t slot);

// Start byte 0F and the channels packed by encode_sbus_data_v1, or by
// encode_sbus_data_v2 (which advances the library's end-byte cycle) when
// sbus2 is set.
Frame make_frame(const ChannelArray& channels, bool sbus2);

}  // namespace zelkolink_sbus
