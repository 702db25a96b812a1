#include "options.hpp"

#include "arguments.hpp"
#include "tool_error.hpp"

namespace zelkolink_bridge {

using zelkolink_tools::parse_whole;
using zelkolink_tools::usage_error;

Options parse_options(std::span<const char* const> arguments) {
  Options options;
  int sources = 0;
  for (zelkolink_tools::Arguments args(arguments); !args.done(); args.next()) {
    if (args.current() == "-h" || args.flag("--help")) {
      options.help = true;
      return options;
    }
    if (auto v = args.value("--from-port", "a port")) {
      options.source = SourceKind::port;
      options.from = std::string(*v);
      ++sources;
    } else if (auto hid = args.value("--from-hid", "VID:PID[:SERIAL]")) {
      options.source = SourceKind::hid;
      options.hid = zelkolink_tools::parse_device_ids(*hid, "--from-hid");
      ++sources;
    } else if (auto file = args.value("--from-file", "a capture file")) {
      options.source = SourceKind::file;
      options.from = std::string(*file);
      ++sources;
    } else if (auto to = args.value("--to-sbus", "a port")) {
      options.to_sbus = std::string(*to);
    } else if (auto baud = args.value("--baud", "a rate")) {
      options.baud = static_cast<uint32_t>(parse_whole(*baud, "--baud", 50, 4000000));
    } else if (auto request = args.value("--request", "two hex bytes")) {
      options.request = zelkolink_tools::parse_hex_pair(*request, "--request");
    } else if (auto interval = args.value("--interval-ms", "a number of milliseconds")) {
      options.interval_ms = static_cast<uint32_t>(parse_whole(*interval, "--interval-ms", 4, 1000));
    } else if (args.flag("--raw")) {
      options.raw = true;
    } else if (args.flag("--sbus2")) {
      options.sbus2 = true;
    } else if (auto map = args.value("--map", "a file")) {
      options.map_file = std::string(*map);
    } else if (args.flag("--status")) {
      options.status = true;
    } else if (auto lost = args.value("--lost-ms", "a number of milliseconds")) {
      options.lost_ms = static_cast<uint32_t>(parse_whole(*lost, "--lost-ms", 1, 600000));
    } else if (auto failsafe = args.value("--failsafe-ms", "a number of milliseconds")) {
      options.failsafe_ms =
          static_cast<uint32_t>(parse_whole(*failsafe, "--failsafe-ms", 1, 600000));
    } else if (auto rate = args.value("--file-rate", "frames a second")) {
      options.file_rate = zelkolink_tools::parse_decimal(*rate, "--file-rate", 0.1, 10000);
    } else if (auto seconds = args.value("--seconds", "a number of seconds")) {
      options.seconds = zelkolink_tools::parse_seconds(*seconds, "--seconds");
    } else if (args.flag("--exit-on-loss")) {
      options.exit_on_loss = true;
    } else if (auto trace = args.value("--trace", "a file")) {
      options.trace = std::string(*trace);
    } else if (auto capture = args.value("--capture", "a FILE")) {
      options.capture = std::string(*capture);
    } else {
      throw args.unknown();
    }
  }
  if (sources != 1) {
    throw usage_error(sources == 0
                          ? "give a source: --from-port, --from-hid or --from-file"
                          : "give one source only: --from-port, --from-hid or --from-file");
  }
  if (options.to_sbus.empty()) throw usage_error("give the SBUS port: --to-sbus PORT");
  if (options.capture && options.source != SourceKind::port) {
    throw usage_error("--capture records the device's port: it needs --from-port");
  }
  if (options.failsafe_ms <= options.lost_ms) {
    throw usage_error("--failsafe-ms (" + std::to_string(options.failsafe_ms) +
                      ") must be longer than --lost-ms (" + std::to_string(options.lost_ms) + ")");
  }
  return options;
}

std::string help_text(const char* hid_note, const char* map_note) {
  std::string text = R"(Usage: zelkolink-bridge --from-port PORT --to-sbus PORT [options]
       zelkolink-bridge --from-hid VID:PID[:SERIAL] --to-sbus PORT [options]
       zelkolink-bridge --from-file CAPTURE --to-sbus PORT [options]

Drives SBUS equipment from a ZelkoLink device, a HID game controller or a
captured port stream. Sends one SBUS frame every --interval-ms on fixed
deadlines, each carrying the newest values; when the source goes quiet or
away it behaves as a receiver does: the frame-lost flag after --lost-ms,
then failsafe after --failsafe-ms, and SBUS never stops while it runs.

Source:
  --from-port PORT   the device's port (8N1). Sends the upload request and
                     decodes its upload records. When the port vanishes the
                     bridge reopens it every 500 ms, empties the parser and
                     sends the request again.
  --from-hid VID:PID[:SERIAL]
                     a HID game controller (19-byte reports) or compatible
                     device (23-byte reports), ids in hex. Reopened every
                     500 ms when it vanishes. Linux builds with hidapi only.
)";
  text += hid_note;
  text += R"(  --from-file CAPTURE
                     replay a captured port stream (as zelkolink-sim
                     --record saves it) at --file-rate upload frames a
                     second, for dry runs; the source goes quiet at its end.

Output:
  --to-sbus PORT     the SBUS port, set to 100000 baud 8E2. Reopened every
                     500 ms when it vanishes.
  --interval-ms N    time between SBUS frames, 4..1000 (default 14).
  --sbus2            end bytes of SBUS2 (04, 14, 24, 34) instead of 00.

Mapping:
  (default)          SBUS channel k takes device channel k as a standard
                     value (convert_std_sbus_data: 0..1200 gives 0..2047);
                     from a HID device, SBUS channel k takes HID value k over
                     its whole width onto 172..1811, channels 11..15 at 992.
  --raw              device channels are SBUS units already (clamped to
                     2047).
  --map FILE         a JSON file changing the channels it names:
                       {"channels": {"0": {"source": "channel 2",
                        "scale": [0, 1200], "invert": true, "trim": -4,
                        "failsafe": 992}}}
                     source: "input K" (0..8), "channel K" (0..31), "hid K"
                     (0..10) or "constant V" (SBUS units); scale: "std",
                     "raw" or [from, to] (from shows as 172, to as 1811);
                     invert mirrors about 992; trim is added last; failsafe
                     is "hold" (default) or a value in SBUS units. A bad
                     file exits 2 naming the key or the line.
)";
  text += map_note;
  text += R"(
