// Standard-to-SBUS scaling: any sixteen values. Each output must be
// min(x * 1706 / 1000, 2047), into a separate array and in place; a null
// pointer must leave the output untouched. The input is read as consecutive
// groups of sixteen little-endian values, the last one zero-padded.
#include "fuzz_support.hpp"
#include "zelkolink.h"

namespace {

constexpr size_t kValues = ZELKOLINK_SBUS_CHANNEL_COUNT;
constexpr uint16_t kSentinel = 0xA55A;

uint16_t model(uint16_t standard) {
  const uint32_t scaled = standard * 1706u / 1000u;
  return static_cast<uint16_t>(std::min<uint32_t>(scaled, ZELKOLINK_SBUS_CHANNEL_MAX));
}

void check_group(const uint16_t* standard) {
  const std::unique_ptr<uint16_t[]> sbus = zelkolink_fuzz::exact_block<uint16_t>(kValues);
  const std::unique_ptr<uint16_t[]> in_place = zelkolink_fuzz::exact_block<uint16_t>(kValues);
  std::fill_n(sbus.get(), kValues, kSentinel);
  std::copy_n(standard, kValues, in_place.get());

  convert_std_sbus_data(sbus.get(), nullptr);
  convert_std_sbus_data(nullptr, standard);
  for (size_t k = 0; k < kValues; ++k) FUZZ_CHECK(sbus[k] == kSentinel);

  convert_std_sbus_data(sbus.get(), standard);
  convert_std_sbus_data(in_place.get(), in_place.get());
  for (size_t k = 0; k < kValues; ++k) {
    FUZZ_CHECK(sbus[k] == model(standard[k]));
    FUZZ_CHECK(in_place[k] == model(standard[k]));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  zelkolink_fuzz::Reader reader(data, size);
  const std::unique_ptr<uint16_t[]> standard = zelkolink_fuzz::exact_block<uint16_t>(kValues);
  do {
    for (size_t k = 0; k < kValues; ++k) standard[k] = reader.le16();
    check_group(standard.get());
  } while (reader.remaining() != 0);
  return 0;
}
