#include "hid_reports.hpp"

#include "byte_order.hpp"
#include "port_link.hpp"

namespace zelkolink::hid {

namespace {

// The compatible report has a port frame's shape with an 18-byte payload:
// the start byte, three bytes that are never read, nine values, and a last
// byte that is never read.
constexpr size_t COMPATIBLE_VALUES_OFFSET = port_link::HEADER_SIZE;

// Two 12-bit values packed in three bytes, the first in the low bits.
uint16_t first_of_pair(const uint8_t* bytes) {
  return static_cast<uint16_t>(bytes[0] | (bytes[1] & 0x0F) << 8);
}

uint16_t second_of_pair(const uint8_t* bytes) {
  return static_cast<uint16_t>(bytes[1] >> 4 | bytes[2] << 4);
}

}  // namespace

bool decode_game_controller(GameControllerState* state, const uint8_t* report, size_t len) {
  if (len != ZELKOLINK_GAME_CONTROLLER_REPORT_SIZE) return false;
  uint16_t* value = state->value;
  value[0] = load_le16(report + 0);
  value[1] = load_le16(report + 2);
  value[2] = load_le16(report + 4);
  value[3] = first_of_pair(report + 6);
  value[4] = second_of_pair(report + 6);
  value[5] = first_of_pair(report + 9);
  value[6] = second_of_pair(report + 9);
  value[7] = first_of_pair(report + 12);  // 12 bits from byte 12 and byte 13's low nibble
  value[8] = report[13] >> 4;             // 4 bits: byte 13's high nibble
  value[9] = load_le16(report + 14);
  value[10] = report[16];
  return true;  // bytes 17 and 18 carry nothing the library reads
}

bool decode_compatible(InputValues* inputs, const uint8_t* report, size_t len) {
  if (len != ZELKOLINK_COMPATIBLE_REPORT_SIZE || report[0] != port_link::FRAME_START) return false;
  load_le16_array<ZELKOLINK_INPUT_COUNT>(inputs->value, report + COMPATIBLE_VALUES_OFFSET);
  return true;
}

}  // namespace zelkolink::hid
