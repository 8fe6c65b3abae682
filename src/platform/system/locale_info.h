#pragma once

#include <string>
#include <vector>

namespace loopmon {

// The decimal separator of the user's locale ('.' or ',').
char userDecimalSeparator();

// The languages the user reads, most preferred first, each as "ll_CC" then
// "ll" ("ru_RU", "ru"): the names a message catalog's folder carries. Empty
// for English. POSIX: LANGUAGE's list (when a locale is chosen at all), else
// the first of LC_ALL, LC_MESSAGES and LANG that is set, as gettext takes
// them; the "C" and "POSIX" locales are English. Windows: the user's
// interface language.
std::vector<std::string> userLanguages();

// "ll_CC" and "ll" from a locale or language name ("ru_RU.UTF-8@x", "ru-RU"),
// appended to `languages` unless already there.
void addLanguageNames(std::vector<std::string>& languages, std::string name);

// A table of text lines (ending in LF) as the system's spreadsheet program
// wants it in a file: Excel reads UTF-8 only after a byte-order mark and
// expects CR LF; elsewhere the text stays as it is.
std::string spreadsheetFileText(const std::string& lines);

}  // namespace loopmon
