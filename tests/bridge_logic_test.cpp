// zelkolink-bridge's decisions, in process, from the case table the web
// page's bridge module is tested against too (bridge_cases.json): link health
// from made-up times, the mapping, what makes a record fresh, HID layouts,
// whole runs of frames and the map file's messages; and the command lines
// the bridge takes and refuses.
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
#include "options.hpp"
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
        if (carried.frame && is_fresh(carried, parts_read(map))) last_fresh = at;
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

// ------------------------------------------------------------ command line

using Argv = std::vector<const char*>;

std::string joined(const Argv& argv) {
  std::string text;
  for (const char* argument : argv) text += std::string(argument) + " ";
  return text;
}

// The options that differ from the defaults, in a fixed order.
std::string differences(const Options& o) {
  const Options bare;
  std::string text;
  const auto add = [&](const std::string& item) { text += (text.empty() ? "" : " ") + item; };
  char buffer[64];
  if (o.help) add("help");
  if (o.source == SourceKind::hid) {
    std::snprintf(buffer, sizeof buffer, "hid=%04x:%04x", o.hid.vendor_id, o.hid.product_id);
    add(buffer);
    if (o.hid.serial) add("serial=" + *o.hid.serial);
  } else if (!o.from.empty()) {
    add((o.source == SourceKind::port ? "port=" : "file=") + o.from);
  }
  if (!o.to_sbus.empty()) add("to=" + o.to_sbus);
  if (o.baud != bare.baud) add("baud=" + std::to_string(o.baud));
  if (o.request != bare.request) {
    std::snprintf(buffer, sizeof buffer, "request=%02X,%02X", o.request[0], o.request[1]);
    add(buffer);
  }
  if (o.interval_ms != bare.interval_ms) add("interval=" + std::to_string(o.interval_ms));
  if (o.raw) add("raw");
  if (o.sbus2) add("sbus2");
  if (o.map_file) add("map=" + *o.map_file);
  if (o.status) add("status");
  if (o.lost_ms != bare.lost_ms) add("lost=" + std::to_string(o.lost_ms));
  if (o.failsafe_ms != bare.failsafe_ms) add("failsafe=" + std::to_string(o.failsafe_ms));
  if (o.file_rate != bare.file_rate) {
    std::snprintf(buffer, sizeof buffer, "file-rate=%g", o.file_rate);
    add(buffer);
  }
  if (o.seconds) add("ms=" + std::to_string(o.seconds->count()));
  if (o.exit_on_loss) add("exit-on-loss");
  if (o.trace) add("trace=" + *o.trace);
  if (o.capture) add("capture=" + *o.capture);
  return text;
}

TEST(BridgeOptions, EachSourceTakesItsOptionsInBothForms) {
  struct Case {
    Argv argv;
    const char* parsed;
  };
  for (const Case& c : std::vector<Case>{
           {{"--from-port", "/dev/ttyUSB0", "--to-sbus", "/dev/ttyUSB1"},
            "port=/dev/ttyUSB0 to=/dev/ttyUSB1"},
           {{"--from-port=COM3", "--to-sbus=COM4", "--baud", "9600", "--request=2,7f",
             "--interval-ms", "4", "--raw", "--sbus2", "--status", "--exit-on-loss",
             "--capture=c.pcapng"},
            "port=COM3 to=COM4 baud=9600 request=02,7F interval=4 raw sbus2 status exit-on-loss "
            "capture=c.pcapng"},
           {{"--from-hid", "046D:c21d:AB:1", "--to-sbus", "x", "--interval-ms=1000"},
            "hid=046d:c21d serial=AB:1 to=x interval=1000"},
           {{"--to-sbus", "x", "--from-hid=1:2"}, "hid=0001:0002 to=x"},
           {{"--from-file", "cap.bin", "--to-sbus", "x", "--file-rate", "0.5", "--seconds", "1.5",
             "--lost-ms=50", "--failsafe-ms", "51", "--map", "m.json", "--trace", "t.txt"},
            "file=cap.bin to=x map=m.json lost=50 failsafe=51 file-rate=0.5 ms=1500 trace=t.txt"},
           // The failsafe only has to come after the frame-lost flag.
           {{"--from-port", "a", "--to-sbus", "x", "--lost-ms", "999"}, "port=a to=x lost=999"},
           {{"--from-port", "a", "--to-sbus", "x", "--failsafe-ms", "101"},
            "port=a to=x failsafe=101"},
           // Help is given whatever follows it.
           {{"--raw", "--help", "--bogus"}, "help raw"},
           {{"-h"}, "help"},
       }) {
    SCOPED_TRACE(joined(c.argv));
    EXPECT_EQ(differences(parse_options(c.argv)), c.parsed);
  }
}

