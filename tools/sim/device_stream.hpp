// What the simulated device sends: upload-data frames of one record kind
// whose values move smoothly with the frame number, with the faults asked
// for (stray bytes between frames, wrong end bytes).
#pragma once

#include <cstdint>
#include <random>
#include <vector>

namespace zelkolink_sim {

struct StreamSettings {
  int kind = 2;                     // record kind 0 (inputs), 1 (channels) or 2 (both)
  double seconds_per_frame = 0.01;  // the frame number's pace for the motion
  bool noise = false;               // stray bytes, some 0xFA, before frames
  double corrupt = 0.0;             // the share of frames sent with a wrong end byte
};

class DeviceStream {
 public:
  DeviceStream(const StreamSettings& settings, uint64_t seed);

  // Appends the next frame (after its noise, if any) to out.
  void append_next_frame(std::vector<uint8_t>& out);

  // A size from 1 to 128 for the next piece written: a USB serial link hands
  // bytes over in packets of up to 64 and the system joins or splits them.
  std::size_t next_piece_size();

  // Frames appended so far.
  uint64_t frames() const { return frame_number_; }

 private:
  StreamSettings settings_;
  std::mt19937_64 random_;
  uint64_t frame_number_ = 0;
};

}  // namespace zelkolink_sim
