#include "options.hpp"

#include <string_view>

#include "arguments.hpp"

namespace zelkolink_dump {
namespace {

using zelkolink_tools::Arguments;
using zelkolink_tools::usage_error;

constexpr uint64_t kMaxCount = 1000000000000;

// Reads one live port option, or --count and --seconds, which end every live
// run; false when the argument at hand is none of them. port_option_given is
// set for the options that only a port takes.
bool parse_live_option(Arguments& args, Options& options, bool& port_option_given) {
  using namespace zelkolink_tools;
  if (const auto port = args.value("--port", "a serial port")) {
    if (port->empty()) throw usage_error("--port needs a serial port");
    options.port = std::string(*port);
    return true;
  }
  if (const auto count = args.value("--count", "a number")) {
    options.limits.count = parse_whole(*count, "--count", 1, kMaxCount);
    return true;
  }
  if (const auto seconds = args.value("--seconds", "a number of seconds")) {
    options.limits.duration = parse_seconds(*seconds, "--seconds");
    return true;
  }
  if (args.flag("--watch")) {
    options.watch = true;
  } else if (const auto baud = args.value("--baud", "a rate")) {
    options.baud = static_cast<uint32_t>(parse_whole(*baud, "--baud", 50, 4000000));
  } else if (const auto request = args.value("--request", "two hex bytes")) {
    options.request = parse_hex_pair(*request, "--request");
  } else if (const auto capture = args.value("--capture", "a FILE")) {
    options.capture = std::string(*capture);
  } else {
    return false;
  }
  port_option_given = true;
  return true;
}

// The checks below refuse combinations that would silently ignore an option.

void check_hid_combinations(const Options& options) {
  const bool chunk_given = options.chunk.has_value();
  const HidOptions& hid = options.hid;
  if (hid.source == HidSource::none) {
    if (hid.report_id) throw usage_error("--report-id needs --hid, --hid-path or --hid-file");
    return;
  }
  if (options.file || options.hex || options.sbus || options.sbus_v2 || chunk_given ||
      options.stats) {
    throw usage_error(
        "HID reports are read by --hid, --hid-path or --hid-file; FILE, --hex, "
        "--chunk, --stats, --sbus and --v2 do not apply");
  }
  const RunLimits& limits = options.limits;
  if (hid.source == HidSource::list &&
      (hid.report_id || limits.count || limits.duration || options.format == OutputFormat::json)) {
    throw usage_error("--hid-list takes no other option");
  }
  if (hid.source == HidSource::file && limits.duration) {
    throw usage_error("--seconds needs a live device: --hid or --hid-path");
  }
}

void check_decoder_combinations(const Options& options) {
  const bool chunk_given = options.chunk.has_value();
  if (options.sbus_v2 && !options.sbus) throw usage_error("--v2 only goes with --sbus");
  if (options.sbus &&
      (options.hex || options.format == OutputFormat::json || chunk_given || options.stats)) {
    throw usage_error("--sbus reads text values; --hex, --json, --chunk and --stats do not apply");
  }
  if (options.stats && (!options.file || options.hex || chunk_given)) {
    throw usage_error("--stats summarises a pcapng capture FILE; --hex and --chunk do not apply");
  }
  if (options.hex && !options.file)
    throw usage_error("--hex needs a FILE, or - for standard input");
}

void check_port_combinations(const Options& options, bool port_option_given) {
  const RunLimits& limits = options.limits;
  if (!options.port) {
    if (port_option_given) {
      throw usage_error("--baud, --request, --watch and --capture need --port");
    }
    if (limits.count && options.hid.source == HidSource::none)
      throw usage_error("--count needs --port, --hid, --hid-path or --hid-file");
    if (limits.duration && !options.hid.live() && options.hid.source != HidSource::file)
      throw usage_error("--seconds needs --port, --hid or --hid-path");
    return;
  }
  if (options.hid.source != HidSource::none)
    throw usage_error("--port reads a serial port; the HID options do not apply");
  if (options.file || options.hex || options.sbus || options.chunk || options.stats) {
    throw usage_error(
        "--port reads a serial port; FILE, --hex, --sbus, --chunk and --stats do not apply");
  }
  if (options.watch && options.format == OutputFormat::json)
    throw usage_error("--watch shows a live view; --json does not apply");
}

}  // namespace

Options parse_options(std::span<const char* const> arguments) {
  Options options;
  bool port_option_given = false;
  for (Arguments args(arguments); !args.done(); args.next()) {
    if (args.is_operand()) {
      if (options.file) {
        throw usage_error("only one FILE can be read, got '" + *options.file + "' and '" +
                          std::string(args.current()) + "'");
      }
      options.file = std::string(args.current());
    } else if (args.flag("-h") || args.flag("--help")) {
      options.help = true;
      return options;
    } else if (args.flag("--hex")) {
      options.hex = true;
    } else if (args.flag("--json")) {
      options.format = OutputFormat::json;
    } else if (args.flag("--sbus")) {
      options.sbus = true;
    } else if (args.flag("--v2")) {
      options.sbus_v2 = true;
    } else if (args.flag("--stats")) {
      options.stats = true;
    } else if (const auto chunk = args.value("--chunk", "a number of bytes")) {
      options.chunk = static_cast<std::size_t>(
          zelkolink_tools::parse_whole(*chunk, "--chunk", 1, zelkolink::max_chunk));
    } else if (!parse_hid_option(args, options.hid) &&
               !parse_live_option(args, options, port_option_given)) {
      throw args.unknown();
    }
  }
  check_hid_combinations(options);
  check_decoder_combinations(options);
  check_port_combinations(options, port_option_given);
  return options;
}

const char* help_text() {
  return R"(Usage: zelkolink-dump [--hex] [--chunk N] [--json] [FILE]
       zelkolink-dump --stats [--json] CAPTURE
       zelkolink-dump --sbus [--v2] [FILE]
       zelkolink-dump --port PORT [--baud N] [--request B0,B1] [--count N]
                      [--seconds S] [--capture FILE] [--json | --watch]
       zelkolink-dump --hid VID:PID[:SERIAL] | --hid-path PATH
                      [--report-id N] [--count N] [--seconds S] [--json]
       zelkolink-dump --hid-file FILE [--report-id N] [--count N] [--json]
       zelkolink-dump --hid-list

Decodes a captured port byte stream with ZelkoLink, feeding it to
parse_port_data in chunks as a port would deliver it, and prints the records
after every call that completed an upload frame: one CSV row per call, after
a header line "offset,input0,...,input8,channel0,...,channel31". offset is
the number of stream bytes fed so far, the end of that call's chunk. Every
position holds the last value an upload record carried, 0 before any did.

FILE is the capture to read; - reads standard input. Without FILE the
sample capture built into the tool is decoded. A raw capture is the bytes
as they came, fed 255 at a time. A pcapng capture (as --capture writes it,
recognised by its first bytes) is fed read by read as it was captured,
each read whole (the device's reads only), and rows start with its time: a
"time" column of seconds since the capture's first block.

Options:
  --hex        FILE is hex text: two hex digits per byte, in either case;
               spaces and line breaks anywhere are ignored. An odd number of
               digits or any other character is an error.
  --chunk N    feed N bytes per call, 1 to 255 (default 255 for a raw
               capture, each read whole for pcapng). Also --chunk=N.
  --json       print one JSON object per call instead of CSV:
               {"offset":N,"inputs":[9 values],"channels":[32 values]}
  --sbus       encode SBUS frames instead: read lines of sixteen standard
               values, 0 to 65535, separated by spaces or commas, from FILE
               (standard input without FILE or with -). Blank lines are
               skipped. For each line print the 25-byte frame, start byte 0F,
               as hex bytes on one line (values scaled by
               convert_std_sbus_data, packed by encode_sbus_data_v1).
  --v2         with --sbus: pack with encode_sbus_data_v2, whose end byte
               cycles 04 14 24 34, instead of end byte 00.
  --stats      summarise a pcapng CAPTURE of the link instead of decoding
               it, to tell whether a device, cable or adapter drops data:
               duration, reads and bytes each way, upload frames by record
               kind, frames a second, corrupt frames (a wrong end byte),
               noise bytes (stepped over, in no frame), and the gaps
               between frames (p50, p99, the largest and when). With --json
               one object: {"duration_s", "reads_in", "bytes_in",
               "reads_out", "bytes_out", "frames": {"KIND": count},
               "frames_per_s", "noise_bytes", "corrupt_frames", "gap_ms":
               {"p50", "p99", "max", "max_at_s"} or null}.

Live port link (reading a device as it sends):
  --port PORT  open the serial port PORT (/dev/ttyUSB0 on Linux, COM3 on
               Windows) for this process alone, set it raw, 8N1, send the
               upload request frame and print a row for every read (at most
               255 bytes, fed to parse_port_data whole) that completed an
               upload frame, flushed at once. Rows have the shape above with
               a time column first: seconds since the run started, three
               decimals (CSV "time,offset,...", JSON {"time":T,"offset":...}).
               offset counts the bytes received from the port. The run ends
               at --count, --seconds, Ctrl-C, SIGTERM or when the reader of
               standard output goes away; every end, an error included, sends
               the stop frame and restores the port's settings.
  --baud N     the port's rate, 50 to 4000000 (default 115200).
  --request B0,B1
               the two payload bytes of the upload request, in hex
               (default 01,00).
  --count N    stop after N rows (with --watch: after N frames).
  --seconds S  stop after S seconds (decimals allowed).
  --capture FILE
               also write every read and write on the port, with its time
               and direction, to FILE as a pcapng capture (link type 147;
               open it in Wireshark with the ZelkoLink dissector, decode it
               with zelkolink-dump FILE, replay it with zelkolink-sim
               --replay). The tool's own request and stop frames are in it.
               Written at least once a second, so a killed run loses at most
               the last second. A FILE that cannot be created exits 3 before
               the port is opened; one that cannot be written (a full disk)
               ends the run with status 1 after the stop frame.
  --watch      instead of rows, a full-terminal view redrawn in place up to
               20 times a second: the nine inputs and thirty-two channels as
               numbers with bars, frames and bytes per second, and the time
               since the last frame. Each group's bars share one scale, from 0
               to the smallest power of two above every value the group has
               shown (0..2047 for 11-bit values), so a bar's length is its
               value. Standard output must be a terminal; it is restored on
               exit.
  --           end of options; a later argument is FILE even if it starts
               with a dash.
  -h, --help   print this help and exit.

HID input reports:
  --hid VID:PID[:SERIAL]
               read input reports from the first attached HID device with
               these hex ids (and serial number), as --hid-list shows them.
  --hid-path PATH
               read input reports from the HID device at PATH (/dev/hidrawN).
  --hid-file FILE
               decode reports from hex text instead, one report per line
               (two hex digits per byte, spaces anywhere; blank lines and
               lines starting with # are skipped); - reads standard input.
  --report-id N
               every report starts with report ID N (1 to 255, or 0x01 to
               0xFF), which is checked and stripped before decoding.
  --count N    stop after N rows.
  --seconds S  stop a live run after S seconds (such as 10 or 0.5).
  --hid-list   list the attached HID devices, one per line: VID:PID,
               manufacturer, product, serial and path, separated by tabs.
               With none attached it prints nothing, says so on standard
               error, and exits with 0.
  A 19-byte report is decoded by parse_hid_game_controller_device (layout
  game-controller, 11 values), a 23-byte report starting FA by
  parse_hid_compatible_device (layout compatible, 9 values). One CSV row per
  report, flushed at once, after a header line
  "time,layout,value0,...,value10"; compatible rows leave value9 and value10
  empty. time is the seconds since the run started, three decimals; reports
  from --hid-file carry their line number in a "line" column instead. With
  --json: {"time":S,"layout":"compatible","values":[9 values]} per report.
  A report of another length, another report ID or bad hex gets one line on
  standard error and is counted; the run goes on, and ends with exit status
  1 and the count when any report was bad. Ctrl-C ends a live run (status 0).
  A build without hidapi (the Windows build, or one configured without
  libhidapi-dev) has no live HID: --hid, --hid-path and --hid-list exit
  with status 2 there, and this help ends with a line saying so;
  --hid-file works.

Exit status: 0 on success, 1 for input that cannot be read or decoded
(nothing is printed then; for HID reports, the good rows are printed) and
for a pcapng capture cut short inside a block or with packets cut to a snap
length (every row that could be decoded is printed, and one line says what
is missing), 2 for a bad command line or a file that is not a capture it
can read (one line names the file and the problem). Live runs (--port, --hid, --hid-path): 0 for every
orderly end (count reached, time up, Ctrl-C, SIGTERM, standard output
closed), 3 when the port or device cannot be opened or set up (or no HID
device matches), 4 when another process holds the port, 5 when the port or
device goes away mid-run (every row decoded before is printed); with
--capture, 1 when the capture cannot be written. Errors are
reported as one line on standard error, naming the file, port or device.
)";
}

}  // namespace zelkolink_dump
