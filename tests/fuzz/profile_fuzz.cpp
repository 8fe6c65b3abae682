// Profile files (pcom.ini, ohmgauge.kft) as anyone may have edited them: every
// key reads, the coefficients lookup fails only with its conversion error, and
// a write to one key changes no other.

#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>

#include "common/number_text.h"
#include "fuzz_check.h"
#include "loops/coeffs.h"
#include "platform/store/profile_file.h"

using namespace loopmon;
using fuzz::require;

namespace {

// tmpfs where there is one: every write of the store is flushed to disk.
std::string scratchFile() {
  std::error_code error;
  std::filesystem::path folder = std::filesystem::is_directory("/dev/shm", error)
                                     ? std::filesystem::path("/dev/shm")
                                     : std::filesystem::temp_directory_path();
  folder /= "loopmon-profile-fuzz-" + std::to_string(::getpid());
  std::filesystem::create_directories(folder);
  return (folder / "ohmgauge.kft").string();
}

// Section names as the harness sees them: text between '[' and ']' at a line's start.
std::set<std::string> sectionsIn(const std::string& text) {
  std::set<std::string> names;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(start, end - start);
    const size_t open = line.find('[');
    const size_t close = line.find(']');
    if (open != std::string::npos && close != std::string::npos && close > open) {
      names.insert(line.substr(open + 1, close - open - 1));
    }
    if (names.size() >= 16) break;
    start = end + 1;
  }
  return names;
}

// Names compare without case and without the blanks around them.
std::string nameOf(const std::string& name) {
  const size_t first = name.find_first_not_of(" \t");
  if (first == std::string::npos) return {};
  std::string folded = name.substr(first, name.find_last_not_of(" \t") + 1 - first);
  for (char& c : folded) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return folded;
}

using Contents = std::map<std::pair<std::string, std::string>, std::string>;

Contents contents(const ProfileFile& file, const std::set<std::string>& sections) {
  Contents all;
  for (const std::string& section : sections) {
    for (const std::string& key : file.keys(section)) {
      all[{nameOf(section), nameOf(key)}] = file.readString(section, key, "\n");
      file.readInt(section, key, 0);
    }
  }
  return all;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = scratchFile();
  const std::string text = fuzz::textOf(data, size);
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;

  const CoefficientsStore store(path, ',');
  for (const std::string& section : sectionsIn(text)) {
    int type = 0;
    int version = 0;
    if (std::sscanf(section.c_str(), "%d-%d", &type, &version) != 2) continue;
    try {
      store.Lookup(static_cast<uint8_t>(type), static_cast<uint8_t>(version));
    } catch (const ConversionError&) {
    }
    store.LoadPoints(static_cast<uint8_t>(type), static_cast<uint8_t>(version));
  }

  ProfileFile file(path);
  std::set<std::string> sections = sectionsIn(text);
  const Contents before = contents(file, sections);
  const std::string section = sections.empty() ? "1-160" : *sections.begin();
  if (!file.writeStrings(section, {{"FuzzKey", "written"}})) return 0;
  require(file.readString(section, "FuzzKey", "") == "written", "a written key reads back");
  Contents after = contents(file, sections);
  after.erase({nameOf(section), "fuzzkey"});
  Contents expected = before;
  expected.erase({nameOf(section), "fuzzkey"});
  require(after == expected, "a write changes no other key");
  return 0;
}
