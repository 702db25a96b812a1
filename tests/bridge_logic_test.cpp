// zelkolink-bridge's decisions, in process, from the case table the web
// page's bridge module is tested against too (bridge_cases.json): link health
// from made-up times, the mapping, what makes a record fresh, HID layouts,
// whole runs of frames and the map file's messages.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "channel_map.hpp"
#include "hid_layouts.hpp"
#include "json_text.hpp"
#include "link_health.hpp"
#include "map_file.hpp"
#include "map_text.hpp"
#include "records.hpp"
#include "tool_error.hpp"

namespace {

using namespace zelkolink_bridge;
using SbusChannels = zelkolink_bridge::SbusChannels;  // not the C header's array type
using std::chrono::nanoseconds;

const JsonValue& cases(std::string_view section) {
  static const JsonValue table = [] {
    std::ifstream file(ZELKOLINK_BRIDGE_CASES, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    JsonReading reading = read_json(text.str());
    EXPECT_EQ(reading.error, "") << ZELKOLINK_BRIDGE_CASES;
    return reading.value;
  }();
  const JsonValue* found = table.find(section);
  EXPECT_NE(found, nullptr) << section;
  static const JsonValue none;
  return found != nullptr ? *found : none;
}

nanoseconds ms(const JsonValue& value) { return nanoseconds(std::llround(value.number * 1e6)); }

std::vector<uint8_t> bytes(const JsonValue& hex) {
  std::vector<uint8_t> out;
  for (std::size_t k = 0; k + 1 < hex.text.size(); k += 2) {
    out.push_back(static_cast<uint8_t>(std::stoul(hex.text.substr(k, 2), nullptr, 16)));
  }
  return out;
}

template <typename Values>
std::vector<long> numbers(const Values& values) {
  return {std::begin(values), std::end(values)};
}

std::vector<long> numbers(const JsonValue& list) {
  std::vector<long> out;
  for (const JsonValue& item : list.items) out.push_back(static_cast<long>(item.integer));
  return out;
}

template <typename Values>
void fill(Values& values, const JsonValue* list) {
  if (list == nullptr) return;
  for (std::size_t k = 0; k < list->items.size(); ++k) {
    values[k] = static_cast<std::remove_reference_t<decltype(values[k])>>(list->items[k].integer);
  }
}

// A case's map: the default for its source, with its "map" read over it.
ChannelMap map_of(const JsonValue& c) {
  const std::string& source = c.find("source")->text;
  ChannelMap map = source == "hid" ? default_hid_map() : default_port_map(source == "port-raw");
  if (const JsonValue* file = c.find("map")) {
    const MapReading reading = read_map_text("map.json", json_text(*file), map);
    EXPECT_EQ(reading.error, "");
    map = reading.map;
  }
  return map;
}

const char* state_word(LinkState state) {
  return state == LinkState::lost ? "lost" : state_name(state);
}

TEST(BridgeCases, LinkHealthFollowsTheSilenceSinceTheLastFreshRecord) {
  for (const JsonValue& row : cases("health").items) {
    const HealthLimits limits{ms(row.items[0]), ms(row.items[1])};
    const std::optional<nanoseconds> last =
        row.items[2].is_number() ? std::optional(ms(row.items[2])) : std::nullopt;
    const LinkState state = link_state(last, ms(row.items[3]), limits);
    EXPECT_EQ(state_word(state), row.items[4].text) << json_text(row);
    EXPECT_EQ(sbus_flags(state), row.items[5].integer) << json_text(row);
  }
}

TEST(BridgeCases, MappingGivesTheChannels) {
  for (const JsonValue& c : cases("mapping").items) {
    SourceValues values;
    const JsonValue& given = *c.find("values");
    fill(values.inputs.value, given.find("inputs"));
    fill(values.channels.value, given.find("channels"));
    fill(values.hid, given.find("hid"));
    fill(values.hid_bits, given.find("hid_bits"));
    EXPECT_EQ(numbers(map_channels(map_of(c), values)), numbers(*c.find("channels")))
        << c.find("name")->text;
  }
}

TEST(BridgeCases, PortBytesTellWhichPartsARecordCarried) {
  zelkolink::reset_port_parser();
  for (const JsonValue& c : cases("port_bytes").items) {
    SourceValues values;
    const Carried carried = decode_port_bytes(bytes(*c.find("port")), values);
    std::string parts;
    for (const auto& [part, set] : {std::pair{"frame", carried.frame},
                                    {"inputs", carried.inputs},
                                    {"channels", carried.channels}}) {
      if (set) parts += std::string(parts.empty() ? "" : " ") + part;
    }
    std::string wanted;
    for (const JsonValue& part : c.find("carried")->items) {
      wanted += (wanted.empty() ? "" : " ") + part.text;
    }
    EXPECT_EQ(parts, wanted) << c.find("port")->text;
  }
}

TEST(BridgeCases, HidReportsAreToldApartByLength) {
  for (const JsonValue& c : cases("hid_reports").items) {
    const zelkolink_tools::HidReport report =
        zelkolink_tools::decode_hid_report(bytes(*c.find("hid")));
    EXPECT_EQ(zelkolink_tools::layout_name(report.layout), c.find("layout")->text);
    if (const JsonValue* values = c.find("values")) {
      EXPECT_EQ(numbers(std::span(report.values).first(report.count)), numbers(*values));
      EXPECT_EQ(numbers(std::span(report.bits).first(report.count)), numbers(*c.find("bits")));
    }
  }
}

// A run as the bridge's loop makes it: records published at their times, a
// frame's state, flags and channels at each expected step.
TEST(BridgeCases, RunsOfFramesFollowTheRecords) {
  for (const JsonValue& c : cases("frames").items) {
    SCOPED_TRACE(c.find("name")->text);
    zelkolink::reset_port_parser();
    const ChannelMap map = map_of(c);
    const JsonValue& limits = *c.find("limits");
    const HealthLimits health{ms(limits.items[0]), ms(limits.items[1])};
    SourceValues values;
    std::optional<nanoseconds> last_fresh;
    SbusChannels held = waiting_channels(map);
    for (const JsonValue& step : c.find("steps")->items) {
      const nanoseconds at = ms(*step.find("at"));
      if (const JsonValue* port = step.find("port")) {
        const Carried carried = decode_port_bytes(bytes(*port), values);
        if (carried.frame && is_fresh(carried, uses(map))) last_fresh = at;
      } else if (const JsonValue* hid = step.find("hid")) {
        if (decode_hid_bytes(bytes(*hid), values) != zelkolink_tools::HidLayout::none)
          last_fresh = at;
      } else {
        const LinkState state = link_state(last_fresh, at, health);
        EXPECT_EQ(state_word(state), step.find("state")->text) << json_text(step);
        EXPECT_EQ(sbus_flags(state), step.find("flags")->integer) << json_text(step);
        EXPECT_EQ(numbers(frame_channels(map, state, values, held)),
                  numbers(*step.find("channels")))
            << json_text(step);
      }
    }
  }
}

TEST(BridgeCases, BadMapsAreRefusedInOneLine) {
  for (const JsonValue& c : cases("bad_maps").items) {
    const std::string& text = c.find("text")->text;
    const MapReading reading = read_map_text("map.json", text, default_port_map(false));
    EXPECT_EQ(reading.error, c.find("error")->text) << text;
    EXPECT_EQ(reading.error.find('\n'), std::string::npos) << reading.error;
  }
}

// ---------------------------------------------------------------- map file

TEST(MapFile, ChangesOnlyTheChannelsItNames) {
  const MapReading reading = read_map_text("map.json",
                                           "\xEF\xBB\xBF"
                                           R"({"channels": {
      "0": {"source": "input 3", "scale": [0, 1200], "invert": true, "trim": -4,
            "failsafe": 992},
      "15": {"source": "constant 1811", "failsafe": "hold"},
      "7": {"source": "hid 10", "scale": "raw"}}})",
                                           default_port_map(false));
  ASSERT_EQ(reading.error, "");
  const ChannelMap& map = reading.map;
  EXPECT_EQ(map[0].origin, Origin::input);
  EXPECT_EQ(map[0].index, 3u);
  EXPECT_EQ(map[0].scaling, Scaling::linear);
  EXPECT_EQ(map[0].to, 1200);
  EXPECT_TRUE(map[0].invert);
  EXPECT_EQ(map[0].trim, -4);
  EXPECT_EQ(map[0].failsafe, std::optional<uint16_t>(992));
  EXPECT_EQ(map[15].origin, Origin::constant);
  EXPECT_EQ(map[15].constant, 1811);
  EXPECT_FALSE(map[15].failsafe);
  EXPECT_EQ(map[7].origin, Origin::hid);
  EXPECT_EQ(map[7].scaling, Scaling::raw);
  EXPECT_EQ(map[3].origin, Origin::channel);  // untouched: the default
  EXPECT_EQ(map[3].index, 3u);
}

TEST(MapFile, ErrorsAreToolErrorsNamingTheFile) {
  const std::string path = testing::TempDir() + "bridge_map_test.json";
  std::ofstream(path) << R"({"channels": {"2": {"trim": 2.5}}})";
  for (const std::string& name : {path, std::string("/nonexistent/map.json")}) {
    try {
      read_map_file(name, default_port_map(false));
      ADD_FAILURE() << name << " was read";
    } catch (const zelkolink_tools::ToolError& error) {
      EXPECT_EQ(error.exit_status(), zelkolink_tools::kExitBadUsage);
      EXPECT_EQ(
          std::string(error.what())
              .rfind(name == path ? name + ": channels.2.trim" : "cannot read map file " + name, 0),
          0u)
          << error.what();
    }
  }
  std::remove(path.c_str());
}

}  // namespace
