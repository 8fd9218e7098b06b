#include "ui/batch_summary_dialog.h"

#include <QBarSeries>
#include <QBarSet>
#include <QCategoryAxis>
#include <QChart>
#include <QChartView>
#include <QCheckBox>
#include <QCursor>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPixmap>
#include <QPushButton>
#include <QScrollBar>
#include <QTableWidget>
#include <QToolTip>
#include <QValueAxis>
#include <QVBoxLayout>
#include <algorithm>
#include <array>
#include <cmath>

#include "core/number_text.h"
#include "form/settings.h"
#include "ui/chart_parts.h"
#include "ui/file_dialogs.h"
#include "ui/gap_table_dialog.h"
#include "ui/japanese_font.h"
#include "ui/window_focus.h"

namespace velmora {
namespace {

// The four result columns as the window captions their boxes, with units.
const std::array<QString, 4> kColumnCaptions = {
    QStringLiteral("家計の選好特性（倍）"), QStringLiteral("住民の治水投資に対する支払い意思額（百万円）"),
    QStringLiteral("保険の最適カバー率（倍）"), QStringLiteral("流動性制約に伴う復旧遅延被害額（百万円）")};
const std::array<QString, 5> kFigureCaptions = {QStringLiteral("件数"), QStringLiteral("合計"),
                                                QStringLiteral("最小"), QStringLiteral("平均"),
                                                QStringLiteral("最大")};
const QString kNone = QStringLiteral("-");
const QString kPngFilter = QStringLiteral("PNGファイル(*.png)");

QString Seven(double value) { return QString::fromStdString(SevenDigits(value)); }

// Count, sum, minimum, mean and maximum; the last three only when counted.
std::array<QString, 5> FigureTexts(const ColumnFigures& f) {
  const bool any = f.count > 0;
  return {QString::number(f.count), Seven(f.sum), any ? Seven(f.min) : kNone, any ? Seven(f.mean) : kNone,
          any ? Seven(f.max) : kNone};
}

QString CountsText(const BatchSummary& s) {
  return QStringLiteral("データ行 %1、計算 %2、行の検査で計算不可 %3、モデルで計算不可 %4")
      .arg(s.dataLines)
      .arg(s.computed)
      .arg(s.rowRejected)
      .arg(s.modelFailed);
}

QString TotalText(const BatchSummary& s) {
  return QStringLiteral("復旧遅延被害額の合計 %1（百万円）").arg(Seven(s.columns[3].sum));
}

QString ModeText(Mode mode) {
  return mode == Mode::WithRiskPremium ? QStringLiteral("リスクプレミアムを考慮する")
                                       : QStringLiteral("リスクプレミアムを考慮しない");
}

// The four settings as given; the mode reads the insurance rate alone or the
// other three.
QString SettingsText(const BatchSummary& s) {
  QStringList parts;
  for (std::size_t k = 0; k < 4; ++k) {
    const form::Setting& setting = form::kSettings[k];
    const QString caption = QString::fromUtf8(setting.caption.data(), qsizetype(setting.caption.size()));
    const QString unused = form::UsedInMode(setting.key, s.mode) ? QString() : QStringLiteral("（使わない）");
    parts << QStringLiteral("%1 %2%3").arg(caption, QString::fromStdString(s.settingTexts[k]), unused);
  }
  return parts.join(QStringLiteral("、"));
}

QString OutputText(const BatchSummary& s) {
  return QStringLiteral("結果の文字コード %1、9列目以降を%2")
      .arg(s.encoding == OutputEncoding::Utf8 ? QStringLiteral("UTF-8") : QStringLiteral("CP932"),
           s.keptColumns ? QStringLiteral("残す") : QStringLiteral("残さない"));
}

struct FileRow {
  QString caption;
  QString path;
  QString sha256;
};

std::array<FileRow, 3> FileRows(const BatchSummary& s) {
  return {FileRow{QStringLiteral("入力ファイル"), NativePathText(s.input), QString::fromStdString(s.inputSha256)},
          FileRow{QStringLiteral("出力ファイル"), NativePathText(s.output), QString::fromStdString(s.outputSha256)},
          FileRow{QStringLiteral("ギャップ分布表"), NativePathText(s.gapTable),
                  QString::fromStdString(s.gapTableSha256)}};
}

QTableWidget* MakeTable(QWidget* parent, const char* name, const QString& accessibleName, int rows,
                        const QStringList& columns) {
  auto* table = new QTableWidget(rows, static_cast<int>(columns.size()), parent);
  table->setObjectName(QString::fromLatin1(name));
  table->setAccessibleName(accessibleName);
  table->setHorizontalHeaderLabels(columns);
  table->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table->setSelectionMode(QAbstractItemView::SingleSelection);
  // Tab leaves the table; the arrow keys move within it (Ctrl+C copies a cell).
  table->setTabKeyNavigation(false);
  table->setWordWrap(false);
  table->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  return table;
}

// High enough for every row, so that the table never scrolls.
void FitHeight(QTableWidget* table) {
  table->resizeRowsToContents();
  int height = table->horizontalHeader()->sizeHint().height() + 2 * table->frameWidth();
  for (int r = 0; r < table->rowCount(); ++r) height += table->rowHeight(r);
  if (table->horizontalScrollBar()->isVisible()) height += table->horizontalScrollBar()->sizeHint().height();
  table->setFixedHeight(height);
}

void SetCell(QTableWidget* table, int row, int column, const QString& text, Qt::Alignment align) {
  auto* item = new QTableWidgetItem(text);
  item->setTextAlignment(align | Qt::AlignVCenter);
  item->setToolTip(text);
  table->setItem(row, column, item);
}

// A tick step of 1, 2 or 5 times a power of ten that gives about five steps.
double CountStep(double top) {
  const double rough = std::max(1.0, top / 5.0);
  const double power = std::pow(10.0, std::floor(std::log10(rough)));
  for (const double m : {1.0, 2.0, 5.0}) {
    if (m * power >= rough) return m * power;
  }
  return 10.0 * power;
}

}  // namespace

double Histogram::edge(std::size_t k) const {
  if (k == counts.size()) return high;
  if (!logarithmic || k == 0) return low + static_cast<double>(k) * width;
  return std::pow(10.0, std::log10(low) + static_cast<double>(k) * width);
}

double Histogram::position(double value) const {
  if (width == 0.0) return 0.0;
  const double from = logarithmic ? std::log10(value) - std::log10(low) : value - low;
  return from / width - 0.5;
}

Histogram MakeHistogram(const std::vector<double>& all, int bins, bool logarithmic) {
  Histogram h;
  h.logarithmic = logarithmic;
  std::vector<double> positive;
  if (logarithmic) {
    for (const double v : all) {
      if (v > 0.0) positive.push_back(v);
    }
    h.leftOut = all.size() - positive.size();
  }
  const std::vector<double>& values = logarithmic ? positive : all;
  if (values.empty()) return h;
  const auto [least, greatest] = std::minmax_element(values.begin(), values.end());
  h.low = *least;
  h.high = *greatest;
  const double width = logarithmic ? (std::log10(*greatest) - std::log10(*least)) / bins : (*greatest - *least) / bins;
  if (!(width > 0.0) || !std::isfinite(width)) {
    h.counts.assign(1, values.size());
    return h;
  }
  h.width = width;
  h.counts.assign(static_cast<std::size_t>(bins), 0);
  const auto last = static_cast<std::size_t>(bins - 1);
  for (const double v : values) {
    // The quotient finds the bin but may round across an edge: the edges as
    // shown decide (a bin holds its start, the last one also the greatest).
    const double at = std::floor(h.position(v) + 0.5);
    auto bin = static_cast<std::size_t>(std::clamp(at, 0.0, static_cast<double>(last)));
    while (bin > 0 && v < h.edge(bin)) --bin;
    while (bin < last && v >= h.edge(bin + 1)) ++bin;
    ++h.counts[bin];
  }
  return h;
}

std::vector<double> HistogramTicks(const Histogram& h) {
  std::vector<double> ticks;
  if (h.counts.empty() || h.width == 0.0) return ticks;
  // Multiples of 1, 2 or 5 x 10^k, counted from k so that no sum drifts.
  const auto multiples = [&ticks, &h](double step) {
    for (double k = std::ceil(h.low / step); k * step <= h.high; k += 1.0) ticks.push_back(k * step);
  };
  if (h.logarithmic) {
    const int first = static_cast<int>(std::floor(std::log10(h.low)));
    const int last = static_cast<int>(std::ceil(std::log10(h.high)));
    for (const double m : {1.0, 2.0, 5.0}) {
      std::vector<double> found;
      for (int e = first; e <= last; ++e) {
        for (const double n : {1.0, 2.0, 5.0}) {
          const double v = n * std::pow(10.0, e);
          if (n <= m && v >= h.low && v <= h.high) found.push_back(v);
        }
      }
      std::sort(found.begin(), found.end());
      ticks = found;
      if (ticks.size() >= 3) return ticks;
    }
    ticks.clear();
  }
  // The greatest round step that still gives four or more labels.
  const double most = (h.high - h.low) / 4.0;
  const double power = std::pow(10.0, std::floor(std::log10(most)));
  double step = power;
  for (const double m : {2.0, 5.0}) {
    if (m * power <= most) step = m * power;
  }
  multiples(step);
  return ticks;
}

BatchSummaryDialog::BatchSummaryDialog(QWidget* parent)
    : QDialog(parent), ownDialogs_(std::make_unique<QtFileDialogs>()), dialogs_(ownDialogs_.get()) {
  setObjectName(QStringLiteral("BatchSummaryDialog"));
  setWindowTitle(QStringLiteral("一括計算の集計"));
  setFont(JapaneseFont());

  counts_ = MakeInfoLabel(this, "countsLabel", QStringLiteral("行数と復旧遅延被害額の合計"));
  QStringList figureColumns;
  for (const QString& c : kFigureCaptions) figureColumns << c;
  figures_ = MakeTable(this, "figuresTable", QStringLiteral("結果の4列の集計"), 4, figureColumns);
  QStringList rows;
  for (const QString& c : kColumnCaptions) rows << c;
  figures_->setVerticalHeaderLabels(rows);
  figures_->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
  figures_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);

