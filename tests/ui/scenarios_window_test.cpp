// ファイル → シナリオ計算 and 表示 → リスクカーブ: the window's mode, settings
// and table reach the scenario run, the id column offered is the ninth
// title, and the view shows the run's expected values.
#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QtTest>
#include <fstream>

#include "batch/scenarios.h"
#include "ui/risk_curve_view.h"
#include "ui/scenario_dialog.h"
#include "ui_fixture.h"

using namespace velmora;
using namespace velmora::test;

class ScenariosWindowTest : public QObject {
  Q_OBJECT
  QTemporaryDir dir_;

  QString path(const char* name) const { return dir_.filePath(QString::fromLatin1(name)); }
  void write(const char* name, const std::string& bytes) const {
    std::ofstream(path(name).toStdString(), std::ios::binary) << bytes;
  }

 private slots:
  void initTestCase() {
    QVERIFY(dir_.isValid());
    UseSettingsFolder(dir_);
  }

  void windowSettingsReachTheRunAndTheRiskCurve() {
    ClearStore();
    const std::string rest = ",4.81,3.57,7.416,14.759,22.616,3.321,";
    write("t10.csv", "h,g,i,a,l,v,p,c,mesh\r\n1,1" + rest + "A\r\n2,1" + rest + "B\r\n");
    write("t100.csv", "h,g,i,a,l,v,p,c,mesh\r\n5,3" + rest + "B\r\n4,2" + rest + "A\r\n");
    write("manifest.csv", "シナリオ名,再現期間,入力ファイル\r\n十年,10,t10.csv\r\n百年,100,t100.csv\r\n");
    RecordingReporter reporter;
    ScriptedDialogs dialogs;
    frmMain window(&reporter, &dialogs);
    window.show();
    Box(window, "txtC3")->setText(QStringLiteral("0.08"));  // the interest rate, read with the risk premium
    auto* risk = window.findChild<QAction*>(QStringLiteral("menRiskCurve"));
    QVERIFY(!risk->isEnabled());
    window.findChild<QAction*>(QStringLiteral("menScenarios"))->trigger();
    auto* dialog = window.findChild<ScenarioDialog*>();
    QVERIFY(dialog != nullptr && dialog->isVisible());
    dialogs.answers = {path("manifest.csv"), path("out")};
    dialog->findChild<QPushButton*>(QStringLiteral("chooseManifest"))->click();
    auto* id = dialog->findChild<QComboBox*>(QStringLiteral("idColumn"));
    QCOMPARE(id->currentText(), QStringLiteral("9列目：mesh"));
    dialog->findChild<QPushButton*>(QStringLiteral("chooseOutput"))->click();
    dialog->findChild<QPushButton*>(QStringLiteral("runButton"))->click();
    QTRY_VERIFY_WITH_TIMEOUT(!dialog->isRunning(), 20000);
    QCOMPARE(MessageTexts(reporter), QStringList{QStringLiteral("シナリオ計算の結果を出力ファイルに書き込みました")});

    // The same command straight through the engine.
    ScenarioCommand command;
    command.manifest = path("manifest.csv").toStdString();
    command.output = path("engine.csv").toStdString();
    command.settingTexts = {"0.610", "0.025", "0.08", "3.140"};
    command.gapTableFile = window.gapTableFile();
    command.idColumn = "mesh";
    RecordingReporter engine;
    ScenarioSummary summary;
    QCOMPARE(RunScenarioCommand(command, engine, nullptr, nullptr, &summary), BatchOutcome::Completed);
    const std::string written = ReadFile(path("out.csv").toStdString());
    QVERIFY(!written.empty());
    QCOMPARE(written, ReadFile(path("engine.csv").toStdString()));
    command.settingTexts[2] = "0.040";
    command.output = path("default.csv").toStdString();
    QCOMPARE(RunScenarioCommand(command, engine, nullptr, nullptr, nullptr), BatchOutcome::Completed);
    QVERIFY(written != ReadFile(path("default.csv").toStdString()));

    QVERIFY(risk->isEnabled());
    dialog->close();
    risk->trigger();
    auto* view = window.findChild<RiskCurveView*>();
    QVERIFY(view != nullptr && view->isVisible());
    QVERIFY(view->isWindow());
    const QString note = view->note()->text();
    QVERIFY2(note.contains(QString::fromStdString(SevenDigitsAsWritten(summary.expectedDelay))), qPrintable(note));
    QVERIFY(view->savePng(path("curve.png")));
    QVERIFY(QImage(path("curve.png")).width() > 100);
  }
};

QTEST_MAIN(ScenariosWindowTest)
#include "scenarios_window_test.moc"
