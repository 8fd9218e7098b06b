// The table view and the batch summary: what they show for a small table and
// a small real batch, and that they are reachable by the keyboard.
#include <QAccessible>
#include <QBarSet>
#include <QCategoryAxis>
#include <QCheckBox>
#include <QChart>
#include <QChartView>
#include <QValueAxis>
#include <QWheelEvent>
#include <QImage>
#include <QLabel>
#include <QLineSeries>
#include <QPushButton>
#include <QScatterSeries>
#include <QTableWidget>
#include <QtTest>
#include <cmath>
#include <fstream>
#include <numeric>

#include "batch/batch.h"
#include "platform/sha256.h"
#include "core/number_text.h"
#include "ui/batch_summary_dialog.h"
#include "ui/gap_table_dialog.h"
#include "ui_fixture.h"

using namespace velmora;
using namespace velmora::test;

namespace {

// What a screen reader reads of the line `name`: its value, once it is
// named by its caption.
QString Label(QWidget& dialog, const char* name) {
  auto* label = dialog.findChild<QLabel*>(QString::fromLatin1(name));
  QAccessibleInterface* a = QAccessible::queryAccessibleInterface(label);
  if (a == nullptr || label->accessibleName().isEmpty() || a->text(QAccessible::Name) != label->accessibleName()) {
    return QStringLiteral("(not named)");
  }
  return a->text(QAccessible::Value);
}

QString Seven(double value) { return QString::fromStdString(SevenDigits(value)); }

// Every control the keyboard can reach has a name for screen readers and
// lies on the Tab chain; Esc closes the dialog.
void CheckKeyboard(QDialog& dialog) {
  dialog.show();
  QVERIFY(QTest::qWaitForWindowExposed(&dialog));
  QList<QWidget*> chain;
  for (QWidget* w = dialog.nextInFocusChain(); w != &dialog; w = w->nextInFocusChain()) chain << w;
  int focusable = 0;
  for (QWidget* w : dialog.findChildren<QWidget*>()) {
    if (!(w->focusPolicy() & Qt::TabFocus) || !w->isVisibleTo(&dialog)) continue;
    if (w->focusProxy() != nullptr || w->parentWidget() != &dialog) continue;  // parts of a control
    ++focusable;
    QVERIFY2(!w->accessibleName().isEmpty(), qPrintable(w->objectName()));
    QVERIFY2(chain.contains(w), qPrintable(w->objectName()));
  }
  QVERIFY(focusable >= 4);
  QTest::keyClick(&dialog, Qt::Key_Escape);
  QVERIFY(!dialog.isVisible());
}

}  // namespace

class ChartDialogsTest : public QObject {
  Q_OBJECT
  QTemporaryDir dir_;
  std::unique_ptr<ModalGuard> guard_;

  QString path(const char* name) const { return dir_.filePath(QString::fromLatin1(name)); }

 private slots:
  void initTestCase() {
    QVERIFY(dir_.isValid());
    // Numbers keep "." whatever the user's locale.
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
  }
  // No message box may appear (a failed save would show one).
  void init() { guard_ = std::make_unique<ModalGuard>(); }
  void cleanup() { QVERIFY2(guard_->seen.isEmpty(), qPrintable(guard_->seen.join(QLatin1Char(',')))); }

