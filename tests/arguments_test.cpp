// The tools' command-line layer: option forms, numbers and their one error
// wording, and the exit statuses main() returns.
#include "arguments.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

namespace {

using namespace zelkolink_tools;

// The usage error a call throws, or "" when it throws none.
template <typename Call>
std::string usage_message(Call call) {
  try {
    call();
  } catch (const ToolError& error) {
    EXPECT_EQ(error.exit_status(), kExitBadUsage) << error.what();
    return error.what();
  }
  return "";
}

// What a walk over the arguments finds: flags, values and operands in order.
std::vector<std::string> walk(std::vector<const char*> argv) {
  std::vector<std::string> seen;
  for (Arguments args(argv); !args.done(); args.next()) {
    if (args.flag("--json")) {
      seen.push_back("flag json");
    } else if (const auto baud = args.value("--baud", "a rate")) {
      seen.push_back("baud " + std::string(*baud));
    } else if (args.is_operand()) {
      seen.push_back("operand " + std::string(args.current()));
    } else {
      throw args.unknown();
    }
  }
  return seen;
}

TEST(Arguments, ReadsBothValueFormsFlagsAndOperandsInOrder) {
  using Seen = std::vector<std::string>;
  EXPECT_EQ(walk({"--baud", "9600", "--json", "file"}),
            (Seen{"baud 9600", "flag json", "operand file"}));
  EXPECT_EQ(walk({"--baud=9600"}), (Seen{"baud 9600"}));
  EXPECT_EQ(walk({"--baud="}), (Seen{"baud "}));  // an empty value is the option's to refuse
  EXPECT_EQ(walk({"-"}), (Seen{"operand -"}));    // standard input
  // The value after a name is taken whole, even when it looks like an option.
  EXPECT_EQ(walk({"--baud", "--json"}), (Seen{"baud --json"}));
  // After "--" everything is an operand.
  EXPECT_EQ(walk({"--json", "--", "--json", "--baud=1"}),
            (Seen{"flag json", "operand --json", "operand --baud=1"}));
  EXPECT_EQ(walk({"--", "--json", "--"}), (Seen{"operand --json", "operand --"}));
  EXPECT_EQ(walk({}), Seen{});
}

TEST(Arguments, RefusesWhatItCannotTakeInOneLine) {
  EXPECT_EQ(usage_message([] { walk({"--baud"}); }), "--baud needs a rate (see --help)");
  EXPECT_EQ(usage_message([] { walk({"--json=yes"}); }), "--json takes no value (see --help)");
  EXPECT_EQ(usage_message([] { walk({"--bau"}); }), "unknown option '--bau' (see --help)");
  // A longer name that starts with a known one is not that option.
  EXPECT_EQ(usage_message([] {
              walk({"--baudrate", "1"});
            }),
            "unknown option '--baudrate' (see --help)");
}

TEST(Numbers, WholeNumbersInRange) {
  EXPECT_EQ(parse_whole("0", "--n", 0, 5), 0u);
  EXPECT_EQ(parse_whole("00042", "--n", 1, 100), 42u);
  EXPECT_EQ(parse_whole("1000000000000", "--count", 1, 1000000000000), 1000000000000u);
  for (const char* bad : {"", "-1", "+1", " 1", "1 ", "1.0", "0x10", "6", "99999999999999999999"}) {
    EXPECT_EQ(usage_message([&] { parse_whole(bad, "--n", 0, 5); }),
              "--n needs a whole number from 0 to 5, not '" + std::string(bad) + "' (see --help)")
        << bad;
  }
}

TEST(Numbers, ListsOfWholeNumbers) {
  using Values = std::vector<uint64_t>;
  EXPECT_EQ(parse_whole_list("172,1811", "--range", 0, 2047, 2), (Values{172, 1811}));
  EXPECT_EQ(parse_whole_list("7", "--n", 0, 9, 1), (Values{7}));
  struct Case {
    const char* text;
    const char* message;
  };
  for (const Case& c : {
           Case{"1,2,3", "--range needs 2 whole numbers separated by commas, got 3"},
           Case{"1", "--range needs 2 whole numbers separated by commas, got 1"},
           Case{"", "--range needs 2 whole numbers separated by commas, got 1"},
           Case{",5", "--range value 0 needs a whole number from 0 to 2047, not ''"},
           Case{"1,", "--range value 1 needs a whole number from 0 to 2047, not ''"},
           Case{"2048,1", "--range value 0 needs a whole number from 0 to 2047, not '2048'"},
           Case{"1, 2", "--range value 1 needs a whole number from 0 to 2047, not ' 2'"},
       }) {
    EXPECT_EQ(usage_message([&] { parse_whole_list(c.text, "--range", 0, 2047, 2); }),
              std::string(c.message) + " (see --help)")
        << c.text;
  }
}

TEST(Numbers, DecimalsInRange) {
  EXPECT_DOUBLE_EQ(parse_decimal("0.25", "--p", 0, 1), 0.25);
  EXPECT_DOUBLE_EQ(parse_decimal(".5", "--p", 0, 1), 0.5);
  EXPECT_DOUBLE_EQ(parse_decimal("100", "--rate", 0, 1e6), 100.0);
  for (const char* bad : {"", ".", "1.", "1.2.3", "-0.5", "1e3", "nan", "inf", "1.5"}) {
    EXPECT_EQ(usage_message([&] { parse_decimal(bad, "--p", 0, 1); }),
              "--p needs a number from 0 to 1, not '" + std::string(bad) + "' (see --help)")
        << bad;
  }
  EXPECT_NE(usage_message([] { parse_decimal("2000000", "--rate", 0, 1e6); }).find("0 to 1000000"),
            std::string::npos);
}

TEST(Numbers, SecondsToTheMillisecond) {
  using std::chrono::milliseconds;
  EXPECT_EQ(parse_seconds("10", "--seconds"), milliseconds(10000));
  EXPECT_EQ(parse_seconds("0.25", "--seconds"), milliseconds(250));
  EXPECT_EQ(parse_seconds(".001", "--seconds"), milliseconds(1));
  EXPECT_EQ(parse_seconds("1.5", "--seconds"), milliseconds(1500));
  for (const char* bad : {"", "0", "0.000", "0.0001", "1.", "-1", "1s", "1,5", "1.2.3"}) {
    EXPECT_EQ(usage_message([&] { parse_seconds(bad, "--seconds"); }),
              "--seconds needs a number of seconds such as 10 or 0.25, at least 0.001, not '" +
                  std::string(bad) + "' (see --help)")
        << bad;
  }
}

TEST(Numbers, DigitsAndHexPairs) {
  EXPECT_EQ(parse_digits("046d", 16, 4), 0x046du);
  EXPECT_EQ(parse_digits("FF", 16, 2), 0xFFu);
  EXPECT_EQ(parse_digits("255", 10, 3), 255u);
  EXPECT_EQ(parse_digits("1a", 10, 3), std::nullopt);
  EXPECT_EQ(parse_digits("12345", 16, 4), std::nullopt);
  EXPECT_EQ(parse_digits("", 10, 3), std::nullopt);

  EXPECT_EQ(parse_hex_pair("01,00", "--request"), (std::array<uint8_t, 2>{0x01, 0x00}));
  EXPECT_EQ(parse_hex_pair("fF,a", "--request"), (std::array<uint8_t, 2>{0xFF, 0x0A}));
  for (const char* bad : {"", "01", "01,", ",00", "01,00,02", "100,00", "0g,00", "01;00"}) {
    EXPECT_EQ(
        usage_message([&] { parse_hex_pair(bad, "--request"); }),
        "--request needs two hex bytes such as 01,00, not '" + std::string(bad) + "' (see --help)")
        << bad;
  }
}

TEST(Numbers, DeviceIdsAsUsersNameThem) {
  const DeviceIds plain = parse_device_ids("46D:c216", "--hid");
  EXPECT_EQ(std::tuple(plain.vendor_id, plain.product_id, plain.serial),
            std::tuple(0x046D, 0xC216, std::optional<std::string>()));
  // Everything after the second colon is the serial, colons included.
  EXPECT_EQ(parse_device_ids("1:2:AB:01", "--from-hid").serial, "AB:01");
  for (const char* bad : {"", "046d", "046d:", ":c216", "12345:1", "1:2:", "g:1", "1:2x"}) {
    EXPECT_EQ(usage_message([&] { parse_device_ids(bad, "--from-hid"); }),
              "--from-hid needs VID:PID or VID:PID:SERIAL with hex ids, such as 046d:c216, not '" +
                  std::string(bad) + "' (see --help)")
        << bad;
  }
}

// run_tool's exit-status policy, with bodies that end each way.
int body_ok(std::span<const char* const> arguments) { return static_cast<int>(arguments.size()); }
int body_vanished(std::span<const char* const>) {
  throw ToolError(kExitVanished, "/dev/ttyUSB0: device disconnected");
}
int body_usage(std::span<const char* const>) { throw usage_error("unknown option '-x'"); }
int body_unforeseen(std::span<const char* const>) { throw std::runtime_error("out of memory"); }

TEST(RunTool, ReturnsTheBodysStatusOrTheErrorsOneLineAndStatus) {
  char name[] = "tool";
  char first[] = "a";
  char second[] = "b";
  char* argv[] = {name, first, second, nullptr};
  EXPECT_EQ(run_tool("tool", 3, argv, body_ok), 2) << "the arguments after the program name";
  EXPECT_EQ(run_tool("tool", 0, argv, body_ok), 0);

  struct Case {
    int (*body)(std::span<const char* const>);
    int status;
    const char* line;
  };
  for (const Case& c :
       {Case{body_vanished, kExitVanished, "tool: /dev/ttyUSB0: device disconnected\n"},
        Case{body_usage, kExitBadUsage, "tool: unknown option '-x' (see --help)\n"},
        Case{body_unforeseen, kExitBadInput, "tool: out of memory\n"}}) {
    testing::internal::CaptureStderr();
    EXPECT_EQ(run_tool("tool", 1, argv, c.body), c.status);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), c.line);
  }
}

}  // namespace
