// The C face of bridge-core.wasm: zelkolink-bridge's own decisions for the
// web page, over one instance's state (the library's port parser, a channel
// map, the held channels) and the captures the page saves and opens, in the
// tools' own pcapng code. Bytes and text come in through zb_buffer; values
// go both ways through the exchange area, whose layout bridge-core.js reads.
// Times are milliseconds as the page counts them, as doubles.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "channel_map.hpp"
#include "link_health.hpp"
#include "map_text.hpp"
#include "pcapng.hpp"
#include "records.hpp"
#include "zelkolink.hpp"

namespace {

using namespace zelkolink_bridge;
namespace pcapng = zelkolink_tools::pcapng;

struct Exchange {
  SourceValues values;                 // inputs, channels, hid, hid_bits
  zelkolink_bridge::SbusChannels out;  // the last frame_channels
};
// bridge-core.js reads these places.
static_assert(offsetof(Exchange, values) == 0);
static_assert(offsetof(SourceValues, channels) == 18);
static_assert(offsetof(SourceValues, hid) == 82);
static_assert(offsetof(SourceValues, hid_bits) == 104);
static_assert(offsetof(Exchange, out) == 116);
// zb_hid_decode's result is the layout itself.
static_assert(static_cast<int>(zelkolink_tools::HidLayout::game_controller) == 1 &&
              static_cast<int>(zelkolink_tools::HidLayout::compatible) == 2);

enum Source : int32_t { kPort = 0, kPortRaw = 1, kHid = 2 };
enum CarriedBits : uint32_t { kFrame = 1, kInputs = 2, kChannels = 4, kHidPart = 8 };

Exchange exchange;
std::vector<uint8_t> buffer;
std::string message;
ChannelMap map = default_port_map(false);
zelkolink_bridge::SbusChannels held = waiting_channels(map);

// A capture block for the page to copy out: each zb_capture_ call that
// writes one replaces it.
std::vector<uint8_t> block;

// The capture being read: its bytes (kept apart from the buffer, which the
// next zb_buffer reuses), its reader, and the packet last read.
struct CapturedPacket {
  double milliseconds;  // since 1970
  uint32_t data;        // where its bytes are in memory
  uint32_t length;
  uint32_t outbound;  // 1 host to device, 0 device to host
};
static_assert(offsetof(CapturedPacket, data) == 8 && offsetof(CapturedPacket, length) == 12 &&
              offsetof(CapturedPacket, outbound) == 16);
std::vector<uint8_t> capture;
pcapng::Reader reader{capture};
CapturedPacket packet{};

std::string_view text_in(std::size_t at, std::size_t length) {
  const std::string_view all(reinterpret_cast<const char*>(buffer.data()), buffer.size());
  return at <= all.size() ? all.substr(at, length) : std::string_view{};
}

uint32_t to_message(std::string text) {
  message = std::move(text);
  return static_cast<uint32_t>(message.size());
}

ChannelMap default_map(int32_t source) {
  return source == kHid ? default_hid_map() : default_port_map(source == kPortRaw);
}

std::chrono::nanoseconds nanoseconds_of(double ms) {
  return std::chrono::nanoseconds(std::llround(ms * 1e6));
}

}  // namespace

