// Little-endian loads and stores. Every multi-byte value on the wire is
// little-endian; on a little-endian host these compile to plain copies.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace zelkolink {

inline constexpr bool kLittleEndianHost = std::endian::native == std::endian::little;

inline uint16_t load_le16(const uint8_t* bytes) {
  return static_cast<uint16_t>(bytes[0] | bytes[1] << 8);
}

// Reads Count consecutive little-endian 16-bit values into native ones.
template <size_t Count>
inline void load_le16_array(uint16_t* values, const uint8_t* bytes) {
  if constexpr (kLittleEndianHost) {
    std::memcpy(values, bytes, Count * sizeof(uint16_t));
  } else {
    for (size_t k = 0; k < Count; ++k) values[k] = load_le16(bytes + 2 * k);
  }
}

inline void store_le64(uint8_t* bytes, uint64_t value) {
  if constexpr (kLittleEndianHost) {
    std::memcpy(bytes, &value, sizeof value);
  } else {
    for (size_t k = 0; k < sizeof value; ++k) bytes[k] = static_cast<uint8_t>(value >> (8 * k));
  }
}

}  // namespace zelkolink
