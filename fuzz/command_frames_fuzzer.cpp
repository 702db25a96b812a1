// Host command frames: the request frame is FA E5 02 00 b0 b1 5F for any two
// payload bytes, the stop frame FA E4 00 00 5F, each written into a block of
// exactly its size and, in a larger block, without touching what follows.
#include "fuzz_support.hpp"
#include "zelkolink.h"

namespace {

constexpr size_t kSlack = 8;  // bytes past the frame that must stay as they were

// Builds a frame with `build` into an exact-size block and into one with
// slack, and checks both against `expected`.
template <typename Build>
void check_frame(const uint8_t* expected, size_t size, uint8_t fill, Build build) {
  const std::unique_ptr<uint8_t[]> exact = zelkolink_fuzz::exact_block<uint8_t>(size);
  build(exact.get());
  FUZZ_CHECK(std::memcmp(exact.get(), expected, size) == 0);

  const std::unique_ptr<uint8_t[]> roomy = zelkolink_fuzz::exact_block<uint8_t>(size + kSlack);
  std::memset(roomy.get(), fill, size + kSlack);
  build(roomy.get());
  FUZZ_CHECK(std::memcmp(roomy.get(), expected, size) == 0);
  for (size_t at = size; at < size + kSlack; ++at) FUZZ_CHECK(roomy[at] == fill);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  zelkolink_fuzz::Reader reader(data, size);
  const uint8_t b0 = reader.byte();
  const uint8_t b1 = reader.byte();
  const uint8_t fill = reader.byte();

  const uint8_t request[ZELKOLINK_REQUEST_FRAME_SIZE] = {0xFA, 0xE5, 0x02, 0x00, b0, b1, 0x5F};
  check_frame(request, sizeof request, fill,
              [&](uint8_t* frame) { request_upload_port_data(frame, b0, b1); });
  const uint8_t stop[ZELKOLINK_STOP_FRAME_SIZE] = {0xFA, 0xE4, 0x00, 0x00, 0x5F};
  check_frame(stop, sizeof stop, fill, [](uint8_t* frame) { stop_upload_port_data(frame); });

  request_upload_port_data(nullptr, b0, b1);  // null: nothing happens, nothing crashes
  stop_upload_port_data(nullptr);
  return 0;
}
