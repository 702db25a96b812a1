#include "capture_stats.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "port_framer.hpp"

namespace zelkolink_dump {
namespace {

using zelkolink_tools::pcapng::Direction;

// The nearest-rank percentile of sorted values.
double percentile(const std::vector<double>& sorted, double share) {
  const auto rank = static_cast<std::size_t>(std::ceil(share * static_cast<double>(sorted.size())));
  return sorted[std::clamp<std::size_t>(rank, 1, sorted.size()) - 1];
}

std::string fixed(double value, int decimals) {
  char text[48];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

std::string kind_name(int kind) {
  return kind == LinkStats::kNoKind ? std::string("empty") : std::to_string(kind);
}

}  // namespace

LinkStats link_stats(std::span<const zelkolink_tools::CapturedRead> reads) {
  LinkStats stats;
  std::vector<double> frame_times;
  double now = 0;
  zelkolink_tools::PortFramer framer(
      [&](const zelkolink_tools::FramedFrame& frame) {
        if (frame.corrupt) {
          ++stats.corrupt_frames;
        } else if (frame.command == zelkolink_tools::kUploadData) {
          ++stats.frames[frame.payload.empty() ? LinkStats::kNoKind : int{frame.payload[0]}];
          ++stats.frame_count;
          frame_times.push_back(now);
        }
      },
      [&](std::size_t noise) { stats.noise_bytes += noise; });
  for (const zelkolink_tools::CapturedRead& read : reads) {
    now = std::chrono::duration<double>(read.time).count();
    stats.duration_s = std::max(stats.duration_s, now);
    if (read.direction == Direction::out) {
      ++stats.reads_out;
      stats.bytes_out += read.bytes.size();
      continue;
    }
    ++stats.reads_in;
    stats.bytes_in += read.bytes.size();
    framer.feed(read.bytes);
  }
  if (frame_times.size() < 2) return stats;
  std::vector<double> gaps;
  LinkStats::Gaps figures;
  for (std::size_t k = 1; k < frame_times.size(); ++k) {
    const double gap = (frame_times[k] - frame_times[k - 1]) * 1000;
    if (gap > figures.max_ms) {
      figures.max_ms = gap;
      figures.max_at_s = frame_times[k];
    }
    gaps.push_back(gap);
  }
  std::sort(gaps.begin(), gaps.end());
  figures.p50_ms = percentile(gaps, 0.50);
  figures.p99_ms = percentile(gaps, 0.99);
  stats.gaps = figures;
  return stats;
}

void write_stats(std::ostream& out, const LinkStats& stats, OutputFormat format,
                 const std::string& name) {
  const double per_second =
      stats.duration_s > 0 ? static_cast<double>(stats.frame_count) / stats.duration_s : 0;
  if (format == OutputFormat::json) {
    out << R"({"duration_s":)" << fixed(stats.duration_s, 6) << R"(,"reads_in":)" << stats.reads_in
        << R"(,"bytes_in":)" << stats.bytes_in << R"(,"reads_out":)" << stats.reads_out
        << R"(,"bytes_out":)" << stats.bytes_out << R"(,"frames":{)";
    const char* comma = "";
    for (const auto& [kind, count] : stats.frames) {
      out << comma << '"' << kind_name(kind) << "\":" << count;
      comma = ",";
    }
    out << R"(},"frames_per_s":)" << fixed(per_second, 3) << R"(,"noise_bytes":)"
        << stats.noise_bytes << R"(,"corrupt_frames":)" << stats.corrupt_frames << R"(,"gap_ms":)";
    if (stats.gaps) {
      out << R"({"p50":)" << fixed(stats.gaps->p50_ms, 3) << R"(,"p99":)"
          << fixed(stats.gaps->p99_ms, 3) << R"(,"max":)" << fixed(stats.gaps->max_ms, 3)
          << R"(,"max_at_s":)" << fixed(stats.gaps->max_at_s, 6) << '}';
    } else {
      out << "null";
    }
    out << "}\n";
    return;
  }
  std::string kinds;
  for (const auto& [kind, count] : stats.frames) {
    kinds += (kinds.empty() ? " (" : ", ") + std::string("kind ") + kind_name(kind) + ": " +
             std::to_string(count);
  }
  if (!kinds.empty()) kinds += ')';
  out << "Capture:          " << name << '\n'
      << "Duration:         " << fixed(stats.duration_s, 3) << " s\n"
      << "Reads in:         " << stats.reads_in << " (" << stats.bytes_in << " bytes)\n"
      << "Writes out:       " << stats.reads_out << " (" << stats.bytes_out << " bytes)\n"
      << "Upload frames:    " << stats.frame_count << kinds << '\n'
      << "Frames/s:         " << fixed(per_second, 1) << '\n'
      << "Corrupt frames:   " << stats.corrupt_frames << '\n'
      << "Noise bytes:      " << stats.noise_bytes << '\n';
  if (stats.gaps) {
    out << "Frame gaps:       p50 " << fixed(stats.gaps->p50_ms, 3) << " ms, p99 "
        << fixed(stats.gaps->p99_ms, 3) << " ms, largest " << fixed(stats.gaps->max_ms, 3)
        << " ms at " << fixed(stats.gaps->max_at_s, 3) << " s\n";
  } else {
    out << "Frame gaps:       - (fewer than two frames)\n";
  }
}

}  // namespace zelkolink_dump
