// The simulator's end of the link: a pseudo-terminal whose terminal end a
// host opens as its serial port.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace zelkolink_sim {

class PseudoTerminal {
 public:
  // Opens a pseudo-terminal and, when link is given, a symlink there to its
  // terminal end (replacing a stale symlink, never another file). Throws
  // ToolError (kExitCannotOpen) naming what failed.
  explicit PseudoTerminal(std::optional<std::string> link);
  ~PseudoTerminal();  // closes both ends and removes the symlink
  PseudoTerminal(const PseudoTerminal&) = delete;
  PseudoTerminal& operator=(const PseudoTerminal&) = delete;
  PseudoTerminal(PseudoTerminal&&) = delete;
  PseudoTerminal& operator=(PseudoTerminal&&) = delete;

  // The path a host opens.
  const std::string& path() const { return path_; }

  // Waits until `deadline` at the latest (to the microsecond) for the host
  // to write bytes or, when want_to_write, for room to write. A stop signal
  // ends the wait.
  struct Ready {
    bool readable = false;
    bool writable = false;
  };
  Ready wait(bool want_to_write, std::chrono::steady_clock::time_point deadline) const;

  // True while bytes written are waiting for the host to read them.
  bool unread() const;

  // What the host wrote, at most buffer.size() bytes; 0 when nothing has come.
  std::size_t read(std::span<uint8_t> buffer) const;

  // Writes what fits now; returns how many bytes that was (0 when full).
  std::size_t write(std::span<const uint8_t> bytes) const;

 private:
  int controller_ = -1;  // the simulator's end
  int terminal_ = -1;    // held open, raw, so the link never hangs up between hosts
  std::string path_;
  std::optional<std::string> link_;
};

}  // namespace zelkolink_sim
