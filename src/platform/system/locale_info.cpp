#include <algorithm>

#include "platform/system/locale_info.h"

namespace loopmon {

void addLanguageNames(std::vector<std::string>& languages, std::string name) {
  name = name.substr(0, name.find_first_of(".@"));
  std::ranges::replace(name, '-', '_');
  const auto add = [&languages](const std::string& language) {
    if (!language.empty() && std::ranges::find(languages, language) == languages.end())
      languages.push_back(language);
  };
  add(name);
  add(name.substr(0, name.find('_')));
}

}  // namespace loopmon
