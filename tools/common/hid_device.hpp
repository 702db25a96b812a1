// HID devices through hidapi (its hidraw backend on Linux): listing what is
// attached, opening a device the way users name it (VID:PID[:SERIAL] or a
// path) and reading its input reports with a timeout, so a live loop can
// check for a stop request between waits. Every failure is a ToolError with
// the exit status of tool_error.hpp and a message that names the device.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

struct hid_device_;  // hidapi's handle; its header stays out of the tools

namespace zelkolink_tools {

struct HidDeviceInfo {
  uint16_t vendor_id = 0;
  uint16_t product_id = 0;
  std::string manufacturer;  // UTF-8; empty when the device reports none
  std::string product;       // UTF-8; empty when the device reports none
  std::string serial;        // UTF-8; empty when the device reports none
  std::string path;          // what a path-based open takes, e.g. /dev/hidraw3
};

// "046d:c52b": both ids as four lower-case hex digits.
std::string format_hid_id(uint16_t vendor_id, uint16_t product_id);

// The attached HID devices, one entry per path, in hidapi's order. Empty when
// none is attached. Throws ToolError (cannot open) when hidapi cannot start.
std::vector<HidDeviceInfo> list_hid_devices();

class HidDevice {
 public:
  // Opens the first attached device with these ids and, when serial is
  // given, that serial number. Throws ToolError (cannot open) naming what
  // was searched for when no device matches, or when the match cannot be
  // opened (permissions, for one).
  static HidDevice open(uint16_t vendor_id, uint16_t product_id,
                        const std::optional<std::string>& serial);

  // Opens the device at path. Throws ToolError (cannot open) naming the path.
  static HidDevice open_path(const std::string& path);

  HidDevice(HidDevice&& other) noexcept;
  HidDevice& operator=(HidDevice&& other) noexcept;
  HidDevice(const HidDevice&) = delete;
  HidDevice& operator=(const HidDevice&) = delete;
  ~HidDevice();

  // Waits at most timeout for one input report and copies it into buffer (a
  // longer report is cut to the buffer's size). Returns its length, or 0 when
  // no report came in time or a stop signal interrupted the wait. Throws
  // ToolError (vanished) when the device is gone or the read fails.
  std::size_t read(std::span<uint8_t> buffer, std::chrono::milliseconds timeout);

  // How messages name the device: "HID device 046d:c52b at /dev/hidraw3".
  const std::string& name() const { return name_; }

 private:
  HidDevice(hid_device_* handle, std::string name) : handle_(handle), name_(std::move(name)) {}

  hid_device_* handle_;
  std::string name_;
};

}  // namespace zelkolink_tools
