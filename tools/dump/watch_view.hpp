// The --watch view: the live values as labelled numbers with bars, redrawn in
// place on the terminal with ANSI escape sequences (alternate screen, hidden
// cursor). Sized from the terminal; laid out to fit 80 columns by 24 lines.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>

#include "terminal.hpp"
#include "zelkolink.hpp"

namespace zelkolink_dump {

// What the view shows, as the live loop keeps it.
struct LiveFigures {
  InputValues inputs{};
  ChannelValues channels{};
  uint64_t frames = 0;                  // upload frames decoded so far
  uint64_t bytes = 0;                   // bytes received so far
  double seconds = 0.0;                 // since the run started
  std::optional<double> last_frame_at;  // seconds into the run of the last frame
};

// Throws ToolError (bad usage) unless standard output is a terminal.
void require_terminal();

class WatchView {
 public:
  static constexpr std::chrono::milliseconds kRedrawPeriod{50};  // 20 redraws a second at most

  // Takes the terminal: alternate screen, cursor hidden, in the terminal
  // mode a view needs (terminal.hpp). The destructor gives it back as it was.
  WatchView(std::string port, uint32_t baud);
  ~WatchView();
  WatchView(const WatchView&) = delete;
  WatchView& operator=(const WatchView&) = delete;
  WatchView(WatchView&&) = delete;
  WatchView& operator=(WatchView&&) = delete;

  void draw(const LiveFigures& figures);

 private:
  struct Sample {
    double seconds;
    uint64_t frames;
    uint64_t bytes;
  };
  std::string port_;
  uint32_t baud_;
  uint32_t input_scale_ = 0;  // bar scales, grown to fit every value shown
  uint32_t channel_scale_ = 0;
  std::deque<Sample> recent_;           // the last second of draws, for the rates
  zelkolink_tools::TerminalMode mode_;  // made before the view is entered, undone after it is left
};

}  // namespace zelkolink_dump
