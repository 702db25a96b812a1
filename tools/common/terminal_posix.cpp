// The terminal on POSIX systems: isatty and the TIOCGWINSZ size. Terminals
// there take escape sequences and UTF-8 as they are.
#include <sys/ioctl.h>
#include <unistd.h>

#include "terminal.hpp"

namespace zelkolink_tools {

bool output_is_terminal() { return ::isatty(STDOUT_FILENO) != 0; }

TerminalSize terminal_size() {
  winsize size{};
  if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) != 0 || size.ws_col == 0 || size.ws_row == 0)
    return {};
  return {size.ws_col, size.ws_row};
}

void use_binary_standard_input() {}

TerminalMode::TerminalMode() = default;
TerminalMode::~TerminalMode() = default;

}  // namespace zelkolink_tools
