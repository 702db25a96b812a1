#include "options.hpp"

#include <algorithm>
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

}  // namespace

Options parse_options(std::span<const char* const> arguments) {
  Options options;
  bool options_ended = false;
  bool chunk_given = false;
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
    } else if (parse_hid_option(arguments, k, options.hid)) {
      // read into options.hid
    } else {
      throw usage_error("unknown option '" + std::string(argument) + "'");
    }
  }
  check_combinations(options, chunk_given);
  return options;
}

const char* help_text() {
  return R"(Usage: zelkolink-dump [--hex] [--chunk N] [--json] [FILE]
       zelkolink-dump --sbus [--v2] [FILE]
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
  The Windows build has no live HID: --hid, --hid-path and --hid-list exit
  with status 2 there; --hid-file works.

Exit status: 0 on success, 1 for input that cannot be read or decoded
(nothing is printed then; for HID reports, the good rows are printed), 2 for
a bad command line, 3 when no HID device matches or it cannot be opened, 5
when the device went away during the run. Errors are reported as one line on
standard error.
)";
}

}  // namespace zelkolink_dump
