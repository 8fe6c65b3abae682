#include "platform/store/registry_document.h"

#include <cstdint>
#include <optional>
#include <unordered_set>

#include "platform/system/text_scan.h"
#include "platform/system/utf8.h"

namespace loopmon {
namespace {

constexpr std::string_view kHeader = "Windows Registry Editor Version 5.00";
constexpr std::string_view kOldHeader = "REGEDIT4";
constexpr std::string_view kRoot = "HKEY_LOCAL_MACHINE";
constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";

char lowerAscii(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string fold(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = lowerAscii(c);
  return out;
}

bool startsWithName(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    if (lowerAscii(text[i]) != lowerAscii(prefix[i])) return false;
  }
  return true;
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

// --- Encodings ----------------------------------------------------------------

// Unpaired surrogates become U+FFFD; an odd last byte is dropped.
std::string decodeUtf16(std::string_view raw) {
  std::string out;
  auto unit = [&](size_t i) {
    return static_cast<uint32_t>(static_cast<uint8_t>(raw[i]) |
                                 (static_cast<uint8_t>(raw[i + 1]) << 8));
  };
  for (size_t i = 0; i + 1 < raw.size(); i += 2) {
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

// The code points of well-formed UTF-8, or nothing.
std::optional<std::vector<uint32_t>> decodeUtf8(std::string_view s) {
  std::vector<uint32_t> cps;
  for (size_t i = 0; i < s.size();) {
    const auto lead = static_cast<uint8_t>(s[i]);
    size_t extra = 0;
    if (lead >= 0xC2 && lead < 0xE0) {
      extra = 1;
    } else if (lead >= 0xE0 && lead < 0xF0) {
      extra = 2;
    } else if (lead >= 0xF0 && lead < 0xF5) {
      extra = 3;
    } else if (lead >= 0x80) {
      return std::nullopt;
    }
    if (s.size() - i <= extra) return std::nullopt;
    uint32_t cp = extra == 0 ? lead : lead & (0x3Fu >> extra);
    for (size_t k = 1; k <= extra; ++k) {
      const auto next = static_cast<uint8_t>(s[i + k]);
      if ((next & 0xC0) != 0x80) return std::nullopt;
      cp = (cp << 6) | (next & 0x3Fu);
    }
    constexpr uint32_t least[] = {0, 0x80, 0x800, 0x10000};
    if (cp < least[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp < 0xE000)) return std::nullopt;
    cps.push_back(cp);
    i += extra + 1;
  }
  return cps;
}

std::string encodeUtf16(std::string_view text) {
  std::string out = "\xFF\xFE";
  auto unit = [&](uint32_t u) {
    out += static_cast<char>(u & 0xFF);
    out += static_cast<char>(u >> 8);
  };
  // Everything in a UTF-16 document is well-formed: it was decoded from UTF-16
  // or refused by storable().
  for (uint32_t cp : decodeUtf8(text).value_or(std::vector<uint32_t>{})) {
    if (cp >= 0x10000) {
      unit(0xD800 + ((cp - 0x10000) >> 10));
      unit(0xDC00 + ((cp - 0x10000) & 0x3FF));
    } else {
      unit(cp);
    }
  }
  return out;
}

// --- Lines --------------------------------------------------------------------

// A line without its line end: LF, or CR LF. A second CR stays part of the
// line, so such a line keeps reading the way it did.
std::string_view content(std::string_view line) {
  if (!line.empty() && line.back() == '\n') line.remove_suffix(1);
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  return line;
}

bool ended(std::string_view line) {
  return !line.empty() && line.back() == '\n';
}

// Long hex data continues on the next, indented line after a trailing
// backslash. Lines written here never start with a blank, so a damaged line
// ending in a backslash cannot swallow them.
bool continues(std::string_view line, std::string_view next) {
  std::string_view a = content(line);
  std::string_view b = content(next);
  return !a.empty() && a.back() == '\\' && !b.empty() && (b.front() == ' ' || b.front() == '\t');
}

bool blank(std::string_view line) {
  return trimmed(content(line)).empty();
}

// --- Values -------------------------------------------------------------------

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
  s = trimmed(s);
  if (s.empty() || s.size() > 8) return std::nullopt;
  uint32_t v = 0;
  for (char c : s) {
    int d = digitValue(c, 16);
    if (d < 0) return std::nullopt;
    v = (v << 4) | static_cast<uint32_t>(d);
  }
  return v;
}

std::optional<std::vector<uint8_t>> parseHexBytes(std::string_view s) {
  std::vector<uint8_t> bytes;
  s = trimmed(s);
  if (s.empty()) return bytes;
  size_t start = 0;
  while (start <= s.size()) {
    size_t end = s.find(',', start);
    if (end == std::string_view::npos) end = s.size();
    std::string_view item = trimmed(s.substr(start, end - start));
    if (item.size() != 2 || digitValue(item[0], 16) < 0 || digitValue(item[1], 16) < 0)
      return std::nullopt;
    bytes.push_back(static_cast<uint8_t>(digitValue(item[0], 16) * 16 + digitValue(item[1], 16)));
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
  std::string_view rest = trimmed(line.substr(pos));
  if (rest.empty() || rest[0] != '=') return std::nullopt;
  std::string_view data = trimmed(rest.substr(1));

  if (!data.empty() && data[0] == '"') {
    size_t at = 0;
    std::optional<std::string> text = parseQuoted(data, at);
    if (!text || !trimmed(data.substr(at)).empty()) return std::nullopt;
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

}  // namespace

RegistryDocument::RegistryDocument(std::string_view bytes) {
  std::string text;
  if (bytes.size() >= 2 && bytes.substr(0, 2) == "\xFF\xFE") {
    encoding_ = Encoding::Utf16;
    text = decodeUtf16(bytes.substr(2));
  } else if (bytes.substr(0, kUtf8Mark.size()) == kUtf8Mark) {
    encoding_ = Encoding::Utf8WithMark;
    text = bytes.substr(kUtf8Mark.size());
  } else {
    text = bytes;
  }
  for (size_t start = 0; start < text.size();) {
    size_t end = text.find('\n', start);
    end = end == std::string::npos ? text.size() : end + 1;
    lines_.push_back(text.substr(start, end - start));
    start = end;
  }
  // New lines follow the file's own line ends.
  for (const std::string& line : lines_) {
    if (ended(line)) {
      newline_ = line.size() >= 2 && line[line.size() - 2] == '\r' ? "\r\n" : "\n";
      break;
    }
  }
  index();
}

std::string RegistryDocument::bytes() const {
  std::string text = encoding_ == Encoding::Utf8WithMark ? std::string(kUtf8Mark) : std::string();
  for (const std::string& line : lines_) text += line;
  return encoding_ == Encoding::Utf16 ? encodeUtf16(text) : text;
}

// One pass over the lines, with constant work per line for the lookups.
void RegistryDocument::index() {
  keys_.clear();
  byPath_.clear();
  Key* current = nullptr;
  for (size_t i = 0; i < lines_.size();) {
    const size_t first = i;
    while (i + 1 < lines_.size() && continues(lines_[i], lines_[i + 1])) ++i;
    const size_t last = i++;
    if (first == last) {
      std::string_view t = trimmed(content(lines_[first]));
      if (t.empty() || t == kHeader || t == kOldHeader) continue;
      if (t.front() == '[' && t.back() == ']' && t.size() > 2 && t[1] != '-') {
        std::string path = normalizePath(t.substr(1, t.size() - 2));
        auto [at, fresh] = byPath_.try_emplace(fold(path), keys_.size());
        if (fresh) keys_.push_back(Key{std::move(path), 0, {}, {}});
        current = &keys_[at->second];
        current->end = last + 1;
        continue;
      }
    }
    if (!current) continue;
    current->end = last + 1;
    std::string joined;
    for (size_t k = first; k <= last; ++k) {
      std::string_view piece = trimmed(content(lines_[k]));
      if (k < last && !piece.empty() && piece.back() == '\\') piece.remove_suffix(1);
      joined += piece;
    }
    auto parsed = parseValueLine(joined);
    if (!parsed) continue;
    auto [at, fresh] = current->byName.try_emplace(fold(parsed->first), current->values.size());
    if (fresh) current->values.push_back(Value{});
    Value& value = current->values[at->second];
    value.name = std::move(parsed->first);
    value.value = std::move(parsed->second);
    value.spans.emplace_back(first, last);
  }
}

const RegistryDocument::Key* RegistryDocument::find(const std::string& key) const {
  auto at = byPath_.find(fold(fullPath(key)));
  return at == byPath_.end() ? nullptr : &keys_[at->second];
}

bool RegistryDocument::isParent(const std::string& foldedPath) const {
  const std::string prefix = foldedPath + "\\";
  for (const Key& k : keys_) {
    if (startsWithName(k.path, prefix)) return true;
  }
  return false;
}

// A line break would end the line early and the rest would be read as another
// line; a UTF-16 file can only take well-formed text.
bool RegistryDocument::storable(std::string_view text) const {
  if (text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos) return false;
  return encoding_ != Encoding::Utf16 || decodeUtf8(text).has_value();
}

std::string RegistryDocument::lineOf(std::string_view text) const {
  return std::string(text) + newline_;
}

void RegistryDocument::insertLine(size_t at, std::string line) {
  if (at > 0 && !ended(lines_[at - 1])) {
    // A last line without its line end; a lone CR before it is the start of one.
    lines_[at - 1] += lines_[at - 1].back() == '\r' ? "\n" : newline_;
  }
  lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(at), std::move(line));
}

void RegistryDocument::appendKey(const std::string& path) {
  if (lines_.empty()) {
    lines_.push_back(lineOf(kHeader));
    lines_.push_back(newline_);
  } else if (!blank(lines_.back())) {
    insertLine(lines_.size(), newline_);
  }
  insertLine(lines_.size(), lineOf("[" + path + "]"));
  lines_.push_back(newline_);
}

bool RegistryDocument::keyExists(const std::string& key) const {
  const std::string path = fold(fullPath(key));
  return path == fold(kRoot) || byPath_.count(path) > 0 || isParent(path);
}

bool RegistryDocument::createKey(const std::string& key) {
  if (!storable(key)) return false;
  if (keyExists(key)) return true;
  appendKey(fullPath(key));
  index();
  return true;
}

std::vector<std::string> RegistryDocument::subkeys(const std::string& key) const {
  const std::string prefix = fullPath(key) + "\\";
  std::vector<std::string> names;
  std::unordered_set<std::string> seen;
  for (const Key& k : keys_) {
    if (!startsWithName(k.path, prefix)) continue;
    std::string child =
        k.path.substr(prefix.size(), k.path.find('\\', prefix.size()) - prefix.size());
    if (seen.insert(fold(child)).second) names.push_back(std::move(child));
  }
  return names;
}

std::vector<std::string> RegistryDocument::valueNames(const std::string& key) const {
  std::vector<std::string> names;
  if (const Key* k = find(key)) {
    for (const Value& v : k->values) names.push_back(v.name);
  }
  return names;
}

std::optional<RegValue> RegistryDocument::read(const std::string& key,
                                               const std::string& name) const {
  const Key* k = find(key);
  if (!k) return std::nullopt;
  auto at = k->byName.find(fold(name));
  if (at == k->byName.end()) return std::nullopt;
  return k->values[at->second].value;
}

bool RegistryDocument::write(const std::string& key, const std::string& name,
                             const RegValue& value) {
  if (!storable(key) || !storable(name) ||
      (value.type == RegType::String && !storable(value.text))) {
    return false;
  }
  if (!find(key)) {
    // A key that exists only as the parent of others gets its own section.
    if (!isParent(fold(fullPath(key)))) return false;
    appendKey(fullPath(key));
    index();
  }
  const Key& k = *find(key);
  std::string line = lineOf(formatValue(name, value));
  auto at = k.byName.find(fold(name));
  if (at == k.byName.end()) {
    insertLine(k.end, std::move(line));
  } else {
    // The last definition is the one that counts; earlier ones stay overridden.
    auto [first, last] = k.values[at->second].spans.back();
    const bool lastLine = last + 1 == lines_.size();
    if (lastLine && !ended(lines_[last])) line.resize(line.size() - newline_.size());
    lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(first),
                 lines_.begin() + static_cast<std::ptrdiff_t>(last) + 1);
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(first), std::move(line));
  }
  index();
  return true;
}

bool RegistryDocument::remove(const std::string& key, const std::string& name) {
  const Key* k = find(key);
  if (!k) return false;
  auto at = k->byName.find(fold(name));
  if (at == k->byName.end()) return false;
  // Every definition goes, or an earlier one would come back.
  const std::vector<std::pair<size_t, size_t>> spans = k->values[at->second].spans;
  for (auto span = spans.rbegin(); span != spans.rend(); ++span) {
    const auto first = static_cast<std::ptrdiff_t>(span->first);
    lines_.erase(lines_.begin() + first,
                 lines_.begin() + static_cast<std::ptrdiff_t>(span->second) + 1);
    // The lines around the gap must not join into a value that was not there.
    if (span->first > 0 && span->first < lines_.size() &&
        continues(lines_[span->first - 1], lines_[span->first])) {
      lines_.insert(lines_.begin() + first, newline_);
    }
  }
  index();
  return true;
}

}  // namespace loopmon
