#include "sbus_lines.hpp"

#include <algorithm>
#include <cstdio>
#include <string_view>

#include "arguments.hpp"
#include "tool_error.hpp"

namespace zelkolink_dump {
namespace {

using zelkolink_tools::input_error;

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\r'; }
bool is_separator(char c) { return is_space(c) || c == ','; }

std::vector<std::string_view> split_values(std::string_view line) {
  std::vector<std::string_view> fields;
  std::size_t at = 0;
  while (at < line.size()) {
    if (is_separator(line[at])) {
      ++at;
      continue;
    }
    std::size_t end = at;
    while (end < line.size() && !is_separator(line[end])) ++end;
    fields.push_back(line.substr(at, end - at));
    at = end;
  }
  return fields;
}

// One value: decimal digits only, leading zeros allowed. A minus sign or a
// value above 65535 is out of range; anything else that is not all digits is
// not a number. (These are file input, status 1, not option values.)
uint16_t parse_value(std::string_view field, const std::string& where) {
  const bool negative = field.size() > 1 && field[0] == '-';
  std::string_view digits = negative ? field.substr(1) : field;
  if (!zelkolink_tools::parse_digits(digits, 10, digits.size())) {
    throw input_error(where + ": '" + std::string(field) + "' is not a number");
  }
  while (digits.size() > 1 && digits[0] == '0') digits.remove_prefix(1);
  const uint64_t value = zelkolink_tools::parse_digits(digits, 10, 5).value_or(65536);
  if (negative || value > 65535) {
    throw input_error(where + ": " + std::string(field) + " is out of range 0..65535");
  }
  return static_cast<uint16_t>(value);
}

StandardValues parse_line(std::string_view line, const std::string& where) {
  const std::vector<std::string_view> fields = split_values(line);
  StandardValues values{};
  if (fields.size() != values.size()) {
    throw input_error(where + ": expected " + std::to_string(values.size()) + " values, found " +
                      std::to_string(fields.size()));
  }
  for (std::size_t k = 0; k < values.size(); ++k) values[k] = parse_value(fields[k], where);
  return values;
}

void write_frame_hex(std::span<const uint8_t> frame, std::ostream& out) {
  for (std::size_t k = 0; k < frame.size(); ++k) {
    char byte[3];
    std::snprintf(byte, sizeof byte, "%02X", unsigned{frame[k]});
    out << (k == 0 ? "" : " ") << byte;
  }
  out << '\n';
}

}  // namespace

std::vector<StandardValues> parse_sbus_lines(std::span<const uint8_t> text,
                                             const std::string& source) {
  const std::string_view all(reinterpret_cast<const char*>(text.data()), text.size());
  std::vector<StandardValues> lines;
  std::size_t line_number = 0;
  for (std::size_t start = 0; start < all.size();) {
    const std::size_t newline = std::min(all.find('\n', start), all.size());
    const std::string_view line = all.substr(start, newline - start);
    start = newline + 1;
    ++line_number;
    if (std::all_of(line.begin(), line.end(), is_space)) continue;
    lines.push_back(parse_line(line, source + ": line " + std::to_string(line_number)));
  }
  return lines;
}

void write_sbus_frames(std::span<const StandardValues> lines, bool cycling_end_byte,
                       std::ostream& out) {
  for (const StandardValues& standard : lines) {
    zelkolink_tools::SbusChannels channels{};
    zelkolink::convert_std_sbus_data(channels, standard);
    write_frame_hex(zelkolink_tools::make_sbus_frame(channels, cycling_end_byte), out);
  }
}

}  // namespace zelkolink_dump
