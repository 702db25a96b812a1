#include "pcapng.hpp"

#include <array>
#include <cmath>
#include <limits>

namespace zelkolink_tools::pcapng {
namespace {

constexpr uint32_t kSectionHeader = 0x0A0D0D0A;
constexpr uint32_t kInterface = 1;
constexpr uint32_t kEnhancedPacket = 6;
constexpr uint32_t kByteOrderMagic = 0x1A2B3C4D;

constexpr uint16_t kEndOfOptions = 0;
constexpr uint16_t kApplication = 4;  // shb_userappl
constexpr uint16_t kName = 2;         // if_name
constexpr uint16_t kDescription = 3;  // if_description
constexpr uint16_t kResolution = 9;   // if_tsresol
constexpr uint16_t kFlags = 2;        // epb_flags
constexpr uint32_t kInbound = 1;      // epb_flags bits 0-1
constexpr uint32_t kOutbound = 2;

// A block's type, its total length and its trailing copy of that length.
constexpr std::size_t kBlockFrame = 12;
// An Enhanced Packet Block's fields before its data.
constexpr std::size_t kPacketFields = 20;

constexpr std::size_t padded(std::size_t size) { return (size + 3) & ~std::size_t{3}; }

void put16(std::vector<uint8_t>& out, uint16_t value) {
  out.push_back(static_cast<uint8_t>(value));
  out.push_back(static_cast<uint8_t>(value >> 8));
}

void put32(std::vector<uint8_t>& out, uint32_t value) {
  put16(out, static_cast<uint16_t>(value));
  put16(out, static_cast<uint16_t>(value >> 16));
}

void put_bytes(std::vector<uint8_t>& out, std::span<const uint8_t> bytes) {
  out.insert(out.end(), bytes.begin(), bytes.end());
  out.resize(out.size() + padded(bytes.size()) - bytes.size(), 0);
}

void put_option(std::vector<uint8_t>& out, uint16_t code, std::span<const uint8_t> value) {
  put16(out, code);
  put16(out, static_cast<uint16_t>(value.size()));
  put_bytes(out, value);
}

void put_text_option(std::vector<uint8_t>& out, uint16_t code, std::string_view text) {
  // An option holds at most 65535 bytes; no name or description comes close.
  text = text.substr(0, 0xFFFC);
  put_option(out, code, {reinterpret_cast<const uint8_t*>(text.data()), text.size()});
}

// Opens a block of `type` in out and returns where it starts; close_block
// fills in its length at both ends once its body is written.
std::size_t open_block(std::vector<uint8_t>& out, uint32_t type) {
  const std::size_t start = out.size();
  put32(out, type);
  put32(out, 0);
  return start;
}

void close_block(std::vector<uint8_t>& out, std::size_t start) {
  const auto length = static_cast<uint32_t>(out.size() + 4 - start);
  put32(out, length);
  for (std::size_t k = 0; k < 4; ++k) out[start + 4 + k] = static_cast<uint8_t>(length >> (8 * k));
}

void end_options(std::vector<uint8_t>& out) {
  put16(out, kEndOfOptions);
  put16(out, 0);
}

// Timestamp units to nanoseconds, for if_tsresol's two families. A time
// past the year 2262 (which no port saw) is held at the largest one.
int64_t to_nanoseconds(uint64_t units, uint8_t resolution) {
  constexpr auto kLatest = std::numeric_limits<int64_t>::max();
  const int exponent = resolution & 0x7F;
  if ((resolution & 0x80) != 0) {
    const double nanoseconds = std::ldexp(static_cast<double>(units), -exponent) * 1e9;
    return nanoseconds >= 9.2e18 ? kLatest : static_cast<int64_t>(nanoseconds);
  }
  if (exponent <= 9) {
    uint64_t scale = 1;
    for (int k = exponent; k < 9; ++k) scale *= 10;
    return units > static_cast<uint64_t>(kLatest) / scale ? kLatest
                                                          : static_cast<int64_t>(units * scale);
  }
  uint64_t divisor = 1;
  for (int k = 9; k < exponent && k < 28; ++k) {
    if (divisor > std::numeric_limits<uint64_t>::max() / 10) return 0;
    divisor *= 10;
  }
  return static_cast<int64_t>(units / divisor);
}

}  // namespace

void append_section_header(std::vector<uint8_t>& out, std::string_view application) {
  const std::size_t start = open_block(out, kSectionHeader);
  put32(out, kByteOrderMagic);
  put16(out, 1);  // version 1.0
  put16(out, 0);
  put32(out, 0xFFFFFFFF);  // section length: not given
  put32(out, 0xFFFFFFFF);
  put_text_option(out, kApplication, application);
  end_options(out);
  close_block(out, start);
}

void append_interface(std::vector<uint8_t>& out, std::string_view name,
                      std::string_view description) {
  const std::size_t start = open_block(out, kInterface);
  put16(out, static_cast<uint16_t>(kPortLinkType));
  put16(out, 0);
  put32(out, 0);  // no snap length: every byte is kept
  put_text_option(out, kName, name);
  put_text_option(out, kDescription, description);
  const std::array<uint8_t, 1> microseconds{6};
  put_option(out, kResolution, microseconds);
  end_options(out);
  close_block(out, start);
}

void append_packet(std::vector<uint8_t>& out, uint32_t interface, uint64_t microseconds,
                   Direction direction, std::span<const uint8_t> data) {
  const std::size_t start = open_block(out, kEnhancedPacket);
  put32(out, interface);
  put32(out, static_cast<uint32_t>(microseconds >> 32));
  put32(out, static_cast<uint32_t>(microseconds));
  put32(out, static_cast<uint32_t>(data.size()));
  put32(out, static_cast<uint32_t>(data.size()));
  put_bytes(out, data);
  const uint32_t flags = direction == Direction::in ? kInbound : kOutbound;
  const std::array<uint8_t, 4> value{static_cast<uint8_t>(flags), 0, 0, 0};
  put_option(out, kFlags, value);
  end_options(out);
  close_block(out, start);
}

bool starts_like_pcapng(std::span<const uint8_t> file) {
  return file.size() >= 4 && file[0] == 0x0A && file[1] == 0x0D && file[2] == 0x0D &&
         file[3] == 0x0A;
}

// ------------------------------------------------------------------ reading

struct Reader::Block {
  std::size_t start = 0;
  uint32_t type = 0;
  std::size_t length = 0;
  [[nodiscard]] std::size_t body() const { return start + 8; }
  [[nodiscard]] std::size_t body_end() const { return start + length - 4; }
};

uint32_t Reader::u32(std::size_t at) const {
  const auto b = [&](std::size_t k) { return uint32_t{file_[at + k]}; };
  return big_endian_ ? b(0) << 24 | b(1) << 16 | b(2) << 8 | b(3)
                     : b(3) << 24 | b(2) << 16 | b(1) << 8 | b(0);
}

uint16_t Reader::u16(std::size_t at) const {
  const auto b = [&](std::size_t k) { return static_cast<uint16_t>(file_[at + k]); };
  return static_cast<uint16_t>(big_endian_ ? b(0) << 8 | b(1) : b(1) << 8 | b(0));
}

bool Reader::fail(std::size_t at, const std::string& problem) {
  fault_ = "block at byte " + std::to_string(at) + ": " + problem;
  at_ = file_.size();
  return false;
}

// Reads the block at at_ into block and moves past it. False at the end of
// the file, at a last block cut short (noted) and at a fault.
bool Reader::read_block(Block& block) {
  const std::size_t left = file_.size() - at_;
  if (at_ == 0 && !in_section_ && !starts_like_pcapng(file_)) {
    fault_ = file_.empty() ? "empty, not a pcapng capture" : "not a pcapng capture";
    at_ = file_.size();
    return false;
  }
  if (left == 0) return false;
  block.start = at_;
  const bool section = starts_like_pcapng(file_.subspan(at_));
  if (left < (section ? 12u : 8u)) {
    cut_ = true;
    cut_at_ = at_;
    at_ = file_.size();
    return false;
  }
  if (section) {
    // The byte-order magic, not the block length before it, tells the order.
    const std::span<const uint8_t> magic = file_.subspan(at_ + 8, 4);
    if (magic[0] == 0x4D && magic[1] == 0x3C && magic[2] == 0x2B && magic[3] == 0x1A) {
      big_endian_ = false;
    } else if (magic[0] == 0x1A && magic[1] == 0x2B && magic[2] == 0x3C && magic[3] == 0x4D) {
      big_endian_ = true;
    } else {
      return fail(at_, "a section header without the byte-order magic 1A2B3C4D");
    }
  } else if (!in_section_) {
    return fail(at_, "not in a section");
  }
  block.type = u32(at_);
  block.length = u32(at_ + 4);
  if (block.length < kBlockFrame || block.length % 4 != 0) {
    return fail(
        at_, "length " + std::to_string(block.length) + " is not a multiple of 4 of at least 12");
  }
  if (block.length > left) {
    cut_ = true;
    cut_at_ = at_;
    at_ = file_.size();
    return false;
  }
  if (u32(at_ + block.length - 4) != block.length) {
    return fail(at_, "its length at the end, " + std::to_string(u32(at_ + block.length - 4)) +
                         ", differs from its length at the start, " + std::to_string(block.length));
  }
  at_ += block.length;
  return true;
}

bool Reader::read_section_header(const Block& block) {
  if (block.length < 28) return fail(block.start, "a section header too short to hold its fields");
  if (u16(block.body() + 4) != 1) {
    return fail(block.start, "pcapng version " + std::to_string(u16(block.body() + 4)) + ", not 1");
  }
  in_section_ = true;
  interfaces_.clear();  // interface numbers start again in every section
  return true;
}

bool Reader::read_interface(const Block& block) {
  if (block.length < 20) return fail(block.start, "an interface block too short for its fields");
  Interface interface;
  interface.link_type = u16(block.body());
  interface.snap_length = u32(block.body() + 4);
  if (interface.link_type != kPortLinkType) {
    return fail(block.start, "interface " + std::to_string(interfaces_.size()) + " has link type " +
                                 std::to_string(interface.link_type) +
                                 ", not the port link's 147 (LINKTYPE_USER0)");
  }
  for (std::size_t at = block.body() + 8; at + 4 <= block.body_end();) {
    const uint16_t code = u16(at);
    const std::size_t size = u16(at + 2);
    if (code == kEndOfOptions || at + 4 + size > block.body_end()) break;
    if (code == kResolution && size >= 1) interface.resolution = file_[at + 4];
    at += 4 + padded(size);
  }
  interfaces_.push_back(interface);
  return true;
}

bool Reader::read_packet(const Block& block, Packet& packet) {
  const std::size_t fields = block.body();
  if (block.length < kBlockFrame + kPacketFields) {
    return fail(block.start, "a packet block too short for its fields");
  }
  const uint32_t interface = u32(fields);
  if (interface >= interfaces_.size()) {
    return fail(block.start, "a packet on interface " + std::to_string(interface) +
                                 ", which was never described");
  }
  const std::size_t captured = u32(fields + 12);
  const std::size_t original = u32(fields + 16);
  const std::size_t data = fields + kPacketFields;
  if (captured > block.body_end() - data) {
    return fail(block.start,
                "a packet of " + std::to_string(captured) + " bytes that does not fit its block");
  }
  const Interface& described = interfaces_[interface];
  if (described.snap_length != 0 && captured > described.snap_length) ++oversized_packets_;
  if (original > captured) {
    ++snapped_packets_;
    snapped_bytes_ += original - captured;
  }
  packet.interface = interface;
  const uint64_t units = uint64_t{u32(fields + 4)} << 32 | u32(fields + 8);
  packet.nanoseconds = to_nanoseconds(units, described.resolution);
  packet.data = file_.subspan(data, captured);
  packet.offset = block.start;
  packet.direction = Direction::in;
  for (std::size_t at = data + padded(captured); at + 4 <= block.body_end();) {
    const uint16_t code = u16(at);
    const std::size_t size = u16(at + 2);
    if (code == kEndOfOptions || at + 4 + size > block.body_end()) break;
    if (code == kFlags && size == 4 && (u32(at + 4) & 3) == kOutbound) {
      packet.direction = Direction::out;
    }
    at += 4 + padded(size);
  }
  return true;
}

bool Reader::next(Packet& packet) {
  Block block;
  while (read_block(block)) {
    switch (block.type) {
      case kSectionHeader:
        if (!read_section_header(block)) return false;
        break;
      case kInterface:
        if (!read_interface(block)) return false;
        break;
      case kEnhancedPacket:
        return read_packet(block, packet);
      default:
        break;  // a block this reader has no use for
    }
  }
  return false;
}

std::vector<std::string> Reader::notes() const {
  std::vector<std::string> notes;
  if (cut_) {
    notes.push_back("the capture ends inside a block at byte " + std::to_string(cut_at_) +
                    "; every complete block before it was read");
  }
  if (snapped_packets_ != 0) {
    notes.push_back(std::to_string(snapped_packets_) +
                    " packet(s) were cut to a snap length when captured; " +
                    std::to_string(snapped_bytes_) + " byte(s) are missing");
  }
  if (oversized_packets_ != 0) {
    notes.push_back(std::to_string(oversized_packets_) +
                    " packet(s) are longer than their interface's snap length; all their "
                    "bytes are used");
  }
  return notes;
}

}  // namespace zelkolink_tools::pcapng
