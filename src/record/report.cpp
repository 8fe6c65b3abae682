#include "record/report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <optional>
#include <sstream>
#include <tuple>

#include "common/number_text.h"
#include "common/sha256.h"
#include "session/device_names.h"

namespace loopmon {
namespace {

// A condition's colour as the windows mark it, for CSS.
std::string colourOf(LoopCondition condition) {
  const Rgb rgb = ConditionRgb(condition);
  char text[8];
  std::snprintf(text, sizeof text, "#%02x%02x%02x", rgb.red, rgb.green, rgb.blue);
  return text;
}

constexpr const char* Layout = R"css(
@page { size: A4; margin: 12mm 10mm; }
body { font: 9pt/1.35 "DejaVu Sans", "Liberation Sans", Arial, sans-serif; color: #000;
       max-width: 190mm; margin: 0 auto; padding: 4mm; }
h1 { font-size: 14pt; margin: 0 0 2mm; }
h2 { font-size: 11pt; margin: 5mm 0 1.5mm; white-space: pre; break-after: avoid; }
table { border-collapse: collapse; }
th, td { border: 0.5pt solid #999; padding: 0.6mm 1.5mm; text-align: left; vertical-align: middle; }
th { background: #eee; font-weight: 600; }
thead { display: table-header-group; }
tr { break-inside: avoid; }
.facts th { width: 28mm; }
.summary { margin-top: 2mm; }
.summary th, .summary td { text-align: center; min-width: 16mm; }
.loops { width: 100%; }
.loops td.n, .loops td.adc { text-align: right; width: 16mm; white-space: nowrap; }
.loops td.r { text-align: right; width: 24mm; white-space: nowrap; }
.loops td.bar { width: 30mm; }
svg.bar { display: block; }
svg.bar .scale { fill: #eee; }
svg.bar .band { fill: #b9dfc3; }
.unanswered { font-style: italic; }
.changed { background: #fff1a8; }
.was { display: block; font-size: 7.5pt; color: #555; font-weight: normal; font-style: normal; }
.note { font-size: 8pt; color: #444; margin: 1mm 0; }
.changes { width: 100%; margin-bottom: 2mm; }
.tag { font-size: 8pt; font-weight: 600; background: #fff1a8; padding: 0 1.5mm; white-space: normal; }
.loops td.series { width: 24mm; }
svg.series { display: block; }
svg.series .scale { fill: #f6f6f6; }
svg.series .band { fill: #b9dfc3; }
svg.series .next { stroke: #888; stroke-width: 0.5; }
svg.series .fit { stroke: #c00000; stroke-width: 0.8; stroke-dasharray: 2 1.5; }
svg.series .leaves { fill: #c00000; }
svg.series .kohm { fill: none; stroke: #000; stroke-width: 1; }
.certificate { break-before: page; }
.certificate .digest { font: 9pt "DejaVu Sans Mono", "Liberation Mono", monospace; word-spacing: 1.5mm; }
.signatures { width: 100%; margin-top: 6mm; }
.signatures td { height: 14mm; vertical-align: bottom; }
.signatures tbody th { width: 24mm; }
@media print { body { max-width: none; padding: 0; } }
)css";

std::string style() {
  std::string css = Layout;
  for (const LoopCondition condition :
       {LoopCondition::Open, LoopCondition::Short, LoopCondition::Alarm}) {
    css += std::string(".") + ConditionName(condition) + " { color: " + colourOf(condition) +
           "; font-weight: 600; }\n";
  }
  css += std::string(".") + ConditionName(LoopCondition::Unanswered) +
         " { color: " + colourOf(LoopCondition::Unanswered) + "; }\n";
  return css;
}

// The class that colours a text of the loop table, "" for none: open, short,
// alarm and unanswered.
std::string conditionClass(LoopCondition condition) {
  if (condition == LoopCondition::Normal || condition == LoopCondition::NotShown) return "";
  return ConditionName(condition);
}

std::optional<double> median(std::vector<double> values) {
  if (values.empty()) return std::nullopt;
  std::sort(values.begin(), values.end());
  const size_t middle = values.size() / 2;
  return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

constexpr const char* RecordDigestName = "loopmon-record-sha256";
constexpr const char* SiteName = "loopmon-site";
constexpr const char* TimeName = "loopmon-time";
constexpr const char* PageDigestName = "loopmon-page-sha256";

// Where the content of the page's meta `name` begins, npos for none.
size_t metaContent(const std::string& html, const char* name) {
  const std::string opening = std::string("<meta name=\"") + name + "\" content=\"";
  const size_t found = html.find(opening);
  return found == std::string::npos ? found : found + opening.size();
}

std::optional<std::string> metaText(const std::string& html, const char* name) {
  const size_t start = metaContent(html, name);
  const size_t end = start == std::string::npos ? start : html.find('"', start);
  if (end == std::string::npos) return std::nullopt;
  std::string text;
  for (size_t at = start; at < end; ++at) {
    bool entity = false;
    for (const auto& [entityName, character] : {std::pair{"&amp;", '&'}, std::pair{"&lt;", '<'},
                                                std::pair{"&gt;", '>'}, std::pair{"&quot;", '"'}}) {
      const size_t length = std::char_traits<char>::length(entityName);
      if (html.compare(at, length, entityName) == 0) {
        text += character;
        at += length - 1;
        entity = true;
        break;
      }
    }
    if (!entity) text += html[at];
  }
  return text;
}

// The page with the digest of itself in its place, taken with that place
// holding zeros.
std::string sealed(std::string html) {
  const size_t at = metaContent(html, PageDigestName);
  html.replace(at, 64, Sha256Hex(html));
  return html;
}

class Page {
 public:
  Page(const SiteRecord& record, const std::string& recordDigest, const ReportBaseline* baseline,
       double tolerancePercent, char separator, const ReportHistory* history)
      : record_(record),
        digest_(recordDigest),
        baseline_(baseline),
        tolerance_(tolerancePercent),
        separator_(separator),
        history_(history) {
    if (history_ != nullptr) {
      for (const LoopSeries& series : history_->loops) {
        series_[{series.addr, series.type, series.loop}] = &series;
      }
    }
    if (baseline_ == nullptr) return;
    for (const RecordChange& change : baseline_->changes) {
      changes_[{change.addr, change.loop.value_or(0)}].push_back(&change);
    }
  }

  std::string render() {
    const std::string title = record_.site.empty() ? "Запись шлейфов" : record_.site;
    out_ << "<!DOCTYPE html>\n<html lang=\"ru\">\n<head>\n<meta charset=\"utf-8\">\n<title>"
         << HtmlText(title + " — " + LocalTimeText(record_.time)) << "</title>\n";
    meta(RecordDigestName, digest_);
    meta(SiteName, record_.site);
    meta(TimeName, record_.time);
    meta(PageDigestName, std::string(64, '0'));
    out_ << "<style>" << style()
         << "</style>\n</head>\n<body>\n<h1>Запись шлейфов объекта</h1>\n<table class=\"facts\">\n";
    fact("Объект", record_.site);
    fact("Время", LocalTimeText(record_.time));
    fact("Порт", record_.port);
    fact("Программа", record_.programName + " " + record_.programVersion);
    out_ << "</table>\n";
    summary();
    if (history_ != nullptr) dueList();
    if (baseline_ != nullptr) changeList();
    for (const DeviceRecord& device : record_.devices) deviceTable(device);
    legend();
    certificate();
    out_ << "</body>\n</html>\n";
    return sealed(out_.str());
  }

 private:
  void meta(const char* name, const std::string& content) {
    out_ << "<meta name=\"" << name << "\" content=\"" << HtmlText(content) << "\">\n";
  }

  // The last page, printed and signed at the handover: what was checked and
  // the digest of the record it rests on, so the paper names one file.
  void certificate() {
    const LoopCounts counts = CountLoops(record_);
    out_ << "<section class=\"certificate\">\n<h1>Акт проверки шлейфов</h1>\n"
            "<table class=\"facts\">\n";
    fact("Объект", record_.site);
    fact("Дата", LocalTimeText(record_.time).substr(0, 10));
    fact("Проверено", std::to_string(record_.devices.size()) + " приб., " +
                          std::to_string(counts.loops) + " ШС");
    out_ << "</table>\n<p>Показания всех шлейфов сняты и сохранены в файле записи объекта. "
            "SHA-256 этого файла:</p>\n<p class=\"digest\">";
    for (size_t at = 0; at < digest_.size(); at += 8) {
      out_ << (at == 0 ? "" : " ") << HtmlText(digest_.substr(at, 8));
    }
    out_ << "</p>\n<p class=\"note\">Изменённый файл записи даёт другую сумму "
            "(проверка: loopctl verify).</p>\n<table class=\"signatures\">\n"
            "<thead><tr><th></th><th>Ф. И. О.</th><th>Подпись</th><th>Дата</th></tr></thead>\n";
    for (const char* who : {"Инженер", "Заказчик"}) {
      out_ << "<tr><th>" << who << "</th><td></td><td></td><td></td></tr>\n";
    }
    out_ << "</table>\n</section>\n";
  }

  void fact(const std::string& name, const std::string& value) {
    out_ << "<tr><th>" << name << "</th><td>" << HtmlText(value) << "</td></tr>\n";
  }

  // What a reader looks for first: how much there is and how much of it is wrong.
  void summary() {
    const LoopCounts counts = CountLoops(record_);
    const std::pair<LoopCondition, int> conditions[] = {
        {LoopCondition::Open, counts.open},
        {LoopCondition::Short, counts.shorted},
        {LoopCondition::Alarm, counts.alarm},
        {LoopCondition::Unanswered, counts.unanswered}};
    out_ << "<table class=\"summary\">\n<tr><th>Приборов</th><th>Шлейфов</th><th>Обрыв</th>"
            "<th>КЗ</th><th>Тревога</th><th>Нет ответа</th>"
         << (baseline_ != nullptr ? "<th>Изменений</th>" : "") << "</tr>\n<tr><td>"
         << record_.devices.size() << "</td><td>" << counts.loops << "</td>";
    for (const auto& [condition, count] : conditions) {
      out_ << "<td" << (count > 0 ? " class=\"" + conditionClass(condition) + "\"" : "") << ">"
           << count << "</td>";
    }
    if (baseline_ != nullptr) out_ << "<td>" << baseline_->changes.size() << "</td>";
    out_ << "</tr>\n</table>\n";
  }

  std::string number(double value, int decimals) const {
    return FormatFixed(value, decimals, separator_);
  }

  std::string shown(const ChangeValue& value) const {
    if (value.kind == ChangeValue::Kind::None) return "—";
    std::string text = value.text;
    if (value.kind == ChangeValue::Kind::Number) {
      std::replace(text.begin(), text.end(), '.', separator_);
    }
    return HtmlText(text);
  }

  void changeList() {
    out_ << "<h2>Изменения с записи от " << HtmlText(LocalTimeText(baseline_->record.time))
         << "</h2>\n";
    if (baseline_->changes.empty()) {
      out_ << "<p>Изменений нет.</p>\n";
      return;
    }
    out_ << "<table class=\"changes\">\n<thead><tr><th>Адрес</th><th>ШС</th><th>Изменение</th>"
            "<th>Было</th><th>Стало</th></tr></thead>\n<tbody>\n";
    for (const RecordChange& change : baseline_->changes) {
      out_ << "<tr><td>" << int{change.addr} << "</td><td>"
           << (change.loop ? std::to_string(*change.loop) : "—") << "</td><td>"
           << ChangeLabel(change) << "</td><td>" << shown(change.before) << "</td><td>"
           << shown(change.after) << "</td></tr>\n";
    }
    out_ << "</tbody>\n</table>\n";
  }

  const DeviceRecord* baselineDevice(const DeviceRecord& device) const {
    if (baseline_ == nullptr) return nullptr;
    for (const DeviceRecord& old : baseline_->record.devices) {
      if (old.addr == device.addr && old.type == device.type) return &old;
    }
    return nullptr;
  }

  const std::vector<const RecordChange*>* changesAt(uint8_t addr, int loop) const {
    const auto found = changes_.find({addr, loop});
    return found == changes_.end() ? nullptr : &found->second;
  }

  void deviceTable(const DeviceRecord& device) {
    out_ << "<section class=\"device\" id=\"a" << int{device.addr} << "\">\n<h2>"
         << HtmlText(DeviceDescription(device.addr, device.name, device.version, separator_));
    if (const auto* changes = changesAt(device.addr, 0)) {
      for (const RecordChange* change : *changes) {
        out_ << " <span class=\"tag\">" << ChangeLabel(*change);
        if (change->before.kind != ChangeValue::Kind::None)
          out_ << ", было " << shown(change->before);
        out_ << "</span>";
      }
    }
    out_ << "</h2>\n";
    if (device.loops.empty()) {
      out_ << "<p class=\"note\">Прибор этого типа без шлейфов.</p>\n</section>\n";
      return;
    }
    std::vector<double> resistances;
    for (const LoopRecord& loop : device.loops) {
      if (loop.kohm) resistances.push_back(*loop.kohm);
    }
    const std::optional<double> typical = median(resistances);
    double highest = 0;
    for (const double value : resistances) highest = std::max(highest, value);
    const DeviceRecord* old = baselineDevice(device);

    // A device that shows no resistance (a line controller) needs no bars.
    bars_ = !resistances.empty();
    out_ << "<table class=\"loops\">\n<thead><tr><th>Номер ШС</th><th>Показание АЦП</th>"
            "<th>R кОм</th>"
         << (bars_ ? "<th></th>" : "") << (bars_ && history_ ? "<th>По посещениям</th>" : "")
         << "<th>Состояние ШС</th></tr></thead>\n<tbody>\n";
    const auto seriesOf = [&](const LoopRecord& loop) -> const LoopSeries* {
      const auto found = series_.find({device.addr, device.type, loop.loop});
      return found == series_.end() ? nullptr : found->second;
    };
    const auto referenceOf = [&](const LoopRecord& loop) {
      std::optional<double> reference = typical;
      if (old != nullptr) {
        for (const LoopRecord& before : old->loops) {
          if (before.loop == loop.loop && before.kohm) reference = before.kohm;
        }
      }
      return reference;
    };
    // A line controller's hundred switched-off loops would fill pages: a run
    // of loops that read alike, none of them changed, is one row.
    const auto alike = [&](const LoopRecord& a, const LoopRecord& b) {
      LoopRecord renumbered = b;
      renumbered.loop = a.loop;
      return b.loop == a.loop + 1 && renumbered == a && referenceOf(a) == referenceOf(b) &&
             changesAt(device.addr, a.loop) == nullptr &&
             changesAt(device.addr, b.loop) == nullptr && seriesOf(a) == nullptr &&
             seriesOf(b) == nullptr;
    };
    for (size_t first = 0; first < device.loops.size();) {
      size_t last = first;
      while (last + 1 < device.loops.size() && alike(device.loops[last], device.loops[last + 1])) {
        ++last;
      }
      loopRow(device.addr, device.loops[first], device.loops[last].loop,
              referenceOf(device.loops[first]), highest, seriesOf(device.loops[first]));
      first = last + 1;
    }
    out_ << "</tbody>\n</table>\n</section>\n";
  }

  // The row of `loop`, and of the loops after it up to `lastLoop` that read the same.
  void loopRow(uint8_t addr, const LoopRecord& loop, int lastLoop, std::optional<double> reference,
               double highest, const LoopSeries* series) {
    bool readingChanged = false;
    const RecordChange* stateChange = nullptr;
    const RecordChange* readingChange = nullptr;
    if (const auto* changes = changesAt(addr, loop.loop)) {
      for (const RecordChange* change : *changes) {
        if (change->what == ChangeKind::State) {
          stateChange = change;
        } else {
          readingChanged = true;
          readingChange = change;
        }
      }
    }
    const auto cell = [this](const std::string& kind, const std::string& condition, bool changed) {
      std::string classes = kind;
      if (!condition.empty()) classes += " " + condition;
      if (changed) classes += " changed";
      out_ << "<td class=\"" << classes << "\">";
    };
    const auto was = [this](const RecordChange* change) {
      if (change != nullptr && change->before.kind != ChangeValue::Kind::None) {
        out_ << "<span class=\"was\">было " << shown(change->before) << "</span>";
      }
    };

    out_ << "<tr id=\"a" << int{addr} << "-" << loop.loop << "\"><td class=\"n\">" << loop.loop;
    if (lastLoop != loop.loop) out_ << "–" << lastLoop;
    out_ << "</td>";
    cell("adc", "", readingChanged);
    if (loop.adc) out_ << *loop.adc;
    out_ << "</td>";
    cell("r", conditionClass(loop.condition), readingChanged);
    if (loop.kohm) {
      out_ << number(*loop.kohm, 1);
    } else if (loop.text) {
      out_ << HtmlText(*loop.text);
    }
    was(readingChange);
    if (bars_) {
      out_ << "</td><td class=\"bar\">";
      if (loop.kohm) bar(*loop.kohm, reference, highest);
    }
    if (bars_ && history_ != nullptr) {
      out_ << "</td><td class=\"series\">";
      if (series != nullptr) sparkline(*series);
    }
    out_ << "</td>";
    cell("state", conditionClass(loop.stateCondition), stateChange != nullptr);
    if (loop.state) out_ << HtmlText(*loop.state);
    was(stateChange);
    out_ << "</td></tr>\n";
  }

  // The resistance on a scale from 0 to twice the band's middle, the band
  // shaded; a reading outside the band in the alarm colour.
  void bar(double value, std::optional<double> reference, double highest) {
    constexpr double Width = 100;
    const bool banded = reference && *reference > 0;
    const double top = banded ? 2 * *reference : std::max(highest * 1.25, 1.0);
    const auto x = [&](double v) { return std::clamp(v / top, 0.0, 1.0) * Width; };
    bool inside = true;
    out_ << "<svg class=\"bar\" width=\"100\" height=\"10\" viewBox=\"0 0 100 10\">"
         << "<rect class=\"scale\" x=\"0\" y=\"2\" width=\"100\" height=\"6\"/>";
    if (banded) {
      const double low = *reference * (1 - tolerance_ / 100);
      const double high = *reference * (1 + tolerance_ / 100);
      inside = value >= low - 1e-9 && value <= high + 1e-9;
      out_ << "<rect class=\"band\" x=\"" << x(low) << "\" y=\"0\" width=\"" << x(high) - x(low)
           << "\" height=\"10\"/>";
    }
    out_ << "<rect x=\"0\" y=\"3\" width=\"" << x(value) << "\" height=\"4\" fill=\""
         << colourOf(inside ? LoopCondition::Normal : LoopCondition::Alarm) << "\"/>";
    if (value > top) {
      out_ << "<path d=\"M96 1 L100 5 L96 9 Z\" fill=\"" << colourOf(LoopCondition::Alarm)
           << "\"/>";
    }
    out_ << "</svg>";
  }

  // The loops to look at before the next visit, soonest first.
  void dueList() {
    int64_t lastVisit = 0;
    int offsetMinutes = 0;
    std::vector<const LoopSeries*> due;
    for (const LoopSeries& series : history_->loops) {
      lastVisit = series.lastVisit;
      offsetMinutes = series.offsetMinutes;
      if (series.beforeNextVisit) due.push_back(&series);
    }
    std::ranges::stable_sort(due, {}, [](const LoopSeries* series) { return *series->leaves; });
    out_ << "<h2>До следующего посещения";
    if (lastVisit != 0) {
      out_ << " (" << IsoDateOf(lastVisit + history_->nextVisitSeconds, offsetMinutes) << ")";
    }
    out_ << "</h2>\n";
    if (due.empty()) {
      out_ << "<p>По " << history_->records << " записям объекта ни один шлейф не выйдет из "
           << "нормы до следующего посещения.</p>\n";
      return;
    }
    out_ << "<table class=\"changes due\">\n<thead><tr><th>Адрес</th><th>ШС</th><th>R кОм</th>"
            "<th>Уход, кОм в месяц</th><th>Выход из нормы</th></tr></thead>\n<tbody>\n";
    for (const LoopSeries* series : due) {
      out_ << "<tr><td><a href=\"#a" << int{series->addr} << "-" << series->loop << "\">"
           << int{series->addr} << "</a></td><td>" << series->loop << "</td><td>"
           << number(series->points.back().kohm, 1) << "</td><td>"
           << (*series->slope >= 0 ? "+" : "") << number(*series->slope, 4) << " ± "
           << number(*series->slopeError, 4) << "</td><td class=\"alarm\">"
           << IsoDateOf(*series->leaves, series->offsetMinutes) << "</td></tr>\n";
    }
    out_ << "</tbody>\n</table>\n";
  }

  // The loop's resistances visit by visit over its band, up to when the next
  // visit is due; where a forecast is made, the drift's line to the date it
  // leaves the band, marked there.
  void sparkline(const LoopSeries& series) {
    constexpr double Width = 90, Height = 18;
    const int64_t start = series.points.front().seconds;
    const int64_t end = std::max(series.lastVisit + history_->nextVisitSeconds, start + 1);
    double low = series.band.low, high = series.band.high;
    for (const LoopPoint& point : series.points) {
      low = std::min(low, point.kohm);
      high = std::max(high, point.kohm);
    }
    const double margin = std::max((high - low) * 0.08, 0.01);
    low -= margin;
    high += margin;
    const auto x = [&](int64_t seconds) {
      return static_cast<double>(seconds - start) / static_cast<double>(end - start) * Width;
    };
    const auto y = [&](double kohm) { return (high - kohm) / (high - low) * Height; };
    out_ << "<svg class=\"series\" width=\"90\" height=\"18\" viewBox=\"0 0 90 18\">"
         << "<rect class=\"scale\" x=\"0\" y=\"0\" width=\"90\" height=\"18\"/>"
         << "<rect class=\"band\" x=\"0\" y=\"" << y(series.band.high)
         << "\" width=\"90\" height=\"" << y(series.band.low) - y(series.band.high) << "\"/>"
         << "<line class=\"next\" x1=\"" << x(series.lastVisit) << "\" y1=\"0\" x2=\""
         << x(series.lastVisit) << "\" y2=\"18\"/>";
    if (series.leaves) {
      const double limit = *series.slope > 0 ? series.band.high : series.band.low;
      const auto lineAt = [&](int64_t seconds) {
        return limit +
               *series.slope * static_cast<double>(seconds - *series.leaves) / SecondsPerMonth;
      };
      const int64_t until = std::clamp(*series.leaves, start, end);
      out_ << "<line class=\"fit\" x1=\"0\" y1=\"" << y(lineAt(start)) << "\" x2=\"" << x(until)
           << "\" y2=\"" << y(lineAt(until)) << "\"/>";
      if (*series.leaves >= start && *series.leaves <= end) {
        out_ << "<circle class=\"leaves\" cx=\"" << x(until) << "\" cy=\"" << y(limit)
             << "\" r=\"2\"/>";
      }
    }
    out_ << "<polyline class=\"kohm\" points=\"";
    for (const LoopPoint& point : series.points) {
      out_ << x(point.seconds) << "," << y(point.kohm) << " ";
    }
    out_ << "\"/></svg>";
  }

  void legend() {
    out_ << "<p class=\"note\">Полоса под сопротивлением — норма шлейфа: ";
    out_ << (baseline_ != nullptr ? "его сопротивление в прежней записи"
                                  : "медиана сопротивлений шлейфов прибора");
    out_ << " ± " << FloatToStr(tolerance_, separator_)
         << " %; вне её показание отмечено цветом тревоги. "
         << "<span class=\"open\">Обрыв</span>, <span class=\"short\">КЗ</span>, "
         << "<span class=\"alarm\">тревога</span>, <span class=\"unanswered\">false</span> — "
         << "нет ответа";
    if (baseline_ != nullptr) out_ << "; <span class=\"changed\">изменено</span> с прежней записи";
    out_ << ".</p>\n";
    if (history_ != nullptr) {
      out_ << "<p class=\"note\">По посещениям: сопротивление шлейфа в каждой записи объекта, "
              "полоса — его первое сопротивление ± "
           << FloatToStr(tolerance_, separator_)
           << " %, черта — это посещение; пунктир — уход по методу наименьших квадратов до "
              "даты выхода из нормы (кружок), если уход больше удвоенной ошибки; шкала идёт "
              "до следующего посещения.</p>\n";
    }
  }

  const SiteRecord& record_;
  const std::string& digest_;
  const ReportBaseline* baseline_;
  double tolerance_;
  char separator_;
  const ReportHistory* history_;
  std::map<std::tuple<int, int, int>, const LoopSeries*> series_;
  bool bars_ = false;
  std::map<std::pair<int, int>, std::vector<const RecordChange*>> changes_;
  std::ostringstream out_;
};

}  // namespace

std::string ReportHtml(const SiteRecord& record, const std::string& recordDigest,
                       const ReportBaseline* baseline, double tolerancePercent, char separator,
                       const ReportHistory* history) {
  return Page(record, recordDigest, baseline, tolerancePercent, separator, history).render();
}

std::optional<ReportSeal> ReadReportSeal(const std::string& html) {
  const std::optional<std::string> recordDigest = metaText(html, RecordDigestName);
  const std::optional<std::string> site = metaText(html, SiteName);
  const std::optional<std::string> time = metaText(html, TimeName);
  const size_t at = metaContent(html, PageDigestName);
  if (!recordDigest || !site || !time || at == std::string::npos || html.size() < at + 64) {
    return std::nullopt;
  }
  std::string zeroed = html;
  zeroed.replace(at, 64, std::string(64, '0'));
  return ReportSeal{Sha256Hex(zeroed) == html.substr(at, 64), *recordDigest, *site, *time};
}

std::optional<PageCheck> CheckPage(const std::string& html, const std::string& recordBytes) {
  std::optional<ReportSeal> seal = ReadReportSeal(html);
  if (!seal) return std::nullopt;
  PageCheck check{*std::move(seal), Sha256Hex(recordBytes)};
  check.recordChanged = check.recordDigest != check.seal.recordDigest;
  if (check.recordChanged) {
    try {
      const SiteRecord record = ParseRecord(recordBytes);
      check.otherRecord = record.site != check.seal.site || record.time != check.seal.time;
    } catch (const RecordError&) {
      // What no longer reads as a record is told as changed.
    }
  }
  return check;
}

std::string HtmlText(const std::string& text) {
  std::string out;
  for (const char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string ReportPathFor(const std::string& jsonPath) {
  const size_t name = jsonPath.find_last_of("/\\") + 1;
  const size_t dot = jsonPath.rfind('.');
  const std::string base =
      dot != std::string::npos && dot > name ? jsonPath.substr(0, dot) : jsonPath;
  const std::string html = base + ".html";
  return html == jsonPath ? jsonPath + ".html" : html;
}

}  // namespace loopmon
