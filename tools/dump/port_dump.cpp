#include "port_dump.hpp"

#include <algorithm>

#include "rows.hpp"
#include "zelkolink.hpp"

namespace zelkolink_dump {

void dump_port_stream(std::span<const uint8_t> stream, std::size_t chunk_size, OutputFormat format,
                      std::ostream& out) {
  InputValues inputs{};
  ChannelValues channels{};
  write_header(out, format, false);
  for (std::size_t offset = 0; offset < stream.size();) {
    const std::size_t size = std::min(chunk_size, stream.size() - offset);
    const std::span<const uint8_t> chunk = stream.subspan(offset, size);
    offset += size;
    if (zelkolink::parse_port_data(chunk, &inputs, &channels)) {
      write_row(out, format, std::nullopt, offset, inputs, channels);
    }
  }
}

}  // namespace zelkolink_dump
