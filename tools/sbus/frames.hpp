// The channel values zelkolink-sbus sends in each slot of its schedule.
#pragma once

#include <cstdint>

#include "options.hpp"

namespace zelkolink_sbus {

inline constexpr uint64_t kSweepPeriodMs = 4000;

// The --sweep value at `ms` into the run: a triangle over low..high with a
// period of kSweepPeriodMs, at the middle of the range (rounded to nearest)
// and rising at 0 ms.
uint16_t sweep_value(uint64_t ms, uint16_t low, uint16_t high);

// The sixteen channels of the frame for `slot`, which is due at
// slot × interval into the run.
zelkolink_tools::SbusChannels channels_for_slot(const Options& options, uint64_t slot);

}  // namespace zelkolink_sbus
