// Live HID where the build has no hidapi (the Windows build, or a Linux
// build configured without libhidapi-dev): the options are known, so they
// fail with a message that says what to do instead.
#include "hid_live.hpp"
#include "tool_error.hpp"

namespace zelkolink_dump {
namespace {

zelkolink_tools::ToolError no_live_hid() {
  return {zelkolink_tools::kExitBadUsage, live_hid_missing()};
}

}  // namespace

const char* live_hid_missing() { return ZELKOLINK_NO_LIVE_HID; }

std::unique_ptr<ReportSource> open_hid_device(const HidOptions& /*options*/) {
  throw no_live_hid();
}

void write_hid_device_list(std::ostream& /*out*/, std::ostream& /*err*/) { throw no_live_hid(); }

}  // namespace zelkolink_dump
