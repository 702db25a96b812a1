// Helpers shared by the fuzz targets: a check that stops the run, exact-size
// heap blocks so AddressSanitizer catches any access past a caller's buffer,
// and a reader that takes fixed-size fields off the front of an input.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

// Aborts with the failed condition: libFuzzer saves the input, the replay
// program and ctest report the failure.
#define FUZZ_CHECK(condition) \
  ((condition) ? static_cast<void>(0) : zelkolink_fuzz::fail(#condition, __FILE__, __LINE__))

namespace zelkolink_fuzz {

[[noreturn]] inline void fail(const char* condition, const char* file, int line) {
  std::fprintf(stderr, "%s:%d: check failed: %s\n", file, line, condition);
  std::fflush(stderr);
  std::abort();
}

// Exactly `count` elements on the heap, nothing more.
template <typename T>
std::unique_ptr<T[]> exact_block(size_t count) {
  return std::unique_ptr<T[]>(new T[count]);
}

// An exact-size heap copy of `size` bytes of `data`, zero past `available`.
inline std::unique_ptr<uint8_t[]> exact_copy(const uint8_t* data, size_t available, size_t size) {
  std::unique_ptr<uint8_t[]> block = exact_block<uint8_t>(size);
  std::memset(block.get(), 0, size);
  if (available != 0) std::memcpy(block.get(), data, std::min(available, size));
  return block;
}

// Takes fields off the front of the input; past its end every byte is zero.
class Reader {
 public:
  Reader(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  uint8_t byte() {
    if (size_ == 0) return 0;
    --size_;
    return *data_++;
  }

  uint16_t le16() {
    const uint8_t low = byte();
    return static_cast<uint16_t>(low | byte() << 8);
  }

  const uint8_t* rest() const { return data_; }
  size_t remaining() const { return size_; }

 private:
  const uint8_t* data_;
  size_t size_;
};

}  // namespace zelkolink_fuzz
