// The build without a JSON parser: --map is refused, saying what to do.
#include "map_file.hpp"
#include "tool_error.hpp"

// The build says why (tools/CMakeLists.txt); this is for tools reading the
// file without the build's flags.
#ifndef ZELKOLINK_NO_MAP_FILE
#  define ZELKOLINK_NO_MAP_FILE "this build has no --map"
#endif

namespace zelkolink_bridge {

ChannelMap read_map_file(const std::string& /*path*/, const ChannelMap& /*base*/) {
  throw zelkolink_tools::ToolError(zelkolink_tools::kExitBadUsage, ZELKOLINK_NO_MAP_FILE);
}

const char* map_file_note() {
  return "                     NOT IN THIS BUILD: " ZELKOLINK_NO_MAP_FILE ".\n";
}

}  // namespace zelkolink_bridge
