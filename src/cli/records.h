#pragma once
// Machine-readable output of loopctl: CSV and JSON lines with ISO 8601 times,
// numbers in columns of their own and texts in theirs, so a spreadsheet or a
// script never meets "Обрыв" where it expects kilo-ohms.

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "record/json.h"

namespace loopmon::cli {

enum class RecordFormat { Text, Csv, Json };

// One field of a record: what CSV and the text table show (a number with
// the locale's separator, a text, or nothing), and the JSON value it is.
struct Field {
  std::string shown;
  Json value;

  static Field number(std::string shown, double value) { return {std::move(shown), value}; }
  static Field number(long long value) { return {std::to_string(value), value}; }
  static Field flag(bool value) { return {value ? "true" : "false", value}; }
  static Field textOf(std::string text) { return {text, text}; }
  static Field empty() { return {}; }
};

// Writes records with one fixed list of column names. CSV fields are
// separated by ";" where the locale's decimal separator is ",", by ","
// otherwise; numbers keep the locale's separator there. JSON has one object
// per line, written in `style`.
class RecordWriter {
 public:
  RecordWriter(std::FILE* out, RecordFormat format, std::vector<std::string> columns,
               char decimalSeparator, JsonStyle style = {});

  // The CSV heading line; nothing for JSON.
  void heading();
  void record(const std::vector<Field>& fields);

 private:
  std::string csvField(const std::string& text) const;

  std::FILE* out_;
  RecordFormat format_;
  std::vector<std::string> columns_;
  char fieldSeparator_;
  JsonStyle style_;
};

}  // namespace loopmon::cli
