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

constexpr uint8_t kNoInputs = 1;      // pass null for the inputs record
constexpr uint8_t kNoChannels = 2;    // pass null for the channels record
constexpr uint8_t kEmptyCalls = 4;    // a zero-length and a null-data call before each chunk

// Reports whether a parse call completed a frame; its result must be 0 or 1.
bool parse(const uint8_t* data, size_t len, InputValues* inputs, ChannelValues* channels) {
  const ZelkoLinkBool result = parse_port_data(data, static_cast<uint8_t>(len), inputs, channels);
  FUZZ_CHECK(result == 0 || result == 1);
  return result == 1;
}

// The parser is process-wide and never reset: 500 zero bytes finish any frame
// the previous input left pending, with a wrong end byte, and hold no start
// byte of their own, so each input starts from an empty parser.
void drain_parser() {
  const std::unique_ptr<uint8_t[]> zeros = zelkolink_fuzz::exact_copy(nullptr, 0, 250);
  for (int k = 0; k < 2; ++k) FUZZ_CHECK(!parse(zeros.get(), 250, nullptr, nullptr));
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
  const std::unique_ptr<uint8_t[]> nothing = zelkolink_fuzz::exact_block<uint8_t>(0);

  size_t offset = 0;
  size_t next = 0;  // first completion not yet reported
  for (size_t call = 0; offset < stream.size(); ++call) {
    const size_t len = std::min(cuts[call % cuts.size()], stream.size() - offset);
    if ((options & kEmptyCalls) != 0) {
      FUZZ_CHECK(!parse(nothing.get(), 0, records.inputs.get(), records.channels.get()));
      FUZZ_CHECK(!parse(nullptr, len, records.inputs.get(), records.channels.get()));
      FUZZ_CHECK(records.match(model));
    }

    offset += len;
    bool expected = false;
    for (; next < completions.size() && completions[next].known_at <= offset; ++next) {
      zelkolink_test::model_decode(completions[next].payload, model);
      expected = true;
    }
    const std::unique_ptr<uint8_t[]> chunk =
        zelkolink_fuzz::exact_copy(stream.data() + offset - len, len, len);
    FUZZ_CHECK(parse(chunk.get(), len, records.inputs.get(), records.channels.get()) == expected);
    FUZZ_CHECK(records.match(model));
  }
  return 0;
}
