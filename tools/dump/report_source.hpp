// Where HID input reports come from: a hex file or a live device deliver
// them through this one interface, so both go through the same loop.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

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

}  // namespace zelkolink_dump
