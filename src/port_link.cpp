#include "port_link.hpp"

#include <algorithm>
#include <cstring>

#include "byte_order.hpp"

namespace zelkolink::port_link {

namespace {

// Upload record layouts: a kind byte, then little-endian 16-bit values at
// fixed payload offsets.
constexpr uint8_t KIND_INPUTS = 0;
constexpr uint8_t KIND_CHANNELS = 1;
constexpr uint8_t KIND_INPUTS_AND_CHANNELS = 2;
constexpr size_t INPUTS_OFFSET = 1;
constexpr size_t CHANNELS_OFFSET = 1;            // kind 1
constexpr size_t COMBINED_CHANNELS_OFFSET = 31;  // kind 2; bytes 19..30 are not read
constexpr size_t INPUTS_BYTES = sizeof(uint16_t) * ZELKOLINK_INPUT_COUNT;
constexpr size_t CHANNELS_BYTES = sizeof(uint16_t) * ZELKOLINK_CHANNEL_COUNT;
constexpr size_t KIND_INPUTS_LENGTH = INPUTS_OFFSET + INPUTS_BYTES;                            // 19
constexpr size_t KIND_CHANNELS_LENGTH = CHANNELS_OFFSET + CHANNELS_BYTES;                      // 65
constexpr size_t KIND_INPUTS_AND_CHANNELS_LENGTH = COMBINED_CHANNELS_OFFSET + CHANNELS_BYTES;  // 95

// The reassembly state, process-wide and zero at load. Between calls it is
// either empty or holds one incomplete frame, from its start byte on, at the
// front of buffer.
uint8_t buffer[PORT_BUFFER_SIZE];
uint16_t temp_buffer_len;

// What a scan reports back: where decoded values go, and whether an
// upload-data frame completed.
struct Sink {
  InputValues* inputs;
  ChannelValues* channels;
  bool completed;
};

// Copies what the parser moves: up to a few hundred bytes, with overlapping
// blocks instead of a call into the C library. Each block is read whole
// before it is written, so the blocks may overlap each other.
template <size_t Block>
inline void copy_block(uint8_t* to, const uint8_t* from) {
  uint8_t block[Block];
  std::memcpy(block, from, Block);
  std::memcpy(to, block, Block);
}

inline void copy_short(uint8_t* to, const uint8_t* from, size_t count) {
  if (count >= 16) {
    for (size_t at = 0; at + 16 < count; at += 16) copy_block<16>(to + at, from + at);
    copy_block<16>(to + count - 16, from + count - 16);
  } else if (count >= 8) {
    copy_block<8>(to, from);
    copy_block<8>(to + count - 8, from + count - 8);
  } else if (count >= 4) {
    copy_block<4>(to, from);
    copy_block<4>(to + count - 4, from + count - 4);
  } else {
    for (size_t at = 0; at < count; ++at) to[at] = from[at];
  }
}

void store_inputs(InputValues* inputs, const uint8_t* bytes) {
  if (inputs != nullptr) load_le16_array<ZELKOLINK_INPUT_COUNT>(inputs->value, bytes);
}

void store_channels(ChannelValues* channels, const uint8_t* bytes) {
  if (channels != nullptr) load_le16_array<ZELKOLINK_CHANNEL_COUNT>(channels->value, bytes);
}

// Decodes one upload record of payload_len bytes into the records that are
// not null. The decoder never reads past the payload: a record shorter than
// its kind needs stores nothing rather than half a record.
[[gnu::always_inline]] inline void decode_e5_func(const uint8_t* payload, size_t payload_len,
                                                  InputValues* inputs, ChannelValues* channels) {
  if (payload_len == 0) return;
  switch (payload[0]) {
    case KIND_INPUTS:
      if (payload_len >= KIND_INPUTS_LENGTH) store_inputs(inputs, payload + INPUTS_OFFSET);
      break;
    case KIND_CHANNELS:
      if (payload_len >= KIND_CHANNELS_LENGTH) store_channels(channels, payload + CHANNELS_OFFSET);
      break;
    case KIND_INPUTS_AND_CHANNELS:
      if (payload_len >= KIND_INPUTS_AND_CHANNELS_LENGTH) {
        store_inputs(inputs, payload + INPUTS_OFFSET);
        store_channels(channels, payload + COMBINED_CHANNELS_OFFSET);
      }
      break;
    default:
      break;  // a kind that carries nothing the library reads
  }
}

// Handles the complete frame at `frame` (payload_len + 5 bytes present) and
// returns how far the scan moves on. The end byte, not the length, proves a
// frame: a wrong one skips the claimed bytes unread. A command the host does
// not act on moves the scan one byte only, so frames nested in it are found.
[[gnu::always_inline]] inline size_t consume_frame(const uint8_t* frame, size_t payload_len,
                                                   Sink& sink) {
  const size_t frame_len = payload_len + FRAME_OVERHEAD;
  if (frame[frame_len - 1] != FRAME_END) return frame_len;
  switch (frame[1]) {
    case CMD_UPLOAD_DATA:
      decode_e5_func(frame + HEADER_SIZE, payload_len, sink.inputs, sink.channels);
      sink.completed = true;
      return frame_len;
    case CMD_UPLOAD_REQUEST:
      return frame_len;
    default:
      return 1;
  }
}

// Scans `len` contiguous bytes, consuming every complete frame and every
// byte that cannot start one. Returns the offset of the incomplete frame the
// bytes end with, or len when nothing is left over.
[[gnu::always_inline]] inline size_t scan(const uint8_t* bytes, size_t len, Sink& sink) {
  size_t pos = 0;
  while (pos < len) {
    if (bytes[pos] != FRAME_START) {
      const void* start = std::memchr(bytes + pos + 1, FRAME_START, len - pos - 1);
      if (start == nullptr) return len;
      pos = static_cast<size_t>(static_cast<const uint8_t*>(start) - bytes);
    }
    if (len - pos < HEADER_SIZE) return pos;
    const size_t payload_len = load_le16(bytes + pos + 2);
    if (payload_len > MAX_PAYLOAD) {
      // No frame this long could ever be held, so this 0xFA is an ordinary
      // byte; waiting for its end would block the stream for good.
      ++pos;
      continue;
    }
    if (len - pos < payload_len + FRAME_OVERHEAD) return pos;
    pos += consume_frame(bytes + pos, payload_len, sink);
  }
  return len;
}

// Finishes the pending frame with bytes from the front of the chunk, and
// whatever frames its bytes leave incomplete in turn. Returns how many chunk
// bytes it moved into the buffer; the buffer is empty afterwards unless the
// chunk ran out first, and then all of it is pending.
size_t finish_pending(const uint8_t* data, size_t len, Sink& sink) {
  size_t pending = temp_buffer_len;
  size_t used = 0;
  // Tops the pending bytes up to `want`; false when the chunk runs out first.
  const auto fill_to = [&](size_t want) {
    if (pending >= want) return true;
    const size_t take = std::min(want - pending, len - used);
    copy_short(buffer + pending, data + used, take);
    used += take;
    pending += take;
    return pending == want;
  };

  do {
    // buffer[0] is a start byte whose frame was incomplete.
    if (!fill_to(HEADER_SIZE)) break;
    const size_t payload_len = load_le16(buffer + 2);
    size_t step = 1;
    if (payload_len <= MAX_PAYLOAD) {
      if (!fill_to(payload_len + FRAME_OVERHEAD)) break;
      step = consume_frame(buffer, payload_len, sink);
    }
    // Bytes after the step are scanned again; what they leave incomplete
    // moves to the front and is finished from the chunk.
    const size_t tail = step + scan(buffer + step, pending - step, sink);
    if (tail != pending) std::memmove(buffer, buffer + tail, pending - tail);
    pending -= tail;
  } while (pending != 0);

  temp_buffer_len = static_cast<uint16_t>(pending);
  return used;
}

// Everything but a chunk that only extends the pending frame.
[[gnu::noinline]] bool parse_chunk(const uint8_t* data, size_t len, InputValues* inputs,
                                   ChannelValues* channels) {
  Sink sink{inputs, channels, false};
  size_t used = 0;
  if (temp_buffer_len != 0) {
    used = finish_pending(data, len, sink);
    if (temp_buffer_len != 0) return sink.completed;  // the whole chunk is pending
  }
  const size_t tail = used + scan(data + used, len - used, sink);
  copy_short(buffer, data + tail, len - tail);
  temp_buffer_len = static_cast<uint16_t>(len - tail);
  return sink.completed;
}

}  // namespace

void write_upload_request(uint8_t* frame, uint8_t payload_byte0, uint8_t payload_byte1) {
  const uint8_t bytes[ZELKOLINK_REQUEST_FRAME_SIZE] = {
      FRAME_START, CMD_UPLOAD_REQUEST, 2, 0, payload_byte0, payload_byte1, FRAME_END};
  std::memcpy(frame, bytes, sizeof bytes);
}

void write_upload_stop(uint8_t* frame) {
  const uint8_t bytes[ZELKOLINK_STOP_FRAME_SIZE] = {FRAME_START, CMD_UPLOAD_STOP, 0, 0, FRAME_END};
  std::memcpy(frame, bytes, sizeof bytes);
}

// The stream is the pending bytes followed by the chunk. The chunk is scanned
// where it lies; only the bytes needed to finish the pending frame are copied
// behind it, and only an incomplete tail is kept. Since every pending frame
// fits the buffer, no byte is ever refused, and the outcome does not depend on
// how the stream was cut.
bool parse(const uint8_t* data, size_t len, InputValues* inputs, ChannelValues* channels) {
  const size_t pending = temp_buffer_len;
  if (pending >= HEADER_SIZE) {
    // While a long frame arrives in short reads, most calls only extend it:
    // that path stays free of the scan's set-up.
    const size_t frame_len = load_le16(buffer + 2) + FRAME_OVERHEAD;
    if (pending + len < frame_len && frame_len <= PORT_BUFFER_SIZE) {
      copy_short(buffer + pending, data, len);
      temp_buffer_len = static_cast<uint16_t>(pending + len);
      return false;
    }
  }
  return parse_chunk(data, len, inputs, channels);
}

}  // namespace zelkolink::port_link
