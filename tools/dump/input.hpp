// Getting the bytes in: whole files or standard input, raw or as hex text.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace zelkolink_dump {

// Everything in the file at path, or on standard input when path is "-",
// read as raw bytes (standard input is switched to binary mode on Windows, so
// no byte is translated or taken for the end). Throws DumpError (bad input)
// when the file cannot be opened or read.
std::vector<uint8_t> read_all(const std::string& path);

// How a path is named in messages: "standard input" for "-".
std::string display_name(const std::string& path);

// The value of one hex digit, in either case; nullopt for anything else.
std::optional<uint8_t> hex_digit_value(uint8_t c);

// How messages show a character: 'g' when printable, 0x07 otherwise.
std::string describe_character(uint8_t c);

// Hex text to bytes: digits pair up in order, in either case; spaces, tabs
// and line breaks anywhere are ignored. Throws DumpError (bad input), naming
// source, for any other character (with its line and column) or for an odd
// number of digits.
std::vector<uint8_t> decode_hex(std::span<const uint8_t> text, const std::string& source);

}  // namespace zelkolink_dump