  chart_ = new QChart;
  auto* series = new QBarSeries;
  series->setBarWidth(1.0);
  bars_ = new QBarSet(QStringLiteral("行数"));
  bars_->setColor(QColor(0x3a, 0x70, 0xb0));
  bars_->setBorderColor(QColor(0x20, 0x40, 0x70));
  series->append(bars_);
  chart_->addSeries(series);
  chart_->legend()->hide();
  auto* x = new QCategoryAxis;
  x->setLabelsPosition(QCategoryAxis::AxisLabelsPositionOnValue);
  x->setTitleText(QStringLiteral("復旧遅延被害額（百万円）"));
  auto* y = new QValueAxis;
  y->setLabelFormat(QStringLiteral("%.0f"));
  y->setTitleText(QStringLiteral("行数"));
  AddAxes(*chart_, x, y);
  StyleChart(*chart_);
  view_ = MakeChartView(chart_, this, QStringLiteral("復旧遅延被害額のヒストグラム"));
  view_->setMinimumSize(560, 280);
  connect(bars_, &QBarSet::hovered, this, [this](bool entered, int index) {
    if (!entered) {
      QToolTip::hideText();
      return;
    }
    QToolTip::showText(QCursor::pos(), binTexts_.value(index), view_);
  });
  note_ = MakeInfoLabel(this, "histogramNote", QStringLiteral("ヒストグラムについて"));

