// The device's port link as every live tool runs it: open the port, empty
// the library's parser, send the upload request, read; after a loss, the
// same again on the next open; at the end, the stop frame. With a capture,
// every read and every write is recorded as it happens, the tool's own
// request and stop frames included.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "capture_file.hpp"
#include "serial_port.hpp"
#include "tool_error.hpp"

namespace zelkolink_tools {

struct PortLinkSettings {
  std::string port;                            // as users name it: /dev/ttyUSB0, COM3
  uint32_t baud = kPortLinkLine.baud;          // 8N1 at this rate
  std::array<uint8_t, 2> request{0x01, 0x00};  // the upload request's payload
};

// "115200 8N1": how a capture describes the line.
std::string line_text(const LineSettings& line);

class PortLink {
 public:
  // Opens nothing yet. With a capture, the port is described in it now; the
  // capture must outlive the link.
  PortLink(PortLinkSettings settings, CaptureFile* capture);
  ~PortLink();  // stop()
  PortLink(const PortLink&) = delete;
  PortLink& operator=(const PortLink&) = delete;
  PortLink(PortLink&&) = delete;
  PortLink& operator=(PortLink&&) = delete;

  // Opens the port, empties the parser (a new connection's bytes must never
  // join what an old one left pending) and sends the upload request. Throws
  // ToolError naming the port: kExitCannotOpen, kExitBusy, or kExitVanished
  // when the request cannot be written; the port is closed again then.
  void open();

  [[nodiscard]] bool is_open() const { return port_ != nullptr; }

  // Waits at most `wait` for bytes and returns how many were read, 0 when
  // none came. Throws ToolError(kExitVanished) when the port goes away, after
  // closing it, so open() may be tried again. A capture that could not be
  // written throws its ToolError (kExitBadInput) on the read after the
  // failure, once the bytes of the failing read have been handed back: what
  // was read is never lost.
  std::size_t read(std::span<uint8_t> buffer, std::chrono::milliseconds wait);

  // Sends the stop frame, gives it time to leave and closes the port. A
  // device already gone cannot take it, and that is no error on the way out.
  void stop() noexcept;

  [[nodiscard]] const PortLinkSettings& settings() const { return settings_; }

 private:
  void write(std::span<const uint8_t> bytes);
  void drop() noexcept;

  PortLinkSettings settings_;
  LineSettings line_;
  CaptureFile* capture_;
  uint32_t capture_port_ = 0;
  std::unique_ptr<SerialPort> port_;
};

}  // namespace zelkolink_tools
