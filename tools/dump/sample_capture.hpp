// The sample port capture (examples/sample_port_stream.bin), compiled into
// the tool so that an installed zelkolink-dump works from any directory. The
// defining source is generated from the .bin at build time.
#pragma once

#include <cstdint>
#include <span>

namespace zelkolink_dump {

std::span<const uint8_t> sample_capture();

}  // namespace zelkolink_dump
