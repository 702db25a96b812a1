/* The typical road on the port link: build the upload request, feed what the
 * device sends back to parse_port_data as it arrives, read the records when a
 * call reports a frame, then build the stop command.
 *
 * The "port" here is a capture file (by default the bundled sample), read in
 * uneven chunks the way a serial port hands bytes over. */
#include <stdio.h>

#include "zelkolink.h"

#ifndef SAMPLE_PORT_STREAM
#  define SAMPLE_PORT_STREAM "sample_port_stream.bin"
#endif

static void print_bytes(const char* label, const uint8_t* bytes, size_t count) {
  size_t k;
  printf("%s", label);
  for (k = 0; k < count; ++k) printf(" %02X", bytes[k]);
  printf("\n");
}

int main(int argc, char** argv) {
  /* Chunk sizes a port might deliver, used in turn. */
  static const size_t chunk_sizes[] = {1, 7, 64, 255, 13, 100, 2, 31};
  const char* path = argc > 1 ? argv[1] : SAMPLE_PORT_STREAM;
  uint8_t request[ZELKOLINK_REQUEST_FRAME_SIZE];
  uint8_t stop[ZELKOLINK_STOP_FRAME_SIZE];
  uint8_t chunk[ZELKOLINK_MAX_CHUNK];
  InputValues inputs = {{0}};
  ChannelValues channels = {{0}};
  size_t turn = 0;
  size_t got;
  int frames = 0;
  FILE* port = fopen(path, "rb");

  if (port == NULL) {
    fprintf(stderr, "port_stream: cannot open %s\n", path);
    return 1;
  }

  request_upload_port_data(request, 0x01, 0x00);
  print_bytes("send request:", request, sizeof request);

  while ((got = fread(chunk, 1, chunk_sizes[turn % 8], port)) > 0) {
    ++turn;
    if (parse_port_data(chunk, (uint8_t)got, &inputs, &channels)) {
      int k;
      ++frames;
      printf("after read %zu (%zu bytes): inputs", turn, got);
      for (k = 0; k < ZELKOLINK_INPUT_COUNT; ++k) printf(" %u", (unsigned)inputs.value[k]);
      printf("\n    channels");
      for (k = 0; k < ZELKOLINK_CHANNEL_COUNT; ++k) printf(" %u", (unsigned)channels.value[k]);
      printf("\n");
    }
  }
  fclose(port);

  stop_upload_port_data(stop);
  print_bytes("send stop:", stop, sizeof stop);
  printf("%zu reads, %d of them completed upload frames\n", turn, frames);
  return 0;
}
