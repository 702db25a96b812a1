// Command-line options of zelkolink-sbus and the --help text that documents
// them.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "sbus_frame.hpp"

namespace zelkolink_sbus {

// Where the channel values come from.
enum class ValueSource {
  fixed,  // the same values in every frame: --channels, --std or the default
  sweep,  // --sweep: every channel moves through its range
};

inline constexpr uint32_t kDefaultIntervalMs = 14;
inline constexpr uint32_t kMinIntervalMs = 4;  // a frame takes 3 ms on the wire at 100000 baud, 8E2
inline constexpr uint32_t kMaxIntervalMs = 1000;
// Receivers commonly map 172..1811 to 988..2012 µs and 992 to 1500 µs: a
// servo's usual travel and its centre.
inline constexpr uint16_t kCentre = 992;
inline constexpr uint16_t kSweepLow = 172;
inline constexpr uint16_t kSweepHigh = 1811;

struct Options {
  bool help = false;
  std::string port;
  uint32_t interval_ms = kDefaultIntervalMs;
  ValueSource source = ValueSource::fixed;
  zelkolink_tools::SbusChannels channels{};  // SBUS units, for ValueSource::fixed
  uint16_t sweep_low = kSweepLow;            // --range, for ValueSource::sweep
  uint16_t sweep_high = kSweepHigh;
  bool sbus2 = false;
  std::optional<uint64_t> count;  // frames to send; without it, until stopped
};

// Reads the arguments after the program name. Throws ToolError (bad usage)
// for an unknown option, a missing or bad value, a stray argument, a missing
// --port, more than one of --channels, --std and --sweep, or a --range
// without --sweep or whose LO is not below its HI.
Options parse_options(std::span<const char* const> arguments);

// The full --help text, ending in a newline.
const char* help_text();

}  // namespace zelkolink_sbus
