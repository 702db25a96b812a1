// HID input reports: the hex file source, and the loop that decodes every
// report of a source and prints its row.
#pragma once

#include <chrono>
#include <cstdint>
#include <istream>
#include <optional>
#include <ostream>
#include <string>

#include "report_source.hpp"
#include "rows.hpp"
#include "run_limits.hpp"

namespace zelkolink_dump {

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

// Reads every report of source until it ends, a limit is reached or (live
// sources) a stop signal arrives, and writes one row per decoded report to
// out, flushed at once (rows.hpp). report_id, when set, must lead each
// report and is stripped. A report that cannot be decoded gets one line on
// err and is counted; when any was, throws ToolError (bad input) saying how
// many, after every row has been written. A vanished device throws ToolError
// (vanished), with the count of bad reports on err first.
void dump_hid_reports(ReportSource& source, std::optional<uint8_t> report_id, RunLimits limits,
                      OutputFormat format, std::ostream& out, std::ostream& err);

}  // namespace zelkolink_dump
