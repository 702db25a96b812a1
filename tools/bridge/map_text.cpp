#include "map_text.hpp"

#include <charconv>

#include "json_text.hpp"

namespace zelkolink_bridge {
namespace {

// Each reader below returns "" when the value is good, or the problem; the
// caller puts the key in front.
using Problem = std::string;

Problem not_what(const std::string& expected, const JsonValue& value) {
  return expected + ", not " + json_text(value);
}

Problem whole(const JsonValue& value, long low, long high, const char* what, long& out) {
  if (value.kind != JsonValue::Kind::integer || value.integer < low || value.integer > high) {
    return not_what(std::string("expected ") + what + " from " + std::to_string(low) + " to " +
                        std::to_string(high),
                    value);
  }
  out = static_cast<long>(value.integer);
  return {};
}

// "input K", "channel K", "hid K" or "constant V".
Problem read_source(const JsonValue& value, ChannelRule& rule) {
  const char* expected = R"(expected "input K", "channel K", "hid K" or "constant V")";
  if (value.kind != JsonValue::Kind::string) return not_what(expected, value);
  const std::string& text = value.text;
  const std::size_t space = text.find(' ');
  const std::string name = text.substr(0, space);
  struct Kind {
    const char* name;
    Origin origin;
    unsigned high;
  };
  static constexpr Kind kinds[] = {{"input", Origin::input, zelkolink::input_count - 1},
                                   {"channel", Origin::channel, zelkolink::channel_count - 1},
                                   {"hid", Origin::hid, kHidValueCount - 1},
                                   {"constant", Origin::constant, kSbusMax}};
  for (const Kind& kind : kinds) {
    if (name != kind.name) continue;
    unsigned number = 0;
    const std::string_view digits =
        space == std::string::npos ? std::string_view() : std::string_view(text).substr(space + 1);
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), number);
    if (digits.empty() || error != std::errc() || end != digits.data() + digits.size() ||
        number > kind.high) {
      Problem problem = '"' + text;
      problem += R"(" needs a number from 0 to )" + std::to_string(kind.high);
      problem += R"( after ")" + name + '"';
      return problem;
    }
    rule.origin = kind.origin;
    if (kind.origin == Origin::constant) {
      rule.constant = static_cast<uint16_t>(number);
    } else {
      rule.index = number;
    }
    return {};
  }
  return not_what(expected, value);
}

// "std", "raw" or [from, to].
Problem read_scale(const JsonValue& value, ChannelRule& rule) {
  if (value.is_string("std")) {
    rule.scaling = Scaling::standard;
  } else if (value.is_string("raw")) {
    rule.scaling = Scaling::raw;
  } else if (value.kind == JsonValue::Kind::array && value.items.size() == 2 &&
             value.items[0].is_number() && value.items[1].is_number() &&
             value.items[0].number != value.items[1].number) {
    rule.scaling = Scaling::linear;
    rule.from = value.items[0].number;
    rule.to = value.items[1].number;
  } else {
    return not_what(R"(expected "std", "raw" or [from, to] with two different numbers)", value);
  }
  return {};
}

Problem read_rule_key(const std::string& name, const JsonValue& value, ChannelRule& rule) {
  long number = 0;
  if (name == "source") return read_source(value, rule);
  if (name == "scale") return read_scale(value, rule);
  if (name == "invert") {
    if (value.kind != JsonValue::Kind::boolean) return not_what("expected true or false", value);
    rule.invert = value.boolean;
    return {};
  }
  if (name == "trim") {
    Problem problem = whole(value, -kSbusMax, kSbusMax, "a whole number", number);
    if (problem.empty()) rule.trim = static_cast<int>(number);
    return problem;
  }
  if (name == "failsafe") {
    if (value.is_string("hold")) {
      rule.failsafe.reset();
      return {};
    }
    Problem problem = whole(value, 0, kSbusMax, "\"hold\" or a value", number);
    if (problem.empty()) rule.failsafe = static_cast<uint16_t>(number);
    return problem;
  }
  return "unknown key; expected source, scale, invert, trim or failsafe";
}

// The problem with root as "key: problem", or "" with map changed.
std::string read_map(const JsonValue& root, ChannelMap& map) {
  if (root.kind != JsonValue::Kind::object) return "(top): expected an object with \"channels\"";
  for (const JsonMember& top : root.members) {
    if (top.key != "channels") return top.key + ": unknown key; expected channels";
    if (top.value.kind != JsonValue::Kind::object) {
      return top.key + R"(: expected an object keyed by SBUS channel, "0" to "15")";
    }
    for (const JsonMember& entry : top.value.members) {
      const std::string& channel = entry.key;
      const std::string key = "channels." + channel;
      unsigned k = 0;
      const auto [end, error] = std::from_chars(channel.data(), channel.data() + channel.size(), k);
      if (channel.empty() || error != std::errc() || end != channel.data() + channel.size() ||
          k >= map.size()) {
        return key + R"(: expected an SBUS channel from "0" to "15")";
      }
      if (entry.value.kind != JsonValue::Kind::object) {
        return key + ": " + not_what("expected an object", entry.value);
      }
      for (const JsonMember& setting : entry.value.members) {
        const Problem problem = read_rule_key(setting.key, setting.value, map[k]);
        if (problem.empty()) continue;
        std::string line = key + '.' + setting.key;
        line += ": ";
        line += problem;
        return line;
      }
    }
  }
  return {};
}

}  // namespace

MapReading read_map_text(std::string_view name, std::string_view text, const ChannelMap& base) {
  MapReading reading{base, {}};
  const JsonReading json = read_json(text);
  std::string problem = json.error.empty() ? read_map(json.value, reading.map) : json.error;
  if (!problem.empty()) {
    reading.map = base;
    reading.error = std::string(name) + ": " + problem;
  }
  return reading;
}

}  // namespace zelkolink_bridge
