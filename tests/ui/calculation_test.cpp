// The individual calculation, the mode switch, the checks' messages as the
// window shows them, and the file selection buttons.
#include <QAction>
#include <QCheckBox>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QtTest>

#include "core/messages.h"
#include "ui_fixture.h"

using namespace velmora;
using namespace velmora::test;

namespace {

const char* const kResultBoxes[] = {"txtA1", "txtA2", "txtA3", "txtA4"};

QStringList Results(QWidget& w) { return Texts(w, {"txtA1", "txtA2", "txtA3", "txtA4"}); }

}  // namespace

class CalculationTest : public QObject {
  Q_OBJECT
  QTemporaryDir settingsDir_;
  std::unique_ptr<RecordingReporter> reporter_;
  std::unique_ptr<ScriptedDialogs> dialogs_;
  std::unique_ptr<frmMain> w_;
  std::unique_ptr<ModalGuard> guard_;

  QCheckBox* chk() { return w_->findChild<QCheckBox*>(QStringLiteral("chkRP")); }
  void setMode(int mode) { chk()->setChecked(mode == 1); }
  void exec() { QTest::mouseClick(w_->findChild<QPushButton*>(QStringLiteral("cmdExec")), Qt::LeftButton); }

 private slots:
  void initTestCase() {
    QVERIFY(settingsDir_.isValid());
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

  void modeSwitchTogglesTheFiveBoxes() {
    const char* five[] = {"txtC1", "txtC2", "txtC3", "txtC4", "txtU9"};
    QStringList before;
    for (const char* n : five) before << Box(*w_, n)->text();
    QTest::mouseClick(chk(), Qt::LeftButton);  // the user unticks it
    QVERIFY(!chk()->isChecked());
    QVERIFY(Box(*w_, "txtC1")->isEnabled());
    for (const char* n : {"txtC2", "txtC3", "txtC4", "txtU9"}) QVERIFY2(!Box(*w_, n)->isEnabled(), n);
    QTest::keyClick(chk(), Qt::Key_Space);  // and ticks it again by keyboard
    QVERIFY(chk()->isChecked());
    QVERIFY(!Box(*w_, "txtC1")->isEnabled());
    for (const char* n : {"txtC2", "txtC3", "txtC4", "txtU9"}) QVERIFY2(Box(*w_, n)->isEnabled(), n);
    QStringList after;
    for (const char* n : five) after << Box(*w_, n)->text();
    QCOMPARE(after, before);
    for (const char* n : {"txtU2", "txtU8", "txtA1", "txtInFile"}) QVERIFY(Box(*w_, n)->isEnabled());
    QVERIFY(reporter_->messages.empty());
  }

  // The default household with the example gap table, checked against the
  // models' worked examples.
  void defaultHouseholdInBothModes() {
    exec();
    QCOMPARE(MessageTexts(*reporter_), QStringList());
    QCOMPARE(Results(*w_), (QStringList{"0.394", "1.343", "0.664", "0.000"}));
    QCOMPARE(w_->riskPremiumMode(), Mode::WithRiskPremium);
    QCOMPARE(w_->commonSettings().MarkupRate, 3.14f);

    setMode(0);  // a switch alone leaves the results
    QCOMPARE(Results(*w_), (QStringList{"0.394", "1.343", "0.664", "0.000"}));
    exec();
    QCOMPARE(MessageTexts(*reporter_), QStringList());
    QCOMPARE(Results(*w_), (QStringList{"-", "-", "-", "0.142"}));
    QCOMPARE(w_->riskPremiumMode(), Mode::WithoutRiskPremium);
    // Mode 0 stores the insurance rate only: the mode-1 values stay.
    QCOMPARE(w_->commonSettings().InsuranceRate, 0.61f);
    QCOMPARE(w_->commonSettings().MarkupRate, 3.14f);
  }

  // The boxes read and show numbers the way the user's locale writes them.
  void displayUsesTheBoxesDecimalSeparator() {
    w_->setLocale(QLocale(QLocale::German, QLocale::Germany));
    w_->findChild<QAction*>(QStringLiteral("menInitValue"))->trigger();
    QCOMPARE(Box(*w_, "txtC2")->text(), QStringLiteral("0,025"));
    QCOMPARE(Box(*w_, "txtU7")->text(), QStringLiteral("14,759"));
    exec();
    QCOMPARE(MessageTexts(*reporter_), QStringList());
    QCOMPARE(Results(*w_), (QStringList{"0,394", "1,343", "0,664", "0,000"}));
    Box(*w_, "txtU2")->setText(QStringLiteral("9.725"));
    exec();
    QCOMPARE(MessageTexts(*reporter_), QStringList{QString::fromUtf8(msg::kInputValuesInvalid)});
  }

  void checkMessages_data() {
    QTest::addColumn<int>("mode");
    QTest::addColumn<QStringList>("edits");  // box, text, box, text, ...
    QTest::addColumn<QStringList>("messages");
    // Where the focus is once the message is read: the first box the check
    // refused that can take it, else still the button.
    QTest::addColumn<QString>("selected");
    // Which check refuses which texts, and the box it points at, are the
    // form's (tests/form); here the window shows them.
    const QString common = QString::fromUtf8(msg::kCommonSettingsInvalid);
    const QString asset = QString::fromUtf8(msg::kAssetSumZero);
    QTest::newRow("mode 1, empty interest rate") << 1 << QStringList{"txtC3", ""}
                                                 << QStringList{common} << QStringLiteral("txtC3");
    QTest::newRow("mode 0, empty interest rate passes") << 0 << QStringList{"txtC3", ""}
                                                        << QStringList{} << QStringLiteral("cmdExec");
    QTest::newRow("mode 1, disabled insurance rate is tested") << 1 << QStringList{"txtC1", "x"}
                                                                << QStringList{common} << QStringLiteral("cmdExec");
    QTest::newRow("goods 5, house -5") << 1 << QStringList{"txtU7", "5", "txtU8", "-5"}
                                       << QStringList{asset} << QStringLiteral("txtU7");
  }

  void checkMessages() {
    QFETCH(int, mode);
    QFETCH(QStringList, edits);
    QFETCH(QStringList, messages);
    QFETCH(QString, selected);
    setMode(mode);
    for (int i = 0; i + 1 < edits.size(); i += 2) Box(*w_, edits[i].toLatin1().constData())->setText(edits[i + 1]);
    QApplication::setActiveWindow(w_.get());
    QVERIFY(QTest::qWaitForWindowActive(w_.get()));
    exec();
    QCOMPARE(QApplication::focusWidget() ? QApplication::focusWidget()->objectName() : QString(), selected);
    if (auto* box = qobject_cast<QLineEdit*>(QApplication::focusWidget())) QCOMPARE(box->selectedText(), box->text());
    QCOMPARE(MessageTexts(*reporter_), messages);
    for (const auto& m : reporter_->messages) QVERIFY(m.isError);
    // A failed calculation shows nothing; a passing one shows all four boxes.
    for (const char* n : kResultBoxes) QCOMPARE(Box(*w_, n)->text().isEmpty(), !messages.isEmpty());
  }

  void failureKeepsEarlierResults() {
    exec();
    const QStringList shown = Results(*w_);
    QCOMPARE(shown.size(), 4);
    QVERIFY(!shown[0].isEmpty());
    setMode(0);
    Box(*w_, "txtU2")->setText(QStringLiteral("abc"));
    exec();
    QCOMPARE(MessageTexts(*reporter_), QStringList{QString::fromUtf8(msg::kInputValuesInvalid)});
    QCOMPARE(Results(*w_), shown);  // not the "-" of mode 0
    Box(*w_, "txtU2")->setText(QStringLiteral("9.725"));
    Box(*w_, "txtC4")->setText(QStringLiteral("0"));
    exec();
    QCOMPARE(Results(*w_), shown);
  }

  // A household the model cannot compute (no damage at all): the window
  // says so instead of staying silent, and keeps the earlier results.
  void modelFailureIsReported() {
    exec();
    const QStringList shown = Results(*w_);
    for (int mode : {0, 1}) {
      reporter_->messages.clear();
      setMode(mode);
      Box(*w_, "txtU2")->setText(QStringLiteral("0"));
      Box(*w_, "txtU3")->setText(QStringLiteral("0"));
      exec();
      QCOMPARE(MessageTexts(*reporter_), QStringList{QString::fromUtf8(msg::kNotComputable)});
      QVERIFY(reporter_->messages[0].isError);
      QCOMPARE(Results(*w_), shown);
    }
  }

  // Whatever the window manager does while a dialog is up (here another
  // window takes the activation), the window is active afterwards with its
  // focus where it was, or on the box a message refused, so that its access
  // keys work at once: after a file dialog and after a message box.
  void focusComesBackAfterEveryDialog() {
    QWidget other;
    other.setWindowTitle(QStringLiteral("other"));
    const auto takeActivation = [&other] {
      other.show();
      QApplication::setActiveWindow(&other);
    };
    class Taking : public ScriptedDialogs {
     public:
      std::function<void()> during;
      QString showSaveDialog(QWidget* owner, const QString& f, const QString& d, const QString& n) override {
        during();
        return ScriptedDialogs::showSaveDialog(owner, f, d, n);
      }
    } dialogs;
    dialogs.during = takeActivation;
    dialogs.answers = {QStringLiteral("/out/result")};
    frmMain w(nullptr, &dialogs);  // its own message boxes
    w.show();
    QApplication::setActiveWindow(&w);
    QVERIFY(QTest::qWaitForWindowActive(&w));
    auto* selOut = w.findChild<QPushButton*>(QStringLiteral("cmdSelOutFile"));
    selOut->setFocus(Qt::TabFocusReason);
    QTest::keyClick(selOut, Qt::Key_Space);
    QCOMPARE(Box(w, "txtOutFile")->text(), QStringLiteral("/out/result.csv"));
    QTRY_COMPARE(QApplication::activeWindow(), &w);
    QCOMPARE(QApplication::focusWidget(), selOut);

    Box(w, "txtU3")->setText(QStringLiteral("x"));
    QTimer closer;  // answers the message box as soon as it is up
    bool answered = false;
    QObject::connect(&closer, &QTimer::timeout, [&] {
      if (QWidget* box = QApplication::activeModalWidget()) {
        answered = true;
        takeActivation();
        box->close();
      }
    });
    closer.start(5);
    guard_->pause();  // the closer answers this one
    QTest::keyClick(w.windowHandle(), Qt::Key_A, Qt::AltModifier);  // 個別計算(&A): a click a moment later
    QTRY_VERIFY(answered);
    guard_->resume();
    QTRY_COMPARE(QApplication::activeWindow(), &w);
    QTRY_COMPARE(QApplication::focusWidget(), Box(w, "txtU3"));
  }

  void fileButtonsFillTheBoxes() {
    auto* selIn = w_->findChild<QPushButton*>(QStringLiteral("cmdSelInFile"));
    auto* selOut = w_->findChild<QPushButton*>(QStringLiteral("cmdSelOutFile"));
    dialogs_->answers = {"/data/in.csv", "", "/data/other.txt"};
    QTest::mouseClick(selIn, Qt::LeftButton);
    QCOMPARE(Box(*w_, "txtInFile")->text(), QStringLiteral("/data/in.csv"));
    QTest::mouseClick(selIn, Qt::LeftButton);  // cancelled
    QCOMPARE(Box(*w_, "txtInFile")->text(), QStringLiteral("/data/in.csv"));
    QTest::mouseClick(selIn, Qt::LeftButton);  // any existing file, unchanged
    QCOMPARE(Box(*w_, "txtInFile")->text(), QStringLiteral("/data/other.txt"));
    QCOMPARE(Box(*w_, "txtInFile")->toolTip(), QStringLiteral("/data/other.txt"));  // the whole path

    const QStringList chosen = {"/out/result", "/out/a.CSV", "/out/b.Csv", "/out/result.txt", "/out/c.csv", "",
                                "/out/csv"};
    const QStringList shown = {"/out/result.csv", "/out/a.CSV",  "/out/b.Csv", "/out/result.txt.csv",
                               "/out/c.csv",      "/out/c.csv", "/out/csv.csv"};
    dialogs_->answers.assign(chosen.begin(), chosen.end());
    for (const QString& expected : shown) {
      QTest::mouseClick(selOut, Qt::LeftButton);
      QCOMPARE(Box(*w_, "txtOutFile")->text(), expected);
      QCOMPARE(Box(*w_, "txtOutFile")->toolTip(), expected);
    }
    QCOMPARE(dialogs_->calls.size(), std::size_t(3 + chosen.size()));
    for (const auto& call : dialogs_->calls) {
      QCOMPARE(call.owner, w_.get());
      QCOMPARE(call.filter, QStringLiteral("CSVファイル(*.csv)"));
      QCOMPARE(call.folder, w_->appFolder());  // every time, whatever was chosen before
      QCOMPARE(call.defaultName, call.save ? QStringLiteral("Output.csv") : QString());
    }
    QVERIFY(!dialogs_->calls[0].save && dialogs_->calls[3].save);
  }

  // Alt with a key never types into a box: at rest nothing answers Alt+Q,
  // Alt+X or Alt+I, and Alt+A is the calculation's access key.
  void altKeysNeverType() {
    QApplication::setActiveWindow(w_.get());
    QVERIFY(QTest::qWaitForWindowActive(w_.get()));
    QLineEdit* u2 = Box(*w_, "txtU2");
    for (const char* name : {"txtU2", "txtC2"}) {
      QLineEdit* box = Box(*w_, name);
      box->setFocus();
      const QString before = box->text();
      for (Qt::Key key : {Qt::Key_Q, Qt::Key_X, Qt::Key_I, Qt::Key_1}) {
        QTest::keyClick(box, key, Qt::AltModifier);
        QTest::keyClick(box, key, Qt::AltModifier | Qt::ShiftModifier);
      }
      QCOMPARE(box->text(), before);
    }
    u2->setFocus();
    QTest::keyClick(u2, Qt::Key_A, Qt::AltModifier);
    QCOMPARE(u2->text(), QStringLiteral("9.725"));
    QTRY_COMPARE(Results(*w_), (QStringList{"0.394", "1.343", "0.664", "0.000"}));  // an animated click
    // AltGr still types: X reports it as the group switch, Windows as Ctrl+Alt.
    u2->clear();
    QTest::keyClick(u2, '@', Qt::GroupSwitchModifier);
    QTest::keyClick(u2, '@', Qt::ControlModifier | Qt::AltModifier);
    QCOMPARE(u2->text(), QStringLiteral("@@"));
    QVERIFY(reporter_->messages.empty());
  }

  // A result wider than its box shows its start, and all of it as the tool
  // tip; a result that fits has no tool tip.
  void wideResultShowsItsStart() {
    Box(*w_, "txtU2")->setText(QStringLiteral("1e30"));
    exec();
    QCOMPARE(MessageTexts(*reporter_), QStringList());
    QLineEdit* wide = Box(*w_, "txtA2");
    QVERIFY2(wide->text().size() > 30 && wide->text().endsWith(QLatin1String(".000")), qPrintable(wide->text()));
    QCOMPARE(wide->cursorPosition(), 0);
    QCOMPARE(wide->toolTip(), wide->text());
    for (const char* name : {"txtA1", "txtA3", "txtA4"}) {
      QCOMPARE(Box(*w_, name)->text().size(), 5);
      QCOMPARE(Box(*w_, name)->toolTip(), QString());
    }
    // Shown from the start: the first digit sits at the box's left edge.
    wide->repaint();
    const int cursorX = wide->inputMethodQuery(Qt::ImCursorRectangle).toRect().left();
    QVERIFY2(cursorX < 8, qPrintable(QString::number(cursorX)));
    Box(*w_, "txtU2")->setText(QStringLiteral("9.725"));
    exec();
    QCOMPARE(wide->text(), QStringLiteral("1.343"));
    QCOMPARE(wide->toolTip(), QString());
  }

  // The save dialog takes only a name in a folder that exists: another is
  // refused with a message, and the dialog comes back for a better name.
  void saveDialogRefusesAMissingFolder() {
    guard_.reset();  // this test answers the dialogs itself
    QtFileDialogs dialogs;
    QTemporaryDir folder;
    const QString missing = folder.filePath(QStringLiteral("gone/result.csv"));
    const QString good = folder.filePath(QStringLiteral("result.csv"));
    QStringList seen;
    QTimer script;
    script.setInterval(20);
    connect(&script, &QTimer::timeout, [&] {
      QWidget* modal = QApplication::activeModalWidget();
      if (auto* box = qobject_cast<QMessageBox*>(modal)) {
        seen << box->windowTitle() + QLatin1Char('|') + box->text();
        box->accept();
      } else if (auto* d = qobject_cast<QFileDialog*>(modal)) {
        // Typed into the name box, as a user does.
        auto* name = d->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        seen << QStringLiteral("dialog:") + name->text();
        name->setText(seen.size() == 1 ? missing : good);
        static_cast<QDialog*>(d)->accept();
      }
    });
    script.start();
    const QString answer = dialogs.showSaveDialog(w_.get(), kCsvFilter, folder.path(), kDefaultOutputName);
    script.stop();
    QCOMPARE(answer, good);
    const QString message = QStringLiteral("ファイルを保存する|") + kFolderNotFound.arg(folder.filePath(QStringLiteral("gone")));
    // The second time the name box still holds the name as typed.
    QCOMPARE(seen, (QStringList{"dialog:Output.csv", message, "dialog:" + missing}));
    QVERIFY(message.contains(QStringLiteral("フォルダーが見つかりません")));

    // The window closed while the message is up (the program is ending):
    // nothing chosen, and no dialog again.
    seen.clear();
    disconnect(&script, nullptr, nullptr, nullptr);
    connect(&script, &QTimer::timeout, [&] {
      QWidget* modal = QApplication::activeModalWidget();
      if (auto* box = qobject_cast<QMessageBox*>(modal)) {
        seen << QStringLiteral("message");
        w_->close();
        box->accept();
      } else if (auto* d = qobject_cast<QFileDialog*>(modal)) {
        seen << QStringLiteral("dialog");
        if (seen.size() > 3) return d->reject();  // not for ever
        d->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(missing);
        static_cast<QDialog*>(d)->accept();
      }
    });
    script.start();
    QCOMPARE(dialogs.showSaveDialog(w_.get(), kCsvFilter, folder.path(), kDefaultOutputName), QString());
    script.stop();
    QCOMPARE(seen, (QStringList{"dialog", "message"}));
    guard_ = std::make_unique<ModalGuard>();
  }

  // Qt's dialogs as the program shows them: answered by a timer here.
  void qtDialogsAreSetUpAsRequired() {
    guard_.reset();  // this test answers the dialogs itself
    QtFileDialogs dialogs;
    QTemporaryDir folder;
    QFile(folder.filePath(QStringLiteral("in.csv"))).open(QIODevice::WriteOnly);
    struct Seen {
      QString title, directory, selected;
      QStringList filters;
      QFileDialog::FileMode mode;
      QFileDialog::AcceptMode accept;
      bool confirms;
    } seen{};
    auto inspect = [&seen](bool accept, const QString& name) {
      QTimer::singleShot(0, [&seen, accept, name] {
        auto* d = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (!d) return;
        seen = {d->windowTitle(), QDir(d->directory()).absolutePath(), d->selectedFiles().value(0),
                d->nameFilters(), d->fileMode(), d->acceptMode(), !d->testOption(QFileDialog::DontConfirmOverwrite)};
        if (accept) {
          d->selectFile(name);
          static_cast<QDialog*>(d)->accept();
        } else {
          d->reject();
        }
      });
    };
    inspect(true, folder.filePath(QStringLiteral("in.csv")));
    QCOMPARE(dialogs.showOpenDialog(w_.get(), kCsvFilter, folder.path() + QLatin1Char('/')),
             folder.filePath(QStringLiteral("in.csv")));
    QCOMPARE(seen.title, QStringLiteral("ファイルを開く"));
    QCOMPARE(seen.filters, QStringList{QStringLiteral("CSVファイル(*.csv)")});
    QCOMPARE(seen.directory, QDir(folder.path()).absolutePath());
    QCOMPARE(seen.mode, QFileDialog::ExistingFile);
    QCOMPARE(seen.accept, QFileDialog::AcceptOpen);

    inspect(false, {});
    QCOMPARE(dialogs.showSaveDialog(w_.get(), kCsvFilter, folder.path(), kDefaultOutputName), QString());
    QCOMPARE(seen.title, QStringLiteral("ファイルを保存する"));
    QCOMPARE(seen.filters, QStringList{QStringLiteral("CSVファイル(*.csv)")});
    QCOMPARE(seen.selected, folder.filePath(QStringLiteral("Output.csv")));
    QCOMPARE(seen.accept, QFileDialog::AcceptSave);
    QVERIFY(seen.confirms);
    guard_ = std::make_unique<ModalGuard>();
  }
};

QTEST_MAIN(CalculationTest)
#include "calculation_test.moc"
