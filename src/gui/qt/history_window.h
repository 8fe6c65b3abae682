#pragma once
// One loop's history in a window of its own: a thin Qt view over
// HistoryWindowModel, following the history every second while open.

#include <QString>
#include <QWidget>
#include <functional>

#include "desktop/history_window_model.h"

class QTimer;

namespace loopmon::qt {

class FormWidgets;

class HistoryWindow : public QWidget, private HistoryWindowView {
  Q_OBJECT
 public:
  // `history` must outlive the window.
  HistoryWindow(const LoopHistory& history, LoopKey key, QWidget* parent = nullptr);

  const HistoryWindowModel& model() const { return model_; }
  // Where "Сохранить CSV..." writes; the file dialog asks when unset. An empty
  // path saves nothing.
  std::function<QString()> chooseCsvPath;

 private:
  // HistoryWindowView.
  void showFigures(const std::string& minimum, const std::string& maximum,
                   const std::string& moves) override;
  void showPlot() override;
  std::optional<std::string> askSavePath(const std::string& suggested) override;
  void showMessage(const std::string& text) override;

  HistoryWindowModel model_;
  FormWidgets* form_ = nullptr;
  QTimer* refreshTimer_ = nullptr;
};

}  // namespace loopmon::qt