Failsafe:
  --lost-ms N        no fresh values for N ms: frames carry the frame-lost
                     flag (byte 23, 0x04) and hold the last values
                     (default 100).
  --failsafe-ms N    no fresh values for N ms: frames carry both flags
                     (0x0C) and channels take their failsafe values
                     (default 1000; longer than --lost-ms).

Before the first record, frames carry the failsafe flag alone (0x08) and
each channel's failsafe value, or 992. A record counts as fresh only when it
carries values the map uses (the default map: kinds 1 and 2).

Device link:
  --baud N           the device port's rate (default 115200).
  --request B0,B1    payload of the upload request, two hex bytes
                     (default 01,00).
  --capture FILE     record every read and write on the device's port, with
                     its time and direction, in the pcapng capture FILE (as
                     zelkolink-dump --capture does; open it in Wireshark or
                     replay it with zelkolink-sim --replay). Written at least
                     once a second. A capture that cannot be created exits 3;
                     one that cannot be written ends the run with status 1,
                     after the stop frame. --from-port only.

Run:
  --seconds S        end after S seconds (default: until Ctrl-C or SIGTERM).
  --exit-on-loss     exit with status 5 when a port or device vanishes,
                     instead of reopening it.
  --status           a status line on standard error every second: source
                     frames/s, SBUS frames/s, state, and the mean age of the
                     values when sent.
  --file-rate HZ     upload frames a second replayed by --from-file
                     (default 100).
  --trace FILE       for measurements: one line per SBUS frame that first
                     carries new values, "SECONDS AGE_US", the age being the
                     time from the read that completed the values to the
                     write of the frame.
  -h, --help         print this help and exit.

State changes are one line each on standard error, with the run's time:
"frame lost", "failsafe", "ok", "source lost", "source back after 3.2 s",
"SBUS port lost", "SBUS port back". Ctrl-C, SIGTERM and --seconds send the
stop frame to the device, restore both ports and exit 0.

The SBUS loop and the source's reader ask for raised priority (real-time
scheduling on Linux, which needs root, CAP_SYS_NICE or an RLIMIT_RTPRIO
allowance); the closing line on standard error says whether they got it,
with the frames sent and dropped and the largest lateness of the loop.

Exit status: 0 when ended as asked; 1 when the capture cannot be written
or the run fails otherwise; 2 for a bad command line or map file;
3 when a port, device or file cannot be opened at start; 4 when a port is
held by another process; 5 when a port vanished and --exit-on-loss is given.
)";
  return text;
}

}  // namespace zelkolink_bridge
