#pragma once
// Debian's tshark with the shipped dissector over a capture: one row per
// packet, the fields asked for in order ("" for one the packet lacks). Two
// passes, so that a request knows the packet of its answer.

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

namespace loopmon::testing {

using TsharkRows = std::vector<std::vector<std::string>>;

inline TsharkRows tsharkFields(const std::string& tshark, const std::string& dissector,
                               const std::string& capture, const std::vector<std::string>& fields) {
  std::string command = "'" + tshark + "' -2 -n -X 'lua_script:" + dissector + "' -r '" + capture +
                        "' -T fields -E separator=/t -E occurrence=a -E aggregator=/s";
  for (const std::string& field : fields) command += " -e " + field;
  command += " 2>/dev/null";
  TsharkRows rows;
  std::FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return rows;
  std::string out;
  char chunk[4096];
  for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;) out.append(chunk, n);
  ::pclose(pipe);
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);) {
    std::vector<std::string>& row = rows.emplace_back();
    for (size_t from = 0;;) {
      const size_t tab = line.find('\t', from);
      row.push_back(line.substr(from, tab - from));
      if (tab == std::string::npos) break;
      from = tab + 1;
    }
    row.resize(fields.size());
  }
  return rows;
}

}  // namespace loopmon::testing
