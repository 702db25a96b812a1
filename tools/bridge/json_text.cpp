#include "json_text.hpp"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <set>

namespace zelkolink_bridge {
namespace {

// Deep enough for any map file, shallow enough that the recursion stays well
// inside the web module's 64 KiB stack.
constexpr int kMaxDepth = 64;

class Reader {
 public:
  explicit Reader(std::string_view text) : text_(text) {}

  JsonReading read() {
    JsonReading reading;
    // A byte order mark, as some Windows editors write, is not part of the text.
    if (text_.substr(0, 3) == "\xEF\xBB\xBF") at_ = 3;
    skip_space();
    if (value(reading.value, 0)) {
      skip_space();
      if (at_ < text_.size()) fail("expected the end of the file after the value");
    }
    reading.error = error_;
    return reading;
  }

 private:
  [[nodiscard]] bool failed() const { return !error_.empty(); }

  // Records the first fault, at the current byte.
  bool fail(const std::string& what) {
    if (failed()) return false;
    std::size_t line = 1;
    std::size_t line_start = 0;
    for (std::size_t k = 0; k < at_ && k < text_.size(); ++k) {
      if (text_[k] == '\n') {
        ++line;
        line_start = k + 1;
      }
    }
    error_ = "line " + std::to_string(line) + ", column " + std::to_string(at_ - line_start + 1) +
             ": " + what;
    return false;
  }

  // What the current byte is, for a message: 'x', byte 0xNN or the end.
  [[nodiscard]] std::string here() const {
    if (at_ >= text_.size()) return "end of file";
    const auto byte = static_cast<unsigned char>(text_[at_]);
    char shown[16];
    if (byte >= 0x21 && byte < 0x7F) {
      std::snprintf(shown, sizeof shown, "'%c'", byte);
    } else {
      std::snprintf(shown, sizeof shown, "byte 0x%02X", unsigned{byte});
    }
    return shown;
  }

  bool unexpected(const char* wanted) {
    return fail(std::string("unexpected ") + here() + ", " + wanted);
  }

  [[nodiscard]] int peek() const {
    return at_ < text_.size() ? static_cast<unsigned char>(text_[at_]) : -1;
  }

  void skip_space() {
    while (at_ < text_.size() &&
           (text_[at_] == ' ' || text_[at_] == '\t' || text_[at_] == '\n' || text_[at_] == '\r')) {
      ++at_;
    }
  }

  bool literal(std::string_view word) {
    if (text_.substr(at_, word.size()) != word) return unexpected("expected a value");
    at_ += word.size();
    return true;
  }

  // value, object and array call each other, at most kMaxDepth deep.
  // NOLINTNEXTLINE(misc-no-recursion)
  bool value(JsonValue& out, int depth) {
    switch (peek()) {
      case '{':
        return object(out, depth + 1);
      case '[':
        return array(out, depth + 1);
      case '"':
        out.kind = JsonValue::Kind::string;
        return string(out.text);
      case 't':
        out.kind = JsonValue::Kind::boolean;
        out.boolean = true;
        return literal("true");
      case 'f':
        out.kind = JsonValue::Kind::boolean;
        return literal("false");
      case 'n':
        return literal("null");
      default:
        if (peek() == '-' || (peek() >= '0' && peek() <= '9')) return number(out);
        return unexpected("expected a value");
    }
  }

  // NOLINTNEXTLINE(misc-no-recursion)
  bool object(JsonValue& out, int depth) {
    if (depth > kMaxDepth) return fail("nested deeper than 64 levels");
    out.kind = JsonValue::Kind::object;
    ++at_;
    skip_space();
    if (peek() == '}') {
      ++at_;
      return true;
    }
    std::set<std::string> keys;
    for (;;) {
      if (peek() != '"') return unexpected("expected a key in double quotes");
      const std::size_t key_at = at_;
      JsonMember member;
      if (!string(member.key)) return false;
      if (!keys.insert(member.key).second) {
        at_ = key_at;
        return fail("the key \"" + member.key + "\" appears twice");
      }
      skip_space();
      if (peek() != ':') return unexpected("expected ':'");
      ++at_;
      skip_space();
      if (!value(member.value, depth)) return false;
      out.members.push_back(std::move(member));
      skip_space();
      if (peek() == '}') {
        ++at_;
        return true;
      }
      if (peek() != ',') return unexpected("expected ',' or '}'");
      ++at_;
      skip_space();
    }
  }

