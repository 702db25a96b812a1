/* Loads ZelkoLink.dll at run time, as C#, Python and other hosts do, finds
 * all eight functions by their plain names and calls the parser through a
 * pointer declared the way those hosts declare it: cdecl, one-byte result. */
#include <stdint.h>
#include <stdio.h>
#include <windows.h>

typedef uint8_t(__cdecl* ParsePortData)(const uint8_t*, uint8_t, uint16_t*, uint16_t*);

int main(void) {
  static const char* const names[] = {"request_upload_port_data",
                                      "stop_upload_port_data",
                                      "parse_port_data",
                                      "parse_hid_game_controller_device",
                                      "parse_hid_compatible_device",
                                      "convert_std_sbus_data",
                                      "encode_sbus_data_v1",
                                      "encode_sbus_data_v2"};
  static const uint8_t upload[] = {0xFA, 0xA5, 0x13, 0x00, 0x00, 0x01, 0x00, 0x02,
                                   0x00, 0x03, 0x00, 0x04, 0x00, 0x05, 0x00, 0x06,
                                   0x00, 0x07, 0x00, 0x08, 0x00, 0x09, 0x00, 0x5F};
  uint16_t inputs[9] = {0};
  int passed = 0;
  int failed = 0;
  size_t k;
  ParsePortData parse;
  HMODULE library = LoadLibraryA("ZelkoLink.dll");

  if (library == NULL) {
    printf("cannot load ZelkoLink.dll\n0 passed, 1 failed\n");
    return 1;
  }
  for (k = 0; k < sizeof names / sizeof names[0]; ++k) {
    if (GetProcAddress(library, names[k]) != NULL) {
      ++passed;
    } else {
      ++failed;
      printf("not found by name: %s\n", names[k]);
    }
  }
  parse = (ParsePortData)(void (*)(void))GetProcAddress(library, "parse_port_data");
  if (parse != NULL && parse(upload, (uint8_t)sizeof upload, inputs, NULL) == 1 && inputs[0] == 1 &&
      inputs[8] == 9) {
    ++passed;
  } else {
    ++failed;
    printf("parse_port_data through a loaded pointer did not decode the frame\n");
  }
  FreeLibrary(library);
  printf("%d passed, %d failed\n", passed, failed);
  return failed == 0 ? 0 : 1;
}
