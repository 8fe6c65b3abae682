#pragma once
// One loop's history: its resistance over time as a line with the moments of
// alarm, open and short marked, its lowest and highest reading and the number
// of moves, and the readings saved as CSV. Follows the reading while it runs.

#include <QString>
#include <QWidget>
#include <functional>

#include "loops/loop_history.h"

class QLabel;
class QPushButton;
class QTimer;

namespace loopmon {

class HistoryPlot;

class HistoryWindow : public QWidget {
  Q_OBJECT
 public:
  static constexpr int RefreshMs = 1000;

  // `history` must outlive the window.
  HistoryWindow(const LoopHistory& history, LoopKey key, QWidget* parent = nullptr);

  LoopKey key() const { return key_; }
  // Takes the latest readings; the window's timer calls it every second.
  void refresh();

  // Where "Сохранить CSV..." writes; the file dialog asks when unset. An empty
  // path saves nothing.
  std::function<QString()> chooseCsvPath;

 private:
  void saveClicked();
  QString askCsvPath();

  const LoopHistory& history_;
  LoopKey key_;
  HistoryPlot* plot_ = nullptr;
  QLabel* minimumLabel_ = nullptr;
  QLabel* maximumLabel_ = nullptr;
  QLabel* movesLabel_ = nullptr;
  QPushButton* saveButton_ = nullptr;
  QTimer* refreshTimer_ = nullptr;
};

}  // namespace loopmon
