#include "hid_layouts.hpp"

#include <algorithm>

namespace zelkolink_tools {
namespace {

constexpr std::array<uint8_t, zelkolink::game_controller_count> kGameControllerBits{
    16, 16, 16, 12, 12, 12, 12, 12, 4, 16, 8};

}  // namespace

HidReport decode_hid_report(std::span<const uint8_t> report) {
  HidReport decoded;
  if (report.size() == kGameControllerReportSize) {
    GameControllerState state{};
    if (zelkolink::parse_hid_game_controller_device(state, report)) {
      const auto values = zelkolink::values(state);
      std::copy(values.begin(), values.end(), decoded.values.begin());
      decoded.bits = kGameControllerBits;
      decoded.count = values.size();
      decoded.layout = HidLayout::game_controller;
    }
  } else if (report.size() == kCompatibleReportSize) {
    InputValues inputs{};
    if (zelkolink::parse_hid_compatible_device(inputs, report)) {
      const auto values = zelkolink::values(inputs);
      std::copy(values.begin(), values.end(), decoded.values.begin());
      std::fill_n(decoded.bits.begin(), values.size(), uint8_t{16});
      decoded.count = values.size();
      decoded.layout = HidLayout::compatible;
    }
  }
  return decoded;
}

const char* layout_name(HidLayout layout) {
  switch (layout) {
    case HidLayout::game_controller:
      return "game-controller";
    case HidLayout::compatible:
      return "compatible";
    case HidLayout::none:
      return "";
  }
  return "";
}

}  // namespace zelkolink_tools
