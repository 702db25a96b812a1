// From the newest source values to sixteen SBUS channels: where each channel
// takes its value, how it is scaled, inverted and trimmed, and what it shows
// in failsafe. Pure; the loop asks it once per SBUS frame.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include "link_health.hpp"
#include "sbus_frame.hpp"
#include "zelkolink.hpp"

namespace zelkolink_bridge {

using zelkolink_tools::SbusChannels;

inline constexpr std::size_t kHidValueCount = zelkolink::game_controller_count;  // 11
inline constexpr uint16_t kSbusCentre = 992;  // 1500 µs on common receivers
inline constexpr uint16_t kSbusLow = 172;     // 988 µs: the usual lower end of travel
inline constexpr uint16_t kSbusHigh = 1811;   // 2012 µs: the usual upper end
inline constexpr uint16_t kSbusMax = ZELKOLINK_SBUS_CHANNEL_MAX;

// Everything a channel can take its value from, newest first to last.
struct SourceValues {
  InputValues inputs{};
  ChannelValues channels{};
  std::array<uint16_t, kHidValueCount> hid{};
  // Significant bits of each HID value (a game controller's axes have 12, its
  // hat 4), for the HID default mapping's full-range scaling.
  std::array<uint8_t, kHidValueCount> hid_bits{};
};

enum class Origin { input, channel, hid, constant };

enum class Scaling {
  standard,  // convert_std_sbus_data, the library's road for standard values
  raw,       // the value is in SBUS units already, clamped to 2047
  linear,    // from..to maps onto 172..1811, clamped to 0..2047
  full,      // linear over the HID value's whole width (0 .. 2^bits - 1)
};

struct ChannelRule {
  Origin origin = Origin::channel;
  unsigned index = 0;               // input 0..8, channel 0..31, HID value 0..10
  uint16_t constant = kSbusCentre;  // SBUS units, for Origin::constant
  Scaling scaling = Scaling::standard;
  double from = 0;                   // Scaling::linear: the source value shown as 172
  double to = 0;                     // ... and the one shown as 1811
  bool invert = false;               // mirrored about the centre, 992
  int trim = 0;                      // SBUS units added last
  std::optional<uint16_t> failsafe;  // nothing: hold the last value
};

using ChannelMap = std::array<ChannelRule, zelkolink::sbus_channel_count>;

// The device's default: SBUS channel k takes device channel k, scaled as
// standard values, or as SBUS units when raw.
ChannelMap default_port_map(bool raw);

// A HID controller's default: SBUS channel k takes HID value k over its whole
// width (k < 11); channels 11..15 stay at the centre.
ChannelMap default_hid_map();

// Which parts of a record the map reads; an upload record that carries none
// of them is not fresh.
struct MapReads {
  bool inputs = false;
  bool channels = false;
  bool hid = false;
};
MapReads parts_read(const ChannelMap& map);

// The channels for these values.
SbusChannels map_channels(const ChannelMap& map, const SourceValues& values);

// In failsafe: each channel's failsafe value, or `held` where it holds.
SbusChannels failsafe_channels(const ChannelMap& map, const SbusChannels& held);

// Before the first record: each channel's failsafe value, or the centre.
SbusChannels waiting_channels(const ChannelMap& map);

// The channels of the frame sent in this state, as a receiver shows them:
// while values are fresh or just lost, their mapping, which is kept in held;
// in failsafe, failsafe values over held; before the first record, the
// waiting channels. held starts as waiting_channels(map).
SbusChannels frame_channels(const ChannelMap& map, LinkState state, const SourceValues& values,
                            SbusChannels& held);

}  // namespace zelkolink_bridge
