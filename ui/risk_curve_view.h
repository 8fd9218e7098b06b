#pragma once
// 表示 → リスクカーブ: the last scenario run's total direct and delay damage
// against the annual exceedance probability (logarithmic), each scenario a
// labelled point, the area that makes the expected value shaded, and under
// the chart the two expected values and the rule that gave them.
#include <QString>
#include <QWidget>
#include <memory>

#include "batch/scenarios.h"

class QChart;
class QChartView;
class QLabel;
class QPushButton;

namespace velmora {

class FileDialogs;

// The curve as drawn: from the front segment's start through every scenario
// to the tail's end, each segment cut into short pieces that are straight in
// p (a trapezoid in p is a curve on a logarithmic axis). `leftEdge` is where
// a flat tail, which runs to p = 0, leaves the axis.
QList<QPointF> RiskCurvePoints(const ExceedanceCurve& curve, const std::vector<double>& totals, const EadRule& rule,
                               double leftEdge);

class RiskCurveView : public QWidget {
  Q_OBJECT
 public:
  explicit RiskCurveView(QWidget* parent = nullptr);
  ~RiskCurveView() override;

  void showSummary(const ScenarioSummary& summary);
  // Writes the chart as a PNG; false when it cannot.
  bool savePng(const QString& file);
  void setFileDialogs(FileDialogs* dialogs);

  QChart* chart() const { return chart_; }
  QLabel* note() const { return note_; }

 private:
  void saveClicked();

  std::unique_ptr<FileDialogs> ownDialogs_;
  FileDialogs* dialogs_;
  QString outputFolder_;
  QChart* chart_;
  QChartView* view_;
  QLabel* note_;
  QPushButton* save_;
};

}  // namespace velmora
