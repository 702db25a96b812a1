#include "port_dump.hpp"

#include <algorithm>

#include "zelkolink.hpp"

namespace zelkolink_dump {

std::vector<TimedBytes> inbound_reads(std::span<const zelkolink_tools::CapturedRead> reads) {
  std::vector<TimedBytes> inbound;
  for (const zelkolink_tools::CapturedRead& read : reads) {
    if (read.direction != zelkolink_tools::pcapng::Direction::in) continue;
    inbound.push_back({std::chrono::duration<double>(read.time).count(), read.bytes});
  }
  return inbound;
}

void dump_port_reads(std::span<const TimedBytes> reads, std::optional<std::size_t> chunk_size,
                     OutputFormat format, std::ostream& out) {
  InputValues inputs{};
  ChannelValues channels{};
  const bool timed = !reads.empty() && reads.front().seconds.has_value();
  write_header(out, format, timed);
  std::size_t offset = 0;
  if (!chunk_size) {
    for (const TimedBytes& read : reads) {
      offset += read.bytes.size();
      if (zelkolink::feed_port_stream(read.bytes, &inputs, &channels)) {
        write_row(out, format, read.seconds, offset, inputs, channels);
      }
    }
    return;
  }
  // Chunks cut across reads: each takes its bytes from as many reads as it
  // needs, and the time of the read it ends in.
  std::vector<uint8_t> chunk;
  chunk.reserve(*chunk_size);
  std::optional<double> chunk_time;
  const auto feed = [&] {
    offset += chunk.size();
    if (zelkolink::parse_port_data(chunk, &inputs, &channels)) {
      write_row(out, format, chunk_time, offset, inputs, channels);
    }
    chunk.clear();
  };
  for (const TimedBytes& read : reads) {
    for (std::span<const uint8_t> rest = read.bytes; !rest.empty();) {
      const std::size_t take = std::min(rest.size(), *chunk_size - chunk.size());
      chunk.insert(chunk.end(), rest.begin(), rest.begin() + static_cast<std::ptrdiff_t>(take));
      chunk_time = read.seconds;
      rest = rest.subspan(take);
      if (chunk.size() == *chunk_size) feed();
    }
  }
  if (!chunk.empty()) feed();
}

}  // namespace zelkolink_dump
