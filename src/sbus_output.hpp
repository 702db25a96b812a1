// SBUS output: scaling standard values into SBUS units and packing them into
// 25-byte frames.
#pragma once

#include <cstdint>

namespace zelkolink::sbus {

// sbus_values[k] = min(floor(std_values[k] * 1.706), 2047) for 16 channels;
// the two arrays may be the same.
void convert_std(uint16_t* sbus_values, const uint16_t* std_values);

// Writes bytes 1..24 of an SBUS frame: the 16 channels (each limited to
// 2047), zero flags and a zero end byte. Byte 0 is not touched.
void encode_v1(uint8_t* frame, const uint16_t* channels);

// As encode_v1, but the end byte cycles 0x04, 0x14, 0x24, 0x34 over
// successive calls of this function, process-wide.
void encode_v2(uint8_t* frame, const uint16_t* channels);

}  // namespace zelkolink::sbus
