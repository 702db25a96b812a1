/*
 * zelkolink.hpp - a C++20 layer over zelkolink.h.
 *
 * Header-only: every function here is inline and calls the eight C functions
 * of zelkolink.h, so the library's exports stay exactly those eight. Nothing
 * here allocates, throws or keeps state of its own; the state rules of the C
 * functions apply unchanged (see zelkolink.h):
 *   - parse_port_data, feed_port_stream and reset_port_parser drive the
 *     library's process-wide reassembly buffer. NOT thread-safe: serialise their calls, and parse
 *     one port stream per process.
 *   - encode_sbus_data_v2 advances the library's process-wide, atomic end
 *     byte counter.
 *   - every other function is stateless and reentrant.
 *
 * What the layer adds:
 *   - values(record): a std::span over a record's 16-bit values, with the
 *     record's fixed size as its extent (operator[], size(), range-for).
 *   - std::span overloads of the eight functions. Fixed-size buffers are
 *     fixed-extent spans, so a buffer of the wrong size does not compile.
 *     Variable-length input is a dynamic span whose whole length counts: it
 *     is never cut down to the 8-bit length of the C functions.
 *   - feed_port_stream: hands a port read of any length to the parser in
 *     pieces the C function accepts.
 *   - reset_port_parser: empties the parser when a new connection starts.
 * The parse functions return bool instead of ZelkoLinkBool.
 */
#ifndef ZELKOLINK_HPP
#define ZELKOLINK_HPP

#if __cplusplus < 202002L
#  error "zelkolink.hpp needs C++20 (std::span); from older C++ or C, include zelkolink.h"
#endif

#include <cstddef>
#include <cstdint>
#include <span>

#include "zelkolink.h"

