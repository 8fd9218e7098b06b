// The batch command from the window: the run end to end, the live window
// during a long run, and a close in the middle of one.
#include <QCheckBox>
#include <QFile>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QtTest>
#include <algorithm>
#include <string>

#include "../hostile/run_program.h"
#include "ui_fixture.h"

using namespace velmora;
using namespace velmora::test;

namespace {

const QString kCompleted = QStringLiteral("一括計算の結果を出力ファイルに書き込みました");
const QByteArray kDefaultRow = "9.725,7.380,4.810,3.570,7.416,14.759,22.616,3.321";

QByteArray ReadAll(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("(missing)");
}

void WriteFile(const QString& path, const QByteArray& bytes) {
  QFile f(path);
  QVERIFY(f.open(QIODevice::WriteOnly));
  f.write(bytes);
}

// Enough lines that a run lasts long enough to be seen working.
QByteArray LongInput(int lines) {
  QByteArray text = "a,b,c,d,e,f,g,h\r\n";
  text.reserve(lines * 52);
  for (int i = 0; i < lines; ++i) text += kDefaultRow + "\r\n";
  return text;
}

// Households of many shapes and values: with and without
// the eighth field, lines the model cannot compute, extra fields, CP932 and
// UTF-8 text, and CR LF, LF and CR line ends. In the mode with the risk
// premium every line has the eight fields that mode needs.
QByteArray MixedInput(int lines, bool withPremium) {
  QByteArray text = "\x89\xc6\x89\xae\x94\xed\x8a\x51,b,c,d,e,f,g,h\r\n";
  const char* ends[] = {"\r\n", "\n", "\r"};
  for (int i = 0; i < lines; ++i) {
    const double x = i % 1000 / 100.0;
    QByteArray line = QByteArray::number(1 + x, 'f', 3) + ',' + QByteArray::number(7.38 - x / 2, 'f', 2) + ",4.81," +
                      QByteArray::number(3.57 + x, 'g', 6) + ",7.416," + QByteArray::number(14.759 - x, 'f', 3) +
                      ",22.616";
    switch (i % 7) {
      case 0: line += ",3.321"; break;
      case 1: line += withPremium ? ",1e-3" : ""; break;  // seven fields where the mode allows
      case 2: line += ",x,\x93\x8c\x8b\x9e,\xe6\x9d\xb1"; break;  // not a number; CP932; UTF-8
      case 3: line = "0,0,4.81,3.57,7.416,0,0,1"; break;  // goods value + house price 0
      case 4: line += ", 2.5 ,extra"; break;
      case 5: line = " -9.725,7.380,-4.810,3.570,7.416,14.759,22.616,-3.321"; break;
      default: line += ",3.321,,,,,"; break;
    }
    text += line + ends[i % 3];
  }
  return text;
}

QString Join(const QList<int>& values) {
  QStringList texts;
  for (int v : values) texts << QString::number(v);
  return texts.join(QLatin1Char(' '));
}

// Where two files part, for the failure message.
QString FirstDifference(const QByteArray& a, const QByteArray& b) {
  qsizetype i = 0;
  while (i < a.size() && i < b.size() && a[i] == b[i]) ++i;
  const qsizetype from = qMax<qsizetype>(0, i - 60);
  return QStringLiteral("sizes %1 and %2, first difference at %3:\n%4\n%5")
      .arg(a.size())
      .arg(b.size())
      .arg(i)
      .arg(QString::fromLatin1(a.mid(from, 120)), QString::fromLatin1(b.mid(from, 120)));
}

struct Snapshot {
  bool taken = false;
  bool running = false, progressVisible = false, waitCursor = false, stopShown = false;
  QString barText;
  bool execEnabled = true, execAllEnabled = true, selInEnabled = true, selOutEnabled = true, resetEnabled = true;
  bool windowResponds = false;
  QString afterAltKeys;  // txtU2 after Alt+A, Alt+E, Alt+I and Alt+X
};

}  // namespace

class BatchWindowTest : public QObject {
  Q_OBJECT
  QTemporaryDir settingsDir_;
  QTemporaryDir files_;
  std::unique_ptr<RecordingReporter> reporter_;
  std::unique_ptr<ScriptedDialogs> dialogs_;
  std::unique_ptr<frmMain> w_;
  std::unique_ptr<ModalGuard> guard_;

