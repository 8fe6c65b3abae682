#include <optional>
#include <utility>

#include "platform/store/profile_file.h"
#include "platform/store/whole_file.h"
#include "platform/system/text_scan.h"

namespace loopmon {

namespace {

bool equalNoCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    const auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

// The file as lines without their line ends, and each line's own end, so that
// a write changes no byte of the lines it does not touch: a line that reads
// with a CR at its end (CR CR LF) keeps reading so.
struct ProfileText {
  std::vector<std::string> lines;
  std::vector<std::string> ends;
  std::string lineEnd = "\n";  // for new lines
};

// A missing file reads as empty; one that is there but cannot be read throws
// FileError, for reads and writes alike.
ProfileText loadText(const std::string& path) {
  ProfileText text;
  const std::string content = readWholeFile(path).value_or(std::string());
  bool first = true;
  for (size_t start = 0; start < content.size();) {
    const size_t newline = content.find('\n', start);
    const bool ended = newline != std::string::npos;
    std::string line = content.substr(start, ended ? newline - start : std::string::npos);
    start = ended ? newline + 1 : content.size();
    const bool crlf = !line.empty() && line.back() == '\r';
    if (crlf) line.pop_back();
    // A file that came from Windows keeps its CR LF line ends.
    if (first && crlf) text.lineEnd = "\r\n";
    first = false;
    text.lines.push_back(line);
    text.ends.push_back(std::string(crlf ? "\r" : "") + (ended ? "\n" : ""));
  }
  return text;
}

std::optional<std::string> sectionName(const std::string& line) {
  const std::string_view text = trimmed(line);
  if (text.empty() || text[0] != '[') return std::nullopt;
  const size_t close = text.find(']');
  return std::string(
      trimmed(text.substr(1, close == std::string::npos ? std::string::npos : close - 1)));
}

// The key of a "key=value" line; nothing for comments, headers and other lines.
std::optional<std::string> keyName(const std::string& line) {
  const std::string_view text = trimmed(line);
  if (text.empty() || text[0] == ';' || text[0] == '[') return std::nullopt;
  const size_t equals = text.find('=');
  if (equals == std::string::npos) return std::nullopt;
  std::string key(trimmed(text.substr(0, equals)));
  if (key.empty()) return std::nullopt;
  return key;
}

// Lines [begin, end) of the first section of that name, header excluded.
struct SectionSpan {
  size_t begin;
  size_t end;
};

std::optional<SectionSpan> findSection(const std::vector<std::string>& lines,
                                       const std::string& section) {
  const std::string wanted(trimmed(section));
  for (size_t i = 0; i < lines.size(); ++i) {
    const auto name = sectionName(lines[i]);
    if (!name || !equalNoCase(*name, wanted)) continue;
    size_t end = i + 1;
    while (end < lines.size() && !sectionName(lines[end])) ++end;
    return SectionSpan{i + 1, end};
  }
  return std::nullopt;
}

std::optional<size_t> findKey(const std::vector<std::string>& lines, SectionSpan span,
                              const std::string& key) {
  const std::string wanted(trimmed(key));
  for (size_t i = span.begin; i < span.end; ++i) {
    const auto name = keyName(lines[i]);
    if (name && equalNoCase(*name, wanted)) return i;
  }
  return std::nullopt;
}

void insertLine(ProfileText& text, size_t at, std::string line) {
  text.lines.insert(text.lines.begin() + at, std::move(line));
  text.ends.insert(text.ends.begin() + at, text.lineEnd);
}

void setKey(ProfileText& text, const std::string& section, const std::string& key,
            const std::string& value) {
  std::vector<std::string>& lines = text.lines;
  auto span = findSection(lines, section);
  if (!span) {
    // Built by appending: GCC 12 at -O3 takes `"[" + std::string&&` for an
    // overlapping copy (-Wrestrict) where there is none.
    std::string heading = "[";
    heading += trimmed(section);
    heading += ']';
    insertLine(text, lines.size(), std::move(heading));
    span = SectionSpan{lines.size(), lines.size()};
  }
  if (const auto at = findKey(lines, *span, key)) {
    lines[*at] = *keyName(lines[*at]) + "=" + value;
    return;
  }
  // After the section's last line with content, so that blank lines that part
  // it from the next section stay where they are.
  size_t insertAt = span->end;
  while (insertAt > span->begin && trimmed(lines[insertAt - 1]).empty()) --insertAt;
  insertLine(text, insertAt, std::string(trimmed(key)) + "=" + value);
}

}  // namespace

std::string ProfileFile::readString(const std::string& section, const std::string& key,
                                    const std::string& defaultValue) const {
  const ProfileText text = loadText(path_);
  const auto span = findSection(text.lines, section);
  if (!span) return defaultValue;
  const auto at = findKey(text.lines, *span, key);
  if (!at) return defaultValue;
  const std::string& line = text.lines[*at];
  return std::string(trimmed(std::string_view(line).substr(line.find('=') + 1)));
}

std::vector<std::string> ProfileFile::keys(const std::string& section) const {
  const ProfileText text = loadText(path_);
  std::vector<std::string> names;
  const auto span = findSection(text.lines, section);
  if (!span) return names;
  for (size_t i = span->begin; i < span->end; ++i) {
    if (auto name = keyName(text.lines[i])) names.push_back(std::move(*name));
  }
  return names;
}

bool ProfileFile::writeStrings(const std::string& section,
                               const std::vector<std::pair<std::string, std::string>>& entries) {
  if (!acceptableProfileEntries(section, entries)) return false;
  ProfileText text = loadText(path_);
  for (const auto& [key, value] : entries) setKey(text, section, key, value);
  std::string content;
  for (size_t i = 0; i < text.lines.size(); ++i) {
    // A last line without its end gets one when lines follow it now; one that
    // ended in a lone CR keeps it, or its value would lose a CR it reads with.
    const std::string& end = text.ends[i];
    const bool ended = !end.empty() && end.back() == '\n';
    const bool last = i + 1 == text.lines.size();
    content += text.lines[i] + (ended || last ? end : end.empty() ? text.lineEnd : end + "\n");
  }
  try {
    replaceWholeFile(path_, content);
  } catch (const FileError&) {
    // Refused as the profile functions refuse: the caller says so in its own words.
    return false;
  }
  return true;
}

}  // namespace loopmon
