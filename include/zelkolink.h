/*
 * zelkolink.h - byte-level codecs for a device port link, HID input reports
 * and SBUS output.
 *
 * ZelkoLink turns raw bytes into filled records and records into raw bytes.
 * It performs no input or output, opens no device, never allocates, never
 * throws and never keeps a pointer past a call: the application reads and
 * writes its port and HID devices itself and owns every buffer and record
 * passed in. Each buffer must be at least as large as the function says.
 *
 * Three groups of functions, which share no code:
 *
 *   Port link     request_upload_port_data, stop_upload_port_data build the
 *                 two frames the host sends; parse_port_data reassembles the
 *                 frames the device sends back and decodes their upload
 *                 records into InputValues and ChannelValues.
 *   HID reports   parse_hid_game_controller_device (19-byte report) and
 *                 parse_hid_compatible_device (23-byte report).
 *   SBUS output   convert_std_sbus_data scales sixteen values into SBUS units;
 *                 encode_sbus_data_v1 / encode_sbus_data_v2 pack 25-byte
 *                 frames.
 *
 * Results: the three parse functions return 1 (true) or 0 (false) as a
 * ZelkoLinkBool, which is a 32-bit int on Linux and a single byte on Windows.
 * A parse function that returns false leaves the caller's records untouched.
 * Builders and converters return nothing and cannot fail.
 *
 * Thread safety: the library holds two pieces of process-wide state.
 *   - parse_port_data keeps a 500-byte reassembly buffer. It is NOT
 *     thread-safe: serialise its calls, and parse only one port stream per
 *     process (a second stream would be joined to the first one's bytes).
 *   - encode_sbus_data_v2 keeps a call counter that picks the end byte. It is
 *     advanced atomically, so concurrent callers each get a distinct step of
 *     the cycle, but their frames then interleave in no particular order.
 * Every other function keeps no state and is reentrant.
 *
 * Byte order: every multi-byte value on the port link, in upload records and
 * in HID reports is little-endian; records hold native 16-bit values.
 *
 * Null pointers never crash: a parse function given a null required pointer
 * returns false and changes nothing; a builder or converter given a null
 * pointer does nothing.
 *
 * See examples/port_stream.c for the typical road: request, parse loop, stop.
 */
#ifndef ZELKOLINK_H
#define ZELKOLINK_H

#include <stddef.h>
#include <stdint.h>

#define ZELKOLINK_VERSION_MAJOR 1
#define ZELKOLINK_VERSION_MINOR 0
#define ZELKOLINK_VERSION_PATCH 0
/* One number for #if comparisons: 10000 * major + 100 * minor + patch. */
#define ZELKOLINK_VERSION \
  (ZELKOLINK_VERSION_MAJOR * 10000 + ZELKOLINK_VERSION_MINOR * 100 + ZELKOLINK_VERSION_PATCH)

/* Buffer sizes, in bytes unless said otherwise. */
#define ZELKOLINK_REQUEST_FRAME_SIZE          7   /* request_upload_port_data output */
#define ZELKOLINK_STOP_FRAME_SIZE             5   /* stop_upload_port_data output */
#define ZELKOLINK_MAX_CHUNK                   255 /* largest chunk parse_port_data takes */
#define ZELKOLINK_INPUT_COUNT                 9   /* 16-bit values in InputValues */
#define ZELKOLINK_CHANNEL_COUNT               32  /* 16-bit values in ChannelValues */
#define ZELKOLINK_GAME_CONTROLLER_COUNT       11  /* 16-bit values in GameControllerState */
#define ZELKOLINK_GAME_CONTROLLER_REPORT_SIZE 19
#define ZELKOLINK_COMPATIBLE_REPORT_SIZE      23
#define ZELKOLINK_SBUS_CHANNEL_COUNT          16   /* 16-bit values in SbusChannels */
#define ZELKOLINK_SBUS_FRAME_SIZE             25   /* bytes in SbusFrame */
#define ZELKOLINK_SBUS_CHANNEL_MAX            2047 /* largest value in SBUS units */

/* Export macro and calling convention. Build the DLL with ZELKOLINK_BUILDING
 * defined; its users import the functions. On Linux everything but the
 * exported functions is hidden. */
