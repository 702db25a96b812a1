// Live HID through hidapi: the Linux build's side of hid_live.hpp.
#include "hid_live.hpp"

#include <array>
#include <string_view>

#include "hid_device.hpp"

namespace zelkolink_dump {
namespace {

// hidraw delivers at most 4096 bytes a report; a buffer that size shows the
// true length of any report, however wrong it is for the decoder.
constexpr std::size_t kLargestReport = 4096;

class DeviceReports final : public ReportSource {
 public:
  explicit DeviceReports(zelkolink_tools::HidDevice device) : device_(std::move(device)) {}

  Next next(SourcedReport& report, std::chrono::milliseconds wait) override {
    const std::size_t got = device_.read(buffer_, wait);
    if (got == 0) return Next::none_yet;
    report.bytes.assign(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(got));
    report.unreadable.clear();
    return Next::report;
  }
  [[nodiscard]] bool live() const override { return true; }
  [[nodiscard]] const std::string& name() const override { return device_.name(); }

 private:
  zelkolink_tools::HidDevice device_;
  std::array<uint8_t, kLargestReport> buffer_{};
};

// Tabs and line breaks in a device's strings would break the list's one
// line per device, tab-separated.
std::string list_field(std::string_view text) {
  std::string field(text);
  for (char& c : field) {
    if (c == '\t' || c == '\n' || c == '\r') c = ' ';
  }
  return field;
}

}  // namespace

std::unique_ptr<ReportSource> open_hid_device(const HidOptions& options) {
  if (options.source == HidSource::device_path) {
    return std::make_unique<DeviceReports>(zelkolink_tools::HidDevice::open_path(options.path));
  }
  return std::make_unique<DeviceReports>(
      zelkolink_tools::HidDevice::open(options.vendor_id, options.product_id, options.serial));
}

void write_hid_device_list(std::ostream& out, std::ostream& err) {
  const std::vector<zelkolink_tools::HidDeviceInfo> devices = zelkolink_tools::list_hid_devices();
  if (devices.empty()) err << "zelkolink-dump: no HID devices attached\n";
  for (const zelkolink_tools::HidDeviceInfo& device : devices) {
    out << zelkolink_tools::format_hid_id(device.vendor_id, device.product_id) << '\t'
        << list_field(device.manufacturer) << '\t' << list_field(device.product) << '\t'
        << list_field(device.serial) << '\t' << list_field(device.path) << '\n';
  }
}

const char* live_hid_missing() { return nullptr; }

}  // namespace zelkolink_dump
