// The C face of bridge-core.wasm: zelkolink-bridge's own decisions for the
// web page, over one instance's state (the library's port parser, a channel
// map, the held channels). Bytes and text come in through zb_buffer; values
// go both ways through the exchange area, whose layout bridge-core.js reads.
// Times are milliseconds as the page counts them, as doubles.
#include <cmath>
#include <cstddef>
#include <string>
#include <vector>

#include "channel_map.hpp"
#include "link_health.hpp"
#include "map_text.hpp"
#include "records.hpp"
#include "zelkolink.hpp"

namespace {

using namespace zelkolink_bridge;

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

}  // extern "C"
