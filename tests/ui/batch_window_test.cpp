// The batch command from the window: the run end to end, the live window
// during a long run, and a close in the middle of one.
#include <QCheckBox>
#include <QElapsedTimer>
#include <QFile>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QtTest>

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

// Enough lines that a run takes well over the yield interval.
QByteArray LongInput(int lines) {
  QByteArray text = "a,b,c,d,e,f,g,h\r\n";
  text.reserve(lines * 52);
  for (int i = 0; i < lines; ++i) text += kDefaultRow + "\r\n";
  return text;
}

struct Snapshot {
  bool taken = false;
  bool running = false, progressVisible = false, waitCursor = false;
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
    s.waitCursor = QApplication::overrideCursor() && QApplication::overrideCursor()->shape() == Qt::WaitCursor;
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
    QCOMPARE(MessageTexts(*reporter_), QStringList{kCompleted});
    lines = ReadAll(out + QStringLiteral(".csv")).split('\n');
    QCOMPARE(lines[1], kDefaultRow + ",,,,0.1422826\r");
    QCOMPARE(w_->riskPremiumMode(), Mode::WithoutRiskPremium);
  }

  void failingChecksStopTheCommand() {
    // No files chosen: the engine's own message, no completion note.
    QTest::mouseClick(button("cmdExecAll"), Qt::LeftButton);
    QCOMPARE(reporter_->messages.size(), std::size_t(1));
    QVERIFY(reporter_->messages[0].isError);
    reporter_->messages.clear();
    // The common settings are checked from the boxes' texts.
    const QString in = files_.filePath(QStringLiteral("in2.csv"));
    WriteFile(in, "h\r\n" + kDefaultRow + "\r\n");
    choose(in, files_.filePath(QStringLiteral("out2.csv")));
    Box(*w_, "txtC4")->setText(QStringLiteral("0"));
    QTest::mouseClick(button("cmdExecAll"), Qt::LeftButton);
    QCOMPARE(MessageTexts(*reporter_), QStringList{QStringLiteral("マークアップ率に「0」は指定できません")});
    QVERIFY(!QFile::exists(files_.filePath(QStringLiteral("out2.csv"))));
    QVERIFY(button("cmdExec")->isEnabled());
  }

  // During a long run the window handles events now and then, shows progress
  // and refuses the commands that would disturb the run.
  void windowStaysLiveDuringARun() {
    const QString in = files_.filePath(QStringLiteral("long.csv"));
    const QString out = files_.filePath(QStringLiteral("long-out.csv"));
    WriteFile(in, LongInput(400000));
    choose(in, out);
    Snapshot during;
    int progressAtEnd = -1;
    QTimer::singleShot(0, [&] {
      during = snapshot();
      // The access keys of the disabled buttons type nothing either.
      QLineEdit* u2 = Box(*w_, "txtU2");
      u2->setFocus();
      for (Qt::Key key : {Qt::Key_A, Qt::Key_E, Qt::Key_I, Qt::Key_X}) QTest::keyClick(u2, key, Qt::AltModifier);
      during.afterAltKeys = u2->text();
    });
    // A second snapshot later on shows the bar moved.
    QTimer::singleShot(60, [&] { progressAtEnd = w_->findChild<QProgressBar*>(QStringLiteral("prgBatch"))->value(); });
    QElapsedTimer clock;
    clock.start();
    QTest::mouseClick(button("cmdExecAll"), Qt::LeftButton);
    const qint64 elapsed = clock.elapsed();
    QCOMPARE(MessageTexts(*reporter_), QStringList{kCompleted});
    QVERIFY2(during.taken, "the run never let the window handle its events");
    QVERIFY(during.running && during.progressVisible && during.waitCursor);
    QVERIFY(!during.execEnabled && !during.execAllEnabled && !during.selInEnabled && !during.selOutEnabled &&
            !during.resetEnabled);
    QCOMPARE(during.afterAltKeys, QStringLiteral("9.725"));
    const Snapshot after = snapshot();
    QVERIFY(!after.running && !after.progressVisible && !after.waitCursor);
    QVERIFY(after.execEnabled && after.execAllEnabled && after.selInEnabled && after.selOutEnabled &&
            after.resetEnabled);
    // At most one yield per ~20 ms, however many lines.
    QVERIFY(w_->batchYields() >= 1);
    QVERIFY2(w_->batchYields() <= elapsed / 20 + 1,
             qPrintable(QStringLiteral("%1 yields in %2 ms").arg(w_->batchYields()).arg(elapsed)));
    if (elapsed > 200) QVERIFY2(progressAtEnd > 0, qPrintable(QString::number(progressAtEnd)));
    qInfo("batch of 400000 lines from the window: %lld ms, %d yields", elapsed, w_->batchYields());
    QCOMPARE(ReadAll(out).count('\n'), 400001);
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
    choose(good, files_.filePath(QStringLiteral("busy-out.csv")));
    QTest::mouseClick(button("cmdExecAll"), Qt::LeftButton);
    answer.stop();
    QCOMPARE(seen.size(), std::size_t(2));
    QVERIFY2(seen[0].text.contains(QStringLiteral("3行目")), qPrintable(seen[0].text));
    QCOMPARE(seen[0].icon, QMessageBox::Critical);
    QCOMPARE(seen[1].text, kCompleted);
    QCOMPARE(seen[1].icon, QMessageBox::Information);
    for (const Seen& s : seen) QVERIFY2(!s.busy, qPrintable(s.text));
    guard_ = std::make_unique<ModalGuard>();
  }

  // Closing the window mid-run: the run stops, the earlier result file stays
  // as it was, the settings are saved, and no message appears.
  void closeDuringARunStopsItCleanly() {
    const QString in = files_.filePath(QStringLiteral("long2.csv"));
    const QString out = files_.filePath(QStringLiteral("kept.csv"));
    WriteFile(in, LongInput(400000));
    WriteFile(out, "earlier results\r\n");
    choose(in, out);
    const QStringList filesBefore = QDir(files_.path()).entryList(QDir::Files);
    Box(*w_, "txtU2")->setText(QStringLiteral("12.5"));
    QSignalSpy lastClosed(qApp, &QGuiApplication::lastWindowClosed);
    bool closedDuringRun = false;
    // As in the program: the window runs under the application's event loop,
    // which must end by itself once the window is closed.
    QTimer::singleShot(0, [&] {
      QTimer::singleShot(0, [&] {
        closedDuringRun = w_->isBatchRunning();
        w_->close();
      });
      QTest::mouseClick(button("cmdExecAll"), Qt::LeftButton);
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
    QVERIFY(!hung);
    QCOMPARE(code, 0);
    QVERIFY(closedDuringRun);
    QVERIFY(!w_->isVisible());
    QVERIFY(!w_->isBatchRunning());
    QCOMPARE(MessageTexts(*reporter_), QStringList());
    QCOMPARE(ReadAll(out), QByteArray("earlier results\r\n"));
    QCOMPARE(Stored(QStringLiteral("txtU2")).toString(), QStringLiteral("12.5"));
    QCOMPARE(lastClosed.count(), 1);  // the program ends with its window
    // Nothing of the stopped run is left beside the result file.
    const QStringList left = QDir(files_.path()).entryList(QDir::Files);
    QCOMPARE(left, filesBefore);
  }
};

QTEST_MAIN(BatchWindowTest)
#include "batch_window_test.moc"
