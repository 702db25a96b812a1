#include "options.hpp"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <optional>
#include <string_view>

#include "dump_error.hpp"
#include "zelkolink.hpp"

namespace zelkolink_dump {
namespace {

// A decimal number from 1 to 255, and nothing else (no sign, no spaces).
std::size_t parse_chunk(std::string_view text) {
  const bool digits_only =
      !text.empty() && text.size() <= 3 &&
      std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
  std::size_t value = 0;
  for (const char c : text) value = value * 10 + static_cast<std::size_t>(c - '0');
  if (!digits_only || value < 1 || value > zelkolink::max_chunk) {
    throw usage_error("--chunk needs a number from 1 to 255, not '" + std::string(text) + "'");
  }
  return value;
}

// Refuses combinations that would silently ignore an option.
void check_combinations(const Options& options, bool chunk_given) {
  check_hid_combinations(options, chunk_given);
  if (options.sbus_v2 && !options.sbus) throw usage_error("--v2 only goes with --sbus");
  if (options.sbus && (options.hex || options.format == OutputFormat::json || chunk_given)) {
    throw usage_error("--sbus reads text values; --hex, --json and --chunk do not apply");
  }
  if (options.hex && !options.file)
    throw usage_error("--hex needs a FILE, or - for standard input");
}

std::string_view chunk_value(std::span<const char* const> arguments, std::size_t& k) {
  const std::string_view argument = arguments[k];
  const std::string_view inline_prefix = "--chunk=";
  if (argument.starts_with(inline_prefix)) return argument.substr(inline_prefix.size());
  if (k + 1 >= arguments.size()) throw usage_error("--chunk needs a number from 1 to 255");
  return arguments[++k];
}

// ---- Live port link options (--port and what goes with it) ----

// The value of an option given as "--name VALUE" or "--name=VALUE".
std::string_view option_value(std::span<const char* const> arguments, std::size_t& k,
                              std::string_view name, const char* what) {
  const std::string_view argument = arguments[k];
  if (argument.size() > name.size() && argument[name.size()] == '=')
    return argument.substr(name.size() + 1);
  if (k + 1 >= arguments.size()) throw usage_error(std::string(name) + " needs " + what);
  return arguments[++k];
}

bool is_option(std::string_view argument, std::string_view name) {
  return argument == name || (argument.starts_with(name) && argument.size() > name.size() &&
                              argument[name.size()] == '=');
}

// A decimal whole number from low to high, digits only.
uint64_t parse_whole(std::string_view text, std::string_view name, uint64_t low, uint64_t high) {
  const bool digits_only =
      !text.empty() && text.size() <= 10 &&
      std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
  uint64_t value = 0;
  for (const char c : text) value = value * 10 + static_cast<uint64_t>(c - '0');
  if (!digits_only || value < low || value > high) {
    throw usage_error(std::string(name) + " needs a whole number from " + std::to_string(low) +
                      " to " + std::to_string(high) + ", not '" + std::string(text) + "'");
  }
  return value;
}

// Seconds: a positive decimal number such as 10 or 2.5.
// Seconds with up to three decimals, such as 10 or 0.25; more than 0.
std::chrono::milliseconds parse_seconds(std::string_view text) {
  auto digits = [](std::string_view part, std::size_t most) -> std::optional<uint64_t> {
    if (part.empty() || part.size() > most ||
        !std::all_of(part.begin(), part.end(), [](char c) { return c >= '0' && c <= '9'; })) {
      return std::nullopt;
    }
    uint64_t value = 0;
    for (const char c : part) value = value * 10 + static_cast<uint64_t>(c - '0');
    return value;
  };
  const std::size_t point = text.find('.');
  const std::string_view whole = text.substr(0, point);
  const std::string_view fraction =
      point == std::string_view::npos ? std::string_view() : text.substr(point + 1);
  const std::optional<uint64_t> seconds = whole.empty() && !fraction.empty() ? 0 : digits(whole, 7);
  const std::optional<uint64_t> thousandths = fraction.empty() ? 0 : digits(fraction, 3);
  const bool dangling_point = point != std::string_view::npos && fraction.empty();
  if (!seconds || !thousandths || dangling_point) {
    throw usage_error("--seconds needs a positive number of seconds such as 10 or 0.25, not '" +
                      std::string(text) + "'");
  }
  uint64_t scale = 1000;
  for (std::size_t k = 0; k < fraction.size(); ++k) scale /= 10;
  const auto total = static_cast<int64_t>(*seconds * 1000 + *thousandths * scale);
  if (total == 0) throw usage_error("--seconds needs a positive number of seconds, at least 0.001");
  return std::chrono::milliseconds(total);
}

std::array<uint8_t, 2> parse_request(std::string_view text) {
  auto hex_byte = [&](std::string_view digits) {
    const bool ok =
        !digits.empty() && digits.size() <= 2 &&
        std::all_of(digits.begin(), digits.end(), [](char c) {
          return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
        });
    if (!ok) {
      throw usage_error("--request needs two hex bytes such as 01,00, not '" + std::string(text) +
                        "'");
    }
    return static_cast<uint8_t>(std::strtoul(std::string(digits).c_str(), nullptr, 16));
  };
  const std::size_t comma = text.find(',');
  if (comma == std::string_view::npos) hex_byte("");
  return {hex_byte(text.substr(0, comma)), hex_byte(text.substr(comma + 1))};
}

// Reads one live port option at arguments[k]; false when it is none of them.
bool parse_live_option(std::span<const char* const> arguments, std::size_t& k, Options& options,
                       bool& live_option_given) {
  const std::string_view argument = arguments[k];
  if (is_option(argument, "--port")) {
    options.port = std::string(option_value(arguments, k, "--port", "a serial port"));
    if (options.port->empty()) throw usage_error("--port needs a serial port");
    return true;
  }
  if (argument == "--watch") {
    options.watch = true;
  } else if (is_option(argument, "--baud")) {
    options.baud = static_cast<uint32_t>(
        parse_whole(option_value(arguments, k, "--baud", "a rate"), "--baud", 50, 4000000));
  } else if (is_option(argument, "--request")) {
    options.request = parse_request(option_value(arguments, k, "--request", "two hex bytes"));
  } else if (is_option(argument, "--count")) {
    // --count and --seconds end every live run, from a port or a HID device.
    options.count =
        parse_whole(option_value(arguments, k, "--count", "a number"), "--count", 1, 1000000000000);
    return true;
  } else if (is_option(argument, "--seconds")) {
    const std::chrono::milliseconds limit =
        parse_seconds(option_value(arguments, k, "--seconds", "a number"));
    options.seconds = std::chrono::duration<double>(limit).count();
    options.hid.duration = limit;
    return true;
  } else {
    return false;
  }
  live_option_given = true;
  return true;
}

void check_live_combinations(const Options& options, bool live_option_given, bool chunk_given) {
  const bool hid_live =
      options.hid.source == HidSource::device_id || options.hid.source == HidSource::device_path;
  if (!options.port) {
    if (live_option_given) throw usage_error("--baud, --request and --watch need --port");
    if (options.count && options.hid.source == HidSource::none)
      throw usage_error("--count needs --port, --hid, --hid-path or --hid-file");
    if (options.seconds && !hid_live && options.hid.source != HidSource::file)
      throw usage_error("--seconds needs --port, --hid or --hid-path");
    return;
  }
  if (options.hid.source != HidSource::none)
    throw usage_error("--port reads a serial port; the HID options do not apply");
  if (options.file || options.hex || options.sbus || chunk_given) {
    throw usage_error("--port reads a serial port; FILE, --hex, --sbus and --chunk do not apply");
  }
  if (options.watch && options.format == OutputFormat::json)
    throw usage_error("--watch shows a live view; --json does not apply");
}

// ---- End of the live port link options ----

}  // namespace

Options parse_options(std::span<const char* const> arguments) {
  Options options;
  bool options_ended = false;
  bool chunk_given = false;
  bool live_option_given = false;
  for (std::size_t k = 0; k < arguments.size(); ++k) {
    const std::string_view argument = arguments[k];
    const bool is_option = !options_ended && argument.size() > 1 && argument[0] == '-';
    if (!is_option) {
      if (options.file) {
        throw usage_error("only one FILE can be read, got '" + *options.file + "' and '" +
                          std::string(argument) + "'");
      }
      options.file = std::string(argument);
    } else if (argument == "--") {
      options_ended = true;
    } else if (argument == "-h" || argument == "--help") {
      options.help = true;
      return options;
    } else if (argument == "--hex") {
      options.hex = true;
    } else if (argument == "--json") {
      options.format = OutputFormat::json;
    } else if (argument == "--sbus") {
      options.sbus = true;
    } else if (argument == "--v2") {
      options.sbus_v2 = true;
    } else if (argument == "--chunk" || argument.starts_with("--chunk=")) {
      options.chunk = parse_chunk(chunk_value(arguments, k));
      chunk_given = true;
    } else if (parse_hid_option(arguments, k, options.hid) ||
               parse_live_option(arguments, k, options, live_option_given)) {
      // a HID option, a live port link option, or --count / --seconds
    } else {
      throw usage_error("unknown option '" + std::string(argument) + "'");
    }
  }
  options.hid.count = options.count;
  check_combinations(options, chunk_given);
  check_live_combinations(options, live_option_given, chunk_given);
  return options;
}

const char* help_text() {
  return R"(Usage: zelkolink-dump [--hex] [--chunk N] [--json] [FILE]
       zelkolink-dump --sbus [--v2] [FILE]
       zelkolink-dump --port PORT [--baud N] [--request B0,B1] [--count N]
                      [--seconds S] [--json | --watch]
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
sample capture built into the tool is decoded.

Options:
  --hex        FILE is hex text: two hex digits per byte, in either case;
               spaces and line breaks anywhere are ignored. An odd number of
               digits or any other character is an error.
  --chunk N    feed N bytes per call, 1 to 255 (default 255). Also --chunk=N.
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
(nothing is printed then; for HID reports, the good rows are printed), 2
for a bad command line. Live runs (--port, --hid, --hid-path): 0 for every
orderly end (count reached, time up, Ctrl-C, SIGTERM, standard output
closed), 3 when the port or device cannot be opened or set up (or no HID
device matches), 4 when another process holds the port, 5 when the port or
device goes away mid-run (every row decoded before is printed). Errors are
reported as one line on standard error, naming the file, port or device.
)";
}

}  // namespace zelkolink_dump
