#pragma once
// The loaded gap-distribution table as a chart: its value against the gap
// from -20 to 100 (zoomable), the entries left at 0 marked apart (a damaged
// or short table shows at a glance) and, as a ring that leaves them visible,
// the point the last calculation read.
#include <QDialog>
#include <filesystem>
#include <optional>
#include <string>

#include "core/gap_table.h"

class QChart;
class QChartView;
class QLabel;
class QLineSeries;
class QScatterSeries;

namespace velmora {

class GapTableDialog : public QDialog {
  Q_OBJECT
 public:
  explicit GapTableDialog(QWidget* parent = nullptr);

  // Shows `table` as loaded from `file` (its SHA-256 hex in `sha256`).
  // `readKey`: the key (10 x gap, -200..1000) the last individual calculation
  // read, if any; `lastFailed`: a later calculation failed (the mark stays
  // the last success's). The file is read again only to tell which entries
  // it names.
  void showTable(const GapTable& table, const std::filesystem::path& file, const std::string& sha256,
                 std::optional<int> readKey, bool lastFailed = false);

  // What the chart shows.
  QChart* chart() const { return chart_; }
  QLineSeries* valueSeries() const { return values_; }
  QScatterSeries* zeroSeries() const { return zeros_; }
  QScatterSeries* readSeries() const { return read_; }

 private:
  QChart* chart_;
  QChartView* view_;
  QLineSeries* values_;
  QScatterSeries* zeros_;
  QScatterSeries* read_;
  QLabel* zeroLabel_;
  QLabel* readLabel_;
  QLabel* failedLabel_;
  QLabel* fileLabel_;
  QLabel* digestLabel_;
};

// A path as the user knows it: native separators, the system's file-name
// encoding.
QString NativePathText(const std::filesystem::path& path);

}  // namespace velmora
