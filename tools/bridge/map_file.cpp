#include "map_file.hpp"

#include <fstream>
#include <sstream>

#include "map_text.hpp"
#include "tool_error.hpp"

namespace zelkolink_bridge {

ChannelMap read_map_file(const std::string& path, const ChannelMap& base) {
  using zelkolink_tools::ToolError;
  std::ifstream file(path, std::ios::binary);
  if (!file) throw ToolError(zelkolink_tools::kExitBadUsage, "cannot read map file " + path);
  std::ostringstream text;
  text << file.rdbuf();
  if (file.bad()) throw ToolError(zelkolink_tools::kExitBadUsage, "cannot read map file " + path);
  MapReading reading = read_map_text(path, text.str(), base);
  if (!reading.error.empty()) throw ToolError(zelkolink_tools::kExitBadUsage, reading.error);
  return reading.map;
}

}  // namespace zelkolink_bridge