#if defined(_WIN32)
#  if defined(ZELKOLINK_BUILDING)
#    define ZELKOLINK_API __declspec(dllexport)
#  else
#    define ZELKOLINK_API __declspec(dllimport)
#  endif
#  define ZELKOLINK_CALL __cdecl
/* Windows: the parse functions return a single byte, 1 or 0. */
typedef uint8_t ZelkoLinkBool;
#else
#  if defined(__GNUC__)
#    define ZELKOLINK_API __attribute__((visibility("default")))
#  else
#    define ZELKOLINK_API
#  endif
#  define ZELKOLINK_CALL
/* Linux: the parse functions return a 32-bit int, 1 or 0. */
typedef int32_t ZelkoLinkBool;
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Nine input values, positions 0..8, as consecutive 16-bit integers (18
 * bytes). Filled by upload records of kinds 0 and 2 and by the compatible
 * HID report. Values are stored as their 16-bit patterns. */
typedef struct InputValues {
  uint16_t value[ZELKOLINK_INPUT_COUNT];
} InputValues;

/* Thirty-two channel values, positions 0..31, as consecutive 16-bit integers
 * (64 bytes). Filled by upload records of kinds 1 and 2. */
typedef struct ChannelValues {
  uint16_t value[ZELKOLINK_CHANNEL_COUNT];
} ChannelValues;

/* Eleven values decoded from a game-controller report, positions 0..10, as
 * consecutive 16-bit integers (22 bytes). Positions 3..7 hold 12-bit values,
 * position 8 a 4-bit value and position 10 an 8-bit value, zero-extended. */
typedef struct GameControllerState {
  uint16_t value[ZELKOLINK_GAME_CONTROLLER_COUNT];
} GameControllerState;

/* Sixteen SBUS channel values, channel 0 first; 0..2047 in SBUS units. */
typedef uint16_t SbusChannels[ZELKOLINK_SBUS_CHANNEL_COUNT];

/* One 25-byte SBUS frame: byte 0 is the caller's start byte, bytes 1..22 the
 * sixteen 11-bit channels packed least significant bit first, byte 23 the
 * flags (always 0), byte 24 the end byte. */
typedef uint8_t SbusFrame[ZELKOLINK_SBUS_FRAME_SIZE];

/* ---------------------------------------------------------------- Port link
 * A port frame is: 0xFA, a command byte, a 16-bit little-endian payload
 * length L, L payload bytes, 0x5F. There is no checksum and no escaping. */

/* Builds the upload-request frame the host sends to start an upload.
 * frame          [out] at least 7 bytes; bytes 0..6 become
 *                FA E5 02 00 payload_byte0 payload_byte1 5F. Bytes from
 *                index 7 on are never touched. Null: nothing happens.
 * payload_byte0,
 * payload_byte1  [in] copied verbatim; the library gives them no meaning.
 * Keeps no state; cannot fail. */
ZELKOLINK_API void ZELKOLINK_CALL request_upload_port_data(uint8_t* frame, uint8_t payload_byte0,
                                                           uint8_t payload_byte1);

/* Builds the stop-upload frame the host sends to end an upload.
 * frame  [out] at least 5 bytes; bytes 0..4 become FA E4 00 00 5F. Bytes from
 *        index 5 on are never touched. Null: nothing happens.
 * Keeps no state; cannot fail. */
ZELKOLINK_API void ZELKOLINK_CALL stop_upload_port_data(uint8_t* frame);

/* Feeds one chunk of received port bytes to the stream parser.
 * data      [in] the chunk; exactly len bytes are read. Null: returns 0 and
 *           changes nothing, pending bytes included.
 * len       number of bytes in the chunk, 0..255; 0 does nothing.
 * inputs    [out] receives the input values of upload records of kinds 0
 *           and 2; may be null, then they are not stored.
 * channels  [out] receives the channel values of upload records of kinds 1
 *           and 2; may be null, then they are not stored.
 * Returns 1 when this call completed at least one upload-data frame (command
 * 0xA5) with a correct end byte, whatever its record kind or length;
 * otherwise 0, and then inputs and channels are untouched.
 *
 * Chunks may be cut anywhere: the parser keeps an incomplete trailing frame
 * in its own 500-byte buffer and finishes it on later calls. Every byte is
 * scanned, never dropped, so the records decoded do not depend on where the
 * stream was cut. When one call completes several frames they are decoded in
 * stream order into the same records; a record only writes the positions its
 * kind carries (kind 0: inputs; kind 1: channels; kind 2: both), so each
 * position holds the value of the last record that carried it. A record
 * shorter than its kind needs (kind 0: 19, kind 1: 65, kind 2: 95 payload
 * bytes) stores nothing, but its frame still counts as completed.
 * Frames with command 0xE5 are skipped whole; other commands are stepped over
 * one byte at a time, so frames nested in them are found. A frame whose end
 * byte is wrong is skipped by its claimed length; a 0xFA claiming a frame
 * longer than 500 bytes is an ordinary byte.
 *
 * NOT thread-safe: the reassembly buffer is process-wide and never reset.
 * Serialise calls, and parse one port stream per process. */
