// The --map file: a JSON file that changes the mapping of the SBUS channels
// it names. Read with nlohmann-json when the build has it
// (map_file_json.cpp); without it, map_file_unavailable.cpp refuses --map
// and says how to add it.
#pragma once

#include <string>

#include "channel_map.hpp"

namespace zelkolink_bridge {

// Reads the map file at path over `base`: channels the file does not name
// keep their rule in base. Throws ToolError (bad usage) with one line naming
// the file and the key ("map.json: channels.3.scale: ...") or the line and
// column of a syntax error, and for a file that cannot be read.
ChannelMap read_map_file(const std::string& path, const ChannelMap& base);

// What --help says about --map in this build.
const char* map_file_note();

}  // namespace zelkolink_bridge
