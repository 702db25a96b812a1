// The run of zelkolink-sbus: open the port at the SBUS line settings, send a
// frame at every slot of the schedule until the count is reached or a stop
// is asked for, and report how the cadence held.
#pragma once

#include "options.hpp"

namespace zelkolink_sbus {

// Sends frames as `options` says. Writes a warning to standard error if the
// port runs at another rate than SBUS's, and always a closing summary line,
// also when the port fails mid-run. Throws ToolError when the port cannot be
// opened (kExitCannotOpen, kExitBusy) or goes away (kExitVanished).
void send_frames(const Options& options);

}  // namespace zelkolink_sbus
