// HID input reports: the sources they come from, how each one is decoded,
// and the rows printed for them. A hex file and a live device deliver
// reports through one interface, so both go through the same loop.
#pragma once

#include <chrono>
#include <cstdint>
#include <istream>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "hid_options.hpp"
#include "options.hpp"

namespace zelkolink_dump {

// One report as its source delivered it.
struct SourcedReport {
  std::vector<uint8_t> bytes;
  std::size_t line = 0;    // file sources: the line it was read from
  std::string unreadable;  // why the source could not read it (bad hex); bytes empty then
};

class ReportSource {
 public:
  enum class Next { report, none_yet, end };

  ReportSource() = default;
  ReportSource(const ReportSource&) = delete;
  ReportSource& operator=(const ReportSource&) = delete;
  virtual ~ReportSource() = default;

  // Waits at most wait for the next report. Returns report with report
  // filled, none_yet when nothing came in time (or a stop signal cut the
  // wait short), end when the source has no more.
  virtual Next next(SourcedReport& report, std::chrono::milliseconds wait) = 0;

  // True for a device: rows are stamped with the time since the run started.
  // False for a file: rows carry the report's line number.
  [[nodiscard]] virtual bool live() const = 0;

  // How messages name the source: the file or the device.
  [[nodiscard]] virtual const std::string& name() const = 0;
};

// Reports as hex text, one per line: two hex digits per byte, in either
// case, spaces and tabs anywhere. Blank lines and lines starting with # are
// skipped. A line that is not hex is delivered as an unreadable report.
class HexReportFile final : public ReportSource {
 public:
  // Reads from in, which must outlive this; name is used in messages.
  HexReportFile(std::istream& in, std::string name) : in_(in), name_(std::move(name)) {}

  Next next(SourcedReport& report, std::chrono::milliseconds wait) override;
  [[nodiscard]] bool live() const override { return false; }
  [[nodiscard]] const std::string& name() const override { return name_; }

 private:
  std::istream& in_;
  std::string name_;
  std::size_t line_ = 0;
};

// What ends a run besides the end of its source and a stop signal.
struct RunLimits {
  std::optional<uint64_t> rows;                       // --count
  std::optional<std::chrono::milliseconds> duration;  // --seconds
};

// Reads every report of source until it ends, a limit is reached or (live
// sources) a stop signal arrives, and writes one row per decoded report to
// out, flushed at once: a CSV header, then "time" (seconds since the run
// started, three decimals) or "line", layout, value0..value10; or one JSON
// object per report. report_id, when set, must lead each report and is
// stripped. A report that cannot be decoded gets one line on err and is
// counted; when any was, throws DumpError (bad input) saying how many, after
// every row has been written. A vanished device throws DumpError (vanished),
// with the count of bad reports on err first.
void dump_hid_reports(ReportSource& source, std::optional<uint8_t> report_id, RunLimits limits,
                      OutputFormat format, std::ostream& out, std::ostream& err);

// Runs the HID mode that options.hid chose: the device list, a hex file or
// a live device, printing to standard output.
void run_hid(const Options& options);

}  // namespace zelkolink_dump
