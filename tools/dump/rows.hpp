// The rows zelkolink-dump prints: one per parser call that completed an
// upload frame, as CSV (after a header line) or as one JSON object per line.
// Decoding a file and reading a live link print the same shape; a live row
// starts with the seconds since the run started.
#pragma once

#include <cstddef>
#include <optional>
#include <ostream>
#include <string>

#include "options.hpp"
#include "zelkolink.hpp"

namespace zelkolink_dump {

// A live row's time column: seconds with three decimals, the same on every
// platform and locale. Every live row of the tool, port or HID, uses it.
std::string format_seconds(double seconds);

// The CSV header line ("offset,input0,...,channel31", led by "time," for live
// rows). JSON rows have no header, so nothing is written for them.
void write_header(std::ostream& out, OutputFormat format, bool timed);

// One row: the time column (seconds since the run started, three decimals)
// when seconds is set, then offset, the nine inputs and the thirty-two
// channels. Ends with a line break; does not flush.
void write_row(std::ostream& out, OutputFormat format, std::optional<double> seconds,
               std::size_t offset, const InputValues& inputs, const ChannelValues& channels);

}  // namespace zelkolink_dump