  QPushButton* button(const char* name) { return w_->findChild<QPushButton*>(QString::fromLatin1(name)); }
  void choose(const QString& in, const QString& out) {
    dialogs_->answers = {in, out};
    QTest::mouseClick(button("cmdSelInFile"), Qt::LeftButton);
    QTest::mouseClick(button("cmdSelOutFile"), Qt::LeftButton);
  }
  Snapshot snapshot() {
    Snapshot s;
    s.taken = true;
    s.running = w_->isBatchRunning();
    s.progressVisible = w_->findChild<QProgressBar*>(QStringLiteral("prgBatch"))->isVisible();
    s.waitCursor = QApplication::overrideCursor() && QApplication::overrideCursor()->shape() == Qt::BusyCursor;
    auto* stop = button("cmdCancelAll");
    s.stopShown = stop->isVisible() && stop->isEnabled();
    s.barText = w_->findChild<QProgressBar*>(QStringLiteral("prgBatch"))->text();
    s.execEnabled = button("cmdExec")->isEnabled();
    s.execAllEnabled = button("cmdExecAll")->isEnabled();
    s.selInEnabled = button("cmdSelInFile")->isEnabled();
    s.selOutEnabled = button("cmdSelOutFile")->isEnabled();
    s.resetEnabled = w_->findChild<QAction*>(QStringLiteral("menInitValue"))->isEnabled();
    return s;
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
    QVERIFY(!QApplication::overrideCursor());
    w_.reset();
  }

  void runWritesTheResultFileInBothModes() {
    const QString in = files_.filePath(QStringLiteral("in.csv"));
    const QString out = files_.filePath(QStringLiteral("out"));
    WriteFile(in, "h1,h2,h3,h4,h5,h6,h7,h8\r\n" + kDefaultRow + "\r\n9.725,7.380,4.810,3.570,7.416,0,0,1\r\n");
    choose(in, out);
    QCOMPARE(Box(*w_, "txtOutFile")->text(), out + QStringLiteral(".csv"));
    QTest::mouseClick(button("cmdExecAll"), Qt::LeftButton);
    WaitForBatch(*w_);
    QCOMPARE(MessageTexts(*reporter_), QStringList{kCompleted});
    QVERIFY(!reporter_->messages[0].isError);
    QList<QByteArray> lines = ReadAll(out + QStringLiteral(".csv")).split('\n');
    QCOMPARE(lines.size(), 4);
    QCOMPARE(lines[1], kDefaultRow + ",0.3940527,1.342743,0.6642039,0.0002392535\r");
    QCOMPARE(lines[2], QByteArray("9.725,7.380,4.810,3.570,7.416,0,0,1,,,,\r"));
    QVERIFY(lines[3].isEmpty());

    reporter_->messages.clear();
    w_->findChild<QCheckBox*>(QStringLiteral("chkRP"))->setChecked(false);
    QTest::mouseClick(button("cmdExecAll"), Qt::LeftButton);
    WaitForBatch(*w_);
    QCOMPARE(MessageTexts(*reporter_), QStringList{kCompleted});
    lines = ReadAll(out + QStringLiteral(".csv")).split('\n');
    QCOMPARE(lines[1], kDefaultRow + ",,,,0.1422826\r");
    QCOMPARE(w_->riskPremiumMode(), Mode::WithoutRiskPremium);
  }

  void failingChecksStopTheCommand() {
    // No files chosen: the engine's own message, no completion note.
    QTest::mouseClick(button("cmdExecAll"), Qt::LeftButton);
    WaitForBatch(*w_);
    QCOMPARE(reporter_->messages.size(), std::size_t(1));
    QVERIFY(reporter_->messages[0].isError);
    reporter_->messages.clear();
    // The common settings are checked from the boxes' texts.
    const QString in = files_.filePath(QStringLiteral("in2.csv"));
    WriteFile(in, "h\r\n" + kDefaultRow + "\r\n");
    choose(in, files_.filePath(QStringLiteral("out2.csv")));
    Box(*w_, "txtC4")->setText(QStringLiteral("0"));
    QTest::mouseClick(button("cmdExecAll"), Qt::LeftButton);
    WaitForBatch(*w_);
    QCOMPARE(MessageTexts(*reporter_), QStringList{QStringLiteral("マークアップ率に「0」は指定できません")});
    QVERIFY(!QFile::exists(files_.filePath(QStringLiteral("out2.csv"))));
    QVERIFY(button("cmdExec")->isEnabled());
  }

