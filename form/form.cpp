#include "form/form.h"

#include "batch/batch.h"
#include "batch/gap_table_search.h"
#include "form/held_messages.h"
#include "platform/platform.h"
#include "form/layout.h"

namespace velmora::form {
namespace {

// The controls that wait while a batch runs.
constexpr std::string_view kBusyControls[] = {"cmdExec",      "cmdExecAll",    "cmdSelInFile",
                                              "cmdSelOutFile", "menInitValue", "menKeepColumns"};
// Said once a run the user stopped has ended.
constexpr std::string_view kBatchStopped = "一括計算を中止しました。出力ファイルは以前のままです。";

}  // namespace

Form::Form(FormView& view, Reporter& reporter, FileDialogs& dialogs, SettingsStore& store,
           std::filesystem::path programFolder, std::filesystem::path userFolder)
    : view_(view),
      reporter_(reporter),
      dialogs_(dialogs),
      store_(store),
      programFolder_(std::move(programFolder)),
      userFolder_(std::move(userFolder)) {}

Form::~Form() { batch_.cancel(); }

void Form::load() {
  for (const Control& c : Controls()) {
    if (c.kind == Kind::Numeric || c.kind == Kind::Result || c.kind == Kind::File) view_.setText(c.name, c.caption);
  }
  // The checked box's pattern, without running its handler.
  view_.setChecked("chkRP", true);
  for (std::string_view box : kModeBoxes) view_.setEnabled(box, UsedInMode(box, Mode::WithRiskPremium));
  loadSettings();
  view_.setChecked("menKeepColumns", LoadOption(store_, kKeepColumnsKey, false));
  for (std::string_view view : {"menExplain", "menGapTable", "menBatchSummary"}) view_.setEnabled(view, false);
}

void Form::loadSettings() {
  const std::array<std::string, 12> texts = LoadSettingTexts(store_, view_.decimalSeparator());
  for (std::size_t i = 0; i < kSettings.size(); ++i) view_.setText(kSettings[i].key, texts[i]);
}

void Form::saveSettings() { SaveSettingTexts(store_, settingTexts()); }

SettingTexts Form::settingTexts() const {
  SettingTexts texts;
  for (std::size_t i = 0; i < kSettings.size(); ++i) texts[i] = view_.text(kSettings[i].key);
  return texts;
}

Mode Form::modeFromCheckBox() const {
  return view_.isChecked("chkRP") ? Mode::WithRiskPremium : Mode::WithoutRiskPremium;
}

void Form::modeSwitched() {
  const Mode mode = modeFromCheckBox();
  for (std::string_view box : kModeBoxes) view_.setEnabled(box, UsedInMode(box, mode));
}

bool Form::findGapTable() {
  gapTableFile_.clear();
  return LocateGapTable(programFolder_, userFolder_, gapTableFile_, reporter_);
}

bool Form::calculate() {
  // A batch owns the mode, the table and the settings until it ends.
  if (batch_.running()) return false;
  mode_ = modeFromCheckBox();
  const SettingTexts texts = settingTexts();
  CalculationOutcome outcome;
  if (findGapTable()) outcome = Calculate(texts, mode_, settings_, table_, gapTableFile_, reporter_, view_.decimalSeparator());
  lastCalculationFailed_ = !outcome.done;
  if (!outcome.done) {
    // After the message, the user is put in the box to correct, when it can
    // take the focus.
    const std::string& box = outcome.failure.box;
    if (!box.empty() && UsedInMode(box, mode_)) view_.focusBox(box);
    return false;
  }
  static constexpr std::string_view kResults[] = {"txtA1", "txtA2", "txtA3", "txtA4"};
  for (std::size_t i = 0; i < 4; ++i) view_.setText(kResults[i], outcome.done->shown[i]);
  lastCalculation_ = std::move(outcome.done);
  view_.setEnabled("menExplain", true);
  view_.setEnabled("menGapTable", true);
  return true;
}

void Form::chooseInput() {
  if (batch_.running()) return;
  if (const auto chosen = dialogs_.choose(OpenRequest(programFolder_))) {
    view_.setText("txtInFile", platform::Utf8FromPath(*chosen));
  }
}

void Form::chooseOutput() {
  if (batch_.running()) return;
  if (const auto chosen = dialogs_.choose(SaveRequest(programFolder_))) {
    view_.setText("txtOutFile", WithCsvExtension(platform::Utf8FromPath(*chosen)));
  }
}

void Form::setBusy(bool busy) {
  // 中止 shows before the buttons wait, and the buttons are back before it
  // goes: the focus moves from one to the other.
  if (busy) view_.showBatchRunning(true);
  for (std::string_view control : kBusyControls) view_.setEnabled(control, !busy);
  if (!busy) view_.showBatchRunning(false);
}

std::optional<CommandSettings> Form::commandSettings() {
  if (batch_.running() || !findGapTable()) return std::nullopt;
  CommandSettings s;
  s.mode = modeFromCheckBox();
  s.gapTableFile = gapTableFile_;
  const SettingTexts texts = settingTexts();
  for (std::size_t i = 0; i < 4; ++i) s.settingTexts[i] = texts[i];
  s.decimalSeparator = view_.decimalSeparator();
  return s;
}

bool Form::startBatch() {
  if (batch_.running()) return false;
  mode_ = modeFromCheckBox();
  std::optional<CommandSettings> s = commandSettings();
  if (!s) return false;
  BatchRequest request;
  request.input = platform::PathFromUtf8(view_.text("txtInFile"));
  request.output = platform::PathFromUtf8(view_.text("txtOutFile"));
  request.mode = mode_;
  request.settingTexts = std::move(s->settingTexts);
  request.decimalSeparator = std::move(s->decimalSeparator);
  request.gapTableFile = std::move(s->gapTableFile);
  request.keepColumns = view_.isChecked("menKeepColumns");
  closing_ = false;
  cancelRequested_ = false;
  setBusy(true);
  view_.showBatchShare({});
  try {
    if (batch_.start(request, settings_, table_, [this] { view_.postBatchEnded(); })) return true;
  } catch (...) {
    setBusy(false);
    reporter_.error(batch::FailureMessage(std::current_exception()));
    return false;
  }
  setBusy(false);
  return false;
}

void Form::cancelBatch() {
  if (!batch_.running()) return;
  cancelRequested_ = true;
  batch_.cancel();
}

void Form::showBatchShare() {
  if (batch_.running()) view_.showBatchShare(batch_.share());
}

BatchOutcome Form::batchEnded() {
  if (!batch_.running()) return BatchOutcome::Failed;
  // The messages wait until the window has left its busy state: no message
  // box under the busy cursor.
  HeldMessages held;
  BatchOutcome outcome = BatchOutcome::Failed;
  try {
    outcome = batch_.finish(held, closing_, summaryDetails_);
  } catch (...) {
    held.error(batch::FailureMessage(std::current_exception()));
  }
  if (closing_) return outcome;
  setBusy(false);
  if (outcome == BatchOutcome::Completed) view_.setEnabled("menBatchSummary", true);
  if (outcome == BatchOutcome::Cancelled && cancelRequested_) held.info(kBatchStopped);
  // A close while one message is up drops the rest.
  held.passOn(reporter_, [this] { return !closing_; });
  return outcome;
}

void Form::resetSettings() {
  if (batch_.running()) return;
  // The model's defaults come back; the window's own choice stays.
  const bool keep = view_.isChecked("menKeepColumns");
  store_.deleteAll();
  loadSettings();
  saveSettings();
  if (keep) SaveOption(store_, kKeepColumnsKey, true);
}

void Form::keepColumnsToggled() { SaveOption(store_, kKeepColumnsKey, view_.isChecked("menKeepColumns")); }

void Form::close() {
  saveSettings();
  closing_ = true;
  if (batch_.running()) {
    batch_.cancel();
    batch_.finish(reporter_, /*quiet=*/true);
  }
}

std::optional<std::string> Form::explainText() const {
  if (!lastCalculation_) return std::nullopt;
  std::string text = CalculationText(*lastCalculation_);
  if (lastCalculationFailed_) text = "（最後の個別計算は失敗しました。以下はその前に成功した計算です）\n\n" + text;
  return text;
}

std::optional<std::string> Form::batchSummaryText() const {
  if (!batch_.lastSummary()) return std::nullopt;
  return BatchSummaryLine(*batch_.lastSummary()) + "\n\n" + BatchSummaryJson(*batch_.lastSummary());
}

}  // namespace velmora::form
