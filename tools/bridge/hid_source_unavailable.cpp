// Builds without live HID: --from-hid is refused, saying why.
#include "sources.hpp"
#include "tool_error.hpp"

// The build says why (tools/CMakeLists.txt); this is for tools reading the
// file without the build's flags.
#ifndef ZELKOLINK_NO_LIVE_HID
#  define ZELKOLINK_NO_LIVE_HID "this build has no --from-hid"
#endif

namespace zelkolink_bridge {

std::unique_ptr<Source> open_hid_source(const HidTarget& /*target*/) {
  throw zelkolink_tools::ToolError(zelkolink_tools::kExitBadUsage, ZELKOLINK_NO_LIVE_HID);
}

const char* hid_source_note() {
  return "                     NOT IN THIS BUILD: " ZELKOLINK_NO_LIVE_HID ".\n";
}

}  // namespace zelkolink_bridge