  // During a long run the window answers at once: a timer keeps firing, a
  // click on the check box switches the boxes while the run goes on (the run
  // keeps the mode and settings it started with), the progress bar only moves
  // on, and the commands that would disturb the run are refused.
  void windowStaysLiveDuringARun() {
    const QString in = files_.filePath(QStringLiteral("long.csv"));
    const QString out = files_.filePath(QStringLiteral("long-out.csv"));
    WriteFile(in, LongInput(400000));
    choose(in, out);
    auto* bar = w_->findChild<QProgressBar*>(QStringLiteral("prgBatch"));
    auto* chkRP = w_->findChild<QCheckBox*>(QStringLiteral("chkRP"));
    Snapshot during;
    int ticksDuringRun = 0;
    bool switchedDuringRun = false;
    QList<int> barValues;
    QTimer ticker;
    ticker.setInterval(5);
    connect(&ticker, &QTimer::timeout, [&] {
      if (!w_->isBatchRunning()) return;
      ++ticksDuringRun;
      barValues << bar->value();
      if (ticksDuringRun == 1) {
        during = snapshot();
        // The access keys of the disabled buttons type nothing either.
        QLineEdit* u2 = Box(*w_, "txtU2");
        u2->setFocus();
        for (Qt::Key key : {Qt::Key_A, Qt::Key_E, Qt::Key_I, Qt::Key_X}) QTest::keyClick(u2, key, Qt::AltModifier);
        during.afterAltKeys = u2->text();
      }
      if (ticksDuringRun == 3) {
        Box(*w_, "txtC3")->setText(QStringLiteral("0.5"));
        QTest::mouseClick(chkRP, Qt::LeftButton, {}, QPoint(8, chkRP->height() / 2));
        switchedDuringRun = !chkRP->isChecked() && Box(*w_, "txtC1")->isEnabled() && w_->isBatchRunning();
      }
    });
    ticker.start();
    QTest::mouseClick(button("cmdExecAll"), Qt::LeftButton);
    WaitForBatch(*w_);
    ticker.stop();
    qInfo("during the run: %d timer ticks, bar at %s", ticksDuringRun, qPrintable(Join(barValues)));
    QCOMPARE(MessageTexts(*reporter_), QStringList{kCompleted});
    QVERIFY2(ticksDuringRun >= 5, qPrintable(QString::number(ticksDuringRun)));
    QVERIFY(during.running && during.progressVisible && during.waitCursor && during.stopShown);
    QVERIFY2(QRegularExpression(QStringLiteral("^[0-9]{1,3}%")).match(during.barText).hasMatch(),
             qPrintable(during.barText));
    QVERIFY(!during.execEnabled && !during.execAllEnabled && !during.selInEnabled && !during.selOutEnabled &&
            !during.resetEnabled);
    QCOMPARE(during.afterAltKeys, QStringLiteral("9.725"));
    QVERIFY(switchedDuringRun);
    const Snapshot after = snapshot();
    QVERIFY(!after.running && !after.progressVisible && !after.waitCursor && !after.stopShown);
    QVERIFY(after.execEnabled && after.execAllEnabled && after.selInEnabled && after.selOutEnabled &&
            after.resetEnabled);
    // The bar moved on, and never back.
    QVERIFY2(std::is_sorted(barValues.begin(), barValues.end()), qPrintable(Join(barValues)));
    QVERIFY2(QSet<int>(barValues.begin(), barValues.end()).size() >= 3, qPrintable(Join(barValues)));
    QVERIFY2(barValues.last() > bar->maximum() / 2, qPrintable(Join(barValues)));
    // Every line in the mode and with the settings the run started with.
    const QByteArray result = ReadAll(out);
    QCOMPARE(result.count('\n'), 400001);
    QCOMPARE(result.count(kDefaultRow + ",0.3940527,1.342743,0.6642039,0.0002392535\r\n"), 400000);
    QCOMPARE(w_->riskPremiumMode(), Mode::WithRiskPremium);
  }

