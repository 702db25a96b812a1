#include "hid_dump.hpp"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <span>
#include <string_view>

#include "dump_error.hpp"
#include "hid_live.hpp"
#include "input.hpp"
#include "rows.hpp"
#include "stop_signal.hpp"
#include "zelkolink.hpp"

namespace zelkolink_dump {
namespace {

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

// Two hex digits per byte, spaces and tabs anywhere. Returns why the line is
// not hex, or empty when bytes holds its bytes.
std::string parse_hex_line(std::string_view text, std::vector<uint8_t>& bytes) {
  bytes.clear();
  std::size_t digits = 0;
  for (std::size_t column = 0; column < text.size(); ++column) {
    const auto c = static_cast<uint8_t>(text[column]);
    if (c == ' ' || c == '\t' || c == '\r') continue;
    const std::optional<uint8_t> value = hex_digit_value(c);
    if (!value) {
      bytes.clear();
      return describe_character(c) + " at column " + std::to_string(column + 1) +
             " is not a hex digit";
    }
    if (digits % 2 == 0) {
      bytes.push_back(static_cast<uint8_t>(*value << 4));
    } else {
      bytes.back() = static_cast<uint8_t>(bytes.back() | *value);
    }
    ++digits;
  }
  if (digits % 2 == 0) return {};
  bytes.clear();
  return "odd number of hex digits (" + std::to_string(digits) + "), the last byte is incomplete";
}

void write_csv_header(std::ostream& out, const char* key_name) {
  out << key_name << ",layout";
  for (std::size_t k = 0; k < zelkolink::game_controller_count; ++k) out << ",value" << k;
  out << '\n';
}

// CSV rows all have eleven value columns; a compatible report leaves the
// last two empty.
void write_row(std::ostream& out, OutputFormat format, const char* key_name, const std::string& key,
               const DecodedReport& report) {
  const std::span<const uint16_t> values(report.values.data(), report.count);
  if (format == OutputFormat::csv) {
    out << key << ',' << report.layout;
    for (const uint16_t value : values) out << ',' << value;
    for (std::size_t k = report.count; k < report.values.size(); ++k) out << ',';
  } else {
    out << R"({")" << key_name << R"(":)" << key << R"(,"layout":")" << report.layout
        << R"(","values":[)";
    for (std::size_t k = 0; k < values.size(); ++k) out << (k == 0 ? "" : ",") << values[k];
    out << "]}";
  }
  out << '\n';
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
    report.unreadable = parse_hex_line(text, report.bytes);
    return Next::report;
  }
  if (in_.bad()) throw input_error("cannot read " + name_ + ": " + std::strerror(errno));
  return Next::end;
}

void dump_hid_reports(ReportSource& source, std::optional<uint8_t> report_id, RunLimits limits,
                      OutputFormat format, std::ostream& out, std::ostream& err) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point start = Clock::now();
  const char* key_name = source.live() ? "time" : "line";
  if (format == OutputFormat::csv) write_csv_header(out, key_name);
  out.flush();
  uint64_t rows = 0;
  uint64_t reports = 0;
  uint64_t bad = 0;
  SourcedReport report;
  try {
    while (!(limits.rows && rows >= *limits.rows) && !zelkolink_tools::stop_requested()) {
      std::chrono::milliseconds wait = kLongestWait;
      if (limits.duration) {
        const auto elapsed =
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
        if (elapsed >= *limits.duration) break;
        wait = std::min(wait, *limits.duration - elapsed);
      }
      const ReportSource::Next next = source.next(report, wait);
      if (next == ReportSource::Next::end) break;
      if (next == ReportSource::Next::none_yet) continue;
      ++reports;
      const std::string key =
          source.live()
              ? format_seconds(std::chrono::duration<double>(Clock::now() - start).count())
              : std::to_string(report.line);
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
      write_row(out, format, key_name, key, decoded);
      out.flush();
      if (!out) throw input_error("cannot write to standard output");
      ++rows;
    }
  } catch (const DumpError&) {
    // The run ends on this error; the count of bad reports still goes out.
    if (bad > 0) err << "zelkolink-dump: " << bad_report_count(source, bad, reports) << std::endl;
    throw;
  }
  if (bad > 0) throw input_error(bad_report_count(source, bad, reports));
}

void run_hid(const Options& options) {
  const HidOptions& hid = options.hid;
  const RunLimits limits{hid.count, hid.duration};
  switch (hid.source) {
    case HidSource::list:
      write_hid_device_list(std::cout, std::cerr);
      return;
    case HidSource::file:
      if (hid.path == kStandardInput) {
        HexReportFile file(std::cin, display_name(hid.path));
        dump_hid_reports(file, hid.report_id, limits, options.format, std::cout, std::cerr);
      } else {
        std::ifstream in(hid.path);
        if (!in) throw input_error("cannot open " + hid.path + ": " + std::strerror(errno));
        // A directory opens but cannot be read: say so before any output.
        in.peek();
        if (in.bad()) throw input_error("cannot read " + hid.path + ": " + std::strerror(errno));
        HexReportFile file(in, hid.path);
        dump_hid_reports(file, hid.report_id, limits, options.format, std::cout, std::cerr);
      }
      return;
    case HidSource::device_id:
    case HidSource::device_path: {
      zelkolink_tools::install_stop_handlers();
      const std::unique_ptr<ReportSource> device = open_hid_device(hid);
      dump_hid_reports(*device, hid.report_id, limits, options.format, std::cout, std::cerr);
      return;
    }
    case HidSource::none:
      return;
  }
}

}  // namespace zelkolink_dump
