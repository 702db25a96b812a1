/* Compiled as strict C99: proves the public header is plain C and calls
 * every exported function once through it. */
#include <stdio.h>
#include <string.h>

#include "zelkolink.h"

static int failures = 0;
static int checks = 0;

#define CHECK(condition)                                             \
  do {                                                               \
    ++checks;                                                        \
    if (!(condition)) {                                              \
      ++failures;                                                    \
      printf("%s:%d: failed: %s\n", __FILE__, __LINE__, #condition); \
    }                                                                \
  } while (0)

int main(void) {
  uint8_t request[ZELKOLINK_REQUEST_FRAME_SIZE];
  uint8_t stop[ZELKOLINK_STOP_FRAME_SIZE];
  static const uint8_t expected_request[] = {0xFA, 0xE5, 0x02, 0x00, 0x01, 0x02, 0x5F};
  static const uint8_t expected_stop[] = {0xFA, 0xE4, 0x00, 0x00, 0x5F};
  /* A kind-0 upload frame carrying inputs 0x0100 .. 0x0108. */
  static const uint8_t upload[] = {0xFA, 0xA5, 0x13, 0x00, 0x00, 0x00, 0x01, 0x01,
                                   0x01, 0x02, 0x01, 0x03, 0x01, 0x04, 0x01, 0x05,
                                   0x01, 0x06, 0x01, 0x07, 0x01, 0x08, 0x01, 0x5F};
  uint8_t controller_report[ZELKOLINK_GAME_CONTROLLER_REPORT_SIZE] = {0x34, 0x12};
  uint8_t compatible_report[ZELKOLINK_COMPATIBLE_REPORT_SIZE] = {0xFA, 0, 0, 0, 0x78, 0x56};
  InputValues inputs;
  ChannelValues channels;
  GameControllerState state;
  SbusChannels standard = {100, 1200, 65535};
  SbusChannels sbus;
  SbusFrame frame = {0x0F};
  ZelkoLinkBool result;

  CHECK(sizeof(InputValues) == 18);
  CHECK(sizeof(ChannelValues) == 64);
  CHECK(sizeof(GameControllerState) == 22);
  CHECK(sizeof(SbusChannels) == 32);
  CHECK(sizeof(SbusFrame) == 25);
#if defined(_WIN32)
  CHECK(sizeof(ZelkoLinkBool) == 1);
#else
  CHECK(sizeof(ZelkoLinkBool) == 4);
#endif

  request_upload_port_data(request, 0x01, 0x02);
  CHECK(memcmp(request, expected_request, sizeof request) == 0);
  stop_upload_port_data(stop);
  CHECK(memcmp(stop, expected_stop, sizeof stop) == 0);

  memset(&inputs, 0, sizeof inputs);
  memset(&channels, 0, sizeof channels);
  result = parse_port_data(upload, (uint8_t)sizeof upload, &inputs, &channels);
  CHECK(result == 1);
  CHECK(inputs.value[0] == 0x0100 && inputs.value[8] == 0x0108);
  CHECK(channels.value[0] == 0);

  CHECK(parse_hid_game_controller_device(&state, controller_report, sizeof controller_report) == 1);
  CHECK(state.value[0] == 0x1234);
  CHECK(parse_hid_compatible_device(&inputs, compatible_report, sizeof compatible_report) == 1);
  CHECK(inputs.value[0] == 0x5678);

  convert_std_sbus_data(sbus, standard);
  CHECK(sbus[0] == 170 && sbus[1] == 2047 && sbus[2] == 2047 && sbus[3] == 0);
  encode_sbus_data_v1(frame, sbus);
  CHECK(frame[0] == 0x0F && frame[1] == 170 && frame[24] == 0);
  encode_sbus_data_v2(frame, sbus);
  CHECK(frame[0] == 0x0F && frame[1] == 170 && frame[24] == 0x04);

  printf("%d passed, %d failed\n", checks - failures, failures);
  return failures == 0 ? 0 : 1;
}
