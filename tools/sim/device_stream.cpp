#include "device_stream.hpp"

#include <cmath>
#include <numbers>

#include "port_frame.hpp"

namespace zelkolink_sim {
namespace {

constexpr uint8_t kWrongEnd = 0x5E;
constexpr std::size_t kInputCount = 9;
constexpr std::size_t kChannelCount = 32;
// Kind 2 carries twelve bytes between its inputs and its channels, which
// hosts skip; the simulator sends zeros there.
constexpr std::size_t kKindTwoGap = 12;

// Value number `index` of a group at time t: a slow sine over 0..2047 with
// its own pace and phase, so neighbouring bars move differently.
uint16_t moving_value(std::size_t index, double phase, double t) {
  const auto k = static_cast<double>(index);
  const double pace = 0.15 + 0.045 * k;  // cycles per second
  const double angle = 2.0 * std::numbers::pi * (pace * t) + phase + 0.7 * k;
  return static_cast<uint16_t>(std::lround(1023.5 + 1000.0 * std::sin(angle)));
}

void append_values(std::vector<uint8_t>& out, std::size_t count, double phase, double t) {
  for (std::size_t k = 0; k < count; ++k) {
    const uint16_t value = moving_value(k, phase, t);
    out.push_back(static_cast<uint8_t>(value & 0xFF));
    out.push_back(static_cast<uint8_t>(value >> 8));
  }
}

}  // namespace

DeviceStream::DeviceStream(const StreamSettings& settings, uint64_t seed)
    : settings_(settings), random_(seed) {}

void DeviceStream::append_next_frame(std::vector<uint8_t>& out) {
  if (settings_.noise) {
    // Up to six stray bytes, none a start byte, and now and then one 0xFA
    // among them: hosts must resynchronise on the real frame after it.
    std::uniform_int_distribution<int> count(0, 6);
    std::uniform_int_distribution<int> stray(0x00, 0xF9);
    const int strays = count(random_);
    const int start_at = std::uniform_int_distribution<int>(0, 2 * strays + 1)(random_);
    for (int k = 0; k < strays; ++k) {
      out.push_back(k == start_at ? kStart : static_cast<uint8_t>(stray(random_)));
    }
  }
  const double t = static_cast<double>(frame_number_) * settings_.seconds_per_frame;
  std::vector<uint8_t> payload{static_cast<uint8_t>(settings_.kind)};
  if (settings_.kind != 1) append_values(payload, kInputCount, 0.0, t);
  if (settings_.kind == 2) payload.insert(payload.end(), kKindTwoGap, 0);
  if (settings_.kind != 0) append_values(payload, kChannelCount, 1.3, t);

  const bool corrupt = settings_.corrupt > 0 &&
                       std::uniform_real_distribution<double>(0, 1)(random_) < settings_.corrupt;
  out.push_back(kStart);
  out.push_back(kUploadData);
  out.push_back(static_cast<uint8_t>(payload.size() & 0xFF));
  out.push_back(static_cast<uint8_t>(payload.size() >> 8));
  out.insert(out.end(), payload.begin(), payload.end());
  out.push_back(corrupt ? kWrongEnd : kEnd);
  ++frame_number_;
}

std::size_t DeviceStream::next_piece_size() {
  return std::uniform_int_distribution<std::size_t>(1, 128)(random_);
}

}  // namespace zelkolink_sim
