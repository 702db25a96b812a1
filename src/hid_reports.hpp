// HID input reports: the game-controller report and the compatible-device
// report, decoded into caller records.
#pragma once

#include <cstddef>
#include <cstdint>

#include "zelkolink.h"

namespace zelkolink::hid {

// Decodes a 19-byte game-controller report; any other length returns false
// and leaves the state untouched.
bool decode_game_controller(GameControllerState* state, const uint8_t* report, size_t len);

// Decodes a 23-byte compatible-device report that starts with 0xFA; anything
// else returns false and leaves the inputs untouched.
bool decode_compatible(InputValues* inputs, const uint8_t* report, size_t len);

}  // namespace zelkolink::hid
