// Command-line options of zelkolink-bridge and the --help text that
// documents them.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "arguments.hpp"

namespace zelkolink_bridge {

enum class SourceKind { port, hid, file };

struct Options {
  bool help = false;
  SourceKind source = SourceKind::port;
  std::string from;                // the device port, or the capture for --from-file
  zelkolink_tools::DeviceIds hid;  // --from-hid
  std::string to_sbus;
  uint32_t baud = 115200;
  std::array<uint8_t, 2> request{0x01, 0x00};
  uint32_t interval_ms = 14;
  bool raw = false;
  bool sbus2 = false;
  std::optional<std::string> map_file;
  bool status = false;
  uint32_t lost_ms = 100;
  uint32_t failsafe_ms = 1000;
  double file_rate = 100;  // upload frames a second replayed from --from-file
  std::optional<std::chrono::milliseconds> seconds;
  bool exit_on_loss = false;
  std::optional<std::string> trace;
  std::optional<std::string> capture;  // --capture: the device port's reads and writes, as pcapng
};

// Reads the arguments after the program name. Throws ToolError (bad usage)
// for an unknown option, a bad value, no source or more than one, no
// --to-sbus, or a --failsafe-ms not longer than --lost-ms.
Options parse_options(std::span<const char* const> arguments);

// The full --help text, ending in a newline. The notes say what this build
// leaves out of --from-hid and --map ("" when nothing).
std::string help_text(const char* hid_note, const char* map_note);

}  // namespace zelkolink_bridge
