// The standard streams as a terminal: whether standard output is one, its
// size, the console mode a full-screen view needs, and standard input in
// binary mode for piped captures. One implementation per
// platform (terminal_posix.cpp, terminal_windows.cpp) sits behind this one
// interface.
#pragma once

#include <cstdint>

namespace zelkolink_tools {

struct TerminalSize {
  int columns = 80;
  int lines = 24;
};

// True when standard output is a terminal (a console on Windows).
bool output_is_terminal();

// The size of the terminal on standard output; 80 by 24 when it cannot tell.
TerminalSize terminal_size();

// Makes standard input pass bytes as they come. Windows opens it in text
// mode, which turns CR LF into LF and stops at the first 0x1A byte; POSIX
// systems have no such mode, and there it does nothing.
void use_binary_standard_input();

// While it lives, standard output takes ANSI escape sequences and UTF-8 text;
// the destructor puts back the settings it found. A POSIX terminal needs no
// change, so there it does nothing; a Windows console is switched to virtual
// terminal processing and the UTF-8 code page.
class TerminalMode {
 public:
  TerminalMode();
  // Defined per platform: the Windows one puts the console back.
  ~TerminalMode();  // NOLINT(performance-trivially-destructible)
  TerminalMode(const TerminalMode&) = delete;
  TerminalMode& operator=(const TerminalMode&) = delete;
  TerminalMode(TerminalMode&&) = delete;
  TerminalMode& operator=(TerminalMode&&) = delete;

 private:
  // What the console had at start (Windows); 0 when nothing was changed.
  [[maybe_unused]] uint32_t saved_console_mode_ = 0;
  [[maybe_unused]] uint32_t saved_output_code_page_ = 0;
};

}  // namespace zelkolink_tools
