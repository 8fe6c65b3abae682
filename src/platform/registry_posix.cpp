// The registry store on POSIX: one text file in the registry editor's export
// format, so a hand-made or exported .reg file can be dropped in place and the
// store can be read and edited with any text editor.
//
// Other processes may change the file at any time, so every call reads it
// anew; every change is a read-modify-write under a lock on a companion file
// (the store itself is replaced by rename, so a lock on it would not survive a
// change) and replaces the file atomically. Lines the store does not understand
// are skipped on reading and written back unchanged, so a hand edit is never
// lost by a later change.

#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/posix_files.h"
#include "platform/program_folder.h"
#include "platform/registry.h"

namespace loopmon {
namespace {

constexpr std::string_view kHeader = "Windows Registry Editor Version 5.00";
constexpr std::string_view kOldHeader = "REGEDIT4";
constexpr std::string_view kRoot = "HKEY_LOCAL_MACHINE";

char lowerAscii(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool sameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (lowerAscii(a[i]) != lowerAscii(b[i])) return false;
  }
  return true;
}

bool startsWithName(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && sameName(text.substr(0, prefix.size()), prefix);
}

// "\Software\\X\" -> "Software\X": empty components dropped.
std::string normalizePath(std::string_view path) {
  std::string result;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('\\', start);
    if (end == std::string_view::npos) end = path.size();
    if (end > start) {
      if (!result.empty()) result += '\\';
      result.append(path.substr(start, end - start));
    }
    start = end + 1;
  }
  return result;
}

std::string fullPath(const std::string& key) {
  std::string relative = normalizePath(key);
  return relative.empty() ? std::string(kRoot) : std::string(kRoot) + "\\" + relative;
}

// One line of a section: a value the store understands, or text kept as it was.
struct Entry {
  std::optional<std::string> name;
  RegValue value;
  std::string text;  // exactly as it stands in the file (continuation lines included)
};

struct Section {
  std::string path;  // as written, without the brackets
  std::vector<Entry> entries;
};

struct Document {
  std::vector<std::string> preamble;  // lines before the first section
  std::vector<Section> sections;

  Section* find(const std::string& path) {
    for (Section& s : sections) {
      if (sameName(normalizePath(s.path), path)) return &s;
    }
    return nullptr;
  }
};

// --- Decoding -------------------------------------------------------------

void appendUtf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// The registry editor exports UTF-16LE with a byte order mark; files written
// here are UTF-8. Unpaired surrogates become U+FFFD.
std::string decodeText(const std::string& raw) {
  if (raw.size() >= 2 && static_cast<uint8_t>(raw[0]) == 0xFF &&
      static_cast<uint8_t>(raw[1]) == 0xFE) {
    std::string out;
    auto unit = [&](size_t i) {
      return static_cast<uint32_t>(static_cast<uint8_t>(raw[i]) |
                                   (static_cast<uint8_t>(raw[i + 1]) << 8));
    };
    for (size_t i = 2; i + 1 < raw.size(); i += 2) {
      uint32_t cp = unit(i);
      if (cp >= 0xD800 && cp < 0xDC00 && i + 3 < raw.size() && unit(i + 2) >= 0xDC00 &&
          unit(i + 2) < 0xE000) {
        cp = 0x10000 + ((cp - 0xD800) << 10) + (unit(i + 2) - 0xDC00);
        i += 2;
      } else if (cp >= 0xD800 && cp < 0xE000) {
        cp = 0xFFFD;
      }
      appendUtf8(out, cp);
    }
    return out;
  }
  if (raw.size() >= 3 && raw.compare(0, 3, "\xEF\xBB\xBF") == 0) return raw.substr(3);
  return raw;
}

// --- Parsing ----------------------------------------------------------------

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = lowerAscii(c);
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

std::string_view trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

// A quoted string with \\ and \" escapes starting at s[pos]; pos ends after the
// closing quote.
std::optional<std::string> parseQuoted(std::string_view s, size_t& pos) {
  if (pos >= s.size() || s[pos] != '"') return std::nullopt;
  std::string out;
  for (++pos; pos < s.size(); ++pos) {
    char c = s[pos];
    if (c == '"') {
      ++pos;
      return out;
    }
    if (c == '\\') {
      if (++pos >= s.size()) return std::nullopt;
      c = s[pos];
    }
    out += c;
  }
  return std::nullopt;
}

std::optional<uint32_t> parseDword(std::string_view s) {
  s = trim(s);
  if (s.empty() || s.size() > 8) return std::nullopt;
  uint32_t v = 0;
  for (char c : s) {
    int d = hexDigit(c);
    if (d < 0) return std::nullopt;
    v = (v << 4) | static_cast<uint32_t>(d);
  }
  return v;
}

