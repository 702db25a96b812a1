// Live HID: the report source that reads an attached device, and the list
// of attached devices. The Linux build implements both with hidapi
// (hid_live.cpp); the Windows build has no hidapi and refuses them with a
// usage error (hid_live_unavailable.cpp).
#pragma once

#include <memory>
#include <ostream>

#include "hid_options.hpp"
#include "report_source.hpp"

namespace zelkolink_dump {

// Opens the device that options names (--hid or --hid-path). Throws
// ToolError: cannot open, naming what was searched for; bad usage where
// there is no live HID.
std::unique_ptr<ReportSource> open_hid_device(const HidOptions& options);

// Writes one line per attached device to out: VID:PID, manufacturer,
// product, serial and path, separated by tabs. With none attached, writes
// nothing to out and a note to err. Throws ToolError as open_hid_device.
void write_hid_device_list(std::ostream& out, std::ostream& err);

// Why this build has no live HID, in one line, or nullptr when it has.
const char* live_hid_missing();

}  // namespace zelkolink_dump
