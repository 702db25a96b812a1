#include "options.hpp"

#include <string_view>
#include <vector>

#include "arguments.hpp"

namespace zelkolink_sbus {
namespace {

using zelkolink_tools::Arguments;
using zelkolink_tools::parse_whole;
using zelkolink_tools::parse_whole_list;
using zelkolink_tools::SbusChannels;
using zelkolink_tools::usage_error;

constexpr uint64_t kMaxCount = 1000000000000;  // over 400 years at 14 ms

// Sixteen whole numbers from 0 to high, separated by commas.
SbusChannels parse_channels(std::string_view text, std::string_view option, uint64_t high) {
  const std::vector<uint64_t> values =
      parse_whole_list(text, option, 0, high, ZELKOLINK_SBUS_CHANNEL_COUNT);
  SbusChannels channels{};
  for (std::size_t k = 0; k < channels.size(); ++k) channels[k] = static_cast<uint16_t>(values[k]);
  return channels;
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
  bool range_given = false;
  for (Arguments args(arguments); !args.done(); args.next()) {
    if (args.flag("-h") || args.flag("--help")) {
      options.help = true;
      return options;
    }
    if (const auto port = args.value("--port", "a port name")) {
      if (port->empty()) throw usage_error("--port needs a port name");
      options.port = std::string(*port);
      port_given = true;
    } else if (const auto interval = args.value("--interval-ms", "a number of milliseconds")) {
      options.interval_ms = static_cast<uint32_t>(
          parse_whole(*interval, "--interval-ms", kMinIntervalMs, kMaxIntervalMs));
    } else if (const auto count = args.value("--count", "a number of frames")) {
      options.count = parse_whole(*count, "--count", 1, kMaxCount);
    } else if (const auto channels = args.value("--channels", "16 values")) {
      choose_values("--channels");
      options.channels = parse_channels(*channels, "--channels", ZELKOLINK_SBUS_CHANNEL_MAX);
    } else if (const auto standard = args.value("--std", "16 values")) {
      choose_values("--std");
      zelkolink::convert_std_sbus_data(options.channels,
                                       parse_channels(*standard, "--std", UINT16_MAX));
    } else if (args.flag("--sweep")) {
      choose_values("--sweep");
      options.source = ValueSource::sweep;
    } else if (const auto range = args.value("--range", "LO,HI")) {
      const std::vector<uint64_t> bounds =
          parse_whole_list(*range, "--range", 0, ZELKOLINK_SBUS_CHANNEL_MAX, 2);
      if (bounds[0] >= bounds[1]) {
        throw usage_error("--range needs LO below HI, not '" + std::string(*range) + "'");
      }
      options.sweep_low = static_cast<uint16_t>(bounds[0]);
      options.sweep_high = static_cast<uint16_t>(bounds[1]);
      range_given = true;
    } else if (args.flag("--sbus2")) {
      options.sbus2 = true;
    } else if (args.is_operand()) {
      throw usage_error("unexpected argument '" + std::string(args.current()) + "'");
    } else {
      throw args.unknown();
    }
  }
  if (!port_given) throw usage_error("--port is required");
  if (range_given && options.source != ValueSource::sweep)
    throw usage_error("--range sets the --sweep's travel; it needs --sweep");
  return options;
}

const char* help_text() {
  return R"(Usage: zelkolink-sbus --port PORT [--channels V0,...,V15 | --std V0,...,V15]
                      [--sbus2] [--interval-ms N] [--count N]
       zelkolink-sbus --port PORT --sweep [--range LO,HI]
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
  --sweep            every channel moves together through 172..1811 and
                     back, a triangle with a period of 4 s (2 s each way),
                     starting at the middle of the range and rising: a slow
                     servo test. Receivers commonly map 172..1811 to
                     988..2012 us, a servo's usual travel. The value follows
                     each frame's slot in the schedule, not the wall clock.
  --range LO,HI      with --sweep: sweep LO..HI instead, 0 to 2047, LO below
                     HI (--range 0,2047 drives the whole SBUS range, past
                     most servos' travel).
                     Without --channels, --std or --sweep every channel is
                     992, the centre (1500 us on common receivers).
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
far behind the tool was when it dropped frames), the frames dropped, and
whether the sending thread ran at raised priority (real-time scheduling on
Linux, which needs root, CAP_SYS_NICE or an RLIMIT_RTPRIO allowance) or at
normal priority.
A warning goes to standard error if the system reports a rate other than
100000 baud for the port.

Exit status: 0 when the run ended as asked (--count, Ctrl-C, SIGTERM),
2 for a bad command line, 3 when the port cannot be opened or set up, 4 when
another process holds it, 5 when it went away during the run. Errors are one
line on standard error.
)";
}

}  // namespace zelkolink_sbus