std::optional<std::vector<uint8_t>> parseHexBytes(std::string_view s) {
  std::vector<uint8_t> bytes;
  s = trim(s);
  if (s.empty()) return bytes;
  size_t start = 0;
  while (start <= s.size()) {
    size_t end = s.find(',', start);
    if (end == std::string_view::npos) end = s.size();
    std::string_view item = trim(s.substr(start, end - start));
    if (item.size() != 2 || hexDigit(item[0]) < 0 || hexDigit(item[1]) < 0) return std::nullopt;
    bytes.push_back(static_cast<uint8_t>(hexDigit(item[0]) * 16 + hexDigit(item[1])));
    start = end + 1;
  }
  return bytes;
}

// `"Name"=data` or `@=data` (the default value, name ""). Values of the
// registry's other types (hex(2): and the like) read as their bytes.
std::optional<std::pair<std::string, RegValue>> parseValueLine(std::string_view line) {
  size_t pos = 0;
  std::string name;
  if (!line.empty() && line[0] == '@') {
    pos = 1;
  } else {
    std::optional<std::string> quoted = parseQuoted(line, pos);
    if (!quoted) return std::nullopt;
    name = std::move(*quoted);
  }
  std::string_view rest = trim(line.substr(pos));
  if (rest.empty() || rest[0] != '=') return std::nullopt;
  std::string_view data = trim(rest.substr(1));

  if (!data.empty() && data[0] == '"') {
    size_t at = 0;
    std::optional<std::string> text = parseQuoted(data, at);
    if (!text || !trim(data.substr(at)).empty()) return std::nullopt;
    return std::pair{std::move(name), RegValue::ofString(std::move(*text))};
  }
  if (startsWithName(data, "dword:")) {
    std::optional<uint32_t> v = parseDword(data.substr(6));
    if (!v) return std::nullopt;
    return std::pair{std::move(name), RegValue::ofDword(*v)};
  }
  if (startsWithName(data, "hex")) {
    size_t colon = data.find(':');
    std::string_view kind = data.substr(3, colon == std::string_view::npos ? 0 : colon - 3);
    bool typed = kind.size() >= 3 && kind.front() == '(' && kind.back() == ')';
    if (colon == std::string_view::npos || !(kind.empty() || typed)) return std::nullopt;
    std::optional<std::vector<uint8_t>> bytes = parseHexBytes(data.substr(colon + 1));
    if (!bytes) return std::nullopt;
    return std::pair{std::move(name), RegValue::ofBinary(std::move(*bytes))};
  }
  return std::nullopt;
}

void addEntry(Section& section, Entry entry) {
  if (entry.name) {
    for (Entry& e : section.entries) {
      // A repeated value overrides the earlier one, as an import would.
      if (e.name && sameName(*e.name, *entry.name)) {
        e = std::move(entry);
        return;
      }
    }
  }
  section.entries.push_back(std::move(entry));
}

// The pieces of a line continued with trailing backslashes, joined into one.
std::string joinContinued(std::string_view text) {
  std::string joined;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view piece = trim(text.substr(start, end - start));
    if (end < text.size() && !piece.empty() && piece.back() == '\\') piece.remove_suffix(1);
    joined.append(piece);
    start = end + 1;
  }
  return joined;
}

Document parse(const std::string& raw) {
  std::string text = decodeText(raw);
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    // Long hex data continues on the next, indented line after a trailing
    // backslash. Lines written here never start with a blank, so a damaged line
    // ending in a backslash cannot swallow them.
    bool continued = !lines.empty() && !lines.back().empty() && lines.back().back() == '\\' &&
                     !line.empty() && (line[0] == ' ' || line[0] == '\t');
    if (continued) {
      lines.back() += '\n';
      lines.back() += line;
    } else {
      lines.push_back(std::move(line));
    }
    start = end + 1;
  }

  Document doc;
  Section* current = nullptr;
  for (const std::string& line : lines) {
    std::string_view t = trim(line);
    if (t.empty() || t == kHeader || t == kOldHeader) continue;
    if (t.front() == '[' && t.back() == ']' && t.size() > 2 && t[1] != '-') {
      std::string path(t.substr(1, t.size() - 2));
      current = doc.find(normalizePath(path));
      if (!current) {
        doc.sections.push_back(Section{std::move(path), {}});
        current = &doc.sections.back();
      }
      continue;
    }
    if (!current) {
      doc.preamble.push_back(line);
      continue;
    }
    auto value = parseValueLine(joinContinued(t));
    if (value) {
      addEntry(*current, Entry{std::move(value->first), std::move(value->second), line});
    } else {
      current->entries.push_back(Entry{std::nullopt, {}, line});
    }
  }
  return doc;
}

// --- Writing ------------------------------------------------------------------

std::string quote(const std::string& s) {
  std::string out = "\"";
  for (char c : s) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  out += '"';
  return out;
}

std::string formatValue(const std::string& name, const RegValue& value) {
  static const char digits[] = "0123456789abcdef";
  std::string out = (name.empty() ? std::string("@") : quote(name)) + "=";
  switch (value.type) {
    case RegType::Dword:
      out += "dword:";
      for (int shift = 28; shift >= 0; shift -= 4) out += digits[(value.dword >> shift) & 0xF];
      break;
    case RegType::String:
      out += quote(value.text);
      break;
    case RegType::Binary:
      out += "hex:";
      for (size_t i = 0; i < value.bytes.size(); ++i) {
        if (i > 0) out += ',';
        out += digits[value.bytes[i] >> 4];
        out += digits[value.bytes[i] & 0xF];
      }
      break;
  }
  return out;
}

