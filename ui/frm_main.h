#pragma once
#include <QMainWindow>
#include <QPointer>
#include <QString>
#include <array>
#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "core/gap_table.h"
#include "core/records.h"
#include "core/reporter.h"
#include "batch/summary.h"
#include "batch/scenarios.h"
#include "ui/individual_calculation.h"
#include "ui/file_dialogs.h"
#include "ui/settings_store.h"

class QAction;
class QCheckBox;
class QFrame;
class QGroupBox;
class QLineEdit;
class QMenu;
class QProgressBar;
class QPushButton;

namespace velmora {

class BatchProgress;
struct BatchCommand;
enum class BatchOutcome;
class BatchSummaryDialog;
class ExplainDialog;
class GapTableDialog;
class MapView;
struct MapCells;
class RiskCurveView;
class ScenarioDialog;
class TextBox;

// The batch progress bar's text for `steps` of its 1000 after `seconds`:
// the percentage, and from the first second on the time left.
QString BatchProgressText(int steps, double seconds);

// Twips to device-independent pixels: the window is laid out in twips, 15 to
// a pixel.
constexpr int Px(int twips) { return twips / 15; }

// The one window of the program. Every control carries its fixed name as its
// object name, so tests and scripts find it with findChild.
class frmMain : public QMainWindow {
  Q_OBJECT
 public:
  // `reporter` and `dialogs` default to message boxes and Qt's file dialogs;
  // tests pass recorders. Both must outlive the window.
  explicit frmMain(Reporter* reporter = nullptr, FileDialogs* dialogs = nullptr, QWidget* parent = nullptr);
  ~frmMain() override;

  const QString& appFolder() const { return appFolder_; }
  // The table the last command found (empty when it found none).
  const std::filesystem::path& gapTableFile() const { return gapTableFile_; }
  Mode riskPremiumMode() const { return riskPremiumMode_; }
  // Read it only while no batch runs: the run's thread fills it.
  const CommonSettings& commonSettings() const { return settings_; }
  bool isBatchRunning() const { return batchRunning_; }

  // What the views of the 表示 menu show. The last successful individual
  // calculation (none before the first), and whether a calculation failed
  // since.
  const std::optional<IndividualCalculation>& lastCalculation() const { return lastCalculation_; }
  bool lastCalculationFailed() const { return lastCalculationFailed_; }
  // The summary of the last batch run from the window that completed.
  const std::optional<BatchSummary>& lastBatchSummary() const { return lastBatchSummary_; }
  // The cells of the last completed batch run whose input has a mesh column
  // (none otherwise), for 表示 → 地図.
  const std::shared_ptr<const MapCells>& lastMap() const { return lastMap_; }
  // 設定 → 9列目以降を結果に残す.
  bool keepsColumns() const;

  void LoadSettings();
  void SaveSettings();

 public slots:
  void chkRP_Click();
  void cmdExec_Click();
  void cmdExecAll_Click();
  void cmdSelInFile_Click();
  void cmdSelOutFile_Click();
  void cmdCancelAll_Click();
  void menInitValue_Click();
  void menuExit_Click();
  void menKeepColumns_Click();
  void menExplain_Click();
  void menGapTable_Click();
  void menBatchSummary_Click();
  void menMap_Click();
  void menScenarios_Click();
  void menRiskCurve_Click();

 signals:
  // After every press of 個別計算, whether it succeeded or not.
  void calculationEnded();
  // After every batch run from the window that completed.
  void batchCompleted();

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void buildControls();
  void buildMenus();
  void setTabOrder();
  QString decimalSeparator() const;
  QString defaultText(const char* text) const;
  // The texts of txtC1..txtC4, owned for one command.
  std::array<std::string, 4> commonSettingTexts() const;
  QLineEdit* settingBox(const char* key) const;
  void setBatchRunning(bool running);
  // Runs the batch command on a thread of its own while this thread keeps
  // handling the window's events; returns once the run has ended.
  BatchOutcome runBatchWhileLive(const BatchCommand& command, Reporter& messages, BatchProgress& progress,
                        BatchSummary* summary);
  void showBatchProgress(const BatchProgress& progress);
  // Finds EGapDis.txt for a command into gapTableFile_; reports when none is found.
  bool findGapTable();
  // The individual calculation proper; true when its results are shown.
  bool calculate();
  // After a check's `message`: selects the box it refused.
  void selectFailedBox(const std::string& message);
  // The views that are open follow what the commands leave.
  void updateViews();

