// Captures of the device's port link in pcapng, the file format that
// Wireshark, tshark and every pcap library read. A capture keeps what
// happened, not what was made of it: one packet block per read or write,
// exactly as the port delivered or took the bytes, with its time and its
// direction. Read boundaries are kept on purpose: chunking is where a
// parser breaks, so a replay must cut the stream the same way.
//
// Pure: blocks are built in and read from memory, nothing here does I/O or
// throws, so the page's WebAssembly build uses the same code.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace zelkolink_tools::pcapng {

// LINKTYPE_USER0, the first link type set aside for private use: the bytes
// of the port link, as the device or the host sent them.
inline constexpr uint32_t kPortLinkType = 147;

// The epb_flags direction: device to host, or host to device.
enum class Direction : uint8_t { in, out };

// ------------------------------------------------------------------ writing
// Each call appends one whole block, little-endian.

// The Section Header Block that opens a capture; `application` names the
// program that wrote it (shb_userappl).
void append_section_header(std::vector<uint8_t>& out, std::string_view application);

// An Interface Description Block for one port: link type 147, no snap
// length, timestamps in microseconds. `name` is the port's path or COM name
// (if_name), `description` its line settings such as "115200 8N1".
void append_interface(std::vector<uint8_t>& out, std::string_view name,
                      std::string_view description);

// An Enhanced Packet Block: the bytes of one read or write on `interface`
// (numbered from 0 in the order described), at `microseconds` since 1970.
void append_packet(std::vector<uint8_t>& out, uint32_t interface, uint64_t microseconds,
                   Direction direction, std::span<const uint8_t> data);

// ------------------------------------------------------------------ reading

// True when the bytes start like a pcapng capture (a Section Header Block),
// so that a raw byte capture and a pcapng one can share one command line.
bool starts_like_pcapng(std::span<const uint8_t> file);

struct Packet {
  uint32_t interface = 0;
  int64_t nanoseconds = 0;  // since 1970, whatever resolution the file used
  // Blocks without a direction count as inbound: what a port delivered.
  Direction direction = Direction::in;
  std::span<const uint8_t> data;  // within the file's bytes
  std::size_t offset = 0;         // where the block starts in the file
};

// Walks a capture held in memory, in either byte order, section by section.
// Blocks of types other than the three above are skipped, as pcapng asks.
class Reader {
 public:
  explicit Reader(std::span<const uint8_t> file) : file_(file) {}

  // The next packet block. False at the end of the capture, or where the
  // file cannot be read on: fault() then says why.
  bool next(Packet& packet);

  // Why reading stopped before the end, in one line without the file's
  // name ("block at byte 96: length 13 is not a multiple of 4"); empty when
  // it reached the end.
  [[nodiscard]] const std::string& fault() const { return fault_; }

  // What a reader that reached the end should still tell its user, one line
  // each: a last block cut short (every complete one was read), packets
  // shorter than they were on the wire.
  [[nodiscard]] std::vector<std::string> notes() const;

 private:
  struct Interface {
    uint32_t link_type = 0;
    uint32_t snap_length = 0;
    uint8_t resolution = 6;  // if_tsresol: 10^-n s, or 2^-n s with the top bit set
  };
  struct Block;

  bool read_block(Block& block);
  bool read_section_header(const Block& block);
  bool read_interface(const Block& block);
  bool read_packet(const Block& block, Packet& packet);
  bool fail(std::size_t at, const std::string& problem);
  [[nodiscard]] uint32_t u32(std::size_t at) const;
  [[nodiscard]] uint16_t u16(std::size_t at) const;

  std::span<const uint8_t> file_;
  std::size_t at_ = 0;
  bool in_section_ = false;
  bool big_endian_ = false;
  std::vector<Interface> interfaces_;
  std::string fault_;
  std::size_t cut_at_ = 0;  // where a last block cut short begins
  bool cut_ = false;
  uint64_t snapped_packets_ = 0;    // packets with fewer bytes than on the wire
  uint64_t snapped_bytes_ = 0;      // the bytes they are missing
  uint64_t oversized_packets_ = 0;  // packets longer than their snap length
};

}  // namespace zelkolink_tools::pcapng
