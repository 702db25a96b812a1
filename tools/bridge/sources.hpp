// Where the values come from: the device's port, a HID device or a capture
// file. Each source runs on a thread of its own, hands every decoded record
// to Newest and reports its own losses and returns; the SBUS loop never waits
// for it.
#pragma once

#include <atomic>
#include <memory>
#include <span>
#include <string>

#include "channel_map.hpp"
#include "newest.hpp"
#include "options.hpp"
#include "records.hpp"

namespace zelkolink_bridge {

struct SourceContext {
  const Options& options;
  Uses uses;  // what makes a record fresh
  Newest& newest;
  EventLog& events;
  const RunClock& clock;
  std::atomic<bool>& finish;  // set by the SBUS loop when the run ends
  // Set by the source when it ends the run itself (--exit-on-loss, a failure):
  // the exit status and its one-line message.
  std::atomic<int> exit_status{0};
  std::string exit_message;
};

class Source {
 public:
  virtual ~Source() = default;
  // Reads until context.finish is set or the source ends the run; returns
  // with its device released (the port gets the stop frame first).
  virtual void run(SourceContext& context) = 0;
};

// Open the source given in options at start. Throws ToolError: cannot open
// (3), busy (4), or bad usage (2) for a source this build lacks.
std::unique_ptr<Source> open_port_source(const Options& options);
std::unique_ptr<Source> open_file_source(const Options& options);
std::unique_ptr<Source> open_hid_source(const Options& options);

// What --help says about --from-hid in this build ("" when it has it).
const char* hid_source_note();

}  // namespace zelkolink_bridge
