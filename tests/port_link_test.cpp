// Port link: command frames, upload records and the stream parser, checked
// through the exported functions only.
#include <array>
#include <numeric>
#include <optional>
#include <string>

#include "test_support.hpp"

namespace zelkolink_test {
namespace {

using Inputs = std::array<uint16_t, ZELKOLINK_INPUT_COUNT>;
using Channels = std::array<uint16_t, ZELKOLINK_CHANNEL_COUNT>;

Inputs inputs_from(uint16_t first) {
  Inputs values;
  std::iota(values.begin(), values.end(), first);
  return values;
}

Channels channels_from(uint16_t first) {
  Channels values;
  for (size_t k = 0; k < values.size(); ++k) values[k] = static_cast<uint16_t>(first + 0x0101 * k);
  return values;
}

Bytes kind0_record(const Inputs& inputs) {
  Bytes record{0};
  for (const uint16_t value : inputs) append_le16(record, value);
  return record;
}

Bytes kind1_record(const Channels& channels) {
  Bytes record{1};
  for (const uint16_t value : channels) append_le16(record, value);
  return record;
}

// Kind 2: inputs in bytes 1..18, twelve unread bytes 19..30, channels from 31.
Bytes kind2_record(const Inputs& inputs, const Channels& channels) {
  Bytes record{2};
  for (const uint16_t value : inputs) append_le16(record, value);
  for (uint8_t k = 0; k < 12; ++k) record.push_back(static_cast<uint8_t>(0xC0 + k));
  for (const uint16_t value : channels) append_le16(record, value);
  return record;
}

Bytes upload(const Bytes& record) { return port_frame(kUploadData, record); }

Bytes truncated(Bytes record, size_t size) {
  record.resize(size);
  return record;
}

Bytes drop_front(const Bytes& bytes, size_t count) {
  return Bytes(bytes.begin() + static_cast<ptrdiff_t>(count), bytes.end());
}

Records expect(std::optional<Inputs> inputs, std::optional<Channels> channels) {
  Records records = sentinel_records();
  if (inputs) std::copy(inputs->begin(), inputs->end(), records.inputs.value);
  if (channels) std::copy(channels->begin(), channels->end(), records.channels.value);
  return records;
}

// ------------------------------------------------------------ command frames

TEST(CommandFrames, RequestWritesSevenBytesVerbatim) {
  const std::array<std::array<uint8_t, 2>, 4> payloads{
      {{0x01, 0x02}, {0xFA, 0x5F}, {0, 0}, {0xFF, 0xFF}}};
  for (const auto& payload : payloads) {
    std::array<uint8_t, 12> frame;
    frame.fill(0xCC);
    request_upload_port_data(frame.data(), payload[0], payload[1]);
    const std::array<uint8_t, 12> expected{0xFA, 0xE5, 0x02, 0x00, payload[0], payload[1],
                                           0x5F, 0xCC, 0xCC, 0xCC, 0xCC,       0xCC};
    EXPECT_EQ(frame, expected) << "payload " << int{payload[0]} << ", " << int{payload[1]};
  }
}

TEST(CommandFrames, StopWritesFiveBytes) {
  std::array<uint8_t, 8> frame;
  frame.fill(0xCC);
  stop_upload_port_data(frame.data());
  const std::array<uint8_t, 8> expected{0xFA, 0xE4, 0x00, 0x00, 0x5F, 0xCC, 0xCC, 0xCC};
  EXPECT_EQ(frame, expected);
}

TEST(CommandFrames, NullFrameIsIgnored) {
  request_upload_port_data(nullptr, 1, 2);
  stop_upload_port_data(nullptr);
}

TEST(CommandFrames, RequestFrameIsSkippedByTheParser) {
  // The host's own request echoed back must not count as data.
  drain_parser();
  std::array<uint8_t, ZELKOLINK_REQUEST_FRAME_SIZE> frame;
  request_upload_port_data(frame.data(), 0xA5, 0x5F);
  Records records = sentinel_records();
  EXPECT_FALSE(feed_chunk(frame.data(), frame.size(), &records.inputs, &records.channels));
  EXPECT_TRUE(records == sentinel_records());
  drain_parser();
}

// ------------------------------------------------- streams, fed three ways

struct StreamCase {
  std::string name;
  Bytes stream;
  bool reported;
  Records expected;
};

std::vector<StreamCase> stream_cases() {
  const Inputs in1 = inputs_from(1);
  const Inputs in2 = inputs_from(0x1234);
  const Channels ch1 = channels_from(0x0100);
  const Channels ch2 = channels_from(0x8001);
  const Bytes nested = upload(kind0_record(in1));
  const Bytes good = upload(kind1_record(ch1));
  Bytes kind0_long = kind0_record(in1);
  kind0_long.resize(30, 0x77);

  return {
      {"kind 0 example from the wire",
       {0xFA, 0xA5, 0x13, 0x00, 0x00, 0x00, 0x01, 0x01, 0x01, 0x02, 0x01, 0x03,
        0x01, 0x04, 0x01, 0x05, 0x01, 0x06, 0x01, 0x07, 0x01, 0x08, 0x01, 0x5F},
       true,
       expect(Inputs{0x0100, 0x0101, 0x0102, 0x0103, 0x0104, 0x0105, 0x0106, 0x0107, 0x0108},
              std::nullopt)},
      {"kind 0 stores inputs only", upload(kind0_record(in1)), true, expect(in1, std::nullopt)},
      {"kind 1 stores channels only", upload(kind1_record(ch1)), true, expect(std::nullopt, ch1)},
      {"kind 2 stores both and skips bytes 19..30", upload(kind2_record(in2, ch2)), true,
       expect(in2, ch2)},
      {"kind 0 ignores bytes past 19", upload(kind0_long), true, expect(in1, std::nullopt)},
      {"kind 3 is reported and stores nothing", upload({3, 1, 2, 3, 4}), true, expect({}, {})},
      {"empty upload frame is reported", {0xFA, 0xA5, 0x00, 0x00, 0x5F}, true, expect({}, {})},
      {"short kind 0 stores nothing", upload(truncated(kind0_record(in1), 18)), true,
       expect({}, {})},
      {"short kind 1 stores nothing", upload(truncated(kind1_record(ch1), 64)), true,
       expect({}, {})},
      {"short kind 2 stores nothing", upload(truncated(kind2_record(in1, ch1), 94)), true,
       expect({}, {})},
      {"request frame is skipped whole", port_frame(kUploadRequest, nested), false, expect({}, {})},
      {"frame nested in another command is found", port_frame(0x42, nested), true,
       expect(in1, std::nullopt)},
      {"stop command nested frame is found", port_frame(0xE4, nested), true,
       expect(in1, std::nullopt)},
      {"garbage before a frame is dropped", concat({{0x00, 0x5F, 0xA5, 0x13, 0xFF}, nested}), true,
       expect(in1, std::nullopt)},
      {"noise alone reports nothing", Bytes(300, 0x11), false, expect({}, {})},
      {"two frames: the second wins",
       concat({upload(kind0_record(in1)), upload(kind0_record(in2))}), true,
       expect(in2, std::nullopt)},
      {"kinds merge into the same records",
       concat({upload(kind2_record(in1, ch1)), upload(kind0_record(in2))}), true, expect(in2, ch1)},
      {"bad end byte skips the claimed span", concat({port_frame(0x42, nested, 0x00), good}), true,
       expect(std::nullopt, ch1)},
      {"bad end byte hides a frame inside it",
       concat({{0xFA, 0x01, static_cast<uint8_t>(nested.size() + 2), 0x00, 0x01, 0x02},
               nested,
               {0x00, 0x00}}),
       false, expect({}, {})},
      {"start byte claiming a huge frame is an ordinary byte",
       concat({{0xFA, 0x00, 0xFF, 0xFF}, nested}), true, expect(in1, std::nullopt)},
      {"start byte claiming 496 payload bytes is an ordinary byte",
       concat({{0xFA, 0x00, 0xF0, 0x01}, nested}), true, expect(in1, std::nullopt)},
      {"start byte inside a decoded payload is not a frame",
       // The outer frame's payload ends with the first five bytes of a kind-0
       // frame whose sixth byte, 0x5F, is the outer end byte; rescanning
       // inside the outer frame would decode inputs 0x5F5F...
       concat({upload(concat({kind0_record(in1), {0xFA, 0xA5, 0x13, 0x00, 0x00}})),
               drop_front(upload(kind0_record(inputs_from(0x5F5F))), 6)}),
       true, expect(in1, std::nullopt)},
  };
}

TEST_F(PortParserTest, StreamCasesGiveTheSameRecordsHoweverCut) {
  std::mt19937 rng(7);
  for (const StreamCase& c : stream_cases()) {
    const std::vector<std::pair<std::string, std::vector<size_t>>> strategies{
        {"whole", even_cuts(c.stream.size(), ZELKOLINK_MAX_CHUNK)},
        {"byte by byte", even_cuts(c.stream.size(), 1)},
        {"random cuts", random_cuts(c.stream.size(), rng)},
        {"random cuts again", random_cuts(c.stream.size(), rng)},
    };
    for (const auto& [strategy, cuts] : strategies) {
      drain_parser();
      Records records = sentinel_records();
      EXPECT_EQ(feed(c.stream, cuts, records), c.reported) << c.name << ", " << strategy;
      EXPECT_TRUE(records == c.expected) << c.name << ", " << strategy;
    }
  }
}

TEST_F(PortParserTest, NullRecordsAreAccepted) {
  const Bytes frame = upload(kind2_record(inputs_from(5), channels_from(6)));
  ChannelValues channels{};
  EXPECT_TRUE(feed_chunk(frame.data(), frame.size(), nullptr, &channels));
  EXPECT_EQ(channels.value[31], channels_from(6)[31]);
  InputValues inputs{};
  EXPECT_TRUE(feed_chunk(frame.data(), frame.size(), &inputs, nullptr));
  EXPECT_EQ(inputs.value[8], 13);
  EXPECT_TRUE(feed_chunk(frame.data(), frame.size(), nullptr, nullptr));
}

TEST_F(PortParserTest, SplitAfterAnyByteCompletesOnTheSecondChunk) {
  const Inputs in = inputs_from(0x0100);
  const Bytes frame = concat({{0x33, 0x44}, upload(kind0_record(in))});
  for (size_t cut = 1; cut < frame.size(); ++cut) {
    drain_parser();
    Records records = sentinel_records();
    EXPECT_FALSE(feed_chunk(frame.data(), cut, &records.inputs, &records.channels)) << cut;
    EXPECT_TRUE(records == sentinel_records()) << cut;
    EXPECT_TRUE(
        feed_chunk(frame.data() + cut, frame.size() - cut, &records.inputs, &records.channels))
        << cut;
    EXPECT_TRUE(records == expect(in, std::nullopt)) << cut;
  }
}

TEST_F(PortParserTest, EmptyAndNullChunksChangeNothing) {
  const Inputs in = inputs_from(40);
  const Bytes frame = upload(kind0_record(in));
  Records records = sentinel_records();
  EXPECT_FALSE(feed_chunk(frame.data(), 10, &records.inputs, &records.channels));
  EXPECT_EQ(parse_port_data(nullptr, 0, &records.inputs, &records.channels), 0);
  EXPECT_EQ(parse_port_data(nullptr, 200, &records.inputs, &records.channels), 0);
  EXPECT_EQ(parse_port_data(frame.data(), 0, &records.inputs, &records.channels), 0);
  // The pending ten bytes are still there: the rest completes the frame.
  EXPECT_TRUE(feed_chunk(frame.data() + 10, frame.size() - 10, &records.inputs, &records.channels));
  EXPECT_TRUE(records == expect(in, std::nullopt));
}

// A 401-byte frame with 300 bytes pending is completed by one 255-byte chunk:
// nothing is refused for want of room.
TEST_F(PortParserTest, FullChunkAfterLongPendingFrameIsNotLost) {
  const Inputs in = inputs_from(900);
  const Channels ch = channels_from(0x0203);
  Bytes record = kind2_record(in, ch);
  record.resize(396, 0xEE);
  const Inputs in_next = inputs_from(77);
  const Bytes stream = concat({upload(record), upload(kind0_record(in_next)), Bytes(200, 0x01)});
  ASSERT_EQ(upload(record).size(), 401u);

  Records records = sentinel_records();
  EXPECT_FALSE(feed_chunk(stream.data(), 255, &records.inputs, &records.channels));
  EXPECT_FALSE(feed_chunk(stream.data() + 255, 45, &records.inputs, &records.channels));
  // 300 pending; this chunk finishes the long frame and carries the next one.
  EXPECT_TRUE(feed_chunk(stream.data() + 300, 255, &records.inputs, &records.channels));
  EXPECT_TRUE(records == expect(in_next, ch));
}

TEST_F(PortParserTest, ChunkFillingTheBufferExactlyIsAccepted) {
  const Channels ch = channels_from(0x0A0B);
  Bytes record = kind1_record(ch);
  record.resize(495, 0x5F);  // the largest frame the parser can hold: 500 bytes
  const Bytes frame = upload(record);
  Records records = sentinel_records();
  EXPECT_FALSE(feed_chunk(frame.data(), 245, &records.inputs, &records.channels));
  EXPECT_TRUE(feed_chunk(frame.data() + 245, 255, &records.inputs, &records.channels));
  EXPECT_TRUE(records == expect(std::nullopt, ch));
}

// Whatever a stray start byte claims, frames after its claimed span are found.
TEST_F(PortParserTest, StrayStartBytesNeverBlockTheStream) {
  const Inputs in = inputs_from(3000);
  const std::vector<Bytes> strays{{0xFA},
                                  {0xFA, 0x00},
                                  {0xFA, 0x00, 0xEF, 0x01},
                                  {0xFA, 0x00, 0xF0, 0x01},
                                  {0xFA, 0x11, 0xFF, 0xFF}};
  for (const Bytes& stray : strays) {
    drain_parser();
    const Bytes stream = concat({stray, Bytes(600, 0x00), upload(kind0_record(in))});
    Records records = sentinel_records();
    EXPECT_TRUE(feed(stream, even_cuts(stream.size(), ZELKOLINK_MAX_CHUNK), records))
        << stray.size();
    EXPECT_TRUE(records == expect(in, std::nullopt)) << stray.size();
  }
}

TEST_F(PortParserTest, EachCallReportsOnlyFramesItCompleted) {
  const Bytes a = upload(kind0_record(inputs_from(1)));
  const Bytes b = upload(kind0_record(inputs_from(2)));
  const Bytes stream = concat({a, b});
  Records records = sentinel_records();
  // First call ends one byte short of frame a; the next byte completes it;
  // the third call holds frame b without its end byte.
  EXPECT_FALSE(feed_chunk(stream.data(), a.size() - 1, &records.inputs, &records.channels));
  EXPECT_TRUE(feed_chunk(stream.data() + a.size() - 1, 1, &records.inputs, &records.channels));
  EXPECT_FALSE(
      feed_chunk(stream.data() + a.size(), b.size() - 1, &records.inputs, &records.channels));
  EXPECT_TRUE(records == expect(inputs_from(1), std::nullopt));
  EXPECT_TRUE(feed_chunk(stream.data() + stream.size() - 1, 1, &records.inputs, &records.channels));
  EXPECT_TRUE(records == expect(inputs_from(2), std::nullopt));
}

// --------------------------------------------------------- property test

TEST_F(PortParserTest, RandomStreamsMatchTheWholeStreamModelHoweverCut) {
  for (uint32_t seed = 1; seed <= 150; ++seed) {
    std::mt19937 rng(seed);
    const Bytes stream = random_stream(rng);
    const std::vector<Completion> completions = model_completions(stream);
    const std::vector<std::pair<const char*, std::vector<size_t>>> strategies{
        {"255-byte chunks", even_cuts(stream.size(), ZELKOLINK_MAX_CHUNK)},
        {"one byte at a time", even_cuts(stream.size(), 1)},
        {"random cuts", random_cuts(stream.size(), rng)},
    };
    for (const auto& [strategy, cuts] : strategies) {
      drain_parser();
      Records actual = sentinel_records();
      Records model = sentinel_records();
      size_t offset = 0;
      size_t next = 0;
      size_t call = 0;
      for (const size_t cut : cuts) {
        offset += cut;
        bool expected = false;
        for (; next < completions.size() && completions[next].known_at <= offset; ++next) {
          model_decode(completions[next].payload, model);
          expected = true;
        }
        const bool reported =
            feed_chunk(stream.data() + offset - cut, cut, &actual.inputs, &actual.channels);
        ASSERT_EQ(reported, expected) << "seed " << seed << ", " << strategy << ", call " << call;
        ASSERT_TRUE(actual == model) << "seed " << seed << ", " << strategy << ", call " << call;
        ++call;
      }
    }
  }
}

}  // namespace
}  // namespace zelkolink_test
