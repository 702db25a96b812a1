// The map file's text: JSON changing the mapping of the SBUS channels it
// names. Pure and exception-free, so zelkolink-bridge (map_file.hpp) and the
// web page's bridge module read a map alike and refuse the same mistakes
// with the same one-line message.
#pragma once

#include <string>
#include <string_view>

#include "channel_map.hpp"

namespace zelkolink_bridge {

struct MapReading {
  ChannelMap map;     // base with the file's changes; base alone on an error
  std::string error;  // empty, or one line: "NAME: channels.3.scale: expected ..."
                      // or "NAME: line 2, column 14: unexpected '}', ..."
};

// Reads text, named name in messages, over base: channels the text does not
// name keep their rule in base.
MapReading read_map_text(std::string_view name, std::string_view text, const ChannelMap& base);

}  // namespace zelkolink_bridge
