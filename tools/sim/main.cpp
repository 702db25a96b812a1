// zelkolink-sim: a ZelkoLink device on a pseudo-terminal, for developing and
// testing hosts without a device on the desk: made-up frames, or a capture
// replayed as it was read.
#include <cstdio>

#include "arguments.hpp"
#include "made_up_device.hpp"
#include "pseudo_terminal.hpp"
#include "realtime.hpp"
#include "recorder.hpp"
#include "replay.hpp"
#include "sim_options.hpp"
#include "stop_signal.hpp"

namespace zelkolink_sim {
namespace {

int run(std::span<const char* const> arguments) {
  const SimOptions options = parse_sim_options(arguments);
  if (options.help) {
    std::fputs(sim_help_text(), stdout);
    return 0;
  }
  zelkolink_tools::install_stop_handlers();
  std::vector<ReplayBlock> blocks;
  if (options.replay) blocks = load_replay(*options.replay);
  Recorder recorder(options.record);
  PseudoTerminal link(options.link);
  std::printf("%s\n", link.path().c_str());
  std::fflush(stdout);
  if (options.replay) {
    // A replay keeps recorded times: it asks to be woken ahead of ordinary
    // work (granted to root and to users allowed real-time scheduling).
    zelkolink_tools::raise_thread_priority();
    Replay(options, link, recorder, std::move(blocks)).run();
  } else {
    MadeUpDevice(options, link, recorder).run();
  }
  return 0;
}

}  // namespace
}  // namespace zelkolink_sim

int main(int argc, char** argv) {
  return zelkolink_tools::run_tool("zelkolink-sim", argc, argv, zelkolink_sim::run);
}
