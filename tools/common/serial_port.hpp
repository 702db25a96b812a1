// A serial port for the live tools: opened for this process alone, set to
// raw 8-bit line settings, read with a timeout, written in full, and put back
// the way it was found when closed. One small implementation per platform
// (serial_port_linux.cpp, serial_port_windows.cpp) sits behind this one
// interface; everything above it is shared.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace zelkolink_tools {

enum class Parity { none, even };

// Line settings. The line is always raw: 8 data bits, no flow control, no
// byte translated, echoed or taken as a control character.
struct LineSettings {
  uint32_t baud;
  Parity parity;
  int stop_bits;  // 1 or 2
};

// The device's port link: 8N1, 115200 baud unless the user says otherwise.
inline constexpr LineSettings kPortLinkLine{115200, Parity::none, 1};
// SBUS: 100000 baud, 8 data bits, even parity, 2 stop bits. 100000 is not a
// standard rate; both implementations set it as an arbitrary rate.
inline constexpr LineSettings kSbusLine{100000, Parity::even, 2};

class SerialPort {
 public:
  // Opens the port as users name it: a path such as /dev/ttyUSB0 on Linux;
  // COM3 (or \\.\COM12) on Windows. Takes it for this process alone (an
  // exclusive lock on Linux, an unshared handle on Windows), saves its
  // settings and applies `line`. Throws ToolError naming the port:
  // kExitBusy when another process holds it, kExitCannotOpen for every other
  // failure, with the system's reason.
  SerialPort(const std::string& name, const LineSettings& line);
  ~SerialPort();
  SerialPort(const SerialPort&) = delete;
  SerialPort& operator=(const SerialPort&) = delete;
  SerialPort(SerialPort&&) = delete;
  SerialPort& operator=(SerialPort&&) = delete;

  // The name the port was opened with, for messages.
  const std::string& name() const { return name_; }

  // Waits at most `timeout` for bytes, then reads what has arrived, at most
  // buffer.size() bytes. Returns how many: 0 when nothing came in time or a
  // stop signal cut the wait short. Bytes that arrived before a hang-up are
  // returned first; the call after them throws ToolError(kExitVanished), as
  // does any read error.
  std::size_t read(std::span<uint8_t> buffer, std::chrono::milliseconds timeout);

  // Writes every byte, waiting for room as needed. Throws
  // ToolError(kExitVanished) when the port fails or takes no byte for two
  // seconds.
  void write(std::span<const uint8_t> bytes);

  // Waits until everything written has left the port, at most `timeout`.
  // Returns whether it all did.
  bool drain(std::chrono::milliseconds timeout);

  // The output rate now in effect, as the system reports it.
  uint32_t baud() const;

  // Restores the settings found at open, releases the port and closes it.
  // Never throws (a vanished device cannot be restored, and that is not an
  // error then); safe to call more than once. The destructor calls it.
  void close() noexcept;

 private:
  struct System;  // the platform's handle and the settings saved at open
  std::unique_ptr<System> system_;
  std::string name_;
};

}  // namespace zelkolink_tools
