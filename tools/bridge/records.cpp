#include "records.hpp"

#include <iterator>

#include "zelkolink.hpp"

namespace zelkolink_bridge {
namespace {

// The parser writes every position of the part a record carries, so a part
// still holding this pattern after a call was not carried. (A record equal
// to the whole pattern would be missed, and counted as not fresh: the safe
// side.)
constexpr uint16_t unwritten(std::size_t position) {
  return static_cast<uint16_t>(0xA5C3u ^ (position * 0x0111u));
}

template <typename Record>
void mark_unwritten(Record& record) {
  for (std::size_t k = 0; k < std::size(record.value); ++k) record.value[k] = unwritten(k);
}

template <typename Record>
bool was_written(const Record& record) {
  for (std::size_t k = 0; k < std::size(record.value); ++k) {
    if (record.value[k] != unwritten(k)) return true;
  }
  return false;
}

}  // namespace

Carried decode_port_bytes(std::span<const uint8_t> bytes, SourceValues& values) {
  InputValues inputs;
  ChannelValues channels;
  mark_unwritten(inputs);
  mark_unwritten(channels);
  Carried carried;
  carried.frame = zelkolink::feed_port_stream(bytes, &inputs, &channels);
  if (!carried.frame) return carried;
  carried.inputs = was_written(inputs);
  carried.channels = was_written(channels);
  if (carried.inputs) values.inputs = inputs;
  if (carried.channels) values.channels = channels;
  return carried;
}

zelkolink_tools::HidLayout decode_hid_bytes(std::span<const uint8_t> report, SourceValues& values) {
  const zelkolink_tools::HidReport decoded = zelkolink_tools::decode_hid_report(report);
  if (decoded.layout != zelkolink_tools::HidLayout::none) {
    values.hid = decoded.values;
    values.hid_bits = decoded.bits;
  }
  return decoded.layout;
}

bool is_fresh(const Carried& carried, const MapReads& reads) {
  if (!reads.inputs && !reads.channels) return carried.frame;  // a map of constants only
  return (reads.inputs && carried.inputs) || (reads.channels && carried.channels);
}

}  // namespace zelkolink_bridge