  // NOLINTNEXTLINE(misc-no-recursion)
  bool array(JsonValue& out, int depth) {
    if (depth > kMaxDepth) return fail("nested deeper than 64 levels");
    out.kind = JsonValue::Kind::array;
    ++at_;
    skip_space();
    if (peek() == ']') {
      ++at_;
      return true;
    }
    for (;;) {
      out.items.emplace_back();
      if (!value(out.items.back(), depth)) return false;
      skip_space();
      if (peek() == ']') {
        ++at_;
        return true;
      }
      if (peek() != ',') return unexpected("expected ',' or ']'");
      ++at_;
      skip_space();
    }
  }

  bool digits() {
    if (peek() < '0' || peek() > '9') return unexpected("expected a digit");
    while (peek() >= '0' && peek() <= '9') ++at_;
    return true;
  }

  // -?(0|[1-9][0-9]*)(.[0-9]+)?([eE][+-]?[0-9]+)?
  bool number(JsonValue& out) {
    const std::size_t start = at_;
    if (peek() == '-') ++at_;
    if (peek() == '0') {
      ++at_;
    } else if (!digits()) {
      return false;
    }
    bool whole = true;
    if (peek() == '.') {
      whole = false;
      ++at_;
      if (!digits()) return false;
    }
    if (peek() == 'e' || peek() == 'E') {
      whole = false;
      ++at_;
      if (peek() == '+' || peek() == '-') ++at_;
      if (!digits()) return false;
    }
    const std::string written(text_.substr(start, at_ - start));
    out.kind = JsonValue::Kind::number;
    out.number = std::strtod(written.c_str(), nullptr);
    if (std::isinf(out.number)) {
      at_ = start;
      return fail("the number " + written + " is too large");
    }
    if (whole) {
      int64_t integer = 0;
      const auto [end, problem] =
          std::from_chars(written.data(), written.data() + written.size(), integer);
      if (problem == std::errc() && end == written.data() + written.size()) {
        out.kind = JsonValue::Kind::integer;
        out.integer = integer;
      }
    }
    return true;
  }

  bool hex4(uint32_t& code) {
    code = 0;
    for (int k = 0; k < 4; ++k) {
      const int c = peek();
      uint32_t digit = 0;
      if (c >= '0' && c <= '9') {
        digit = static_cast<uint32_t>(c - '0');
      } else if (c >= 'a' && c <= 'f') {
        digit = static_cast<uint32_t>(c - 'a' + 10);
      } else if (c >= 'A' && c <= 'F') {
        digit = static_cast<uint32_t>(c - 'A' + 10);
      } else {
        return unexpected("expected four hex digits after \\u");
      }
      code = code * 16 + digit;
      ++at_;
    }
    return true;
  }

  static void append_utf8(std::string& out, uint32_t code) {
    if (code < 0x80) {
      out += static_cast<char>(code);
    } else if (code < 0x800) {
      out += static_cast<char>(0xC0 | (code >> 6));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
      out += static_cast<char>(0xE0 | (code >> 12));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (code >> 18));
      out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    }
  }

  bool escape(std::string& out) {
    ++at_;  // the backslash
    const int c = peek();
    const char* simple = "\"\"\\\\//b\bf\fn\nr\rt\t";
    for (const char* pair = simple; *pair != '\0'; pair += 2) {
      if (c == pair[0]) {
        out += pair[1];
        ++at_;
        return true;
      }
    }
    if (c != 'u') return unexpected(R"(expected an escape: \" \\ \/ \b \f \n \r \t or \u)");
    ++at_;
    uint32_t code = 0;
    if (!hex4(code)) return false;
    if (code >= 0xDC00 && code <= 0xDFFF) return fail("a low surrogate without a high one");
    if (code >= 0xD800 && code <= 0xDBFF) {
      if (text_.substr(at_, 2) != "\\u") return fail("a high surrogate without a low one");
      at_ += 2;
      uint32_t low = 0;
      if (!hex4(low)) return false;
      if (low < 0xDC00 || low > 0xDFFF) return fail("a high surrogate without a low one");
      code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
    }
    append_utf8(out, code);
    return true;
  }

