#include "record/json.h"

#include <algorithm>

#include "common/number_text.h"

namespace loopmon {
namespace {

constexpr int MaxDepth = 64;

// The library's messages start with its own tag and "parse error at "; the
// place and the problem are what a reader needs.
std::string problemOf(const Json::exception& error) {
  std::string text = error.what();
  const size_t tag = text.find("] ");
  if (tag != std::string::npos) text.erase(0, tag + 2);
  for (const char* lead : {"parse error at ", "parse error: "}) {
    if (text.starts_with(lead)) text.erase(0, std::char_traits<char>::length(lead));
  }
  return text;
}

class Writer {
 public:
  explicit Writer(const JsonStyle& style) : style_(style) {}

  void value(const Json& value, const std::string* key, int depth) {
    switch (value.type()) {
      case Json::value_t::object: {
        const bool broken = style_.multiline && depth == 0;
        const int outer = indent_;
        out_ += '{';
        bool first = true;
        for (const auto& [name, member] : value.items()) {
          if (!first) out_ += broken ? "," : separator();
          first = false;
          if (broken) lineAt(outer + 1);
          scalar(Json(name));
          out_ += style_.spaced ? ": " : ":";
          this->value(member, &name, depth + 1);
        }
        if (broken && !first) lineAt(outer);
        out_ += '}';
        return;
      }
      case Json::value_t::array: {
        const bool broken = key != nullptr &&
                            std::find(style_.itemPerLine.begin(), style_.itemPerLine.end(), *key) !=
                                style_.itemPerLine.end();
        const int outer = indent_;
        out_ += '[';
        for (size_t i = 0; i < value.size(); ++i) {
          if (i > 0) out_ += broken ? "," : separator();
          if (broken) lineAt(outer + 1);
          this->value(value[i], nullptr, depth + 1);
        }
        if (broken && !value.empty()) lineAt(outer);
        out_ += ']';
        return;
      }
      case Json::value_t::number_float:
        if (const int* decimals = fixedFor(key)) {
          out_ += FormatFixed(value.get<double>(), *decimals, '.');
          return;
        }
        break;
      default:
        break;
    }
    scalar(value);
  }

  std::string text() && { return std::move(out_); }

 private:
  const char* separator() const { return style_.spaced ? ", " : ","; }

  // A new line, and the level the containers opened on it indent from.
  void lineAt(int indent) {
    indent_ = indent;
    out_ += '\n';
    out_.append(static_cast<size_t>(2 * indent), ' ');
  }

  const int* fixedFor(const std::string* key) const {
    if (key == nullptr) return nullptr;
    const auto found = std::find_if(style_.fixed.begin(), style_.fixed.end(),
                                    [key](const auto& entry) { return entry.first == *key; });
    return found == style_.fixed.end() ? nullptr : &found->second;
  }

  void scalar(const Json& value) {
    try {
      out_ += value.dump(
          -1, ' ', false,
          style_.replaceInvalid ? Json::error_handler_t::replace : Json::error_handler_t::strict);
    } catch (const Json::exception& error) {
      throw JsonError(problemOf(error));
    }
  }

  const JsonStyle& style_;
  std::string out_;
  int indent_ = 0;
};

}  // namespace

Json ParseJson(std::string_view text) {
  const Json::parser_callback_t depthLimit = [](int depth, Json::parse_event_t, Json&) {
    if (depth > MaxDepth) throw JsonError("nested too deeply");
    return true;
  };
  try {
    return Json::parse(text, depthLimit);
  } catch (const Json::exception& error) {
    throw JsonError(problemOf(error));
  }
}

bool IsJsonText(const std::string& text) {
  try {
    JsonText(Json(text));
    return true;
  } catch (const JsonError&) {
    return false;
  }
}

std::string JsonText(const Json& value, const JsonStyle& style) {
  Writer writer(style);
  writer.value(value, nullptr, 0);
  return std::move(writer).text();
}

}  // namespace loopmon
