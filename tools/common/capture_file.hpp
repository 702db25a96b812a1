// A capture being written while a live tool runs: every read and write on
// the device's port, as a pcapng packet block with its time and direction.
// Blocks collect in memory and go to the file whole, at least once a second,
// so a killed tool loses at most the last second and leaves a file that ends
// on a block boundary.
#pragma once

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "pcapng.hpp"

namespace zelkolink_tools {

class CaptureFile {
 public:
  // Creates the file at path (replacing one that is there) and writes the
  // section header naming `application`. Blocks go out at least every
  // `write_every`; zero writes each one as it is recorded, for a reader
  // that shows them live (Wireshark on a pipe). Throws
  // ToolError(kExitCannotOpen) naming the file and the system's reason.
  CaptureFile(std::string path, std::string_view application,
              std::chrono::milliseconds write_every = std::chrono::seconds(1));
  ~CaptureFile();  // writes what is left, quietly; close() is the checked way
  CaptureFile(const CaptureFile&) = delete;
  CaptureFile& operator=(const CaptureFile&) = delete;
  CaptureFile(CaptureFile&&) = delete;
  CaptureFile& operator=(CaptureFile&&) = delete;

  // Describes a port ("/dev/ttyUSB0", "115200 8N1") and returns its
  // interface number for record().
  uint32_t add_port(std::string_view name, std::string_view description);

  // Records bytes that one read returned or one write took, stamped now, and
  // writes the collected blocks out when `write_every` has passed since the
  // last time. One thread records. Never throws: when the file cannot be written
  // (a full disk), the failure is kept for check() and close(), and later
  // blocks are dropped, so that a tool's way out (its stop frame) is never
  // disturbed by its capture.
  void record(uint32_t port, pcapng::Direction direction, std::span<const uint8_t> bytes);

  // Writes the collected blocks out if `write_every` has passed, for a loop that
  // went a while without recording. Never throws, as record().
  void flush_if_due();

  // Throws ToolError(kExitBadInput), naming the file and the system's
  // reason, when writing has failed; once only.
  void check();

  // Writes everything out, closes the file and then checks. Safe to call
  // again.
  void close();

  [[nodiscard]] const std::string& path() const { return path_; }

  // True when writing failed because the file is a pipe whose reader went
  // away (Wireshark ending a live capture).
  [[nodiscard]] bool reader_gone() const { return failure_errno_ == EPIPE; }

 private:
  void write_out();
  void fail(int error);

  struct Closer {
    void operator()(std::FILE* file) const { std::fclose(file); }
  };
  std::string path_;
  std::unique_ptr<std::FILE, Closer> file_;
  std::vector<uint8_t> pending_;
  uint32_t ports_ = 0;
  std::optional<std::string> failure_;  // why writing failed
  int failure_errno_ = 0;
  bool reported_ = false;
  // Timestamps: the wall clock read once at the start, moved on by the
  // monotonic clock, so they never step back within a capture.
  std::chrono::system_clock::time_point wall_start_;
  std::chrono::steady_clock::time_point start_;
  std::chrono::steady_clock::time_point last_write_;
  std::chrono::milliseconds write_every_;
};

}  // namespace zelkolink_tools
