// The port link's frame envelope as the simulator speaks it: FA, a command,
// a little-endian 16-bit payload length, the payload, 5F. The simulator is
// the device's side and needs nothing of the library, so it names the bytes
// itself, once, for the frames it sends and the host frames it reads.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zelkolink_sim {

inline constexpr uint8_t kStart = 0xFA;
inline constexpr uint8_t kEnd = 0x5F;
inline constexpr uint8_t kUploadData = 0xA5;   // device to host
inline constexpr uint8_t kRequest = 0xE5;      // host to device: start an upload
inline constexpr uint8_t kStop = 0xE4;         // host to device: stop it
inline constexpr std::size_t kHeaderSize = 4;  // start, command, length

}  // namespace zelkolink_sim
