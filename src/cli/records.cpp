#include "cli/records.h"

#include <utility>

#include "cli/output.h"

namespace loopmon::cli {

RecordWriter::RecordWriter(std::FILE* out, RecordFormat format, std::vector<std::string> columns,
                           char decimalSeparator, JsonStyle style)
    : out_(out),
      format_(format),
      columns_(std::move(columns)),
      fieldSeparator_(decimalSeparator == ',' ? ';' : ','),
      style_(std::move(style)) {}

void RecordWriter::heading() {
  if (format_ == RecordFormat::Json) return;
  std::string line;
  for (const std::string& column : columns_) {
    if (!line.empty()) line += format_ == RecordFormat::Csv ? fieldSeparator_ : '\t';
    line += column;
  }
  printLine(out_, line);
}

void RecordWriter::record(const std::vector<Field>& fields) {
  if (format_ == RecordFormat::Json) {
    Json line = Json::object();
    for (size_t i = 0; i < columns_.size(); ++i) {
      line[columns_[i]] = i < fields.size() ? fields[i].value : Json();
    }
    printLine(out_, JsonText(line, style_));
    return;
  }
  std::string line;
  for (size_t i = 0; i < columns_.size(); ++i) {
    const std::string shown = i < fields.size() ? fields[i].shown : std::string();
    if (i > 0) line += format_ == RecordFormat::Csv ? fieldSeparator_ : '\t';
    line += format_ == RecordFormat::Csv ? csvField(shown) : shown;
  }
  printLine(out_, line);
}

std::string RecordWriter::csvField(const std::string& text) const {
  if (text.find_first_of(std::string("\"\r\n") + fieldSeparator_) == std::string::npos) {
    return text;
  }
  std::string quoted = "\"";
  for (const char c : text) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
  return quoted + "\"";
}

}  // namespace loopmon::cli
