// The HID options of zelkolink-dump: where input reports come from, whether
// they carry a report ID, and what ends a live run.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace zelkolink_dump {

struct Options;

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
  std::string path;                                   // the device path or the file
  std::optional<uint8_t> report_id;                   // expected, then stripped, 1..255
  std::optional<uint64_t> count;                      // rows to print, then stop
  std::optional<std::chrono::milliseconds> duration;  // how long a live run lasts
};

// When arguments[k] is a HID option, reads it and its value (moving k past
// the value) into hid and returns true; returns false for any other
// argument. Throws DumpError (bad usage) for a missing or bad value, or a
// second report source.
bool parse_hid_option(std::span<const char* const> arguments, std::size_t& k, HidOptions& hid);

// Refuses HID options without a source they apply to, and options of the
// port decoder or the SBUS encoder given with a HID source. chunk_given says
// whether --chunk was on the command line.
void check_hid_combinations(const Options& options, bool chunk_given);

}  // namespace zelkolink_dump
