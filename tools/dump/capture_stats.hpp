// One summary of a captured link, to tell whether a device, a cable or an
// adapter drops data: how long, how much each way, which upload frames came
// and how regularly, and what was stepped over.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <ostream>
#include <span>
#include <string>

#include "capture_reads.hpp"
#include "rows.hpp"

namespace zelkolink_dump {

struct LinkStats {
  double duration_s = 0;  // first block to last
  uint64_t reads_in = 0;
  uint64_t bytes_in = 0;
  uint64_t reads_out = 0;
  uint64_t bytes_out = 0;
  // Decoded upload frames by record kind; kNoKind for frames with an empty
  // payload, which carry no kind at all.
  static constexpr int kNoKind = -1;
  std::map<int, uint64_t> frames;
  uint64_t frame_count = 0;
  uint64_t corrupt_frames = 0;  // frames skipped whole for a wrong end byte
  uint64_t noise_bytes = 0;     // bytes stepped over one at a time, in no frame at all
  // Time between upload frames, each frame timed by the read it ended in;
  // nothing with fewer than two frames.
  struct Gaps {
    double p50_ms = 0;
    double p99_ms = 0;
    double max_ms = 0;
    double max_at_s = 0;  // when the frame that ended the largest gap came
  };
  std::optional<Gaps> gaps;
};

// Frames the device-to-host reads as the library's parser frames them.
LinkStats link_stats(std::span<const zelkolink_tools::CapturedRead> reads);

// As text, a line per figure under the capture's name, or as one JSON
// object with the keys duration_s, reads_in, bytes_in, reads_out,
// bytes_out, frames (record kind as a string, or "empty", to its count), frames_per_s,
// noise_bytes, corrupt_frames and gap_ms {p50, p99, max, max_at_s} (null
// with fewer than two frames).
void write_stats(std::ostream& out, const LinkStats& stats, OutputFormat format,
                 const std::string& name);

}  // namespace zelkolink_dump
