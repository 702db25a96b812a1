/* A program that uses an installed ZelkoLink, as a new user's would. */
#include <stdio.h>
#include <zelkolink.h>

int main(void) {
  static const uint8_t upload[] = {0xFA, 0xA5, 0x13, 0x00, 0x00, 0x01, 0x00, 0x02,
                                   0x00, 0x03, 0x00, 0x04, 0x00, 0x05, 0x00, 0x06,
                                   0x00, 0x07, 0x00, 0x08, 0x00, 0x09, 0x00, 0x5F};
  uint8_t request[ZELKOLINK_REQUEST_FRAME_SIZE];
  InputValues inputs = {{0}};

  request_upload_port_data(request, 0x01, 0x02);
  if (request[0] != 0xFA || request[6] != 0x5F) return 1;
  if (!parse_port_data(upload, (uint8_t)sizeof upload, &inputs, NULL)) return 2;
  if (inputs.value[0] != 1 || inputs.value[8] != 9) return 3;
  printf("consumer: ZelkoLink %d.%d.%d decoded inputs %u..%u\n", ZELKOLINK_VERSION_MAJOR,
         ZELKOLINK_VERSION_MINOR, ZELKOLINK_VERSION_PATCH, (unsigned)inputs.value[0],
         (unsigned)inputs.value[8]);
  return 0;
}
