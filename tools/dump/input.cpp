#include "input.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>

#include "terminal.hpp"
#include "tool_error.hpp"

namespace zelkolink_dump {
namespace {

using zelkolink_tools::input_error;

struct CloseFile {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

std::vector<uint8_t> read_stream(std::FILE* file, const std::string& path) {
  std::vector<uint8_t> bytes;
  uint8_t block[4096];
  std::size_t got = 0;
  while ((got = std::fread(block, 1, sizeof block, file)) > 0) {
    bytes.insert(bytes.end(), block, block + got);
  }
  if (std::ferror(file)) {
    throw input_error("cannot read " + display_name(path) + ": " + std::strerror(errno));
  }
  return bytes;
}

bool is_blank(uint8_t c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v';
}

std::optional<uint8_t> hex_digit_value(uint8_t c) {
  if (c >= '0' && c <= '9') return static_cast<uint8_t>(c - '0');
  if (c >= 'a' && c <= 'f') return static_cast<uint8_t>(c - 'a' + 10);
  if (c >= 'A' && c <= 'F') return static_cast<uint8_t>(c - 'A' + 10);
  return std::nullopt;
}

// How messages show a character: 'g' when printable, 0x07 otherwise.
std::string describe_character(uint8_t c) {
  if (c >= 0x20 && c < 0x7F) return std::string("'") + static_cast<char>(c) + "'";
  char code[8];
  std::snprintf(code, sizeof code, "0x%02X", unsigned{c});
  return code;
}

}  // namespace

std::string display_name(const std::string& path) {
  return path == kStandardInput ? std::string("standard input") : path;
}

std::vector<uint8_t> read_all(const std::string& path) {
  if (path == kStandardInput) {
    zelkolink_tools::use_binary_standard_input();
    return read_stream(stdin, path);
  }
  const std::unique_ptr<std::FILE, CloseFile> file(std::fopen(path.c_str(), "rb"));
  if (!file) throw input_error("cannot open " + path + ": " + std::strerror(errno));
  return read_stream(file.get(), path);
}

std::optional<HexFault> decode_hex(std::string_view text, std::vector<uint8_t>& bytes) {
  bytes.clear();
  std::size_t digits = 0;
  std::size_t line = 1;
  std::size_t column = 0;
  for (const char character : text) {
    const auto c = static_cast<uint8_t>(character);
    ++column;
    if (c == '\n') {
      ++line;
      column = 0;
    }
    if (is_blank(c)) continue;
    const std::optional<uint8_t> value = hex_digit_value(c);
    if (!value) {
      bytes.clear();
      return HexFault{line, column, describe_character(c) + " is not a hex digit"};
    }
    if (digits % 2 == 0) {
      bytes.push_back(static_cast<uint8_t>(*value << 4));
    } else {
      bytes.back() = static_cast<uint8_t>(bytes.back() | *value);
    }
    ++digits;
  }
  if (digits % 2 == 0) return std::nullopt;
  bytes.clear();
  return HexFault{
      0, 0,
      "odd number of hex digits (" + std::to_string(digits) + "), the last byte is incomplete"};
}

}  // namespace zelkolink_dump
