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
#include "capture_reads.hpp"
#include "capture_stats.hpp"
#include "extcap.hpp"
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
using zelkolink_tools::ToolError;

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

// A raw capture is one stream, fed 255 bytes at a time unless --chunk says
// otherwise; a pcapng capture is its reads from the device, each fed as it
// was read, with its time. The capture's notes (a last block cut short)
// follow the rows and make the status 1: every row that could be decoded is
// printed, but the run is not reported as a success.
int run_port_dump(const Options& options) {
  const std::string name = display_name(options.file.value_or("the sample capture"));
  const std::vector<uint8_t> bytes =
      !options.file ? std::vector<uint8_t>(sample_capture().begin(), sample_capture().end())
      : options.hex ? read_hex_capture(*options.file)
                    : read_all(*options.file);
  if (!zelkolink_tools::pcapng::starts_like_pcapng(bytes)) {
    if (options.stats) {
      throw ToolError(zelkolink_tools::kExitBadUsage,
                      name + ": not a pcapng capture; --stats needs the times a capture keeps");
    }
    const TimedBytes stream{std::nullopt, bytes};
    dump_port_reads({&stream, 1}, options.chunk.value_or(zelkolink::max_chunk), options.format,
                    std::cout);
    return zelkolink_tools::kExitOk;
  }
  const zelkolink_tools::CaptureContents capture = zelkolink_tools::read_capture(bytes, name);
  if (options.stats) {
    write_stats(std::cout, link_stats(capture.reads), options.format, name);
  } else {
    dump_port_reads(inbound_reads(capture.reads), options.chunk, options.format, std::cout);
  }
  std::cout.flush();
  for (const std::string& note : capture.notes) std::cerr << "zelkolink-dump: " << note << '\n';
  return capture.notes.empty() ? zelkolink_tools::kExitOk : zelkolink_tools::kExitBadInput;
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
  if (is_extcap_call(arguments)) return run_extcap(arguments, std::cout);
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
    const int status = run_port_dump(options);
    std::cout.flush();
    if (!std::cout) throw input_error("cannot write to standard output");
    return status;
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
