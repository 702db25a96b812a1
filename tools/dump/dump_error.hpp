// The one way zelkolink-dump fails: a message for standard error and the
// exit status that goes with it. main() catches it; nothing else is thrown
// on purpose.
#pragma once

#include <stdexcept>
#include <string>

namespace zelkolink_dump {

// Exit statuses, as --help lists them.
inline constexpr int kExitBadInput = 1;  // unreadable file, bad hex, bad SBUS values
inline constexpr int kExitBadUsage = 2;  // unknown option, bad option value

class DumpError : public std::runtime_error {
 public:
  DumpError(int exit_status, const std::string& message)
      : std::runtime_error(message), exit_status_(exit_status) {}
  int exit_status() const { return exit_status_; }

 private:
  int exit_status_;
};

inline DumpError usage_error(const std::string& message) {
  return DumpError(kExitBadUsage, message + " (see --help)");
}

inline DumpError input_error(const std::string& message) {
  return DumpError(kExitBadInput, message);
}

}  // namespace zelkolink_dump
