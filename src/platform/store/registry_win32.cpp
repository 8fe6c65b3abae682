// HKEY_LOCAL_MACHINE through the registry API. Values of types the bus code
// does not know (REG_NONE, REG_MULTI_SZ, ...) read as binary data, so a flag
// that counts by its mere presence is seen whatever its type.
//
// Keys under "Software" live in the 32-bit view on every Windows: the 32-bit
// programs of an existing installation and its set-up tools keep the line
// settings there (Software\WOW6432Node on 64-bit Windows), and a 64-bit build
// must share them rather than start a second set. The hardware and system
// keys have one view for all programs and are opened as they are.

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/store/registry.h"
#include "platform/system/windows_api_win32.h"

namespace loopmon {
namespace {

std::string withoutLeadingBackslashes(const std::string& key) {
  const size_t start = key.find_first_not_of('\\');
  return start == std::string::npos ? std::string() : key.substr(start);
}

std::wstring keyPath(const std::string& key) {
  return win32::widen(withoutLeadingBackslashes(key));
}

// The registry view a key is opened in, decided by its first component.
REGSAM viewOf(const std::string& key) {
  const std::string path = withoutLeadingBackslashes(key);
  const std::string first = path.substr(0, path.find('\\'));
  return CompareStringOrdinal(win32::widen(first).c_str(), -1, L"Software", -1, TRUE) == CSTR_EQUAL
             ? KEY_WOW64_32KEY
             : 0;
}

// An open key, closed when it goes out of scope.
class Key {
 public:
  Key(const std::string& key, REGSAM access) {
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath(key).c_str(), 0, access | viewOf(key),
                      &handle_) != ERROR_SUCCESS) {
      handle_ = nullptr;
    }
  }
  ~Key() {
    if (handle_) RegCloseKey(handle_);
  }
  Key(const Key&) = delete;
  Key& operator=(const Key&) = delete;

  explicit operator bool() const { return handle_ != nullptr; }
  HKEY get() const { return handle_; }

 private:
  HKEY handle_ = nullptr;
};

// Names run to at most 255 characters for keys and 16383 for values.
constexpr DWORD MaxNameChars = 16384;

class Win32Registry final : public Registry {
 public:
  bool keyExists(const std::string& key) const override {
    return static_cast<bool>(Key(key, KEY_READ));
  }

  bool createKey(const std::string& key) override {
    HKEY handle = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, keyPath(key).c_str(), 0, nullptr,
                        REG_OPTION_NON_VOLATILE, KEY_READ | viewOf(key), nullptr, &handle,
                        nullptr) != ERROR_SUCCESS) {
      return false;
    }
    RegCloseKey(handle);
    return true;
  }

  std::vector<std::string> subkeys(const std::string& key) const override {
    std::vector<std::string> names;
    Key k(key, KEY_ENUMERATE_SUB_KEYS);
    if (!k) return names;
    std::vector<wchar_t> name(MaxNameChars);
    for (DWORD index = 0;; ++index) {
      DWORD length = MaxNameChars;
      if (RegEnumKeyExW(k.get(), index, name.data(), &length, nullptr, nullptr, nullptr, nullptr) !=
          ERROR_SUCCESS) {
        break;
      }
      names.push_back(win32::narrow(name.data(), length));
    }
    return names;
  }

  std::vector<std::string> valueNames(const std::string& key) const override {
    std::vector<std::string> names;
    Key k(key, KEY_QUERY_VALUE);
    if (!k) return names;
    std::vector<wchar_t> name(MaxNameChars);
    for (DWORD index = 0;; ++index) {
      DWORD length = MaxNameChars;
      if (RegEnumValueW(k.get(), index, name.data(), &length, nullptr, nullptr, nullptr, nullptr) !=
          ERROR_SUCCESS) {
        break;
      }
      names.push_back(win32::narrow(name.data(), length));
    }
    return names;
  }

  std::optional<RegValue> read(const std::string& key, const std::string& name) const override {
    Key k(key, KEY_QUERY_VALUE);
    if (!k) return std::nullopt;
    const std::wstring valueName = win32::widen(name);
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueExW(k.get(), valueName.c_str(), nullptr, &type, nullptr, &size) !=
        ERROR_SUCCESS) {
      return std::nullopt;
    }
    std::vector<uint8_t> data(size);
    if (RegQueryValueExW(k.get(), valueName.c_str(), nullptr, &type, data.data(), &size) !=
        ERROR_SUCCESS) {
      return std::nullopt;
    }
    data.resize(size);
    switch (type) {
      case REG_DWORD: {
        uint32_t value = 0;
        memcpy(&value, data.data(), std::min<size_t>(data.size(), sizeof value));
        return RegValue::ofDword(value);
      }
      case REG_SZ:
      case REG_EXPAND_SZ: {
        std::wstring text(data.size() / sizeof(wchar_t), L'\0');
        memcpy(text.data(), data.data(), text.size() * sizeof(wchar_t));
        // The stored size may or may not count the terminating null.
        while (!text.empty() && text.back() == L'\0') text.pop_back();
        return RegValue::ofString(win32::narrow(text));
      }
      default:
        return RegValue::ofBinary(std::move(data));
    }
  }

  bool write(const std::string& key, const std::string& name, const RegValue& value) override {
    Key k(key, KEY_SET_VALUE);
    if (!k) return false;
    const std::wstring valueName = win32::widen(name);
    LONG result = ERROR_INVALID_PARAMETER;
    switch (value.type) {
      case RegType::Dword: {
        const DWORD dword = value.dword;
        result = RegSetValueExW(k.get(), valueName.c_str(), 0, REG_DWORD,
                                reinterpret_cast<const BYTE*>(&dword), sizeof dword);
        break;
      }
      case RegType::String: {
        const std::wstring text = win32::widen(value.text);
        result = RegSetValueExW(k.get(), valueName.c_str(), 0, REG_SZ,
                                reinterpret_cast<const BYTE*>(text.c_str()),
                                static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
        break;
      }
      case RegType::Binary:
        result = RegSetValueExW(k.get(), valueName.c_str(), 0, REG_BINARY, value.bytes.data(),
                                static_cast<DWORD>(value.bytes.size()));
        break;
    }
    return result == ERROR_SUCCESS;
  }

  bool remove(const std::string& key, const std::string& name) override {
    Key k(key, KEY_SET_VALUE);
    if (!k) return false;
    return RegDeleteValueW(k.get(), win32::widen(name).c_str()) == ERROR_SUCCESS;
  }
};

}  // namespace

std::unique_ptr<Registry> openSystemRegistry() {
  return std::make_unique<Win32Registry>();
}

}  // namespace loopmon
