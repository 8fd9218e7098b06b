#include "ui/chart_parts.h"

#include <QAbstractAxis>
#include <QAbstractSeries>
#include <QChart>
#include <QChartView>
#include <QDialog>
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

}  // namespace

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

QChartView* MakeChartView(QChart* chart, QWidget* parent, const QString& name) {
  auto* view = new QChartView(chart, parent);
  view->setObjectName(QStringLiteral("chartView"));
  view->setRenderHint(QPainter::Antialiasing);
  view->setFocusPolicy(Qt::StrongFocus);
  view->setAccessibleName(name);
  view->setMinimumSize(480, 300);
  return view;
}

QLabel* MakeInfoLabel(QWidget* parent, const char* objectName, const QString& accessibleName) {
  auto* label = new QLabel(parent);
  label->setObjectName(QString::fromLatin1(objectName));
  label->setAccessibleName(accessibleName);
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
