#include "memory_registry.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace loopmon::testing {

namespace {

bool sameName(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

std::string describe(const RegValue& value) {
  switch (value.type) {
    case RegType::Dword:
      return "dword:" + std::to_string(value.dword);
    case RegType::String:
      return "\"" + value.text + "\"";
    case RegType::Binary: {
      std::string text = "hex:";
      char buffer[4];
      for (size_t i = 0; i < value.bytes.size(); ++i) {
        std::snprintf(buffer, sizeof buffer, i ? ",%02x" : "%02x", value.bytes[i]);
        text += buffer;
      }
      return text;
    }
  }
  return "?";
}

}  // namespace

std::vector<std::string> MemoryRegistry::split(const std::string& path) {
  std::vector<std::string> parts;
  std::string part;
  for (char c : path) {
    if (c == '\\') {
      if (!part.empty()) parts.push_back(part);
      part.clear();
    } else {
      part += c;
    }
  }
  if (!part.empty()) parts.push_back(part);
  return parts;
}

std::string MemoryRegistry::fold(const std::string& path) {
  std::string folded;
  for (const std::string& part : split(path)) {
    if (!folded.empty()) folded += '\\';
    for (char c : part) folded += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return folded;
}

MemoryRegistry::Key* MemoryRegistry::findLocked(const std::string& path) {
  auto it = keys_.find(fold(path));
  return it == keys_.end() ? nullptr : &it->second;
}

const MemoryRegistry::Key* MemoryRegistry::findLocked(const std::string& path) const {
  auto it = keys_.find(fold(path));
  return it == keys_.end() ? nullptr : &it->second;
}

bool MemoryRegistry::createLocked(const std::string& path) {
  std::vector<std::string> parts = split(path);
  if (parts.empty()) return false;
  std::string folded;
  std::string parent;
  for (const std::string& part : parts) {
    parent = folded;
    folded = fold(folded.empty() ? part : folded + "\\" + part);
    if (keys_.count(folded)) continue;
    keys_[folded] = Key{part, {}, {}};
    order_.push_back(folded);
    if (!parent.empty()) keys_[parent].subkeys.push_back(part);
  }
  return true;
}

bool MemoryRegistry::keyExists(const std::string& key) const {
  std::lock_guard lock(mutex_);
  return findLocked(key) != nullptr;
}

bool MemoryRegistry::createKey(const std::string& key) {
  std::lock_guard lock(mutex_);
  return createLocked(key);
}

std::vector<std::string> MemoryRegistry::subkeys(const std::string& key) const {
  std::lock_guard lock(mutex_);
  const Key* k = findLocked(key);
  return k ? k->subkeys : std::vector<std::string>{};
}

std::vector<std::string> MemoryRegistry::valueNames(const std::string& key) const {
  std::lock_guard lock(mutex_);
  std::vector<std::string> names;
  if (const Key* k = findLocked(key)) {
    for (const auto& [name, value] : k->values) names.push_back(name);
  }
  return names;
}

std::optional<RegValue> MemoryRegistry::read(const std::string& key,
                                             const std::string& name) const {
  std::lock_guard lock(mutex_);
  if (const Key* k = findLocked(key)) {
    for (const auto& [valueName, value] : k->values) {
      if (sameName(valueName, name)) return value;
    }
  }
  return std::nullopt;
}

bool MemoryRegistry::write(const std::string& key, const std::string& name, const RegValue& value) {
  std::lock_guard lock(mutex_);
  Key* k = findLocked(key);
  if (!k) return false;
  ++mutations_;
  for (auto& [valueName, stored] : k->values) {
    if (sameName(valueName, name)) {
      stored = value;
      return true;
    }
  }
  k->values.emplace_back(name, value);
  return true;
}

bool MemoryRegistry::remove(const std::string& key, const std::string& name) {
  std::lock_guard lock(mutex_);
  Key* k = findLocked(key);
  if (!k) return false;
  auto it = std::find_if(k->values.begin(), k->values.end(),
                         [&](const auto& entry) { return sameName(entry.first, name); });
  if (it == k->values.end()) return false;
  k->values.erase(it);
  ++mutations_;
  return true;
}

void MemoryRegistry::set(const std::string& key, const std::string& name, const RegValue& value) {
  createKey(key);
  write(key, name, value);
}

int MemoryRegistry::mutations() const {
  std::lock_guard lock(mutex_);
  return mutations_;
}

std::string MemoryRegistry::dump() const {
  std::lock_guard lock(mutex_);
  std::string text;
  for (const std::string& path : order_) {
    text += "[" + path + "]\n";
    for (const auto& [name, value] : keys_.at(path).values) {
      text += name + "=" + describe(value) + "\n";
    }
  }
  return text;
}

}  // namespace loopmon::testing
