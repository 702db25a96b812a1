// Linux serial ports through termios2, which takes any rate (BOTHER), so the
// SBUS rate of 100000 needs no special case. Only the kernel's own headers
// declare termios2, and they clash with the C library's <termios.h>, so this
// file uses the ioctls directly and never includes <termios.h>.
#include <asm/termbits.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>

#include "serial_port.hpp"
#include "tool_error.hpp"

namespace zelkolink_tools {

struct SerialPort::System {
  int fd = -1;
  termios2 saved{};  // the settings found at open, put back at close
};

namespace {

constexpr int kWriteStallMs = 2000;

std::string reason() { return std::strerror(errno); }

ToolError vanished(const std::string& name, const std::string& why) {
  return {kExitVanished, name + ": device disconnected (" + why + ")"};
}

// Raw line: 8 data bits, the receiver on, modem lines ignored, no flow
// control, no translation, echo or signal characters; reads return what has
// arrived (poll() does the waiting).
termios2 raw_settings(termios2 settings, const LineSettings& line) {
  settings.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR |
                                             ICRNL | IXON | IXOFF | IXANY | INPCK);
  settings.c_oflag &= ~static_cast<tcflag_t>(OPOST);
  settings.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
  settings.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS | CBAUD |
                                             (CBAUD << IBSHIFT));
  settings.c_cflag |= CS8 | CLOCAL | CREAD | BOTHER | (BOTHER << IBSHIFT);
  if (line.parity == Parity::even) settings.c_cflag |= PARENB;
  if (line.stop_bits == 2) settings.c_cflag |= CSTOPB;
  settings.c_ispeed = line.baud;
  settings.c_ospeed = line.baud;
  settings.c_cc[VMIN] = 0;
  settings.c_cc[VTIME] = 0;
  return settings;
}

}  // namespace

SerialPort::SerialPort(const std::string& name, const LineSettings& line)
    : system_(std::make_unique<System>()), name_(name) {
  const int fd = ::open(name.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    if (errno == EBUSY) throw ToolError(kExitBusy, "cannot open " + name + ": port is in use");
    throw ToolError(kExitCannotOpen, "cannot open " + name + ": " + reason());
  }
  system_->fd = fd;
  // Everything below closes the descriptor on failure: the port is
  // untouched until its settings are saved.
  auto fail = [&](int status, const std::string& message) {
    ToolError error(status, message);
    ::close(fd);
    system_->fd = -1;
    return error;
  };
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    if (errno == EWOULDBLOCK) {
      throw fail(kExitBusy, "cannot open " + name + ": port is in use by another process");
    }
    throw fail(kExitCannotOpen, "cannot lock " + name + ": " + reason());
  }
  if (::ioctl(fd, TCGETS2, &system_->saved) != 0) {
    throw fail(kExitCannotOpen, "cannot open " + name + ": not a serial port (" + reason() + ")");
  }
  const termios2 wanted = raw_settings(system_->saved, line);
  if (::ioctl(fd, TCSETS2, &wanted) != 0) {
    throw fail(kExitCannotOpen,
               "cannot set " + name + " to " + std::to_string(line.baud) + " baud: " + reason());
  }
  // Other programs (other than root's) cannot open it while we hold it.
  ::ioctl(fd, TIOCEXCL);
  // Bytes that arrived before the port was ours belong to nobody.
  ::ioctl(fd, TCFLSH, TCIFLUSH);
}

SerialPort::~SerialPort() { close(); }

std::size_t SerialPort::read(std::span<uint8_t> buffer, std::chrono::milliseconds timeout) {
  pollfd waiting{system_->fd, POLLIN, 0};
  const int ready = ::poll(&waiting, 1, static_cast<int>(timeout.count()));
  if (ready < 0) {
    if (errno == EINTR) return 0;
    throw vanished(name_, reason());
  }
  if (ready == 0) return 0;
  // Read even when only a hang-up is flagged: bytes still queued come first,
  // and the read that finds none reports the end.
  const ssize_t got = ::read(system_->fd, buffer.data(), buffer.size());
  if (got > 0) return static_cast<std::size_t>(got);
  if (got < 0 && (errno == EAGAIN || errno == EINTR)) return 0;
  throw vanished(name_, got == 0 ? std::string("hang-up") : reason());
}

void SerialPort::write(std::span<const uint8_t> bytes) {
  while (!bytes.empty()) {
    const ssize_t put = ::write(system_->fd, bytes.data(), bytes.size());
    if (put > 0) {
      bytes = bytes.subspan(static_cast<std::size_t>(put));
      continue;
    }
    if (put < 0 && errno == EINTR) continue;
    if (put < 0 && errno != EAGAIN) throw vanished(name_, reason());
    pollfd waiting{system_->fd, POLLOUT, 0};
    const int ready = ::poll(&waiting, 1, kWriteStallMs);
    if (ready == 0) throw vanished(name_, "no byte could be sent for 2 s");
    if (ready < 0 && errno != EINTR) throw vanished(name_, reason());
    if (waiting.revents & (POLLHUP | POLLERR)) throw vanished(name_, "hang-up");
  }
}

bool SerialPort::drain(std::chrono::milliseconds timeout) {
  // TIOCOUTQ instead of tcdrain(): a drain must not hang the exit path when
  // the other end stopped reading.
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    int queued = 0;
    if (::ioctl(system_->fd, TIOCOUTQ, &queued) != 0) return false;
    if (queued == 0) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

uint32_t SerialPort::baud() const {
  termios2 settings{};
  if (::ioctl(system_->fd, TCGETS2, &settings) != 0) return 0;
  return settings.c_ospeed;
}

void SerialPort::close() noexcept {
  if (!system_ || system_->fd < 0) return;
  ::ioctl(system_->fd, TIOCNXCL);
  ::ioctl(system_->fd, TCSETS2, &system_->saved);
  ::close(system_->fd);  // also releases the lock
  system_->fd = -1;
}

}  // namespace zelkolink_tools
