// The port and file sources, and the port decoding they share. The HID source
// lives in hid_source.cpp (or hid_source_unavailable.cpp).
#include "sources.hpp"

#include <algorithm>
#include <array>
#include <fstream>
#include <iterator>
#include <thread>
#include <vector>

#include "port_stream.hpp"
#include "reconnect.hpp"
#include "stop_signal.hpp"
#include "tool_error.hpp"
#include "zelkolink.hpp"

namespace zelkolink_bridge {
namespace {

using std::chrono::milliseconds;
using zelkolink_tools::CaptureFile;
using zelkolink_tools::ToolError;

constexpr milliseconds kReadWait{20};  // the longest a stop or an end waits to be seen

class PortSource final : public Source {
 public:
  PortSource(const zelkolink_tools::PortLinkSettings& settings,
             const std::optional<std::string>& capture)
      : capture_(capture ? std::make_unique<CaptureFile>(*capture, "zelkolink-bridge") : nullptr),
        link_(settings, capture_.get()) {
    link_.open();
  }

  void run(SourceContext& context) override {
    std::array<uint8_t, zelkolink::max_chunk> buffer{};
    while (!context.finish && !zelkolink_tools::stop_requested()) {
      if (!link_.is_open() && !reopen(context)) {
        std::this_thread::sleep_for(kReadWait);
        continue;
      }
      try {
        const std::size_t got = link_.read(buffer, kReadWait);
        if (got == 0) continue;
        const std::chrono::nanoseconds read_at = context.clock.now();
        const Carried carried = decode_port_bytes(std::span(buffer).first(got), values_);
        if (carried.frame) {
          context.newest.publish(values_, is_fresh(carried, context.reads), read_at);
        }
      } catch (const ToolError& error) {
        // A port that went away is reopened; anything else (a capture that
        // cannot be written) ends the run.
        if (error.exit_status() != zelkolink_tools::kExitVanished || context.exit_on_loss) {
          context.end_run(error.exit_status(), error.what());
          break;
        }
        reconnect_.lost(context.clock.now());
        context.events.line(std::string("source lost: ") + error.what());
      }
    }
    link_.stop();
    if (!capture_) return;
    try {
      capture_->close();
    } catch (const ToolError& error) {
      if (context.exit_status == 0) context.end_run(error.exit_status(), error.what());
    }
  }

 private:
  // Every 500 ms while the port is gone; PortLink empties the parser and
  // sends the request again on every open.
  bool reopen(SourceContext& context) {
    const std::chrono::nanoseconds now = context.clock.now();
    if (!reconnect_.due(now)) return false;
    try {
      link_.open();
    } catch (const ToolError&) {
      reconnect_.failed(now);
      return false;
    }
    context.events.line("source back after " + reconnect_.back_after(now));
    return true;
  }

  std::unique_ptr<CaptureFile> capture_;
  zelkolink_tools::PortLink link_;
  zelkolink_tools::Reconnect reconnect_;
  SourceValues values_;
};

class FileSource final : public Source {
 public:
  FileSource(std::string path, double frames_per_second)
      : name_(std::move(path)), frames_per_second_(frames_per_second) {
    std::ifstream file(name_, std::ios::binary);
    if (!file) throw ToolError(zelkolink_tools::kExitCannotOpen, "cannot open " + name_);
    bytes_.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  }

  // Pieces that each end after an end byte, so every frame is released at
  // its own time: start + n / rate.
  void run(SourceContext& context) override {
    const auto period = std::chrono::duration_cast<std::chrono::nanoseconds>(
        std::chrono::duration<double>(1.0 / frames_per_second_));
    const auto start = std::chrono::steady_clock::now();
    uint64_t released = 0;
    std::span<const uint8_t> rest(bytes_);
    while (!rest.empty() && !context.finish && !zelkolink_tools::stop_requested()) {
      const std::span<const uint8_t> piece = zelkolink_tools::first_piece(rest);
      const Carried carried = decode_port_bytes(piece, values_);
      rest = rest.subspan(piece.size());
      if (!carried.frame) continue;
      std::this_thread::sleep_until(start + period * released++);
      context.newest.publish(values_, is_fresh(carried, context.reads), context.clock.now());
    }
    if (rest.empty()) context.events.line("source ended: end of " + name_);
    while (!context.finish && !zelkolink_tools::stop_requested()) {
      std::this_thread::sleep_for(kReadWait);
    }
  }

 private:
  std::string name_;
  double frames_per_second_;
  std::vector<uint8_t> bytes_;
  SourceValues values_;
};

}  // namespace

std::unique_ptr<Source> open_port_source(const zelkolink_tools::PortLinkSettings& settings,
                                         const std::optional<std::string>& capture) {
  return std::make_unique<PortSource>(settings, capture);
}

std::unique_ptr<Source> open_file_source(const std::string& path, double frames_per_second) {
  return std::make_unique<FileSource>(path, frames_per_second);
}

}  // namespace zelkolink_bridge
