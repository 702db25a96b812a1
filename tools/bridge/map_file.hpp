// The --map file: read_map_text (map_text.hpp) over the contents of a file.
#pragma once

#include <string>

#include "channel_map.hpp"

namespace zelkolink_bridge {

// Reads the map file at path over base. Throws ToolError (bad usage) with the
// one line of map_text.hpp, or naming a file that cannot be read.
ChannelMap read_map_file(const std::string& path, const ChannelMap& base);

}  // namespace zelkolink_bridge
