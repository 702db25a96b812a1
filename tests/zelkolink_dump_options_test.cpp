// zelkolink-dump's command line, in-process: what each mode's options set,
// and the combinations it refuses because they would silently ignore an
// option. The script tests start the program for what only a run shows.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "options.hpp"

namespace {

using zelkolink_dump::HidSource;
using zelkolink_dump::Options;
using zelkolink_dump::OutputFormat;
using Argv = std::vector<const char*>;

// The options that differ from a bare command line, in a fixed order.
std::string differences(const Options& o) {
  const Options bare;
  std::string text;
  const auto add = [&](const std::string& item) { text += (text.empty() ? "" : " ") + item; };
  if (o.help) add("help");
  if (o.file) add("file=" + *o.file);
  if (o.hex) add("hex");
  if (o.chunk) add("chunk=" + std::to_string(*o.chunk));
  if (o.stats) add("stats");
  if (o.format == OutputFormat::json) add("json");
  if (o.sbus) add("sbus");
  if (o.sbus_v2) add("v2");
  if (o.port) add("port=" + *o.port);
  if (o.baud != bare.baud) add("baud=" + std::to_string(o.baud));
  if (o.request != bare.request) {
    char request[16];
    std::snprintf(request, sizeof request, "%02X,%02X", o.request[0], o.request[1]);
    add(std::string("request=") + request);
  }
  if (o.watch) add("watch");
  if (o.capture) add("capture=" + *o.capture);
  if (o.limits.count) add("count=" + std::to_string(*o.limits.count));
  if (o.limits.duration) add("ms=" + std::to_string(o.limits.duration->count()));
  const char* sources[] = {"", "hid", "hid-path", "hid-file", "hid-list"};
  if (o.hid.source != HidSource::none) add(sources[static_cast<int>(o.hid.source)]);
  if (o.hid.source == HidSource::device_id) {
    char ids[16];
    std::snprintf(ids, sizeof ids, "%04x:%04x", o.hid.vendor_id, o.hid.product_id);
    add(ids);
  }
  if (o.hid.serial) add("serial=" + *o.hid.serial);
  if (!o.hid.path.empty()) add("path=" + o.hid.path);
  if (o.hid.report_id) add("report-id=" + std::to_string(*o.hid.report_id));
  return text;
}

TEST(DumpOptions, EachModeTakesItsOptionsInBothForms) {
  struct Case {
    Argv argv;
    const char* parsed;
  };
  for (const Case& c : std::vector<Case>{
           // Decoding a capture.
           {{}, ""},
           {{"--hex", "--chunk", "7", "--json", "cap.hex"}, "file=cap.hex hex chunk=7 json"},
           {{"--chunk=255", "-"}, "file=- chunk=255"},
           {{"--stats", "--json", "c.pcapng"}, "file=c.pcapng stats json"},
           {{"--", "--weird-name"}, "file=--weird-name"},
           {{"--json", "--help", "--bogus"}, "help json"},
           // SBUS encoding.
           {{"--sbus", "--v2", "values.txt"}, "file=values.txt sbus v2"},
           // The live port link, with the run limits it shares with HID.
           {{"--port", "/dev/ttyUSB0", "--baud=9600", "--request", "2,7f", "--count", "5"},
            "port=/dev/ttyUSB0 baud=9600 request=02,7F count=5"},
           {{"--port=COM3", "--watch", "--seconds", "0.25", "--capture=c"},
            "port=COM3 watch capture=c ms=250"},
           // HID reports.
           {{"--hid", "046d:C216:AB:1", "--seconds=2", "--json"},
            "json ms=2000 hid 046d:c216 serial=AB:1"},
           {{"--hid-path=/dev/hidraw3", "--report-id", "0x2a", "--count=1"},
            "count=1 hid-path path=/dev/hidraw3 report-id=42"},
           {{"--hid-file", "-", "--report-id=255"}, "hid-file path=- report-id=255"},
           {{"--hid-list"}, "hid-list"},
       }) {
    std::string joined;
    for (const char* argument : c.argv) joined += std::string(argument) + " ";
    SCOPED_TRACE(joined);
    EXPECT_EQ(differences(zelkolink_dump::parse_options(c.argv)), c.parsed);
  }
}

TEST(DumpOptions, RefusesWhatWouldBeIgnoredOrCannotBeRead) {
  struct Case {
    Argv argv;
    const char* words;
  };
  for (const Case& c : std::vector<Case>{
           // Values.
           {{"--chunk", "0"}, "--chunk needs a whole number from 1 to 255, not '0'"},
           {{"--chunk", "256"}, "--chunk needs a whole number from 1 to 255, not '256'"},
           {{"--chunk", "ten"}, "--chunk needs a whole number from 1 to 255, not 'ten'"},
           {{"--chunk"}, "--chunk needs a number of bytes"},
           {{"--port", ""}, "--port needs a serial port"},
           {{"--port", "p", "--seconds", "0"}, "--seconds needs a number of seconds"},
           {{"--port", "p", "--seconds", "-1"}, "--seconds needs a number of seconds"},
           {{"--port", "p", "--count", "0"}, "--count needs a whole number from 1 to"},
           {{"--port", "p", "--baud", "fast"}, "--baud needs a whole number from 50 to 4000000"},
           {{"--port", "p", "--request", "1"}, "--request needs two hex bytes such as 01,00"},
           {{"--port", "p", "--request", "01,100"}, "--request needs two hex bytes"},
           {{"--hid"}, "--hid needs"},
           {{"--hid", "046d"}, "--hid needs VID:PID or VID:PID:SERIAL"},
           {{"--hid", "1:2:"}, "--hid needs VID:PID"},
           {{"--hid", "1:2", "--seconds", "0"}, "--seconds needs a number of seconds"},
           {{"--hid", "1:2", "--seconds", "1.2345"}, "--seconds needs a number of seconds"},
           {{"--hid", "1:2", "--seconds", "1."}, "--seconds needs a number of seconds"},
           {{"--hid-path"}, "--hid-path needs"},
           {{"--hid-file", ""}, "--hid-file needs"},
           {{"--hid-file", "f", "--report-id", "0"}, "--report-id needs a number from 1 to 255"},
           {{"--hid-file", "f", "--report-id", "256"}, "--report-id needs a number from 1 to 255"},
           {{"--hid-file", "f", "--report-id", "0x100"}, "--report-id needs"},
           {{"--hid-file", "f", "--count", "0"}, "--count needs a whole number from 1 to"},
           {{"--json=1"}, "--json takes no value"},
           {{"--jsonl"}, "unknown option '--jsonl'"},
           {{"-x"}, "unknown option '-x'"},
           {{"a", "b"}, "only one FILE can be read, got 'a' and 'b'"},
           // The decoder and the SBUS encoder.
           {{"--v2"}, "--v2 only goes with --sbus"},
           {{"--sbus", "--chunk", "3"}, "--sbus reads text values"},
           {{"--sbus", "--json"}, "--sbus reads text values"},
           {{"--hex"}, "--hex needs a FILE"},
           {{"--stats"}, "--stats summarises a pcapng capture FILE"},
           {{"--stats", "--chunk", "1", "c"}, "--stats summarises"},
           {{"--port", "p", "--stats"}, "--stats summarises"},
           // The port.
           {{"--baud", "9600"}, "--baud, --request, --watch and --capture need --port"},
           {{"--capture", "c.pcapng", "in.bin"}, "need --port"},
           {{"--count", "3"}, "--count needs --port, --hid, --hid-path or --hid-file"},
           {{"--seconds", "3"}, "--seconds needs --port, --hid or --hid-path"},
           {{"--port", "p", "cap.bin"}, "--port reads a serial port; FILE"},
           {{"--port", "p", "--chunk", "3"}, "--port reads a serial port; FILE"},
           {{"--port", "p", "--hid-list"}, "--port reads a serial port; the HID options"},
           {{"--port", "p", "--watch", "--json"}, "--watch shows a live view"},
           // HID.
           {{"--report-id", "1"}, "--report-id needs --hid, --hid-path or --hid-file"},
           {{"--hid-file", "f", "--hid", "1:2"}, "give only one"},
           {{"--hid-file", "f", "--hid-list"}, "give only one"},
           {{"--hid-file", "f", "--sbus"}, "--sbus and --v2 do not apply"},
           {{"--hid-file", "f", "--hex"}, "do not apply"},
           {{"--hid-file", "f", "--chunk", "3"}, "do not apply"},
           {{"--hid-file", "f", "cap.bin"}, "do not apply"},
           {{"--hid-list", "--count", "2"}, "--hid-list takes no other option"},
           {{"--hid-list", "--json"}, "--hid-list takes no other option"},
           {{"--hid-file", "f", "--seconds", "1"}, "--seconds needs a live device"},
       }) {
    std::string joined;
    for (const char* argument : c.argv) joined += std::string(argument) + " ";
    try {
      zelkolink_dump::parse_options(c.argv);
      ADD_FAILURE() << joined << "accepted";
    } catch (const zelkolink_tools::ToolError& error) {
      EXPECT_EQ(error.exit_status(), zelkolink_tools::kExitBadUsage) << joined;
      EXPECT_NE(std::string(error.what()).find(c.words), std::string::npos)
          << joined << "gave: " << error.what();
    }
  }
}

}  // namespace
