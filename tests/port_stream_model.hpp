// A whole-stream model of the port parser, shared by the port-link tests and
// the port-stream fuzzer: the byte and record types both use, and a reading
// of an entire stream at once that says which upload records a parser must
// decode and after how many stream bytes it can report each of them.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "zelkolink.h"

namespace zelkolink_test {

using Bytes = std::vector<uint8_t>;

inline constexpr uint8_t kStart = 0xFA;
inline constexpr uint8_t kEnd = 0x5F;
inline constexpr uint8_t kUploadData = 0xA5;
inline constexpr uint8_t kUploadRequest = 0xE5;
inline constexpr uint16_t kSentinel = 0xA55A;  // marks record positions nobody wrote

struct Records {
  InputValues inputs;
  ChannelValues channels;
};

inline Records sentinel_records() {
  Records records;
  for (uint16_t& value : records.inputs.value) value = kSentinel;
  for (uint16_t& value : records.channels.value) value = kSentinel;
  return records;
}

inline bool operator==(const Records& a, const Records& b) {
  return std::memcmp(&a.inputs, &b.inputs, sizeof a.inputs) == 0 &&
         std::memcmp(&a.channels, &b.channels, sizeof a.channels) == 0;
}

// A whole-stream model of the parser: each upload-data frame's payload, and
// how many stream bytes must have arrived before a parser can report it. That
// is the frame's end, or later when an enclosing frame's end byte had to be
// seen first to decide that the scan steps into it. The model sees the entire
// stream at once, so it cannot depend on cuts.
struct Completion {
  size_t known_at;
  Bytes payload;
};

inline std::vector<Completion> model_completions(const Bytes& s) {
  std::vector<Completion> out;
  size_t p = 0;
  size_t seen = 0;  // the furthest byte any decision so far has needed
  while (p < s.size()) {
    if (s[p] != kStart) {
      ++p;
      continue;
    }
    if (p + 4 > s.size()) break;
    seen = std::max(seen, p + 4);
    const size_t length = s[p + 2] | size_t{s[p + 3]} << 8;
    if (length + 5 > 500) {
      ++p;
      continue;
    }
    const size_t end = p + length + 5;
    if (end > s.size()) break;
    seen = std::max(seen, end);
    if (s[end - 1] != kEnd) {
      p = end;
    } else if (s[p + 1] == kUploadData) {
      out.push_back({seen, Bytes(s.begin() + static_cast<ptrdiff_t>(p) + 4,
                                 s.begin() + static_cast<ptrdiff_t>(end) - 1)});
      p = end;
    } else if (s[p + 1] == kUploadRequest) {
      p = end;
    } else {
      ++p;
    }
  }
  return out;
}

inline void model_decode(const Bytes& payload, Records& r) {
  const auto value = [&](size_t at) {
    return static_cast<uint16_t>(payload[at] | payload[at + 1] << 8);
  };
  if (payload.empty()) return;
  const uint8_t kind = payload[0];
  if ((kind == 0 && payload.size() >= 19) || (kind == 2 && payload.size() >= 95)) {
    for (size_t k = 0; k < 9; ++k) r.inputs.value[k] = value(1 + 2 * k);
  }
  if (kind == 1 && payload.size() >= 65) {
    for (size_t k = 0; k < 32; ++k) r.channels.value[k] = value(1 + 2 * k);
  }
  if (kind == 2 && payload.size() >= 95) {
    for (size_t k = 0; k < 32; ++k) r.channels.value[k] = value(31 + 2 * k);
  }
}

}  // namespace zelkolink_test
