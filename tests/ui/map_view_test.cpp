// 表示 → 地図: the cells a window batch gathers (against the result file),
// the quantile classes, the point-to-cell lookup at the cells' edges, and a
// click that opens 計算過程 for the cell's line.
#include <QApplication>
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QtTest>
#include <charconv>
#include <string>

#include "../hostile/run_program.h"
#include "core/number_text.h"
#include "ui/explain_dialog.h"
#include "ui/map_view.h"
#include "ui_fixture.h"

using namespace velmora;
using namespace velmora::test;

namespace {

const QByteArray kMeshTitle = "\x83\x81\x83\x62\x83\x56\x83\x85";  // メッシュ in CP932

double Number(const QByteArray& text) {
  double value = 0.0;
  const auto r = std::from_chars(text.data(), text.data() + text.size(), value);
  return r.ec == std::errc() && r.ptr == text.data() + text.size() ? value : -1e300;
}

// A 3rd-order code for household i: 100 cells in each of the 2nd-order
// meshes 533944 to 533967.
QByteArray CodeOf(int i) {
  return QByteArray("5339") + char('4' + i / 400) + char('4' + i / 100 % 4) + char('0' + i % 100 / 10) +
         char('0' + i % 10);
}

// 1,100 households keyed by the tenth field (the ninth holds notes): one the
// row check refuses, two computed past the first 1,000 lines without a mesh
// code (a 7-digit code, an empty field) and one in a cell already used.
QByteArray MeshInput(double houseDamageOfLine57 = 0.0) {
  QByteArray text = "h1,h2,h3,h4,h5,h6,h7,h8,note," + kMeshTitle + ",more\r\n";
  for (int i = 0; i < 1100; ++i) {
    const int line = i + 2;
    QByteArray house = QByteArray::number(2 + i % 37 * 0.25, 'f', 3);
    if (line == 57 && houseDamageOfLine57 != 0.0) house = QByteArray::number(houseDamageOfLine57, 'f', 3);
    if (i == 3) house = "x";
    QByteArray code = CodeOf(i);
    if (line == 1051) code = "5339461";
    if (line == 1061) code = "";
    if (line == 1072) code = " " + CodeOf(5) + " ";
    text += house + ',' + QByteArray::number(1 + i % 13 * 0.5, 'f', 2) + ",4.81,3.57,7.416,14.759,22.616,3.321,n" +
            QByteArray::number(i) + ',' + code + ",x\r\n";
  }
  return text;
}

MapCells HandMadeCells(const std::vector<std::string>& codes) {
  MapCells m;
  m.mode = Mode::WithoutRiskPremium;
  for (std::size_t i = 0; i < codes.size(); ++i) {
    const MeshCell c = *ParseMeshCode(codes[i]);
    m.cells.push_back({c.south, c.west, static_cast<std::uint32_t>(i + 2), c.order});
    m.values[3].push_back(static_cast<double>(i + 1));
  }
  return m;
}

}  // namespace

class MapViewTest : public QObject {
  Q_OBJECT
  QTemporaryDir settingsDir_;
  QTemporaryDir files_;
  std::unique_ptr<RecordingReporter> reporter_;
  std::unique_ptr<ScriptedDialogs> dialogs_;
  std::unique_ptr<frmMain> w_;
  std::unique_ptr<ModalGuard> guard_;

  QAction* action(const char* name) { return w_->findChild<QAction*>(QString::fromLatin1(name)); }
  QPushButton* button(const char* name) { return w_->findChild<QPushButton*>(QString::fromLatin1(name)); }
  void runBatch(const QString& in, const QString& out) {
    dialogs_->answers = {in, out};
    QTest::mouseClick(button("cmdSelInFile"), Qt::LeftButton);
    QTest::mouseClick(button("cmdSelOutFile"), Qt::LeftButton);
    QTest::mouseClick(button("cmdExecAll"), Qt::LeftButton);
    WaitForBatch(*w_);
    QCOMPARE(MessageTexts(*reporter_), QStringList{QStringLiteral("一括計算の結果を出力ファイルに書き込みました")});
    reporter_->messages.clear();
  }

