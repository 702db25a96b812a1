#include "link_health.hpp"

#include "sbus_frame.hpp"

namespace zelkolink_bridge {

LinkState link_state(std::optional<std::chrono::nanoseconds> last_fresh,
                     std::chrono::nanoseconds now, const HealthLimits& limits) {
  if (!last_fresh) return LinkState::waiting;
  const std::chrono::nanoseconds silence = now - *last_fresh;
  if (silence >= limits.failsafe) return LinkState::failsafe;
  if (silence >= limits.lost) return LinkState::lost;
  return LinkState::ok;
}

uint8_t sbus_flags(LinkState state) {
  using zelkolink_tools::kSbusFailsafe;
  using zelkolink_tools::kSbusFrameLost;
  switch (state) {
    case LinkState::waiting:
      return kSbusFailsafe;
    case LinkState::ok:
      return 0;
    case LinkState::lost:
      return kSbusFrameLost;
    case LinkState::failsafe:
      return kSbusFrameLost | kSbusFailsafe;
  }
  return kSbusFrameLost | kSbusFailsafe;
}

const char* state_name(LinkState state) {
  switch (state) {
    case LinkState::waiting:
      return "waiting";
    case LinkState::ok:
      return "ok";
    case LinkState::lost:
      return "frame lost";
    case LinkState::failsafe:
      return "failsafe";
  }
  return "failsafe";
}

}  // namespace zelkolink_bridge
