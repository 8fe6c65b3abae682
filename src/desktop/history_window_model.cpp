#include "desktop/history_window_model.h"

#include <algorithm>
#include <cmath>
#include <sstream>

#include "common/number_text.h"
#include "desktop/texts.h"
#include "loops/loop_decode.h"
#include "platform/store/whole_file.h"
#include "platform/system/locale_info.h"

namespace loopmon {

namespace {

constexpr Colour Black{0, 0, 0};
constexpr Colour White{255, 255, 255};
constexpr Colour GridColour{220, 220, 220};
constexpr Colour AxisColour{110, 110, 110};
// The conditions the legend explains, in its order.
constexpr LoopCondition Marked[] = {LoopCondition::Alarm, LoopCondition::Open,
                                    LoopCondition::Short};
// The room around the readings, as a share of their spread.
constexpr double ScalePadding = 0.1;
// About this many steps between the lowest and the highest tick.
constexpr int TickSteps = 4;

// 1, 2 or 5 times a power of ten, the smallest not below `raw`.
double roundStep(double raw) {
  const double magnitude = std::pow(10.0, std::floor(std::log10(raw)));
  for (double factor : {1.0, 2.0, 5.0}) {
    if (raw <= factor * magnitude * (1 + 1e-9)) return factor * magnitude;
  }
  return 10 * magnitude;
}

std::string csvField(const std::string& text, char separator) {
  if (text.find_first_of(std::string("\"\n") + separator) == std::string::npos) return text;
  std::string quoted = "\"";
  for (char c : text) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
  return quoted + "\"";
}

// What the state column of the CSV shows for a reading.
std::string stateText(const HistoryPoint& point) {
  if (point.kind == ReadingKind::State) return LoopStateText(point.value);
  return point.condition == LoopCondition::Normal ? std::string() : ConditionText(point.condition);
}

// "14:26:45" of the local time.
std::string clockText(WallTime time) {
  return IsoTime(time).substr(11, 8);
}

double millisBetween(WallTime from, WallTime to) {
  return std::chrono::duration<double, std::milli>(to - from).count();
}

// Collects the shapes of a plot.
struct Picture {
  std::vector<PlotShape> shapes;