  // 中止 stops a run as a close does: the earlier result stays, nothing of
  // the run is left, and the window says so; the focus goes back to the
  // batch button.
  void stopButtonEndsARunAndKeepsTheEarlierOutput() {
    const QString in = files_.filePath(QStringLiteral("long3.csv"));
    const QString out = files_.filePath(QStringLiteral("kept3.csv"));
    WriteFile(in, LongInput(400000));
    WriteFile(out, "earlier results\r\n");
    choose(in, out);
    const QStringList filesBefore = QDir(files_.path()).entryList(QDir::Files | QDir::Hidden);
    QApplication::setActiveWindow(w_.get());
    QVERIFY(QTest::qWaitForWindowActive(w_.get()));
    auto* stop = button("cmdCancelAll");
    QVERIFY(!stop->isVisible());
    bool stoppedWhileWriting = false;
    QTimer stopper;
    stopper.setInterval(1);
    connect(&stopper, &QTimer::timeout, [&] {
      if (!w_->isBatchRunning()) return;
      if (QDir(files_.path()).entryList({QStringLiteral(".velmora-*")}, QDir::Files | QDir::Hidden).isEmpty()) return;
      stopper.stop();
      // By its access key, as a keyboard user does.
      stoppedWhileWriting = stop->isVisible();
      QTest::keyClick(w_->windowHandle(), Qt::Key_C, Qt::AltModifier);
    });
    stopper.start();
    button("cmdExecAll")->setFocus();
    QTest::keyClick(button("cmdExecAll"), Qt::Key_Space);
    WaitForBatch(*w_);
    stopper.stop();
    QVERIFY(stoppedWhileWriting);
    QCOMPARE(MessageTexts(*reporter_), QStringList{QStringLiteral("一括計算を中止しました。出力ファイルは以前のままです。")});
    QVERIFY(!reporter_->messages[0].isError);
    QCOMPARE(ReadAll(out), QByteArray("earlier results\r\n"));
    QCOMPARE(QDir(files_.path()).entryList(QDir::Files | QDir::Hidden), filesBefore);
    QVERIFY(!stop->isVisible() && !w_->isBatchRunning());
    QCOMPARE(QApplication::focusWidget(), button("cmdExecAll"));
  }

  // The window's batch writes what velmora-batch writes, byte for byte, for
  // the same input and settings: on a file of many blocks, with not
  // computable lines, every line end, CP932 and UTF-8 echo and any number
  // of fields.
  void sameFileAsTheBatchTool_data() {
    QTest::addColumn<bool>("withPremium");
    QTest::newRow("with risk premium") << true;
    QTest::newRow("without risk premium") << false;
  }
  void sameFileAsTheBatchTool() {
    QFETCH(bool, withPremium);
    const QString in = files_.filePath(QStringLiteral("mixed.csv"));
    const QString out = files_.filePath(QStringLiteral("window.csv"));
    const QString tool = files_.filePath(QStringLiteral("tool.csv"));
    WriteFile(in, MixedInput(40000, withPremium));
    choose(in, out);
    const QStringList settings = {QStringLiteral("0.5"), QStringLiteral("0.03"), QStringLiteral("0.05"),
                                  QStringLiteral("2.5")};
    for (int i = 0; i < 4; ++i) Box(*w_, ("txtC" + std::to_string(i + 1)).c_str())->setText(settings[i]);
    w_->findChild<QCheckBox*>(QStringLiteral("chkRP"))->setChecked(withPremium);
    QTest::mouseClick(button("cmdExecAll"), Qt::LeftButton);
    WaitForBatch(*w_);
    QCOMPARE(MessageTexts(*reporter_), QStringList{kCompleted});

    std::vector<std::string> args = {"--insurance-rate",    settings[0].toStdString(),
                                     "--damage-probability", settings[1].toStdString(),
                                     "--interest-rate",      settings[2].toStdString(),
                                     "--markup-rate",        settings[3].toStdString(),
                                     "--gap-table",          w_->gapTableFile().string(),
                                     "--threads",            "1",
                                     in.toStdString(),       tool.toStdString()};
    if (!withPremium) args.insert(args.begin(), "--without-risk-premium");
    const RunResult batch = RunProgram(VELMORA_BATCH_TOOL, args);
    QVERIFY2(batch.exited && batch.exitCode == 0, batch.err.c_str());
    const QByteArray expected = ReadAll(tool);
    QCOMPARE(expected.count('\n'), 40001);
    const QByteArray got = ReadAll(out);
    QVERIFY2(got == expected, qPrintable(FirstDifference(got, expected)));
  }

