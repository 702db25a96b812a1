#include "capture_file.hpp"

#include <cerrno>
#include <cstring>

#include "tool_error.hpp"

namespace zelkolink_tools {
namespace {

// Blocks held in memory at most: a fast link still reaches the file in
// large writes, and a slow disk cannot make the tool grow without bound.
constexpr std::size_t kMostPending = std::size_t{256} * 1024;

}  // namespace

CaptureFile::CaptureFile(std::string path, std::string_view application,
                         std::chrono::milliseconds write_every)
    : path_(std::move(path)),
      file_(std::fopen(path_.c_str(), "wb")),
      wall_start_(std::chrono::system_clock::now()),
      start_(std::chrono::steady_clock::now()),
      last_write_(start_),
      write_every_(write_every) {
  if (!file_) {
    throw ToolError(kExitCannotOpen,
                    "cannot create capture " + path_ + ": " + std::strerror(errno));
  }
  pcapng::append_section_header(pending_, application);
}

CaptureFile::~CaptureFile() {
  if (file_ && !failure_) std::fwrite(pending_.data(), 1, pending_.size(), file_.get());
}

uint32_t CaptureFile::add_port(std::string_view name, std::string_view description) {
  pcapng::append_interface(pending_, name, description);
  return ports_++;
}

void CaptureFile::record(uint32_t port, pcapng::Direction direction,
                         std::span<const uint8_t> bytes) {
  if (failure_ || !file_) return;
  const auto now = std::chrono::steady_clock::now();
  const auto since_1970 = wall_start_.time_since_epoch() + (now - start_);
  const auto microseconds = std::chrono::duration_cast<std::chrono::microseconds>(since_1970);
  pcapng::append_packet(pending_, port, static_cast<uint64_t>(microseconds.count()), direction,
                        bytes);
  if (now - last_write_ >= write_every_ || pending_.size() >= kMostPending) write_out();
}

void CaptureFile::flush_if_due() {
  if (failure_ || !file_) return;
  if (std::chrono::steady_clock::now() - last_write_ >= write_every_) write_out();
}

void CaptureFile::check() {
  if (!failure_ || reported_) return;
  reported_ = true;
  throw input_error("cannot write capture " + path_ + ": " + *failure_);
}

void CaptureFile::close() {
  if (file_) {
    if (!failure_) write_out();
    if (std::fclose(file_.release()) != 0 && !failure_) fail(errno);
  }
  check();
}

void CaptureFile::write_out() {
  last_write_ = std::chrono::steady_clock::now();
  if (pending_.empty()) return;
  const bool written =
      std::fwrite(pending_.data(), 1, pending_.size(), file_.get()) == pending_.size() &&
      std::fflush(file_.get()) == 0;
  pending_.clear();
  if (!written) fail(errno);
}

void CaptureFile::fail(int error) {
  failure_errno_ = error;
  failure_ = std::strerror(error);
}

}  // namespace zelkolink_tools
