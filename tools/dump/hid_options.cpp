#include "hid_options.hpp"

#include <string_view>

#include "dump_error.hpp"
#include "input.hpp"
#include "options.hpp"

namespace zelkolink_dump {
namespace {

// Digits only, at most max_digits of them, in base 10 or 16.
std::optional<uint64_t> parse_unsigned(std::string_view text, unsigned base,
                                       std::size_t max_digits) {
  if (text.empty() || text.size() > max_digits) return std::nullopt;
  uint64_t value = 0;
  for (const char c : text) {
    const std::optional<uint8_t> digit = hex_digit_value(static_cast<uint8_t>(c));
    if (!digit || *digit >= base) return std::nullopt;
    value = value * base + *digit;
  }
  return value;
}

// VID:PID[:SERIAL], the ids in hex as --hid-list prints them (one to four
// digits each); everything after the second colon is the serial.
void parse_device_id(std::string_view text, HidOptions& hid) {
  const std::size_t first = text.find(':');
  const std::size_t second = first == std::string_view::npos ? first : text.find(':', first + 1);
  const std::optional<uint64_t> vendor = parse_unsigned(text.substr(0, first), 16, 4);
  const std::optional<uint64_t> product =
      first == std::string_view::npos
          ? std::nullopt
          : parse_unsigned(text.substr(first + 1, second - first - 1), 16, 4);
  const bool serial_empty = second != std::string_view::npos && second + 1 == text.size();
  if (!vendor || !product || serial_empty) {
    throw usage_error(
        "--hid needs VID:PID or VID:PID:SERIAL with hex ids, such as 046d:c216, not '" +
        std::string(text) + "'");
  }
  hid.vendor_id = static_cast<uint16_t>(*vendor);
  hid.product_id = static_cast<uint16_t>(*product);
  if (second != std::string_view::npos) hid.serial = std::string(text.substr(second + 1));
}

// 1..255, in decimal or with 0x in hex. Report ID 0 means "no report IDs"
// in HID, so it is refused.
uint8_t parse_report_id(std::string_view text) {
  const bool hex = text.starts_with("0x") || text.starts_with("0X");
  const std::optional<uint64_t> value =
      hex ? parse_unsigned(text.substr(2), 16, 2) : parse_unsigned(text, 10, 3);
  if (!value || *value < 1 || *value > 255) {
    throw usage_error("--report-id needs a number from 1 to 255 (or 0x01 to 0xFF), not '" +
                      std::string(text) + "'");
  }
  return static_cast<uint8_t>(*value);
}

// The value of --name VALUE or --name=VALUE, or nullopt when arguments[k]
// is not --name.
std::optional<std::string_view> option_value(std::span<const char* const> arguments, std::size_t& k,
                                             std::string_view name, std::string_view what) {
  const std::string_view argument = arguments[k];
  if (argument.starts_with(name) && argument.size() > name.size() && argument[name.size()] == '=') {
    return argument.substr(name.size() + 1);
  }
  if (argument != name) return std::nullopt;
  if (k + 1 >= arguments.size())
    throw usage_error(std::string(name) + " needs " + std::string(what));
  return arguments[++k];
}

void set_source(HidOptions& hid, HidSource source) {
  if (hid.source != HidSource::none) {
    throw usage_error("--hid, --hid-path, --hid-file and --hid-list: give only one");
  }
  hid.source = source;
}

}  // namespace

bool parse_hid_option(std::span<const char* const> arguments, std::size_t& k, HidOptions& hid) {
  if (std::string_view(arguments[k]) == "--hid-list") {
    set_source(hid, HidSource::list);
  } else if (const auto id = option_value(arguments, k, "--hid", "VID:PID[:SERIAL]")) {
    set_source(hid, HidSource::device_id);
    parse_device_id(*id, hid);
  } else if (const auto path = option_value(arguments, k, "--hid-path", "a device path")) {
    set_source(hid, HidSource::device_path);
    if (path->empty()) throw usage_error("--hid-path needs a device path");
    hid.path = *path;
  } else if (const auto file = option_value(arguments, k, "--hid-file", "a FILE, or -")) {
    set_source(hid, HidSource::file);
    if (file->empty()) throw usage_error("--hid-file needs a FILE, or -");
    hid.path = *file;
  } else if (const auto report_id = option_value(arguments, k, "--report-id", "a number")) {
    hid.report_id = parse_report_id(*report_id);
  } else {
    return false;
  }
  return true;
}

void check_hid_combinations(const Options& options, bool chunk_given) {
  const HidOptions& hid = options.hid;
  const bool reads_reports = hid.source == HidSource::device_id ||
                             hid.source == HidSource::device_path || hid.source == HidSource::file;
  if (hid.source == HidSource::none) {
    if (hid.report_id) throw usage_error("--report-id needs --hid, --hid-path or --hid-file");
    return;
  }
  if (options.file || options.hex || options.sbus || options.sbus_v2 || chunk_given) {
    throw usage_error(
        "HID reports are read by --hid, --hid-path or --hid-file; FILE, --hex, "
        "--chunk, --sbus and --v2 do not apply");
  }
  if (!reads_reports &&
      (hid.report_id || hid.count || hid.duration || options.format == OutputFormat::json)) {
    throw usage_error("--hid-list takes no other option");
  }
  if (hid.source == HidSource::file && hid.duration) {
    throw usage_error("--seconds needs a live device: --hid or --hid-path");
  }
}

}  // namespace zelkolink_dump
