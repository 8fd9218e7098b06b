#pragma once
// What the last batch run produced: its counts, the figures of the four
// result columns, the files with their digests, the mode and settings, and a
// histogram of the delay damage of the computed lines.
#include <QDialog>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <memory>
#include <vector>

#include "batch/summary.h"

class QBarSet;
class QCheckBox;
class QChart;
class QChartView;
class QLabel;
class QPushButton;
class QTableWidget;

namespace velmora {

class FileDialogs;

// The histogram's bins: about 30 of equal width from the least to the
// greatest value, one when all values are equal, none without values. On a
// logarithmic axis the bins are of equal width in log10 of the value, and
// only values above 0 are counted.
struct Histogram {
  double low = 0.0;   // the least value counted
  double high = 0.0;  // the greatest
  double width = 0.0;  // of one bin (in log10 on a logarithmic axis); 0 for the one bin of equal values
  bool logarithmic = false;
  std::uint64_t leftOut = 0;  // values at or below 0 on a logarithmic axis
  std::vector<std::uint64_t> counts;

  // Where bin `k` starts (k = bins: where the last one ends).
  double edge(std::size_t k) const;
  // Where `value` lies on the bar axis, which puts bin k at k - 0.5 .. k + 0.5.
  double position(double value) const;
};
Histogram MakeHistogram(const std::vector<double>& values, int bins = 30, bool logarithmic = false);

// The values of the histogram's axis labels between `h.low` and `h.high`:
// round ones, 1, 2 or 5 times a power of ten (on a logarithmic axis the
// powers of ten alone when they are enough).
std::vector<double> HistogramTicks(const Histogram& h);

class BatchSummaryDialog : public QDialog {
  Q_OBJECT
 public:
  explicit BatchSummaryDialog(QWidget* parent = nullptr);
  ~BatchSummaryDialog() override;

  void showSummary(const BatchSummary& summary);
  // Writes the histogram as a PNG; false (nothing shown) when it cannot.
  bool saveHistogramPng(const QString& file);
  // The save button asks through these dialogs (Qt's own by default).
  void setFileDialogs(FileDialogs* dialogs);

  // What the dialog shows.
  QTableWidget* figuresTable() const { return figures_; }
  QTableWidget* filesTable() const { return files_; }
  QChart* histogramChart() const { return chart_; }
  QBarSet* histogramBars() const { return bars_; }
  QLabel* countsLabel() const { return counts_; }
  QLabel* settingsLabel() const { return settings_; }
  QLabel* histogramNote() const { return note_; }
  QCheckBox* logarithmicBox() const { return logarithmic_; }

 private:
  void saveClicked();
  void drawHistogram();

  std::unique_ptr<FileDialogs> ownDialogs_;
  FileDialogs* dialogs_;
  QString outputFolder_;
  QLabel* counts_;
  QTableWidget* figures_;
  QChart* chart_;
  QChartView* view_;
  QBarSet* bars_;
  QStringList binTexts_;  // each bar's range and count, for its tool tip
  QCheckBox* logarithmic_;
  std::vector<double> values_;  // the run's delay damages
  std::uint64_t computed_ = 0;
  QLabel* note_;
  QTableWidget* files_;
  QLabel* settings_;
  QPushButton* save_;
};

// The summary as plain text: counts, the four columns' figures, the total
// delay damage, mode, settings and files with their digests.
QString BatchSummaryText(const BatchSummary& summary);

}  // namespace velmora
