#include "stop_signal.hpp"

#include <atomic>

#if defined(_WIN32)
#  include <windows.h>
#else
#  include <csignal>
#endif

namespace zelkolink_tools {
namespace {

// The signal or console event that asked for the stop, 0 while none has.
// Lock-free, so a signal handler may store it.
std::atomic<int> requested_by{0};
static_assert(std::atomic<int>::is_always_lock_free);

#if defined(_WIN32)

BOOL WINAPI on_console_event(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
      // Event numbers start at 0; store them one up so 0 keeps meaning none.
      requested_by.store(static_cast<int>(event) + 1);
      return TRUE;
    default:
      return FALSE;
  }
}

#else

void on_signal(int signal_number) { requested_by.store(signal_number); }

#endif

}  // namespace

#if defined(_WIN32)

void install_stop_handlers() { SetConsoleCtrlHandler(on_console_event, TRUE); }

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

#else

void install_stop_handlers() {
  struct sigaction action {};
  action.sa_handler = on_signal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;  // no SA_RESTART: a blocked poll() returns with EINTR
  for (const int signal_number : {SIGINT, SIGTERM, SIGHUP})
    sigaction(signal_number, &action, nullptr);
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  sigaction(SIGPIPE, &ignore, nullptr);
}

const char* stop_reason() {
  switch (requested_by.load()) {
    case 0:
      return nullptr;
    case SIGINT:
      return "SIGINT";
    case SIGTERM:
      return "SIGTERM";
    default:
      return "SIGHUP";
  }
}

#endif

bool stop_requested() { return requested_by.load() != 0; }

}  // namespace zelkolink_tools
