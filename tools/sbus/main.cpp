// zelkolink-sbus: drives SBUS equipment through a serial port, with frames
// packed by the ZelkoLink library at a steady cadence.
#include <cstdio>
#include <exception>
#include <span>

#include "options.hpp"
#include "sender.hpp"
#include "tool_error.hpp"

int main(int argc, char** argv) {
  const std::size_t argument_count = argc > 1 ? static_cast<std::size_t>(argc - 1) : 0;
  try {
    const zelkolink_sbus::Options options =
        zelkolink_sbus::parse_options(std::span<const char* const>(argv + 1, argument_count));
    if (options.help) {
      std::fputs(zelkolink_sbus::help_text(), stdout);
      return std::fflush(stdout) == 0 ? zelkolink_tools::kExitOk : zelkolink_tools::kExitBadInput;
    }
    zelkolink_sbus::send_frames(options);
    return zelkolink_tools::kExitOk;
  } catch (const zelkolink_tools::ToolError& error) {
    std::fprintf(stderr, "zelkolink-sbus: %s\n", error.what());
    return error.exit_status();
  } catch (const std::exception& error) {
    std::fprintf(stderr, "zelkolink-sbus: %s\n", error.what());
    return zelkolink_tools::kExitBadInput;
  }
}
