#include "arguments.hpp"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <utility>

#include "tool_error.hpp"

namespace zelkolink_tools {
namespace {

bool all_digits(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::string quoted(std::string_view text) {
  std::string result;
  result.reserve(text.size() + 2);
  result.push_back('\'');
  result.append(text);
  result.push_back('\'');
  return result;
}

// The shortest decimal form of a range bound: 1000000, 0.5.
std::string bound(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.15g", value);
  return text;
}

// The digits before and after the point of a plain decimal ("12.5", "12",
// ".5"; not "", ".", "1." or "-1"), each part at most so many digits long.
std::optional<std::pair<std::string_view, std::string_view>> split_decimal(
    std::string_view text, std::size_t most_whole, std::size_t most_fraction) {
  const std::size_t point = text.find('.');
  const std::string_view whole = text.substr(0, point);
  const std::string_view fraction =
      point == std::string_view::npos ? std::string_view() : text.substr(point + 1);
  const bool plain = (!whole.empty() || !fraction.empty()) && whole.size() <= most_whole &&
                     fraction.size() <= most_fraction && all_digits(whole) &&
                     all_digits(fraction) && !(point != std::string_view::npos && fraction.empty());
  if (!plain) return std::nullopt;
  return std::pair(whole, fraction);
}

}  // namespace

void Arguments::next() {
  ++k_;
  pass_end_of_options();
}

void Arguments::pass_end_of_options() {
  if (!done() && !options_ended_ && current() == "--") {
    options_ended_ = true;
    ++k_;
  }
}

bool Arguments::flag(std::string_view name) const {
  if (options_ended_) return false;
  const std::string_view argument = current();
  if (argument.starts_with(name) && argument.size() > name.size() && argument[name.size()] == '=')
    throw usage_error(std::string(name) + " takes no value");
  return argument == name;
}

std::optional<std::string_view> Arguments::value(std::string_view name, std::string_view what) {
  if (options_ended_) return std::nullopt;
  const std::string_view argument = current();
  if (argument.starts_with(name) && argument.size() > name.size() && argument[name.size()] == '=')
    return argument.substr(name.size() + 1);
  if (argument != name) return std::nullopt;
  if (k_ + 1 >= arguments_.size())
    throw usage_error(std::string(name) + " needs " + std::string(what));
  return arguments_[++k_];
}

bool Arguments::is_operand() const {
  const std::string_view argument = current();
  return options_ended_ || argument == "-" || !argument.starts_with("-");
}

ToolError Arguments::unknown() const { return usage_error("unknown option " + quoted(current())); }

uint64_t parse_whole(std::string_view text, std::string_view option, uint64_t low, uint64_t high) {
  // 19 digits cannot overflow 64 bits; the range check refuses the rest.
  const bool digits = !text.empty() && text.size() <= 19 && all_digits(text);
  uint64_t value = 0;
  for (const char c : digits ? text : std::string_view()) value = value * 10 + uint64_t(c - '0');
  if (!digits || value < low || value > high) {
    throw usage_error(std::string(option) + " needs a whole number from " + std::to_string(low) +
                      " to " + std::to_string(high) + ", not " + quoted(text));
  }
  return value;
}

std::vector<uint64_t> parse_whole_list(std::string_view text, std::string_view option, uint64_t low,
                                       uint64_t high, std::size_t count) {
  std::vector<std::string_view> items;
  for (std::size_t start = 0;;) {
    const std::size_t comma = text.find(',', start);
    items.push_back(text.substr(start, comma - start));
    if (comma == std::string_view::npos) break;
    start = comma + 1;
  }
  if (items.size() != count) {
    throw usage_error(std::string(option) + " needs " + std::to_string(count) +
                      " whole numbers separated by commas, got " + std::to_string(items.size()));
  }
  std::vector<uint64_t> values;
  values.reserve(count);
  for (const std::string_view item : items) {
    const std::string name = std::string(option) + " value " + std::to_string(values.size());
    values.push_back(parse_whole(item, name, low, high));
  }
  return values;
}

double parse_decimal(std::string_view text, std::string_view option, double low, double high) {
  const bool plain = split_decimal(text, 15, 15).has_value();
  const double value = plain ? std::strtod(std::string(text).c_str(), nullptr) : 0.0;
  if (!plain || value < low || value > high) {
    throw usage_error(std::string(option) + " needs a number from " + bound(low) + " to " +
                      bound(high) + ", not " + quoted(text));
  }
  return value;
}

std::chrono::milliseconds parse_seconds(std::string_view text, std::string_view option) {
  int64_t milliseconds = 0;
  if (const auto parts = split_decimal(text, 9, 3)) {
    for (const char c : parts->first) milliseconds = milliseconds * 10 + (c - '0');
    int64_t scale = 100;
    milliseconds *= 1000;
    for (const char c : parts->second) {
      milliseconds += (c - '0') * scale;
      scale /= 10;
    }
  }
  if (milliseconds == 0) {
    throw usage_error(std::string(option) +
                      " needs a number of seconds such as 10 or 0.25, at least 0.001, not " +
                      quoted(text));
  }
  return std::chrono::milliseconds(milliseconds);
}

std::optional<uint64_t> parse_digits(std::string_view text, unsigned base, std::size_t max_digits) {
  if (text.empty() || text.size() > max_digits) return std::nullopt;
  uint64_t value = 0;
  for (const char c : text) {
    unsigned digit = base;
    if (c >= '0' && c <= '9') digit = unsigned(c - '0');
    if (c >= 'a' && c <= 'f') digit = unsigned(c - 'a' + 10);
    if (c >= 'A' && c <= 'F') digit = unsigned(c - 'A' + 10);
    if (digit >= base) return std::nullopt;
    value = value * base + digit;
  }
  return value;
}

std::array<uint8_t, 2> parse_hex_pair(std::string_view text, std::string_view option) {
  const std::size_t comma = text.find(',');
  const auto first = parse_digits(text.substr(0, comma), 16, 2);
  const auto second =
      comma == std::string_view::npos ? std::nullopt : parse_digits(text.substr(comma + 1), 16, 2);
  if (!first || !second) {
    throw usage_error(std::string(option) + " needs two hex bytes such as 01,00, not " +
                      quoted(text));
  }
  return {static_cast<uint8_t>(*first), static_cast<uint8_t>(*second)};
}

DeviceIds parse_device_ids(std::string_view text, std::string_view option) {
  const std::size_t first = text.find(':');
  const std::size_t second = first == std::string_view::npos ? first : text.find(':', first + 1);
  const std::optional<uint64_t> vendor = parse_digits(text.substr(0, first), 16, 4);
  const std::optional<uint64_t> product =
      first == std::string_view::npos
          ? std::nullopt
          : parse_digits(text.substr(first + 1, second - first - 1), 16, 4);
  const bool serial_empty = second != std::string_view::npos && second + 1 == text.size();
  if (!vendor || !product || serial_empty) {
    throw usage_error(std::string(option) +
                      " needs VID:PID or VID:PID:SERIAL with hex ids, such as 046d:c216, not " +
                      quoted(text));
  }
  DeviceIds ids{static_cast<uint16_t>(*vendor), static_cast<uint16_t>(*product), std::nullopt};
  if (second != std::string_view::npos) ids.serial = std::string(text.substr(second + 1));
  return ids;
}

int run_tool(const char* name, int argc, char** argv, int (*body)(std::span<const char* const>)) {
  const std::size_t count = argc > 1 ? static_cast<std::size_t>(argc - 1) : 0;
  try {
    return body(std::span<const char* const>(argv + 1, count));
  } catch (const ToolError& error) {
    std::fprintf(stderr, "%s: %s\n", name, error.what());
    return error.exit_status();
  } catch (const std::exception& error) {
    std::fprintf(stderr, "%s: %s\n", name, error.what());
    return kExitBadInput;
  }
}

}  // namespace zelkolink_tools