ZELKOLINK_API ZelkoLinkBool ZELKOLINK_CALL parse_port_data(const uint8_t* data, uint8_t len,
                                                           InputValues* inputs,
                                                           ChannelValues* channels);

/* ------------------------------------------------------------- HID reports */

/* Decodes a 19-byte game-controller input report.
 * state   [out] all eleven values are written on success; untouched on
 *         failure. Null: returns 0.
 * report  [in] the report bytes; bytes 0..16 are read, 17..18 are not.
 *         Null: returns 0.
 * len     the report length; anything but 19 returns 0.
 * Layout (little-endian): values 0, 1, 2 from bytes 0-1, 2-3, 4-5; values
 * 3 and 4 are 12-bit values packed in bytes 6-8, values 5 and 6 in bytes
 * 9-11 (first value in the low bits); value 7 is 12 bits from byte 12 and the
 * low nibble of byte 13, value 8 the high nibble of byte 13; value 9 from
 * bytes 14-15; value 10 is byte 16.
 * Returns 1 on success, else 0. Keeps no state; reentrant. */
ZELKOLINK_API ZelkoLinkBool ZELKOLINK_CALL
parse_hid_game_controller_device(GameControllerState* state, const uint8_t* report, uint8_t len);

/* Decodes a 23-byte compatible-device input report into nine input values.
 * inputs  [out] all nine values are written on success; untouched on
 *         failure. Null: returns 0.
 * report  [in] the report bytes: byte 0 must be 0xFA; value k is read
 *         little-endian from bytes 4 + 2k and 5 + 2k. Bytes 1..3 and 22 are
 *         neither tested nor read. Null: returns 0.
 * len     the report length; anything but 23 returns 0.
 * Returns 1 on success, else 0. Keeps no state; reentrant. */
ZELKOLINK_API ZelkoLinkBool ZELKOLINK_CALL parse_hid_compatible_device(InputValues* inputs,
                                                                       const uint8_t* report,
                                                                       uint8_t len);

/* ------------------------------------------------------------- SBUS output */

/* Scales sixteen standard values into SBUS units.
 * sbus_values  [out] 16 values: floor(x * 1.706), limited to 2047 (standard
 *              values 0..1200 span 0..2047; larger ones give 2047).
 * std_values   [in] 16 standard values. May be the same array as
 *              sbus_values.
 * Null in either: nothing happens. Keeps no state; reentrant. */
ZELKOLINK_API void ZELKOLINK_CALL convert_std_sbus_data(uint16_t* sbus_values,
                                                        const uint16_t* std_values);

/* Packs sixteen channels into an SBUS frame with a zero end byte.
 * frame     [out] 25 bytes; bytes 1..22 get the channels (11 bits each, least
 *           significant bit first), byte 23 = 0, byte 24 = 0. Byte 0 (the
 *           start byte, set by the caller) is never touched.
 * channels  [in] 16 values; any value above 2047 is packed as 2047, so no
 *           channel spills into another.
 * Null in either: nothing happens. Keeps no state; reentrant. */
ZELKOLINK_API void ZELKOLINK_CALL encode_sbus_data_v1(uint8_t* frame, const uint16_t* channels);

/* Packs sixteen channels into an SBUS frame with the cycling SBUS2 end byte.
 * Writes bytes 1..23 exactly as encode_sbus_data_v1, and byte 24 = 0x04,
 * 0x14, 0x24, 0x34 on successive calls, starting at 0x04 when the library is
 * loaded. The counter is process-wide and advanced atomically; calls of
 * encode_sbus_data_v1 never advance it. Byte 0 is never touched.
 * Null in either: nothing happens and the counter does not advance. */
ZELKOLINK_API void ZELKOLINK_CALL encode_sbus_data_v2(uint8_t* frame, const uint16_t* channels);

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* ZELKOLINK_H */
