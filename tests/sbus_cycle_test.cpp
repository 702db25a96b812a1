// The SBUS2 end-byte cycle as a freshly loaded library starts it. This file
// is its own executable, so ctest always runs it in a new process.
#include <gtest/gtest.h>

#include <array>

#include "zelkolink.h"

TEST(SbusCycleFromLoad, StartsAtFourAndSkipsV1Calls) {
  const SbusChannels channels{};
  SbusFrame frame{};
  std::array<uint8_t, 5> ends{};
  for (uint8_t& end : ends) {
    encode_sbus_data_v1(frame, channels);
    EXPECT_EQ(frame[24], 0);
    encode_sbus_data_v2(frame, channels);
    end = frame[24];
  }
  const std::array<uint8_t, 5> expected{0x04, 0x14, 0x24, 0x34, 0x04};
  EXPECT_EQ(ends, expected);
}
