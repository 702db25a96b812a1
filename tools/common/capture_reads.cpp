#include "capture_reads.hpp"

#include "tool_error.hpp"

namespace zelkolink_tools {

CaptureContents read_capture(std::span<const uint8_t> file, const std::string& name) {
  CaptureContents contents;
  pcapng::Reader reader(file);
  pcapng::Packet packet;
  int64_t first = 0;
  while (reader.next(packet)) {
    if (contents.reads.empty()) first = packet.nanoseconds;
    contents.reads.push_back(
        {std::chrono::nanoseconds(packet.nanoseconds - first), packet.direction, packet.data});
  }
  if (!reader.fault().empty()) throw ToolError(kExitBadUsage, name + ": " + reader.fault());
  for (const std::string& note : reader.notes()) {
    std::string line = name;
    line += ": ";
    line += note;
    contents.notes.push_back(std::move(line));
  }
  return contents;
}

}  // namespace zelkolink_tools
