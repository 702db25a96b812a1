// SBUS conversion and frame encoding, checked against a bit-by-bit packer
// written from the packing rule, and the converter against exact arithmetic.
#include <array>
#include <map>
#include <thread>

#include "test_support.hpp"

namespace zelkolink_test {
namespace {

using Channels16 = std::array<uint16_t, ZELKOLINK_SBUS_CHANNEL_COUNT>;
using Frame = std::array<uint8_t, ZELKOLINK_SBUS_FRAME_SIZE>;

constexpr uint8_t kCallerStartByte = 0x0F;

// Bit b of channel k goes to bit (11k + b) mod 8 of byte 1 + (11k + b) / 8;
// channels above 2047 are packed as 2047.
Frame reference_frame(const Channels16& channels, uint8_t end_byte) {
  Frame frame{};
  frame[0] = kCallerStartByte;
  for (size_t k = 0; k < channels.size(); ++k) {
    const uint16_t value = std::min<uint16_t>(channels[k], 2047);
    for (size_t b = 0; b < 11; ++b) {
      const size_t at = 11 * k + b;
      if ((value >> b) & 1u)
        frame[1 + at / 8] = static_cast<uint8_t>(frame[1 + at / 8] | 1u << (at % 8));
    }
  }
  frame[24] = end_byte;
  return frame;
}

Channels16 unpack(const Frame& frame) {
  Channels16 channels{};
  for (size_t k = 0; k < channels.size(); ++k) {
    for (size_t b = 0; b < 11; ++b) {
      const size_t at = 11 * k + b;
      channels[k] =
          static_cast<uint16_t>(channels[k] | ((frame[1 + at / 8] >> (at % 8)) & 1u) << b);
    }
  }
  return channels;
}

// Runs an encoder over a frame whose bytes are all stale except the caller's
// start byte, so every byte the encoder must write is checked.
Frame encode(void (*encoder)(uint8_t*, const uint16_t*), const Channels16& channels) {
  Frame frame;
  frame.fill(0xEE);
  frame[0] = kCallerStartByte;
  encoder(frame.data(), channels.data());
  return frame;
}

Frame encode_v1(const Channels16& channels) { return encode(encode_sbus_data_v1, channels); }
Frame encode_v2(const Channels16& channels) { return encode(encode_sbus_data_v2, channels); }

uint8_t next_end_byte(uint8_t end) {
  return static_cast<uint8_t>(0x04 + (end + 0x10 - 0x04) % 0x40);
}

TEST(SbusEncode, MatchesTheBitPackerForRandomChannels) {
  std::mt19937 rng(21);
  for (int round = 0; round < 5000; ++round) {
    Channels16 channels;
    // Half the rounds stay in range; the rest use any 16-bit value.
    const uint32_t limit = round % 2 == 0 ? 2048 : 65536;
    for (uint16_t& c : channels) c = static_cast<uint16_t>(rng() % limit);
    const Frame frame = encode_v1(channels);
    ASSERT_EQ(frame, reference_frame(channels, 0)) << "round " << round;
    Channels16 clamped = channels;
    for (uint16_t& c : clamped) c = std::min<uint16_t>(c, 2047);
    ASSERT_EQ(unpack(frame), clamped) << "round " << round;
  }
}

TEST(SbusEncode, WorkedExamples) {
  struct Example {
    const char* name;
    Channels16 channels;
    std::array<uint8_t, 22> packed;
  };
  Channels16 first_all_ones{};
  first_all_ones[0] = 0xFFFF;
  Channels16 all_0x400;
  all_0x400.fill(0x400);
  Channels16 all_max;
  all_max.fill(2047);
  const std::array<uint8_t, 11> half{0x00, 0x04, 0x20, 0x00, 0x01, 0x08,
                                     0x40, 0x00, 0x02, 0x10, 0x80};
  std::array<uint8_t, 22> twice;
  std::copy(half.begin(), half.end(), twice.begin());
  std::copy(half.begin(), half.end(), twice.begin() + 11);
  std::array<uint8_t, 22> ones;
  ones.fill(0xFF);
  // 0xFFFF is limited to 2047 rather than spilling five bits into channel 1.
  std::array<uint8_t, 22> first{0xFF, 0x07};

  const Example examples[] = {{"all 0x400", all_0x400, twice},
                              {"all 2047", all_max, ones},
                              {"channel 0 = 0xFFFF", first_all_ones, first}};
  for (const Example& e : examples) {
    const Frame frame = encode_v1(e.channels);
    EXPECT_EQ(frame[0], kCallerStartByte) << e.name;
    EXPECT_TRUE(std::equal(e.packed.begin(), e.packed.end(), frame.begin() + 1)) << e.name;
    EXPECT_EQ(frame[23], 0) << e.name;
    EXPECT_EQ(frame[24], 0) << e.name;
  }
}

TEST(SbusEncode, V2MatchesV1AndCyclesItsEndByte) {
  std::mt19937 rng(22);
  Channels16 channels;
  for (uint16_t& c : channels) c = static_cast<uint16_t>(rng() % 2048);
  const Frame v1 = encode_v1(channels);
  uint8_t previous = encode_v2(channels)[24];
  for (int call = 0; call < 12; ++call) {
    EXPECT_EQ(encode_v1(channels), v1);  // does not advance the cycle
    const Frame v2 = encode_v2(channels);
    EXPECT_TRUE(std::equal(v1.begin(), v1.begin() + 24, v2.begin())) << call;
    EXPECT_EQ(v2[24], next_end_byte(previous)) << call;
    previous = v2[24];
  }
}

// Concurrent callers each take their own step: over a multiple of four calls
// every end byte appears equally often.
TEST(SbusEncode, ConcurrentV2CallersShareTheCycleExactly) {
  constexpr int kThreads = 4;
  constexpr int kCalls = 20000;
  std::array<std::map<uint8_t, int>, kThreads> seen;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&seen, t] {
      Channels16 channels{};
      Frame frame{};
      for (int k = 0; k < kCalls; ++k) {
        encode_sbus_data_v2(frame.data(), channels.data());
        ++seen[static_cast<size_t>(t)][frame[24]];
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  std::map<uint8_t, int> total;
  for (const auto& counts : seen) {
    for (const auto& [end, count] : counts) total[end] += count;
  }
  const std::map<uint8_t, int> expected{{0x04, kThreads * kCalls / 4},
                                        {0x14, kThreads * kCalls / 4},
                                        {0x24, kThreads * kCalls / 4},
                                        {0x34, kThreads * kCalls / 4}};
  EXPECT_EQ(total, expected);
}

TEST(SbusEncode, NullPointersDoNothing) {
  Frame frame;
  frame.fill(0xEE);
  const Channels16 channels{};
  encode_sbus_data_v1(nullptr, channels.data());
  encode_sbus_data_v1(frame.data(), nullptr);
  encode_sbus_data_v2(nullptr, channels.data());
  encode_sbus_data_v2(frame.data(), nullptr);
  Frame untouched;
  untouched.fill(0xEE);
  EXPECT_EQ(frame, untouched);
  // The null calls above did not advance the cycle either.
  const uint8_t a = encode_v2(channels)[24];
  encode_sbus_data_v2(nullptr, channels.data());
  EXPECT_EQ(encode_v2(channels)[24], next_end_byte(a));
}

TEST(SbusConvert, EveryInputGivesTheExactScaledValue) {
  // All 65536 inputs, sixteen at a time, compared with integer arithmetic and
  // with the double-precision product truncated.
  for (uint32_t base = 0; base < 65536; base += 16) {
    Channels16 standard;
    for (uint32_t k = 0; k < 16; ++k) standard[k] = static_cast<uint16_t>(base + k);
    Channels16 sbus;
    sbus.fill(0xEEEE);
    convert_std_sbus_data(sbus.data(), standard.data());
    for (uint32_t k = 0; k < 16; ++k) {
      const uint32_t x = base + k;
      const uint32_t exact = std::min<uint32_t>(x * 1706 / 1000, 2047);
      // Stored through volatile so the product is rounded to a 64-bit double
      // even where the FPU computes in extended precision (32-bit x87),
      // which would truncate 500 * 1.706 to 852.
      volatile double product = static_cast<double>(x) * 1.706;
      const auto truncated = static_cast<uint32_t>(std::min(static_cast<double>(product), 2047.0));
      ASSERT_EQ(sbus[k], exact) << "input " << x;
      ASSERT_EQ(exact, truncated) << "input " << x;
    }
  }
}

TEST(SbusConvert, WorkedExamplesAndInPlace) {
  Channels16 values{0, 1, 2, 100, 1199, 1200, 1201, 5000, 65535, 600, 1000, 3, 4, 5, 6, 7};
  const Channels16 expected{0,    1,    3,    170, 2045, 2047, 2047, 2047,
                            2047, 1023, 1706, 5,   6,    8,    10,   11};
  convert_std_sbus_data(values.data(), values.data());
  EXPECT_EQ(values, expected);
}

TEST(SbusConvert, NullPointersDoNothing) {
  Channels16 values;
  values.fill(7);
  convert_std_sbus_data(nullptr, values.data());
  convert_std_sbus_data(values.data(), nullptr);
  EXPECT_EQ(values[0], 7);
}

}  // namespace
}  // namespace zelkolink_test
