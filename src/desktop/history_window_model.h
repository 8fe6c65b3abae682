#pragma once
// A loop's history window without a toolkit: its title and figures, the plot
// as shapes for the front end to draw (the resistance scale and its ticks,
// the legend, the loop's conditions and moves, the resistance line), and the
// CSV it saves with the name offered for it.

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "desktop/form.h"
#include "loops/loop_history.h"

namespace loopmon {

// The resistance axis: round ticks from `low` to `high`, which hold every
// reading, negative ones included, and never coincide.
struct ResistanceScale {
  double low = 0;
  double high = 1;
  std::vector<double> ticks;
  // Digits after the separator that tell the ticks apart (at least one).
  int decimals = 1;
};
// Unset when no reading shows a resistance.
std::optional<ResistanceScale> ScaleFor(const std::vector<HistoryPoint>& series);

// The colour that marks a condition; the normal one draws the resistance.
Colour ConditionColour(LoopCondition condition);

enum class TextAlign : uint8_t { Left, Centre, Right };

// One thing to draw, in the plot's pixels, in the order given.
struct PlotShape {
  enum class Kind : uint8_t { Fill, Frame, Line, Text };
  Kind kind = Kind::Line;
  // Fill and Frame: the corners (right and bottom outside); Line: the ends;
  // Text: where it stands horizontally (see `align`), and the top of its line.
  double x1 = 0;
  double y1 = 0;
  double x2 = 0;
  double y2 = 0;
  Colour colour;
  // Line: its width in pixels.
  int width = 1;
  std::string text;
  TextAlign align = TextAlign::Left;
};

// What the front end measures in the plot's font.
struct TextMeasure {
  std::function<int(const std::string& text)> width;
  int lineHeight = 0;
};

// The plot of `series` for an area of `area` pixels at `dpi`: its resistance
// on a scale that holds it, the conditions and moves marked, and the span of
// its times along the bottom as `timeText` tells them.
std::vector<PlotShape> PlotSeries(const std::vector<HistoryPoint>& series, Size area, int dpi,
                                  const TextMeasure& measure, char separator,
                                  const std::function<std::string(WallTime)>& timeText);

class HistoryWindowView {
 public:
  virtual ~HistoryWindowView() = default;
  virtual void showFigures(const std::string& minimum, const std::string& maximum,
                           const std::string& moves) = 0;
  // The plot is to be drawn again (HistoryWindowModel::plot).
  virtual void showPlot() = 0;
  // Where to save, offering `suggested` as the file's name; nothing when the
  // user cancels.
  virtual std::optional<std::string> askSavePath(const std::string& suggested) = 0;
  // A box with the application's title, an error icon and one OK button.
  virtual void showMessage(const std::string& text) = 0;
};

class HistoryWindowModel {
 public:
  static constexpr int RefreshMs = 1000;

  // `history` outlives the model. `decimalSeparator` unset: the user's locale
  // separator.
  HistoryWindowModel(HistoryWindowView& view, const LoopHistory& history, LoopKey key,
                     std::optional<char> decimalSeparator = std::nullopt);

  std::string title() const;
  // Takes the latest readings: the window's timer, every RefreshMs.
  void refresh();
  void saveClicked();

  // The plot for an area of `area` pixels at `dpi`.
  std::vector<PlotShape> plot(Size area, int dpi, const TextMeasure& measure) const;
  // "ШС 4, адрес 5.csv".
  std::string csvFileName() const;
  // Columns "Время", "Адрес", "ШС", "АЦП", "R кОм", "Состояние", "Переход";
  // times ISO 8601 with the local offset, numbers with the decimal separator,
  // fields separated by ';' when that is a comma.
  std::string csv() const;

  LoopKey key() const { return key_; }
  const std::vector<HistoryPoint>& series() const { return series_; }

 private:
  char separator() const;

  HistoryWindowView& view_;
  const LoopHistory& history_;
  LoopKey key_;
  std::optional<char> decimalSeparator_;
  std::vector<HistoryPoint> series_;
};

}  // namespace loopmon
