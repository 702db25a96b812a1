// What a source's bytes carry into SourceValues, and whether that keeps the
// link alive. Pure (but for the library's process-wide port parser), so the
// bridge's sources and the web page's bridge module decide alike.
#pragma once

#include <cstdint>
#include <span>

#include "channel_map.hpp"
#include "hid_layouts.hpp"

namespace zelkolink_bridge {

// What the upload frames completed by some bytes carried: a record of kind 0
// carries the inputs, kind 1 the channels, kind 2 both.
struct Carried {
  bool frame = false;  // an upload frame completed
  bool inputs = false;
  bool channels = false;
};

// Feeds port bytes to the library's parser (one stream per process); what
// the frames they completed carried is stored in values.
Carried decode_port_bytes(std::span<const uint8_t> bytes, SourceValues& values);

// Decodes one HID report by its length into values' HID part, and returns
// its layout; none (values untouched) for a report of neither layout. Every
// decoded report is fresh.
zelkolink_tools::HidLayout decode_hid_bytes(std::span<const uint8_t> report, SourceValues& values);

// True when what arrived carries values the map uses.
bool is_fresh(const Carried& carried, const MapReads& reads);

}  // namespace zelkolink_bridge
