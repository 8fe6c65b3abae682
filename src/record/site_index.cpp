#include "record/site_index.h"

#include <sstream>

#include "common/number_text.h"
#include "record/report.h"

namespace loopmon {
namespace {

constexpr const char* Layout = R"css(
@page { size: A4 landscape; margin: 12mm 10mm; }
body { font: 9pt/1.35 "DejaVu Sans", "Liberation Sans", Arial, sans-serif; color: #000;
       margin: 0 auto; padding: 4mm; }
h1 { font-size: 14pt; margin: 0 0 3mm; }
table { border-collapse: collapse; width: 100%; }
th, td { border: 0.5pt solid #999; padding: 0.6mm 1.5mm; text-align: left; vertical-align: top; }
th { background: #eee; font-weight: 600; }
thead { display: table-header-group; }
tr { break-inside: avoid; }
td.n { text-align: right; }
.overdue { color: #c00000; font-weight: 600; }
.due { color: #c00000; }
@media print { body { padding: 0; } }
)css";

std::string joined(const std::vector<std::string>& items) {
  std::string text;
  for (const std::string& item : items) text += (text.empty() ? "" : ", ") + item;
  return text;
}

// "5/2 Обрыв", or "7/1 4,8 кОм" for a resistance outside its band.
std::string WorstLoopText(const WorstLoop& loop, char separator) {
  const std::string where = std::to_string(loop.addr) + "/" + std::to_string(loop.loop) + " ";
  if (loop.condition != LoopCondition::Normal) return where + ConditionText(loop.condition);
  return where + (loop.kohm ? FormatFixed(*loop.kohm, 1, separator) : "?") + " кОм";
}

}  // namespace

std::string DueLoopText(const LoopSeries& loop) {
  return std::to_string(loop.addr) + "/" + std::to_string(loop.loop) + " " +
         (loop.leaves ? IsoDateOf(*loop.leaves, loop.offsetMinutes) : "");
}

std::string SitesHtml(const std::vector<SiteSummary>& sites, const std::vector<std::string>& links,
                      char separator) {
  std::ostringstream out;
  int overdue = 0;
  for (const SiteSummary& site : sites) overdue += site.overdue ? 1 : 0;
  out << "<!DOCTYPE html>\n<html lang=\"ru\">\n<head>\n<meta charset=\"utf-8\">\n"
         "<title>Объекты</title>\n<style>"
      << Layout << "</style>\n</head>\n<body>\n<h1>Объекты: " << sites.size()
      << ", просрочено посещений: " << overdue << "</h1>\n"
      << "<table>\n<thead><tr><th>Объект</th><th>Последнее посещение</th><th>Посещений</th>"
         "<th>Приборов</th><th>Шлейфов</th><th>Хуже всего</th><th>Выйдут из нормы до "
         "следующего посещения</th></tr></thead>\n<tbody>\n";
  for (size_t i = 0; i < sites.size(); ++i) {
    const SiteSummary& site = sites[i];
    const std::string name = HtmlText(site.site.empty() ? "(без имени)" : site.site);
    out << "<tr><td>";
    if (i < links.size() && !links[i].empty()) {
      out << "<a href=\"" << HtmlText(links[i]) << "\">" << name << "</a>";
    } else {
      out << name;
    }
    out << "</td><td" << (site.overdue ? " class=\"overdue\"" : "") << ">"
        << HtmlText(LocalTimeText(site.latestTime));
    if (site.overdue) out << " (просрочено)";
    out << "</td><td class=\"n\">" << site.visits << "</td><td class=\"n\">" << site.devices
        << "</td><td class=\"n\">" << site.counts.loops << "</td><td>";
    std::vector<std::string> worst, due;
    for (size_t w = 0; w < site.worst.size() && w < 5; ++w) {
      worst.push_back(WorstLoopText(site.worst[w], separator));
    }
    if (site.worst.size() > 5) worst.push_back("ещё " + std::to_string(site.worst.size() - 5));
    for (const LoopSeries& loop : site.due) due.push_back(DueLoopText(loop));
    out << HtmlText(joined(worst)) << "</td><td class=\"due\">" << HtmlText(joined(due))
        << "</td></tr>\n";
  }
  out << "</tbody>\n</table>\n</body>\n</html>\n";
  return out.str();
}

}  // namespace loopmon
