#include "search/port_choices.h"

#include <algorithm>

namespace loopmon {

namespace {

constexpr int FixedPorts = 4;

std::string deviceBehind(const PortEntry& entry) {
  if (!entry.description.empty()) return entry.description;
  const std::string what = describePort(entry);
  if (!what.empty()) return what;
  return entry.devicePath == entry.comName ? std::string() : entry.devicePath;
}

PortChoiceItem itemFor(const std::string& name, const PortEntry* entry) {
  const std::string device = entry ? deviceBehind(*entry) : std::string();
  return {name, device.empty() ? name : name + " — " + device};
}

}  // namespace

std::vector<PortChoiceItem> searchPortChoices(const std::vector<PortEntry>& ports) {
  auto entryNamed = [&](const std::string& name) -> const PortEntry* {
    auto found = std::find_if(ports.begin(), ports.end(),
                              [&](const PortEntry& p) { return p.comName == name; });
    return found == ports.end() ? nullptr : &*found;
  };
  std::vector<PortChoiceItem> items;
  for (int number = 1; number <= FixedPorts; ++number) {
    items.push_back(itemFor(comPortName(number), entryNamed(comPortName(number))));
  }
  std::vector<const PortEntry*> further;
  for (const PortEntry& entry : ports) {
    const std::optional<int> number = comPortNumber(entry.comName);
    if (number && *number > FixedPorts) further.push_back(&entry);
  }
  std::stable_sort(further.begin(), further.end(), [](const PortEntry* a, const PortEntry* b) {
    return *comPortNumber(a->comName) < *comPortNumber(b->comName);
  });
  for (const PortEntry* entry : further) items.push_back(itemFor(entry->comName, entry));
  return items;
}

}  // namespace loopmon