  std::unique_ptr<Reporter> ownReporter_;
  std::unique_ptr<FileDialogs> ownDialogs_;
  Reporter* reporter_;
  FileDialogs* dialogs_;
  SettingsStore store_;

  // Kept for the window's whole life, as the commands leave them.
  QString appFolder_;
  Mode riskPremiumMode_ = Mode::WithRiskPremium;
  CommonSettings settings_;
  GapTable table_;
  std::filesystem::path gapTableFile_;

  std::optional<IndividualCalculation> lastCalculation_;
  bool lastCalculationFailed_ = false;
  std::optional<BatchSummary> lastBatchSummary_;
  // Windows of their own (ui/view_window.h), built on first use.
  QPointer<ExplainDialog> explainDialog_;
  QPointer<GapTableDialog> gapTableDialog_;
  QPointer<BatchSummaryDialog> batchSummaryDialog_;
  std::shared_ptr<const MapCells> lastMap_;
  QPointer<MapView> mapView_;
  // ファイル → シナリオ計算 and 表示 → リスクカーブ.
  ScenarioDialog* scenarioDialog_ = nullptr;
  QPointer<RiskCurveView> riskCurveView_;
  std::optional<ScenarioSummary> lastScenarioSummary_;

  bool batchRunning_ = false;
  bool closeRequested_ = false;
  // The running batch's progress, so that a close can cancel it.
  BatchProgress* runningBatch_ = nullptr;
  bool cancelRequested_ = false;
  std::chrono::steady_clock::time_point batchStarted_;

  QGroupBox* Frame1 = nullptr;
  QGroupBox* Frame2 = nullptr;
  QGroupBox* Frame4 = nullptr;
  QCheckBox* chkRP = nullptr;
  QLineEdit* txtC1 = nullptr;
  QLineEdit* txtC2 = nullptr;
  QLineEdit* txtC3 = nullptr;
  QLineEdit* txtC4 = nullptr;
  QLineEdit* txtInFile = nullptr;
  QLineEdit* txtOutFile = nullptr;
  QPushButton* cmdSelInFile = nullptr;
  QPushButton* cmdSelOutFile = nullptr;
  QPushButton* cmdExecAll = nullptr;
  QProgressBar* prgBatch = nullptr;
  QPushButton* cmdCancelAll = nullptr;
  QLineEdit* txtU2 = nullptr;
  QLineEdit* txtU3 = nullptr;
  QLineEdit* txtU4 = nullptr;
  QLineEdit* txtU5 = nullptr;
  QLineEdit* txtU6 = nullptr;
  QLineEdit* txtU7 = nullptr;
  QLineEdit* txtU8 = nullptr;
  QLineEdit* txtU9 = nullptr;
  QFrame* Line1 = nullptr;
  TextBox* txtA1 = nullptr;
  TextBox* txtA2 = nullptr;
  TextBox* txtA3 = nullptr;
  TextBox* txtA4 = nullptr;
  QPushButton* cmdExec = nullptr;
  QMenu* menuFile = nullptr;
  QAction* menuExit = nullptr;
  QMenu* menuSetting = nullptr;
  QAction* menInitValue = nullptr;
  QAction* menKeepColumns = nullptr;
  QMenu* menuView = nullptr;
  QAction* menExplain = nullptr;
  QAction* menGapTable = nullptr;
  QAction* menBatchSummary = nullptr;
  QAction* menMap = nullptr;
  QAction* menScenarios = nullptr;
  QAction* menRiskCurve = nullptr;
};

}  // namespace velmora
