#include "gui/qt/history_window.h"

#include <QDateTime>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QSaveFile>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <sstream>

#include "common/number_text.h"
#include "gui/qt/message_box.h"

namespace loopmon {

namespace {

QColor conditionColour(LoopCondition condition) {
  switch (condition) {
    case LoopCondition::Alarm:
      return {230, 110, 0};
    case LoopCondition::Open:
      return {30, 90, 220};
    case LoopCondition::Short:
      return {170, 0, 170};
    case LoopCondition::Normal:
      break;
  }
  return {0, 110, 40};
}

int64_t millisOf(WallTime time) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch()).count();
}

QString clockText(WallTime time) {
  return QDateTime::fromMSecsSinceEpoch(millisOf(time)).toString(QStringLiteral("HH:mm:ss"));
}

QString kiloOhmsText(double kiloOhms) {
  return QString::fromStdString(FormatFixed(kiloOhms, 1)) + QStringLiteral(" кОм");
}

QString extremeText(const std::optional<Extreme>& extreme) {
  if (!extreme) return QStringLiteral("—");
  return kiloOhmsText(extreme->kiloOhms) + QStringLiteral(" (") + clockText(extreme->time) +
         QStringLiteral(")");
}

}  // namespace

// The resistance over time. Readings without a resistance break the line;
// open shows at the top edge and short at the bottom edge (the resistance
// they stand for), an alarm at its resistance or mid-height, and every move
// into one of them is a dashed line across the plot in its colour.
class HistoryPlot : public QWidget {
 public:
  explicit HistoryPlot(QWidget* parent) : QWidget(parent) {
    setMinimumSize(320, 180);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
  }

  void setSeries(std::vector<HistoryPoint> series) {
    series_ = std::move(series);
    update();
  }

 protected:
  void paintEvent(QPaintEvent*) override;

 private:
  void drawLegend(QPainter& painter, int top);

  std::vector<HistoryPoint> series_;
};

void HistoryPlot::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), palette().color(QPalette::Window));
  const QFontMetrics metrics(font());
  const int lineHeight = metrics.height();
  const QRect area(metrics.horizontalAdvance(QStringLiteral("0000,0")) + 12, 6,
                   std::max(1, width() - metrics.horizontalAdvance(QStringLiteral("0000,0")) - 24),
                   std::max(1, height() - 2 * lineHeight - 18));
  painter.fillRect(area, Qt::white);
  painter.setPen(palette().color(QPalette::Dark));
  painter.drawRect(area.adjusted(0, 0, -1, -1));
  drawLegend(painter, area.bottom() + lineHeight + 10);
  if (series_.empty()) {
    painter.setPen(palette().color(QPalette::Text));
    painter.drawText(area, Qt::AlignCenter, QStringLiteral("Нет показаний"));
    return;
  }

  const auto [first, last] = std::ranges::minmax(
      series_, {}, [](const HistoryPoint& point) { return millisOf(point.time); });
  const int64_t startMs = millisOf(first.time);
  const int64_t spanMs = std::max<int64_t>(millisOf(last.time) - startMs, 1000);
  const std::optional<KiloOhmsRange> range = RangeOf(series_);
  const bool anyResistance = range.has_value();
  const double low = range ? range->low : 0;
  const double high = range ? range->high : 1;
  const double pad = std::max((high - low) * 0.1, 0.5);
  const double bottomValue = std::max(0.0, low - pad);
  const double topValue = high + pad;
  // Open and short sit just inside the frame, apart from any resistance.
  const QRect inner = area.adjusted(6, 8, -6, -8);
  auto xOf = [&](WallTime time) {
    return inner.left() + static_cast<double>(millisOf(time) - startMs) * inner.width() / spanMs;
  };
  auto yOf = [&](double kiloOhms) {
    return inner.bottom() - (kiloOhms - bottomValue) * inner.height() / (topValue - bottomValue);
  };

  painter.setPen(palette().color(QPalette::Text));
  if (anyResistance) {
    painter.drawText(
        QRect(0, static_cast<int>(yOf(high)) - lineHeight / 2, area.left() - 4, lineHeight),
        Qt::AlignRight | Qt::AlignVCenter, QString::fromStdString(FormatFixed(high, 1)));
    painter.drawText(
        QRect(0, static_cast<int>(yOf(low)) - lineHeight / 2, area.left() - 4, lineHeight),
        Qt::AlignRight | Qt::AlignVCenter, QString::fromStdString(FormatFixed(low, 1)));
  }
  painter.drawText(QRect(0, area.top(), area.left() - 4, lineHeight), Qt::AlignRight | Qt::AlignTop,
                   QStringLiteral("кОм"));
  const QRect timeRow(area.left(), area.bottom() + 4, area.width(), lineHeight);
  painter.drawText(timeRow, Qt::AlignLeft | Qt::AlignTop, clockText(first.time));
  painter.drawText(timeRow, Qt::AlignRight | Qt::AlignTop, clockText(last.time));

  painter.setRenderHint(QPainter::Antialiasing);
  painter.setClipRect(area);
  for (const HistoryPoint& point : series_) {
    if (!point.move || point.condition == LoopCondition::Normal) continue;
    painter.setPen(QPen(conditionColour(point.condition), 1, Qt::DashLine));
    const double x = xOf(point.time);
    painter.drawLine(QPointF(x, area.top()), QPointF(x, area.bottom()));
  }

  painter.setPen(QPen(conditionColour(LoopCondition::Normal), 1.5));
  std::optional<QPointF> previous;
  for (const HistoryPoint& point : series_) {
    const auto kiloOhms = point.KiloOhms();
    if (!kiloOhms) {
      previous.reset();
      continue;
    }
    const QPointF here(xOf(point.time), yOf(*kiloOhms));
    if (previous) {
      painter.drawLine(*previous, here);
    } else {
      painter.drawPoint(here);
    }
    previous = here;
  }

  for (const HistoryPoint& point : series_) {
    if (point.condition == LoopCondition::Normal) continue;
    double y = (inner.top() + inner.bottom()) / 2.0;
    if (point.condition == LoopCondition::Open) y = area.top() + 4;
    if (point.condition == LoopCondition::Short) y = area.bottom() - 4;
    if (const auto kiloOhms = point.KiloOhms()) y = yOf(*kiloOhms);
    painter.setPen(Qt::NoPen);
    painter.setBrush(conditionColour(point.condition));
    painter.drawEllipse(QPointF(xOf(point.time), y), 3.5, 3.5);
  }
}

