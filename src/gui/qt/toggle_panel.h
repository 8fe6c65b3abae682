#pragma once
// A panel used as a toggle: a centred caption in a lowered or raised bevel,
// reporting a click (a press and release inside it).

#include <QFrame>

namespace loopmon::qt {

class TogglePanel : public QFrame {
  Q_OBJECT
 public:
  explicit TogglePanel(QWidget* parent);
  void setLowered(bool lowered);
  bool isLowered() const { return frameShadow() == QFrame::Sunken; }
  void setText(const QString& text);
  QString text() const { return text_; }

 signals:
  void clicked();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  QString text_;
};

}  // namespace loopmon::qt
