// The C++ layer of zelkolink.hpp: its overloads must do exactly what the C
// functions do, never cut a long span down to an 8-bit length, and its
// stream feeder must decode what 255-byte C calls decode.
#include <array>
#include <type_traits>

#include "test_support.hpp"
#include "zelkolink.hpp"

namespace zelkolink_test {
namespace {

// The views carry each record's size as their extent.
static_assert(decltype(zelkolink::values(std::declval<const InputValues&>()))::extent == 9);
static_assert(decltype(zelkolink::values(std::declval<const ChannelValues&>()))::extent == 32);
static_assert(decltype(zelkolink::values(std::declval<const GameControllerState&>()))::extent ==
              11);
static_assert(std::is_same_v<decltype(zelkolink::values(std::declval<const InputValues&>())[0]),
                             const uint16_t&>);

Bytes random_bytes(std::mt19937& rng, size_t size) {
  Bytes bytes(size);
  for (uint8_t& b : bytes) b = static_cast<uint8_t>(rng());
  return bytes;
}

template <typename Record>
bool views_its_own_storage(Record& record) {
  const auto view = zelkolink::values(record);
  const auto const_view = zelkolink::values(static_cast<const Record&>(record));
  for (size_t k = 0; k < view.size(); ++k) {
    if (&view[k] != &record.value[k] || &const_view[k] != &record.value[k]) return false;
  }
  return view.size() == std::size(record.value) && const_view.size() == view.size();
}

TEST(CppRecordViews, ViewTheWholeRecordInPlace) {
  Records records = sentinel_records();
  GameControllerState state{};
  EXPECT_TRUE(views_its_own_storage(records.inputs));
  EXPECT_TRUE(views_its_own_storage(records.channels));
  EXPECT_TRUE(views_its_own_storage(state));
}

TEST(CppCommandFrames, MatchTheCFunctions) {
  for (const auto& [byte0, byte1] :
       {std::pair<uint8_t, uint8_t>{0x01, 0x02}, {0xFA, 0x5F}, {0, 0xFF}}) {
    std::array<uint8_t, ZELKOLINK_REQUEST_FRAME_SIZE> from_cpp;
    std::array<uint8_t, ZELKOLINK_REQUEST_FRAME_SIZE> from_c;
    from_cpp.fill(0xCC);
    from_c.fill(0x33);
    zelkolink::request_upload_port_data(from_cpp, byte0, byte1);
    request_upload_port_data(from_c.data(), byte0, byte1);
    EXPECT_EQ(from_cpp, from_c) << int{byte0} << ", " << int{byte1};
  }
  uint8_t stop_from_cpp[ZELKOLINK_STOP_FRAME_SIZE] = {0xCC, 0xCC, 0xCC, 0xCC, 0xCC};
  std::array<uint8_t, ZELKOLINK_STOP_FRAME_SIZE> stop_from_c{};
  zelkolink::stop_upload_port_data(stop_from_cpp);
  stop_upload_port_data(stop_from_c.data());
  EXPECT_TRUE(std::equal(stop_from_c.begin(), stop_from_c.end(), stop_from_cpp));
}

// ------------------------------------------------------------ HID reports

TEST(CppHidReports, RightLengthsMatchTheCFunctions) {
  std::mt19937 rng(31);
  for (int round = 0; round < 200; ++round) {
    const Bytes controller = random_bytes(rng, ZELKOLINK_GAME_CONTROLLER_REPORT_SIZE);
    GameControllerState from_cpp{};
    GameControllerState from_c{};
    ASSERT_TRUE(zelkolink::parse_hid_game_controller_device(from_cpp, controller));
    ASSERT_EQ(parse_hid_game_controller_device(&from_c, controller.data(), 19), 1);
    ASSERT_EQ(std::memcmp(&from_cpp, &from_c, sizeof from_c), 0) << "round " << round;

    Bytes compatible = random_bytes(rng, ZELKOLINK_COMPATIBLE_REPORT_SIZE);
    if (round % 2 == 0) compatible[0] = kStart;  // the other half mostly fails
    Records cpp = sentinel_records();
    Records c = sentinel_records();
    ASSERT_EQ(zelkolink::parse_hid_compatible_device(cpp.inputs, compatible),
              parse_hid_compatible_device(&c.inputs, compatible.data(), 23) != 0);
    ASSERT_TRUE(cpp == c) << "round " << round;
  }
}

// Each report is a valid one followed by filler, so only its length can make
// it fail; lengths whose low byte is 19 or 23 must not pass for valid ones.
TEST(CppHidReports, EveryOtherLengthIsWrongEvenPast255) {
  struct LengthCase {
    size_t size;
    bool controller_ok;
    bool compatible_ok;
  };
  const LengthCase cases[] = {
      {19, true, false},         {23, false, true},        {0, false, false},
      {18, false, false},        {20, false, false},       {22, false, false},
      {24, false, false},        {255, false, false},      {256, false, false},
      {256 + 19, false, false},  {256 + 23, false, false}, {512 + 19, false, false},
      {4096 + 23, false, false},
  };
  for (const LengthCase& c : cases) {
    Bytes report(c.size, 0x11);
    if (!report.empty()) report[0] = kStart;
    GameControllerState state{};
    state.value[0] = kSentinel;
    Records records = sentinel_records();
    EXPECT_EQ(zelkolink::parse_hid_game_controller_device(state, report), c.controller_ok)
        << c.size;
    EXPECT_EQ(state.value[0], c.controller_ok ? 0x11FA : kSentinel) << c.size;
    EXPECT_EQ(zelkolink::parse_hid_compatible_device(records.inputs, report), c.compatible_ok)
        << c.size;
    EXPECT_EQ(records.inputs.value[0], c.compatible_ok ? 0x1111 : kSentinel) << c.size;
  }
}

// ------------------------------------------------------------- SBUS output

using Channels16 = std::array<uint16_t, ZELKOLINK_SBUS_CHANNEL_COUNT>;
using Frame = std::array<uint8_t, ZELKOLINK_SBUS_FRAME_SIZE>;

Frame blank_frame() {
  Frame frame;
  frame.fill(0xEE);
  frame[0] = 0x0F;
  return frame;
}

TEST(CppSbus, ConvertAndEncodeMatchTheCFunctions) {
  std::mt19937 rng(32);
  for (int round = 0; round < 500; ++round) {
    Channels16 standard;
    for (uint16_t& value : standard)
      value = static_cast<uint16_t>(rng() % (round % 2 ? 65536 : 1300));
    Channels16 from_cpp;
    Channels16 from_c;
    zelkolink::convert_std_sbus_data(from_cpp, standard);
    convert_std_sbus_data(from_c.data(), standard.data());
    ASSERT_EQ(from_cpp, from_c) << "round " << round;
    Channels16 in_place = standard;
    zelkolink::convert_std_sbus_data(in_place, in_place);
    ASSERT_EQ(in_place, from_c) << "round " << round;

    Frame frame_cpp = blank_frame();
    Frame frame_c = blank_frame();
    zelkolink::encode_sbus_data_v1(frame_cpp, standard);  // unconverted: exercises the 2047 limit
    encode_sbus_data_v1(frame_c.data(), standard.data());
    ASSERT_EQ(frame_cpp, frame_c) << "round " << round;
  }
}

// C and C++ callers share one end-byte cycle: alternating calls take
// successive steps, and the rest of the frame is the v1 frame.
TEST(CppSbus, V2SharesTheCycleWithTheCFunction) {
  const Channels16 channels{1, 2, 3, 2047, 1024, 0, 77, 1500, 9, 10, 11, 12, 13, 14, 15, 16};
  Frame v1 = blank_frame();
  encode_sbus_data_v1(v1.data(), channels.data());
  Frame frame = blank_frame();
  encode_sbus_data_v2(frame.data(), channels.data());
  uint8_t previous = frame[24];
  for (int call = 0; call < 8; ++call) {
    frame = blank_frame();
    if (call % 2 == 0) {
      zelkolink::encode_sbus_data_v2(frame, channels);
    } else {
      encode_sbus_data_v2(frame.data(), channels.data());
    }
    EXPECT_TRUE(std::equal(v1.begin(), v1.begin() + 24, frame.begin())) << call;
    EXPECT_EQ(frame[24], 0x04 + (previous - 0x04 + 0x10) % 0x40) << call;
    previous = frame[24];
  }
}

// --------------------------------------------------------------- port link

// An upload frame holding a record of the given kind with random values.
// Built by hand rather than with port_frame: g++ 12 at -O3 reports a false
// array-bounds error when that copy is inlined with these constant sizes.
Bytes upload_frame(std::mt19937& rng, uint8_t kind) {
  static constexpr uint8_t kRecordSize[] = {19, 65, 95};
  const uint8_t size = kRecordSize[kind];
  Bytes frame{kStart, kUploadData, size, 0, kind};
  for (size_t k = 1; k < size; ++k) frame.push_back(static_cast<uint8_t>(rng()));
  frame.push_back(kEnd);
  return frame;
}

// Over 10000 bytes of upload frames of all three kinds and noise. The first
// frame ends exactly at byte 256, one byte past the first 255-byte piece.
Bytes long_stream() {
  std::mt19937 rng(33);
  const Bytes first = upload_frame(rng, 2);
  Bytes stream(256 - first.size(), 0x11);
  stream.insert(stream.end(), first.begin(), first.end());
  while (stream.size() < 10000) {
    const Bytes frame = upload_frame(rng, static_cast<uint8_t>(rng() % 3));
    Bytes noise = random_bytes(rng, rng() % 40);
    std::replace(noise.begin(), noise.end(), kStart, uint8_t{0});
    stream.insert(stream.end(), frame.begin(), frame.end());
    stream.insert(stream.end(), noise.begin(), noise.end());
  }
  return stream;
}

TEST_F(PortParserTest, FeederDecodesWhat255ByteCallsDecode) {
  const Bytes stream = long_stream();
  struct SizeCase {
    size_t size;
    bool completes;  // whether the prefix holds a whole frame, which the test relies on
  };
  const SizeCase cases[] = {{0, false},  {1, false},   {255, false},
                            {256, true}, {4096, true}, {10000, true}};
  for (const SizeCase& c : cases) {
    const Bytes prefix(stream.begin(), stream.begin() + static_cast<ptrdiff_t>(c.size));
    drain_parser();
    Records expected = sentinel_records();
    const bool expected_result =
        feed(prefix, even_cuts(prefix.size(), ZELKOLINK_MAX_CHUNK), expected);
    ASSERT_EQ(expected_result, c.completes) << c.size;

    drain_parser();
    Records records = sentinel_records();
    EXPECT_EQ(zelkolink::feed_port_stream(prefix, &records.inputs, &records.channels),
              expected_result)
        << c.size;
    EXPECT_TRUE(records == expected) << c.size;
  }
}

TEST_F(PortParserTest, FeederReportsAFrameCompletedBeforeItsLastPiece) {
  std::mt19937 rng(34);
  const Bytes stream = concat({upload_frame(rng, 0), Bytes(600, 0x22)});
  Records records = sentinel_records();
  EXPECT_TRUE(zelkolink::feed_port_stream(stream, &records.inputs, nullptr));
  EXPECT_EQ(records.inputs.value[0], stream[5] | stream[6] << 8);
  EXPECT_EQ(records.channels.value[0], kSentinel);
}

TEST_F(PortParserTest, ChunkOverloadNeverDropsBytesPast255) {
  std::mt19937 rng(35);
  const Bytes frame = upload_frame(rng, 1);
  const Bytes stream = concat({Bytes(300, 0x33), frame});
  Records records = sentinel_records();
  EXPECT_TRUE(zelkolink::parse_port_data(stream, &records.inputs, &records.channels));
  EXPECT_EQ(records.channels.value[31], frame[4 + 63] | frame[4 + 64] << 8);
  EXPECT_FALSE(zelkolink::parse_port_data(std::span<const uint8_t>{}, nullptr, nullptr));
}

// A connection cut anywhere in a frame (of any length the parser keeps, its
// payload full of start bytes), then a reset and a new connection's frame:
// exactly the new frame's values, and nothing decoded by the reset itself.
TEST_F(PortParserTest, ResetLeavesNoPartOfACutConnection) {
  std::mt19937 rng(36);
  const Bytes next = upload_frame(rng, 2);
  const Records expected = [&] {
    drain_parser();
    Records records = sentinel_records();
    zelkolink::feed_port_stream(next, &records.inputs, &records.channels);
    return records;
  }();
  for (const size_t length : {size_t{0}, size_t{3}, size_t{95}, size_t{250}, size_t{495}}) {
    Bytes old{kStart, static_cast<uint8_t>(length % 2 ? kUploadData : 0x11),
              static_cast<uint8_t>(length), static_cast<uint8_t>(length >> 8)};
    for (size_t k = 0; k < length; ++k) old.push_back(rng() % 3 ? kStart : uint8_t(rng()));
    old.push_back(kEnd);
    for (size_t cut = 0; cut < old.size(); ++cut) {
      drain_parser();
      zelkolink::feed_port_stream(std::span(old).first(cut), nullptr, nullptr);
      Records records = sentinel_records();
      zelkolink::reset_port_parser();
      EXPECT_FALSE(zelkolink::feed_port_stream(std::span(next).first(next.size() - 1),
                                               &records.inputs, &records.channels))
          << length << " cut at " << cut;
      EXPECT_TRUE(records == sentinel_records()) << length << " cut at " << cut;
      EXPECT_TRUE(
          zelkolink::feed_port_stream(std::span(next).last(1), &records.inputs, &records.channels))
          << length << " cut at " << cut;
      EXPECT_TRUE(records == expected) << length << " cut at " << cut;
    }
  }
}

}  // namespace
}  // namespace zelkolink_test
