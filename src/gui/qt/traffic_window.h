#pragma once
// The bus traffic in a window of its own: a thin Qt view over
// TrafficWindowModel, taking the trace on a timer while open.

#include <QString>
#include <QWidget>
#include <functional>

#include "desktop/traffic_window_model.h"

class QListWidget;
class QTimer;

namespace loopmon::qt {

class FormWidgets;

class TrafficWindow : public QWidget, private TrafficWindowView {
  Q_OBJECT
 public:
  // `trace` is the session's and must outlive the window.
  explicit TrafficWindow(BusTrace& trace, QWidget* parent = nullptr);

  const TrafficWindowModel& model() const { return model_; }
  // Where "Сохранить..." writes; the file dialog asks when unset. An empty
  // path saves nothing.
  std::function<QString()> chooseTextPath;
  // Where "Сохранить для Wireshark..." writes, likewise.
  std::function<QString()> chooseCapturePath;

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  QListWidget* list(int id) const;

  // TrafficWindowView.
  void showLinesMoved(int removedFirst, const std::vector<std::string>& added) override;
  void showLines(const std::vector<std::string>& lines) override;
  void showCounters(const std::vector<std::string>& lines) override;
  void showPauseButton(const std::string& text) override;
  std::optional<std::string> askSavePath(const std::string& suggested) override;
  std::optional<std::string> askCapturePath(const std::string& suggested) override;
  void showMessage(const std::string& text) override;

  TrafficWindowModel model_;
  FormWidgets* form_ = nullptr;
  QTimer* refreshTimer_ = nullptr;
};

}  // namespace loopmon::qt
