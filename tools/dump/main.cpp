// zelkolink-dump: decodes a captured port stream or HID input reports, or
// encodes SBUS frames, with the ZelkoLink library, for people wiring up a
// device.
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iostream>
#include <memory>
#include <string_view>
#include <vector>

#include "arguments.hpp"
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

using zelkolink_tools::input_error;

// A --hex capture as bytes; a fault names the file and where in it.
std::vector<uint8_t> read_hex_capture(const std::string& path) {
  const std::vector<uint8_t> text = read_all(path);
  std::vector<uint8_t> bytes;
  const std::optional<HexFault> fault =
      decode_hex(std::string_view(reinterpret_cast<const char*>(text.data()), text.size()), bytes);
  if (!fault) return bytes;
  const std::string where = fault->line == 0 ? ""
                                             : "line " + std::to_string(fault->line) + ", column " +
                                                   std::to_string(fault->column) + ": ";
  throw input_error(display_name(path) + ": " + where + fault->what);
}

void run_port_dump(const Options& options) {
  if (!options.file) {
    dump_port_stream(sample_capture(), options.chunk, options.format, std::cout);
    return;
  }
  const std::vector<uint8_t> bytes =
      options.hex ? read_hex_capture(*options.file) : read_all(*options.file);
  dump_port_stream(bytes, options.chunk, options.format, std::cout);
}

void run_sbus(const Options& options) {
  const std::string path = options.file.value_or(kStandardInput);
  const std::vector<StandardValues> lines = parse_sbus_lines(read_all(path), display_name(path));
  write_sbus_frames(lines, options.sbus_v2, std::cout);
}

// The HID mode that options.hid chose: the device list, a hex file or a live
// device.
void run_hid(const Options& options) {
  const HidOptions& hid = options.hid;
  const auto dump = [&](ReportSource& source) {
    dump_hid_reports(source, hid.report_id, options.limits, options.format, std::cout, std::cerr);
  };
  if (hid.source == HidSource::list) {
    write_hid_device_list(std::cout, std::cerr);
  } else if (hid.live()) {
    zelkolink_tools::install_stop_handlers();
    dump(*open_hid_device(hid));
  } else if (hid.path == kStandardInput) {
    HexReportFile file(std::cin, display_name(hid.path));
    dump(file);
  } else {
    std::ifstream in(hid.path);
    if (!in) throw input_error("cannot open " + hid.path + ": " + std::strerror(errno));
    // A directory opens but cannot be read: say so before any output.
    in.peek();
    if (in.bad()) throw input_error("cannot read " + hid.path + ": " + std::strerror(errno));
    HexReportFile file(in, hid.path);
    dump(file);
  }
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
    return zelkolink_tools::kExitOk;
  } else if (options.sbus) {
    run_sbus(options);
  } else if (options.hid.source != HidSource::none) {
    run_hid(options);
  } else {
    run_port_dump(options);
  }
  std::cout.flush();
  if (!std::cout) throw input_error("cannot write to standard output");
  return zelkolink_tools::kExitOk;
}

}  // namespace
}  // namespace zelkolink_dump

int main(int argc, char** argv) {
  return zelkolink_tools::run_tool("zelkolink-dump", argc, argv, zelkolink_dump::run);
}
