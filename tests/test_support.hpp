// Helpers shared by the test files: frame builders, random streams and the
// feeding strategies used against the process-wide port parser. The byte and
// record types and the record sentinels come with the whole-stream model.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "port_stream_model.hpp"
#include "zelkolink.h"

namespace zelkolink_test {

// A port frame: FA, command, little-endian length, payload, end byte.
inline Bytes port_frame(uint8_t command, const Bytes& payload, uint8_t end = kEnd) {
  // Sized first and filled in place: g++ 12 at -O3 reports a false
  // array-bounds error for an insert into a four-byte vector here.
  Bytes frame(payload.size() + 5);
  frame[0] = kStart;
  frame[1] = command;
  frame[2] = static_cast<uint8_t>(payload.size());
  frame[3] = static_cast<uint8_t>(payload.size() >> 8);
  std::copy(payload.begin(), payload.end(), frame.begin() + 4);
  frame.back() = end;
  return frame;
}

inline void append_le16(Bytes& bytes, uint16_t value) {
  bytes.push_back(static_cast<uint8_t>(value));
  bytes.push_back(static_cast<uint8_t>(value >> 8));
}

inline Bytes concat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

// Calls parse_port_data with a copy of the chunk in an exact-size heap block,
// so a sanitizer build catches any read past its end.
inline bool feed_chunk(const uint8_t* data, size_t len, InputValues* inputs,
                       ChannelValues* channels) {
  const Bytes chunk(data, data + len);
  const ZelkoLinkBool result =
      parse_port_data(chunk.data(), static_cast<uint8_t>(len), inputs, channels);
  EXPECT_TRUE(result == 0 || result == 1) << "result must be exactly 0 or 1";
  return result != 0;
}

// Chunk lengths that cover a stream of `total` bytes.
inline std::vector<size_t> even_cuts(size_t total, size_t size) {
  std::vector<size_t> cuts;
  for (size_t done = 0; done < total; done += size) cuts.push_back(std::min(size, total - done));
  return cuts;
}

inline std::vector<size_t> random_cuts(size_t total, std::mt19937& rng) {
  std::vector<size_t> cuts;
  std::uniform_int_distribution<size_t> size(1, ZELKOLINK_MAX_CHUNK);
  for (size_t done = 0; done < total;) {
    const size_t cut = std::min(size(rng), total - done);
    cuts.push_back(cut);
    done += cut;
  }
  return cuts;
}

// Feeds the stream in the given cuts; returns whether any call reported a frame.
inline bool feed(const Bytes& stream, const std::vector<size_t>& cuts, Records& records) {
  bool any = false;
  size_t offset = 0;
  for (const size_t cut : cuts) {
    any |= feed_chunk(stream.data() + offset, cut, &records.inputs, &records.channels);
    offset += cut;
  }
  return any;
}

// Random streams built from the pieces a real or hostile link carries.
inline Bytes random_stream(std::mt19937& rng) {
  const auto pick = [&](uint32_t n) { return static_cast<uint32_t>(rng() % n); };
  const auto random_bytes = [&](size_t n, bool dense_starts) {
    Bytes bytes(n);
    for (uint8_t& b : bytes) {
      b = static_cast<uint8_t>(rng());
      if (dense_starts && pick(4) == 0) b = kStart;
    }
    return bytes;
  };
  const auto record = [&]() {
    static constexpr size_t kNeeds[] = {19, 65, 95, 7};
    const uint8_t kind = static_cast<uint8_t>(pick(4));
    size_t size = kNeeds[kind];
    switch (pick(4)) {
      case 0:
        size -= 1 + pick(static_cast<uint32_t>(size));
        break;  // short
      case 1:
        size += pick(40);
        break;  // longer
      default:
        break;  // exact
    }
    Bytes bytes = random_bytes(size, false);
    if (!bytes.empty()) bytes[0] = kind;
    return bytes;
  };

  Bytes stream;
  const size_t pieces = 10 + pick(40);
  for (size_t k = 0; k < pieces; ++k) {
    Bytes piece;
    switch (pick(9)) {
      case 0:
      case 1:
      case 2:
        piece = port_frame(kUploadData, record());
        break;
      case 3:
        piece = port_frame(kUploadRequest, port_frame(kUploadData, record()));
        break;
      case 4:
        piece = port_frame(static_cast<uint8_t>(rng()),
                           concat({port_frame(kUploadData, record()), record()}));
        break;
      case 5:
        piece = random_bytes(pick(60), pick(2) == 0);
        break;
      case 6: {  // stray start byte with a small or a huge claimed length
        piece = {kStart, static_cast<uint8_t>(rng()), static_cast<uint8_t>(rng()),
                 static_cast<uint8_t>(pick(2) == 0 ? 0 : rng())};
        break;
      }
      case 7:
        piece = port_frame(kUploadData, record(), static_cast<uint8_t>(rng()));
        break;
      default: {  // the largest frames, and just past them
        Bytes big = record();
        big.resize(494 + pick(3), 0x5F);
        piece = port_frame(kUploadData, big);
        break;
      }
    }
    stream.insert(stream.end(), piece.begin(), piece.end());
  }
  return stream;
}

// Leaves the parser with nothing pending: 500 zero bytes finish any pending
// frame with a wrong end byte, and hold no start byte of their own.
inline void drain_parser() {
  const Bytes zeros(250, 0);
  Records scratch = sentinel_records();
  for (int k = 0; k < 2; ++k) {
    ASSERT_FALSE(feed_chunk(zeros.data(), zeros.size(), &scratch.inputs, &scratch.channels));
  }
}

// Every parser test starts and ends with an empty parser.
class PortParserTest : public ::testing::Test {
 protected:
  void SetUp() override { drain_parser(); }
  void TearDown() override { drain_parser(); }
};

}  // namespace zelkolink_test
