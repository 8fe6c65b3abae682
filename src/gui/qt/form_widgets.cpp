#include "gui/qt/form_widgets.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFontDatabase>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSpinBox>
#include <QToolButton>
#include <algorithm>
#include <vector>

#include "gui/qt/icons.h"
#include "gui/qt/loop_table.h"
#include "gui/qt/note_list.h"
#include "gui/qt/plot.h"
#include "gui/qt/toggle_panel.h"

namespace loopmon::qt {

namespace {

// Qt lays out in 96 logical pixels to the inch and scales the whole.
constexpr int LogicalDpi = 96;

// The text with its subscripts as rich text: "R<sub>1</sub>".
QString richText(const char* text) {
  QString rich;
  for (const TextRun& run : textRuns(text)) {
    const QString escaped = qtext(run.text).toHtmlEscaped();
    rich += run.subscript ? QStringLiteral("<sub>") + escaped + QStringLiteral("</sub>") : escaped;
  }
  return rich;
}

}  // namespace

QString qtext(const std::string& text) {
  return QString::fromStdString(text);
}

QFont fontFor(const FontSpec& spec) {
  static const QStringList standIns = {QStringLiteral("Liberation Sans"), QStringLiteral("Arimo"),
                                       QStringLiteral("DejaVu Sans")};
  static const QStringList fixedStandIns = {QStringLiteral("Liberation Mono"),
                                            QStringLiteral("Cousine"),
                                            QStringLiteral("DejaVu Sans Mono")};
  QString chosen = QString::fromUtf8(spec.family);
  if (!QFontDatabase::hasFamily(chosen)) {
    for (const QString& candidate : spec.fixedPitch ? fixedStandIns : standIns) {
      if (QFontDatabase::hasFamily(candidate)) {
        chosen = candidate;
        break;
      }
    }
  }
  QFont font(chosen);
  font.setPixelSize(spec.pixelHeight);
  font.setBold(spec.bold);
  return font;
}

FormWidgets::FormWidgets(QWidget& window, const WindowForm& form)
    : QObject(&window), window_(window), form_(form) {
  window_.setObjectName(QString::fromUtf8(form.name));
  window_.setWindowTitle(QString::fromUtf8(form.title));
  window_.setFont(fontFor(form.font));
  std::vector<const ControlForm*> tabOrder;
  for (const ControlForm& control : form.controls) {
    QWidget* widget = create(control);
    widget->setObjectName(QString::fromUtf8(control.name));
    if (control.font) widget->setFont(fontFor(*control.font));
    if (*control.hint) widget->setToolTip(QString::fromUtf8(control.hint));
    widget->setEnabled(control.enabled);
    if (control.tabOrder > 0) tabOrder.push_back(&control);
    widgets_[control.id] = widget;
  }
  std::ranges::sort(tabOrder, {}, &ControlForm::tabOrder);
  for (size_t n = 1; n < tabOrder.size(); ++n) {
    QWidget::setTabOrder(widget(tabOrder[n - 1]->id), widget(tabOrder[n]->id));
  }
  if (form.resizable) {
    window_.setMinimumSize(form.client.width, form.client.height);
    window_.resize(form.client.width, form.client.height);
    // The controls follow the window as the user sizes it.
    window_.installEventFilter(this);
  }
  layOut();
}

void showBeside(QWidget& window, const QWidget& anchor) {
  constexpr char placed[] = "loopmonPlacedBeside";
  if (!window.property(placed).toBool()) {
    const QRect frame = anchor.frameGeometry();
    // The new window's frame is not known before it shows: take the anchor's.
    const QSize border = frame.size() - anchor.size();
    const QSize outer = window.size() + border;
    const QRect area = anchor.screen()->availableGeometry();
    const Rect where = placedBeside({frame.x(), frame.y(), frame.width(), frame.height()},
                                    {outer.width(), outer.height()},
                                    {area.x(), area.y(), area.width(), area.height()});
    window.move(where.left, where.top);
    window.setProperty(placed, true);
  }
  window.show();
  window.raise();
  window.activateWindow();
}

QWidget* FormWidgets::create(const ControlForm& control) {
  const QString text = QString::fromUtf8(control.text);
  switch (control.kind) {
    case ControlKind::Label: {
      auto* label = new QLabel(&window_);
      const bool subscripts = textRuns(control.text).size() > 1;
      label->setTextFormat(subscripts ? Qt::RichText : Qt::PlainText);
      label->setText(subscripts ? richText(control.text) : text);
      label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
      return label;
    }
    case ControlKind::PushButton:
    case ControlKind::LatchButton: {
      if (control.kind == ControlKind::LatchButton || text.isEmpty()) {
        auto* button = new QToolButton(&window_);
        button->setIcon(iconFor(control.icon));
        button->setCheckable(control.kind == ControlKind::LatchButton);
        return button;
      }
      auto* button = new QPushButton(iconFor(control.icon), text, &window_);
      button->setDefault(control.defaultButton);
      return button;
    }
    case ControlKind::TogglePanel: {
      auto* panel = new TogglePanel(&window_);
      panel->setText(text);
      return panel;
    }
    case ControlKind::Edit:
    case ControlKind::CodeEdit: {
      auto* edit = new QLineEdit(text, &window_);
      if (control.maxLength > 0) edit->setMaxLength(control.maxLength);
      if (control.kind == ControlKind::CodeEdit) {
        edit->setEchoMode(QLineEdit::Password);
        edit->setStyleSheet(QStringLiteral("lineedit-password-character: 35"));
      }
      edit->installEventFilter(this);
      return edit;
    }
    case ControlKind::SpinEdit: {
      auto* spin = new QSpinBox(&window_);
      spin->setRange(control.minimum, control.maximum);
      spin->setValue(text.toInt());
      if (control.maxLength > 0) spin->findChild<QLineEdit*>()->setMaxLength(control.maxLength);
      spin->installEventFilter(this);
      return spin;
    }
    case ControlKind::DropDownList:
      return new QComboBox(&window_);
    case ControlKind::ListBox:
      return new NoteList(&window_);
    case ControlKind::ProgressBar: {
      auto* progress = new QProgressBar(&window_);
      progress->setRange(control.minimum, control.maximum);
      progress->setValue(control.minimum);
      progress->setTextVisible(false);
      return progress;
    }
    case ControlKind::CheckBox:
      return new QCheckBox(text, &window_);
    case ControlKind::LoopTable:
      return new LoopTable(&window_);
    case ControlKind::Plot:
      return new Plot(&window_);
    case ControlKind::ModelList:
      return new NoteListView(&window_);
  }
  return nullptr;
}

void FormWidgets::layOut(Size extra) {
  if (form_.resizable) {
    extra = extraSize(form_, LogicalDpi, {window_.width(), window_.height()});
  } else {
    const Size client = clientSize(form_, LogicalDpi, extra);
    window_.setFixedSize(client.width, client.height);
  }
  extra_ = extra;
  for (const ControlForm& control : form_.controls) {
    const Rect rect = placeControl(control, LogicalDpi, extra_);
    QWidget* placed = widget(control.id);
    placed->setGeometry(rect.left, rect.top, rect.width, rect.height);
    if (control.sizedToText) {
      // As wide as its text, at least as high as designed.
      placed->adjustSize();
      placed->resize(placed->width(), std::max(placed->height(), rect.height));
    }
  }
}

bool FormWidgets::eventFilter(QObject* watched, QEvent* event) {
  if (watched == &window_) {
    if (event->type() == QEvent::Resize) layOut();
    return false;
  }
  if (event->type() != QEvent::KeyPress || !acceptsChar) return false;
  auto* key = static_cast<QKeyEvent*>(event);
  // Keys without a character (arrows, Delete, Tab) always go through.
  if (key->text().isEmpty() || key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab) {
    return false;
  }
  for (const auto& [id, widget] : widgets_) {
    if (widget == watched) return !acceptsChar(id, key->text().at(0));
  }
  return false;
}

}  // namespace loopmon::qt
