// Live HID where the build has no hidapi (the Windows build): the options
// are known, so they fail with a message that says what to use instead.
#include "dump_error.hpp"
#include "hid_live.hpp"

namespace zelkolink_dump {
namespace {

DumpError no_live_hid() {
  return {kExitBadUsage,
          "live HID (--hid, --hid-path, --hid-list) is not in the Windows build; decode "
          "captured reports with --hid-file"};
}

}  // namespace

std::unique_ptr<ReportSource> open_hid_device(const HidOptions& /*options*/) {
  throw no_live_hid();
}

void write_hid_device_list(std::ostream& /*out*/, std::ostream& /*err*/) { throw no_live_hid(); }

}  // namespace zelkolink_dump
