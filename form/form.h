#pragma once
// The window's behaviour without a toolkit: what each control does, through
// a view that each window implements with its own controls. Every call is
// made on the window's thread, except FormView::postBatchEnded.
#include <array>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "core/gap_table.h"
#include "core/records.h"
#include "core/reporter.h"
#include "form/batch_control.h"
#include "form/calculation.h"
#include "form/file_dialogs.h"
#include "form/settings.h"

namespace velmora::form {

// What the form asks of a window. Names are those of the layout (form/layout.h).
class FormView {
 public:
  virtual ~FormView() = default;
  virtual std::string text(std::string_view box) const = 0;  // UTF-8
  virtual void setText(std::string_view box, std::string_view text) = 0;
  virtual void setEnabled(std::string_view control, bool enabled) = 0;  // boxes, buttons, menu items
  virtual bool isChecked(std::string_view control) const = 0;            // chkRP, menKeepColumns
  virtual void setChecked(std::string_view control, bool checked) = 0;
  // Puts the user in a box with its text selected.
  virtual void focusBox(std::string_view box) = 0;
  // Busy cursor, the progress bar and 中止 shown while a batch runs.
  virtual void showBatchRunning(bool running) = 0;
  virtual void showBatchShare(const BatchShare& share) = 0;
  // From the batch's worker: have the window's thread call
  // Form::batchEnded() soon (a posted message, a queued call).
  virtual void postBatchEnded() = 0;
  // The decimal separator the number boxes read and show (the user's
  // locale), asked at every command.
  virtual std::string decimalSeparator() const { return "."; }
};

// What a command of the window runs with, as the boxes hold it when it
// starts.
struct CommandSettings {
  Mode mode = Mode::WithRiskPremium;
  std::array<std::string, 4> settingTexts;  // txtC1..txtC4
  std::string decimalSeparator;
  std::filesystem::path gapTableFile;
};

class Form {
 public:
  // `programFolder` holds the program (and EGapDis.txt); `userFolder` is the
  // folder of the settings store, where a user's own table is looked for.
  Form(FormView& view, Reporter& reporter, FileDialogs& dialogs, SettingsStore& store,
       std::filesystem::path programFolder, std::filesystem::path userFolder);
  ~Form();  // a running batch is cancelled and waited for

  // Window load: the checked box's pattern and the stored settings.
  void load();
  void loadSettings();
  void saveSettings();

  void modeSwitched();           // chkRP
  bool calculate();              // cmdExec; true when its results are shown
  void chooseInput();            // cmdSelInFile
  void chooseOutput();           // cmdSelOutFile
  // cmdExecAll; true when a run started. Whatever fails on the way leaves
  // the window as it was, with a message.
  bool startBatch();
  void cancelBatch();            // 中止: said so once the run has ended
  // For a command of the window beyond the form's own (the scenarios): the
  // mode of the check box, the four settings and the table found; nothing
  // (with the message) when no table is found, or while a batch runs.
  std::optional<CommandSettings> commandSettings();
  void showBatchShare();         // the window's timer, while a batch runs
  // On the window's thread after postBatchEnded: the window leaves its busy
  // state whatever fails, and then shows the run's messages.
  BatchOutcome batchEnded();
  void resetSettings();          // menInitValue
  void keepColumnsToggled();     // menKeepColumns
  // The window closes (or the session ends): settings saved, a running batch
  // cancelled and waited for, its messages dropped.
  void close();

  // What the completion message keeps behind its details (default: the
  // summary line).
  void setSummaryDetails(std::function<std::string(const BatchSummary&)> details) {
    summaryDetails_ = std::move(details);
  }
  // What the window adds to its batch runs (form/batch_control.h).
  void setBatchHooks(BatchHooks hooks) { batch_.setHooks(std::move(hooks)); }

  bool batchRunning() const { return batch_.running(); }
  Mode mode() const { return mode_; }
  const CommonSettings& settings() const { return settings_; }
  const std::filesystem::path& programFolder() const { return programFolder_; }
  // The table the last command found (empty when it found none).
  const std::filesystem::path& gapTableFile() const { return gapTableFile_; }

  // What the views show: nothing before there is something to show.
  const std::optional<Calculation>& lastCalculation() const { return lastCalculation_; }
  bool lastCalculationFailed() const { return lastCalculationFailed_; }
  const std::optional<BatchSummary>& lastBatchSummary() const { return batch_.lastSummary(); }
  std::optional<std::string> explainText() const;
  std::optional<std::string> batchSummaryText() const;

 private:
  Mode modeFromCheckBox() const;
  SettingTexts settingTexts() const;
  bool findGapTable();
  void setBusy(bool busy);

  FormView& view_;
  Reporter& reporter_;
  FileDialogs& dialogs_;
  SettingsStore& store_;
  std::filesystem::path programFolder_;
  std::filesystem::path userFolder_;

  // Kept for the window's whole life, as the commands leave them.
  Mode mode_ = Mode::WithRiskPremium;
  CommonSettings settings_;
  GapTable table_;
  std::filesystem::path gapTableFile_;
  std::optional<Calculation> lastCalculation_;
  bool lastCalculationFailed_ = false;
  bool closing_ = false;
  bool cancelRequested_ = false;
  std::function<std::string(const BatchSummary&)> summaryDetails_;
  BatchControl batch_;
};

}  // namespace velmora::form
