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

// Exactly `count` elements on the heap, nothing more; `count` is not zero.
template <typename T>
std::unique_ptr<T[]> exact_block(size_t count) {
  return std::unique_ptr<T[]>(new T[count]);
}

// Bytes in a heap block that ends exactly where they end, a copy of the
// first `size` bytes of `from` (zero past `available`). AddressSanitizer does
// not guard a zero-size allocation, so an empty one points just past a
// one-byte block instead.
class ExactBytes {
 public:
  ExactBytes(const uint8_t* from, size_t available, size_t size)
      : block_(exact_block<uint8_t>(size == 0 ? 1 : size)), data_(block_.get() + (size == 0)) {
    std::memset(data_, 0, size);
    if (available != 0) std::memcpy(data_, from, std::min(available, size));
  }
  explicit ExactBytes(size_t size) : ExactBytes(nullptr, 0, size) {}

  uint8_t* data() const { return data_; }
  uint8_t& operator[](size_t at) const { return data_[at]; }

 private:
  std::unique_ptr<uint8_t[]> block_;
  uint8_t* data_;
};

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
