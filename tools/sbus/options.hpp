// Command-line options of zelkolink-sbus and the --help text that documents
// them.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "zelkolink.hpp"

namespace zelkolink_sbus {

using ChannelArray = std::array<uint16_t, zelkolink::sbus_channel_count>;

// Where the channel values come from.
enum class ValueSource {
  fixed,  // the same values in every frame: --channels, --std or the default
  sweep,  // --sweep: every channel moves through its range
};

inline constexpr uint32_t kDefaultIntervalMs = 14;
inline constexpr uint32_t kMinIntervalMs = 4;  // a frame takes 3 ms on the wire at 100000 baud, 8E2
inline constexpr uint32_t kMaxIntervalMs = 1000;
inline constexpr uint16_t kCentre = 1024;  // the middle of 0..2047

struct Options {
  bool help = false;
  std::string port;
  uint32_t interval_ms = kDefaultIntervalMs;
  ValueSource source = ValueSource::fixed;
  ChannelArray channels{};  // SBUS units, for ValueSource::fixed
  bool sbus2 = false;
  std::optional<uint64_t> count;  // frames to send; without it, until stopped
};

// Reads the arguments after the program name. Throws ToolError (bad usage)
// for an unknown option, a missing or bad value, a stray argument, a missing
// --port, or more than one of --channels, --std and --sweep.
Options parse_options(std::span<const char* const> arguments);

// The full --help text, ending in a newline.
const char* help_text();

}  // namespace zelkolink_sbus
