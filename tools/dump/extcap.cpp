#include "extcap.hpp"

#include <algorithm>
#include <array>
#include <optional>
#include <string>

#include "arguments.hpp"
#include "capture_file.hpp"
#include "port_link.hpp"
#include "stop_signal.hpp"
#include "tool_error.hpp"
#include "zelkolink.hpp"

namespace zelkolink_dump {
namespace {

using zelkolink_tools::usage_error;

constexpr const char* kInterface = "zelkolink";

struct ExtcapCall {
  bool interfaces = false;  // --extcap-interfaces
  bool dlts = false;        // --extcap-dlts
  bool config = false;      // --extcap-config
  bool capture = false;     // --capture
  std::optional<std::string> interface;
  std::optional<std::string> fifo;
  zelkolink_tools::PortLinkSettings link;
};

// True, moving past its value, for an --extcap- option this tool has no use for.
bool skip_wireshark_option(zelkolink_tools::Arguments& args) {
  for (const char* name : {"--extcap-version", "--extcap-capture-filter", "--extcap-control-in",
                           "--extcap-control-out"}) {
    if (args.value(name, "a value")) return true;
  }
  return args.current().starts_with("--extcap-");
}

ExtcapCall parse_call(std::span<const char* const> arguments) {
  ExtcapCall call;
  for (zelkolink_tools::Arguments args(arguments); !args.done(); args.next()) {
    if (args.flag("--extcap-interfaces")) {
      call.interfaces = true;
    } else if (args.flag("--extcap-dlts")) {
      call.dlts = true;
    } else if (args.flag("--extcap-config")) {
      call.config = true;
    } else if (args.flag("--capture")) {
      call.capture = true;
    } else if (const auto interface = args.value("--extcap-interface", "an interface")) {
      call.interface = std::string(*interface);
    } else if (const auto fifo = args.value("--fifo", "a pipe")) {
      call.fifo = std::string(*fifo);
    } else if (const auto port = args.value("--port", "a serial port")) {
      call.link.port = std::string(*port);
    } else if (const auto baud = args.value("--baud", "a rate")) {
      call.link.baud =
          static_cast<uint32_t>(zelkolink_tools::parse_whole(*baud, "--baud", 50, 4000000));
    } else if (const auto request = args.value("--request", "two hex bytes")) {
      call.link.request = zelkolink_tools::parse_hex_pair(*request, "--request");
    } else if (skip_wireshark_option(args)) {
      // What else Wireshark tells (its version, a capture filter, control
      // pipes) changes nothing here.
    } else {
      throw args.unknown();
    }
  }
  if ((call.dlts || call.config || call.capture) && call.interface != kInterface) {
    throw usage_error("--extcap-interface must be " + std::string(kInterface));
  }
  return call;
}

// Until Wireshark stops the capture: every read on the port goes into the
// pipe as it happens.
int capture_into(const ExtcapCall& call) {
  if (!call.fifo) throw usage_error("--capture needs --fifo");
  if (call.link.port.empty()) throw usage_error("--capture needs --port");
  zelkolink_tools::install_stop_handlers();
  zelkolink_tools::CaptureFile capture(*call.fifo, "zelkolink-dump (Wireshark extcap)",
                                       std::chrono::milliseconds(0));
  zelkolink_tools::PortLink link(call.link, &capture);
  link.open();
  std::array<uint8_t, zelkolink::max_chunk> buffer{};
  try {
    while (!zelkolink_tools::stop_requested()) link.read(buffer, std::chrono::milliseconds(50));
    link.stop();
    capture.close();
  } catch (const zelkolink_tools::ToolError&) {
    // Wireshark ends a capture by closing the pipe as well as by a signal.
    if (!capture.reader_gone()) throw;
  }
  return zelkolink_tools::kExitOk;
}

}  // namespace

bool is_extcap_call(std::span<const char* const> arguments) {
  return std::ranges::any_of(arguments, [](const char* argument) {
    return std::string_view(argument).starts_with("--extcap-");
  });
}

int run_extcap(std::span<const char* const> arguments, std::ostream& out) {
  const ExtcapCall call = parse_call(arguments);
  if (call.interfaces) {
    out << "extcap {version=" << ZELKOLINK_VERSION_MAJOR << '.' << ZELKOLINK_VERSION_MINOR << '.'
        << ZELKOLINK_VERSION_PATCH << "}{display=ZelkoLink}\n"
        << "interface {value=" << kInterface << "}{display=ZelkoLink device port link}\n";
  } else if (call.dlts) {
    out << "dlt {number=147}{name=USER0}{display=ZelkoLink port link}\n";
  } else if (call.config) {
    out << "arg {number=0}{call=--port}{display=Port}{type=string}{required=true}"
           "{tooltip=The device's serial port: /dev/ttyUSB0 on Linux, COM3 on Windows}\n"
        << "arg {number=1}{call=--baud}{display=Baud}{type=integer}{range=50,4000000}"
           "{default=115200}{tooltip=The port's rate, 8N1}\n"
        << "arg {number=2}{call=--request}{display=Request}{type=string}{default=01,00}"
           "{validation=^[0-9a-fA-F]{1,2},[0-9a-fA-F]{1,2}$}"
           "{tooltip=The two payload bytes of the upload request, in hex}\n";
  } else if (call.capture) {
    return capture_into(call);
  }
  out.flush();
  return zelkolink_tools::kExitOk;
}

}  // namespace zelkolink_dump
