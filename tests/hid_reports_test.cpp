// HID report decoders, checked against the report layouts written as bit
// ranges, plus the worked examples and every wrong shape.
#include <array>

#include "test_support.hpp"

namespace zelkolink_test {
namespace {

// Reads `width` bits starting at absolute bit `first` of a little-endian
// byte string: an independent reading of the report layout.
uint16_t bits(const Bytes& report, size_t first, size_t width) {
  uint32_t value = 0;
  for (size_t b = 0; b < width; ++b) {
    const size_t at = first + b;
    value |= static_cast<uint32_t>((report[at / 8] >> (at % 8)) & 1u) << b;
  }
  return static_cast<uint16_t>(value);
}

// Game-controller layout as (first bit, width) per value.
constexpr std::array<std::pair<size_t, size_t>, 11> kControllerFields{{
    {0, 16},
    {16, 16},
    {32, 16},  // values 0..2: bytes 0-1, 2-3, 4-5
    {48, 12},
    {60, 12},  // values 3, 4: bytes 6-8
    {72, 12},
    {84, 12},  // values 5, 6: bytes 9-11
    {96, 12},
    {108, 4},  // values 7, 8: bytes 12-13
    {112, 16},
    {128, 8},  // value 9: bytes 14-15; value 10: byte 16
}};

GameControllerState sentinel_state() {
  GameControllerState state;
  for (uint16_t& value : state.value) value = kSentinel;
  return state;
}

bool same(const GameControllerState& a, const GameControllerState& b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

Bytes random_report(std::mt19937& rng, size_t size) {
  Bytes report(size);
  for (uint8_t& b : report) b = static_cast<uint8_t>(rng());
  return report;
}

ZelkoLinkBool decode_controller(GameControllerState& state, const Bytes& report) {
  return parse_hid_game_controller_device(&state, report.data(),
                                          static_cast<uint8_t>(report.size()));
}

ZelkoLinkBool decode_compatible(InputValues& inputs, const Bytes& report) {
  return parse_hid_compatible_device(&inputs, report.data(), static_cast<uint8_t>(report.size()));
}

TEST(GameControllerReport, RandomReportsMatchTheBitLayout) {
  std::mt19937 rng(11);
  for (int round = 0; round < 2000; ++round) {
    const Bytes report = random_report(rng, ZELKOLINK_GAME_CONTROLLER_REPORT_SIZE);
    GameControllerState state = sentinel_state();
    ASSERT_EQ(decode_controller(state, report), 1);
    for (size_t k = 0; k < kControllerFields.size(); ++k) {
      const auto [first, width] = kControllerFields[k];
      ASSERT_EQ(state.value[k], bits(report, first, width)) << "value " << k << ", round " << round;
    }
  }
}

TEST(GameControllerReport, WorkedExamples) {
  Bytes report(ZELKOLINK_GAME_CONTROLLER_REPORT_SIZE, 0);
  report[0] = 0x34;
  report[1] = 0x12;
  report[6] = 0x21;
  report[7] = 0x43;
  report[8] = 0x65;
  report[9] = report[10] = report[11] = 0xFF;
  report[12] = 0x00;
  report[13] = 0xA7;
  report[16] = 0xFF;
  report[17] = report[18] = 0xEE;  // carry nothing
  GameControllerState state = sentinel_state();
  ASSERT_EQ(decode_controller(state, report), 1);
  const std::array<uint16_t, 11> expected{0x1234, 0,     0,   0x321, 0x654, 0xFFF,
                                          0xFFF,  0x700, 0xA, 0,     0x00FF};
  for (size_t k = 0; k < expected.size(); ++k) EXPECT_EQ(state.value[k], expected[k]) << k;
}

TEST(GameControllerReport, WrongLengthOrNullChangesNothing) {
  std::mt19937 rng(12);
  for (const size_t size : std::initializer_list<size_t>{0, 1, 18, 20, 23, 255}) {
    const Bytes report = random_report(rng, std::max<size_t>(size, 1));
    GameControllerState state = sentinel_state();
    EXPECT_EQ(parse_hid_game_controller_device(&state, report.data(), static_cast<uint8_t>(size)),
              0)
        << size;
    EXPECT_TRUE(same(state, sentinel_state())) << size;
  }
  const Bytes report(ZELKOLINK_GAME_CONTROLLER_REPORT_SIZE, 1);
  GameControllerState state = sentinel_state();
  EXPECT_EQ(parse_hid_game_controller_device(nullptr, report.data(), 19), 0);
  EXPECT_EQ(parse_hid_game_controller_device(&state, nullptr, 19), 0);
  EXPECT_TRUE(same(state, sentinel_state()));
}

TEST(CompatibleReport, RandomReportsCarryNineLittleEndianValues) {
  std::mt19937 rng(13);
  for (int round = 0; round < 2000; ++round) {
    Bytes report = random_report(rng, ZELKOLINK_COMPATIBLE_REPORT_SIZE);
    report[0] = kStart;  // bytes 1..3 and 22 stay random: they are never tested
    InputValues inputs;
    ASSERT_EQ(decode_compatible(inputs, report), 1);
    for (size_t k = 0; k < ZELKOLINK_INPUT_COUNT; ++k) {
      ASSERT_EQ(inputs.value[k], bits(report, 32 + 16 * k, 16)) << "value " << k;
    }
  }
}

TEST(CompatibleReport, HasNoKindByte) {
  Bytes report(ZELKOLINK_COMPATIBLE_REPORT_SIZE, 0);
  report[0] = kStart;
  report[4] = 0x34;
  report[5] = 0x12;
  InputValues inputs;
  ASSERT_EQ(decode_compatible(inputs, report), 1);
  EXPECT_EQ(inputs.value[0], 0x1234);
}

TEST(CompatibleReport, WrongShapeOrNullChangesNothing) {
  struct Shape {
    size_t size;
    uint8_t first;
  };
  const Shape shapes[] = {{23, 0xFB},   {23, 0x00},  {23, 0x5F},  {22, kStart},
                          {24, kStart}, {0, kStart}, {1, kStart}, {255, kStart}};
  for (const Shape& shape : shapes) {
    Bytes report(std::max<size_t>(shape.size, 1), 0x11);
    report[0] = shape.first;
    InputValues inputs = sentinel_records().inputs;
    EXPECT_EQ(parse_hid_compatible_device(&inputs, report.data(), static_cast<uint8_t>(shape.size)),
              0)
        << shape.size << " bytes starting " << int{shape.first};
    EXPECT_TRUE(std::all_of(std::begin(inputs.value), std::end(inputs.value),
                            [](uint16_t v) { return v == kSentinel; }));
  }
  Bytes report(ZELKOLINK_COMPATIBLE_REPORT_SIZE, 0);
  report[0] = kStart;
  InputValues inputs = sentinel_records().inputs;
  EXPECT_EQ(parse_hid_compatible_device(nullptr, report.data(), 23), 0);
  EXPECT_EQ(parse_hid_compatible_device(&inputs, nullptr, 23), 0);
  EXPECT_EQ(inputs.value[0], kSentinel);
}

}  // namespace
}  // namespace zelkolink_test
