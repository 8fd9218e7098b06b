#pragma once
// ファイル → シナリオ計算: the manifest, the field that identifies a household
// (chosen among the first input's titles), the end rules of the integration
// and the output; runs velmora-batch --scenarios' engine on a thread of its
// own with a progress bar. Closing the dialog cancels a run, which keeps any
// earlier output.
#include <QDialog>
#include <QString>
#include <functional>
#include <memory>
#include <optional>
#include <thread>

#include "batch/scenarios.h"
#include "core/reporter.h"
#include "form/held_messages.h"

class QComboBox;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTimer;

namespace velmora {

class FileDialogs;

class ScenarioDialog : public QDialog {
  Q_OBJECT
 public:
  // `prepare` fills in what the window decides (mode, settings, gap table)
  // when a run starts; it answers false, having said why, to stop. Messages
  // go to `reporter` (message boxes over the dialog when null); `dialogs`
  // chooses the files.
  ScenarioDialog(FileDialogs* dialogs, Reporter* reporter, std::function<bool(ScenarioCommand&)> prepare,
                 QWidget* parent = nullptr);
  ~ScenarioDialog() override;

  bool isRunning() const { return running_; }
  // The summary of the last completed run.
  const std::optional<ScenarioSummary>& lastSummary() const { return lastSummary_; }
  // The manifest as if chosen: fills the list of the id column.
  void setManifest(const QString& file);
  void setOutput(const QString& file);

 public slots:
  void run();

 signals:
  // A run has completed; lastSummary() holds it.
  void completed();

 protected:
  void closeEvent(QCloseEvent* event) override;
  void reject() override;

 private:
  void chooseManifest();
  void chooseOutput();
  void poll();
  void finish();
  void cancelAndWait();
  void setBusy(bool busy);

  FileDialogs* dialogs_;
  std::unique_ptr<Reporter> ownReporter_;
  Reporter* reporter_;
  std::function<bool(ScenarioCommand&)> prepare_;

  QLineEdit* manifest_;
  QPushButton* chooseManifest_;
  QComboBox* idColumn_;
  QLineEdit* zeroDamage_;
  QComboBox* tail_;
  QLineEdit* output_;
  QPushButton* chooseOutput_;
  QProgressBar* progressBar_;
  QPushButton* run_;
  QPushButton* close_;
  QTimer* timer_;

  // The running command.
  bool running_ = false;
  std::unique_ptr<BatchProgress> progress_;
  std::unique_ptr<ScenarioPasses> passes_;
  std::unique_ptr<form::HeldMessages> messages_;
  std::unique_ptr<ScenarioSummary> summary_;
  BatchOutcome outcome_ = BatchOutcome::Failed;
  std::atomic<bool> ended_{false};
  std::jthread thread_;
  std::optional<ScenarioSummary> lastSummary_;
};

}  // namespace velmora
