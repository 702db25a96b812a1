// Captures in process: pcapng written and read back in either byte order,
// what the reader refuses and what it reads anyway, the framer behind
// --stats against the parser's whole-stream model, the link summary of a
// hand-made capture, and a capture file that cannot be written.
#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <string>

#include "capture_file.hpp"
#include "capture_reads.hpp"
#include "capture_stats.hpp"
#include "pcapng.hpp"
#include "port_framer.hpp"
#include "test_support.hpp"
#include "tool_error.hpp"

namespace zelkolink_test {
namespace {

using zelkolink_tools::ToolError;
using zelkolink_tools::pcapng::Direction;
namespace pcapng = zelkolink_tools::pcapng;

struct Block {
  uint32_t interface;
  uint64_t microseconds;
  Direction direction;
  Bytes data;
};

const std::vector<Block> kBlocks{
    {0, 1700000000000000, Direction::out, {0xFA, 0xE5, 0x02, 0x00, 0x01, 0x00, 0x5F}},
    {0, 1700000000000250, Direction::in, {}},
    {1, 1700000000001000, Direction::in, {1, 2, 3}},
    {0, 1700000000002000, Direction::in, Bytes(255, 0xFA)},
    {1, 1700000000003000, Direction::out, {9, 8, 7, 6}},
};

Bytes capture_of(const std::vector<Block>& blocks) {
  Bytes file;
  pcapng::append_section_header(file, "capture_test");
  pcapng::append_interface(file, "/dev/ttyUSB0", "115200 8N1");
  pcapng::append_interface(file, "COM3", "9600 8N1");
  for (const Block& b : blocks) {
    pcapng::append_packet(file, b.interface, b.microseconds, b.direction, b.data);
  }
  return file;
}

struct Reading {
  std::vector<Block> blocks;
  std::string fault;
  std::vector<std::string> notes;
};

Reading read_all(const Bytes& file) {
  Reading reading;
  pcapng::Reader reader(file);
  pcapng::Packet packet;
  while (reader.next(packet)) {
    reading.blocks.push_back({packet.interface, static_cast<uint64_t>(packet.nanoseconds / 1000),
                              packet.direction, Bytes(packet.data.begin(), packet.data.end())});
  }
  reading.fault = reader.fault();
  reading.notes = reader.notes();
  return reading;
}

bool operator==(const Block& a, const Block& b) {
  return a.interface == b.interface && a.microseconds == b.microseconds &&
         a.direction == b.direction && a.data == b.data;
}

// Walks a little-endian capture and swaps every field this writer uses, so
// the same capture reads as if written on a big-endian machine.
Bytes big_endian(Bytes file) {
  const auto swap = [&](std::size_t at, std::size_t size) {
    std::reverse(file.begin() + static_cast<std::ptrdiff_t>(at),
                 file.begin() + static_cast<std::ptrdiff_t>(at + size));
  };
  const auto u32 = [&](std::size_t at) {
    return uint32_t{file[at]} | uint32_t{file[at + 1]} << 8 | uint32_t{file[at + 2]} << 16 |
           uint32_t{file[at + 3]} << 24;
  };
  for (std::size_t at = 0; at < file.size();) {
    const uint32_t type = u32(at);
    const uint32_t length = u32(at + 4);
    std::size_t options = 0;
    if (type == 0x0A0D0D0A) {
      swap(at + 8, 4);
      swap(at + 12, 2);
      swap(at + 14, 2);
      swap(at + 16, 8);
      options = at + 24;
    } else if (type == 1) {
      swap(at + 8, 2);
      swap(at + 12, 4);
      options = at + 16;
    } else {
      const uint32_t captured = u32(at + 20);
      for (std::size_t field = 8; field < 28; field += 4) swap(at + field, 4);
      options = at + 28 + ((captured + 3) & ~3u);
    }
    while (options < at + length - 4) {
      const std::size_t size = file[options + 2] | std::size_t{file[options + 3]} << 8;
      const bool flags = type == 6 && file[options] == 2 && file[options + 1] == 0;
      swap(options, 2);
      swap(options + 2, 2);
      if (flags) swap(options + 4, 4);
      options += 4 + ((size + 3) & ~std::size_t{3});
    }
    swap(at, 4);
    swap(at + 4, 4);
    swap(at + length - 4, 4);
    at += length;
  }
  return file;
}

TEST(Pcapng, WrittenBlocksReadBackInEitherByteOrder) {
  const Bytes file = capture_of(kBlocks);
  for (const auto& [order, bytes] :
       {std::pair{"little-endian", file}, std::pair{"big-endian", big_endian(file)}}) {
    SCOPED_TRACE(order);
    const Reading reading = read_all(bytes);
    EXPECT_EQ(reading.fault, "");
    EXPECT_TRUE(reading.notes.empty());
    EXPECT_TRUE(reading.blocks == kBlocks);
  }
  EXPECT_NE(big_endian(file), file);
}

// A block appended to a capture: type, length, body and the length again.
Bytes with_block(Bytes file, uint32_t type, const Bytes& body,
                 std::optional<uint32_t> length = std::nullopt) {
  const uint32_t total = length.value_or(static_cast<uint32_t>(body.size() + 12));
  for (const uint32_t value : {type, total}) {
    for (int k = 0; k < 4; ++k) file.push_back(static_cast<uint8_t>(value >> (8 * k)));
  }
  file.insert(file.end(), body.begin(), body.end());
  for (int k = 0; k < 4; ++k) file.push_back(static_cast<uint8_t>(total >> (8 * k)));
  return file;
}

std::size_t u32_at(const Bytes& file, std::size_t at) {
  return file[at] | std::size_t{file[at + 1]} << 8 | std::size_t{file[at + 2]} << 16 |
         std::size_t{file[at + 3]} << 24;
}

// Where capture_of's first interface block starts: after the section header.
std::size_t first_interface_at(const Bytes& file) { return u32_at(file, 4); }

TEST(Pcapng, RefusesWhatItCannotRead) {
  const Bytes good = capture_of(kBlocks);
  const std::size_t interface = first_interface_at(good);
  struct Case {
    const char* name;
    std::function<Bytes()> file;
    const char* fault;
  };
  const std::vector<Case> cases{
      {"empty", [] { return Bytes{}; }, "empty, not a pcapng capture"},
      {"raw bytes",
       [] {
         return Bytes{0xFA, 0xA5, 0x13, 0x00};
       },
       "not a pcapng capture"},
      {"wrong link type",
       [&] {
         Bytes file = good;
         file[interface + 8] = 1;  // Ethernet
         return file;
       },
       "interface 0 has link type 1, not the port link's 147"},
      {"zero length", [&] { return with_block(good, 6, {}, 0); }, "length 0 is not a multiple"},
      {"length not a multiple of 4",
       [&] {
         Bytes file = good;
         file[interface + 4] = 13;
         return file;
       },
       "length 13 is not a multiple of 4"},
      {"lengths that differ",
       [&] {
         Bytes file = good;
         file[interface + u32_at(good, interface + 4) - 4] ^= 4;
         return file;
       },
       "differs from its length at the start"},
      {"packet on an undescribed interface",
       [&] {
         Bytes body(20, 0);
         body[0] = 7;
         return with_block(good, 6, body);
       },
       "a packet on interface 7, which was never described"},
      {"packet longer than its block",
       [&] {
         Bytes body(20, 0);
         body[12] = 200;
         return with_block(good, 6, body);
       },
       "a packet of 200 bytes that does not fit its block"},
      {"pcapng version 2",
       [&] {
         Bytes file = good;
         file[12] = 2;
         return file;
       },
       "pcapng version 2, not 1"},
  };
  for (const Case& c : cases) {
    const Reading reading = read_all(c.file());
    EXPECT_NE(reading.fault.find(c.fault), std::string::npos)
        << c.name << ": fault '" << reading.fault << "'";
  }
  // The tools name the file and exit with 2 for each of these.
  try {
    zelkolink_tools::read_capture(Bytes{1, 2, 3, 4}, "raw.bin");
    ADD_FAILURE() << "raw bytes read as a capture";
  } catch (const ToolError& error) {
    EXPECT_EQ(error.exit_status(), zelkolink_tools::kExitBadUsage);
    EXPECT_STREQ(error.what(), "raw.bin: not a pcapng capture");
  }
}

TEST(Pcapng, ReadsWhatItCanAndSaysWhatIsMissing) {
  const Bytes good = capture_of(kBlocks);
  // A last block cut short: every complete block, then a note of where.
  Bytes cut = good;
  cut.resize(cut.size() - 3);
  const std::size_t last = good.size() - u32_at(good, good.size() - 4);
  Reading reading = read_all(cut);
  EXPECT_EQ(reading.fault, "");
  EXPECT_TRUE(reading.blocks == std::vector<Block>(kBlocks.begin(), kBlocks.end() - 1));
  ASSERT_EQ(reading.notes.size(), 1u);
  EXPECT_EQ(reading.notes[0], "the capture ends inside a block at byte " + std::to_string(last) +
                                  "; every complete block before it was read");

  // A block of an unknown type is stepped over without a word.
  reading = read_all(with_block(good, 0x0BAD, Bytes(8, 0xEE)));
  EXPECT_EQ(reading.fault, "");
  EXPECT_TRUE(reading.notes.empty());
  EXPECT_EQ(reading.blocks.size(), kBlocks.size());

  // Packets cut to a snap length, and one longer than its interface allows:
  // the bytes there are used, and each is said once.
  Bytes snapped = good;
  snapped[first_interface_at(good) + 12] = 2;  // snap length 2
  Bytes body(24, 0);
  body[12] = 4;   // captured 4
  body[16] = 10;  // on the wire 10
  reading = read_all(with_block(snapped, 6, body));
  EXPECT_EQ(reading.fault, "");
  EXPECT_EQ(reading.blocks.back().data, Bytes(4, 0));
  ASSERT_EQ(reading.notes.size(), 2u);
  EXPECT_EQ(reading.notes[0],
            "1 packet(s) were cut to a snap length when captured; 6 byte(s) "
            "are missing");
  EXPECT_NE(reading.notes[1].find("longer than their interface's snap length"), std::string::npos);
}

TEST(Pcapng, TimestampsInEveryResolution) {
  for (const auto& [resolution, units, nanoseconds] :
       {std::tuple{uint8_t{6}, uint64_t{1500}, int64_t{1500000}},
        std::tuple{uint8_t{9}, uint64_t{1500}, int64_t{1500}},
        std::tuple{uint8_t{3}, uint64_t{2}, int64_t{2000000}},
        std::tuple{uint8_t{0x80 | 10}, uint64_t{1024}, int64_t{1000000000}}}) {
    Bytes file;
    pcapng::append_section_header(file, "t");
    Bytes interface { 147, 0, 0, 0, 0, 0, 0, 0, 9, 0, 1, 0, resolution, 0, 0, 0, 0, 0, 0, 0 };
    file = with_block(file, 1, interface);
    Bytes packet(20, 0);
    for (std::size_t k = 0; k < 4; ++k) packet[8 + k] = static_cast<uint8_t>(units >> (8 * k));
    file = with_block(file, 6, packet);
    pcapng::Reader reader(file);
    pcapng::Packet read;
    ASSERT_TRUE(reader.next(read)) << reader.fault();
    EXPECT_EQ(read.nanoseconds, nanoseconds) << "if_tsresol " << int{resolution};
    EXPECT_EQ(read.direction, Direction::in) << "no epb_flags: inbound";
  }
}

// --------------------------------------------------------------- framer

TEST(PortFramer, FindsTheFramesOfTheWholeStreamModelHoweverCut) {
  for (uint32_t seed = 1; seed <= 150; ++seed) {
    std::mt19937 rng(seed);
    const Bytes stream = random_stream(rng);
    const std::vector<Completion> completions = model_completions(stream);
    for (const std::vector<size_t>& cuts :
         {std::vector<size_t>{stream.size()}, even_cuts(stream.size(), 1),
          random_cuts(stream.size(), rng)}) {
      std::vector<Bytes> uploads;
      std::size_t framed = 0;
      std::size_t noise = 0;
      zelkolink_tools::PortFramer framer(
          [&](const zelkolink_tools::FramedFrame& frame) {
            framed += frame.payload.size() + 5;
            if (!frame.corrupt && frame.command == kUploadData) {
              uploads.emplace_back(frame.payload.begin(), frame.payload.end());
            }
          },
          [&](std::size_t count) { noise += count; });
      std::size_t offset = 0;
      for (const size_t cut : cuts) {
        framer.feed(std::span(stream).subspan(offset, cut));
        offset += cut;
      }
      ASSERT_EQ(uploads.size(), completions.size()) << "seed " << seed;
      for (std::size_t k = 0; k < uploads.size(); ++k) {
        ASSERT_EQ(uploads[k], completions[k].payload) << "seed " << seed << ", frame " << k;
      }
      ASSERT_EQ(framed + noise + framer.pending(), stream.size()) << "seed " << seed;
    }
  }
}

// ---------------------------------------------------------------- stats

TEST(LinkStats, SummarisesAHandMadeCapture) {
  const Bytes kind2(95, 0x02);
  const Bytes kind0(19, 0x00);
  const std::vector<Bytes> reads{
      concat({{1, 2, 3}, port_frame(kUploadData, kind2)}),       // 3 noise bytes
      port_frame(kUploadData, kind0),                            // 10 ms later
      concat({port_frame(kUploadData, kind2, 0x5E), {0xFA}}),    // corrupt, then a start byte
      concat({{0xA5, 0x00, 0x00, 0x5F}, port_frame(0x42, {})}),  // an empty upload frame, 0x42
      port_frame(kUploadData, kind2),
  };
  const std::vector<int> times_ms{5, 15, 20, 45, 50};
  const Bytes request{0xFA, 0xE5, 0x02, 0x00, 0x01, 0x00, 0x5F};
  std::vector<zelkolink_tools::CapturedRead> captured{
      {std::chrono::milliseconds(0), Direction::out, request}};
  for (std::size_t k = 0; k < reads.size(); ++k) {
    captured.push_back({std::chrono::milliseconds(times_ms[k]), Direction::in, reads[k]});
  }
  const zelkolink_dump::LinkStats stats = zelkolink_dump::link_stats(captured);
  EXPECT_DOUBLE_EQ(stats.duration_s, 0.050);
  EXPECT_EQ(stats.reads_out, 1u);
  EXPECT_EQ(stats.bytes_out, 7u);
  EXPECT_EQ(stats.reads_in, 5u);
  EXPECT_EQ(stats.frame_count, 4u);
  EXPECT_EQ(stats.frames, (std::map<int, uint64_t>{{-1, 1}, {0, 1}, {2, 2}}));
  EXPECT_EQ(stats.corrupt_frames, 1u);
  // 3 before the first frame, and the 0x42 frame: its start byte is stepped
  // over and the rest holds no start byte. The corrupt frame is a frame.
  EXPECT_EQ(stats.noise_bytes, 3u + 5u);
  ASSERT_TRUE(stats.gaps.has_value());
  EXPECT_DOUBLE_EQ(stats.gaps->max_ms, 30.0);  // 15 ms to the empty frame at 45 ms
  EXPECT_DOUBLE_EQ(stats.gaps->max_at_s, 0.045);
  EXPECT_DOUBLE_EQ(stats.gaps->p50_ms, 10.0);  // gaps 10, 30, 5
  EXPECT_DOUBLE_EQ(stats.gaps->p99_ms, 30.0);

  std::ostringstream json;
  zelkolink_dump::write_stats(json, stats, zelkolink_dump::OutputFormat::json, "c.pcapng");
  EXPECT_EQ(json.str(),
            R"({"duration_s":0.050000,"reads_in":5,"bytes_in":)" + std::to_string(stats.bytes_in) +
                R"(,"reads_out":1,"bytes_out":7,"frames":{"empty":1,"0":1,"2":2},)"
                R"("frames_per_s":80.000,"noise_bytes":8,"corrupt_frames":1,)"
                R"("gap_ms":{"p50":10.000,"p99":30.000,"max":30.000,"max_at_s":0.045000}})"
                "\n");
}

// ------------------------------------------------------------ the file

TEST(CaptureFile, SaysWhichFileCannotBeCreatedOrWritten) {
  try {
    zelkolink_tools::CaptureFile missing("/nonexistent-folder/c.pcapng", "t");
    ADD_FAILURE() << "created a capture in a folder that does not exist";
  } catch (const ToolError& error) {
    EXPECT_EQ(error.exit_status(), zelkolink_tools::kExitCannotOpen);
    EXPECT_STREQ(error.what(),
                 "cannot create capture /nonexistent-folder/c.pcapng: No such file or directory");
  }
  zelkolink_tools::CaptureFile full("/dev/full", "t");
  const uint32_t port = full.add_port("p", "115200 8N1");
  full.record(port, Direction::in, Bytes(10, 1));  // kept in memory: nothing fails yet
  EXPECT_NO_THROW(full.check());
  try {
    full.close();
    ADD_FAILURE() << "a full disk went unreported";
  } catch (const ToolError& error) {
    EXPECT_EQ(error.exit_status(), zelkolink_tools::kExitBadInput);
    EXPECT_STREQ(error.what(), "cannot write capture /dev/full: No space left on device");
  }
  EXPECT_NO_THROW(full.close()) << "reported once";
}

}  // namespace
}  // namespace zelkolink_test
