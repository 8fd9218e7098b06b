#include "ui/chart_parts.h"

#include <QAbstractAxis>
#include <QAccessible>
#include <QAccessibleWidget>
#include <QAbstractSeries>
#include <QChart>
#include <QChartView>
#include <QDialog>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QWheelEvent>
#include <QLabel>
#include <QLegend>
#include <QPushButton>

#include "ui/japanese_font.h"

namespace velmora {
namespace {

QFont ChartFont(int pixels, bool bold = false) {
  QFont font = JapaneseFont();
  font.setPixelSize(pixels);
  font.setBold(bold);
  return font;
}

// What a screen reader learns of a ValueLabel: the caption as its name, the
// shown text as its value and description.
class ValueLabelAccessible : public QAccessibleWidget {
 public:
  explicit ValueLabelAccessible(QWidget* label) : QAccessibleWidget(label, QAccessible::StaticText) {}
  QString text(QAccessible::Text t) const override {
    const auto* label = static_cast<const QLabel*>(widget());
    switch (t) {
      case QAccessible::Name:
        return label->accessibleName();
      case QAccessible::Value:
      case QAccessible::Description:
        return label->text();
      default:
        return QAccessibleWidget::text(t);
    }
  }
};

QAccessibleInterface* ValueLabelFactory(const QString& className, QObject* object) {
  if (className == QLatin1String("velmora::ValueLabel") && object != nullptr && object->isWidgetType()) {
    return new ValueLabelAccessible(static_cast<QWidget*>(object));
  }
  return nullptr;
}

class ZoomChartView : public QChartView {
 public:
  ZoomChartView(QChart* chart, QWidget* parent) : QChartView(chart, parent) {
    setRubberBand(QChartView::RectangleRubberBand);
  }

 protected:
  void wheelEvent(QWheelEvent* event) override {
    const int steps = event->angleDelta().y();
    if (steps == 0) return;
    chart()->zoom(steps > 0 ? kStep : 1.0 / kStep);
    event->accept();
  }
  void mouseDoubleClickEvent(QMouseEvent* event) override {
    chart()->zoomReset();
    event->accept();
  }
  void keyPressEvent(QKeyEvent* event) override {
    switch (event->key()) {
      case Qt::Key_Plus:
        chart()->zoom(kStep);
        break;
      case Qt::Key_Minus:
        chart()->zoom(1.0 / kStep);
        break;
      case Qt::Key_0:
        chart()->zoomReset();
        break;
      default:
        QChartView::keyPressEvent(event);
        return;
    }
    event->accept();
  }

 private:
  static constexpr double kStep = 1.25;
};

}  // namespace

ValueLabel::ValueLabel(QWidget* parent, const QString& caption) : QLabel(parent) {
  static const bool installed = [] {
    QAccessible::installFactory(ValueLabelFactory);
    return true;
  }();
  (void)installed;
  setAccessibleName(caption);
}

void AddAxes(QChart& chart, QAbstractAxis* x, QAbstractAxis* y) {
  chart.addAxis(x, Qt::AlignBottom);
  chart.addAxis(y, Qt::AlignLeft);
  for (QAbstractSeries* series : chart.series()) {
    series->attachAxis(x);
    series->attachAxis(y);
  }
}

void StyleChart(QChart& chart) {
  chart.setLocalizeNumbers(false);
  chart.setTitleFont(ChartFont(14, true));
  chart.legend()->setFont(ChartFont(12));
  chart.legend()->setAlignment(Qt::AlignBottom);
  for (QAbstractAxis* axis : chart.axes()) {
    axis->setLabelsFont(ChartFont(11));
    axis->setTitleFont(ChartFont(12));
  }
}

QChartView* MakeChartView(QChart* chart, QWidget* parent, const QString& name, bool zoomable) {
  auto* view = zoomable ? new ZoomChartView(chart, parent) : new QChartView(chart, parent);
  view->setObjectName(QStringLiteral("chartView"));
  view->setRenderHint(QPainter::Antialiasing);
  view->setFocusPolicy(Qt::StrongFocus);
  view->setAccessibleName(name);
  view->setMinimumSize(480, 300);
  return view;
}

QLabel* MakeInfoLabel(QWidget* parent, const char* objectName, const QString& accessibleName) {
  auto* label = new ValueLabel(parent, accessibleName);
  label->setObjectName(QString::fromLatin1(objectName));
  label->setWordWrap(true);
  label->setTextFormat(Qt::PlainText);
  label->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  label->setFocusPolicy(Qt::StrongFocus);
  return label;
}

QPushButton* MakeCloseButton(QWidget* dialog) {
  auto* button = new QPushButton(QStringLiteral("閉じる"), dialog);
  button->setObjectName(QStringLiteral("closeButton"));
  button->setAccessibleName(QStringLiteral("閉じる"));
  button->setDefault(true);
  button->setAutoDefault(true);
  if (auto* d = qobject_cast<QDialog*>(dialog)) QObject::connect(button, &QPushButton::clicked, d, &QDialog::reject);
  // The dialog opens on it rather than on a selectable line, which would
  // show a text cursor.
  button->setFocus();
  return button;
}

}  // namespace velmora
