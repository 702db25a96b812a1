#include "port_dump.hpp"

#include <algorithm>

#include "zelkolink.hpp"

namespace zelkolink_dump {
namespace {

void write_csv_header(std::ostream& out) {
  out << "offset";
  for (std::size_t k = 0; k < zelkolink::input_count; ++k) out << ",input" << k;
  for (std::size_t k = 0; k < zelkolink::channel_count; ++k) out << ",channel" << k;
  out << '\n';
}

void write_csv_values(std::ostream& out, std::span<const uint16_t> values) {
  for (const uint16_t value : values) out << ',' << value;
}

void write_json_array(std::ostream& out, std::span<const uint16_t> values) {
  out << '[';
  for (std::size_t k = 0; k < values.size(); ++k) out << (k == 0 ? "" : ",") << values[k];
  out << ']';
}

void write_row(std::ostream& out, OutputFormat format, std::size_t offset,
               const InputValues& inputs, const ChannelValues& channels) {
  if (format == OutputFormat::csv) {
    out << offset;
    write_csv_values(out, zelkolink::values(inputs));
    write_csv_values(out, zelkolink::values(channels));
  } else {
    out << "{\"offset\":" << offset << ",\"inputs\":";
    write_json_array(out, zelkolink::values(inputs));
    out << ",\"channels\":";
    write_json_array(out, zelkolink::values(channels));
    out << '}';
  }
  out << '\n';
}

}  // namespace

void dump_port_stream(std::span<const uint8_t> stream, std::size_t chunk_size, OutputFormat format,
                      std::ostream& out) {
  InputValues inputs{};
  ChannelValues channels{};
  if (format == OutputFormat::csv) write_csv_header(out);
  for (std::size_t offset = 0; offset < stream.size();) {
    const std::size_t size = std::min(chunk_size, stream.size() - offset);
    const std::span<const uint8_t> chunk = stream.subspan(offset, size);
    offset += size;
    if (zelkolink::parse_port_data(chunk, &inputs, &channels)) {
      write_row(out, format, offset, inputs, channels);
    }
  }
}

}  // namespace zelkolink_dump
