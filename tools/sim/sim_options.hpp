// Command-line options of zelkolink-sim and the --help text that documents
// them.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace zelkolink_sim {

struct SimOptions {
  bool help = false;
  double rate = 100.0;  // frames a second; 0: as fast as the host reads
  int kind = 2;         // record kind 0, 1 or 2
  bool noise = false;
  double corrupt = 0.0;               // share of frames with a wrong end byte, 0..1
  bool echo = false;                  // echo the host's request back
  std::optional<std::string> record;  // file that gets every byte sent
  std::optional<std::string> link;    // symlink to the terminal end
  std::optional<uint64_t> seed;       // for a reproducible run
  std::optional<std::string> replay;  // a pcapng capture to play instead of made-up frames
  double speed = 1.0;                 // replay time scale; 0: as fast as the host reads
  bool loop = false;                  // replay again from the start at the end
  bool wait_for_request = true;       // replay from the host's request (not --no-wait)
};

// Reads the arguments after the program name. Throws ToolError (bad usage)
// for an unknown option, a bad value, or options of made-up frames and of a
// replay together.
SimOptions parse_sim_options(std::span<const char* const> arguments);

const char* sim_help_text();

}  // namespace zelkolink_sim
