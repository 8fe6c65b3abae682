// The registry store's file as anyone may have edited it: it reads without
// harm, an unchanged file is written back byte for byte, and a write or a
// removal of one value changes nothing else that can be read.

#include <algorithm>
#include <cctype>
#include <map>
#include <vector>

#include "fuzz_check.h"
#include "platform/store/registry_document.h"

using namespace loopmon;
using fuzz::require;

namespace {

struct KeyView {
  std::vector<std::string> subkeys;
  std::vector<std::string> names;
  std::vector<std::optional<RegValue>> values;
  bool operator==(const KeyView&) const = default;
};

using View = std::map<std::string, KeyView>;

// Everything a reader can reach from the root, keyed by path.
View viewOf(const Registry& registry) {
  View view;
  std::vector<std::string> pending{""};
  while (!pending.empty() && view.size() < 200) {
    const std::string key = pending.back();
    pending.pop_back();
    KeyView& k = view[key];
    k.subkeys = registry.subkeys(key);
    k.names = registry.valueNames(key);
    for (const std::string& name : k.names) k.values.push_back(registry.read(key, name));
    for (const std::string& child : k.subkeys) {
      pending.push_back(key.empty() ? child : key + "\\" + child);
    }
  }
  return view;
}

// Applies `change` to a copy and checks that, read from the written bytes,
// only what `expect` describes differs.
template <typename Change, typename Expect>
void checkChange(const RegistryDocument& original, const View& before, Change change,
                 Expect expect) {
  RegistryDocument changed = original;
  if (!change(changed)) return;
  const RegistryDocument reread(changed.bytes());
  View expected = before;
  expect(expected);
  require(viewOf(reread) == expected, "a change touches only its own value");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes = fuzz::textOf(data, size);
  const RegistryDocument doc(bytes);
  if (bytes.rfind("\xFF\xFE", 0) != 0) {
    require(doc.bytes() == bytes, "an unchanged file is written back byte for byte");
  }
  const View before = viewOf(doc);

  // A key with values if there is one, else the first key found.
  std::string key;
  for (const auto& [path, k] : before) {
    if (!path.empty() && (key.empty() || !k.names.empty())) key = path;
    if (!k.names.empty() && !path.empty()) break;
  }
  if (key.empty()) return 0;
  const KeyView& k = before.at(key);
  const RegValue fresh = RegValue::ofString("fuzz");

  const bool nameTaken = std::any_of(k.names.begin(), k.names.end(), [](std::string n) {
    for (char& c : n) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return n == "\x01new";
  });
  if (!nameTaken) {
    checkChange(
        doc, before, [&](RegistryDocument& d) { return d.write(key, "\x01new", fresh); },
        [&](View& v) {
          v[key].names.push_back("\x01new");
          v[key].values.push_back(fresh);
        });
  }
  if (k.names.empty()) return 0;
  checkChange(
      doc, before, [&](RegistryDocument& d) { return d.write(key, k.names.back(), fresh); },
      [&](View& v) { v[key].values.back() = fresh; });
  checkChange(
      doc, before, [&](RegistryDocument& d) { return d.remove(key, k.names.front()); },
      [&](View& v) {
        v[key].names.erase(v[key].names.begin());
        v[key].values.erase(v[key].values.begin());
      });
  return 0;
}
