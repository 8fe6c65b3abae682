#pragma once
// Machine-readable output of loopctl: CSV and JSON lines with ISO 8601 times,
// numbers in columns of their own and texts in theirs, so a spreadsheet or a
// script never meets "Обрыв" where it expects kilo-ohms.

#include <chrono>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "record/json.h"

namespace loopmon::cli {

enum class RecordFormat { Text, Csv, Json };

// Local time with its offset from UTC, to the millisecond:
// "2026-12-06T14:03:07.125+03:00".
std::string isoTimestamp(std::chrono::system_clock::time_point time);

// One field of a record: a number (as the program shows it, with the locale's
// separator), a text, or nothing.
struct Field {
  enum class Kind { Number, Text, Empty };
  Kind kind = Kind::Empty;
  std::string text;

  static Field number(std::string shown) { return {Kind::Number, std::move(shown)}; }
  static Field number(int value) { return {Kind::Number, std::to_string(value)}; }
  static Field textOf(std::string text) { return {Kind::Text, std::move(text)}; }
  static Field empty() { return {}; }
};

// Writes records with one fixed list of column names. CSV fields are
// separated by ";" where the locale's decimal separator is ",", by ","
// otherwise; numbers keep the locale's separator there. JSON has one object
// per line, with numbers written with ".".
class RecordWriter {
 public:
  RecordWriter(std::FILE* out, RecordFormat format, std::vector<std::string> columns,
               char decimalSeparator);

  // The CSV heading line; nothing for JSON.
  void heading();
  void record(const std::vector<Field>& fields);

 private:
  std::string csvField(const std::string& text) const;

  std::FILE* out_;
  RecordFormat format_;
  std::vector<std::string> columns_;
  char decimalSeparator_;
  char fieldSeparator_;
};

}  // namespace loopmon::cli
