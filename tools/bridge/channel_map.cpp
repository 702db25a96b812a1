#include "channel_map.hpp"

#include <algorithm>
#include <cmath>

namespace zelkolink_bridge {
namespace {

uint16_t clamp_sbus(double value) {
  return static_cast<uint16_t>(std::clamp(value, 0.0, static_cast<double>(kSbusMax)));
}

uint16_t source_value(const ChannelRule& rule, const SourceValues& values) {
  switch (rule.origin) {
    case Origin::input:
      return values.inputs.value[rule.index];
    case Origin::channel:
      return values.channels.value[rule.index];
    case Origin::hid:
      return values.hid[rule.index];
    case Origin::constant:
      return rule.constant;
  }
  return rule.constant;
}

// A linear range: `from` shows as 172 and `to` as 1811, whichever is larger,
// so a reversed range reverses the travel. Rounded to the nearest unit, so
// the middle of a range lands on the centre.
double linear(double value, double from, double to) {
  if (from == to) return kSbusCentre;
  return std::round(kSbusLow + (value - from) * (kSbusHigh - kSbusLow) / (to - from));
}

}  // namespace

ChannelMap default_port_map(bool raw) {
  ChannelMap map{};
  for (unsigned k = 0; k < map.size(); ++k) {
    map[k].origin = Origin::channel;
    map[k].index = k;
    map[k].scaling = raw ? Scaling::raw : Scaling::standard;
  }
  return map;
}

ChannelMap default_hid_map() {
  ChannelMap map{};
  for (unsigned k = 0; k < map.size(); ++k) {
    if (k < kHidValueCount) {
      map[k].origin = Origin::hid;
      map[k].index = k;
      map[k].scaling = Scaling::full;
    } else {
      map[k].origin = Origin::constant;
    }
  }
  return map;
}

MapReads parts_read(const ChannelMap& map) {
  MapReads used;
  for (const ChannelRule& rule : map) {
    used.inputs = used.inputs || rule.origin == Origin::input;
    used.channels = used.channels || rule.origin == Origin::channel;
    used.hid = used.hid || rule.origin == Origin::hid;
  }
  return used;
}

SbusChannels map_channels(const ChannelMap& map, const SourceValues& values) {
  // Standard values go through the library in one call, as its road says.
  SbusChannels standard{};
  for (std::size_t k = 0; k < map.size(); ++k) standard[k] = source_value(map[k], values);
  zelkolink::convert_std_sbus_data(standard, standard);

  SbusChannels out{};
  for (std::size_t k = 0; k < map.size(); ++k) {
    const ChannelRule& rule = map[k];
    const uint16_t value = source_value(rule, values);
    double scaled = value;
    if (rule.origin != Origin::constant) {
      switch (rule.scaling) {
        case Scaling::standard:
          scaled = standard[k];
          break;
        case Scaling::raw:
          scaled = std::min<uint16_t>(value, kSbusMax);
          break;
        case Scaling::linear:
          scaled = linear(value, rule.from, rule.to);
          break;
        case Scaling::full: {
          const unsigned bits = rule.origin == Origin::hid ? values.hid_bits[rule.index] : 16;
          scaled = linear(value, 0, std::ldexp(1.0, static_cast<int>(bits == 0 ? 16 : bits)) - 1);
          break;
        }
      }
    }
    scaled = clamp_sbus(scaled);
    if (rule.invert) scaled = 2.0 * kSbusCentre - scaled;
    out[k] = clamp_sbus(scaled + rule.trim);
  }
  return out;
}

SbusChannels failsafe_channels(const ChannelMap& map, const SbusChannels& held) {
  SbusChannels out = held;
  for (std::size_t k = 0; k < map.size(); ++k) {
    if (map[k].failsafe) out[k] = *map[k].failsafe;
  }
  return out;
}

SbusChannels waiting_channels(const ChannelMap& map) {
  SbusChannels centre{};
  centre.fill(kSbusCentre);
  return failsafe_channels(map, centre);
}

SbusChannels frame_channels(const ChannelMap& map, LinkState state, const SourceValues& values,
                            SbusChannels& held) {
  switch (state) {
    case LinkState::waiting:
      return waiting_channels(map);
    case LinkState::ok:
    case LinkState::lost:
      held = map_channels(map, values);
      return held;
    case LinkState::failsafe:
      return failsafe_channels(map, held);
  }
  return failsafe_channels(map, held);
}

}  // namespace zelkolink_bridge
