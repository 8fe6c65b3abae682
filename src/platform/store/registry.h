#pragma once
// The HKEY_LOCAL_MACHINE hive, reduced to what the bus code needs: keys given
// as backslash-separated paths ("Software\\TAVIX\\VELTA\\RS"; a leading
// backslash is ignored, names compare case-insensitively), typed values and
// subkey listing.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace loopmon {

enum class RegType { Dword, String, Binary };

struct RegValue {
  RegType type = RegType::Dword;
  uint32_t dword = 0;
  std::string text;
  std::vector<uint8_t> bytes;

  static RegValue ofDword(uint32_t v) { return {RegType::Dword, v, {}, {}}; }
  static RegValue ofString(std::string s) { return {RegType::String, 0, std::move(s), {}}; }
  static RegValue ofBinary(std::vector<uint8_t> b) {
    return {RegType::Binary, 0, {}, std::move(b)};
  }
  bool operator==(const RegValue&) const = default;
};

class Registry {
 public:
  virtual ~Registry() = default;
  virtual bool keyExists(const std::string& key) const = 0;
  // Creates the key and its parents; true when it exists afterwards.
  virtual bool createKey(const std::string& key) = 0;
  // Names of the direct subkeys, in the store's order; empty when the key is missing.
  virtual std::vector<std::string> subkeys(const std::string& key) const = 0;
  virtual std::vector<std::string> valueNames(const std::string& key) const = 0;
  virtual std::optional<RegValue> read(const std::string& key, const std::string& name) const = 0;
  // Writes into an existing key; false when the key is missing or the store refuses.
  virtual bool write(const std::string& key, const std::string& name, const RegValue& value) = 0;
  virtual bool remove(const std::string& key, const std::string& name) = 0;

  // While a Batch lives, the registry answers from one reading of the store, so
  // an operation made of many calls reads and parses the store once and sees one
  // state. Changes still reach the store at once. Batches may nest.
  class Batch {
   public:
    explicit Batch(const Registry& registry) : registry_(registry) { registry_.hold(true); }
    ~Batch() { registry_.hold(false); }
    Batch(const Batch&) = delete;
    Batch& operator=(const Batch&) = delete;

   private:
    const Registry& registry_;
  };

 protected:
  // A store that answers every call cheaply needs no batches.
  virtual void hold(bool /*on*/) const {}
};

// The machine's registry: the real one on Windows; on POSIX a .reg-format file
// at ${XDG_CONFIG_HOME:-$HOME/.config}/loopmon/system.reg.
std::unique_ptr<Registry> openSystemRegistry();
// A .reg-format file store at an explicit path (POSIX; tests and tools).
std::unique_ptr<Registry> openRegistryFile(const std::string& path);

}  // namespace loopmon