  files_ = MakeTable(this, "filesTable", QStringLiteral("ファイルと SHA-256"), 3,
                     {QStringLiteral("ファイル"), QStringLiteral("SHA-256")});
  files_->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);
  files_->horizontalHeader()->setSectionResizeMode(1, QHeaderView::ResizeToContents);
  files_->setTextElideMode(Qt::ElideMiddle);
  files_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  settings_ = MakeInfoLabel(this, "settingsLabel", QStringLiteral("計算の種類と設定"));

  save_ = new QPushButton(QStringLiteral("画像として保存(&P)..."), this);
  save_->setObjectName(QStringLiteral("saveButton"));
  save_->setAccessibleName(QStringLiteral("ヒストグラムを画像として保存"));
  save_->setAutoDefault(false);
  connect(save_, &QPushButton::clicked, this, &BatchSummaryDialog::saveClicked);
  logarithmic_ = new QCheckBox(QStringLiteral("対数軸(&L)"), this);
  logarithmic_->setObjectName(QStringLiteral("logarithmicBox"));
  logarithmic_->setAccessibleName(QStringLiteral("復旧遅延被害額を対数軸で表示"));
  connect(logarithmic_, &QCheckBox::toggled, this, &BatchSummaryDialog::drawHistogram);
  auto* close = MakeCloseButton(this);

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(save_);
  buttons->addWidget(logarithmic_);
  buttons->addStretch(1);
  buttons->addWidget(close);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(counts_);
  layout->addWidget(figures_);
  layout->addWidget(view_, 1);
  layout->addWidget(note_);
  layout->addWidget(files_);
  layout->addWidget(settings_);
  layout->addLayout(buttons);
  resize(860, 760);
}

