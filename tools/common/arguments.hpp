// The command line of every ZelkoLink tool: options given as "--name VALUE"
// or "--name=VALUE", the numbers they take with one wording for every
// refusal, and the main() wrapper that turns a ToolError into its one line
// and exit status.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "tool_error.hpp"

namespace zelkolink_tools {

// Walks the arguments after the program name, one at a time:
//
//   for (Arguments args(argv_span); !args.done(); args.next()) {
//     if (args.flag("--json")) ...
//     else if (auto v = args.value("--baud", "a rate")) ...
//     else if (args.is_operand()) ...
//     else throw args.unknown();
//   }
//
// After "--" every argument is an operand, even one starting with a dash.
class Arguments {
 public:
  explicit Arguments(std::span<const char* const> arguments) : arguments_(arguments) {
    pass_end_of_options();
  }

  bool done() const { return k_ >= arguments_.size(); }
  void next();

  // The argument at hand.
  std::string_view current() const { return arguments_[k_]; }

  // True when the argument at hand is the flag `name`. A flag given a value
  // ("--json=yes") is refused rather than silently taken.
  bool flag(std::string_view name) const;

  // When the argument at hand is `name VALUE` or `name=VALUE`, returns VALUE
  // (moving past it). `what` says what the option needs, for the error when
  // the value is missing: "--baud needs a rate".
  std::optional<std::string_view> value(std::string_view name, std::string_view what);

  // True when the argument at hand is not an option: it does not start with
  // a dash, is "-" alone (standard input), or comes after "--".
  bool is_operand() const;

  // The error for an argument that none of the above claimed.
  ToolError unknown() const;

 private:
  // Steps over a "--" at hand, the first one only.
  void pass_end_of_options();

  std::span<const char* const> arguments_;
  std::size_t k_ = 0;
  bool options_ended_ = false;
};

// A decimal whole number from low to high: digits only, no sign, no spaces.
// Throws a usage error "OPTION needs a whole number from LOW to HIGH, not
// 'TEXT'".
uint64_t parse_whole(std::string_view text, std::string_view option, uint64_t low, uint64_t high);

// Exactly `count` whole numbers from low to high, separated by commas, such as
// "172,1811". Throws a usage error "OPTION needs COUNT whole numbers
// separated by commas, got N", or for one item in the wording of
// parse_whole, naming it "OPTION value K" (K from 0).
std::vector<uint64_t> parse_whole_list(std::string_view text, std::string_view option, uint64_t low,
                                       uint64_t high, std::size_t count);

// A decimal number from low to high, digits with at most one point
// ("0.25", "100", ".5"). Throws a usage error in the same wording.
double parse_decimal(std::string_view text, std::string_view option, double low, double high);

// A duration of at least 0.001 s, with at most three decimals ("10", "0.25").
// Throws a usage error "OPTION needs a number of seconds such as 10 or 0.25,
// at least 0.001, not 'TEXT'".
std::chrono::milliseconds parse_seconds(std::string_view text, std::string_view option);

// Digits only, at most max_digits of them, in base 10 or 16; nullopt for
// anything else. For values with a shape of their own (VID:PID, report IDs).
std::optional<uint64_t> parse_digits(std::string_view text, unsigned base, std::size_t max_digits);

// Two hex bytes separated by a comma, such as "01,00": the payload of the
// upload request. Throws a usage error naming the option.
std::array<uint8_t, 2> parse_hex_pair(std::string_view text, std::string_view option);

// A HID device as users name it, VID:PID[:SERIAL]: the ids in hex, one to
// four digits each, as the tools list them; everything after the second
// colon is the serial number.
struct DeviceIds {
  uint16_t vendor_id = 0;
  uint16_t product_id = 0;
  std::optional<std::string> serial;
};

// Throws a usage error "OPTION needs VID:PID or VID:PID:SERIAL with hex ids,
// such as 046d:c216, not 'TEXT'".
DeviceIds parse_device_ids(std::string_view text, std::string_view option);

// Runs a tool's body and turns what it throws into one line on standard
// error, "NAME: message", and an exit status: a ToolError's own, and 1 for
// anything else (an unforeseen failure is never reported as success or as
// bad usage).
int run_tool(const char* name, int argc, char** argv, int (*body)(std::span<const char* const>));

}  // namespace zelkolink_tools
