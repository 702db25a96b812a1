// A HID game controller or compatible device as the source, through hidapi.
#include <array>
#include <thread>

#include "hid_device.hpp"
#include "reconnect.hpp"
#include "sources.hpp"
#include "stop_signal.hpp"
#include "tool_error.hpp"
#include "zelkolink.hpp"

namespace zelkolink_bridge {
namespace {

using std::chrono::milliseconds;
using zelkolink_tools::HidDevice;
using zelkolink_tools::ToolError;

constexpr milliseconds kReadWait{20};

class HidSource final : public Source {
 public:
  explicit HidSource(HidTarget target) : target_(std::move(target)), device_(open_device()) {}

  void run(SourceContext& context) override {
    std::array<uint8_t, 64> report{};
    zelkolink_tools::Reconnect reconnect;
    while (!context.finish && !zelkolink_tools::stop_requested()) {
      if (!device_) {
        const std::chrono::nanoseconds now = context.clock.now();
        if (!reconnect.due(now)) {
          std::this_thread::sleep_for(kReadWait);
          continue;
        }
        try {
          device_.emplace(open_device());
        } catch (const ToolError&) {
          reconnect.failed(now);
          continue;
        }
        context.events.line("source back after " + reconnect.back_after(now));
      }
      std::size_t got = 0;
      try {
        got = device_->read(report, kReadWait);
      } catch (const ToolError& error) {
        device_.reset();
        if (context.exit_on_loss) {
          context.end_run(error.exit_status(), error.what());
          return;
        }
        reconnect.lost(context.clock.now());
        context.events.line(std::string("source lost: ") + error.what());
        continue;
      }
      if (got == 0) continue;
      const std::chrono::nanoseconds read_at = context.clock.now();
      if (decode_hid_bytes(std::span(report).first(got), values_) !=
          zelkolink_tools::HidLayout::none) {
        context.newest.publish(values_, true, read_at);
      }
    }
  }

 private:
  [[nodiscard]] HidDevice open_device() const {
    return HidDevice::open(target_.vendor_id, target_.product_id, target_.serial);
  }

  HidTarget target_;
  std::optional<HidDevice> device_;
  SourceValues values_;
};

}  // namespace

std::unique_ptr<Source> open_hid_source(const HidTarget& target) {
  return std::make_unique<HidSource>(target);
}

const char* hid_source_note() { return ""; }

}  // namespace zelkolink_bridge
