// The terminal on Windows: the console behind standard output, its window's
// size, and the mode and code page a full-screen view needs.
#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <windows.h>

#include "terminal.hpp"

namespace zelkolink_tools {

bool output_is_terminal() { return _isatty(_fileno(stdout)) != 0; }

TerminalSize terminal_size() {
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info)) return {};
  return {info.srWindow.Right - info.srWindow.Left + 1,
          info.srWindow.Bottom - info.srWindow.Top + 1};
}

void use_binary_standard_input() { _setmode(_fileno(stdin), _O_BINARY); }

TerminalMode::TerminalMode() {
  const HANDLE console = GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD mode = 0;
  if (GetConsoleMode(console, &mode)) {
    saved_console_mode_ = mode;
    SetConsoleMode(console, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
  }
  saved_output_code_page_ = GetConsoleOutputCP();
  SetConsoleOutputCP(CP_UTF8);
}

TerminalMode::~TerminalMode() {
  const HANDLE console = GetStdHandle(STD_OUTPUT_HANDLE);
  if (saved_console_mode_ != 0) SetConsoleMode(console, saved_console_mode_);
  if (saved_output_code_page_ != 0) SetConsoleOutputCP(saved_output_code_page_);
}

}  // namespace zelkolink_tools
