#pragma once

#include <string>

namespace loopmon {

// The decimal separator of the user's locale ('.' or ',').
char userDecimalSeparator();

// A table of text lines (ending in LF) as the system's spreadsheet program
// wants it in a file: Excel reads UTF-8 only after a byte-order mark and
// expects CR LF; elsewhere the text stays as it is.
std::string spreadsheetFileText(const std::string& lines);

}  // namespace loopmon
