#pragma once
// An in-memory registry hive with the semantics of the platform's Registry:
// backslash-separated key paths (a leading backslash ignored), key and value
// names compared case-insensitively, subkeys and values kept in creation order.

#include <algorithm>
#include <cctype>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "platform/store/registry.h"

namespace loopmon::testing {

class MemoryRegistry : public Registry {
 public:
  bool keyExists(const std::string& key) const override {
    std::lock_guard lock(mutex_);
    return find(key) != nullptr;
  }
  bool createKey(const std::string& key) override {
    std::lock_guard lock(mutex_);
    std::string path;
    for (const std::string& part : parts(key)) {
      if (!path.empty()) path += '\\';
      path += lower(part);
      if (!find(path)) keys_.push_back({path, part, {}});
    }
    return !path.empty();
  }
  std::vector<std::string> subkeys(const std::string& key) const override {
    std::lock_guard lock(mutex_);
    const std::string parent = fold(key) + "\\";
    std::vector<std::string> names;
    for (const Key& k : keys_) {
      if (k.path == parent + lower(k.name)) names.push_back(k.name);
    }
    return names;
  }
  std::vector<std::string> valueNames(const std::string& key) const override {
    std::lock_guard lock(mutex_);
    std::vector<std::string> names;
    if (const Key* k = find(key)) {
      for (const auto& value : k->values) names.push_back(value.first);
    }
    return names;
  }
  std::optional<RegValue> read(const std::string& key, const std::string& name) const override {
    std::lock_guard lock(mutex_);
    const Key* k = find(key);
    if (!k) return std::nullopt;
    const size_t at = indexOf(*k, name);
    return at == k->values.size() ? std::nullopt : std::optional(k->values[at].second);
  }
  bool write(const std::string& key, const std::string& name, const RegValue& data) override {
    std::lock_guard lock(mutex_);
    Key* k = const_cast<Key*>(find(key));
    if (!k) return false;
    ++mutations_;
    const size_t at = indexOf(*k, name);
    if (at == k->values.size()) k->values.emplace_back(name, data);
    k->values[at].second = data;
    return true;
  }
  bool remove(const std::string& key, const std::string& name) override {
    std::lock_guard lock(mutex_);
    Key* k = const_cast<Key*>(find(key));
    if (!k || indexOf(*k, name) == k->values.size()) return false;
    k->values.erase(k->values.begin() + static_cast<ptrdiff_t>(indexOf(*k, name)));
    ++mutations_;
    return true;
  }

  // Creates the key if needed and writes the value.
  void set(const std::string& key, const std::string& name, const RegValue& data) {
    createKey(key);
    write(key, name, data);
  }
  // Successful writes and removals so far.
  int mutations() const {
    std::lock_guard lock(mutex_);
    return mutations_;
  }
  // Every key and value in creation order, for whole-hive comparisons.
  std::string dump() const {
    std::lock_guard lock(mutex_);
    std::string text;
    for (const Key& k : keys_) {
      text += "[" + k.path + "]\n";
      for (const auto& [name, v] : k.values) {
        text += name + "=" + std::to_string(static_cast<int>(v.type)) + ":" +
                std::to_string(v.dword) + "," + v.text + "," +
                std::string(v.bytes.begin(), v.bytes.end()) + "\n";
      }
    }
    return text;
  }

 private:
  struct Key {
    std::string path;  // folded
    std::string name;  // as first created
    std::vector<std::pair<std::string, RegValue>> values;
  };

  static std::string lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
  }
  static std::vector<std::string> parts(const std::string& path) {
    std::vector<std::string> parts{""};
    for (char c : path) {
      if (c != '\\') {
        parts.back() += c;
      } else if (!parts.back().empty()) {
        parts.emplace_back();
      }
    }
    if (parts.back().empty()) parts.pop_back();
    return parts;
  }
  static std::string fold(const std::string& path) {
    std::string folded;
    for (const std::string& part : parts(path)) {
      if (!folded.empty()) folded += '\\';
      folded += lower(part);
    }
    return folded;
  }
  const Key* find(const std::string& key) const {
    const std::string path = fold(key);
    auto it =
        std::find_if(keys_.begin(), keys_.end(), [&](const Key& k) { return k.path == path; });
    return it == keys_.end() ? nullptr : &*it;
  }
  static size_t indexOf(const Key& key, const std::string& name) {
    auto it = std::find_if(key.values.begin(), key.values.end(),
                           [&](const auto& v) { return lower(v.first) == lower(name); });
    return static_cast<size_t>(it - key.values.begin());
  }

  mutable std::mutex mutex_;
  std::vector<Key> keys_;  // in creation order
  int mutations_ = 0;
};

}  // namespace loopmon::testing
