// zelkolink-sbus: drives SBUS equipment through a serial port, with frames
// packed by the ZelkoLink library at a steady cadence.
#include <cstdio>
#include <span>

#include "arguments.hpp"
#include "options.hpp"
#include "sender.hpp"

namespace {

int run(std::span<const char* const> arguments) {
  const zelkolink_sbus::Options options = zelkolink_sbus::parse_options(arguments);
  if (options.help) {
    std::fputs(zelkolink_sbus::help_text(), stdout);
    if (std::fflush(stdout) != 0) throw zelkolink_tools::input_error("cannot write the help");
    return zelkolink_tools::kExitOk;
  }
  zelkolink_sbus::send_frames(options);
  return zelkolink_tools::kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
  return zelkolink_tools::run_tool("zelkolink-sbus", argc, argv, run);
}
