// The registry store on POSIX: one text file in the registry editor's export
// format, so a hand-made or exported .reg file can be dropped in place and the
// store can be read and edited with any text editor.
//
// Other processes may change the file at any time, so a call outside a batch
// reads it anew; its parsed form is kept and reused as long as the bytes are
// the same. Every change is a read-modify-write under a lock on a companion
// file (the store itself is replaced by rename, so a lock on it would not
// survive a change) and replaces the file atomically.
//
// Only a missing file is an empty store. A store that is there but cannot be
// read (no permission, an I/O error) is an error for every call, FileError
// naming the file and the reason: taken for empty, its values would silently
// give way to defaults, and the next change would replace it with a document
// of that one value.

#include <cstdlib>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/store/program_folder.h"
#include "platform/store/registry.h"
#include "platform/store/registry_document.h"
#include "platform/store/whole_file.h"
#include "platform/system/files_posix.h"

namespace loopmon {
namespace {

class RegistryFile final : public Registry {
 public:
  explicit RegistryFile(std::string path) : path_(std::move(path)) {}

  bool keyExists(const std::string& key) const override { return content()->keyExists(key); }

  bool createKey(const std::string& key) override {
    if (content()->keyExists(key)) return true;
    return change([&](RegistryDocument& doc) { return doc.createKey(key); });
  }

  std::vector<std::string> subkeys(const std::string& key) const override {
    return content()->subkeys(key);
  }

  std::vector<std::string> valueNames(const std::string& key) const override {
    return content()->valueNames(key);
  }

  std::optional<RegValue> read(const std::string& key, const std::string& name) const override {
    return content()->read(key, name);
  }

  bool write(const std::string& key, const std::string& name, const RegValue& value) override {
    return change([&](RegistryDocument& doc) { return doc.write(key, name, value); });
  }

  bool remove(const std::string& key, const std::string& name) override {
    return change([&](RegistryDocument& doc) { return doc.remove(key, name); });
  }

 protected:
  void hold(bool on) const override {
    std::lock_guard lock(mutex_);
    if (!on) {
      --holds_;
      return;
    }
    // Read before counting: a store that cannot be read throws here, and
    // the batch that asked never holds it.
    if (holds_ == 0) reread();
    ++holds_;
  }

 private:
  using Content = std::shared_ptr<const RegistryDocument>;

  // Callers hold mutex_.
  Content parsed(std::string bytes) const {
    if (!cache_ || bytes != cachedBytes_) {
      cache_ = std::make_shared<const RegistryDocument>(bytes);
      cachedBytes_ = std::move(bytes);
    }
    return cache_;
  }

  Content reread() const { return parsed(readWholeFile(path_).value_or(std::string())); }

  Content content() const {
    std::lock_guard lock(mutex_);
    return holds_ > 0 && cache_ ? cache_ : reread();
  }

  // Applies `edit` to the current content under the store's lock and writes the
  // result; `edit` returns false to leave the file alone. The file is read again
  // even inside a batch: another process may have changed it since.
  template <typename Edit>
  bool change(Edit&& edit) {
    std::lock_guard guard(mutex_);
    if (!posix::makeDirectories(posix::folderOf(path_), 0700) && !posix::folderOf(path_).empty()) {
      return false;
    }
    posix::UniqueFd lock = posix::lockExclusive(path_ + ".lock");
    if (!lock.valid()) return false;
    std::optional<std::string> before = readWholeFile(path_);
    RegistryDocument doc = *parsed(before.value_or(std::string()));
    if (!edit(doc)) return false;
    std::string after = doc.bytes();
    if (before && after == *before) return true;
    try {
      replaceWholeFile(path_, after);
    } catch (const FileError&) {
      // A refused write is the false of the registry calls, as on Windows.
      return false;
    }
    cache_ = std::make_shared<const RegistryDocument>(std::move(doc));
    cachedBytes_ = std::move(after);
    return true;
  }

  std::string path_;
  mutable std::mutex mutex_;
  mutable int holds_ = 0;
  mutable Content cache_;  // the parsed form of cachedBytes_
  mutable std::string cachedBytes_;
};

}  // namespace

std::unique_ptr<Registry> openSystemRegistry() {
  return std::make_unique<RegistryFile>(userConfigFolder() + "system.reg");
}

std::unique_ptr<Registry> openRegistryFile(const std::string& path) {
  return std::make_unique<RegistryFile>(path);
}

}  // namespace loopmon
