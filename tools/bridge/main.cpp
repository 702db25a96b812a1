// zelkolink-bridge: drives SBUS equipment from a ZelkoLink device, a HID
// controller or a capture, with a receiver's frame-lost and failsafe flags.
#include <cstdio>
#include <span>

#include "arguments.hpp"
#include "bridge.hpp"
#include "map_file.hpp"
#include "options.hpp"
#include "sources.hpp"

namespace {

int run(std::span<const char* const> arguments) {
  using namespace zelkolink_bridge;
  const Options options = parse_options(arguments);
  if (options.help) {
    std::fputs(help_text(hid_source_note(), map_file_note()).c_str(), stdout);
    return std::fflush(stdout) == 0 ? zelkolink_tools::kExitOk : zelkolink_tools::kExitBadInput;
  }
  ChannelMap map =
      options.source == SourceKind::hid ? default_hid_map() : default_port_map(options.raw);
  if (options.map_file) map = read_map_file(*options.map_file, map);
  std::unique_ptr<Source> source =
      options.source == SourceKind::port
          ? open_port_source({options.from, options.baud, options.request}, options.capture)
      : options.source == SourceKind::hid ? open_hid_source(options.hid)
                                          : open_file_source(options.from, options.file_rate);
  return run_bridge(options, map, std::move(source));
}

}  // namespace

int main(int argc, char** argv) {
  return zelkolink_tools::run_tool("zelkolink-bridge", argc, argv, run);
}
