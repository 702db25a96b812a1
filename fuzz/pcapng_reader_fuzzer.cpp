// The pcapng reader on any file: it never reads outside the file's bytes,
// every packet it returns lies inside them in file order, and a file it reads
// to the end reads the same again once its packets are written back out.
#include <vector>

#include "fuzz_support.hpp"
#include "pcapng.hpp"

namespace {

namespace pcapng = zelkolink_tools::pcapng;

struct Read {
  uint32_t interface;
  int64_t microseconds;
  pcapng::Direction direction;
  std::vector<uint8_t> data;
  bool operator==(const Read&) const = default;
};

// Every packet of `file`, and whether the reader got to its end.
bool read_all(const uint8_t* file, size_t size, std::vector<Read>& reads) {
  pcapng::Reader reader({file, size});
  pcapng::Packet packet;
  size_t last_offset = 0;
  while (reader.next(packet)) {
    FUZZ_CHECK(reads.empty() || packet.offset > last_offset);
    last_offset = packet.offset;
    FUZZ_CHECK(packet.data.empty() || (packet.data.data() >= file + packet.offset &&
                                       packet.data.data() + packet.data.size() <= file + size));
    reads.push_back({packet.interface,
                     packet.nanoseconds / 1000,
                     packet.direction,
                     {packet.data.begin(), packet.data.end()}});
  }
  for (const std::string& note : reader.notes()) FUZZ_CHECK(!note.empty());
  return reader.fault().empty();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const zelkolink_fuzz::ExactBytes file(data, size, size);
  std::vector<Read> reads;
  if (!read_all(file.data(), size, reads) || reads.empty()) return 0;

  // Written back with as many interfaces as the packets name: the same
  // packets, to the microsecond, whatever byte order and resolution the
  // fuzzed file had.
  uint32_t interfaces = 0;
  for (const Read& read : reads) interfaces = std::max(interfaces, read.interface + 1);
  if (interfaces > 64) return 0;
  std::vector<uint8_t> again;
  pcapng::append_section_header(again, "fuzz");
  for (uint32_t k = 0; k < interfaces; ++k) pcapng::append_interface(again, "port", "115200 8N1");
  for (const Read& read : reads) {
    if (read.microseconds < 0) return 0;
    pcapng::append_packet(again, read.interface, static_cast<uint64_t>(read.microseconds),
                          read.direction, read.data);
  }
  std::vector<Read> reread;
  FUZZ_CHECK(read_all(again.data(), again.size(), reread));
  FUZZ_CHECK(reread == reads);
  return 0;
}
