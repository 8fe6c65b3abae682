#pragma once
// An in-memory registry hive with the semantics of the platform's Registry:
// backslash-separated key paths (a leading backslash ignored), key and value
// names compared case-insensitively, subkeys and values kept in creation order.

#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "platform/registry.h"

namespace loopmon::testing {

class MemoryRegistry : public Registry {
 public:
  bool keyExists(const std::string& key) const override;
  bool createKey(const std::string& key) override;
  std::vector<std::string> subkeys(const std::string& key) const override;
  std::vector<std::string> valueNames(const std::string& key) const override;
  std::optional<RegValue> read(const std::string& key, const std::string& name) const override;
  bool write(const std::string& key, const std::string& name, const RegValue& value) override;
  bool remove(const std::string& key, const std::string& name) override;

  // Creates the key if needed and writes the value.
  void set(const std::string& key, const std::string& name, const RegValue& value);
  // Successful writes and removals so far.
  int mutations() const;
  // Every key and value in creation order, one per line, for whole-hive comparisons.
  std::string dump() const;

 private:
  struct Key {
    std::string name;  // as first created
    std::vector<std::string> subkeys;
    std::vector<std::pair<std::string, RegValue>> values;
  };
  static std::vector<std::string> split(const std::string& path);
  static std::string fold(const std::string& path);
  Key* findLocked(const std::string& path);
  const Key* findLocked(const std::string& path) const;
  bool createLocked(const std::string& path);

  mutable std::mutex mutex_;
  std::map<std::string, Key> keys_;  // by folded full path
  std::vector<std::string> order_;   // folded paths in creation order
  int mutations_ = 0;
};

}  // namespace loopmon::testing
