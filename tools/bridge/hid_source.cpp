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
// Significant bits of the game controller's eleven values.
constexpr std::array<uint8_t, kHidValueCount> kGameControllerBits{16, 16, 16, 12, 12, 12,
                                                                  12, 12, 4,  16, 8};

// Decodes one report by its length, as zelkolink-dump does: 19 bytes for a
// game controller, 23 starting FA for a compatible device. False for
// anything else.
bool decode_report(std::span<const uint8_t> report, SourceValues& values) {
  GameControllerState state;
  if (zelkolink::parse_hid_game_controller_device(state, report)) {
    std::copy(std::begin(state.value), std::end(state.value), values.hid.begin());
    values.hid_bits = kGameControllerBits;
    return true;
  }
  InputValues inputs;
  if (zelkolink::parse_hid_compatible_device(inputs, report)) {
    values.hid = {};
    std::copy(std::begin(inputs.value), std::end(inputs.value), values.hid.begin());
    values.hid_bits.fill(16);
    return true;
  }
  return false;
}

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
      if (decode_report(std::span(report).first(got), values_)) {
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
