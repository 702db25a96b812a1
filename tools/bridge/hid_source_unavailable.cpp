// Builds without live HID: --from-hid is refused, saying why.
#include "sources.hpp"
#include "tool_error.hpp"

namespace zelkolink_bridge {

std::unique_ptr<Source> open_hid_source(const Options& /*options*/) {
  throw zelkolink_tools::ToolError(zelkolink_tools::kExitBadUsage, ZELKOLINK_NO_LIVE_HID);
}

const char* hid_source_note() {
  return "                     NOT IN THIS BUILD: " ZELKOLINK_NO_LIVE_HID ".\n";
}

}  // namespace zelkolink_bridge
