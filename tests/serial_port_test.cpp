// The tools' serial port on Linux, against pseudo-terminals: real kernel
// ttys with termios2 and hang-up, so every path but the wire is the real one.
#include "serial_port.hpp"

#include <asm/termbits.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <numeric>
#include <optional>
#include <string>
#include <vector>

#include "reconnect.hpp"
#include "tool_error.hpp"

namespace {

using zelkolink_tools::SerialPort;
using zelkolink_tools::ToolError;
using namespace std::chrono_literals;

// A pseudo-terminal pair; the tool opens the terminal end by its path, the
// test plays the device on the controlling end.
class Pty {
 public:
  Pty() {
    controller_ = posix_openpt(O_RDWR | O_NOCTTY);
    EXPECT_GE(controller_, 0);
    EXPECT_EQ(grantpt(controller_), 0);
    EXPECT_EQ(unlockpt(controller_), 0);
    path_ = ptsname(controller_);
    // Held open so the settings outlive the tool's descriptor, as a real
    // device's do.
    terminal_ = open(path_.c_str(), O_RDWR | O_NOCTTY);
    EXPECT_GE(terminal_, 0);
  }
  ~Pty() {
    if (controller_ >= 0) close(controller_);
    close(terminal_);
  }
  Pty(const Pty&) = delete;
  Pty& operator=(const Pty&) = delete;

  const std::string& path() const { return path_; }
  int controller() const { return controller_; }
  void hang_up() {
    close(controller_);
    controller_ = -1;
  }
  termios2 settings() const {
    termios2 settings{};
    EXPECT_EQ(ioctl(terminal_, TCGETS2, &settings), 0);
    return settings;
  }
  void set(const termios2& settings) const { EXPECT_EQ(ioctl(terminal_, TCSETS2, &settings), 0); }

  // Everything the controller end receives within the time given.
  std::vector<uint8_t> received(std::size_t count) const {
    std::vector<uint8_t> bytes;
    const auto deadline = std::chrono::steady_clock::now() + 2s;
    while (bytes.size() < count && std::chrono::steady_clock::now() < deadline) {
      uint8_t block[512];
      const ssize_t got = read(controller_, block, sizeof block);
      if (got > 0) bytes.insert(bytes.end(), block, block + got);
    }
    return bytes;
  }

