// zelkolink-dump: decodes a captured port stream or HID input reports, or
// encodes SBUS frames, with the ZelkoLink library, for people wiring up a
// device.
#include <cstdio>
#include <exception>
#include <iostream>
#include <vector>

#include "dump_error.hpp"
#include "hid_dump.hpp"
#include "hid_live.hpp"
#include "input.hpp"
#include "live_port.hpp"
#include "options.hpp"
#include "port_dump.hpp"
#include "sample_capture.hpp"
#include "sbus_lines.hpp"
#include "stop_signal.hpp"

namespace zelkolink_dump {
namespace {

void run_port_dump(const Options& options) {
  if (!options.file) {
    dump_port_stream(sample_capture(), options.chunk, options.format, std::cout);
    return;
  }
  const std::vector<uint8_t> bytes = read_all(*options.file);
  if (options.hex) {
    const std::vector<uint8_t> decoded = decode_hex(bytes, display_name(*options.file));
    dump_port_stream(decoded, options.chunk, options.format, std::cout);
  } else {
    dump_port_stream(bytes, options.chunk, options.format, std::cout);
  }
}

void run_sbus(const Options& options) {
  const std::string path = options.file.value_or(kStandardInput);
  const std::vector<StandardValues> lines = parse_sbus_lines(read_all(path), display_name(path));
  write_sbus_frames(lines, options.sbus_v2, std::cout);
}

// A port capture or SBUS values are read and checked whole before anything
// is printed, so a bad input leaves standard output empty. HID reports are
// printed as they are decoded.
int run(std::span<const char* const> arguments) {
  const Options options = parse_options(arguments);
  if (options.help) {
    std::cout << help_text();
    if (const char* missing = live_hid_missing()) std::cout << "\nNote: " << missing << ".\n";
  } else if (options.port) {
    // Live port link: ends on its own terms, every row already flushed; a
    // closed standard output is one of its orderly ends, not an error.
    zelkolink_tools::install_stop_handlers();
    run_live_port(options, std::cout);
    return 0;
  } else if (options.sbus) {
    run_sbus(options);
  } else if (options.hid.source != HidSource::none) {
    run_hid(options);
  } else {
    run_port_dump(options);
  }
  std::cout.flush();
  if (!std::cout) throw input_error("cannot write to standard output");
  return 0;
}

}  // namespace
}  // namespace zelkolink_dump

int main(int argc, char** argv) {
  const std::size_t argument_count = argc > 1 ? static_cast<std::size_t>(argc - 1) : 0;
  try {
    return zelkolink_dump::run(std::span<const char* const>(argv + 1, argument_count));
  } catch (const zelkolink_dump::DumpError& error) {
    std::fprintf(stderr, "zelkolink-dump: %s\n", error.what());
    return error.exit_status();
  } catch (const std::exception& error) {
    std::fprintf(stderr, "zelkolink-dump: %s\n", error.what());
    return zelkolink_dump::kExitBadInput;
  }
}