  // One UTF-8 sequence, checked (no overlong forms, no surrogates, at most
  // U+10FFFF), copied to out.
  bool utf8(std::string& out) {
    const auto lead = static_cast<unsigned char>(text_[at_]);
    std::size_t length = 0;
    uint32_t code = 0;
    uint32_t least = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2;
      code = lead & 0x1Fu;
      least = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3;
      code = lead & 0x0Fu;
      least = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4;
      code = lead & 0x07u;
      least = 0x10000;
    } else {
      return fail("not UTF-8");
    }
    if (at_ + length > text_.size()) return fail("not UTF-8");
    for (std::size_t k = 1; k < length; ++k) {
      const auto next = static_cast<unsigned char>(text_[at_ + k]);
      if ((next & 0xC0u) != 0x80) return fail("not UTF-8");
      code = (code << 6) | (next & 0x3Fu);
    }
    if (code < least || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
      return fail("not UTF-8");
    }
    out.append(text_.substr(at_, length));
    at_ += length;
    return true;
  }

  bool string(std::string& out) {
    ++at_;  // the opening quote
    for (;;) {
      const int c = peek();
      if (c < 0) return fail("the string is not closed");
      if (c == '"') {
        ++at_;
        return true;
      }
      if (c < 0x20) return unexpected("a control character must be escaped in a string");
      if (c == '\\') {
        if (!escape(out)) return false;
      } else if (c >= 0x80) {
        if (!utf8(out)) return false;
      } else {
        out += static_cast<char>(c);
        ++at_;
      }
    }
  }

  std::string_view text_;
  std::size_t at_ = 0;
  std::string error_;
};

void append_string(std::string& out, const std::string& text) {
  out += '"';
  for (const char c : text) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\b':
        out += "\\b";
        break;
      case '\f':
        out += "\\f";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          char escaped[8];
          std::snprintf(escaped, sizeof escaped, "\\u%04x",
                        unsigned{static_cast<unsigned char>(c)});
          out += escaped;
        } else {
          out += c;
        }
    }
  }
  out += '"';
}

// As deep as the value, which read_json keeps within kMaxDepth.
// NOLINTNEXTLINE(misc-no-recursion)
void append_value(std::string& out, const JsonValue& value) {
  switch (value.kind) {
    case JsonValue::Kind::null:
      out += "null";
      break;
    case JsonValue::Kind::boolean:
      out += value.boolean ? "true" : "false";
      break;
    case JsonValue::Kind::integer:
      out += std::to_string(value.integer);
      break;
    case JsonValue::Kind::number: {
      // The shortest text that reads back the same (snprintf, not
      // to_chars: the web module would carry 100 KB of its tables); a whole
      // number keeps a ".0", so 5.0 is not shown as the integer 5 it was
      // refused for not being.
      char text[32];
      for (int digits = 1; digits <= 17; ++digits) {
        std::snprintf(text, sizeof text, "%.*g", digits, value.number);
        if (std::strtod(text, nullptr) == value.number) break;
      }
      std::string shown(text);
      if (shown.find_first_of(".e") == std::string::npos) shown += ".0";
      out += shown;
      break;
    }
    case JsonValue::Kind::string:
      append_string(out, value.text);
      break;
    case JsonValue::Kind::array:
      out += '[';
      for (std::size_t k = 0; k < value.items.size(); ++k) {
        if (k > 0) out += ',';
        append_value(out, value.items[k]);
      }
      out += ']';
      break;
    case JsonValue::Kind::object:
      out += '{';
      for (std::size_t k = 0; k < value.members.size(); ++k) {
        if (k > 0) out += ',';
        append_string(out, value.members[k].key);
        out += ':';
        append_value(out, value.members[k].value);
      }
      out += '}';
      break;
  }
}

}  // namespace

const JsonValue* JsonValue::find(std::string_view key) const {
  for (const JsonMember& member : members) {
    if (member.key == key) return &member.value;
  }
  return nullptr;
}

JsonReading read_json(std::string_view text) { return Reader(text).read(); }

std::string json_text(const JsonValue& value) {
  std::string out;
  append_value(out, value);
  return out;
}

}  // namespace zelkolink_bridge
