// Decoding a captured port stream read by read and printing the records
// after every parser call that completed an upload frame.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <ostream>
#include <span>
#include <vector>

#include "capture_reads.hpp"
#include "rows.hpp"

namespace zelkolink_dump {

// Bytes as one read delivered them, and from a pcapng capture the read's
// time in seconds since the capture's first block.
struct TimedBytes {
  std::optional<double> seconds;
  std::span<const uint8_t> bytes;
};

// The reads a pcapng capture holds from the device, in order.
std::vector<TimedBytes> inbound_reads(std::span<const zelkolink_tools::CapturedRead> reads);

// Feeds each read to the library's port parser and writes one row (rows.hpp;
// after a header line for CSV) per read that completed an upload frame, with
// the read's time when it has one. With chunk_size (1..255), the reads' bytes
// are joined and fed in chunks of that size instead, each timed by the read
// its last byte came from. Uses the process-wide parser, so a process dumps
// one stream.
void dump_port_reads(std::span<const TimedBytes> reads, std::optional<std::size_t> chunk_size,
                     OutputFormat format, std::ostream& out);

}  // namespace zelkolink_dump