std::string serialize(const Document& doc) {
  std::string out(kHeader);
  out += "\n\n";
  for (const std::string& line : doc.preamble) out += line + "\n";
  if (!doc.preamble.empty()) out += "\n";
  for (const Section& s : doc.sections) {
    out += "[" + s.path + "]\n";
    for (const Entry& e : s.entries) out += e.text + "\n";
    out += "\n";
  }
  return out;
}

// A line break would end the value's line early and the rest would be lost.
bool fitsOnOneLine(const std::string& s) {
  return s.find_first_of(std::string_view("\r\n\0", 3)) == std::string::npos;
}

class RegistryFile final : public Registry {
 public:
  explicit RegistryFile(std::string path) : path_(std::move(path)) {}

  bool keyExists(const std::string& key) const override {
    std::string path = fullPath(key);
    if (sameName(path, kRoot)) return true;
    for (const Section& s : load().sections) {
      std::string p = normalizePath(s.path);
      if (sameName(p, path) || (startsWithName(p, path + "\\"))) return true;
    }
    return false;
  }

  bool createKey(const std::string& key) override {
    if (!fitsOnOneLine(key)) return false;
    if (keyExists(key)) return true;
    return change([&](Document& doc) {
      if (!doc.find(fullPath(key))) doc.sections.push_back(Section{fullPath(key), {}});
      return true;
    });
  }

  std::vector<std::string> subkeys(const std::string& key) const override {
    std::string prefix = fullPath(key) + "\\";
    std::vector<std::string> names;
    for (const Section& s : load().sections) {
      std::string p = normalizePath(s.path);
      if (!startsWithName(p, prefix)) continue;
      std::string child = p.substr(prefix.size(), p.find('\\', prefix.size()) - prefix.size());
      bool known = false;
      for (const std::string& n : names) known = known || sameName(n, child);
      if (!known) names.push_back(std::move(child));
    }
    return names;
  }

  std::vector<std::string> valueNames(const std::string& key) const override {
    std::vector<std::string> names;
    Document doc = load();
    if (const Section* s = doc.find(fullPath(key))) {
      for (const Entry& e : s->entries) {
        if (e.name) names.push_back(*e.name);
      }
    }
    return names;
  }

  std::optional<RegValue> read(const std::string& key, const std::string& name) const override {
    Document doc = load();
    if (const Section* s = doc.find(fullPath(key))) {
      for (const Entry& e : s->entries) {
        if (e.name && sameName(*e.name, name)) return e.value;
      }
    }
    return std::nullopt;
  }

  bool write(const std::string& key, const std::string& name, const RegValue& value) override {
    if (!fitsOnOneLine(name) || (value.type == RegType::String && !fitsOnOneLine(value.text))) {
      return false;
    }
    return change([&](Document& doc) {
      Section* s = doc.find(fullPath(key));
      if (!s) {
        // A key that exists only as the parent of others gets its own section.
        if (!existsIn(doc, fullPath(key))) return false;
        doc.sections.push_back(Section{fullPath(key), {}});
        s = &doc.sections.back();
      }
      addEntry(*s, Entry{name, value, formatValue(name, value)});
      return true;
    });
  }

  bool remove(const std::string& key, const std::string& name) override {
    return change([&](Document& doc) {
      Section* s = doc.find(fullPath(key));
      if (!s) return false;
      for (auto it = s->entries.begin(); it != s->entries.end(); ++it) {
        if (it->name && sameName(*it->name, name)) {
          s->entries.erase(it);
          return true;
        }
      }
      return false;
    });
  }

 private:
  static bool existsIn(const Document& doc, const std::string& path) {
    for (const Section& s : doc.sections) {
      if (startsWithName(normalizePath(s.path), path + "\\")) return true;
    }
    return false;
  }

  Document load() const {
    std::optional<std::string> raw = posix::readFile(path_);
    return raw ? parse(*raw) : Document{};
  }

  // Applies `edit` to the current content under the store's lock and writes the
  // result; `edit` returns false to leave the file alone.
  template <typename Edit>
  bool change(Edit&& edit) {
    if (!posix::makeDirectories(posix::folderOf(path_), 0700) && !posix::folderOf(path_).empty()) {
      return false;
    }
    posix::UniqueFd lock = posix::lockExclusive(path_ + ".lock");
    if (!lock.valid()) return false;
    Document doc = load();
    if (!edit(doc)) return false;
    return posix::replaceFile(path_, serialize(doc));
  }

  std::string path_;
};

}  // namespace

std::unique_ptr<Registry> openSystemRegistry() {
  return std::make_unique<RegistryFile>(userConfigFolder() + "system.reg");
}

std::unique_ptr<Registry> openRegistryFile(const std::string& path) {
  return std::make_unique<RegistryFile>(path);
}

}  // namespace loopmon
