#include "hid_dump.hpp"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <span>
#include <string_view>

#include "input.hpp"
#include "rows.hpp"
#include "run_clock.hpp"
#include "stop_signal.hpp"
#include "tool_error.hpp"
#include "zelkolink.hpp"

namespace zelkolink_dump {
namespace {

using zelkolink_tools::input_error;

constexpr std::size_t kGameControllerReportSize = 19;
constexpr std::size_t kCompatibleReportSize = 23;
constexpr uint8_t kCompatibleStartByte = 0xFA;

// A live loop waits at most this long for a report before it looks at the
// stop flag and the clock again.
constexpr std::chrono::milliseconds kLongestWait{100};

// A decoded report: its layout's name and its values (11 for a game
// controller, 9 for a compatible device).
struct DecodedReport {
  const char* layout = "";
  std::array<uint16_t, zelkolink::game_controller_count> values{};
  std::size_t count = 0;
};

std::string hex_byte(uint8_t byte) {
  char text[8];
  std::snprintf(text, sizeof text, "%02X", unsigned{byte});
  return text;
}

// Decodes report into decoded, or returns why it cannot be decoded. The
// length picks the layout; a compatible report must also start with FA.
std::string decode_report(std::span<const uint8_t> report, std::optional<uint8_t> report_id,
                          DecodedReport& decoded) {
  const char* after_id = "";
  if (report_id) {
    if (report.empty()) return "empty report, expected report ID 0x" + hex_byte(*report_id);
    if (report[0] != *report_id) {
      return "report ID 0x" + hex_byte(report[0]) + ", expected 0x" + hex_byte(*report_id);
    }
    report = report.subspan(1);
    after_id = " after the report ID";
  }
  if (report.size() == kGameControllerReportSize) {
    GameControllerState state{};
    if (zelkolink::parse_hid_game_controller_device(state, report)) {
      const auto values = zelkolink::values(state);
      std::copy(values.begin(), values.end(), decoded.values.begin());
      decoded.layout = "game-controller";
      decoded.count = values.size();
      return {};
    }
  } else if (report.size() == kCompatibleReportSize) {
    InputValues inputs{};
    if (zelkolink::parse_hid_compatible_device(inputs, report)) {
      const auto values = zelkolink::values(inputs);
      std::copy(values.begin(), values.end(), decoded.values.begin());
      decoded.layout = "compatible";
      decoded.count = values.size();
      return {};
    }
    return "23-byte report starting " + hex_byte(report[0]) + ", expected " +
           hex_byte(kCompatibleStartByte) + " for the compatible layout";
  }
  return std::to_string(report.size()) + " bytes" + after_id +
         ", expected 19 (game controller) or 23 starting FA (compatible)";
}

std::string bad_report_count(const ReportSource& source, uint64_t bad, uint64_t reports) {
  return source.name() + ": " + std::to_string(bad) + " of " + std::to_string(reports) +
         (reports == 1 ? " report" : " reports") + " could not be decoded";
}

}  // namespace

ReportSource::Next HexReportFile::next(SourcedReport& report, std::chrono::milliseconds /*wait*/) {
  std::string text;
  while (std::getline(in_, text)) {
    ++line_;
    const std::size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos || text[first] == '#') continue;
    report.line = line_;
    report.unreadable.clear();
    if (const std::optional<HexFault> fault = decode_hex(text, report.bytes)) {
      report.unreadable = fault->column == 0
                              ? fault->what
                              : "column " + std::to_string(fault->column) + ": " + fault->what;
    }
    return Next::report;
  }
  if (in_.bad()) throw input_error("cannot read " + name_ + ": " + std::strerror(errno));
  return Next::end;
}

void dump_hid_reports(ReportSource& source, std::optional<uint8_t> report_id, RunLimits limits,
                      OutputFormat format, std::ostream& out, std::ostream& err) {
  const zelkolink_tools::RunClock clock(limits.duration);
  const char* key_name = source.live() ? "time" : "line";
  write_hid_header(out, format, key_name);
  out.flush();
  uint64_t rows = 0;
  uint64_t reports = 0;
  uint64_t bad = 0;
  SourcedReport report;
  try {
    while (!(limits.count && rows >= *limits.count) && !zelkolink_tools::stop_requested() &&
           !clock.expired()) {
      const ReportSource::Next next = source.next(report, clock.wait(kLongestWait));
      if (next == ReportSource::Next::end) break;
      if (next == ReportSource::Next::none_yet) continue;
      ++reports;
      const std::string key =
          source.live() ? format_seconds(clock.seconds()) : std::to_string(report.line);
      DecodedReport decoded;
      const std::string why = report.unreadable.empty()
                                  ? decode_report(report.bytes, report_id, decoded)
                                  : report.unreadable;
      if (!why.empty()) {
        ++bad;
        err << "zelkolink-dump: " << source.name() << ": " << key_name << ' ' << key << ": " << why
            << std::endl;
        continue;
      }
      write_hid_row(out, format, key_name, key, decoded.layout,
                    std::span(decoded.values).first(decoded.count));
      out.flush();
      if (!out) throw input_error("cannot write to standard output");
      ++rows;
    }
  } catch (const zelkolink_tools::ToolError&) {
    // The run ends on this error; the count of bad reports still goes out.
    if (bad > 0) err << "zelkolink-dump: " << bad_report_count(source, bad, reports) << std::endl;
    throw;
  }
  if (bad > 0) throw input_error(bad_report_count(source, bad, reports));
}

}  // namespace zelkolink_dump
