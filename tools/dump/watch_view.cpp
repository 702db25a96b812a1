#include "watch_view.hpp"

#include <algorithm>
#include <cstdio>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

#include "tool_error.hpp"

namespace zelkolink_dump {
namespace {

void put(std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
}

// Alternate screen, cursor hidden, line wrap off (a terminal narrower than
// the view cuts lines instead of scrolling), and back.
constexpr std::string_view kEnterView = "\x1b[?1049h\x1b[?25l\x1b[?7l\x1b[2J";
constexpr std::string_view kLeaveView = "\x1b[0m\x1b[?7h\x1b[?25h\x1b[?1049l";
constexpr std::string_view kDim = "\x1b[2m";
constexpr std::string_view kBold = "\x1b[1m";
constexpr std::string_view kPlain = "\x1b[0m";
constexpr std::string_view kInputColour = "\x1b[32m";
constexpr std::string_view kChannelColour = "\x1b[36m";

// Eighths of a cell, so a bar moves visibly with a change of 1/8 cell.
constexpr std::string_view kFullBlock = "\u2588";
constexpr std::string_view kPartBlocks[8] = {"",       "\u258F", "\u258E", "\u258D",
                                             "\u258C", "\u258B", "\u258A", "\u2589"};

// The smallest 2^k - 1 (at least 255) not below value: a scale that keeps
// 11-bit values on 0..2047 and grows only when a larger value shows up.
uint32_t scale_for(uint32_t value) {
  uint32_t scale = 255;
  while (scale < value) scale = scale * 2 + 1;
  return scale;
}

std::string bar(uint32_t value, uint32_t scale, int width, std::string_view colour) {
  if (width <= 0) return "";
  const auto eighths =
      static_cast<int>(static_cast<uint64_t>(value) * static_cast<uint64_t>(width) * 8 /
                       (static_cast<uint64_t>(scale) + 1));
  std::string text(colour);
  for (int k = 0; k < eighths / 8; ++k) text += kFullBlock;
  text += kPartBlocks[eighths % 8];
  const int used = eighths / 8 + (eighths % 8 != 0 ? 1 : 0);
  text += kDim;
  text.append(static_cast<std::size_t>(width - used), '.');
  text += kPlain;
  return text;
}

// "in3  1234 ███▌...." in a cell `width` columns wide (one column of space after).
std::string cell(const char* prefix, std::size_t index, uint16_t value, uint32_t scale, int width,
                 std::string_view colour) {
  char label[24];
  std::snprintf(label, sizeof label, "%s%-2zu %5u ", prefix, index, unsigned{value});
  const int label_width = static_cast<int>(std::string_view(label).size());
  return std::string(label) + bar(value, scale, width - label_width - 1, colour) + " ";
}

// Lines of a group laid out in `columns` columns, top to bottom first.
void add_group(std::vector<std::string>& lines, std::span<const uint16_t> values,
               const char* prefix, int columns, uint32_t scale, int width,
               std::string_view colour) {
  const auto count = static_cast<int>(values.size());
  const int rows = (count + columns - 1) / columns;
  const int cell_width = width / columns;
  for (int row = 0; row < rows; ++row) {
    std::string line;
    for (int column = 0; column < columns; ++column) {
      const int index = column * rows + row;
      if (index >= count) break;
      const auto at = static_cast<std::size_t>(index);
      line += cell(prefix, at, values[at], scale, cell_width, colour);
    }
    lines.push_back(line);
  }
}

uint32_t largest(std::span<const uint16_t> values) {
  return values.empty() ? 0 : *std::max_element(values.begin(), values.end());
}

}  // namespace

void require_terminal() {
  if (!zelkolink_tools::output_is_terminal())
    throw zelkolink_tools::usage_error("--watch needs a terminal on standard output");
}

WatchView::WatchView(std::string port, uint32_t baud) : port_(std::move(port)), baud_(baud) {
  put(kEnterView);
}

WatchView::~WatchView() { put(kLeaveView); }

void WatchView::draw(const LiveFigures& figures) {
  const zelkolink_tools::TerminalSize size = zelkolink_tools::terminal_size();
  const std::span<const uint16_t> inputs = zelkolink::values(figures.inputs);
  const std::span<const uint16_t> channels = zelkolink::values(figures.channels);
  input_scale_ = std::max(input_scale_, scale_for(largest(inputs)));
  channel_scale_ = std::max(channel_scale_, scale_for(largest(channels)));

  // Rates over the last second of draws.
  recent_.push_back({figures.seconds, figures.frames, figures.bytes});
  while (recent_.size() > 2 && figures.seconds - recent_[1].seconds >= 1.0) recent_.pop_front();
  const Sample& oldest = recent_.front();
  const double span = figures.seconds - oldest.seconds;
  const double frame_rate =
      span > 0 ? static_cast<double>(figures.frames - oldest.frames) / span : 0.0;
  const double byte_rate =
      span > 0 ? static_cast<double>(figures.bytes - oldest.bytes) / span : 0.0;

  std::vector<std::string> lines;
  char text[160];
  std::snprintf(text, sizeof text, " %s%s%s at %u baud   %.1f s", kBold.data(), port_.c_str(),
                kPlain.data(), unsigned{baud_}, figures.seconds);
  lines.emplace_back(text);
  if (figures.last_frame_at) {
    std::snprintf(text, sizeof text,
                  " %s%8.1f%s frames/s  %s%9.0f%s bytes/s   last frame %.2f s ago   %llu frames",
                  kBold.data(), frame_rate, kPlain.data(), kBold.data(), byte_rate, kPlain.data(),
                  figures.seconds - *figures.last_frame_at,
                  static_cast<unsigned long long>(figures.frames));
  } else {
    std::snprintf(text, sizeof text,
                  " %s%8.1f%s frames/s  %s%9.0f%s bytes/s   no frame yet (%llu bytes)",
                  kBold.data(), frame_rate, kPlain.data(), kBold.data(), byte_rate, kPlain.data(),
                  static_cast<unsigned long long>(figures.bytes));
  }
  lines.emplace_back(text);
  const int width = std::max(size.columns, 30);
  std::snprintf(text, sizeof text, " %sInputs%s    bars 0..%u", kBold.data(), kPlain.data(),
                unsigned{input_scale_});
  lines.emplace_back(text);
  add_group(lines, inputs, "in", 3, input_scale_, width, kInputColour);
  std::snprintf(text, sizeof text, " %sChannels%s  bars 0..%u", kBold.data(), kPlain.data(),
                unsigned{channel_scale_});
  lines.emplace_back(text);
  add_group(lines, channels, "ch", 2, channel_scale_, width, kChannelColour);
  lines.emplace_back(std::string(" ") + std::string(kDim) + "Ctrl-C to stop" + std::string(kPlain));

  // Each line at its own position, cleared to its end; lines below the
  // terminal's last are left out rather than scrolling the view.
  std::string screen;
  const auto shown = std::min(lines.size(), static_cast<std::size_t>(size.lines));
  for (std::size_t k = 0; k < shown; ++k) {
    screen += "\x1b[" + std::to_string(k + 1) + ";1H" + lines[k] + "\x1b[K";
  }
  screen += "\x1b[J";
  put(screen);
}

}  // namespace zelkolink_dump
