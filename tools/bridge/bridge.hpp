// The bridge's run: the source on a thread of its own, and on this thread an
// SBUS frame at every slot of an absolute schedule, carrying the newest
// values and the link's flags.
#pragma once

#include "channel_map.hpp"
#include "options.hpp"
#include "sources.hpp"

namespace zelkolink_bridge {

// Runs until a stop signal, --seconds, or a loss with --exit-on-loss.
// Returns the exit status. Throws ToolError when the SBUS port cannot be
// opened at start.
int run_bridge(const Options& options, const ChannelMap& map, std::unique_ptr<Source> source);

}  // namespace zelkolink_bridge
