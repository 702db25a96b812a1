#include "hid_device.hpp"

#include <hidapi.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <set>
#include <string_view>

#include "stop_signal.hpp"
#include "tool_error.hpp"

namespace zelkolink_tools {
namespace {

// One code point as UTF-8; anything that is not a Unicode scalar value
// becomes U+FFFD.
void append_utf8(std::string& out, char32_t c) {
  if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = 0xFFFD;
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// hidapi's strings are wchar_t, which is UTF-32 on Linux. Null is empty.
std::string to_utf8(const wchar_t* text) {
  std::string out;
  for (; text != nullptr && *text != L'\0'; ++text) append_utf8(out, static_cast<char32_t>(*text));
  return out;
}

// hidapi's account of its last failure, for the device or (null) for the
// last open or enumeration; fallback when it has none, as after a hang-up.
std::string hidapi_error(hid_device* device, const char* fallback = "no reason given") {
  const std::string text = to_utf8(hid_error(device));
  return text.empty() || text == "Success" ? std::string(fallback) : text;
}

// hid_init once per process, hid_exit when the process ends.
void start_hidapi() {
  struct Session {
    Session() : started(hid_init() == 0) {}
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;
    ~Session() { hid_exit(); }
    bool started;
  };
  static const Session session;
  if (!session.started)
    throw ToolError(kExitCannotOpen, "cannot start hidapi: " + hidapi_error(nullptr));
}

struct FreeEnumeration {
  void operator()(hid_device_info* list) const { hid_free_enumeration(list); }
};
using Enumeration = std::unique_ptr<hid_device_info, FreeEnumeration>;

// hidapi lists a device once per top-level usage; the path names it once.
std::vector<HidDeviceInfo> devices_with_ids(uint16_t vendor_id, uint16_t product_id) {
  start_hidapi();
  const Enumeration list(hid_enumerate(vendor_id, product_id));
  std::vector<HidDeviceInfo> devices;
  std::set<std::string> paths;
  for (const hid_device_info* entry = list.get(); entry != nullptr; entry = entry->next) {
    const std::string path = entry->path != nullptr ? entry->path : "";
    if (!paths.insert(path).second) continue;
    devices.push_back({entry->vendor_id, entry->product_id, to_utf8(entry->manufacturer_string),
                       to_utf8(entry->product_string), to_utf8(entry->serial_number), path});
  }
  return devices;
}

// hidapi 0.13 goes on after a failed descriptor request, and can crash, when
// it opens something that is not a hidraw node; so a path the user gave is
// checked first: a character device that sysfs files under hidraw. Returns
// why it is not one, or empty.
std::string why_not_hidraw(const std::string& path) {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) return std::strerror(errno);
  if (!S_ISCHR(info.st_mode)) return "not a hidraw device (not a character device)";
  const std::string subsystem = "/sys/dev/char/" + std::to_string(major(info.st_rdev)) + ":" +
                                std::to_string(minor(info.st_rdev)) + "/subsystem";
  char target[4096];
  const ssize_t length = readlink(subsystem.c_str(), target, sizeof target);
  const std::string_view class_path(target, length > 0 ? static_cast<std::size_t>(length) : 0);
  if (!class_path.ends_with("/hidraw")) return "not a hidraw device";
  return {};
}

}  // namespace

std::string format_hid_id(uint16_t vendor_id, uint16_t product_id) {
  char id[16];
  std::snprintf(id, sizeof id, "%04x:%04x", unsigned{vendor_id}, unsigned{product_id});
  return id;
}

std::vector<HidDeviceInfo> list_hid_devices() { return devices_with_ids(0, 0); }

HidDevice HidDevice::open(uint16_t vendor_id, uint16_t product_id,
                          const std::optional<std::string>& serial) {
  const std::string id = format_hid_id(vendor_id, product_id);
  for (const HidDeviceInfo& device : devices_with_ids(vendor_id, product_id)) {
    if (serial && device.serial != *serial) continue;
    hid_device* handle = hid_open_path(device.path.c_str());
    const std::string name = "HID device " + id + " at " + device.path;
    if (handle == nullptr)
      throw ToolError(kExitCannotOpen, "cannot open " + name + ": " + hidapi_error(nullptr));
    return {handle, name};
  }
  const std::string wanted = serial ? id + " with serial '" + *serial + "'" : id;
  throw ToolError(kExitCannotOpen,
                  "no HID device " + wanted + " is attached (--hid-list shows what is)");
}

HidDevice HidDevice::open_path(const std::string& path) {
  const std::string not_hidraw = why_not_hidraw(path);
  if (!not_hidraw.empty())
    throw ToolError(kExitCannotOpen, "cannot open HID device " + path + ": " + not_hidraw);
  start_hidapi();
  hid_device* handle = hid_open_path(path.c_str());
  if (handle == nullptr) {
    throw ToolError(kExitCannotOpen,
                    "cannot open HID device " + path + ": " + hidapi_error(nullptr));
  }
  return {handle, "HID device " + path};
}

HidDevice::HidDevice(HidDevice&& other) noexcept
    : handle_(std::exchange(other.handle_, nullptr)), name_(std::move(other.name_)) {}

HidDevice& HidDevice::operator=(HidDevice&& other) noexcept {
  if (this != &other) {
    if (handle_ != nullptr) hid_close(handle_);
    handle_ = std::exchange(other.handle_, nullptr);
    name_ = std::move(other.name_);
  }
  return *this;
}

HidDevice::~HidDevice() {
  if (handle_ != nullptr) hid_close(handle_);
}

std::size_t HidDevice::read(std::span<uint8_t> buffer, std::chrono::milliseconds timeout) {
  const int got =
      hid_read_timeout(handle_, buffer.data(), buffer.size(), static_cast<int>(timeout.count()));
  if (got >= 0) return static_cast<std::size_t>(got);
  // A stop signal interrupts the wait with EINTR, which hidapi reports as a
  // failed read: that is the end of the run, not of the device.
  if (stop_requested()) return 0;
  throw ToolError(kExitVanished, name_ + " went away: " + hidapi_error(handle_, "it hung up"));
}

}  // namespace zelkolink_tools
