// zelkolink-sbus's --sweep triangle, over whole periods (the tool's runs in
// the script tests cover only its first fraction of a second), the options
// that choose what it sends, and the command lines it refuses.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "frames.hpp"
#include "tool_error.hpp"

namespace {

using zelkolink_sbus::kSweepPeriodMs;
using zelkolink_sbus::sweep_value;

TEST(Sweep, IsATriangleOverItsRangeStartingAtTheMiddle) {
  struct Case {
    uint64_t ms;
    uint16_t low, high, value;
  };
  for (const Case& c :
       {// The default range: a servo's usual travel, centred on 992.
        Case{0, 172, 1811, 992}, Case{1000, 172, 1811, 1811}, Case{2000, 172, 1811, 992},
        Case{3000, 172, 1811, 172}, Case{4000, 172, 1811, 992},
        Case{1000 + 4000 * uint64_t{1000000000}, 172, 1811, 1811},
        // The whole SBUS range, as --range 0,2047 asks.
        Case{0, 0, 2047, 1024}, Case{1000, 0, 2047, 2047}, Case{3000, 0, 2047, 0},
        Case{500, 0, 2047, 1535}, Case{2500, 0, 2047, 512}, Case{0, 1000, 1001, 1001},
        Case{3000, 1000, 1001, 1000}}) {
    SCOPED_TRACE(std::to_string(c.ms) + " ms over " + std::to_string(c.low) + ".." +
                 std::to_string(c.high));
    EXPECT_EQ(sweep_value(c.ms, c.low, c.high), c.value);
  }
}

TEST(Sweep, MovesSlowlyAndStaysInRangeOverAPeriod) {
  int previous = sweep_value(0, 0, 2047);
  for (uint64_t ms = 1; ms <= 2 * kSweepPeriodMs; ++ms) {
    const int value = sweep_value(ms, 0, 2047);
    ASSERT_LE(value, 2047);
    // About 1 unit per ms: a servo follows it smoothly.
    ASSERT_LE(std::abs(value - previous), 2) << ms;
    previous = value;
  }
}

zelkolink_sbus::Options parse(std::vector<const char*> arguments) {
  return zelkolink_sbus::parse_options(arguments);
}

TEST(Options, CentreAndSweepRangeDefaultToAServosTravel) {
  const zelkolink_sbus::Options fixed = parse({"--port", "p"});
  EXPECT_EQ(fixed.source, zelkolink_sbus::ValueSource::fixed);
  for (const uint16_t value : fixed.channels) EXPECT_EQ(value, 992);

  const zelkolink_sbus::Options sweep = parse({"--port=p", "--sweep"});
  EXPECT_EQ(sweep.sweep_low, 172);
  EXPECT_EQ(sweep.sweep_high, 1811);

  const zelkolink_sbus::Options wide = parse({"--range", "0,2047", "--sweep", "--port", "p"});
  EXPECT_EQ(wide.sweep_low, 0);
  EXPECT_EQ(wide.sweep_high, 2047);
  EXPECT_EQ(zelkolink_sbus::channels_for_slot(wide, 1000 / wide.interval_ms)[15],
            sweep_value(1000 / wide.interval_ms * wide.interval_ms, 0, 2047));
}

TEST(Options, RefusesWhatItCannotSendInOneLine) {
  struct Case {
    std::vector<const char*> arguments;
    const char* words;
    const char* more = "";
  };
  const std::string sixteen = "0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0";
  const std::string seventeen = sixteen + ",0";
  const std::string too_high = "2048" + sixteen.substr(1);
  const std::string empty = "1,,2" + sixteen.substr(5);
  const std::string std_too_high = "65536" + sixteen.substr(1);
  for (const Case& c :
       {Case{{}, "--port is required"},
        Case{{"--port"}, "--port needs a port name"},
        Case{{"--port", ""}, "--port needs a port name"},
        Case{{"--port", "p", "--channels", "1,2,3"}, "16 whole numbers separated by commas, got 3"},
        Case{{"--port", "p", "--channels", seventeen.c_str()}, "16 whole numbers", "got 17"},
        Case{{"--port", "p", "--channels", too_high.c_str()}, "--channels value 0 needs", "'2048'"},
        Case{{"--port", "p", "--channels", empty.c_str()}, "--channels value 1 needs", "not ''"},
        Case{{"--port", "p", "--std", std_too_high.c_str()}, "--std value 0 needs", "0 to 65535"},
        Case{{"--port", "p", "--interval-ms=1001"}, "--interval-ms needs", "4 to 1000, not '1001'"},
        Case{{"--port", "p", "--interval-ms", "3"}, "--interval-ms needs", "not '3'"},
        Case{{"--port", "p", "--count", "0"}, "--count needs", "not '0'"},
        Case{{"--port", "p", "--sweep", "--channels", sixteen.c_str()},
             "got --sweep and --channels"},
        Case{{"--port", "p", "--std", sixteen.c_str(), "--channels", sixteen.c_str()},
             "choose one of --channels, --std and --sweep; got --std and --channels"},
        Case{{"--port", "p", "--fast"}, "unknown option '--fast'"},
        Case{{"--port", "p", "extra"}, "unexpected argument 'extra'"},
        Case{{"--port", "p", "--range", "100,900"}, "--range sets the --sweep's travel"},
        Case{{"--port", "p", "--sweep", "--range", "900,900"}, "LO below HI, not '900,900'"},
        Case{{"--port", "p", "--sweep", "--range", "900,100"}, "LO below HI"},
        Case{{"--port", "p", "--sweep", "--range", "0,2048"}, "--range value 1 needs"},
        Case{{"--port", "p", "--sweep", "--range", "5"}, "needs 2 whole numbers"},
        Case{{"--port", "p", "--sweep", "--range"}, "--range needs LO,HI"}}) {
    try {
      parse(c.arguments);
      ADD_FAILURE() << c.words << ": accepted";
    } catch (const zelkolink_tools::ToolError& error) {
      const std::string what = error.what();
      EXPECT_EQ(error.exit_status(), zelkolink_tools::kExitBadUsage);
      EXPECT_NE(what.find(c.words), std::string::npos) << what;
      EXPECT_NE(what.find(c.more), std::string::npos) << what;
      EXPECT_TRUE(what.ends_with("(see --help)")) << what;
    }
  }
}

}  // namespace
