#include <windows.h>

#include <atomic>

#include "stop_signal.hpp"

namespace zelkolink_tools {
namespace {

// The console event that asked for the stop, stored one up so that 0 keeps
// meaning none (event numbers start at 0). The handler runs on a thread of
// its own, so the store must be atomic.
std::atomic<int> requested_by{0};
static_assert(std::atomic<int>::is_always_lock_free);

BOOL WINAPI on_console_event(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
      requested_by.store(static_cast<int>(event) + 1);
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace

void install_stop_handlers() { SetConsoleCtrlHandler(on_console_event, TRUE); }

bool stop_requested() { return requested_by.load() != 0; }

const char* stop_reason() {
  switch (requested_by.load()) {
    case 0:
      return nullptr;
    case CTRL_C_EVENT + 1:
      return "Ctrl-C";
    case CTRL_BREAK_EVENT + 1:
      return "Ctrl-Break";
    default:
      return "console closed";
  }
}

}  // namespace zelkolink_tools
