// Device port link: the frame envelope, the host's command frames, the
// incoming stream parser and the upload record decoder.
#pragma once

#include <cstddef>
#include <cstdint>

#include "zelkolink.h"

namespace zelkolink::port_link {

// Frame envelope: FRAME_START, command, 16-bit little-endian payload length
// L, L payload bytes, FRAME_END. Only the length delimits the payload; start
// and end bytes may occur inside it.
inline constexpr uint8_t FRAME_START = 0xFA;
inline constexpr uint8_t FRAME_END = 0x5F;
inline constexpr size_t HEADER_SIZE = 4;     // start, command, two length bytes
inline constexpr size_t FRAME_OVERHEAD = 5;  // header plus end byte

inline constexpr uint8_t CMD_UPLOAD_REQUEST = 0xE5;  // host to device
inline constexpr uint8_t CMD_UPLOAD_STOP = 0xE4;     // host to device
inline constexpr uint8_t CMD_UPLOAD_DATA = 0xA5;     // device to host

// The receiver holds at most this many bytes, so no frame it can receive
// carries more than MAX_PAYLOAD payload bytes.
inline constexpr size_t PORT_BUFFER_SIZE = 500;
inline constexpr size_t MAX_PAYLOAD = PORT_BUFFER_SIZE - FRAME_OVERHEAD;

// Writes the 7-byte upload request: FA E5 02 00 byte0 byte1 5F.
void write_upload_request(uint8_t* frame, uint8_t payload_byte0, uint8_t payload_byte1);

// Writes the 5-byte stop command: FA E4 00 00 5F.
void write_upload_stop(uint8_t* frame);

// Feeds len received bytes (any number) to the process-wide parser; returns
// whether at least one upload-data frame with a correct end byte completed.
bool parse(const uint8_t* data, size_t len, InputValues* inputs, ChannelValues* channels);

}  // namespace zelkolink::port_link
