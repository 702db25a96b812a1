// The simulator's --record file: every byte it writes to the host, in
// order, for decoding offline.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "tool_error.hpp"

namespace zelkolink_sim {

class Recorder {
 public:
  explicit Recorder(const std::optional<std::string>& path) {
    if (!path) return;
    file_.reset(std::fopen(path->c_str(), "wb"));
    if (!file_) {
      throw zelkolink_tools::ToolError(zelkolink_tools::kExitCannotOpen, "cannot create " + *path);
    }
  }
  void add(std::span<const uint8_t> bytes) {
    if (file_) std::fwrite(bytes.data(), 1, bytes.size(), file_.get());
  }
  // On disk before the next wait, so even a killed simulator leaves a record
  // of what the host has read.
  void flush() {
    if (file_) std::fflush(file_.get());
  }

 private:
  struct Closer {
    void operator()(std::FILE* file) const { std::fclose(file); }
  };
  std::unique_ptr<std::FILE, Closer> file_;
};

}  // namespace zelkolink_sim
