// zelkolink-dump as a Wireshark extcap: Wireshark runs the programs of its
// extcap folder to list capture interfaces it cannot open itself, and to
// capture from them into a pipe. One interface, "zelkolink", captures a
// device's port link as --capture does, so Wireshark shows it live with the
// ZelkoLink dissector.
#pragma once

#include <ostream>
#include <span>

namespace zelkolink_dump {

// True when Wireshark is calling: an argument starts with --extcap-.
bool is_extcap_call(std::span<const char* const> arguments);

// Answers Wireshark: the interface, its link type, its settings, or a
// capture into --fifo until Wireshark stops it (SIGTERM). Returns the exit
// status; throws ToolError like a live port run.
int run_extcap(std::span<const char* const> arguments, std::ostream& out);

}  // namespace zelkolink_dump
