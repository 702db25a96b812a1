// The bridge's link health, decided the way a receiver decides it: from the
// time of the last fresh upload frame and the time now, nothing else. Pure,
// so it is tested with made-up times.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>

namespace zelkolink_bridge {

enum class LinkState {
  waiting,   // no fresh frame yet: failsafe values, failsafe flag alone
  ok,        // fresh values, no flags
  lost,      // silent for --lost-ms: last values held, frame-lost flag
  failsafe,  // silent for --failsafe-ms: failsafe values, both flags
};

struct HealthLimits {
  std::chrono::nanoseconds lost;      // silence that marks frames lost
  std::chrono::nanoseconds failsafe;  // silence that enters failsafe; longer than lost
};

// The state at `now` when the last fresh frame arrived at `last_fresh`
// (nothing: none yet). Both are times on one clock; a last frame stamped
// after `now` counts as just arrived.
LinkState link_state(std::optional<std::chrono::nanoseconds> last_fresh,
                     std::chrono::nanoseconds now, const HealthLimits& limits);

// Byte 23 of an SBUS frame sent in this state.
uint8_t sbus_flags(LinkState state);

// How status and event lines name the state: "waiting", "ok", "frame lost",
// "failsafe".
const char* state_name(LinkState state);

}  // namespace zelkolink_bridge
