#pragma once
// Every JSON the program reads or writes goes through nlohmann/json: the
// site record, and the lines loopctl writes for scripts. Objects keep their
// members in the order they were given, as the files and lines have them.
// Texts are UTF-8 both ways: a document that is not is refused, and a text
// that is not cannot be written.

#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace loopmon {

using Json = nlohmann::ordered_json;

// A text that is not JSON; what() says where: "line 3, column 7: syntax error ...".
class JsonError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// One JSON value with nothing but blanks around it. Nesting deeper than 64
// levels is refused rather than followed.
Json ParseJson(std::string_view text);

// How a value is written. Numbers are written as short as they read back
// exactly, except the members named in `fixed`, which keep as many decimals
// as given there ("version": 1.60).
struct JsonStyle {
  // ": " and ", " between members and items, for a file people read.
  bool spaced = false;
  std::vector<std::pair<std::string, int>> fixed;
  // A file laid out for people: the top object one member per line, and the
  // arrays named here one item per line, each line indented by two blanks a
  // level.
  bool multiline = false;
  std::vector<std::string> itemPerLine;
  // A text that is not UTF-8 shows U+FFFD instead of failing the write: for
  // the trace, whose writer must not stop halfway.
  bool replaceInvalid = false;
};

// True when `text` can stand in a JSON document: it is UTF-8.
bool IsJsonText(const std::string& text);

// `value` as text (one line unless the style breaks it; no line break at the
// end); a text that is not UTF-8 throws JsonError unless the style replaces it.
std::string JsonText(const Json& value, const JsonStyle& style = {});

}  // namespace loopmon
