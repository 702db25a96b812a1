// Windows serial ports through the communications API: an unshared handle
// from CreateFile (a second opener gets access denied), the line set with
// SetCommState, and read timeouts with SetCommTimeouts, so ReadFile returns
// as soon as bytes arrive or when the wait is over.
#include <windows.h>

#include <string>

#include "serial_port.hpp"
#include "tool_error.hpp"

namespace zelkolink_tools {

struct SerialPort::System {
  HANDLE handle = INVALID_HANDLE_VALUE;
  DCB saved_state{};  // the settings found at open, put back at close
  COMMTIMEOUTS saved_timeouts{};
  DWORD read_timeout_ms = 0;  // the read timeout now set, so it is set only when it changes
};

namespace {

constexpr DWORD kWriteStallMs = 2000;
constexpr DWORD kDefaultReadTimeoutMs = 100;

// The system's message for an error code, on one line.
std::string reason(DWORD code) {
  char text[256] = {};
  const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                      nullptr, code, 0, text, sizeof text, nullptr);
  std::string message(text, length);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                              message.back() == ' ' || message.back() == '.')) {
    message.pop_back();
  }
  if (message.empty()) message = "error " + std::to_string(code);
  return message;
}

// COM10 and above open only through the device namespace; the prefix works
// for every number, so it is always added unless the user gave a full path.
std::string device_path(const std::string& name) {
  if (name.rfind("\\\\", 0) == 0) return name;
  return "\\\\.\\" + name;
}

// MAXDWORD, MAXDWORD, T: ReadFile returns at once with whatever has arrived,
// or waits up to T ms for the first byte. A write that makes no progress for
// kWriteStallMs fails.
bool set_timeouts(HANDLE handle, DWORD read_timeout_ms) {
  COMMTIMEOUTS timeouts{};
  timeouts.ReadIntervalTimeout = MAXDWORD;
  timeouts.ReadTotalTimeoutMultiplier = MAXDWORD;
  timeouts.ReadTotalTimeoutConstant = read_timeout_ms;
  timeouts.WriteTotalTimeoutConstant = kWriteStallMs;
  return SetCommTimeouts(handle, &timeouts) != FALSE;
}

ToolError vanished(const std::string& name, const std::string& why) {
  return ToolError(kExitVanished, name + ": device disconnected (" + why + ")");
}

void set_line(DCB& state, const LineSettings& line) {
  state.BaudRate = line.baud;
  state.ByteSize = 8;
  state.Parity = line.parity == Parity::even ? EVENPARITY : NOPARITY;
  state.StopBits = line.stop_bits == 2 ? TWOSTOPBITS : ONESTOPBIT;
  state.fBinary = TRUE;
  state.fParity = line.parity == Parity::even ? TRUE : FALSE;
  state.fOutxCtsFlow = FALSE;
  state.fOutxDsrFlow = FALSE;
  state.fDtrControl = DTR_CONTROL_ENABLE;
  state.fDsrSensitivity = FALSE;
  state.fOutX = FALSE;
  state.fInX = FALSE;
  state.fErrorChar = FALSE;
  state.fNull = FALSE;
  state.fRtsControl = RTS_CONTROL_ENABLE;
  state.fAbortOnError = FALSE;
}

}  // namespace

SerialPort::SerialPort(const std::string& name, const LineSettings& line)
    : system_(std::make_unique<System>()), name_(name) {
  const HANDLE handle = CreateFileA(device_path(name).c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                    nullptr, OPEN_EXISTING, 0, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD code = GetLastError();
    if (code == ERROR_ACCESS_DENIED || code == ERROR_SHARING_VIOLATION) {
      throw ToolError(kExitBusy, "cannot open " + name + ": port is in use by another program");
    }
    throw ToolError(kExitCannotOpen, "cannot open " + name + ": " + reason(code));
  }
  system_->handle = handle;
  auto fail = [&](const std::string& what) {
    const ToolError error(kExitCannotOpen, what + ": " + reason(GetLastError()));
    CloseHandle(handle);
    system_->handle = INVALID_HANDLE_VALUE;
    return error;
  };
  system_->saved_state.DCBlength = sizeof(DCB);
  if (!GetCommState(handle, &system_->saved_state) ||
      !GetCommTimeouts(handle, &system_->saved_timeouts)) {
    throw fail("cannot open " + name + ": not a serial port");
  }
  DCB state = system_->saved_state;
  set_line(state, line);
  if (!SetCommState(handle, &state)) {
    throw fail("cannot set " + name + " to " + std::to_string(line.baud) + " baud");
  }
  if (!set_timeouts(handle, kDefaultReadTimeoutMs)) throw fail("cannot set timeouts of " + name);
  system_->read_timeout_ms = kDefaultReadTimeoutMs;
  // Bytes that arrived before the port was ours belong to nobody.
  PurgeComm(handle, PURGE_RXCLEAR);
}

SerialPort::~SerialPort() { close(); }

std::size_t SerialPort::read(std::span<uint8_t> buffer, std::chrono::milliseconds timeout) {
  // These timeouts wait only with a constant of at least 1 ms.
  const DWORD timeout_ms = timeout.count() > 0 ? static_cast<DWORD>(timeout.count()) : 1;
  if (timeout_ms != system_->read_timeout_ms) {
    if (!set_timeouts(system_->handle, timeout_ms)) throw vanished(name_, reason(GetLastError()));
    system_->read_timeout_ms = timeout_ms;
  }
  DWORD got = 0;
  const auto wanted = static_cast<DWORD>(buffer.size());
  if (!ReadFile(system_->handle, buffer.data(), wanted, &got, nullptr)) {
    throw vanished(name_, reason(GetLastError()));
  }
  return got;
}

void SerialPort::write(std::span<const uint8_t> bytes) {
  while (!bytes.empty()) {
    DWORD put = 0;
    if (!WriteFile(system_->handle, bytes.data(), static_cast<DWORD>(bytes.size()), &put,
                   nullptr)) {
      throw vanished(name_, reason(GetLastError()));
    }
    if (put == 0) throw vanished(name_, "no byte could be sent for 2 s");
    bytes = bytes.subspan(put);
  }
}

bool SerialPort::drain(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    DWORD errors = 0;
    COMSTAT status{};
    if (!ClearCommError(system_->handle, &errors, &status)) return false;
    if (status.cbOutQue == 0) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    Sleep(1);
  }
}

uint32_t SerialPort::baud() const {
  DCB state{};
  state.DCBlength = sizeof(DCB);
  if (!GetCommState(system_->handle, &state)) return 0;
  return state.BaudRate;
}

void SerialPort::close() noexcept {
  if (!system_ || system_->handle == INVALID_HANDLE_VALUE) return;
  SetCommState(system_->handle, &system_->saved_state);
  SetCommTimeouts(system_->handle, &system_->saved_timeouts);
  CloseHandle(system_->handle);
  system_->handle = INVALID_HANDLE_VALUE;
}

}  // namespace zelkolink_tools
