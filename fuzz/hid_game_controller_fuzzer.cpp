// Game-controller report decoder: any bytes at any length. A 19-byte report
// must decode into the layout below; any other length must return false and
// leave the state untouched. The report sits in a heap block of exactly the
// length passed, so reading a byte the length does not cover stops the run.
#include "fuzz_support.hpp"
#include "zelkolink.h"

namespace {

constexpr size_t kReportSize = ZELKOLINK_GAME_CONTROLLER_REPORT_SIZE;

GameControllerState sentinel_state() {
  GameControllerState state;
  for (size_t k = 0; k < ZELKOLINK_GAME_CONTROLLER_COUNT; ++k) {
    state.value[k] = static_cast<uint16_t>(0xA5C0 + k);
  }
  return state;
}

// The report layout: values 0..2 and 9 are little-endian 16-bit, 3..6 are
// 12-bit pairs packed in three bytes (first in the low bits), 7 is 12 bits
// from byte 12 and byte 13's low nibble, 8 byte 13's high nibble, 10 byte 16.
GameControllerState model(const uint8_t* r) {
  const auto le16 = [&](size_t at) { return static_cast<uint16_t>(r[at] | r[at + 1] << 8); };
  const auto low12 = [&](size_t at) {
    return static_cast<uint16_t>(r[at] | (r[at + 1] & 0xF) << 8);
  };
  const auto high12 = [&](size_t at) {
    return static_cast<uint16_t>(r[at + 1] >> 4 | r[at + 2] << 4);
  };
  GameControllerState state;
  uint16_t* v = state.value;
  v[0] = le16(0);
  v[1] = le16(2);
  v[2] = le16(4);
  v[3] = low12(6);
  v[4] = high12(6);
  v[5] = low12(9);
  v[6] = high12(9);
  v[7] = low12(12);
  v[8] = static_cast<uint16_t>(r[13] >> 4);
  v[9] = le16(14);
  v[10] = r[16];
  return state;
}

bool same(const GameControllerState& a, const GameControllerState& b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

// Decodes the first `len` input bytes (zero-padded) passed as a `len`-byte
// report and checks the outcome.
void check_length(const uint8_t* data, size_t size, size_t len) {
  const zelkolink_fuzz::ExactBytes report(data, size, len);
  const uint8_t length = static_cast<uint8_t>(len);
  const auto state = std::make_unique<GameControllerState>(sentinel_state());
  const ZelkoLinkBool result = parse_hid_game_controller_device(state.get(), report.data(), length);
  FUZZ_CHECK(result == (len == kReportSize ? 1 : 0));
  FUZZ_CHECK(same(*state, result == 1 ? model(report.data()) : sentinel_state()));

  // Null pointers: false, and the state is untouched.
  FUZZ_CHECK(parse_hid_game_controller_device(nullptr, report.data(), length) == 0);
  *state = sentinel_state();
  FUZZ_CHECK(parse_hid_game_controller_device(state.get(), nullptr, length) == 0);
  FUZZ_CHECK(same(*state, sentinel_state()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  check_length(data, size, std::min<size_t>(size, ZELKOLINK_MAX_CHUNK));
  // The report length itself and its neighbours, whatever the input's size.
  for (const size_t len : {size_t{0}, kReportSize - 1, kReportSize, kReportSize + 1, size_t{255}}) {
    check_length(data, size, len);
  }
  return 0;
}
