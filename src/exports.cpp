// The exported C functions: each checks its pointers once and hands the work
// to the C++ core. Nothing else leaves the library.
#include "hid_reports.hpp"
#include "port_link.hpp"
#include "sbus_output.hpp"
#include "zelkolink.h"

namespace {

ZelkoLinkBool to_result(bool value) { return value ? 1 : 0; }

}  // namespace

extern "C" {

ZELKOLINK_API void ZELKOLINK_CALL request_upload_port_data(uint8_t* frame, uint8_t payload_byte0,
                                                           uint8_t payload_byte1) {
  if (frame == nullptr) return;
  zelkolink::port_link::write_upload_request(frame, payload_byte0, payload_byte1);
}

ZELKOLINK_API void ZELKOLINK_CALL stop_upload_port_data(uint8_t* frame) {
  if (frame == nullptr) return;
  zelkolink::port_link::write_upload_stop(frame);
}

ZELKOLINK_API ZelkoLinkBool ZELKOLINK_CALL parse_port_data(const uint8_t* data, uint8_t len,
                                                           InputValues* inputs,
                                                           ChannelValues* channels) {
  if (len == 0 || data == nullptr) return to_result(false);
  return to_result(zelkolink::port_link::parse(data, len, inputs, channels));
}

ZELKOLINK_API ZelkoLinkBool ZELKOLINK_CALL
parse_hid_game_controller_device(GameControllerState* state, const uint8_t* report, uint8_t len) {
  if (state == nullptr || report == nullptr) return to_result(false);
  return to_result(zelkolink::hid::decode_game_controller(state, report, len));
}

ZELKOLINK_API ZelkoLinkBool ZELKOLINK_CALL parse_hid_compatible_device(InputValues* inputs,
                                                                       const uint8_t* report,
                                                                       uint8_t len) {
  if (inputs == nullptr || report == nullptr) return to_result(false);
  return to_result(zelkolink::hid::decode_compatible(inputs, report, len));
}

ZELKOLINK_API void ZELKOLINK_CALL convert_std_sbus_data(uint16_t* sbus_values,
                                                        const uint16_t* std_values) {
  if (sbus_values == nullptr || std_values == nullptr) return;
  zelkolink::sbus::convert_std(sbus_values, std_values);
}

ZELKOLINK_API void ZELKOLINK_CALL encode_sbus_data_v1(uint8_t* frame, const uint16_t* channels) {
  if (frame == nullptr || channels == nullptr) return;
  zelkolink::sbus::encode_v1(frame, channels);
}

ZELKOLINK_API void ZELKOLINK_CALL encode_sbus_data_v2(uint8_t* frame, const uint16_t* channels) {
  if (frame == nullptr || channels == nullptr) return;
  zelkolink::sbus::encode_v2(frame, channels);
}

}  // extern "C"
