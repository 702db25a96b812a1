// A HID game controller or compatible device as the source, through hidapi.
#include <array>
#include <thread>

#include "hid_device.hpp"
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
constexpr milliseconds kReopenEvery{500};

class HidSource final : public Source {
 public:
  explicit HidSource(HidTarget target) : target_(std::move(target)), device_(open_device()) {}

  void run(SourceContext& context) override {
    std::array<uint8_t, 64> report{};
    std::chrono::nanoseconds lost_at{};
    std::chrono::nanoseconds next_attempt{};
    while (!context.finish && !zelkolink_tools::stop_requested()) {
      if (!device_) {
        if (context.clock.now() < next_attempt) {
          std::this_thread::sleep_for(kReadWait);
          continue;
        }
        try {
          device_.emplace(open_device());
        } catch (const ToolError&) {
          next_attempt = context.clock.now() + kReopenEvery;
          continue;
        }
        context.events.line("source back after " + seconds_text(context.clock.now() - lost_at));
      }
      std::size_t got = 0;
      try {
        got = device_->read(report, kReadWait);
      } catch (const ToolError& error) {
        device_.reset();
        if (context.options.exit_on_loss) {
          context.exit_message = error.what();
          context.exit_status = error.exit_status();
          return;
        }
        lost_at = context.clock.now();
        next_attempt = lost_at + kReopenEvery;
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

std::unique_ptr<Source> open_hid_source(const Options& options) {
  return std::make_unique<HidSource>(options.hid);
}

const char* hid_source_note() { return ""; }

}  // namespace zelkolink_bridge
