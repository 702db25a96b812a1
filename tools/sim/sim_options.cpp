#include "sim_options.hpp"

#include <algorithm>
#include <cstdlib>
#include <string_view>

#include "tool_error.hpp"

namespace zelkolink_sim {
namespace {

using zelkolink_tools::usage_error;

// The value of "--name VALUE" or "--name=VALUE".
std::string_view value_of(std::span<const char* const> arguments, std::size_t& k,
                          std::string_view name) {
  const std::string_view argument = arguments[k];
  if (argument.size() > name.size()) return argument.substr(name.size() + 1);
  if (k + 1 >= arguments.size()) throw usage_error(std::string(name) + " needs a value");
  return arguments[++k];
}

bool matches(std::string_view argument, std::string_view name) {
  return argument == name || (argument.starts_with(name) && argument.size() > name.size() &&
                              argument[name.size()] == '=');
}

// A plain decimal number (digits and at most one point) from low to high.
double parse_number(std::string_view text, std::string_view name, double low, double high) {
  const std::string copy(text);
  const bool plain = !copy.empty() && std::count(copy.begin(), copy.end(), '.') <= 1 &&
                     std::all_of(copy.begin(), copy.end(),
                                 [](char c) { return (c >= '0' && c <= '9') || c == '.'; });
  char* end = nullptr;
  const double value = plain ? std::strtod(copy.c_str(), &end) : -1.0;
  if (!plain || end != copy.c_str() + copy.size() || value < low || value > high) {
    throw usage_error(std::string(name) + " needs a number from " + std::to_string(low) + " to " +
                      std::to_string(high) + ", not '" + copy + "'");
  }
  return value;
}

}  // namespace

SimOptions parse_sim_options(std::span<const char* const> arguments) {
  SimOptions options;
  for (std::size_t k = 0; k < arguments.size(); ++k) {
    const std::string_view argument = arguments[k];
    if (argument == "-h" || argument == "--help") {
      options.help = true;
      return options;
    }
    if (argument == "--noise") {
      options.noise = true;
    } else if (argument == "--echo") {
      options.echo = true;
    } else if (matches(argument, "--rate")) {
      options.rate = parse_number(value_of(arguments, k, "--rate"), "--rate", 0, 1000000);
    } else if (matches(argument, "--kind")) {
      const std::string_view kind = value_of(arguments, k, "--kind");
      if (kind != "0" && kind != "1" && kind != "2")
        throw usage_error("--kind needs 0, 1 or 2, not '" + std::string(kind) + "'");
      options.kind = kind[0] - '0';
    } else if (matches(argument, "--corrupt")) {
      options.corrupt = parse_number(value_of(arguments, k, "--corrupt"), "--corrupt", 0, 1);
    } else if (matches(argument, "--seed")) {
      options.seed =
          static_cast<uint64_t>(parse_number(value_of(arguments, k, "--seed"), "--seed", 0, 1e15));
    } else if (matches(argument, "--record")) {
      options.record = std::string(value_of(arguments, k, "--record"));
    } else if (matches(argument, "--link")) {
      options.link = std::string(value_of(arguments, k, "--link"));
    } else {
      throw usage_error("unknown option '" + std::string(argument) + "'");
    }
  }
  return options;
}

const char* sim_help_text() {
  return R"(Usage: zelkolink-sim [--rate HZ] [--kind 0|1|2] [--noise] [--corrupt P]
                     [--echo] [--record FILE] [--link PATH] [--seed N]

Simulates a ZelkoLink device on a pseudo-terminal, for developing and testing
host applications without one. Prints the path of the terminal end a host
opens as its serial port (such as /dev/pts/4) on standard output, then
behaves as the device: it waits for an upload request frame
(FA E5 02 00 b0 b1 5F), sends upload-data frames until the stop frame
(FA E4 00 00 5F), then waits for the next request. Frames are written in
randomly sized pieces of 1 to 128 bytes, as a USB serial link delivers them.
Their values move smoothly over 0..2047 (slow sines, one pace per value), so
a watcher sees motion. A host closing its end does not end the simulator;
another host may open it next. Runs until Ctrl-C or SIGTERM.

Every event is logged as one line on standard error: "request 01 00",
"stop", "echo", "ignored: a request while sending".

Options:
  --rate HZ      upload frames a second (default 100), decimals allowed;
                 0 sends as fast as the host reads. Frames are due at fixed
                 times from the request on, so the rate does not drift. A
                 host that stops reading loses frames beyond 64 KiB queued.
  --kind K       the record kind sent: 0 the nine inputs, 1 the thirty-two
                 channels, 2 both (default 2).
  --noise        put up to six stray bytes before frames, now and then a
                 stray 0xFA start byte among them.
  --corrupt P    send a fraction P (0 to 1) of frames with a wrong end byte
                 (5E instead of 5F).
  --echo         echo the host's request frame back before the data, as
                 some adapters do.
  --record FILE  save every byte sent, in order, to FILE, so that
                 zelkolink-dump FILE decodes it offline.
  --link PATH    also make a symlink at PATH to the terminal end, for
                 applications that want a fixed name. A stale symlink there
                 is replaced; any other file is left alone (an error). The
                 symlink is removed on exit.
  --seed N       seed the noise, corruption and piece sizes, for a
                 reproducible run (default: a random seed).
  -h, --help     print this help and exit.

Values move with the frame number: frame n shows time n / HZ, at --rate 0
n / 100.

Exit status: 0 after Ctrl-C or SIGTERM, 2 for a bad command line, 3 when
the pseudo-terminal, the --record file or the --link cannot be made.
Errors are reported as one line on standard error.
)";
}

}  // namespace zelkolink_sim
