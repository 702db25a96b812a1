// The rows zelkolink-dump prints, as CSV (after a header line) or as one JSON
// object per line. Port rows: one per parser call that completed an upload
// frame; decoding a file and reading a live link print the same shape, and a
// live row starts with the seconds since the run started. HID rows: one per
// decoded input report.
#pragma once

#include <cstddef>
#include <optional>
#include <ostream>
#include <span>
#include <string>

#include "zelkolink.hpp"

namespace zelkolink_dump {

enum class OutputFormat { csv, json };

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

// The HID rows' CSV header, "KEY,layout,value0,...,value10", where KEY is
// "time" (live) or "line" (a file). Nothing for JSON.
void write_hid_header(std::ostream& out, OutputFormat format, const char* key_name);

// One decoded report: its key (time or line), its layout's name and its
// values. CSV rows all have eleven value columns; a compatible report's nine
// values leave the last two empty. Ends with a line break; does not flush.
void write_hid_row(std::ostream& out, OutputFormat format, const char* key_name,
                   const std::string& key, const char* layout, std::span<const uint16_t> values);

}  // namespace zelkolink_dump
