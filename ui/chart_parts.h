#pragma once
// Parts the chart dialogs share: the chart's look, a chart view that the
// keyboard reaches, the information lines under it and the close button.
#include <QLabel>
#include <QString>

class QAbstractAxis;
class QChart;
class QChartView;
class QLabel;
class QPushButton;
class QWidget;

namespace velmora {

// Adds the two axes and attaches every series of the chart to them.
void AddAxes(QChart& chart, QAbstractAxis* x, QAbstractAxis* y);
// The Japanese face for titles, labels and the legend; numbers with "."
// whatever the locale.
void StyleChart(QChart& chart);
// A view that takes the keyboard focus (Tab) and carries `name` for screen
// readers. A zoomable one zooms with the wheel, a dragged rectangle and the
// + and - keys, and shows everything again on a double-click or 0.
QChartView* MakeChartView(QChart* chart, QWidget* parent, const QString& name, bool zoomable = false);
// A value shown under a caption: a screen reader names it by the caption
// (its accessible name) and reads the text it shows as its value and
// description.
class ValueLabel : public QLabel {
  Q_OBJECT
 public:
  ValueLabel(QWidget* parent, const QString& caption);
};

// A line of information the user may select and copy (also by keyboard),
// a ValueLabel.
QLabel* MakeInfoLabel(QWidget* parent, const char* objectName, const QString& accessibleName);
// "閉じる", the dialog's default button; Esc closes the dialog as well.
QPushButton* MakeCloseButton(QWidget* dialog);

}  // namespace velmora
