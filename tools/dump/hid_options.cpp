#include "hid_options.hpp"

#include <string_view>

namespace zelkolink_dump {
namespace {

using zelkolink_tools::parse_digits;
using zelkolink_tools::usage_error;

// 1..255, in decimal or with 0x in hex. Report ID 0 means "no report IDs"
// in HID, so it is refused.
uint8_t parse_report_id(std::string_view text) {
  const bool hex = text.starts_with("0x") || text.starts_with("0X");
  // 0 stands for "not digits": refused like report ID 0 itself.
  const uint64_t value =
      (hex ? parse_digits(text.substr(2), 16, 2) : parse_digits(text, 10, 3)).value_or(0);
  if (value < 1 || value > 255) {
    throw usage_error("--report-id needs a number from 1 to 255 (or 0x01 to 0xFF), not '" +
                      std::string(text) + "'");
  }
  return static_cast<uint8_t>(value);
}

void set_source(HidOptions& hid, HidSource source) {
  if (hid.source != HidSource::none) {
    throw usage_error("--hid, --hid-path, --hid-file and --hid-list: give only one");
  }
  hid.source = source;
}

}  // namespace

bool parse_hid_option(zelkolink_tools::Arguments& args, HidOptions& hid) {
  if (args.flag("--hid-list")) {
    set_source(hid, HidSource::list);
  } else if (const auto id = args.value("--hid", "VID:PID[:SERIAL]")) {
    set_source(hid, HidSource::device_id);
    zelkolink_tools::DeviceIds ids = zelkolink_tools::parse_device_ids(*id, "--hid");
    hid.vendor_id = ids.vendor_id;
    hid.product_id = ids.product_id;
    hid.serial = std::move(ids.serial);
  } else if (const auto path = args.value("--hid-path", "a device path")) {
    set_source(hid, HidSource::device_path);
    if (path->empty()) throw usage_error("--hid-path needs a device path");
    hid.path = *path;
  } else if (const auto file = args.value("--hid-file", "a FILE, or -")) {
    set_source(hid, HidSource::file);
    if (file->empty()) throw usage_error("--hid-file needs a FILE, or -");
    hid.path = *file;
  } else if (const auto report_id = args.value("--report-id", "a number")) {
    hid.report_id = parse_report_id(*report_id);
  } else {
    return false;
  }
  return true;
}

}  // namespace zelkolink_dump
