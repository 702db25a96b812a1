// How the ZelkoLink tools fail: one line for standard error and the exit
// status that goes with it. Each tool's main() catches ToolError; nothing else
// is thrown on purpose. The statuses are shared by every tool, so a script
// driving several of them reads one table.
#pragma once

#include <stdexcept>
#include <string>

namespace zelkolink_tools {

// Exit statuses, as each tool's --help lists them.
inline constexpr int kExitOk = 0;          // done, or ended as asked (count, time, Ctrl-C, ...)
inline constexpr int kExitBadInput = 1;    // unreadable file, bad hex, bad values
inline constexpr int kExitBadUsage = 2;    // unknown option, bad option value
inline constexpr int kExitCannotOpen = 3;  // port or device cannot be opened or set up
inline constexpr int kExitBusy = 4;        // port already held by another process
inline constexpr int kExitVanished = 5;    // port or device went away mid-run

class ToolError : public std::runtime_error {
 public:
  ToolError(int exit_status, const std::string& message)
      : std::runtime_error(message), exit_status_(exit_status) {}
  int exit_status() const { return exit_status_; }

 private:
  int exit_status_;
};

inline ToolError usage_error(const std::string& message) {
  return ToolError(kExitBadUsage, message + " (see --help)");
}

inline ToolError input_error(const std::string& message) {
  return ToolError(kExitBadInput, message);
}

}  // namespace zelkolink_tools
