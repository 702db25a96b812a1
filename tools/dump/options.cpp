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

Exit status: 0 on success, 1 for input that cannot be read or decoded
(nothing is printed then), 2 for a bad command line. Errors are reported as
one line on standard error.
)";
}

}  // namespace zelkolink_dump
