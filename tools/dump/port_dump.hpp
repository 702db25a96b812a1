// Decoding a captured port stream chunk by chunk and printing the records
// after every call that completed an upload frame.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ostream>
#include <span>

#include "options.hpp"

namespace zelkolink_dump {

// Feeds stream to the library's port parser in chunks of chunk_size bytes
// (1..255; the last chunk may be shorter) and writes one CSV row, after a
// header line, or one JSON object per call that completed an upload frame.
// Uses the process-wide parser, so a process dumps one stream.
void dump_port_stream(std::span<const uint8_t> stream, std::size_t chunk_size, OutputFormat format,
                      std::ostream& out);

}  // namespace zelkolink_dump