 private:
  int controller_ = -1;
  int terminal_ = -1;
  std::string path_;
};

int exit_status_of_open(const std::string& path, std::string* message = nullptr) {
  try {
    SerialPort port(path, zelkolink_tools::kPortLinkLine);
  } catch (const ToolError& error) {
    if (message) *message = error.what();
    return error.exit_status();
  }
  return 0;
}

std::vector<uint8_t> all_byte_values() {
  std::vector<uint8_t> bytes(256);
  std::iota(bytes.begin(), bytes.end(), uint8_t{0});
  return bytes;
}

TEST(SerialPort, AppliesTheLineAndRestoresWhatItFound) {
  Pty pty;
  termios2 cooked = pty.settings();
  cooked.c_lflag |= ICANON | ECHO | ISIG;
  cooked.c_iflag |= ICRNL | IXON;
  cooked.c_cflag = (cooked.c_cflag & ~static_cast<tcflag_t>(CBAUD)) | BOTHER;
  cooked.c_ispeed = cooked.c_ospeed = 9600;
  pty.set(cooked);
  const termios2 before = pty.settings();

  struct Case {
    zelkolink_tools::LineSettings line;
    bool two_stop_bits;
  };
  for (const Case& c : {Case{zelkolink_tools::kPortLinkLine, false},
                        Case{{921600, zelkolink_tools::Parity::none, 1}, false},
                        Case{zelkolink_tools::kSbusLine, true}}) {
    SCOPED_TRACE(c.line.baud);
    {
      SerialPort port(pty.path(), c.line);
      const termios2 now = pty.settings();
      EXPECT_EQ(port.baud(), c.line.baud);
      EXPECT_EQ(now.c_ospeed, c.line.baud);
      EXPECT_EQ(now.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
      EXPECT_EQ((now.c_cflag & CSTOPB) != 0, c.two_stop_bits);
      // A pseudo-terminal keeps the rate and the stop bits but drops PARENB,
      // so parity can only be checked on a real port.
      EXPECT_EQ(now.c_lflag & (ICANON | ECHO | ISIG), 0u);
      EXPECT_EQ(now.c_iflag & (ICRNL | IXON), 0u);
      EXPECT_EQ(now.c_oflag & OPOST, 0u);
    }
    const termios2 after = pty.settings();
    EXPECT_EQ(after.c_cflag, before.c_cflag);
    EXPECT_EQ(after.c_lflag, before.c_lflag);
    EXPECT_EQ(after.c_iflag, before.c_iflag);
    EXPECT_EQ(after.c_ospeed, 9600u);
  }
}

TEST(SerialPort, MovesEveryByteValueUntranslatedBothWays) {
  Pty pty;
  SerialPort port(pty.path(), zelkolink_tools::kPortLinkLine);
  const std::vector<uint8_t> bytes = all_byte_values();

  ASSERT_EQ(write(pty.controller(), bytes.data(), bytes.size()), 256);
  std::vector<uint8_t> got;
  for (int tries = 0; tries < 50 && got.size() < bytes.size(); ++tries) {
    uint8_t block[100];  // smaller than the data: reads stop at the buffer
    const std::size_t n = port.read(block, 100ms);
    EXPECT_LE(n, sizeof block);
    got.insert(got.end(), block, block + n);
  }
  EXPECT_EQ(got, bytes);

  port.write(bytes);
  EXPECT_TRUE(port.drain(1s));
  EXPECT_EQ(pty.received(bytes.size()), bytes);
}

TEST(SerialPort, ReadWaitsNoLongerThanAsked) {
  Pty pty;
  SerialPort port(pty.path(), zelkolink_tools::kPortLinkLine);
  uint8_t block[16];
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(port.read(block, 50ms), 0u);
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_GE(waited, 40ms);
  EXPECT_LT(waited, 2s);
}

TEST(SerialPort, SecondOpenIsRefusedUntilTheFirstCloses) {
  Pty pty;
  std::string message;
  {
    SerialPort first(pty.path(), zelkolink_tools::kPortLinkLine);
    EXPECT_EQ(exit_status_of_open(pty.path(), &message), zelkolink_tools::kExitBusy);
    EXPECT_NE(message.find(pty.path()), std::string::npos) << message;
    EXPECT_NE(message.find("in use"), std::string::npos) << message;
  }
  EXPECT_EQ(exit_status_of_open(pty.path()), zelkolink_tools::kExitOk);
}

TEST(SerialPort, OpenFailuresNameThePortAndTheReason) {
  char file_path[] = "/tmp/serial_port_test_XXXXXX";
  const int file = mkstemp(file_path);
  ASSERT_GE(file, 0);
  close(file);
  struct Case {
    std::string path;
    const char* reason;
  };
  for (const Case& c : {Case{"/nonexistent/ttyUSB9", "No such file or directory"},
                        Case{file_path, "not a serial port"}}) {
    std::string message;
    EXPECT_EQ(exit_status_of_open(c.path, &message), zelkolink_tools::kExitCannotOpen);
    EXPECT_NE(message.find(c.path), std::string::npos) << message;
    EXPECT_NE(message.find(c.reason), std::string::npos) << message;
  }
  unlink(file_path);
}

TEST(SerialPort, HangUpDeliversQueuedBytesThenReportsTheDeviceGone) {
  Pty pty;
  SerialPort port(pty.path(), zelkolink_tools::kPortLinkLine);
  const uint8_t last_words[] = {1, 2, 3, 4, 5};
  ASSERT_EQ(write(pty.controller(), last_words, sizeof last_words), 5);
  std::vector<uint8_t> got;
  uint8_t block[64];
  for (int tries = 0; tries < 20 && got.size() < sizeof last_words; ++tries) {
    const std::size_t n = port.read(block, 100ms);
    got.insert(got.end(), block, block + n);
  }
  pty.hang_up();
  EXPECT_EQ(got, std::vector<uint8_t>(std::begin(last_words), std::end(last_words)));

  std::optional<int> status;
  try {
    for (int tries = 0; tries < 20; ++tries) port.read(block, 100ms);
  } catch (const ToolError& error) {
    status = error.exit_status();
    EXPECT_NE(std::string(error.what()).find("disconnected"), std::string::npos) << error.what();
  }
  EXPECT_EQ(status, zelkolink_tools::kExitVanished);
  const uint8_t more[] = {6};
  EXPECT_THROW(port.write(more), ToolError);
}

// A port that went away is tried again every 500 ms from the loss, and the
// time it was gone counts from the loss, not from the last failed attempt.
TEST(Reconnect, TriesEveryHalfSecondAndCountsFromTheLoss) {
  zelkolink_tools::Reconnect reconnect;
  EXPECT_TRUE(reconnect.due(0ms));
  reconnect.lost(1000ms);
  EXPECT_FALSE(reconnect.due(1499ms));
  EXPECT_TRUE(reconnect.due(1500ms));
  reconnect.failed(1600ms);
  EXPECT_FALSE(reconnect.due(2099ms));
  EXPECT_TRUE(reconnect.due(2100ms));
  EXPECT_EQ(reconnect.back_after(2500ms), "1.5 s");
}

}  // namespace
