#pragma once
// JSON as the site record needs it: a strict reader that tells where a broken
// file goes wrong, and the quoting of texts for the writers.

#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace loopmon {

struct JsonMember;

class JsonValue {
 public:
  enum class Kind { Null, Bool, Number, String, Array, Object };

  Kind kind = Kind::Null;
  bool boolean = false;
  double number = 0;
  // The text of a string (UTF-8, escapes resolved).
  std::string text;
  std::vector<JsonValue> items;
  // Members in file order.
  std::vector<JsonMember> members;

  bool is(Kind wanted) const { return kind == wanted; }
  // The member named `key` of an object; null when there is none.
  const JsonValue* find(std::string_view key) const;
};

struct JsonMember {
  std::string name;
  JsonValue value;
};

// A text that is not JSON; what() says where: "line 3, column 7: expected ','".
class JsonError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// One JSON value with nothing but blanks around it. Nesting deeper than 64
// levels is refused rather than followed.
JsonValue ParseJson(std::string_view text);

// `text` as a JSON string literal, quotes included.
std::string jsonString(const std::string& text);

}  // namespace loopmon
