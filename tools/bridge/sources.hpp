// Where the values come from: the device's port, a HID device or a capture
// file. Each source runs on a thread of its own, hands every decoded record
// to Newest and reports its own losses and returns; the SBUS loop never waits
// for it.
#pragma once

#include <atomic>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "arguments.hpp"
#include "channel_map.hpp"
#include "event_log.hpp"
#include "newest.hpp"
#include "port_link.hpp"
#include "records.hpp"
#include "run_clock.hpp"

namespace zelkolink_bridge {

using HidTarget = zelkolink_tools::DeviceIds;  // --from-hid VID:PID[:SERIAL]

// What a running source shares with the SBUS loop.
struct SourceContext {
  MapReads reads;  // what makes a record fresh
  Newest& newest;
  EventLog& events;
  const zelkolink_tools::RunClock& clock;
  std::atomic<bool>& finish;  // set by the SBUS loop when the run ends
  bool exit_on_loss = false;  // a vanished source ends the run instead of being reopened
  // Set by the source when it ends the run itself (--exit-on-loss, a failure):
  // the exit status and its one-line message.
  std::atomic<int> exit_status{0};
  std::string exit_message;

  // Ends the run with this status and message.
  void end_run(int status, const std::string& message) {
    exit_message = message;
    exit_status = status;
  }
};

class Source {
 public:
  virtual ~Source() = default;
  // Reads until context.finish is set or the source ends the run; returns
  // with its device released (the port gets the stop frame first).
  virtual void run(SourceContext& context) = 0;
};

// Opened at start. Each throws ToolError: cannot open (3), busy (4), or bad
// usage (2) for a source this build lacks. The port source records its
// port to `capture` when given (a pcapng file it creates now, exit 3 when it
// cannot) and closes it when it stops.
std::unique_ptr<Source> open_port_source(const zelkolink_tools::PortLinkSettings& settings,
                                         const std::optional<std::string>& capture);
std::unique_ptr<Source> open_file_source(const std::string& path, double frames_per_second);
std::unique_ptr<Source> open_hid_source(const HidTarget& target);

// What --help says about --from-hid in this build ("" when it has it).
const char* hid_source_note();

}  // namespace zelkolink_bridge