void HistoryPlot::drawLegend(QPainter& painter, int top) {
  const QFontMetrics metrics(font());
  int left = 12;
  for (LoopCondition condition :
       {LoopCondition::Alarm, LoopCondition::Open, LoopCondition::Short}) {
    const QString text = QString::fromUtf8(ConditionText(condition));
    const int side = metrics.ascent() - 2;
    painter.fillRect(QRect(left, top + (metrics.height() - side) / 2, side, side),
                     conditionColour(condition));
    left += side + 4;
    painter.setPen(palette().color(QPalette::Text));
    painter.drawText(QRect(left, top, metrics.horizontalAdvance(text) + 2, metrics.height()),
                     Qt::AlignLeft | Qt::AlignVCenter, text);
    left += metrics.horizontalAdvance(text) + 16;
  }
}

HistoryWindow::HistoryWindow(const LoopHistory& history, LoopKey key, QWidget* parent)
    : QWidget(parent, Qt::Window), history_(history), key_(key) {
  setObjectName(QStringLiteral("historyWindow"));
  setWindowTitle(QStringLiteral("История шлейфа %1 — адрес %2").arg(key.loop).arg(key.address));
  setAttribute(Qt::WA_DeleteOnClose);

  plot_ = new HistoryPlot(this);
  plot_->setObjectName(QStringLiteral("historyPlot"));
  minimumLabel_ = new QLabel(this);
  minimumLabel_->setObjectName(QStringLiteral("minimumLabel"));
  maximumLabel_ = new QLabel(this);
  maximumLabel_->setObjectName(QStringLiteral("maximumLabel"));
  movesLabel_ = new QLabel(this);
  movesLabel_->setObjectName(QStringLiteral("movesLabel"));
  saveButton_ = new QPushButton(QStringLiteral("Сохранить CSV..."), this);
  saveButton_->setObjectName(QStringLiteral("saveButton"));
  connect(saveButton_, &QPushButton::clicked, this,
          [this] { runHandler(this, [this] { saveClicked(); }); });

  auto* figures = new QHBoxLayout;
  figures->addWidget(minimumLabel_);
  figures->addSpacing(12);
  figures->addWidget(maximumLabel_);
  figures->addSpacing(12);
  figures->addWidget(movesLabel_);
  figures->addStretch();
  figures->addWidget(saveButton_);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(plot_, 1);
  layout->addLayout(figures);
  resize(560, 340);

  refreshTimer_ = new QTimer(this);
  connect(refreshTimer_, &QTimer::timeout, this, &HistoryWindow::refresh);
  refreshTimer_->start(RefreshMs);
  refresh();
}

void HistoryWindow::refresh() {
  plot_->setSeries(history_.Series(key_));
  const std::optional<LoopSummary> summary = history_.Summary(key_);
  minimumLabel_->setText(QStringLiteral("Минимум: ") +
                         extremeText(summary ? summary->minimum : std::nullopt));
  maximumLabel_->setText(QStringLiteral("Максимум: ") +
                         extremeText(summary ? summary->maximum : std::nullopt));
  movesLabel_->setText(QStringLiteral("Переходов: %1").arg(summary ? summary->moves : 0));
}

QString HistoryWindow::askCsvPath() {
  if (chooseCsvPath) return chooseCsvPath();
  const QString suggested = QStringLiteral("ШС %1, адрес %2.csv").arg(key_.loop).arg(key_.address);
  return QFileDialog::getSaveFileName(this, QStringLiteral("Сохранить историю шлейфа"), suggested,
                                      QStringLiteral("CSV (*.csv)"));
}

void HistoryWindow::saveClicked() {
  const QString path = askCsvPath();
  if (path.isEmpty()) return;
  std::ostringstream text;
  history_.WriteCsv(text, key_);
  const std::string bytes = text.str();
  // Written beside the target and renamed over it on commit: a failed save
  // leaves no half-written file and keeps an older one whole.
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly) ||
      file.write(bytes.data(), static_cast<qint64>(bytes.size())) !=
          static_cast<qint64>(bytes.size()) ||
      !file.commit()) {
    showMessageBox(this,
                   QStringLiteral("Не удалось сохранить файл %1: %2").arg(path, file.errorString()),
                   applicationTitle(), QMessageBox::Warning);
  }
}

}  // namespace loopmon
