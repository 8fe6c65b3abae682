#pragma once
// A window's controls made from its form description: each a child of the
// window, named by its role, with its text, hint, font, icon and place in the
// tab order, placed as placeControl says; the window titled, sized and given
// its font. The Qt twin of the Win32 FormWindow.

#include <QFont>
#include <QObject>
#include <QString>
#include <functional>
#include <map>

#include "desktop/form.h"

class QWidget;

namespace loopmon::qt {

// The designed family when the system has it, else a metric-compatible or
// close stand-in ("Arial", "MS Sans Serif" and "System" are missing on Linux).
QFont fontFor(const FontSpec& spec);

QString qtext(const std::string& text);

// Shows `window` and brings it to the front; the first time beside `anchor`,
// on its screen (afterwards it stays where the user put it).
void showBeside(QWidget& window, const QWidget& anchor);

class FormWidgets : public QObject {
 public:
  FormWidgets(QWidget& window, const WindowForm& form);

  QWidget* widget(int id) const { return widgets_.at(id); }
  template <class Widget>
  Widget* get(int id) const {
    return static_cast<Widget*>(widget(id));
  }
  const WindowForm& form() const { return form_; }

  // Places the controls again; a window that may grow takes the client area
  // it has, one that may not is sized to the design `extra` pixels larger.
  void layOut(Size extra = {});
  void setExtraSize(Size extra) { layOut(extra); }
  // A typed character reaches an edit only when this says so.
  std::function<bool(int id, QChar character)> acceptsChar;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QWidget* create(const ControlForm& control);

  QWidget& window_;
  const WindowForm& form_;
  std::map<int, QWidget*> widgets_;
  Size extra_;
};

}  // namespace loopmon::qt
