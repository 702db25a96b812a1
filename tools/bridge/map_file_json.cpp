#include <charconv>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string_view>

#include "map_file.hpp"
#include "tool_error.hpp"

namespace zelkolink_bridge {
namespace {

using nlohmann::json;
using zelkolink_tools::ToolError;

class MapError {
 public:
  MapError(std::string key, std::string problem)
      : key_(std::move(key)), problem_(std::move(problem)) {}
  [[nodiscard]] std::string text() const { return key_ + ": " + problem_; }

 private:
  std::string key_;
  std::string problem_;
};

long whole(const json& value, const std::string& key, long low, long high, const char* what) {
  if (!value.is_number_integer() || value.get<long>() < low || value.get<long>() > high) {
    throw MapError(key, std::string("expected ") + what + " from " + std::to_string(low) + " to " +
                            std::to_string(high) + ", not " + value.dump());
  }
  return value.get<long>();
}

// "input K", "channel K", "hid K" or "constant V".
void read_source(const json& value, const std::string& key, ChannelRule& rule) {
  const char* expected = R"(expected "input K", "channel K", "hid K" or "constant V")";
  if (!value.is_string()) throw MapError(key, std::string(expected) + ", not " + value.dump());
  const std::string text = value.get<std::string>();
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
      std::string problem = '"' + text;
      problem += R"(" needs a number from 0 to )" + std::to_string(kind.high);
      problem += R"( after ")" + name + '"';
      throw MapError(key, problem);
    }
    rule.origin = kind.origin;
    if (kind.origin == Origin::constant) {
      rule.constant = static_cast<uint16_t>(number);
    } else {
      rule.index = number;
    }
    return;
  }
  throw MapError(key, std::string(expected) + ", not " + value.dump());
}

// "std", "raw" or [from, to].
void read_scale(const json& value, const std::string& key, ChannelRule& rule) {
  if (value == "std") {
    rule.scaling = Scaling::standard;
  } else if (value == "raw") {
    rule.scaling = Scaling::raw;
  } else if (value.is_array() && value.size() == 2 && value[0].is_number() &&
             value[1].is_number() && value[0] != value[1]) {
    rule.scaling = Scaling::linear;
    rule.from = value[0].get<double>();
    rule.to = value[1].get<double>();
  } else {
    throw MapError(key, R"(expected "std", "raw" or [from, to] with two different numbers, not )" +
                            value.dump());
  }
}

ChannelRule read_rule(const json& entry, const std::string& key, ChannelRule rule) {
  if (!entry.is_object()) throw MapError(key, "expected an object, not " + entry.dump());
  for (const auto& [name, value] : entry.items()) {
    std::string at = key;
    at += '.';
    at += name;
    if (name == "source") {
      read_source(value, at, rule);
    } else if (name == "scale") {
      read_scale(value, at, rule);
    } else if (name == "invert") {
      if (!value.is_boolean()) throw MapError(at, "expected true or false, not " + value.dump());
      rule.invert = value.get<bool>();
    } else if (name == "trim") {
      rule.trim = static_cast<int>(whole(value, at, -kSbusMax, kSbusMax, "a whole number"));
    } else if (name == "failsafe") {
      if (value == "hold") {
        rule.failsafe.reset();
      } else {
        rule.failsafe = static_cast<uint16_t>(whole(value, at, 0, kSbusMax, "\"hold\" or a value"));
      }
    } else {
      throw MapError(at, "unknown key; expected source, scale, invert, trim or failsafe");
    }
  }
  return rule;
}

ChannelMap read_map(const json& root, ChannelMap map) {
  if (!root.is_object()) throw MapError("(top)", "expected an object with \"channels\"");
  for (const auto& [name, value] : root.items()) {
    if (name != "channels") throw MapError(name, "unknown key; expected channels");
    if (!value.is_object()) {
      throw MapError(name, R"(expected an object keyed by SBUS channel, "0" to "15")");
    }
    for (const auto& [channel, entry] : value.items()) {
      const std::string key = "channels." + channel;
      unsigned k = 0;
      const auto [end, error] = std::from_chars(channel.data(), channel.data() + channel.size(), k);
      if (channel.empty() || error != std::errc() || end != channel.data() + channel.size() ||
          k >= map.size()) {
        throw MapError(key, R"(expected an SBUS channel from "0" to "15")");
      }
      map[k] = read_rule(entry, key, map[k]);
    }
  }
  return map;
}

}  // namespace

ChannelMap read_map_file(const std::string& path, const ChannelMap& base) {
  std::ifstream file(path, std::ios::binary);
  if (!file) throw ToolError(zelkolink_tools::kExitBadUsage, "cannot read map file " + path);
  std::ostringstream text;
  text << file.rdbuf();
  json root;
  try {
    root = json::parse(text.str());
  } catch (const json::parse_error& error) {
    // "[json.exception.parse_error.101] parse error at line 3, column 9: ..."
    std::string what = error.what();
    const std::size_t at = what.find("at line");
    if (at != std::string::npos) what = what.substr(at + 3);
    throw ToolError(zelkolink_tools::kExitBadUsage, path + ": " + what);
  }
  try {
    return read_map(root, base);
  } catch (const MapError& error) {
    throw ToolError(zelkolink_tools::kExitBadUsage, path + ": " + error.text());
  }
}

const char* map_file_note() { return ""; }

}  // namespace zelkolink_bridge
