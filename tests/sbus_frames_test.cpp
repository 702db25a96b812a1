// zelkolink-sbus's --sweep triangle, over whole periods (the tool's runs in
// the script tests cover only its first fraction of a second).
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

}  // namespace