BatchSummaryDialog::~BatchSummaryDialog() = default;

void BatchSummaryDialog::setFileDialogs(FileDialogs* dialogs) { dialogs_ = dialogs; }

void BatchSummaryDialog::showSummary(const BatchSummary& summary) {
  counts_->setText(CountsText(summary) + QLatin1Char('\n') + TotalText(summary));
  for (int c = 0; c < 4; ++c) {
    const std::array<QString, 5> texts = FigureTexts(summary.columns[static_cast<std::size_t>(c)]);
    for (int f = 0; f < 5; ++f) SetCell(figures_, c, f, texts[static_cast<std::size_t>(f)], Qt::AlignRight);
  }
  // The columns stay stretched over the table's width (sizing them to their
  // contents would leave an empty band beside them).
  FitHeight(figures_);

  const std::array<FileRow, 3> rows = FileRows(summary);
  QStringList rowCaptions;
  for (int r = 0; r < 3; ++r) {
    const FileRow& row = rows[static_cast<std::size_t>(r)];
    rowCaptions << row.caption;
    SetCell(files_, r, 0, row.path, Qt::AlignLeft);
    SetCell(files_, r, 1, row.sha256, Qt::AlignLeft);
  }
  files_->setVerticalHeaderLabels(rowCaptions);
  FitHeight(files_);
  settings_->setText(QStringLiteral("計算の種類：%1\n%2\n入力 %3 バイト、%4")
                         .arg(ModeText(summary.mode), SettingsText(summary))
                         .arg(summary.inputBytes)
                         .arg(OutputText(summary)));
  outputFolder_ = QFileInfo(NativePathText(summary.output)).absolutePath();

  values_ = summary.delayDamages;
  computed_ = summary.computed;
  drawHistogram();
}

