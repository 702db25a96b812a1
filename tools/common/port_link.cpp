#include "port_link.hpp"

#include "zelkolink.hpp"

namespace zelkolink_tools {
namespace {

using std::chrono::milliseconds;

// How long the stop frame gets to leave the port before it is closed.
constexpr milliseconds kStopDrain{200};

}  // namespace

std::string line_text(const LineSettings& line) {
  return std::to_string(line.baud) + " 8" + (line.parity == Parity::even ? "E" : "N") +
         std::to_string(line.stop_bits);
}

PortLink::PortLink(PortLinkSettings settings, CaptureFile* capture)
    : settings_(std::move(settings)), line_{settings_.baud, Parity::none, 1}, capture_(capture) {
  if (capture_ != nullptr) capture_port_ = capture_->add_port(settings_.port, line_text(line_));
}

PortLink::~PortLink() { stop(); }

void PortLink::open() {
  port_ = std::make_unique<SerialPort>(settings_.port, line_);
  zelkolink::reset_port_parser();
  std::array<uint8_t, zelkolink::request_frame_size> request{};
  zelkolink::request_upload_port_data(request, settings_.request[0], settings_.request[1]);
  try {
    write(request);
  } catch (const ToolError&) {
    drop();
    throw;
  }
}

std::size_t PortLink::read(std::span<uint8_t> buffer, std::chrono::milliseconds wait) {
  // A capture that failed on an earlier read ends the run now, after that
  // read's bytes have been handed back.
  if (capture_ != nullptr) capture_->check();
  std::size_t got = 0;
  try {
    got = port_->read(buffer, wait);
  } catch (const ToolError&) {
    drop();
    throw;
  }
  if (capture_ == nullptr) return got;
  if (got > 0) {
    capture_->record(capture_port_, pcapng::Direction::in, buffer.first(got));
  } else {
    capture_->flush_if_due();
  }
  return got;
}

void PortLink::write(std::span<const uint8_t> bytes) {
  port_->write(bytes);
  if (capture_ != nullptr) capture_->record(capture_port_, pcapng::Direction::out, bytes);
}

void PortLink::stop() noexcept {
  if (!port_) return;
  try {
    std::array<uint8_t, zelkolink::stop_frame_size> stop{};
    zelkolink::stop_upload_port_data(stop);
    write(stop);
    port_->drain(kStopDrain);
  } catch (const ToolError&) {
    // A device already gone cannot take the stop frame; that is no error
    // on the way out.
  }
  drop();
}

void PortLink::drop() noexcept {
  if (!port_) return;
  port_->close();
  port_.reset();
}

}  // namespace zelkolink_tools
