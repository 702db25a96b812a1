// A strict JSON reader (RFC 8259) for the bridge's map file and the tests'
// case table: no comments, no trailing commas, no duplicate keys, UTF-8 only.
// It throws nothing and allocates only what the value needs, so the web
// page's bridge module (built without exceptions) reads map files with it
// too. Object members keep their order in the text.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zelkolink_bridge {

struct JsonMember;

struct JsonValue {
  enum class Kind { null, boolean, integer, number, string, array, object };

  Kind kind = Kind::null;
  bool boolean = false;
  int64_t integer = 0;              // Kind::integer: a number written without fraction or exponent
  double number = 0;                // every number, integer or not
  std::string text;                 // Kind::string, UTF-8
  std::vector<JsonValue> items;     // Kind::array
  std::vector<JsonMember> members;  // Kind::object, in the text's order

  [[nodiscard]] bool is_number() const { return kind == Kind::integer || kind == Kind::number; }
  [[nodiscard]] bool is_string(std::string_view wanted) const {
    return kind == Kind::string && text == wanted;
  }
  // The member named key, or nullptr (also when this is not an object).
  [[nodiscard]] const JsonValue* find(std::string_view key) const;
};

struct JsonMember {
  std::string key;
  JsonValue value;
};

struct JsonReading {
  JsonValue value;
  // Empty when the text is JSON; otherwise "line L, column C: what", the
  // place of the first byte that cannot be read (both counted from 1, the
  // column in bytes).
  std::string error;
};

JsonReading read_json(std::string_view text);

// The value as compact JSON text, the way messages quote what they refuse:
// 4, 2.5, 5.0, "log", [0], {"a":1}.
std::string json_text(const JsonValue& value);

}  // namespace zelkolink_bridge
