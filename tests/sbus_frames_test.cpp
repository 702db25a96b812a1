// zelkolink-sbus's frame schedule: the --sweep triangle and the frames built
// from it. The packing itself is the library's, proven elsewhere; here only
// what the tool adds around it.
#include <gtest/gtest.h>

#include <cstdlib>

#include "frames.hpp"

namespace {

using zelkolink_sbus::kSweepPeriodMs;
using zelkolink_sbus::sweep_value;

TEST(Sweep, IsATriangleOverTheWholeRangeStartingAtTheCentre) {
  struct Case {
    uint64_t ms;
    uint16_t value;
  };
  for (const Case& c :
       {Case{0, 1023}, Case{1000, 2047}, Case{2000, 1023}, Case{3000, 0}, Case{4000, 1023},
        Case{5000, 2047}, Case{1000 + 4000 * uint64_t{1000000000}, 2047}, Case{500, 1535},
        Case{2500, 511}}) {
    SCOPED_TRACE(c.ms);
    EXPECT_EQ(sweep_value(c.ms), c.value);
  }
}

TEST(Sweep, MovesSlowlyAndStaysInRangeOverAPeriod) {
  int previous = sweep_value(0);
  for (uint64_t ms = 1; ms <= 2 * kSweepPeriodMs; ++ms) {
    const int value = sweep_value(ms);
    ASSERT_LE(value, 2047);
    // About 1 unit per ms: a servo follows it smoothly.
    ASSERT_LE(std::abs(value - previous), 2) << ms;
    previous = value;
  }
}

TEST(Frames, SweepSlotsFollowTheScheduleAndFixedValuesStay) {
  zelkolink_sbus::Options options;
  options.interval_ms = 7;
  options.channels.fill(5);
  options.channels[15] = 2047;
  EXPECT_EQ(zelkolink_sbus::channels_for_slot(options, 1000), options.channels);

  options.source = zelkolink_sbus::ValueSource::sweep;
  const auto channels = zelkolink_sbus::channels_for_slot(options, 300);  // 2100 ms in
  for (const uint16_t value : channels) EXPECT_EQ(value, sweep_value(2100));

  const auto frame = zelkolink_sbus::make_frame(channels, false);
  EXPECT_EQ(frame[0], zelkolink_sbus::kStartByte);
  EXPECT_EQ(frame[24], 0);
}

}  // namespace
