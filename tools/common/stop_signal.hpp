// Ending a live run cleanly. Ctrl-C, SIGTERM and SIGHUP (on Windows: Ctrl-C,
// Ctrl-Break and closing the console) do not kill the process: they set a
// flag that the run's loop checks between waits, so the loop can send its
// last frame, restore the port and flush what it has decoded before exiting.
#pragma once

namespace zelkolink_tools {

// Installs the handlers; call once, before the run's loop. On POSIX systems
// it also ignores SIGPIPE, so a write to a closed pipe fails with EPIPE (and
// ends the run through the normal path) instead of killing the process. The
// handlers do not restart interrupted waits: a blocking poll() returns at
// once with EINTR and the loop sees the flag.
void install_stop_handlers();

// True once a stop has been asked for.
bool stop_requested();

// The name of what asked for the stop ("SIGINT", "SIGTERM", ...), or nullptr
// when nothing has.
const char* stop_reason();

}  // namespace zelkolink_tools
