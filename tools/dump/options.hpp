// Command-line options of zelkolink-dump and the --help text that documents
// them.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "hid_options.hpp"
#include "rows.hpp"
#include "run_limits.hpp"
#include "zelkolink.hpp"

namespace zelkolink_dump {

struct Options {
  bool help = false;
  bool sbus = false;     // encode SBUS frames instead of decoding a capture
  bool sbus_v2 = false;  // with sbus: cycling SBUS2 end bytes
  bool hex = false;      // the capture is hex text
  OutputFormat format = OutputFormat::csv;
  // Bytes per parse call, 1..255: a raw capture is fed 255 at a time unless
  // given, a pcapng capture read by read.
  std::optional<std::size_t> chunk;
  std::optional<std::string> file;  // "-" is standard input
  bool stats = false;               // summarise a pcapng capture instead of decoding it

  // Live port link (--port and the options that go with it).
  std::optional<std::string> port;             // read this serial port instead of a file
  uint32_t baud = 115200;                      // the port's rate, 8N1
  std::array<uint8_t, 2> request{0x01, 0x00};  // the two bytes of the upload request
  bool watch = false;                          // full-terminal live view instead of rows
  std::optional<std::string> capture;          // --capture: every read and write, as pcapng

  RunLimits limits;  // --count and --seconds, for a port or a HID run
  HidOptions hid;    // HID input reports
};

// Reads the arguments after the program name. Throws ToolError (bad usage)
// for an unknown option, a missing or bad option value, a second file, or
// options that do not go together.
Options parse_options(std::span<const char* const> arguments);

// The full --help text, ending in a newline.
const char* help_text();

}  // namespace zelkolink_dump
