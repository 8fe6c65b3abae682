#pragma once
// Small widgets and resources the windows share: the fonts the windows were
// designed with (or their nearest stand-ins), the button images, the panel used
// as a toggle and the period spin edit whose key handler may discard a key.

#include <QFrame>
#include <QIcon>
#include <QSpinBox>
#include <functional>

namespace loopmon {

// The designed family when the system has it, else a metric-compatible or
// close stand-in ("Arial", "MS Sans Serif" and "System" are missing on Linux).
QFont designedFont(const QString& family, int pixelSize, bool bold);

QIcon searchIcon();
QIcon readIcon();
QIcon toolsIcon();
QIcon periodicIcon();

// A panel with a centred caption that shows a lowered or raised bevel and
// reports a click (press and release inside it).
class TogglePanel : public QFrame {
  Q_OBJECT
 public:
  TogglePanel(const QString& caption, QWidget* parent);
  void setLowered(bool lowered);
  bool isLowered() const { return frameShadow() == QFrame::Sunken; }

 signals:
  void clicked();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  QString caption_;
};

// A spin edit whose typed characters first pass a key handler that may
// discard them by setting the key to null; keys without a character (arrows,
// Delete, Tab) never reach the handler.
class FilteredSpinEdit : public QSpinBox {
  Q_OBJECT
 public:
  explicit FilteredSpinEdit(QWidget* parent);
  std::function<void(QChar& key)> onKeyPress;
  void setMaxLength(int length);

 protected:
  void keyPressEvent(QKeyEvent* event) override;
};

}  // namespace loopmon
