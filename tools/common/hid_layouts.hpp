// The two HID report layouts, told apart by length as every reader of live
// reports does (a device gives no other sign): 19 bytes is a game controller,
// 23 bytes starting FA a compatible device. Pure; zelkolink-dump, the bridge
// and the web page (through its bridge module) decode reports here.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "zelkolink.hpp"

namespace zelkolink_tools {

inline constexpr std::size_t kGameControllerReportSize = 19;
inline constexpr std::size_t kCompatibleReportSize = 23;
inline constexpr uint8_t kCompatibleStartByte = 0xFA;

enum class HidLayout { none, game_controller, compatible };

// A decoded report: its layout, its values (11 for a game controller, 9 for a
// compatible device, the rest 0) and the significant bits of each (a game
// controller's axes have 12, its hat 4; a compatible device's values 16).
struct HidReport {
  HidLayout layout = HidLayout::none;
  std::size_t count = 0;
  std::array<uint16_t, zelkolink::game_controller_count> values{};
  std::array<uint8_t, zelkolink::game_controller_count> bits{};
};

// The report decoded by its length; layout none for any other report.
HidReport decode_hid_report(std::span<const uint8_t> report);

// How rows and the page name a layout: "game-controller", "compatible", "".
const char* layout_name(HidLayout layout);

}  // namespace zelkolink_tools
