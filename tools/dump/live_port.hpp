// Reading a device live through its serial port: open it, send the upload
// request, decode what arrives read by read, and end every run the same way
// (stop frame, port restored, rows flushed); with --capture, every read and
// write goes to a pcapng capture as well.
#pragma once

#include <ostream>

#include "options.hpp"

namespace zelkolink_dump {

// Runs the live link on options.port: rows to out, or the --watch view on
// the terminal. Returns on every orderly end: --count reached, --seconds up,
// a stop signal, or out failing because its reader went away. Throws
// ToolError when the port cannot be opened (kExitCannotOpen), is held by
// another process (kExitBusy) or goes away mid-run (kExitVanished), when the
// capture cannot be created (kExitCannotOpen) or written (kExitBadInput); the
// stop frame has then been tried, the port restored and every row already
// decoded flushed.
void run_live_port(const Options& options, std::ostream& out);

}  // namespace zelkolink_dump
