// --sbus: lines of sixteen standard values in, one SBUS frame per line out.
#pragma once

#include <array>
#include <cstdint>
#include <ostream>
#include <span>
#include <string>
#include <vector>

#include "sbus_frame.hpp"

namespace zelkolink_dump {

using StandardValues = zelkolink_tools::SbusChannels;

// Reads every non-blank line of text as sixteen decimal values 0..65535,
// separated by spaces, tabs or commas. Throws ToolError (bad input), naming
// source and the line, for a value that is not a number or is out of range,
// or a line with another number of values. Blank lines are skipped.
std::vector<StandardValues> parse_sbus_lines(std::span<const uint8_t> text,
                                             const std::string& source);

// Writes one frame per entry, in order: start byte 0F, the values scaled by
// convert_std_sbus_data and packed by encode_sbus_data_v1 (or _v2 when
// cycling_end_byte), as upper-case hex bytes separated by spaces.
void write_sbus_frames(std::span<const StandardValues> lines, bool cycling_end_byte,
                       std::ostream& out);

}  // namespace zelkolink_dump