TEST(BridgeOptions, RefusesWhatItCannotRunInOneLine) {
  struct Case {
    Argv argv;
    const char* words;
  };
  // A port-to-SBUS command line with more options.
  const auto port = [](Argv more) {
    more.insert(more.begin(), {"--from-port", "a", "--to-sbus", "x"});
    return more;
  };
  for (const Case& c : std::vector<Case>{
           // Where from and where to (the VID:PID forms are arguments_test's).
           {{}, "give a source: --from-port, --from-hid or --from-file"},
           {{"--to-sbus", "x"}, "give a source: --from-port, --from-hid or --from-file"},
           {port({"--from-file", "b"}), "give one source only"},
           {port({"--from-port", "b"}), "give one source only"},
           {{"--from-port", "a"}, "give the SBUS port: --to-sbus PORT"},
           {{"--from-port", "a", "--to-sbus"}, "--to-sbus needs a port"},
           {{"--from-hid", "12345:1", "--to-sbus", "x"}, "--from-hid needs VID:PID"},
           // Values.
           {port({"--interval-ms", "3"}), "--interval-ms needs a whole number from 4 to 1000"},
           {port({"--interval-ms=1001"}), "not '1001'"},
           {port({"--baud", "49"}), "--baud needs a whole number from 50 to 4000000"},
           {port({"--request", "1"}), "--request needs two hex bytes"},
           {port({"--lost-ms", "0"}), "--lost-ms needs a whole number from 1 to 600000"},
           {port({"--failsafe-ms", "600001"}), "--failsafe-ms needs a whole number from 1 to"},
           {{"--from-file", "a", "--to-sbus", "x", "--file-rate", "0"},
            "--file-rate needs a number from 0.1 to 10000"},
           {port({"--seconds", "0"}), "--seconds needs a number of seconds"},
           {port({"--raw=1"}), "--raw takes no value"},
           {port({"--bogus"}), "unknown option '--bogus'"},
           // A capture records the device's port.
           {{"--from-file", "a", "--to-sbus", "x", "--capture", "c"},
            "--capture records the device's port: it needs --from-port"},
           {{"--from-hid", "1:2", "--to-sbus", "x", "--capture", "c"}, "it needs --from-port"},
           {port({"--capture"}), "--capture needs a FILE"},
           // The failsafe must come after the frame-lost flag.
           {port({"--lost-ms", "500", "--failsafe-ms", "400"}),
            "--failsafe-ms (400) must be longer than --lost-ms (500)"},
           {port({"--lost-ms", "1000"}),
            "--failsafe-ms (1000) must be longer than --lost-ms (1000)"},
       }) {
    SCOPED_TRACE(joined(c.argv));
    try {
      parse_options(c.argv);
      ADD_FAILURE() << "accepted";
    } catch (const zelkolink_tools::ToolError& error) {
      const std::string what = error.what();
      EXPECT_EQ(error.exit_status(), zelkolink_tools::kExitBadUsage);
      EXPECT_NE(what.find(c.words), std::string::npos) << what;
      EXPECT_TRUE(what.ends_with("(see --help)")) << what;
    }
  }
}

}  // namespace