extern "C" {

// A buffer of size bytes for the next call's input, valid until the next
// zb_buffer.
uint8_t* zb_buffer(uint32_t size) {
  buffer.resize(size);
  return buffer.data();
}

Exchange* zb_exchange() { return &exchange; }

const char* zb_message() { return message.c_str(); }

// A new connection: the parser forgets what the last one left pending.
void zb_port_reset() { zelkolink::reset_port_parser(); }

// Feeds the first length bytes of the buffer to the port parser; returns
// what the upload frames they completed carried (CarriedBits).
uint32_t zb_port_feed(uint32_t length) {
  const Carried carried = decode_port_bytes(
      std::span(buffer).first(std::min<std::size_t>(length, buffer.size())), exchange.values);
  return (carried.frame ? kFrame : 0u) | (carried.inputs ? kInputs : 0u) |
         (carried.channels ? kChannels : 0u);
}

// Decodes the first length bytes of the buffer as a HID report into the
// exchange's HID values: 1 a game controller, 2 a compatible device, 0 any
// other report (values untouched).
int32_t zb_hid_decode(uint32_t length) {
  const auto report = std::span(buffer).first(std::min<std::size_t>(length, buffer.size()));
  return static_cast<int32_t>(decode_hid_bytes(report, exchange.values));
}

// The source's default map, with a map file read over it when with_file is
// not 0: the buffer holds name_length bytes of its name, then text_length
// bytes of its text. Returns 0, or the length of the one-line error in
// zb_message (the map stays as it was). The held channels start over.
uint32_t zb_map_read(int32_t source, int32_t with_file, uint32_t name_length,
                     uint32_t text_length) {
  ChannelMap next = default_map(source);
  message.clear();
  if (with_file != 0 && name_length + text_length <= buffer.size()) {
    const std::string_view all(reinterpret_cast<const char*>(buffer.data()), buffer.size());
    MapReading reading =
        read_map_text(all.substr(0, name_length), all.substr(name_length, text_length), next);
    if (!reading.error.empty()) {
      message = std::move(reading.error);
      return static_cast<uint32_t>(message.size());
    }
    next = reading.map;
  }
  map = next;
  held = waiting_channels(map);
  return 0;
}

// What the map reads (CarriedBits for inputs, channels and HID values).
uint32_t zb_map_uses() {
  const MapReads used = parts_read(map);
  return (used.inputs ? kInputs : 0u) | (used.channels ? kChannels : 0u) |
         (used.hid ? kHidPart : 0u);
}

int32_t zb_is_fresh(uint32_t carried) {
  const Carried parts{(carried & kFrame) != 0, (carried & kInputs) != 0,
                      (carried & kChannels) != 0};
  return is_fresh(parts, parts_read(map)) ? 1 : 0;
}

// The link state at now_ms (0 waiting, 1 ok, 2 lost, 3 failsafe); last_ms is
// the last fresh record's time, NaN for none yet.
int32_t zb_link_state(double last_ms, double now_ms, double lost_ms, double failsafe_ms) {
  const std::optional<std::chrono::nanoseconds> last =
      std::isnan(last_ms) ? std::nullopt : std::optional(nanoseconds_of(last_ms));
  const HealthLimits limits{nanoseconds_of(lost_ms), nanoseconds_of(failsafe_ms)};
  return static_cast<int32_t>(link_state(last, nanoseconds_of(now_ms), limits));
}

uint32_t zb_sbus_flags(int32_t state) { return sbus_flags(static_cast<LinkState>(state)); }

// The channels of a frame sent in this state from the exchange's values,
// into the exchange's out (frame_channels, holding as the bridge does).
void zb_frame_channels(int32_t state) {
  exchange.out = frame_channels(map, static_cast<LinkState>(state), exchange.values, held);
}

// ------------------------------------------------------------ captures
// Each writer call makes one block from the buffer's text or bytes, returns
// its length and leaves it at zb_capture_block.

const uint8_t* zb_capture_block() { return block.data(); }

// A Section Header Block; the buffer holds the application's name.
uint32_t zb_capture_section(uint32_t application_length) {
  block.clear();
  pcapng::append_section_header(block, text_in(0, application_length));
  return static_cast<uint32_t>(block.size());
}

// An Interface Description Block; the buffer holds name_length bytes of
// the port's name, then description_length bytes of its line settings.
uint32_t zb_capture_interface(uint32_t name_length, uint32_t description_length) {
  block.clear();
  pcapng::append_interface(block, text_in(0, name_length),
                           text_in(name_length, description_length));
  return static_cast<uint32_t>(block.size());
}

// An Enhanced Packet Block of the buffer's first length bytes on interface
// 0, at microseconds since 1970 (a double holds them exactly until 2255).
uint32_t zb_capture_packet(double microseconds, int32_t outbound, uint32_t length) {
  block.clear();
  const auto time = static_cast<uint64_t>(std::llround(std::max(0.0, microseconds)));
  pcapng::append_packet(block, 0, time,
                        outbound != 0 ? pcapng::Direction::out : pcapng::Direction::in,
                        std::span(buffer).first(std::min<std::size_t>(length, buffer.size())));
  return static_cast<uint32_t>(block.size());
}

// Takes the buffer's first length bytes as a capture to read from the start.
void zb_capture_open(uint32_t length) {
  buffer.resize(std::min<std::size_t>(length, buffer.size()));
  capture.swap(buffer);
  reader = pcapng::Reader(capture);
}

// The next packet of the capture, or null at its end or where it cannot be
// read on (zb_capture_fault says why).
const CapturedPacket* zb_capture_next() {
  pcapng::Packet next;
  if (!reader.next(next)) return nullptr;
  const int64_t whole = next.nanoseconds / 1000000;
  packet.milliseconds =
      static_cast<double>(whole) + static_cast<double>(next.nanoseconds - whole * 1000000) / 1e6;
  packet.data = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(next.data.data()));
  packet.length = static_cast<uint32_t>(next.data.size());
  packet.outbound = next.direction == pcapng::Direction::out ? 1 : 0;
  return &packet;
}

// Why reading stopped early, in zb_message; returns its length, 0 for none.
uint32_t zb_capture_fault() { return to_message(reader.fault()); }

// What a capture read to its end still says (a last block cut short), one
// line each, in zb_message; returns its length.
uint32_t zb_capture_notes() {
  std::string lines;
  for (const std::string& note : reader.notes()) {
    if (!lines.empty()) lines += '\n';
    lines += note;
  }
  return to_message(std::move(lines));
}

}  // extern "C"
