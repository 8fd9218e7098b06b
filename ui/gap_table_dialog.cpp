#include "ui/gap_table_dialog.h"

#include <QChart>
#include <QChartView>
#include <QDir>
#include <QHBoxLayout>
#include <QLabel>
#include <QLegend>
#include <QLineSeries>
#include <QPen>
#include <QPushButton>
#include <QScatterSeries>
#include <QValueAxis>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <limits>

#include "core/number_text.h"
#include "platform/platform.h"
#include "ui/chart_parts.h"
#include "ui/japanese_font.h"

namespace velmora {
namespace {

// Reports nothing: the table is read again only to see which entries its
// file names; the window has already told the user of a bad file.
class SilentReporter : public Reporter {
 public:
  void error(std::string_view) override {}
  void info(std::string_view) override {}
};

// Which entries `file` names: read over a table of NaNs, the entries it does
// not name stay NaN (all of them when it cannot be read at all).
GapTable NamedEntries(const std::filesystem::path& file) {
  GapTable named;
  named.entries.fill(std::numeric_limits<float>::quiet_NaN());
  SilentReporter silent;
  LoadGapTable(file, named, silent);
  return named;
}

QString GapText(int key) { return QString::number(key / 10.0, 'f', 1); }

QString ValueText(float value) { return QString::fromStdString(FormatBatchNumber(value)); }

}  // namespace

QString NativePathText(const std::filesystem::path& path) {
  return QDir::toNativeSeparators(QString::fromStdString(platform::Utf8FromPath(path)));
}

GapTableDialog::GapTableDialog(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("GapTableDialog"));
  setWindowTitle(QStringLiteral("ギャップ分布表"));
  setFont(JapaneseFont());

  chart_ = new QChart;
  values_ = new QLineSeries;
  values_->setName(QStringLiteral("表の値"));
  zeros_ = new QScatterSeries;
  zeros_->setName(QStringLiteral("0のままの項目"));
  zeros_->setColor(QColor(0xd0, 0x20, 0x20));
  zeros_->setBorderColor(QColor(0xd0, 0x20, 0x20));
  zeros_->setMarkerSize(6);
  // A ring, drawn under the entries left at 0: they stay visible inside it.
  read_ = new QScatterSeries;
  read_->setName(QStringLiteral("前回の計算で読んだ点"));
  read_->setMarkerShape(QScatterSeries::MarkerShapeCircle);
  read_->setBrush(Qt::NoBrush);
  read_->setPen(QPen(QColor(0x10, 0x90, 0x30), 3));
  read_->setMarkerSize(16);
  for (QXYSeries* series : {static_cast<QXYSeries*>(values_), static_cast<QXYSeries*>(read_),
                            static_cast<QXYSeries*>(zeros_)}) {
    chart_->addSeries(series);
  }
  auto* x = new QValueAxis;
  x->setRange(GapTable::kMinKey / 10.0, GapTable::kMaxKey / 10.0);
  x->setTickCount(13);
  x->setLabelFormat(QStringLiteral("%.0f"));
  x->setTitleText(QStringLiteral("ギャップ"));
  auto* y = new QValueAxis;
  y->setTitleText(QStringLiteral("表の値"));
  AddAxes(*chart_, x, y);
  StyleChart(*chart_);
  chart_->legend()->setMarkerShape(QLegend::MarkerShapeFromSeries);

  view_ = MakeChartView(chart_, this, QStringLiteral("ギャップ分布表のグラフ"), true);
  view_->setToolTip(QStringLiteral("ホイールまたはドラッグで拡大、ダブルクリックで全体に戻ります"));

  zeroLabel_ = MakeInfoLabel(this, "zeroLabel", QStringLiteral("0のままの項目"));
  readLabel_ = MakeInfoLabel(this, "readLabel", QStringLiteral("前回の計算で読んだ点"));
  failedLabel_ = MakeInfoLabel(this, "failedLabel", QStringLiteral("注意"));
  failedLabel_->setText(QStringLiteral("直前の計算は失敗しました。読んだ点は最後に成功した計算のものです。"));
  failedLabel_->setStyleSheet(QStringLiteral("color: #a00000; font-weight: bold;"));
  failedLabel_->hide();
  fileLabel_ = MakeInfoLabel(this, "fileLabel", QStringLiteral("表のファイル"));
  digestLabel_ = MakeInfoLabel(this, "digestLabel", QStringLiteral("表のファイルの SHA-256"));

  auto* close = MakeCloseButton(this);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(close);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(view_, 1);
  for (QLabel* label : {zeroLabel_, readLabel_, failedLabel_, fileLabel_, digestLabel_}) layout->addWidget(label);
  layout->addLayout(buttons);
  resize(760, 560);
}

void GapTableDialog::showTable(const GapTable& table, const std::filesystem::path& file, const std::string& sha256,
                               std::optional<int> readKey, bool lastFailed) {
  const GapTable named = NamedEntries(file);
  // A new table is shown whole.
  chart_->zoomReset();
  QList<QPointF> points, zeros;
  points.reserve(static_cast<qsizetype>(table.entries.size()));
  float low = table.at(GapTable::kMinKey), high = low;
  for (int key = GapTable::kMinKey; key <= GapTable::kMaxKey; ++key) {
    const float value = table.at(key);
    const QPointF point(key / 10.0, value);
    points.append(point);
    low = std::min(low, value);
    high = std::max(high, value);
    // Left at 0: no line of the file wrote it. A file line that writes 0 (or
    // a value too small for a single) is the table's own value.
    if (value == 0.0f && std::isnan(named.at(key))) zeros.append(point);
  }
  values_->replace(points);
  zeros_->replace(zeros);
  auto* y = qobject_cast<QValueAxis*>(chart_->axes(Qt::Vertical).value(0));
  // The values' own range: no room below the least value (a table without
  // negative values starts at 0).
  y->setRange(low, high > low ? high : low + 1.0);

  zeroLabel_->setText(zeros.isEmpty()
                          ? QStringLiteral("0のままの項目（ファイルにない項目）はありません")
                          : QStringLiteral("0のままの項目（ファイルにない項目）：%1 件").arg(zeros.size()));
  QList<QPointF> read;
  if (readKey && *readKey >= GapTable::kMinKey && *readKey <= GapTable::kMaxKey) {
    const float value = table.at(*readKey);
    read.append(QPointF(*readKey / 10.0, value));
    readLabel_->setText(QStringLiteral("前回の計算で読んだ点：ギャップ %1、値 %2").arg(GapText(*readKey), ValueText(value)));
  } else {
    readLabel_->setText(QStringLiteral("前回の計算で読んだ点：まだありません"));
  }
  read_->replace(read);
  failedLabel_->setVisible(lastFailed);
  fileLabel_->setText(QStringLiteral("ファイル：%1").arg(NativePathText(file)));
  digestLabel_->setText(QStringLiteral("SHA-256：%1").arg(QString::fromStdString(sha256)));
}

}  // namespace velmora
