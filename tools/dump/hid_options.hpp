// The HID options of zelkolink-dump: where input reports come from and
// whether they carry a report ID.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "arguments.hpp"

namespace zelkolink_dump {

enum class HidSource {
  none,
  device_id,    // --hid VID:PID[:SERIAL]
  device_path,  // --hid-path PATH
  file,         // --hid-file FILE, hex text, one report per line
  list,         // --hid-list
};

struct HidOptions {
  HidSource source = HidSource::none;
  uint16_t vendor_id = 0;
  uint16_t product_id = 0;
  std::optional<std::string> serial;
  std::string path;                  // the device path or the file
  std::optional<uint8_t> report_id;  // expected, then stripped, 1..255

  // A device read live (--hid or --hid-path), not a file or the list.
  [[nodiscard]] bool live() const {
    return source == HidSource::device_id || source == HidSource::device_path;
  }
};

// When the argument at hand is a HID option, reads it and its value into hid
// and returns true; returns false for any other argument. Throws ToolError
// (bad usage) for a missing or bad value, or a second report source.
bool parse_hid_option(zelkolink_tools::Arguments& args, HidOptions& hid);

}  // namespace zelkolink_dump
