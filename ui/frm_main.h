#pragma once
#include <QMainWindow>
#include <QPointer>
#include <QString>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "batch/scenarios.h"
#include "batch/summary.h"
#include "core/records.h"
#include "core/reporter.h"
#include "form/form.h"
#include "ui/file_dialogs.h"
#include "ui/form_widgets.h"
#include "ui/settings_store.h"

class QAction;
class QTimer;

namespace velmora {

class BatchSummaryDialog;
class ExplainDialog;
class GapTableDialog;
class MapGatherer;
class MapView;
struct MapCells;
class RiskCurveView;
class ScenarioDialog;

// The one window of the program: the layout's controls as Qt widgets over
// the form, which decides what each of them does. Every control carries its
// fixed name as its object name, so tests and scripts find it with findChild.
class frmMain : public QMainWindow, private form::FormView {
  Q_OBJECT
 public:
  // `reporter` and `dialogs` default to message boxes and Qt's file dialogs;
  // tests pass recorders. Both must outlive the window.
  explicit frmMain(Reporter* reporter = nullptr, FileDialogs* dialogs = nullptr, QWidget* parent = nullptr);
  ~frmMain() override;

  const QString& appFolder() const { return appFolder_; }
  // The table the last command found (empty when it found none).
  const std::filesystem::path& gapTableFile() const { return form_->gapTableFile(); }
  Mode riskPremiumMode() const { return form_->mode(); }
  // Read it only while no batch runs: the run's thread fills it.
  const CommonSettings& commonSettings() const { return form_->settings(); }
  bool isBatchRunning() const { return form_->batchRunning(); }
  // The summary of the last batch run from the window that completed.
  const std::optional<BatchSummary>& lastBatchSummary() const { return form_->lastBatchSummary(); }
  // The cells of the last completed batch run whose input has a mesh column
  // (none otherwise), for 表示 → 地図.
  const std::shared_ptr<const MapCells>& lastMap() const { return lastMap_; }

  void LoadSettings() { form_->loadSettings(); }
  void SaveSettings() { form_->saveSettings(); }

 public slots:
  void cmdExec_Click();

 protected:
  void closeEvent(QCloseEvent* event) override;

 private slots:
  void batchEnded();

 private:
  // form::FormView
  std::string text(std::string_view box) const override;
  void setText(std::string_view box, std::string_view text) override;
  void setEnabled(std::string_view control, bool enabled) override;
  bool isChecked(std::string_view control) const override;
  void setChecked(std::string_view control, bool checked) override;
  void focusBox(std::string_view box) override;
  void showBatchRunning(bool running) override;
  void showBatchShare(const form::BatchShare& share) override;
  void postBatchEnded() override;
  std::string decimalSeparator() const override;

  void buildMenus();
  void connectCommands();
  QWidget* widget(std::string_view name) const;
  QAction* action(std::string_view name) const;
  // The views that are open follow what the commands leave.
  void updateViews();
  void fill(ExplainDialog& view) const;
  void fill(GapTableDialog& view) const;
  void fill(BatchSummaryDialog& view) const;
  void fill(RiskCurveView& view) const;
  void openScenarios();

  std::unique_ptr<Reporter> ownReporter_;
  std::unique_ptr<FileDialogs> ownDialogs_;
  Reporter* reporter_;
  FileDialogs* dialogs_;
  std::unique_ptr<DialogsForForm> formDialogs_;
  QtSettingsStore store_;
  QString appFolder_;
  std::unique_ptr<form::Form> form_;
  QTimer* shareTimer_ = nullptr;
  bool busyCursor_ = false;

  // Windows of their own (ui/view_window.h), built on first use.
  QPointer<ExplainDialog> explainView_;
  QPointer<GapTableDialog> gapTableView_;
  QPointer<BatchSummaryDialog> batchSummaryView_;
  // The map gathered while a batch runs, and the last completed run's.
  std::unique_ptr<MapGatherer> map_;
  std::shared_ptr<const MapCells> lastMap_;
  QPointer<MapView> mapView_;
  // ファイル → シナリオ計算 and 表示 → リスクカーブ.
  ScenarioDialog* scenarioDialog_ = nullptr;
  QPointer<RiskCurveView> riskCurveView_;
  std::optional<ScenarioSummary> lastScenarioSummary_;
};

}  // namespace velmora
