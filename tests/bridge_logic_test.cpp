// zelkolink-bridge's decisions, in process: link health from made-up times,
// the mapping from records to SBUS channels, what makes a record fresh, the
// map file's errors, and the command lines it takes and refuses.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "channel_map.hpp"
#include "link_health.hpp"
#include "map_file.hpp"
#include "options.hpp"
#include "sources.hpp"
#include "tool_error.hpp"

namespace {

using namespace zelkolink_bridge;
using SbusChannels = zelkolink_bridge::SbusChannels;  // not the C header's array type
using std::chrono::milliseconds;
using std::chrono::nanoseconds;

// ------------------------------------------------------------ link health

TEST(LinkHealth, FollowsTheSilenceSinceTheLastFreshFrame) {
  const HealthLimits limits{milliseconds(100), milliseconds(1000)};
  struct Case {
    std::optional<nanoseconds> last;
    nanoseconds now;
    LinkState state;
    uint8_t flags;
  };
  const Case cases[] = {
      {std::nullopt, milliseconds(0), LinkState::waiting, 0x08},
      {std::nullopt, milliseconds(5000), LinkState::waiting, 0x08},
      {milliseconds(50), milliseconds(50), LinkState::ok, 0x00},
      {milliseconds(50), milliseconds(149) + nanoseconds(999999), LinkState::ok, 0x00},
      {milliseconds(50), milliseconds(150), LinkState::lost, 0x04},
      {milliseconds(50), milliseconds(1049), LinkState::lost, 0x04},
      {milliseconds(50), milliseconds(1050), LinkState::failsafe, 0x0C},
      {milliseconds(50), milliseconds(90000), LinkState::failsafe, 0x0C},
      // A frame stamped after "now" (the reader got there first) is fresh.
      {milliseconds(60), milliseconds(59), LinkState::ok, 0x00},
  };
  for (const Case& c : cases) {
    const LinkState state = link_state(c.last, c.now, limits);
    EXPECT_EQ(state, c.state) << c.now.count();
    EXPECT_EQ(sbus_flags(state), c.flags) << c.now.count();
  }
}

TEST(LinkHealth, OtherLimitsMoveTheEdges) {
  const HealthLimits limits{milliseconds(20), milliseconds(30)};
  EXPECT_EQ(link_state(milliseconds(0), milliseconds(19), limits), LinkState::ok);
  EXPECT_EQ(link_state(milliseconds(0), milliseconds(20), limits), LinkState::lost);
  EXPECT_EQ(link_state(milliseconds(0), milliseconds(30), limits), LinkState::failsafe);
}

// ----------------------------------------------------------------- mapping

SourceValues sample_values() {
  SourceValues values;
  for (uint16_t k = 0; k < zelkolink::channel_count; ++k)
    values.channels.value[k] = static_cast<uint16_t>(40 * k + 3);
  for (uint16_t k = 0; k < zelkolink::input_count; ++k)
    values.inputs.value[k] = static_cast<uint16_t>(1000 + k);
  values.channels.value[15] = 3000;  // beyond the standard range
  return values;
}

TEST(ChannelMap, DefaultIsTheLibrarysStandardRoad) {
  const SourceValues values = sample_values();
  SbusChannels expected{};
  for (std::size_t k = 0; k < expected.size(); ++k) expected[k] = values.channels.value[k];
  zelkolink::convert_std_sbus_data(expected, expected);
  EXPECT_EQ(map_channels(default_port_map(false), values), expected);
  EXPECT_EQ(expected[15], 2047);
}

TEST(ChannelMap, RawTakesSbusUnitsClampedTo2047) {
  const SbusChannels out = map_channels(default_port_map(true), sample_values());
  EXPECT_EQ(out[0], 3);
  EXPECT_EQ(out[14], 40 * 14 + 3);
  EXPECT_EQ(out[15], 2047);
}

TEST(ChannelMap, RulesScaleInvertTrimAndClamp) {
  SourceValues values = sample_values();
  ChannelMap map = default_port_map(false);
  const auto rule = [](Origin origin, unsigned index, Scaling scaling, bool invert = false,
                       int trim = 0) {
    ChannelRule made;
    made.origin = origin;
    made.index = index;
    made.scaling = scaling;
    made.invert = invert;
    made.trim = trim;
    return made;
  };
  const auto range = [&](unsigned index, double from, double to) {
    ChannelRule made = rule(Origin::channel, index, Scaling::linear);
    made.from = from;
    made.to = to;
    return made;
  };
  map[0] = rule(Origin::input, 2, Scaling::raw);          // 1002
  map[1] = range(5, 0, 1000);                             // 203 of 0..1000
  map[2] = range(5, 1000, 0);                             // reversed range
  map[3] = rule(Origin::constant, 0, Scaling::standard);  // SBUS units as is
  map[3].constant = 1500;
  map[4] = rule(Origin::input, 2, Scaling::raw, true);          // 1984 - 1002
  map[5] = rule(Origin::input, 2, Scaling::raw, false, -2000);  // clamped at 0
  map[6] = rule(Origin::input, 2, Scaling::raw, false, 1500);   // clamped at 2047
  map[7] = rule(Origin::channel, 0, Scaling::raw, true);        // 1984 - 3
  map[8] = rule(Origin::channel, 15, Scaling::raw, true, 10);   // 1984 - 2047 + 10
  const SbusChannels out = map_channels(map, values);
  EXPECT_EQ(out[0], 1002);
  EXPECT_EQ(out[1], 505);   // 172 + 203 * 1639 / 1000 = 504.7, to the nearest unit
  EXPECT_EQ(out[2], 1478);  // 172 + 797 * 1639 / 1000 = 1478.3
  EXPECT_EQ(out[3], 1500);
  EXPECT_EQ(out[4], 982);
  EXPECT_EQ(out[5], 0);
  EXPECT_EQ(out[6], 2047);
  EXPECT_EQ(out[7], 1981);
  EXPECT_EQ(out[8], 0);  // clamped once, after the trim: -63 + 10
}

TEST(ChannelMap, HidDefaultSpansEachValuesWidth) {
  SourceValues values;
  values.hid = {0, 65535, 32768, 4095, 0, 2048, 0, 0, 15, 0, 255};
  values.hid_bits = {16, 16, 16, 12, 12, 12, 12, 12, 4, 16, 8};
  const SbusChannels out = map_channels(default_hid_map(), values);
  EXPECT_EQ(out[0], 172);
  EXPECT_EQ(out[1], 1811);
  EXPECT_EQ(out[3], 1811);
  EXPECT_EQ(out[4], 172);
  EXPECT_EQ(out[5], 992);  // 2048 of 0..4095 lands on the centre
  EXPECT_EQ(out[8], 1811);
  EXPECT_EQ(out[10], 1811);
  for (std::size_t k = 11; k < out.size(); ++k) EXPECT_EQ(out[k], 992) << k;
  EXPECT_TRUE(uses(default_hid_map()).hid);
  EXPECT_FALSE(uses(default_hid_map()).channels);
}

TEST(ChannelMap, FailsafeHoldsOrTakesTheMapsValue) {
  ChannelMap map = default_port_map(false);
  map[2].failsafe = 172;
  map[9].failsafe = 1811;
  SbusChannels held{};
  for (std::size_t k = 0; k < held.size(); ++k) held[k] = static_cast<uint16_t>(100 + k);
  const SbusChannels failsafe = failsafe_channels(map, held);
  const SbusChannels waiting = waiting_channels(map);
  for (std::size_t k = 0; k < held.size(); ++k) {
    const uint16_t own = k == 2 ? 172 : k == 9 ? 1811 : 0;
    EXPECT_EQ(failsafe[k], own ? own : held[k]) << k;
    EXPECT_EQ(waiting[k], own ? own : 992) << k;
  }
}

// --------------------------------------------------------------- freshness

std::vector<uint8_t> upload_frame(uint8_t kind, std::size_t length, uint16_t value) {
  std::vector<uint8_t> frame{0xFA, 0xA5, static_cast<uint8_t>(length), 0, kind};
  for (std::size_t k = 1; k < length; ++k) {
    frame.push_back(static_cast<uint8_t>(k % 2 ? value : value >> 8));
  }
  frame.push_back(0x5F);
  return frame;
}

TEST(PortBytes, TellWhichPartsARecordCarried) {
  zelkolink::reset_port_parser();
  SourceValues values;
  struct Case {
    uint8_t kind;
    std::size_t length;
    bool inputs;
    bool channels;
  };
  const Case cases[] = {{0, 19, true, false},
                        {1, 65, false, true},
                        {2, 95, true, true},
                        {1, 40, false, false},  // too short to carry anything
                        {3, 95, false, false}};
  uint16_t value = 0x0101;
  for (const Case& c : cases) {
    const auto carried = decode_port_bytes(upload_frame(c.kind, c.length, ++value), values);
    EXPECT_TRUE(carried.frame) << int(c.kind);
    EXPECT_EQ(carried.inputs, c.inputs) << int(c.kind);
    EXPECT_EQ(carried.channels, c.channels) << int(c.kind);
    if (c.inputs) {
      EXPECT_EQ(values.inputs.value[8], value);
    }
    if (c.channels) {
      EXPECT_EQ(values.channels.value[31], value);
    }
  }
  // The default map reads channels: kind 0 is not fresh, kinds 1 and 2 are.
  const Uses channels_only = uses(default_port_map(false));
  EXPECT_FALSE(is_fresh({true, true, false}, channels_only));
  EXPECT_TRUE(is_fresh({true, false, true}, channels_only));
  EXPECT_FALSE(is_fresh({true, false, false}, channels_only));
  ChannelMap inputs_map = default_port_map(false);
  for (ChannelRule& rule : inputs_map) rule.origin = Origin::input;
  EXPECT_TRUE(is_fresh({true, true, false}, uses(inputs_map)));
  EXPECT_FALSE(is_fresh({true, false, true}, uses(inputs_map)));
}

// ---------------------------------------------------------------- map file

// A build without the JSON parser says so in --help.
bool has_map_files() { return map_file_note()[0] == '\0'; }

class MapFile : public ::testing::Test {
 protected:
  std::string write(const std::string& text) {
    path_ = std::filesystem::temp_directory_path() /
            ("bridge_map_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
             "_" + std::to_string(counter_++) + ".json");
    std::ofstream(path_) << text;
    return path_.string();
  }
  void TearDown() override { std::filesystem::remove(path_); }

