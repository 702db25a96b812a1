// Compatible-device report decoder: any bytes at any length. A 23-byte report
// starting with 0xFA must decode value k from bytes 4 + 2k, 5 + 2k
// (little-endian); anything else must return false and leave the inputs
// untouched. The report sits in a heap block of exactly the length passed.
#include "fuzz_support.hpp"
#include "zelkolink.h"

namespace {

constexpr size_t kReportSize = ZELKOLINK_COMPATIBLE_REPORT_SIZE;
constexpr uint8_t kReportStart = 0xFA;

InputValues sentinel_inputs() {
  InputValues inputs;
  for (size_t k = 0; k < ZELKOLINK_INPUT_COUNT; ++k) {
    inputs.value[k] = static_cast<uint16_t>(0xA5C0 + k);
  }
  return inputs;
}

InputValues model(const uint8_t* report) {
  InputValues inputs;
  for (size_t k = 0; k < ZELKOLINK_INPUT_COUNT; ++k) {
    inputs.value[k] = static_cast<uint16_t>(report[4 + 2 * k] | report[5 + 2 * k] << 8);
  }
  return inputs;
}

bool same(const InputValues& a, const InputValues& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// Decodes the first `len` input bytes (zero-padded) as a `len`-byte report,
// with byte 0 replaced by `first` when given, and checks the outcome.
void check_length(const uint8_t* data, size_t size, size_t len, int first = -1) {
  const zelkolink_fuzz::ExactBytes report(data, size, len);
  if (first >= 0 && len > 0) report[0] = static_cast<uint8_t>(first);
  const uint8_t length = static_cast<uint8_t>(len);
  const auto inputs = std::make_unique<InputValues>(sentinel_inputs());
  const ZelkoLinkBool result = parse_hid_compatible_device(inputs.get(), report.data(), length);
  const bool valid = len == kReportSize && report[0] == kReportStart;
  FUZZ_CHECK(result == (valid ? 1 : 0));
  FUZZ_CHECK(same(*inputs, valid ? model(report.data()) : sentinel_inputs()));

  // Null pointers: false, and the inputs are untouched.
  FUZZ_CHECK(parse_hid_compatible_device(nullptr, report.data(), length) == 0);
  *inputs = sentinel_inputs();
  FUZZ_CHECK(parse_hid_compatible_device(inputs.get(), nullptr, length) == 0);
  FUZZ_CHECK(same(*inputs, sentinel_inputs()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  check_length(data, size, std::min<size_t>(size, ZELKOLINK_MAX_CHUNK));
  // The report length and its neighbours, as given and with a start byte.
  for (const size_t len : {size_t{0}, kReportSize - 1, kReportSize, kReportSize + 1, size_t{255}}) {
    check_length(data, size, len);
    check_length(data, size, len, kReportStart);
  }
  return 0;
}
