#pragma once
// The text of a .reg file (the registry editor's export format) as a registry
// held in memory. The file store on POSIX keeps its content in one; parsers and
// tools can use it without a file.
//
// Lines are kept byte for byte: a change replaces, inserts or deletes only the
// lines of the value it concerns, so comments, damaged lines and line endings
// of a hand-edited or exported file survive every later change, and a line the
// store ignores is never turned into one it reads.

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/store/registry.h"

namespace loopmon {

class RegistryDocument final : public Registry {
 public:
  RegistryDocument() = default;
  // The bytes of a file: UTF-16LE with a byte order mark (as the registry
  // editor exports), or UTF-8 with or without one. Cost linear in the size.
  explicit RegistryDocument(std::string_view bytes);

  // The file's bytes after the changes, in the encoding the file came in
  // (unpaired UTF-16 surrogates read as U+FFFD and are written so).
  std::string bytes() const;

  bool keyExists(const std::string& key) const override;
  // Refuses (false) a path with a line break or a NUL.
  bool createKey(const std::string& key) override;
  std::vector<std::string> subkeys(const std::string& key) const override;
  std::vector<std::string> valueNames(const std::string& key) const override;
  std::optional<RegValue> read(const std::string& key, const std::string& name) const override;
  // Refuses (false) texts with a line break or a NUL, and in a UTF-16 file texts
  // that are not UTF-8, since they could not be written back as they were given.
  bool write(const std::string& key, const std::string& name, const RegValue& value) override;
  bool remove(const std::string& key, const std::string& name) override;

 private:
  enum class Encoding { Utf8, Utf8WithMark, Utf16 };
  // A value and the lines that define it: a name given again overrides the
  // earlier definition, as an import would.
  struct Value {
    std::string name;
    RegValue value;
    std::vector<std::pair<size_t, size_t>> spans;  // first and last line of each definition
  };
  struct Key {
    std::string path;           // with its hive, as first written
    size_t end = 0;             // after its last non-blank line: where a new value goes
    std::vector<Value> values;  // in order of first appearance
    std::unordered_map<std::string, size_t> byName;  // lower-case name -> index in values
  };

  void index();
  const Key* find(const std::string& key) const;
  bool isParent(const std::string& foldedPath) const;
  bool storable(std::string_view text) const;
  void appendKey(const std::string& path);
  void insertLine(size_t at, std::string line);
  std::string lineOf(std::string_view text) const;

  Encoding encoding_ = Encoding::Utf8;
  std::string newline_ = "\n";
  std::vector<std::string> lines_;  // each with its line end; the last may have none
  std::vector<Key> keys_;
  std::unordered_map<std::string, size_t> byPath_;  // lower-case path -> index in keys_
};

}  // namespace loopmon