  // The error line for this text, or "" when it is accepted.
  std::string error_for(const std::string& text) {
    try {
      read_map_file(write(text), default_port_map(false));
      return "";
    } catch (const zelkolink_tools::ToolError& error) {
      EXPECT_EQ(error.exit_status(), zelkolink_tools::kExitBadUsage);
      return error.what();
    }
  }

 private:
  std::filesystem::path path_;
  int counter_ = 0;
};

TEST_F(MapFile, ChangesOnlyTheChannelsItNames) {
  if (!has_map_files()) GTEST_SKIP() << "this build has no --map";
  const ChannelMap map = read_map_file(write(R"({"channels": {
      "0": {"source": "input 3", "scale": [0, 1200], "invert": true, "trim": -4,
            "failsafe": 992},
      "15": {"source": "constant 1811", "failsafe": "hold"},
      "7": {"source": "hid 10", "scale": "raw"}}})"),
                                       default_port_map(false));
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

TEST_F(MapFile, EachErrorNamesItsKeyOrLine) {
  struct Case {
    const char* text;
    std::vector<const char*> words;
  };
  if (!has_map_files()) {
    EXPECT_NE(error_for("{}").find("has no --map"), std::string::npos);
    GTEST_SKIP() << "this build has no --map";
  }
  const Case cases[] = {
      {"{\"channels\": {\n  \"0\": {\"source\": \"input 1\",}\n}}", {"line 2"}},
      {"", {"line 1"}},
      {R"([1, 2])", {"(top)", "channels"}},
      {R"({"chanels": {}})", {"chanels", "unknown key"}},
      {R"({"channels": {"16": {}}})", {"channels.16", "\"0\" to \"15\""}},
      {R"({"channels": {"x": {}}})", {"channels.x"}},
      {R"({"channels": {"2": 5}})", {"channels.2", "an object"}},
      {R"({"channels": {"2": {"source": "input 9"}}})", {"channels.2.source", "0 to 8"}},
      {R"({"channels": {"2": {"source": "channel 32"}}})", {"channels.2.source", "0 to 31"}},
      {R"({"channels": {"2": {"source": "hid 11"}}})", {"channels.2.source", "0 to 10"}},
      {R"({"channels": {"2": {"source": "constant 2048"}}})", {"channels.2.source", "2047"}},
      {R"({"channels": {"2": {"source": "knob 1"}}})", {"channels.2.source", "\"input K\""}},
      {R"({"channels": {"2": {"source": 4}}})", {"channels.2.source"}},
      {R"({"channels": {"2": {"scale": "log"}}})", {"channels.2.scale", "[from, to]"}},
      {R"({"channels": {"2": {"scale": [5, 5]}}})", {"channels.2.scale", "two different"}},
      {R"({"channels": {"2": {"scale": [0]}}})", {"channels.2.scale"}},
      {R"({"channels": {"2": {"invert": 1}}})", {"channels.2.invert", "true or false"}},
      {R"({"channels": {"2": {"trim": 2.5}}})", {"channels.2.trim", "whole number"}},
      {R"({"channels": {"2": {"trim": 5000}}})", {"channels.2.trim", "-2047 to 2047"}},
      {R"({"channels": {"2": {"failsafe": 2048}}})", {"channels.2.failsafe", "\"hold\""}},
      {R"({"channels": {"2": {"failsafe": "keep"}}})", {"channels.2.failsafe"}},
      {R"({"channels": {"2": {"sorce": "input 1"}}})", {"channels.2.sorce", "unknown key"}},
  };
  for (const Case& c : cases) {
    const std::string error = error_for(c.text);
    EXPECT_NE(error, "") << c.text;
    EXPECT_EQ(error.find('\n'), std::string::npos) << error;
    EXPECT_NE(error.find(".json: "), std::string::npos) << error;
    for (const char* word : c.words) EXPECT_NE(error.find(word), std::string::npos) << error;
  }
  try {
    read_map_file("/nonexistent/map.json", default_port_map(false));
    ADD_FAILURE() << "a missing map file was read";
  } catch (const zelkolink_tools::ToolError& error) {
    EXPECT_EQ(error.exit_status(), zelkolink_tools::kExitBadUsage);
    EXPECT_NE(std::string(error.what()).find("/nonexistent/map.json"), std::string::npos);
  }
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
