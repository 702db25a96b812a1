// A pcapng capture of the port link as the tools read it: every read and
// write in order, timed from the first, with one error line for a file that
// is not a capture they can read.
#pragma once

#include <chrono>
#include <span>
#include <string>
#include <vector>

#include "pcapng.hpp"

namespace zelkolink_tools {

struct CapturedRead {
  std::chrono::nanoseconds time;  // since the capture's first block
  pcapng::Direction direction;
  std::span<const uint8_t> bytes;  // within the file's bytes
};

struct CaptureContents {
  std::vector<CapturedRead> reads;
  // What the user should still be told, one line each, "NAME: ...": a last
  // block cut short, packets cut to a snap length.
  std::vector<std::string> notes;
};

// Reads the capture held in `file`, named `name` in messages. Throws
// ToolError(kExitBadUsage), "NAME: problem", for a file that is not a
// capture this reader can use.
CaptureContents read_capture(std::span<const uint8_t> file, const std::string& name);

}  // namespace zelkolink_tools
