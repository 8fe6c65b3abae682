#include "record/json.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>

#include "platform/system/utf8.h"

namespace loopmon {
namespace {

constexpr int MaxDepth = 64;

class Parser {
 public:
  explicit Parser(std::string_view text) : text_(text) {}

  JsonValue document() {
    JsonValue value = parseValue(0);
    skipBlanks();
    if (pos_ != text_.size()) fail("unexpected text after the end");
    return value;
  }

 private:
  // A truncated file (one written half) says so first.
  [[noreturn]] void fail(const std::string& what) const {
    const std::string problem = pos_ >= text_.size() ? "unexpected end, " + what : what;
    size_t line = 1;
    size_t column = 1;
    for (size_t i = 0; i < pos_ && i < text_.size(); ++i) {
      column = text_[i] == '\n' ? 1 : column + 1;
      line += text_[i] == '\n' ? 1 : 0;
    }
    throw JsonError("line " + std::to_string(line) + ", column " + std::to_string(column) + ": " +
                    problem);
  }

  void skipBlanks() {
    while (pos_ < text_.size() && (text_[pos_] == ' ' || text_[pos_] == '\t' ||
                                   text_[pos_] == '\n' || text_[pos_] == '\r')) {
      ++pos_;
    }
  }

  bool take(char c) {
    skipBlanks();
    if (pos_ < text_.size() && text_[pos_] == c) {
      ++pos_;
      return true;
    }
    return false;
  }

  void expect(char c) {
    if (!take(c)) fail(std::string("expected '") + c + "'");
  }

  bool takeWord(std::string_view word) {
    if (text_.substr(pos_, word.size()) != word) return false;
    pos_ += word.size();
    return true;
  }

  JsonValue parseValue(int depth) {
    if (depth > MaxDepth) fail("nested too deeply");
    skipBlanks();
    if (pos_ >= text_.size()) fail("expected a value");
    JsonValue value;
    const char c = text_[pos_];
    if (c == '{') {
      ++pos_;
      value.kind = JsonValue::Kind::Object;
      if (take('}')) return value;
      do {
        skipBlanks();
        if (pos_ >= text_.size() || text_[pos_] != '"') fail("expected a member name");
        std::string name = parseString();
        expect(':');
        value.members.push_back({std::move(name), parseValue(depth + 1)});
      } while (take(','));
      expect('}');
    } else if (c == '[') {
      ++pos_;
      value.kind = JsonValue::Kind::Array;
      if (take(']')) return value;
      do {
        value.items.push_back(parseValue(depth + 1));
      } while (take(','));
      expect(']');
    } else if (c == '"') {
      value.kind = JsonValue::Kind::String;
      value.text = parseString();
    } else if (takeWord("true") || takeWord("false")) {
      value.kind = JsonValue::Kind::Bool;
      value.boolean = c == 't';
    } else if (takeWord("null")) {
      value.kind = JsonValue::Kind::Null;
    } else if (c == '-' || (c >= '0' && c <= '9')) {
      value.kind = JsonValue::Kind::Number;
      value.number = parseNumber();
    } else {
      fail("expected a value");
    }
    return value;
  }

  size_t digitsFrom(size_t at) const {
    size_t end = at;
    while (end < text_.size() && text_[end] >= '0' && text_[end] <= '9') ++end;
    return end - at;
  }

  double parseNumber() {
    const size_t start = pos_;
    size_t at = pos_;
    if (text_[at] == '-') ++at;
    const size_t integer = digitsFrom(at);
    if (integer == 0 || (integer > 1 && text_[at] == '0')) fail("malformed number");
    at += integer;
    if (at < text_.size() && text_[at] == '.') {
      const size_t fraction = digitsFrom(at + 1);
      if (fraction == 0) fail("malformed number");
      at += 1 + fraction;
    }
    if (at < text_.size() && (text_[at] == 'e' || text_[at] == 'E')) {
      ++at;
      if (at < text_.size() && (text_[at] == '+' || text_[at] == '-')) ++at;
      const size_t exponent = digitsFrom(at);
      if (exponent == 0) fail("malformed number");
      at += exponent;
    }
    double number = 0;
    const auto [end, error] = std::from_chars(text_.data() + start, text_.data() + at, number);
    if (error != std::errc() || end != text_.data() + at || !std::isfinite(number)) {
      fail("number out of range");
    }
    pos_ = at;
    return number;
  }

  unsigned hexQuad() {
    if (pos_ + 4 > text_.size()) fail("malformed \\u escape");
    unsigned value = 0;
    for (int i = 0; i < 4; ++i) {
      const char c = text_[pos_++];
      value <<= 4;
      if (c >= '0' && c <= '9') {
        value |= static_cast<unsigned>(c - '0');
      } else if (c >= 'a' && c <= 'f') {
        value |= static_cast<unsigned>(c - 'a' + 10);
      } else if (c >= 'A' && c <= 'F') {
        value |= static_cast<unsigned>(c - 'A' + 10);
      } else {
        fail("malformed \\u escape");
      }
    }
    return value;
  }

  // At the opening quote.
  std::string parseString() {
    ++pos_;
    std::string out;
    while (true) {
      if (pos_ >= text_.size()) fail("unterminated string");
      const char c = text_[pos_++];
      if (c == '"') return out;
      if (static_cast<unsigned char>(c) < 0x20) fail("control character in a string");
      if (c != '\\') {
        out += c;
        continue;
      }
      if (pos_ >= text_.size()) fail("unterminated string");
      const char escaped = text_[pos_++];
      switch (escaped) {
        case '"':
        case '\\':
        case '/':
          out += escaped;
          break;
        case 'b':
          out += '\b';
          break;
        case 'f':
          out += '\f';
          break;
        case 'n':
          out += '\n';
          break;
        case 'r':
          out += '\r';
          break;
        case 't':
          out += '\t';
          break;
        case 'u': {
          uint32_t code = hexQuad();
          // A lone half of a surrogate pair stands for no character.
          if (code >= 0xDC00 && code <= 0xDFFF) fail("malformed \\u escape");
          if (code >= 0xD800 && code <= 0xDBFF) {
            if (!takeWord("\\u")) fail("malformed \\u escape");
            const uint32_t low = hexQuad();
            if (low < 0xDC00 || low > 0xDFFF) fail("malformed \\u escape");
            code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
          }
          appendUtf8(out, code);
          break;
        }
        default:
          --pos_;
          fail("unknown escape");
      }
    }
  }

  std::string_view text_;
  size_t pos_ = 0;
};

}  // namespace

const JsonValue* JsonValue::find(std::string_view key) const {
  for (const auto& [name, value] : members) {
    if (name == key) return &value;
  }
  return nullptr;
}

JsonValue ParseJson(std::string_view text) {
  return Parser(text).document();
}

std::string jsonString(const std::string& text) {
  std::string result = "\"";
  for (const char c : text) {
    if (c == '"' || c == '\\') {
      result += '\\';
      result += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
      result += escaped;
    } else {
      result += c;
    }
  }
  return result + "\"";
}

}  // namespace loopmon
