#include "options.hpp"

#include <algorithm>
#include <string_view>

#include "tool_error.hpp"

namespace zelkolink_sbus {
namespace {

using zelkolink_tools::usage_error;

constexpr uint64_t kMaxCount = 1000000000000;  // over 400 years at 14 ms

// A decimal number within [low, high], and nothing else (no sign, no spaces).
uint64_t parse_number(std::string_view text, uint64_t low, uint64_t high, const std::string& what) {
  const bool digits_only =
      !text.empty() && text.size() <= 13 &&
      std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
  uint64_t value = 0;
  if (digits_only) {
    for (const char c : text) value = value * 10 + static_cast<uint64_t>(c - '0');
  }
  if (!digits_only || value < low || value > high) {
    throw usage_error(what + " needs a number from " + std::to_string(low) + " to " +
                      std::to_string(high) + ", not '" + std::string(text) + "'");
  }
  return value;
}

// Sixteen numbers within [0, high], separated by commas.
ChannelArray parse_values(std::string_view text, uint64_t high, const std::string& option) {
  ChannelArray values{};
  std::size_t count = 0;
  for (;;) {
    const std::size_t comma = text.find(',');
    const std::string_view item = text.substr(0, comma);
    if (count == values.size()) {
      throw usage_error(option + " takes exactly 16 values, separated by commas");
    }
    values[count] = static_cast<uint16_t>(
        parse_number(item, 0, high, option + " value " + std::to_string(count)));
    ++count;
    if (comma == std::string_view::npos) break;
    text.remove_prefix(comma + 1);
  }
  if (count != values.size()) {
    throw usage_error(option + " takes exactly 16 values, separated by commas; got " +
                      std::to_string(count));
  }
  return values;
}

// The value of an option given as "--name VALUE" or "--name=VALUE".
std::string_view option_value(std::span<const char* const> arguments, std::size_t& k,
                              std::string_view name) {
  const std::string_view argument = arguments[k];
  if (argument.size() > name.size() && argument[name.size()] == '=') {
    return argument.substr(name.size() + 1);
  }
  if (k + 1 >= arguments.size()) throw usage_error(std::string(name) + " needs a value");
  return arguments[++k];
}

bool is_option(std::string_view argument, std::string_view name) {
  return argument == name || (argument.starts_with(name) && argument.size() > name.size() &&
                              argument[name.size()] == '=');
}

}  // namespace

Options parse_options(std::span<const char* const> arguments) {
  Options options;
  options.channels.fill(kCentre);
  const char* values_given = nullptr;  // which of --channels, --std, --sweep
  auto choose_values = [&](const char* option) {
    if (values_given != nullptr) {
      throw usage_error(std::string("choose one of --channels, --std and --sweep; got ") +
                        values_given + " and " + option);
    }
    values_given = option;
  };
  bool port_given = false;
  for (std::size_t k = 0; k < arguments.size(); ++k) {
    const std::string_view argument = arguments[k];
    if (argument == "-h" || argument == "--help") {
      options.help = true;
      return options;
    }
    if (is_option(argument, "--port")) {
      options.port = std::string(option_value(arguments, k, "--port"));
      if (options.port.empty()) throw usage_error("--port needs a port name");
      port_given = true;
    } else if (is_option(argument, "--interval-ms")) {
      options.interval_ms =
          static_cast<uint32_t>(parse_number(option_value(arguments, k, "--interval-ms"),
                                             kMinIntervalMs, kMaxIntervalMs, "--interval-ms"));
    } else if (is_option(argument, "--count")) {
      options.count = parse_number(option_value(arguments, k, "--count"), 1, kMaxCount, "--count");
    } else if (is_option(argument, "--channels")) {
      choose_values("--channels");
      options.channels = parse_values(option_value(arguments, k, "--channels"),
                                      ZELKOLINK_SBUS_CHANNEL_MAX, "--channels");
    } else if (is_option(argument, "--std")) {
      choose_values("--std");
      const ChannelArray standard =
          parse_values(option_value(arguments, k, "--std"), UINT16_MAX, "--std");
      zelkolink::convert_std_sbus_data(options.channels, standard);
    } else if (argument == "--sweep") {
      choose_values("--sweep");
      options.source = ValueSource::sweep;
    } else if (argument == "--sbus2") {
      options.sbus2 = true;
    } else if (argument.starts_with("-")) {
      throw usage_error("unknown option '" + std::string(argument) + "'");
    } else {
      throw usage_error("unexpected argument '" + std::string(argument) + "'");
    }
  }
  if (!port_given) throw usage_error("--port is required");
  return options;
}

const char* help_text() {
  return R"(Usage: zelkolink-sbus --port PORT [--channels V0,...,V15 | --std V0,...,V15 | --sweep]
                      [--sbus2] [--interval-ms N] [--count N]

Sends SBUS frames to a serial port at a steady cadence, packed by the
ZelkoLink library: start byte 0F, sixteen 11-bit channels, end byte. The port
is set to the SBUS line, 100000 baud, 8 data bits, even parity, 2 stop bits,
and put back as it was at exit.

The SBUS line is inverted: idle low, each bit the opposite of a normal serial
port's. A USB serial port cannot drive SBUS equipment directly; put an
adapter with an inverter (an SBUS adapter) between the two.

Options:
  --port PORT        the serial port: a path such as /dev/ttyUSB0 on Linux, a
                     name such as COM3 on Windows. Required.
  --channels V0,...,V15
                     sixteen channel values in SBUS units, 0 to 2047,
                     separated by commas, sent in every frame.
  --std V0,...,V15   sixteen standard values, 0 to 65535, scaled to SBUS units
                     by convert_std_sbus_data (x 1.706, at most 2047).
  --sweep            every channel moves together through 0..2047 and back,
                     a triangle with a period of 4 s (2 s each way), starting
                     at the centre and rising: a slow servo test. The value
                     follows each frame's slot in the schedule, not the wall
                     clock.
                     Without --channels, --std or --sweep every channel is
                     1024, the centre.
  --sbus2            pack with encode_sbus_data_v2: the end byte cycles
                     04 14 24 34. Without it the end byte is 00
                     (encode_sbus_data_v1).
  --interval-ms N    one frame every N ms, 4 to 1000 (default 14; 7 is the
                     fast mode). Also --interval-ms=N.
  --count N          stop after N frames (default: run until stopped).
  -h, --help         print this help and exit.

Cadence: frame n is due at start + n x N ms, an absolute deadline, so a late
frame never delays the ones after it and the cadence does not drift. If the
tool falls more than one interval behind (the machine or the port stalled),
it drops the frames it missed and resumes at the next deadline still ahead;
it never sends them late in a burst.

Ctrl-C or SIGTERM ends the run after the frame in progress. At the end one
line on standard error gives the frames sent, the mean interval between them,
the largest lateness seen (how far past a deadline a frame went out, or how
far behind the tool was when it dropped frames) and the frames dropped.
A warning goes to standard error if the system reports a rate other than
100000 baud for the port.

Exit status: 0 when the run ended as asked (--count, Ctrl-C, SIGTERM),
2 for a bad command line, 3 when the port cannot be opened or set up, 4 when
another process holds it, 5 when it went away during the run. Errors are one
line on standard error.
)";
}

}  // namespace zelkolink_sbus
