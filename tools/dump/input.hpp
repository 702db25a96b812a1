// Getting the bytes in: whole files or standard input, raw or as hex text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zelkolink_dump {

// The name a file argument of "-" stands for.
inline constexpr const char* kStandardInput = "-";

// Everything in the file at path, or on standard input when path is "-",
// read as raw bytes (standard input is switched to binary mode on Windows, so
// no byte is translated or taken for the end). Throws ToolError (bad input)
// when the file cannot be opened or read.
std::vector<uint8_t> read_all(const std::string& path);

// How a path is named in messages: "standard input" for "-".
std::string display_name(const std::string& path);

// Why hex text could not be read: a character that is not a hex digit (its
// line and column, from 1), or an odd number of digits (line and column 0).
struct HexFault {
  std::size_t line = 0;
  std::size_t column = 0;
  std::string what;
};

// Hex text to bytes, the one reader of --hex captures and --hid-file lines:
// digits pair up in order, in either case; spaces, tabs and line breaks
// anywhere are ignored. Returns the fault, with bytes cleared, for any other
// character or an odd number of digits.
std::optional<HexFault> decode_hex(std::string_view text, std::vector<uint8_t>& bytes);

}  // namespace zelkolink_dump