  void add(PlotShape::Kind kind, double x1, double y1, double x2, double y2, Colour colour,
           int width = 1, std::string text = {}, TextAlign align = TextAlign::Left) {
    shapes.push_back({kind, x1, y1, x2, y2, colour, width, std::move(text), align});
  }
  void fill(double left, double top, double right, double bottom, Colour colour) {
    add(PlotShape::Kind::Fill, left, top, right, bottom, colour);
  }
  void frame(double left, double top, double right, double bottom, Colour colour) {
    add(PlotShape::Kind::Frame, left, top, right, bottom, colour);
  }
  void line(double x1, double y1, double x2, double y2, Colour colour, int width) {
    add(PlotShape::Kind::Line, x1, y1, x2, y2, colour, width);
  }
  void text(double x, double top, std::string text, TextAlign align, Colour colour = Black) {
    add(PlotShape::Kind::Text, x, top, x, top, colour, 1, std::move(text), align);
  }
};

}  // namespace

std::optional<ResistanceScale> ScaleFor(const std::vector<HistoryPoint>& series) {
  std::optional<double> lowest;
  std::optional<double> highest;
  for (const HistoryPoint& point : series) {
    const std::optional<double> kiloOhms = point.KiloOhms();
    if (!kiloOhms || !std::isfinite(*kiloOhms)) continue;
    lowest = std::min(lowest.value_or(*kiloOhms), *kiloOhms);
    highest = std::max(highest.value_or(*kiloOhms), *kiloOhms);
  }
  if (!lowest) return std::nullopt;
  // Readings all alike still get an axis around them.
  const double spread = *highest - *lowest;
  const double padding =
      spread > 0 ? spread * ScalePadding : std::max(0.5, std::abs(*lowest) * ScalePadding);
  const double step = roundStep((spread + 2 * padding) / TickSteps);
  ResistanceScale scale;
  scale.low = std::floor((*lowest - padding) / step) * step;
  scale.high = std::ceil((*highest + padding) / step) * step;
  for (int n = 0; scale.low + n * step <= scale.high + step / 2; ++n) {
    // Exactly zero where a tick crosses it, not a rounding error's "-0,0".
    const double tick = scale.low + n * step;
    scale.ticks.push_back(std::abs(tick) < step / 2 ? 0.0 : tick);
  }
  scale.decimals = std::max(1, static_cast<int>(-std::floor(std::log10(step) + 1e-9)));
  return scale;
}

Colour ConditionColour(LoopCondition condition) {
  const Rgb rgb = ConditionRgb(condition);
  return {rgb.red, rgb.green, rgb.blue};
}

HistoryWindowModel::HistoryWindowModel(HistoryWindowView& view, const LoopHistory& history,
                                       LoopKey key, std::optional<char> decimalSeparator)
    : view_(view), history_(history), key_(key), decimalSeparator_(decimalSeparator) {}

char HistoryWindowModel::separator() const {
  return decimalSeparator_ ? *decimalSeparator_ : userDecimalSeparator();
}

std::string HistoryWindowModel::title() const {
  return texts::Format(texts::HistoryTitle, std::to_string(key_.loop),
                       std::to_string(key_.address));
}

void HistoryWindowModel::refresh() {
  series_ = history_.Series(key_);
  const std::optional<LoopSummary> summary = history_.Summary(key_);
  const auto extreme = [this](const std::optional<Extreme>& e) {
    if (!e) return std::string(texts::NoValue);
    return FormatFixed(e->kiloOhms, 1, separator()) + " " + texts::KiloOhms + " (" +
           clockText(e->time) + ")";
  };
  view_.showFigures(texts::Minimum + extreme(summary ? summary->minimum : std::nullopt),
                    texts::Maximum + extreme(summary ? summary->maximum : std::nullopt),
                    texts::Moves + std::to_string(summary ? summary->moves : 0));
  view_.showPlot();
}

std::vector<PlotShape> HistoryWindowModel::plot(Size area, int dpi,
                                                const TextMeasure& measure) const {
  return PlotSeries(series_, area, dpi, measure, separator(), clockText);
}

std::vector<PlotShape> PlotSeries(const std::vector<HistoryPoint>& series, Size area, int dpi,
                                  const TextMeasure& measure, char separator,
                                  const std::function<std::string(WallTime)>& timeText) {
  const auto px = [dpi](int at96) { return scaled(at96, dpi); };
  const int lineHeight = measure.lineHeight;
  const std::optional<ResistanceScale> scale = ScaleFor(series);
  std::vector<std::string> tickTexts;
  int tickWidth = 0;
  if (scale) {
    for (double tick : scale->ticks) {
      tickTexts.push_back(FormatFixed(tick, scale->decimals, separator));
      tickWidth = std::max(tickWidth, measure.width(tickTexts.back()));
    }
  }
  Picture picture;
  picture.fill(0, 0, area.width, area.height, White);

  // The legend at the top right: a square in each marked condition's colour
  // and its name.
  double legendX = area.width - px(12);
  for (auto condition = std::rbegin(Marked); condition != std::rend(Marked); ++condition) {
    const std::string name = ConditionText(*condition);
    legendX -= measure.width(name);
    picture.text(legendX, px(4), name, TextAlign::Left);
    const int side = px(9);
    legendX -= side + px(4);
    const double top = px(4) + (lineHeight - side) / 2.0;
    picture.fill(legendX, top, legendX + side, top + side, ConditionColour(*condition));
    legendX -= px(14);
  }

  const double left = std::max(px(40), tickWidth + px(12));
  const double top = lineHeight + px(10);
  const double right = area.width - px(12);
  const double bottom = area.height - lineHeight - px(8);
  if (right - left < px(40) || bottom - top < px(30)) return picture.shapes;
  picture.frame(left, top, right, bottom, AxisColour);
  if (series.empty()) {
    picture.text((left + right) / 2, (top + bottom - lineHeight) / 2, texts::NoReadings,
                 TextAlign::Centre, AxisColour);
    return picture.shapes;
  }

  // Time runs left to right over the whole run of readings.
  const auto [earliest, latest] = std::ranges::minmax(series, {}, &HistoryPoint::time);
  const WallTime start = earliest.time;
  const double spanMs = std::max(1000.0, millisBetween(start, latest.time));
  const auto xOf = [&](WallTime time) {
    return left + millisBetween(start, time) / spanMs * (right - left);
  };
  for (int step = 0; step <= 2; ++step) {
    const WallTime time = start + std::chrono::duration_cast<WallTime::duration>(
                                      std::chrono::duration<double, std::milli>(spanMs * step / 2));
    const TextAlign align = step == 0   ? TextAlign::Left
                            : step == 1 ? TextAlign::Centre
                                        : TextAlign::Right;
    picture.text(step == 0   ? left
                 : step == 1 ? (left + right) / 2
                             : right,
                 bottom + px(3), timeText(time), align);
  }

  // How long the loop stayed in each condition: a strip along the bottom.
  const int strip = px(6);
  for (size_t i = 0; i < series.size(); ++i) {
    if (series[i].condition == LoopCondition::Normal) continue;
    const double from = xOf(series[i].time);
    const double to = i + 1 < series.size() ? xOf(series[i + 1].time) : right;
    picture.fill(from, bottom - strip, std::max(to, from + px(2)), bottom,
                 ConditionColour(series[i].condition));
  }
  // Each move into alarm, open or short: a line across the plot.
  for (const HistoryPoint& point : series) {
    if (!point.move || point.condition == LoopCondition::Normal) continue;
    const double x = xOf(point.time);
    picture.line(x, top + 1, x, bottom - strip, ConditionColour(point.condition),
                 std::max(1, px(1)));
  }
  if (!scale) return picture.shapes;

  // The resistance on its scale, broken where a reading shows none.
  const double lineTop = top + px(4);
  const double lineBottom = bottom - strip - px(2);
  const auto yOf = [&](double kiloOhms) {
    return lineBottom -
           (kiloOhms - scale->low) / (scale->high - scale->low) * (lineBottom - lineTop);
  };
  picture.text(px(4), px(4), texts::KiloOhms, TextAlign::Left);
  for (size_t n = 0; n < scale->ticks.size(); ++n) {
    const double y = yOf(scale->ticks[n]);
    if (n > 0) picture.line(left + 1, y, right - 1, y, GridColour, 1);
    picture.text(left - px(4), y - lineHeight / 2.0, tickTexts[n], TextAlign::Right);
  }
  const Colour lineColour = ConditionColour(LoopCondition::Normal);
  const int width = std::max(1, px(2));
  std::optional<std::pair<double, double>> previous;
  for (const HistoryPoint& point : series) {
    const std::optional<double> kiloOhms = point.KiloOhms();
    if (!kiloOhms || !std::isfinite(*kiloOhms)) {
      previous.reset();
      continue;
    }
    const double x = xOf(point.time);
    const double y = yOf(*kiloOhms);
    // A lone reading between gaps still shows, as a dot.
    const auto [fromX, fromY] = previous.value_or(std::pair(x - 0.5, y));
    picture.line(fromX, fromY, previous ? x : x + 0.5, y, lineColour, width);
    previous = {x, y};
  }
  return picture.shapes;
}

void HistoryWindowModel::saveClicked() {
  const std::optional<std::string> path = view_.askSavePath(csvFileName());
  if (!path || path->empty()) return;
  try {
    replaceWholeFile(*path, spreadsheetFileText(csv()));
  } catch (const FileError& error) {
    view_.showMessage(texts::Format(texts::SaveFailed, *path, error.reason()));
  }
}

std::string HistoryWindowModel::csvFileName() const {
  return texts::Format(texts::CsvFileName, std::to_string(key_.loop), std::to_string(key_.address));
}

std::string HistoryWindowModel::csv() const {
  const char decimal = separator();
  const std::string gap(1, decimal == ',' ? ';' : ',');
  std::ostringstream out;
  out << "Время" << gap << "Адрес" << gap << "ШС" << gap << "АЦП" << gap << "R кОм" << gap
      << "Состояние" << gap << "Переход\n";
  for (const HistoryPoint& point : history_.Series(key_)) {
    out << IsoTime(point.time) << gap << int{key_.address} << gap << key_.loop << gap;
    if (point.kind == ReadingKind::Adc) out << int{point.value};
    out << gap;
    if (const auto kiloOhms = point.KiloOhms()) out << FormatFixed(*kiloOhms, 3, decimal);
    out << gap << csvField(stateText(point), gap[0]) << gap;
    if (point.move) out << ConditionText(point.from) << " → " << ConditionText(point.condition);
    out << '\n';
  }
  return out.str();
}

}  // namespace loopmon