 private slots:
  void initTestCase() {
    QVERIFY(settingsDir_.isValid());
    QVERIFY(files_.isValid());
    UseSettingsFolder(settingsDir_);
  }
  void init() {
    ClearStore();
    reporter_ = std::make_unique<RecordingReporter>();
    dialogs_ = std::make_unique<ScriptedDialogs>();
    w_ = std::make_unique<frmMain>(reporter_.get(), dialogs_.get());
    w_->show();
    QVERIFY(QTest::qWaitForWindowExposed(w_.get()));
    guard_ = std::make_unique<ModalGuard>();
  }
  void cleanup() {
    if (guard_) QVERIFY2(guard_->seen.isEmpty(), qPrintable(guard_->seen.join(QLatin1Char(','))));
    w_.reset();
  }

  // A window batch over an input with a mesh column: each computed line with
  // a code is a cell at that code, holding the result file's four values;
  // the view names the field and the lines left out; a click on a cell opens
  // 計算過程 for its line, and refuses once the input has changed; a later
  // run without a mesh column takes the map away.
  void windowBatchMapsItsLines() {
    const QString in = files_.filePath(QStringLiteral("mesh.csv"));
    const QString out = files_.filePath(QStringLiteral("mesh-out.csv"));
    QFile f(in);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(MeshInput());
    f.close();
    QVERIFY(!action("menMap")->isEnabled());
    runBatch(in, out);

    const std::shared_ptr<const MapCells> map = w_->lastMap();
    QVERIFY(map != nullptr);
    QCOMPARE(map->column.field, std::size_t(9));
    QCOMPARE(QString::fromStdString(map->column.title), QStringLiteral("メッシュ"));
    QCOMPARE(map->cells.size(), std::size_t(1097));
    QCOMPARE(map->withoutCell, std::uint64_t(2));
    QCOMPARE(map->firstWithoutCell, std::uint64_t(1051));
    QFile result(out);
    QVERIFY(result.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = result.readAll().split('\n');
    const QList<QByteArray> inputLines = MeshInput().split('\n');
    const MapModel model(map);
    for (std::size_t i = 0; i < map->cells.size(); ++i) {
      const std::uint32_t line = map->cells[i].line;
      const QList<QByteArray> fields = lines[line - 1].trimmed().split(',');
      QCOMPARE(fields.size(), 12);
      for (std::size_t c = 0; c < 4; ++c) QCOMPARE(map->values[c][i], Number(fields[8 + static_cast<int>(c)]));
      QCOMPARE(QByteArray::fromStdString(model.meshCell(i).text()), inputLines[line - 1].split(',')[9].trimmed());
    }
    // Two lines in one cell: the later one is seen there.
    std::size_t later = 0;
    while (map->cells[later].line != 1072) ++later;
    QCOMPARE(model.cellAt(map->cells[later].south, map->cells[later].west), std::optional<std::size_t>(later));
    QCOMPARE(model.linesInCell(later), std::size_t(2));
    QCOMPARE(model.linesInCell(0), std::size_t(1));

    // 地図ファイルに保存 writes what velmora-batch --map writes for that input.
    {
      MapView saving(*reporter_, *dialogs_);
      saving.showCells(map);
      const QString mine = files_.filePath(QStringLiteral("window.geojson"));
      QVERIFY(saving.saveMapFile(mine));
      QCOMPARE(MessageTexts(*reporter_),
               QStringList{QStringLiteral("地図ファイルに書き込みました：セル 1097、計算できない行 1、メッシュのない行 2（最初は 1051行目）")});
      reporter_->messages.clear();
      // The same name (it names the layer), in a folder of its own.
      QVERIFY(QDir(files_.path()).mkpath(QStringLiteral("tool")));
      const QString tools = files_.filePath(QStringLiteral("tool/window.geojson"));
      const RunResult tool =
          RunProgram(VELMORA_BATCH_TOOL, {"--gap-table", w_->gapTableFile().string(), "--map", tools.toStdString(),
                                          in.toStdString(), files_.filePath(QStringLiteral("tool.csv")).toStdString()});
      QVERIFY2(tool.exited && tool.exitCode == 0, tool.err.c_str());
      QFile a(mine), b(tools);
      QVERIFY(a.open(QIODevice::ReadOnly) && b.open(QIODevice::ReadOnly));
      const QByteArray written = a.readAll();
      QVERIFY(written.size() > 100000);
      QCOMPARE(written, b.readAll());
    }

    QVERIFY(action("menMap")->isEnabled());
    action("menMap")->trigger();
    MapView* view = nullptr;  // a window of its own, not a child of the main window
    for (QWidget* top : QApplication::topLevelWidgets()) {
      if (auto* found = qobject_cast<MapView*>(top)) view = found;
    }
    QVERIFY(view && view->isVisible() && view->isWindow());
    const QString source = view->findChild<QLabel*>(QStringLiteral("mapSource"))->text();
    QVERIFY2(source.contains(QStringLiteral("10列目「メッシュ」（3次メッシュ）")), qPrintable(source));
    QVERIFY2(source.contains(QStringLiteral("2 行（最初は 1051 行目）")), qPrintable(source));
    QVERIFY(view->canvas()->legendText().startsWith(QStringLiteral("凡例：流動性制約に伴う復旧遅延被害額（百万円）\n")));

    // Line 57 is household 55, at 53394455.
    std::size_t index = 0;
    while (map->cells[index].line != 57) ++index;
    QCOMPARE(QString::fromStdString(model.meshCell(index).text()), QStringLiteral("53394455"));
    const MapCell& cell = map->cells[index];
    MapCanvas* canvas = view->canvas();
    const QPoint middle = canvas
                              ->toPixel(cell.south + MeshCellHeight(cell.order) / 2.0,
                                        cell.west + MeshCellWidth(cell.order) / 2.0)
                              .toPoint();
    QTest::mouseMove(canvas, middle);
    const QString pointed = view->findChild<QLabel*>(QStringLiteral("mapPointed"))->text();
    QVERIFY2(pointed.startsWith(QStringLiteral("メッシュコード 53394455（3次メッシュ）、57 行目")), qPrintable(pointed));
    QVERIFY2(pointed.contains(QStringLiteral("流動性制約に伴う復旧遅延被害額 ") + QString::fromLatin1(lines[56].split(',')[11].trimmed())),
             qPrintable(pointed));
    QTest::mouseClick(canvas, Qt::LeftButton, {}, middle);
    ExplainDialog* explain = view->explainDialog();
    QVERIFY(explain && explain->isVisible());
    QVERIFY2(explain->windowTitle().contains(QStringLiteral("57 行目")), qPrintable(explain->windowTitle()));
    const QList<QByteArray> fields = lines[56].trimmed().split(',');
    const ModelResult& r = explain->explanation().results;
    QCOMPARE(QByteArray::fromStdString(FormatBatchNumber(r.PreferenceFactor)), fields[8]);
    QCOMPARE(QByteArray::fromStdString(FormatBatchNumber(r.DelayDamage)), fields[11]);
    QCOMPARE(explain->explanation().household.HouseDamage, std::stof(fields[0].toStdString()));
    explain->close();

    // The input changed since the run: no explanation of another household.
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(MeshInput(9.5));
    f.close();
    QTest::mouseClick(canvas, Qt::LeftButton, {}, middle);
    QVERIFY(!explain->isVisible());
    QCOMPARE(reporter_->messages.size(), std::size_t(1));
    QVERIFY(reporter_->messages[0].isError);
    QVERIFY(QString::fromStdString(reporter_->messages[0].text).contains(QStringLiteral("57 行目")));
    reporter_->messages.clear();

    // A drag pans and opens nothing.
    const double zoom = canvas->zoom();
    QTest::mousePress(canvas, Qt::LeftButton, {}, middle);
    QTest::mouseMove(canvas, middle + QPoint(40, 10));
    QTest::mouseRelease(canvas, Qt::LeftButton, {}, middle + QPoint(40, 10));
    QVERIFY(!explain->isVisible());
    QCOMPARE(canvas->cellAt(middle + QPoint(40, 10)), std::optional<std::size_t>(index));
    QCOMPARE(canvas->zoom(), zoom);

    // Without the risk premium: the delay damage alone, and its 計算過程
    // with the insurance rate the run used.
    w_->findChild<QCheckBox*>(QStringLiteral("chkRP"))->setChecked(false);
    Box(*w_, "txtC1")->setText(QStringLiteral("0.3"));
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(MeshInput());
    f.close();
    runBatch(in, out);
    QCOMPARE(view->findChild<QComboBox*>(QStringLiteral("mapResult"))->count(), 1);
    QVERIFY(w_->lastMap()->values[0].empty() && w_->lastMap()->values[3].size() == 1097);
    result.close();
    QVERIFY(result.open(QIODevice::ReadOnly));
    const QList<QByteArray> withoutPremium = result.readAll().split('\n');
    // The new run's map is shown whole again: line 57's cell is elsewhere.
    const QPoint again = canvas
                             ->toPixel(cell.south + MeshCellHeight(cell.order) / 2.0,
                                       cell.west + MeshCellWidth(cell.order) / 2.0)
                             .toPoint();
    QTest::mouseClick(canvas, Qt::LeftButton, {}, again);
    QVERIFY(explain->isVisible());
    QVERIFY(explain->windowTitle().contains(QStringLiteral("57 行目")));
    QCOMPARE(explain->explanation().mode, Mode::WithoutRiskPremium);
    QCOMPARE(explain->explanation().settings.InsuranceRate, 0.3f);
    QCOMPARE(QByteArray::fromStdString(FormatBatchNumber(explain->explanation().results.DelayDamage)),
             withoutPremium[56].trimmed().split(',')[11]);
    explain->close();

    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("a,b,c,d,e,f,g,h,note\r\n9.725,7.380,4.810,3.570,7.416,14.759,22.616,3.321,533946\r\n");
    f.close();
    QVERIFY(f.rename(files_.filePath(QStringLiteral("plain.csv"))));
    runBatch(files_.filePath(QStringLiteral("plain.csv")), out);
    QVERIFY(w_->lastMap() != nullptr);  // one 2nd-order code: a map of one cell
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("a,b,c,d,e,f,g,h,note\r\n9.725,7.380,4.810,3.570,7.416,14.759,22.616,3.321,abc\r\n");
    f.close();
    runBatch(files_.filePath(QStringLiteral("plain.csv")), out);
    QVERIFY(w_->lastMap() == nullptr);
    QVERIFY(!action("menMap")->isEnabled());
    QVERIFY(!view->isVisible());
  }

  // Nearest-rank quantiles; equal limits merge classes; a value equal to a
  // limit belongs to the class below it. The legend says the same.
  void quantileClasses() {
    MapClasses c = QuantileClasses({7, 3, 10, 1, 9, 2, 5, 8, 4, 6});
    QCOMPARE(c.low, 1.0);
    QCOMPARE(c.upper, (std::vector<double>{2, 4, 6, 8, 10}));
    QCOMPARE(c.counts, (std::vector<std::uint64_t>{2, 2, 2, 2, 2}));
    QCOMPARE(c.classOf(4.0), std::size_t(1));
    QCOMPARE(c.classOf(4.000001), std::size_t(2));
    c = QuantileClasses({1, 1, 3, 1, 1, 1, 1, 2, 1, 1});
    QCOMPARE(c.upper, (std::vector<double>{1, 3}));
    QCOMPARE(c.counts, (std::vector<std::uint64_t>{8, 2}));
    c = QuantileClasses({9, 5, 7});
    QCOMPARE(c.upper, (std::vector<double>{5, 7, 9}));
    QCOMPARE(c.counts, (std::vector<std::uint64_t>{1, 1, 1}));
    // 100 values 0.5 .. 50: each class a fifth.
    std::vector<double> hundred;
    for (int i = 100; i >= 1; --i) hundred.push_back(i * 0.5);
    c = QuantileClasses(hundred);
    QCOMPARE(c.upper, (std::vector<double>{10, 20, 30, 40, 50}));

    auto cells = std::make_shared<MapCells>(HandMadeCells({"53394611", "53394612", "53394613", "53394614", "53394615"}));
    cells->values[3] = {0.0001234567, 2e-7, 3.5, 12, 12};
    MapModel model(cells);
    MapCanvas canvas;
    canvas.setModel(&model);
    QCOMPARE(canvas.legendText(), QStringLiteral("凡例：流動性制約に伴う復旧遅延被害額（百万円）\n"
                                                 "2E-07 ～ 2E-07　1 件\n"
                                                 "2E-07 超 ～ 0.0001234567　1 件\n"
                                                 "0.0001234567 超 ～ 3.5　1 件\n"
                                                 "3.5 超 ～ 12　2 件"));
  }

  // The cell under a point, by the model in mesh units and by the drawn map
  // in pixels: a cell holds its south and west edges, not its north and east
  // ones; a finer cell is found over the coarser one it lies in.
  void pointToCellAtTheEdges() {
    auto cells = std::make_shared<MapCells>(HandMadeCells({"53394610", "53394611", "533945", "5339450012"}));
    const MapModel model(cells);
    QCOMPARE(model.layers().size(), std::size_t(3));
    const MeshCell a = *ParseMeshCode("53394610");
    const std::int32_t h = a.height(), w = a.width();
    QCOMPARE(model.cellAt(a.south, a.west), std::optional<std::size_t>(0));
    QCOMPARE(model.cellAt(a.south + h - 1, a.west + w - 1), std::optional<std::size_t>(0));
    QCOMPARE(model.cellAt(a.south, a.west + w), std::optional<std::size_t>(1));  // 53394611
    QCOMPARE(model.cellAt(a.south + h, a.west), std::nullopt);                    // 53394620: none
    QCOMPARE(model.cellAt(a.south - 1, a.west), std::nullopt);
    QCOMPARE(model.cellAt(a.south, a.west - 1), std::optional<std::size_t>(2));  // 533945 ends at 139°45′
    const MeshCell q = *ParseMeshCode("5339450012");
    QCOMPARE(model.cellAt(q.south, q.west), std::optional<std::size_t>(3));
    QCOMPARE(model.cellAt(q.south + q.height(), q.west), std::optional<std::size_t>(2));
    QCOMPARE(model.cellAt(q.south, q.west - 1), std::optional<std::size_t>(2));
    QCOMPARE(model.meshCell(3).text(), std::string("5339450012"));

    MapCanvas canvas;
    canvas.resize(800, 600);
    canvas.setModel(&model);
    const double y = canvas.toPixel(a.south + h / 2.0, a.west).y();
    const double west = canvas.toPixel(a.south, a.west).x();
    const double east = canvas.toPixel(a.south, a.west + w).x();
    QVERIFY(east - west > 20);  // the fitted view shows the cell many pixels wide
    QCOMPARE(canvas.cellAt(QPointF(west + 0.25, y)), std::optional<std::size_t>(0));
    QCOMPARE(canvas.cellAt(QPointF(west - 0.25, y)), std::optional<std::size_t>(2));
    QCOMPARE(canvas.cellAt(QPointF(east - 0.25, y)), std::optional<std::size_t>(0));
    QCOMPARE(canvas.cellAt(QPointF(east + 0.25, y)), std::optional<std::size_t>(1));
    const double north = canvas.toPixel(a.south + h, a.west).y();
    QCOMPARE(canvas.cellAt(QPointF((west + east) / 2, north + 0.25)), std::optional<std::size_t>(0));
    QCOMPARE(canvas.cellAt(QPointF((west + east) / 2, north - 0.25)), std::nullopt);
    // The keys move the map under the cross and zoom about it.
    canvas.show();
    QVERIFY(QTest::qWaitForWindowExposed(&canvas));
    const QPointF middle(canvas.width() / 2.0, canvas.height() / 2.0);
    const QPointF before = canvas.toMesh(middle);
    QTest::keyClick(&canvas, Qt::Key_Plus);
    QCOMPARE(canvas.toMesh(middle), before);
    QTest::keyClick(&canvas, Qt::Key_Left);
    QVERIFY(canvas.toMesh(middle).y() < before.y());
  }
};

QTEST_MAIN(MapViewTest)
#include "map_view_test.moc"
