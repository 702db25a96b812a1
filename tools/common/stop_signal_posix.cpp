#include <atomic>
#include <csignal>

#include "stop_signal.hpp"

namespace zelkolink_tools {
namespace {

// The signal that asked for the stop, 0 while none has. Lock-free, so the
// handler may store it.
std::atomic<int> requested_by{0};
static_assert(std::atomic<int>::is_always_lock_free);

void on_signal(int signal_number) { requested_by.store(signal_number); }

}  // namespace

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

bool stop_requested() { return requested_by.load() != 0; }

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

}  // namespace zelkolink_tools
