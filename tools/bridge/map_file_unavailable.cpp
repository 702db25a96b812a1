// The build without a JSON parser: --map is refused, saying what to install.
#include "map_file.hpp"
#include "tool_error.hpp"

namespace zelkolink_bridge {

ChannelMap read_map_file(const std::string& /*path*/, const ChannelMap& /*base*/) {
  throw zelkolink_tools::ToolError(
      zelkolink_tools::kExitBadUsage,
      "--map is missing from this build: install nlohmann-json3-dev and rebuild");
}

const char* map_file_note() {
  return "                 NOT IN THIS BUILD: install nlohmann-json3-dev and rebuild.\n";
}

}  // namespace zelkolink_bridge