  void gapTableShowsItsEntriesTheReadPointAndTheFile() {
    // Five entries named, one of them 0; key 100 kept from an earlier load.
    const std::filesystem::path file = path("EGapDis.txt").toStdString();
    std::ofstream(file, std::ios::binary) << "gap,value\r\n-1.0,0.5\r\n0.0,1.25\r\n0.5,2\r\n6.5,3.5\r\n7.0,0\r\n";
    GapTable table;
    table.at(100) = 9.0f;
    RecordingReporter r;
    QVERIFY(LoadGapTable(file, table, r));
    const std::string digest = Sha256OfFile(file).value();

    GapTableDialog dialog;
    dialog.showTable(table, file, digest, 65);
    QCOMPARE(dialog.windowTitle(), QStringLiteral("ギャップ分布表"));
    const QList<QPointF> values = dialog.valueSeries()->points();
    QCOMPARE(values.size(), 1201);
    QCOMPARE(values.first(), QPointF(-20.0, 0.0));
    QCOMPARE(values[200 + 65], QPointF(6.5, 3.5));
    QCOMPARE(values[200 + 100], QPointF(10.0, 9.0));
    QCOMPARE(values.last(), QPointF(100.0, 0.0));
    // Left at 0: all but the five named entries and the kept one.
    const QList<QPointF> zeros = dialog.zeroSeries()->points();
    QCOMPARE(zeros.size(), 1201 - 6);
    for (const QPointF& p : zeros) QVERIFY(p.y() == 0.0 && p.x() != 7.0 && p.x() != 10.0);
    QCOMPARE(Label(dialog, "zeroLabel"), QStringLiteral("0のままの項目（ファイルにない項目）：1195 件"));
    QCOMPARE(dialog.readSeries()->points(), QList<QPointF>{QPointF(6.5, 3.5)});
    QCOMPARE(Label(dialog, "readLabel"), QStringLiteral("前回の計算で読んだ点：ギャップ 6.5、値 3.5"));
    QVERIFY(Label(dialog, "fileLabel").endsWith(QDir::toNativeSeparators(path("EGapDis.txt"))));
    QVERIFY(Label(dialog, "digestLabel").endsWith(QString::fromStdString(digest)));

    // A negative key, then none: the mark follows the last calculation.
    dialog.showTable(table, file, digest, -10);
    QCOMPARE(dialog.readSeries()->points(), QList<QPointF>{QPointF(-1.0, 0.5)});
    QCOMPARE(Label(dialog, "readLabel"), QStringLiteral("前回の計算で読んだ点：ギャップ -1.0、値 0.5"));
    dialog.showTable(table, file, digest, std::nullopt);
    QVERIFY(dialog.readSeries()->points().isEmpty());

    // The value axis spans the values, not below the least (0 here).
    auto* x = qobject_cast<QValueAxis*>(dialog.chart()->axes(Qt::Horizontal).value(0));
    auto* y = qobject_cast<QValueAxis*>(dialog.chart()->axes(Qt::Vertical).value(0));
    QCOMPARE(y->min(), 0.0);
    QVERIFY(y->max() >= 9.0 && y->max() < 10.0);
    // The read point is a ring under the entries left at 0 around it.
    const QList<QAbstractSeries*> drawn = dialog.chart()->series();
    QVERIFY(drawn.indexOf(dialog.readSeries()) < drawn.indexOf(dialog.zeroSeries()));
    QCOMPARE(dialog.readSeries()->brush().style(), Qt::NoBrush);
    // A failed calculation since: said under the chart.
    QVERIFY(!dialog.findChild<QLabel*>(QStringLiteral("failedLabel"))->isVisibleTo(&dialog));
    dialog.showTable(table, file, digest, 65, true);
    QVERIFY(dialog.findChild<QLabel*>(QStringLiteral("failedLabel"))->isVisibleTo(&dialog));
    QVERIFY(Label(dialog, "failedLabel").contains(QStringLiteral("直前の計算は失敗しました")));

    // Zoom: the wheel, the keys; a double-click or 0 shows the whole table.
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QWidget* view = dialog.findChild<QChartView*>()->viewport();
    const QPointF middle = QPointF(view->rect().center());
    QWheelEvent wheel(middle, view->mapToGlobal(middle), {}, QPoint(0, 120), Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(view, &wheel);
    QVERIFY2(x->max() - x->min() < 119.0, qPrintable(QStringLiteral("%1..%2").arg(x->min()).arg(x->max())));
    QTest::mouseDClick(view, Qt::LeftButton, {}, middle.toPoint());
    QCOMPARE(x->min(), -20.0);
    QCOMPARE(x->max(), 100.0);
    QTest::keyClick(dialog.findChild<QChartView*>(), Qt::Key_Plus);
    QVERIFY(x->max() - x->min() < 119.0);
    QTest::keyClick(dialog.findChild<QChartView*>(), Qt::Key_0);
    QCOMPARE(x->max() - x->min(), 120.0);
    dialog.showTable(table, file, digest, 65, false);
    CheckKeyboard(dialog);
  }

  void batchSummaryShowsTheRunsFiguresAndHistogram() {
    // Households around the default one; two the row check refuses.
    QByteArray input = "a,b,c,d,e,f,g,h\r\n";
    for (int i = 0; i < 60; ++i) {
      input += QByteArray::number(9.725 * (0.5 + i / 60.0), 'f', 3) + ",7.38,4.81," +
               QByteArray::number(3.57 * (1.5 - i / 60.0), 'f', 3) + ",7.416,14.759,22.616,3.321\r\n";
      if (i % 25 == 0) input += "9.725,x,4.81,3.57,7.416,14.759,22.616,3.321\r\n";
    }
    QFile f(path("in.csv"));
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(input);
    f.close();
    BatchCommand command;
    command.input = path("in.csv").toStdString();
    command.output = path("out.csv").toStdString();
    command.settingTexts = kDefaultCommonSettingTexts;
    command.gapTableFile = VELMORA_EXAMPLE_GAP_TABLE;
    command.options.threads = 2;
    command.options.chunkBytes = 200;
    command.options.keepDelayDamages = true;
    CommonSettings settings;
    GapTable table;
    RecordingReporter r;
    BatchSummary summary;
    QCOMPARE(RunBatchCommand(command, settings, table, r, nullptr, &summary), BatchOutcome::Completed);
    QCOMPARE(summary.computed, std::uint64_t{60});
    QCOMPARE(summary.rowRejected, std::uint64_t{3});

    BatchSummaryDialog dialog;
    ScriptedDialogs files;
    dialog.setFileDialogs(&files);
    dialog.showSummary(summary);
    QCOMPARE(dialog.windowTitle(), QStringLiteral("一括計算の集計"));
    QCOMPARE(Label(dialog, "countsLabel"),
             QStringLiteral("データ行 63、計算 60、行の検査で計算不可 3、モデルで計算不可 0\n"
                            "復旧遅延被害額の合計 %1（百万円）")
                 .arg(Seven(summary.columns[3].sum)));
    QTableWidget* figures = dialog.figuresTable();
    const QString text = BatchSummaryText(summary);
    for (int c = 0; c < 4; ++c) {
      const ColumnFigures& col = summary.columns[static_cast<std::size_t>(c)];
      const QStringList expected = {QString::number(col.count), Seven(col.sum), Seven(col.min), Seven(col.mean),
                                    Seven(col.max)};
      QStringList shown;
      for (int k = 0; k < 5; ++k) shown << figures->item(c, k)->text();
      QCOMPARE(shown, expected);
      QVERIFY(text.contains(figures->verticalHeaderItem(c)->text() + QStringLiteral("\n  件数 ") + expected[0] +
                            QStringLiteral("、合計 ") + expected[1] + QStringLiteral("、最小 ") + expected[2] +
                            QStringLiteral("、平均 ") + expected[3] + QStringLiteral("、最大 ") + expected[4]));
    }
    QCOMPARE(figures->verticalHeaderItem(3)->text(), QStringLiteral("流動性制約に伴う復旧遅延被害額（百万円）"));
    QTableWidget* filesTable = dialog.filesTable();
    const std::string digests[] = {summary.inputSha256, summary.outputSha256, summary.gapTableSha256};
    for (int row = 0; row < 3; ++row) {
      QCOMPARE(filesTable->item(row, 1)->text(), QString::fromStdString(digests[row]));
      QVERIFY(text.contains(QString::fromStdString(digests[row])));
    }
    QCOMPARE(filesTable->item(1, 0)->text(), QDir::toNativeSeparators(path("out.csv")));
    QCOMPARE(summary.outputSha256, Sha256OfFile(command.output).value());
    QVERIFY(Label(dialog, "settingsLabel").contains(QStringLiteral("保険加入率 0.610（使わない）、被害の発生確率 0.025")));

    // Thirty bins from the least to the greatest damage, holding every
    // computed line; the extremes in the outer bins.
    QBarSet* bars = dialog.histogramBars();
    QCOMPARE(bars->count(), 30);
    double total = 0.0;
    for (int b = 0; b < bars->count(); ++b) total += bars->at(b);
    QCOMPARE(total, 60.0);
    QVERIFY(bars->at(0) >= 1 && bars->at(29) >= 1);
    const Histogram h = MakeHistogram(summary.delayDamages);
    QCOMPARE(h.low, summary.columns[3].min);
    QCOMPARE(h.edge(30), summary.columns[3].max);
    for (int b = 0; b < 30; ++b) {
      const auto inBin = std::count_if(summary.delayDamages.begin(), summary.delayDamages.end(), [&](double v) {
        return v >= h.edge(b) && (b == 29 ? v <= h.edge(30) : v < h.edge(b + 1));
      });
      QCOMPARE(bars->at(b), static_cast<qreal>(inBin));
    }

    // The value axis: round labels in the result file's number style, each
    // where its value lies: multiples of a step of 1, 2 or 5 x 10^k, or on
    // the logarithmic axis such values themselves. There the bins are even
    // in log10 and hold every value above 0.
    const auto oneTwoFive = [](double v) {
      const double mantissa = v / std::pow(10.0, std::floor(std::log10(v)));
      return qFuzzyCompare(mantissa, 1.0) || qFuzzyCompare(mantissa, 2.0) || qFuzzyCompare(mantissa, 5.0);
    };
    const auto checkAxis = [&dialog, &oneTwoFive](const Histogram& h) {
      auto* x = qobject_cast<QCategoryAxis*>(dialog.histogramChart()->axes(Qt::Horizontal).value(0));
      const QStringList labels = x->categoriesLabels();
      QVERIFY2(labels.size() >= 3, qPrintable(labels.join(QLatin1Char(' '))));
      const double step = labels[1].toDouble() - labels[0].toDouble();
      QVERIFY2(h.logarithmic || oneTwoFive(step), qPrintable(labels.join(QLatin1Char(' '))));
      for (const QString& label : labels) {
        bool ok = false;
        const double v = label.toDouble(&ok);
        QVERIFY2(ok && v >= h.low && v <= h.high, qPrintable(label));
        QVERIFY2(h.logarithmic ? oneTwoFive(v) : std::abs(v / step - std::round(v / step)) < 1e-6, qPrintable(label));
        QCOMPARE(label, QString::fromStdString(FormatBatchNumber(static_cast<float>(v))));
        const double at = h.logarithmic ? (std::log10(v) - std::log10(h.low)) / h.width : (v - h.low) / h.width;
        QVERIFY2(std::abs(x->endValue(label) - (at - 0.5)) < 1e-9, qPrintable(label));
      }
    };
    checkAxis(h);
    dialog.logarithmicBox()->click();
    const Histogram logH = MakeHistogram(summary.delayDamages, 30, true);
    QVERIFY(logH.logarithmic && logH.low > 0.0);
    QCOMPARE(bars->count(), 30);
    for (int b = 0; b < 30; ++b) QCOMPARE(bars->at(b), static_cast<qreal>(logH.counts[static_cast<std::size_t>(b)]));
    const auto positive = std::count_if(summary.delayDamages.begin(), summary.delayDamages.end(),
                                        [](double v) { return v > 0.0; });
    QCOMPARE(std::accumulate(logH.counts.begin(), logH.counts.end(), std::uint64_t{0}),
             static_cast<std::uint64_t>(positive));
    QCOMPARE(logH.edge(1), std::pow(10.0, std::log10(logH.low) + logH.width));
    checkAxis(logH);
    dialog.logarithmicBox()->click();

    // The picture, directly and through the button (".png" added).
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QVERIFY(dialog.saveHistogramPng(path("direct.png")));
    files.answers = {path("chosen")};
    QTest::mouseClick(dialog.findChild<QPushButton*>(QStringLiteral("saveButton")), Qt::LeftButton);
    QCOMPARE(files.calls.size(), std::size_t{1});
    QCOMPARE(files.calls[0].folder, dir_.path());
    for (const char* name : {"direct.png", "chosen.png"}) {
      const QImage image(path(name), "PNG");
      QVERIFY2(!image.isNull() && image.width() > 100 && image.height() > 100, name);
    }
    CheckKeyboard(dialog);
  }

  void histogramOfNoneOneAndEqualValues() {
    BatchSummary summary;
    summary.dataLines = summary.rowRejected = 2;
    BatchSummaryDialog dialog;
    dialog.showSummary(summary);
    QCOMPARE(dialog.histogramBars()->count(), 0);
    QVERIFY(dialog.histogramNote()->isVisibleTo(&dialog));
    QVERIFY(!dialog.findChild<QPushButton*>(QStringLiteral("saveButton"))->isEnabled());
    QCOMPARE(dialog.figuresTable()->item(3, 2)->text(), QStringLiteral("-"));

    summary.computed = 3;
    summary.delayDamages = {0.25, 0.25, 0.25};
    summary.columns[3] = {3, 0.75, 0.25, 0.25, 0.25};
    dialog.showSummary(summary);
    QCOMPARE(dialog.histogramBars()->count(), 1);
    QCOMPARE(dialog.histogramBars()->at(0), 3.0);
    QVERIFY(!dialog.histogramNote()->isVisibleTo(&dialog));

    // A value on an edge starts the bin the edge starts, as the tool tips
    // give the bins; the greatest value ends the last one.
    const Histogram edges = MakeHistogram({0.1, 0.7});
    const Histogram h = MakeHistogram({0.1, 0.7, edges.edge(29), std::nextafter(edges.edge(29), 0.0), edges.edge(7),
                                       std::nextafter(edges.edge(7), 1.0), std::nextafter(edges.edge(7), 0.0)});
    QCOMPARE(h.counts.size(), std::size_t{30});
    const std::vector<std::uint64_t> expected = {1, 0, 0, 0, 0, 0, 1, 2, 0, 0, 0, 0, 0, 0, 0,
                                                 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 2};
    QCOMPARE(h.counts, expected);
  }
};

QTEST_MAIN(ChartDialogsTest)
#include "chart_dialogs_test.moc"
