#pragma once
// A site's history window without a toolkit: the records of a folder the user
// chooses, the loops to look at before the next visit first, and the chosen
// loop's resistance over the visits, drawn as a loop's history window draws
// its readings.

#include <optional>
#include <string>
#include <vector>

#include "desktop/history_window_model.h"
#include "record/history.h"

namespace loopmon {

class SiteHistoryView {
 public:
  virtual ~SiteHistoryView() = default;
  // Which folder of records to open; nothing when the user cancels.
  virtual std::optional<std::string> askFolder() = 0;
  // What the folder held, one line per loop, and the files not taken.
  virtual void showLoops(const std::string& status, const std::vector<std::string>& loops,
                         const std::vector<std::string>& skipped) = 0;
  // The plot is to be drawn again (SiteHistoryModel::plot).
  virtual void showPlot() = 0;
  // A box with the application's title, an error icon and one OK button.
  virtual void showMessage(const std::string& text) = 0;
};

class SiteHistoryModel {
 public:
  // `decimalSeparator` unset: the user's locale separator.
  explicit SiteHistoryModel(SiteHistoryView& view,
                            std::optional<char> decimalSeparator = std::nullopt);

  // Asks for a folder and shows its records; false when the user cancels or
  // the folder holds none (then the window has nothing to show).
  bool open();
  // A site's folder holds a record or two a year, read in milliseconds: the
  // window takes it at once rather than keep a half-loaded list.
  bool load(const std::string& folder);
  void loopChosen(int line);

  std::string title() const;
  std::vector<PlotShape> plot(Size area, int dpi, const TextMeasure& measure) const;

  const std::vector<LoopSeries>& loops() const { return loops_; }
  const std::vector<std::string>& lines() const { return lines_; }
  const std::vector<std::string>& skipped() const { return skipped_; }
  // The loop drawn, as a line of loops(); unset before a folder is loaded.
  std::optional<size_t> chosen() const { return chosen_; }

 private:
  char separator() const;
  std::string lineOf(const LoopSeries& series, bool severalSites) const;

  SiteHistoryView& view_;
  std::optional<char> decimalSeparator_;
  std::vector<LoopSeries> loops_;
  std::vector<std::string> lines_;
  std::vector<std::string> skipped_;
  std::optional<size_t> chosen_;
  std::vector<HistoryPoint> series_;
};

}  // namespace loopmon
