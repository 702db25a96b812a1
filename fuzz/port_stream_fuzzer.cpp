// Port stream parser: the input chooses where the stream is cut, and every
// call's result and records must equal what the whole-stream model says a
// parser knows after that many bytes. Chunks and records sit in exact-size
// heap blocks, so any access outside them stops the run.
//
// Input: byte 0 holds option bits, byte 1 the number of cut bytes that
// follow; each cut byte is a chunk length (0 means 255), used in turn and
// over again until the stream, the rest of the input, is fed.
#include <vector>

#include "fuzz_support.hpp"
#include "port_stream_model.hpp"
#include "zelkolink.h"

namespace {

using zelkolink_test::Bytes;
using zelkolink_test::Records;

constexpr uint8_t kNoInputs = 1;    // pass null for the inputs record
constexpr uint8_t kNoChannels = 2;  // pass null for the channels record
constexpr uint8_t kEmptyCalls = 4;  // a zero-length and a null-data call before each chunk

// Reports whether a parse call completed a frame; its result must be 0 or 1.
bool parse(const uint8_t* data, size_t len, InputValues* inputs, ChannelValues* channels) {
  const ZelkoLinkBool result = parse_port_data(data, static_cast<uint8_t>(len), inputs, channels);
  FUZZ_CHECK(result == 0 || result == 1);
  return result == 1;
}

// The parser is process-wide and never reset: 500 zero bytes finish any
// pending frame, with a wrong end byte, and hold no start byte of their own,
// so they leave it empty.
void drain_parser() {
  const zelkolink_fuzz::ExactBytes zeros(250);
  for (int k = 0; k < 2; ++k) FUZZ_CHECK(!parse(zeros.data(), 250, nullptr, nullptr));
}

// After the drain, a lone kind-0 upload frame must be decoded at once: the
// stream just fed left nothing behind that blocks or shifts the next bytes.
void check_parser_recovers() {
  const uint8_t frame[] = {0xFA, 0xA5, 19, 0,  // upload data, 19 payload bytes
                           0,                  // kind 0: inputs 0x0201, 0x0403, ...
                           1,    2,    3,  4,  5,  6,  7,  8,  9,   10,
                           11,   12,   13, 14, 15, 16, 17, 18, 0x5F};
  const zelkolink_fuzz::ExactBytes chunk(frame, sizeof frame, sizeof frame);
  const auto inputs = std::make_unique<InputValues>();
  FUZZ_CHECK(parse(chunk.data(), sizeof frame, inputs.get(), nullptr));
  for (size_t k = 0; k < ZELKOLINK_INPUT_COUNT; ++k) {
    FUZZ_CHECK(inputs->value[k] == (2 * k + 1) + (2 * k + 2) * 256);
  }
}

// The caller's records, each in a heap block of exactly its size, or null.
struct CallerRecords {
  std::unique_ptr<InputValues> inputs;
  std::unique_ptr<ChannelValues> channels;

  CallerRecords(uint8_t options, const Records& start) {
    if ((options & kNoInputs) == 0) inputs = std::make_unique<InputValues>(start.inputs);
    if ((options & kNoChannels) == 0) channels = std::make_unique<ChannelValues>(start.channels);
  }

  // Compares every position of each record passed in with the model's.
  bool match(const Records& model) const {
    return (!inputs || std::memcmp(inputs.get(), &model.inputs, sizeof model.inputs) == 0) &&
           (!channels || std::memcmp(channels.get(), &model.channels, sizeof model.channels) == 0);
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  zelkolink_fuzz::Reader reader(data, size);
  const uint8_t options = reader.byte();
  std::vector<size_t> cuts(reader.byte());
  for (size_t& cut : cuts) {
    const uint8_t byte = reader.byte();
    cut = byte == 0 ? ZELKOLINK_MAX_CHUNK : byte;
  }
  if (cuts.empty()) cuts.push_back(ZELKOLINK_MAX_CHUNK);
  const Bytes stream(reader.rest(), reader.rest() + reader.remaining());

  drain_parser();
  const std::vector<zelkolink_test::Completion> completions =
      zelkolink_test::model_completions(stream);
  Records model = zelkolink_test::sentinel_records();
  CallerRecords records(options, model);
  const zelkolink_fuzz::ExactBytes nothing(0);

  size_t offset = 0;
  size_t next = 0;  // first completion not yet reported
  for (size_t call = 0; offset < stream.size(); ++call) {
    const size_t len = std::min(cuts[call % cuts.size()], stream.size() - offset);
    if ((options & kEmptyCalls) != 0) {
      FUZZ_CHECK(!parse(nothing.data(), 0, records.inputs.get(), records.channels.get()));
      FUZZ_CHECK(!parse(nullptr, len, records.inputs.get(), records.channels.get()));
      FUZZ_CHECK(records.match(model));
    }

    offset += len;
    bool expected = false;
    for (; next < completions.size() && completions[next].known_at <= offset; ++next) {
      zelkolink_test::model_decode(completions[next].payload, model);
      expected = true;
    }
    const zelkolink_fuzz::ExactBytes chunk(stream.data() + offset - len, len, len);
    FUZZ_CHECK(parse(chunk.data(), len, records.inputs.get(), records.channels.get()) == expected);
    FUZZ_CHECK(records.match(model));
  }

  // Whatever this stream left pending is checked here, not by the next input.
  drain_parser();
  check_parser_recovers();
  return 0;
}