void BatchSummaryDialog::drawHistogram() {
  const Histogram h = MakeHistogram(values_, 30, logarithmic_->isChecked());
  const int bins = static_cast<int>(h.counts.size());
  QList<qreal> counts;
  QStringList binTexts;
  std::uint64_t most = 0;
  for (int b = 0; b < bins; ++b) {
    const std::uint64_t n = h.counts[static_cast<std::size_t>(b)];
    counts << static_cast<qreal>(n);
    most = std::max(most, n);
    const auto k = static_cast<std::size_t>(b);
    binTexts << QStringLiteral("%1 〜 %2：%3 行").arg(Seven(h.edge(k)), Seven(h.edge(k + 1))).arg(n);
  }
  bars_->remove(0, bars_->count());
  bars_->append(counts);
  binTexts_ = binTexts;
  auto* x = qobject_cast<QCategoryAxis*>(chart_->axes(Qt::Horizontal).value(0));
  for (const QString& label : x->categoriesLabels()) x->remove(label);
  auto* y = qobject_cast<QValueAxis*>(chart_->axes(Qt::Vertical).value(0));
  const double step = CountStep(static_cast<double>(most));
  y->setTickType(QValueAxis::TicksDynamic);
  y->setTickAnchor(0.0);
  y->setTickInterval(step);
  y->setRange(0.0, std::max(step, std::ceil(static_cast<double>(most) / step) * step));
  if (bins == 0) {
    x->setRange(-0.5, 0.5);
    chart_->setTitle(QString());
    if (computed_ == 0) {
      note_->setText(QStringLiteral("計算できた行がないため、ヒストグラムはありません。"));
    } else if (values_.empty()) {
      note_->setText(QStringLiteral("この集計には行ごとの復旧遅延被害額がありません。"));
    } else {
      note_->setText(QStringLiteral("値がすべて0以下のため、対数軸のヒストグラムはありません。"));
    }
    note_->show();
    save_->setEnabled(false);
    return;
  }
  note_->setText(QStringLiteral("0以下の %1 行は対数軸に表せないため、ヒストグラムに含めていません。").arg(h.leftOut));
  note_->setVisible(h.leftOut > 0);
  save_->setEnabled(true);
  chart_->setTitle(QStringLiteral("復旧遅延被害額の分布（計算できた %1 行）").arg(values_.size()));
  x->setRange(-0.5, bins - 0.5);
  if (h.width == 0.0) {
    x->append(Seven(h.low), 0.0);  // one bin, one value: its label under the bar
    return;
  }
  // Round values, written as the result file writes numbers.
  for (const double tick : HistogramTicks(h)) {
    const QString text = QString::fromStdString(FormatBatchNumber(static_cast<float>(tick)));
    if (!x->categoriesLabels().contains(text)) x->append(text, h.position(tick));
  }
}

bool BatchSummaryDialog::saveHistogramPng(const QString& file) {
  if (QLayout* l = layout(); l != nullptr && !isVisible()) l->activate();
  return view_->grab().save(file, "PNG");
}

void BatchSummaryDialog::saveClicked() {
  const RegainFocus regain(this);
  QString file = dialogs_->showSaveDialog(this, kPngFilter, outputFolder_, QStringLiteral("Histogram.png"));
  if (file.isEmpty()) return;
  if (!file.endsWith(QStringLiteral(".png"), Qt::CaseInsensitive)) file += QStringLiteral(".png");
  if (saveHistogramPng(file)) return;
  QMessageBox box(QMessageBox::Critical, QStringLiteral("Velmora"),
                  QStringLiteral("%1\n画像を保存できませんでした。").arg(file), QMessageBox::Ok, this);
  box.setFont(JapaneseFont());
  box.exec();
}

QString BatchSummaryText(const BatchSummary& summary) {
  QStringList lines;
  lines << CountsText(summary) << TotalText(summary) << QString();
  for (std::size_t c = 0; c < 4; ++c) {
    const std::array<QString, 5> texts = FigureTexts(summary.columns[c]);
    QStringList parts;
    for (std::size_t f = 0; f < 5; ++f) parts << kFigureCaptions[f] + QLatin1Char(' ') + texts[f];
    lines << kColumnCaptions[c] << QStringLiteral("  ") + parts.join(QStringLiteral("、"));
  }
  lines << QString() << QStringLiteral("計算の種類：") + ModeText(summary.mode) << SettingsText(summary);
  for (const FileRow& row : FileRows(summary)) {
    lines << row.caption + QStringLiteral("：") + row.path << QStringLiteral("  SHA-256 ") + row.sha256;
  }
  lines << QStringLiteral("入力 %1 バイト、%2").arg(summary.inputBytes).arg(OutputText(summary));
  return lines.join(QLatin1Char('\n'));
}

}  // namespace velmora