namespace zelkolink {

/* The sizes of zelkolink.h as std::size_t, for span extents and arrays. */
inline constexpr std::size_t request_frame_size = ZELKOLINK_REQUEST_FRAME_SIZE;       /* 7 */
inline constexpr std::size_t stop_frame_size = ZELKOLINK_STOP_FRAME_SIZE;             /* 5 */
inline constexpr std::size_t max_chunk = ZELKOLINK_MAX_CHUNK;                         /* 255 */
inline constexpr std::size_t input_count = ZELKOLINK_INPUT_COUNT;                     /* 9 */
inline constexpr std::size_t channel_count = ZELKOLINK_CHANNEL_COUNT;                 /* 32 */
inline constexpr std::size_t game_controller_count = ZELKOLINK_GAME_CONTROLLER_COUNT; /* 11 */
inline constexpr std::size_t sbus_channel_count = ZELKOLINK_SBUS_CHANNEL_COUNT;       /* 16 */
inline constexpr std::size_t sbus_frame_size = ZELKOLINK_SBUS_FRAME_SIZE;             /* 25 */

/* ------------------------------------------------------------ record views
 * values(record) views the record's own storage: reading the span reads the
 * record, writing through a mutable span writes it. The span is valid as long
 * as the record is. */

/* The nine input values, positions 0..8. */
inline std::span<const uint16_t, input_count> values(const InputValues& inputs) noexcept {
  return std::span<const uint16_t, input_count>(inputs.value);
}
inline std::span<uint16_t, input_count> values(InputValues& inputs) noexcept {
  return std::span<uint16_t, input_count>(inputs.value);
}

/* The thirty-two channel values, positions 0..31. */
inline std::span<const uint16_t, channel_count> values(const ChannelValues& channels) noexcept {
  return std::span<const uint16_t, channel_count>(channels.value);
}
inline std::span<uint16_t, channel_count> values(ChannelValues& channels) noexcept {
  return std::span<uint16_t, channel_count>(channels.value);
}

/* The eleven game-controller values, positions 0..10. */
inline std::span<const uint16_t, game_controller_count> values(
    const GameControllerState& state) noexcept {
  return std::span<const uint16_t, game_controller_count>(state.value);
}
inline std::span<uint16_t, game_controller_count> values(GameControllerState& state) noexcept {
  return std::span<uint16_t, game_controller_count>(state.value);
}

/* ---------------------------------------------------------------- Port link */

/* Builds the upload-request frame: writes all 7 bytes of frame,
 * FA E5 02 00 payload_byte0 payload_byte1 5F. Stateless; cannot fail. */
inline void request_upload_port_data(std::span<uint8_t, request_frame_size> frame,
                                     uint8_t payload_byte0, uint8_t payload_byte1) noexcept {
  ::request_upload_port_data(frame.data(), payload_byte0, payload_byte1);
}

/* Builds the stop-upload frame: writes all 5 bytes of frame, FA E4 00 00 5F.
 * Stateless; cannot fail. */
inline void stop_upload_port_data(std::span<uint8_t, stop_frame_size> frame) noexcept {
  ::stop_upload_port_data(frame.data());
}

/* Feeds received port bytes, any number of them, to the process-wide parser.
 * bytes     [in] read in order, every one of them. Lengths above 255 are
 *           passed to the C parse_port_data in consecutive pieces of at most
 *           255 bytes, which decodes exactly what one call would: the parser
 *           does not care where a stream is cut. Empty: nothing happens.
 * inputs    [out] may be null; receives the inputs of upload records of
 *           kinds 0 and 2, in stream order, as parse_port_data does.
 * channels  [out] may be null; receives the channels of records of kinds 1
 *           and 2.
 * Returns true when at least one upload-data frame completed during this
 * call (in any of its pieces); false leaves inputs and channels untouched.
 * NOT thread-safe: uses the parser's process-wide reassembly buffer. */
inline bool feed_port_stream(std::span<const uint8_t> bytes, InputValues* inputs,
                             ChannelValues* channels) noexcept {
  bool completed = false;
  while (!bytes.empty()) {
    const std::size_t piece = bytes.size() < max_chunk ? bytes.size() : max_chunk;
    /* Called first, then combined: every piece must reach the parser, even
     * after an earlier piece already completed a frame. */
    const bool piece_completed =
        ::parse_port_data(bytes.data(), static_cast<uint8_t>(piece), inputs, channels) != 0;
    completed = completed || piece_completed;
    bytes = bytes.subspan(piece);
  }
  return completed;
}

/* The C name for feed_port_stream, so code moving from the C call keeps its
 * name: a chunk of 0..255 bytes is one C call; a longer one is fed in pieces
 * as feed_port_stream does, never cut short. Returns whether an upload-data
 * frame completed. NOT thread-safe (process-wide parser). */
inline bool parse_port_data(std::span<const uint8_t> chunk, InputValues* inputs,
                            ChannelValues* channels) noexcept {
  return feed_port_stream(chunk, inputs, channels);
}

/* Empties the parser, for a new connection: call it after reopening the port
 * (a replugged device, a restarted simulator) and before feeding the new
 * connection's first bytes. Without it, a frame cut short when the old
 * connection ended stays pending and takes the new connection's first bytes
 * as the rest of its payload, which can decode a record mixing the two.
 * The C functions have no reset, so this feeds 500 zero bytes, in two calls
 * of 250: a pending frame is at most 499 bytes long (the parser never keeps a
 * longer one), so the zeros always reach the place of its end byte, find a
 * zero there and drop the frame; holding no start byte, they leave nothing
 * pending themselves. No record is decoded, so no value changes.
 * NOT thread-safe: uses the parser's process-wide reassembly buffer. */
inline void reset_port_parser() noexcept {
  static constexpr uint8_t zeros[250] = {};
  ::parse_port_data(zeros, sizeof zeros, nullptr, nullptr);
  ::parse_port_data(zeros, sizeof zeros, nullptr, nullptr);
}

/* ------------------------------------------------------------- HID reports
 * A report longer than 255 bytes is a wrong length, reported as false
 * without calling the C function, whose 8-bit length would otherwise turn,
 * for example, 275 bytes into a valid-looking 19. */

/* Decodes a game-controller input report.
 * state   [out] all eleven values written on success; untouched on failure.
 * report  [in] must be exactly 19 bytes; bytes 0..16 are read.
 * Returns true on success; false for any other length. Stateless. */
[[nodiscard]] inline bool parse_hid_game_controller_device(
    GameControllerState& state, std::span<const uint8_t> report) noexcept {
  if (report.size() > max_chunk) return false;
  return ::parse_hid_game_controller_device(&state, report.data(),
                                            static_cast<uint8_t>(report.size())) != 0;
}

/* Decodes a compatible-device input report into nine input values.
 * inputs  [out] all nine values written on success; untouched on failure.
 * report  [in] must be exactly 23 bytes, byte 0 being 0xFA; value k is read
 *         little-endian from bytes 4 + 2k and 5 + 2k.
 * Returns true on success; false for any other length or a byte 0 other
 * than 0xFA. Stateless. */
[[nodiscard]] inline bool parse_hid_compatible_device(InputValues& inputs,
                                                      std::span<const uint8_t> report) noexcept {
  if (report.size() > max_chunk) return false;
  return ::parse_hid_compatible_device(&inputs, report.data(),
                                       static_cast<uint8_t>(report.size())) != 0;
}

/* ------------------------------------------------------------- SBUS output */

/* Scales sixteen standard values into SBUS units.
 * sbus_values  [out] 16 values: floor(x * 1.706), at most 2047.
 * std_values   [in] 16 standard values; may view the same array as
 *              sbus_values. Stateless; cannot fail. */
inline void convert_std_sbus_data(
    std::span<uint16_t, sbus_channel_count> sbus_values,
    std::span<const uint16_t, sbus_channel_count> std_values) noexcept {
  ::convert_std_sbus_data(sbus_values.data(), std_values.data());
}

/* Packs sixteen channels into an SBUS frame with a zero end byte.
 * frame     [out] bytes 1..22 get the channels (11 bits each, least
 *           significant bit first, values above 2047 packed as 2047),
 *           bytes 23 and 24 become 0. Byte 0, the caller's start byte, is
 *           never touched.
 * channels  [in] 16 values. Stateless; cannot fail. */
inline void encode_sbus_data_v1(std::span<uint8_t, sbus_frame_size> frame,
                                std::span<const uint16_t, sbus_channel_count> channels) noexcept {
  ::encode_sbus_data_v1(frame.data(), channels.data());
}

/* Packs sixteen channels as encode_sbus_data_v1 does, with the SBUS2 end
 * byte: byte 24 cycles 0x04, 0x14, 0x24, 0x34 over successive calls. Byte 0
 * is never touched. Advances the library's process-wide counter (atomic);
 * C and C++ callers share it. */
inline void encode_sbus_data_v2(std::span<uint8_t, sbus_frame_size> frame,
                                std::span<const uint16_t, sbus_channel_count> channels) noexcept {
  ::encode_sbus_data_v2(frame.data(), channels.data());
}

}  // namespace zelkolink

#endif /* ZELKOLINK_HPP */