  // No message box of the command appears while the window is busy: the
  // cursor, the progress bar and the disabled commands are back to normal
  // first. Here with the program's own message boxes.
  void messageBoxesComeAfterTheBusyState() {
    guard_.reset();  // this test answers the boxes itself
    w_ = std::make_unique<frmMain>(nullptr, dialogs_.get());
    w_->show();
    QVERIFY(QTest::qWaitForWindowExposed(w_.get()));
    struct Seen {
      QString text;
      QMessageBox::Icon icon;
      bool busy;
    };
    std::vector<Seen> seen;
    QTimer answer;
    answer.setInterval(10);
    connect(&answer, &QTimer::timeout, [&] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (!box) return;
      const Snapshot s = snapshot();
      seen.push_back({box->text(), box->icon(),
                      s.running || s.progressVisible || QApplication::overrideCursor() || !s.execAllEnabled ||
                          !s.execEnabled || !s.selInEnabled || !s.resetEnabled});
      box->accept();
    });
    answer.start();
    const QString bad = files_.filePath(QStringLiteral("short.csv"));
    const QString good = files_.filePath(QStringLiteral("good.csv"));
    WriteFile(bad, "h\r\n" + kDefaultRow + "\r\n1,2\r\n");
    WriteFile(good, "h\r\n" + kDefaultRow + "\r\n");
    choose(bad, files_.filePath(QStringLiteral("busy-out.csv")));
    QTest::mouseClick(button("cmdExecAll"), Qt::LeftButton);
    WaitForBatch(*w_);
    choose(good, files_.filePath(QStringLiteral("busy-out.csv")));
    QTest::mouseClick(button("cmdExecAll"), Qt::LeftButton);
    WaitForBatch(*w_);
    answer.stop();
    QCOMPARE(seen.size(), std::size_t(2));
    QVERIFY2(seen[0].text.contains(QStringLiteral("3行目")), qPrintable(seen[0].text));
    QCOMPARE(seen[0].icon, QMessageBox::Critical);
    QCOMPARE(seen[1].text, kCompleted);
    QCOMPARE(seen[1].icon, QMessageBox::Information);
    for (const Seen& s : seen) QVERIFY2(!s.busy, qPrintable(s.text));
    guard_ = std::make_unique<ModalGuard>();
  }

  // Closing the window mid-run, while the input is checked or while the
  // result is written: the run stops, the earlier result file stays as it
  // was, nothing of the stopped run is left, the settings are saved, and no
  // message appears.
  void closeDuringARunStopsItCleanly_data() {
    QTest::addColumn<bool>("whileWriting");
    QTest::newRow("while checking") << false;
    QTest::newRow("while writing") << true;
  }
  void closeDuringARunStopsItCleanly() {
    QFETCH(bool, whileWriting);
    const QString in = files_.filePath(QStringLiteral("long2.csv"));
    const QString out = files_.filePath(QStringLiteral("kept.csv"));
    WriteFile(in, LongInput(400000));
    WriteFile(out, "earlier results\r\n");
    choose(in, out);
    const QStringList filesBefore = QDir(files_.path()).entryList(QDir::Files | QDir::Hidden);
    Box(*w_, "txtU2")->setText(QStringLiteral("12.5"));
    QSignalSpy lastClosed(qApp, &QGuiApplication::lastWindowClosed);
    bool closedDuringRun = false;
    bool sawTemporaryFile = false;
    // Closes at once, or as soon as the run's temporary result file shows.
    QTimer closer;
    closer.setInterval(1);
    connect(&closer, &QTimer::timeout, [&] {
      if (!w_->isBatchRunning()) return;
      if (whileWriting) {
        const QStringList hidden = QDir(files_.path()).entryList({QStringLiteral(".velmora-*")}, QDir::Files | QDir::Hidden);
        if (hidden.isEmpty()) return;
        sawTemporaryFile = true;
      }
      closer.stop();
      closedDuringRun = true;
      w_->close();
    });
    // As in the program: the window runs under the application's event loop,
    // which must end by itself once the window is closed.
    QTimer::singleShot(0, [&] {
      closer.start();
      QTest::mouseClick(button("cmdExecAll"), Qt::LeftButton);
    WaitForBatch(*w_);
    });
    bool hung = false;
    QTimer watchdog;
    watchdog.setSingleShot(true);
    connect(&watchdog, &QTimer::timeout, [&hung] {
      hung = true;
      QCoreApplication::exit(3);
    });
    watchdog.start(60000);
    const int code = QApplication::exec();
    watchdog.stop();
    closer.stop();
    QVERIFY(!hung);
    QCOMPARE(code, 0);
    QVERIFY(closedDuringRun);
    QCOMPARE(sawTemporaryFile, whileWriting);
    QVERIFY(!w_->isVisible());
    QVERIFY(!w_->isBatchRunning());
    QCOMPARE(MessageTexts(*reporter_), QStringList());
    QCOMPARE(ReadAll(out), QByteArray("earlier results\r\n"));
    QCOMPARE(Stored(QStringLiteral("txtU2")).toString(), QStringLiteral("12.5"));
    QCOMPARE(lastClosed.count(), 1);  // the program ends with its window
    QCOMPARE(QDir(files_.path()).entryList(QDir::Files | QDir::Hidden), filesBefore);
  }
};

QTEST_MAIN(BatchWindowTest)
#include "batch_window_test.moc"
