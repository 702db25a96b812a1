#include "rows.hpp"

#include <cstdio>
#include <span>

namespace zelkolink_dump {
namespace {

void write_csv_values(std::ostream& out, std::span<const uint16_t> values) {
  for (const uint16_t value : values) out << ',' << value;
}

void write_json_array(std::ostream& out, std::span<const uint16_t> values) {
  out << '[';
  for (std::size_t k = 0; k < values.size(); ++k) out << (k == 0 ? "" : ",") << values[k];
  out << ']';
}

}  // namespace

std::string format_seconds(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f", seconds);
  return text;
}

void write_header(std::ostream& out, OutputFormat format, bool timed) {
  if (format != OutputFormat::csv) return;
  if (timed) out << "time,";
  out << "offset";
  for (std::size_t k = 0; k < zelkolink::input_count; ++k) out << ",input" << k;
  for (std::size_t k = 0; k < zelkolink::channel_count; ++k) out << ",channel" << k;
  out << '\n';
}

void write_row(std::ostream& out, OutputFormat format, std::optional<double> seconds,
               std::size_t offset, const InputValues& inputs, const ChannelValues& channels) {
  if (format == OutputFormat::csv) {
    if (seconds) out << format_seconds(*seconds) << ',';
    out << offset;
    write_csv_values(out, zelkolink::values(inputs));
    write_csv_values(out, zelkolink::values(channels));
  } else {
    out << '{';
    if (seconds) out << "\"time\":" << format_seconds(*seconds) << ',';
    out << "\"offset\":" << offset << ",\"inputs\":";
    write_json_array(out, zelkolink::values(inputs));
    out << ",\"channels\":";
    write_json_array(out, zelkolink::values(channels));
    out << '}';
  }
  out << '\n';
}

void write_hid_header(std::ostream& out, OutputFormat format, const char* key_name) {
  if (format != OutputFormat::csv) return;
  out << key_name << ",layout";
  for (std::size_t k = 0; k < zelkolink::game_controller_count; ++k) out << ",value" << k;
  out << '\n';
}

void write_hid_row(std::ostream& out, OutputFormat format, const char* key_name,
                   const std::string& key, const char* layout, std::span<const uint16_t> values) {
  if (format == OutputFormat::csv) {
    out << key << ',' << layout;
    write_csv_values(out, values);
    for (std::size_t k = values.size(); k < zelkolink::game_controller_count; ++k) out << ',';
  } else {
    out << R"({")" << key_name << R"(":)" << key << R"(,"layout":")" << layout << R"(","values":)";
    write_json_array(out, values);
    out << '}';
  }
  out << '\n';
}

}  // namespace zelkolink_dump
