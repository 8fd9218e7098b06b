#include "ui/scenario_dialog.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QFile>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <exception>
#include <system_error>

#include "core/number_text.h"
#include "form/file_dialogs.h"
#include "form/held_messages.h"
#include "ui/file_dialogs.h"
#include "ui/japanese_font.h"
#include "ui/message_box_reporter.h"

namespace velmora {
namespace {

constexpr int kSteps = 1000;
constexpr int kPollMs = 30;

std::filesystem::path FilePath(const QString& text) {
  return std::filesystem::path(QFile::encodeName(text).toStdString());
}

QPushButton* Button(QWidget* parent, const char* name, const QString& caption, const QString& accessible) {
  auto* button = new QPushButton(caption, parent);
  button->setObjectName(QString::fromLatin1(name));
  button->setAccessibleName(accessible);
  button->setAutoDefault(false);
  return button;
}

// Refuses nothing; tells a screen reader the box's item.
QLineEdit* FileBox(QWidget* parent, const char* name, const QString& accessible) {
  auto* box = new QLineEdit(parent);
  box->setObjectName(QString::fromLatin1(name));
  box->setReadOnly(true);
  box->setAccessibleName(accessible);
  box->setMinimumWidth(420);
  return box;
}

}  // namespace

ScenarioDialog::ScenarioDialog(FileDialogs* dialogs, Reporter* reporter,
                               std::function<bool(ScenarioCommand&)> prepare, QWidget* parent)
    : QDialog(parent), dialogs_(dialogs), reporter_(reporter), prepare_(std::move(prepare)) {
  if (reporter_ == nullptr) {
    ownReporter_ = std::make_unique<MessageBoxReporter>(this);
    reporter_ = ownReporter_.get();
  }
  setObjectName(QStringLiteral("ScenarioDialog"));
  setWindowTitle(QStringLiteral("シナリオ計算"));
  setFont(JapaneseFont());

  manifest_ = FileBox(this, "manifestBox", QStringLiteral("シナリオ一覧"));
  chooseManifest_ = Button(this, "chooseManifest", QStringLiteral("選択(&L)..."), QStringLiteral("シナリオ一覧を選択"));
  idColumn_ = new QComboBox(this);
  idColumn_->setObjectName(QStringLiteral("idColumn"));
  idColumn_->setAccessibleName(QStringLiteral("世帯を識別する列"));
  idColumn_->addItem(QStringLiteral("（指定しない：各入力の行が同じ順の同じ世帯）"), QString());
  zeroDamage_ = new QLineEdit(this);
  zeroDamage_->setObjectName(QStringLiteral("zeroDamage"));
  zeroDamage_->setAccessibleName(QStringLiteral("被害の出ない再現期間（年）"));
  zeroDamage_->setPlaceholderText(QStringLiteral("なし"));
  zeroDamage_->setAttribute(Qt::WA_InputMethodEnabled, false);
  tail_ = new QComboBox(this);
  tail_->setObjectName(QStringLiteral("tail"));
  tail_->setAccessibleName(QStringLiteral("最も稀なシナリオより先"));
  tail_->addItem(QStringLiteral("なし"));
  tail_->addItem(QStringLiteral("最も稀なシナリオの被害を p = 0 まで一定"));
  output_ = FileBox(this, "outputBox", QStringLiteral("出力ファイル"));
  chooseOutput_ = Button(this, "chooseOutput", QStringLiteral("選択(&O)..."), QStringLiteral("出力ファイルを選択"));
  progressBar_ = new QProgressBar(this);
  progressBar_->setObjectName(QStringLiteral("progress"));
  progressBar_->setRange(0, kSteps);
  progressBar_->setTextVisible(false);
  progressBar_->setFocusPolicy(Qt::NoFocus);
  progressBar_->setAccessibleName(QStringLiteral("進み具合"));
  progressBar_->hide();
  run_ = Button(this, "runButton", QStringLiteral("実行(&R)"), QStringLiteral("シナリオ計算を実行"));
  run_->setEnabled(false);
  close_ = Button(this, "closeButton", QStringLiteral("閉じる"), QStringLiteral("閉じる"));

  auto* form = new QFormLayout;
  const auto fileRow = [this](QLineEdit* box, QPushButton* button) {
    auto* row = new QHBoxLayout;
    row->addWidget(box, 1);
    row->addWidget(button);
    return row;
  };
  auto* manifestLabel = new QLabel(QStringLiteral("シナリオ一覧(&M)："), this);
  manifestLabel->setBuddy(chooseManifest_);
  form->addRow(manifestLabel, fileRow(manifest_, chooseManifest_));
  auto* idLabel = new QLabel(QStringLiteral("世帯を識別する列(&I)："), this);
  idLabel->setBuddy(idColumn_);
  form->addRow(idLabel, idColumn_);
  auto* zeroLabel = new QLabel(QStringLiteral("被害の出ない再現期間（年）(&Z)："), this);
  zeroLabel->setBuddy(zeroDamage_);
  form->addRow(zeroLabel, zeroDamage_);
  auto* tailLabel = new QLabel(QStringLiteral("最も稀なシナリオより先(&T)："), this);
  tailLabel->setBuddy(tail_);
  form->addRow(tailLabel, tail_);
  auto* outputLabel = new QLabel(QStringLiteral("出力ファイル(&U)："), this);
  outputLabel->setBuddy(chooseOutput_);
  form->addRow(outputLabel, fileRow(output_, chooseOutput_));
  auto* note = new QLabel(QStringLiteral("計算の種類・全メッシュ共通の設定値・ギャップ分布表はメイン画面のものを使い、"
                                         "シナリオ一覧に設定値の列があるシナリオではその値を使います。"),
                          this);
  note->setWordWrap(true);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(progressBar_, 1);
  buttons->addStretch();
  buttons->addWidget(run_);
  buttons->addWidget(close_);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addWidget(note);
  layout->addLayout(buttons);

  setTabOrder(chooseManifest_, idColumn_);
  setTabOrder(idColumn_, zeroDamage_);
  setTabOrder(zeroDamage_, tail_);
  setTabOrder(tail_, chooseOutput_);
  setTabOrder(chooseOutput_, run_);
  setTabOrder(run_, close_);
  setTabOrder(close_, manifest_);
  setTabOrder(manifest_, output_);

  timer_ = new QTimer(this);
  timer_->setInterval(kPollMs);
  connect(timer_, &QTimer::timeout, this, &ScenarioDialog::poll);
  connect(chooseManifest_, &QPushButton::clicked, this, &ScenarioDialog::chooseManifest);
  connect(chooseOutput_, &QPushButton::clicked, this, &ScenarioDialog::chooseOutput);
  connect(run_, &QPushButton::clicked, this, &ScenarioDialog::run);
  connect(close_, &QPushButton::clicked, this, &ScenarioDialog::reject);
  chooseManifest_->setFocus();
}

ScenarioDialog::~ScenarioDialog() { cancelAndWait(); }

void ScenarioDialog::chooseManifest() {
  const QString folder = manifest_->text().isEmpty() ? QString() : QFileInfo(manifest_->text()).absolutePath();
  const QString chosen = dialogs_->showOpenDialog(this, kCsvFilter, folder);
  if (!chosen.isEmpty()) setManifest(chosen);
}

void ScenarioDialog::setManifest(const QString& file) {
  manifest_->setText(file);
  // The titles of the first input, each with its column number.
  while (idColumn_->count() > 1) idColumn_->removeItem(1);
  std::vector<std::string> titles;
  if (ReadFirstInputTitles(FilePath(file), titles, *reporter_)) {
    for (std::size_t c = 0; c < titles.size(); ++c) {
      const QString title = QString::fromStdString(titles[c]);
      const bool unique = !title.isEmpty() && std::count(titles.begin(), titles.end(), titles[c]) == 1;
      idColumn_->addItem(QStringLiteral("%1列目：%2").arg(c + 1).arg(title),
                         unique ? title : QString::number(c + 1));
    }
    // A column after the household's eight is what usually names it.
    if (titles.size() > 8) idColumn_->setCurrentIndex(9);
  }
  run_->setEnabled(!manifest_->text().isEmpty() && !output_->text().isEmpty());
}

void ScenarioDialog::chooseOutput() {
  const QString folder = manifest_->text().isEmpty() ? QString() : QFileInfo(manifest_->text()).absolutePath();
  const QString chosen = dialogs_->showSaveDialog(this, kCsvFilter, folder, QStringLiteral("Scenarios.csv"));
  if (!chosen.isEmpty()) setOutput(QString::fromStdString(form::WithCsvExtension(chosen.toStdString())));
}

void ScenarioDialog::setOutput(const QString& file) {
  output_->setText(file);
  run_->setEnabled(!manifest_->text().isEmpty() && !output_->text().isEmpty());
}

void ScenarioDialog::setBusy(bool busy) {
  for (QWidget* w : std::initializer_list<QWidget*>{chooseManifest_, idColumn_, zeroDamage_, tail_, chooseOutput_, run_}) {
    w->setEnabled(!busy);
  }
  progressBar_->setValue(0);
  progressBar_->setVisible(busy);
  close_->setText(busy ? QStringLiteral("中止して閉じる") : QStringLiteral("閉じる"));
}

void ScenarioDialog::run() {
  if (running_ || manifest_->text().isEmpty() || output_->text().isEmpty()) return;
  ScenarioCommand command;
  command.manifest = FilePath(manifest_->text());
  command.output = FilePath(output_->text());
  command.idColumn = idColumn_->currentData().toString().toStdString();
  const QString zero = zeroDamage_->text().trimmed();
  if (!zero.isEmpty()) {
    // The window's locale may write a decimal comma.
    QString text = zero;
    text.replace(zeroDamage_->locale().decimalPoint(), QStringLiteral("."));
    if (!TextToNumber(text.toStdString(), command.rule.zeroDamageReturnPeriod) ||
        !(command.rule.zeroDamageReturnPeriod > 1.0)) {
      reporter_->error("被害の出ない再現期間は1より大きい数です");
      zeroDamage_->setFocus();
      return;
    }
  }
  command.rule.tail = tail_->currentIndex() == 1 ? EadTail::Flat : EadTail::None;
  command.ruleGiven = !zero.isEmpty() || tail_->currentIndex() == 1;
  if (prepare_ && !prepare_(command)) return;

  progress_ = std::make_unique<BatchProgress>();
  passes_ = std::make_unique<ScenarioPasses>();
  messages_ = std::make_unique<form::HeldMessages>();
  summary_ = std::make_unique<ScenarioSummary>();
  ended_.store(false);
  outcome_ = BatchOutcome::Failed;
  running_ = true;
  setBusy(true);
  try {
    thread_ = std::jthread([this, command] {
      try {
        outcome_ = RunScenarioCommand(command, *messages_, progress_.get(), passes_.get(), summary_.get());
      } catch (const std::exception&) {
        outcome_ = BatchOutcome::Failed;
        messages_->error("シナリオ計算を続けられませんでした（メモリーが足りない可能性があります）");
      }
      ended_.store(true);
    });
  } catch (const std::system_error&) {
    // No thread to be had: the run takes this one.
    outcome_ = RunScenarioCommand(command, *messages_, progress_.get(), passes_.get(), summary_.get());
    ended_.store(true);
  }
  timer_->start();
}

void ScenarioDialog::poll() {
  if (ended_.load()) {
    finish();
    return;
  }
  const unsigned total = passes_->total.load();
  const BatchPhase phase = progress_->phase();
  const std::uint64_t bytes = progress_->bytesTotal();
  if (total == 0 || phase == BatchPhase::Idle || bytes == 0) return;
  const double part = std::clamp(static_cast<double>(progress_->bytesRead()) / static_cast<double>(bytes), 0.0, 1.0);
  const int value = static_cast<int>((passes_->done.load() + part) / total * kSteps);
  if (value > progressBar_->value()) progressBar_->setValue(std::min(value, kSteps));
}

void ScenarioDialog::finish() {
  timer_->stop();
  if (thread_.joinable()) thread_.join();
  running_ = false;
  setBusy(false);
  if (outcome_ == BatchOutcome::Completed) {
    lastSummary_ = std::move(*summary_);
    emit completed();
  }
  if (outcome_ != BatchOutcome::Cancelled) messages_->passOn(*reporter_);
  run_->setFocus();
}

void ScenarioDialog::cancelAndWait() {
  if (!running_) return;
  progress_->cancel();
  timer_->stop();
  if (thread_.joinable()) thread_.join();
  running_ = false;
  setBusy(false);
}

void ScenarioDialog::closeEvent(QCloseEvent* event) {
  cancelAndWait();
  QDialog::closeEvent(event);
}

void ScenarioDialog::reject() {
  cancelAndWait();
  QDialog::reject();
}

}  // namespace velmora
