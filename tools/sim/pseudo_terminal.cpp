#include "pseudo_terminal.hpp"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "tool_error.hpp"

namespace zelkolink_sim {
namespace {

using zelkolink_tools::kExitCannotOpen;
using zelkolink_tools::ToolError;

std::string reason() { return std::strerror(errno); }

// The symlink is replaced only when it is one; a file of the user's is
// never overwritten.
void make_link(const std::string& link, const std::string& target) {
  struct stat found {};
  if (::lstat(link.c_str(), &found) == 0) {
    if (!S_ISLNK(found.st_mode))
      throw ToolError(kExitCannotOpen, "cannot link " + link + ": a file is already there");
    ::unlink(link.c_str());
  }
  if (::symlink(target.c_str(), link.c_str()) != 0)
    throw ToolError(kExitCannotOpen, "cannot link " + link + ": " + reason());
}

}  // namespace

PseudoTerminal::PseudoTerminal(std::optional<std::string> link) {
  controller_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (controller_ < 0 || ::grantpt(controller_) != 0 || ::unlockpt(controller_) != 0) {
    const std::string why = reason();
    if (controller_ >= 0) ::close(controller_);
    throw ToolError(kExitCannotOpen, "cannot open a pseudo-terminal: " + why);
  }
  std::array<char, 128> name{};
  if (::ptsname_r(controller_, name.data(), name.size()) != 0) {
    ::close(controller_);
    throw ToolError(kExitCannotOpen, "cannot name the pseudo-terminal: " + reason());
  }
  path_ = name.data();
  // Holding the terminal end open keeps the link up while no host has it,
  // and raw settings pass every byte unchanged to a host that sets none.
  terminal_ = ::open(path_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  termios settings{};
  if (terminal_ < 0 || ::tcgetattr(terminal_, &settings) != 0) {
    const std::string why = reason();
    if (terminal_ >= 0) ::close(terminal_);
    ::close(controller_);
    throw ToolError(kExitCannotOpen, "cannot open " + path_ + ": " + why);
  }
  ::cfmakeraw(&settings);
  ::tcsetattr(terminal_, TCSANOW, &settings);
  if (link) {
    try {
      make_link(*link, path_);
    } catch (const ToolError&) {
      ::close(terminal_);
      ::close(controller_);
      throw;
    }
    link_ = std::move(link);
  }
}

PseudoTerminal::~PseudoTerminal() {
  if (link_) {
    std::array<char, 256> target{};
    const ssize_t size = ::readlink(link_->c_str(), target.data(), target.size() - 1);
    if (size > 0 && path_ == std::string(target.data(), static_cast<std::size_t>(size)))
      ::unlink(link_->c_str());
  }
  ::close(terminal_);
  ::close(controller_);
}

PseudoTerminal::Ready PseudoTerminal::wait(bool want_to_write,
                                           std::chrono::steady_clock::time_point deadline) const {
  const auto left =
      std::max(std::chrono::nanoseconds(0), deadline - std::chrono::steady_clock::now());
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(left);
  const timespec timeout{static_cast<time_t>(seconds.count()),
                         static_cast<long>((left - seconds).count())};
  pollfd waiting{controller_, static_cast<short>(POLLIN | (want_to_write ? POLLOUT : 0)), 0};
  if (::ppoll(&waiting, 1, &timeout, nullptr) <= 0) return {};
  return {(waiting.revents & POLLIN) != 0, (waiting.revents & POLLOUT) != 0};
}

// Polling the terminal end, unlike asking it how many bytes it holds, first
// moves what was just written on to where the host reads it, so a block
// written a moment ago is never taken for read.
bool PseudoTerminal::unread() const {
  pollfd waiting{terminal_, POLLIN, 0};
  return ::poll(&waiting, 1, 0) > 0 && (waiting.revents & POLLIN) != 0;
}

std::size_t PseudoTerminal::read(std::span<uint8_t> buffer) const {
  const ssize_t got = ::read(controller_, buffer.data(), buffer.size());
  return got > 0 ? static_cast<std::size_t>(got) : 0;
}

std::size_t PseudoTerminal::write(std::span<const uint8_t> bytes) const {
  const ssize_t put = ::write(controller_, bytes.data(), bytes.size());
  return put > 0 ? static_cast<std::size_t>(put) : 0;
}

}  // namespace zelkolink_sim
