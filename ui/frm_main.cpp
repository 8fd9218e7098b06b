#include "ui/frm_main.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QFrame>
#include <QGroupBox>
#include <QLayout>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QSessionManager>
#include <QSettings>
#include <QTimer>
#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <exception>
#include <string>
#include <system_error>
#include <thread>

#include "batch/batch.h"
#include "batch/gap_table_search.h"
#include "batch/messages.h"
#include "platform/sha256.h"
#include "core/messages.h"
#include "core/models.h"
#include "core/number_text.h"
#include "input/checks.h"
#include "ui/app_folder.h"
#include "ui/batch_summary_dialog.h"
#include "ui/deferred_reporter.h"
#include "ui/explain_dialog.h"
#include "ui/gap_table_dialog.h"
#include "ui/japanese_font.h"
#include "ui/map_cells.h"
#include "ui/map_view.h"
#include "ui/message_box_reporter.h"
#include "ui/risk_curve_view.h"
#include "ui/scenario_dialog.h"
#include "ui/text_box.h"
#include "ui/view_window.h"
#include "ui/window_focus.h"
#include "ui/wrap_label.h"

// The icon lives in this static library: register its resources before use.
static void InitResources() { Q_INIT_RESOURCE(velmora); }

namespace velmora {
namespace {

constexpr int kClientWidth = 10065;
constexpr int kClientHeight = 5640;
// How often the progress bar follows the running batch.
constexpr int kProgressPollMs = 30;
constexpr int kProgressSteps = 1000;
// The check reads the whole input but only counts fields: about a tenth of
// the command's time. It fills the bar's first tenth, the run the rest, so
// that the bar only ever moves on.
constexpr int kCheckSteps = 100;
// Said once a run the user stopped has ended.
constexpr const char* kBatchStopped = "一括計算を中止しました。出力ファイルは以前のままです。";

QRect Tw(int left, int top, int width, int height) { return QRect(Px(left), Px(top), Px(width), Px(height)); }

enum class BoxKind { Numeric, Result, File };

TextBox* MakeBox(QWidget* parent, const char* name, BoxKind kind, const QRect& geometry) {
  auto* box = new TextBox(parent);
  box->setObjectName(QString::fromLatin1(name));
  box->setGeometry(geometry);
  switch (kind) {
    case BoxKind::Numeric:
      box->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
      // Numbers only: no kana-kanji composition while typing.
      box->setAttribute(Qt::WA_InputMethodEnabled, false);
      box->setInputMethodHints(Qt::ImhPreferNumbers | Qt::ImhLatinOnly);
      break;
    case BoxKind::Result: {
      box->setReadOnly(true);
      box->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
      QPalette palette = box->palette();
      palette.setColor(QPalette::Base, QColor(192, 192, 255));
      box->setPalette(palette);
      break;
    }
    case BoxKind::File:
      box->setReadOnly(true);
      break;
  }
  return box;
}

WrapLabel* MakeLabel(QWidget* parent, const char* name, const QString& text, Qt::Alignment align,
                     const QRect& geometry) {
  auto* label = new WrapLabel(text, align, parent);
  label->setObjectName(QString::fromLatin1(name));
  label->setGeometry(geometry);
  return label;
}

QPushButton* MakeButton(QWidget* parent, const char* name, const QString& caption, const QRect& geometry) {
  auto* button = new QPushButton(caption, parent);
  button->setObjectName(QString::fromLatin1(name));
  button->setGeometry(geometry);
  // Enter and Escape trigger nothing.
  button->setAutoDefault(false);
  button->setDefault(false);
  return button;
}

std::string Utf8(const QLineEdit* box) { return box->text().toStdString(); }

std::filesystem::path FilePath(const QString& text) {
  return std::filesystem::path(QFile::encodeName(text).toStdString());
}

// What a screen reader calls a box: its item label without the closing colon.
QString ItemName(const QLabel& label) {
  QString name = label.text();
  if (name.endsWith(QChar(0xFF1A))) name.chop(1);  // ：
  return name;
}

// Passes a command's messages on, the completion message with the run's
// summary as its details.
class WithSummaryDetails : public Reporter {
 public:
  WithSummaryDetails(Reporter& target, std::string details) : target_(target), details_(std::move(details)) {}
  void error(std::string_view message) override { target_.error(message); }
  void info(std::string_view message) override {
    if (message == msg::kBatchCompleted) {
      target_.infoWithDetails(message, details_);
    } else {
      target_.info(message);
    }
  }

 private:
  Reporter& target_;
  std::string details_;
};

// Passes the checks' messages on and keeps the last error's text.
class FailureSeen : public Reporter {
 public:
  explicit FailureSeen(Reporter& target) : target_(target) {}
  void error(std::string_view text) override {
    message.assign(text);
    target_.error(text);
  }
  void info(std::string_view text) override { target_.info(text); }
  std::string message;

 private:
  Reporter& target_;
};

}  // namespace

frmMain::frmMain(Reporter* reporter, FileDialogs* dialogs, QWidget* parent) : QMainWindow(parent) {
  if (reporter == nullptr) {
    ownReporter_ = std::make_unique<MessageBoxReporter>(this);
    reporter = ownReporter_.get();
  }
  if (dialogs == nullptr) {
    ownDialogs_ = std::make_unique<QtFileDialogs>();
    dialogs = ownDialogs_.get();
  }
  reporter_ = reporter;
  dialogs_ = dialogs;

  InitResources();
  setObjectName(QStringLiteral("frmMain"));
  setWindowTitle(QStringLiteral("Velmora"));
  QIcon icon;
  for (int size : {16, 32, 48}) icon.addFile(QStringLiteral(":/velmora/velmora-%1.png").arg(size), QSize(size, size));
  setWindowIcon(icon);
  // Fixed border: close and minimise, no maximise.
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);

  buildControls();
  buildMenus();
  setTabOrder();

  // Load: the application folder, a Japanese font on every control, then the
  // stored settings.
  appFolder_ = AppFolder();
  const QFont font = JapaneseFont();
  setFont(font);
  menuBar()->setFont(font);
  menuFile->setFont(font);
  menuSetting->setFont(font);
  menuView->setFont(font);
  LoadSettings();
  menKeepColumns->setChecked(store_.getOption(QString::fromLatin1(SettingsStore::kKeepColumns), false));

  layout()->setSizeConstraint(QLayout::SetFixedSize);

  // A session that ends (logout, shutdown) keeps the settings like a close.
  connect(qApp, &QGuiApplication::commitDataRequest, this, [this](QSessionManager&) { SaveSettings(); },
          Qt::DirectConnection);
}

frmMain::~frmMain() = default;

void frmMain::buildControls() {
  auto* client = new QWidget(this);
  client->setObjectName(QStringLiteral("client"));
  client->setFixedSize(Px(kClientWidth), Px(kClientHeight));
  setCentralWidget(client);

  const auto right = Qt::AlignRight;
  const auto left = Qt::AlignLeft;

  // Settings common to all meshes.
  Frame1 = new QGroupBox(QStringLiteral("全メッシュ共通の項目"), client);
  Frame1->setObjectName(QStringLiteral("Frame1"));
  Frame1->setGeometry(Tw(120, 120, 4695, 3135));
  chkRP = new QCheckBox(QStringLiteral("リスクプレミアムを考慮する(&T)"), Frame1);
  chkRP->setObjectName(QStringLiteral("chkRP"));
  chkRP->setGeometry(Tw(240, 360, 3375, 255));
  chkRP->setChecked(true);
  MakeLabel(Frame1, "Label1", QStringLiteral("保険加入率："), right, Tw(120, 765, 1575, 255));
  txtC1 = MakeBox(Frame1, "txtC1", BoxKind::Numeric, Tw(1680, 720, 1575, 270));
  MakeLabel(Frame1, "Label9", QStringLiteral("（倍）"), left, Tw(3360, 765, 375, 255));
  MakeLabel(Frame1, "Label2", QStringLiteral("被害の発生確率："), right, Tw(120, 1125, 1575, 255));
  txtC2 = MakeBox(Frame1, "txtC2", BoxKind::Numeric, Tw(1680, 1080, 1575, 270));
  MakeLabel(Frame1, "Label10", QStringLiteral("（倍）"), left, Tw(3360, 1125, 375, 255));
  MakeLabel(Frame1, "Label3", QStringLiteral("利子率："), right, Tw(120, 1485, 1575, 255));
  txtC3 = MakeBox(Frame1, "txtC3", BoxKind::Numeric, Tw(1680, 1440, 1575, 270));
  MakeLabel(Frame1, "Label11", QStringLiteral("（倍）"), left, Tw(3360, 1485, 375, 255));
  MakeLabel(Frame1, "Label4", QStringLiteral("マークアップ率："), right, Tw(120, 1845, 1575, 255));
  txtC4 = MakeBox(Frame1, "txtC4", BoxKind::Numeric, Tw(1680, 1800, 1575, 270));
  MakeLabel(Frame1, "Label12", QStringLiteral("（倍）"), left, Tw(3360, 1845, 375, 255));

  // Batch calculation from CSV files.
  Frame4 = new QGroupBox(QStringLiteral("CSVファイルから一括計算"), client);
  Frame4->setObjectName(QStringLiteral("Frame4"));
  Frame4->setGeometry(Tw(120, 3360, 4695, 2175));
  MakeLabel(Frame4, "Label33", QStringLiteral("入力ファイル"), left, Tw(360, 360, 1695, 255));
  txtInFile = MakeBox(Frame4, "txtInFile", BoxKind::File, Tw(240, 600, 3735, 270));
  cmdSelInFile = MakeButton(Frame4, "cmdSelInFile", QStringLiteral("選択"), Tw(3960, 600, 615, 255));
  MakeLabel(Frame4, "Label34", QStringLiteral("出力ファイル"), left, Tw(360, 960, 1695, 255));
  txtOutFile = MakeBox(Frame4, "txtOutFile", BoxKind::File, Tw(240, 1200, 3735, 270));
  cmdSelOutFile = MakeButton(Frame4, "cmdSelOutFile", QStringLiteral("選択"), Tw(3960, 1200, 615, 255));
  cmdExecAll = MakeButton(Frame4, "cmdExecAll", QStringLiteral("一括計算(&E)"), Tw(3120, 1680, 1455, 375));
  // Shown only while a batch run goes on, in the free space left of the
  // button: the bar with its percentage and the time left, and the button
  // that stops the run.
  prgBatch = new QProgressBar(Frame4);
  prgBatch->setObjectName(QStringLiteral("prgBatch"));
  prgBatch->setGeometry(Tw(240, 1740, 1980, 255));
  prgBatch->setRange(0, kProgressSteps);
  prgBatch->setAlignment(Qt::AlignCenter);
  prgBatch->setAccessibleName(QStringLiteral("一括計算の進み具合"));
  prgBatch->setFocusPolicy(Qt::NoFocus);
  prgBatch->hide();
  cmdCancelAll = MakeButton(Frame4, "cmdCancelAll", QStringLiteral("中止(&C)"), Tw(2280, 1680, 780, 375));
  cmdCancelAll->setAccessibleName(QStringLiteral("一括計算を中止"));
  cmdCancelAll->hide();

  // Individual calculation of one household.
  Frame2 = new QGroupBox(QStringLiteral("入力値から個別計算（世帯当たり）"), client);
  Frame2->setObjectName(QStringLiteral("Frame2"));
  Frame2->setGeometry(Tw(5040, 120, 4935, 5415));
  MakeLabel(Frame2, "Label6", QStringLiteral("家屋被害："), right, Tw(360, 405, 1575, 255));
  txtU2 = MakeBox(Frame2, "txtU2", BoxKind::Numeric, Tw(1920, 360, 1575, 270));
  MakeLabel(Frame2, "Label14", QStringLiteral("（百万円）"), left, Tw(3600, 405, 855, 255));
  MakeLabel(Frame2, "Label7", QStringLiteral("家財被害："), right, Tw(360, 765, 1575, 255));
  txtU3 = MakeBox(Frame2, "txtU3", BoxKind::Numeric, Tw(1920, 720, 1575, 270));
  MakeLabel(Frame2, "Label15", QStringLiteral("（百万円）"), left, Tw(3600, 765, 855, 255));
  MakeLabel(Frame2, "Label8", QStringLiteral("世帯金融資産残高："), right, Tw(360, 1125, 1575, 255));
  txtU4 = MakeBox(Frame2, "txtU4", BoxKind::Numeric, Tw(1920, 1080, 1575, 270));
  MakeLabel(Frame2, "Label16", QStringLiteral("（百万円）"), left, Tw(3600, 1125, 855, 255));
  MakeLabel(Frame2, "Label32", QStringLiteral("世帯年収："), right, Tw(360, 1485, 1575, 255));
  txtU5 = MakeBox(Frame2, "txtU5", BoxKind::Numeric, Tw(1920, 1440, 1575, 270));
  MakeLabel(Frame2, "Label31", QStringLiteral("（百万円）"), left, Tw(3600, 1485, 855, 255));
  MakeLabel(Frame2, "Label17", QStringLiteral("土地資産額："), right, Tw(360, 1845, 1575, 255));
  txtU6 = MakeBox(Frame2, "txtU6", BoxKind::Numeric, Tw(1920, 1800, 1575, 270));
  MakeLabel(Frame2, "Label18", QStringLiteral("（百万円）"), left, Tw(3600, 1845, 855, 255));
  MakeLabel(Frame2, "Label19", QStringLiteral("家庭用品額："), right, Tw(360, 2205, 1575, 255));
  txtU7 = MakeBox(Frame2, "txtU7", BoxKind::Numeric, Tw(1920, 2160, 1575, 270));
  MakeLabel(Frame2, "Label20", QStringLiteral("（百万円）"), left, Tw(3600, 2205, 855, 255));
  MakeLabel(Frame2, "Label21", QStringLiteral("家屋価格："), right, Tw(360, 2565, 1575, 255));
  txtU8 = MakeBox(Frame2, "txtU8", BoxKind::Numeric, Tw(1920, 2520, 1575, 270));
  MakeLabel(Frame2, "Label22", QStringLiteral("（百万円）"), left, Tw(3600, 2565, 855, 255));
  MakeLabel(Frame2, "Label23", QStringLiteral("物質資産への投資を除く消費額："), right, Tw(300, 2880, 1575, 375));
  txtU9 = MakeBox(Frame2, "txtU9", BoxKind::Numeric, Tw(1920, 2880, 1575, 270));
  MakeLabel(Frame2, "Label24", QStringLiteral("（百万円）"), left, Tw(3600, 2925, 855, 255));
  Line1 = new QFrame(Frame2);
  Line1->setObjectName(QStringLiteral("Line1"));
  Line1->setFrameShape(QFrame::HLine);
  Line1->setFrameShadow(QFrame::Plain);
  Line1->setLineWidth(1);
  Line1->setGeometry(Px(240), Px(3360), Px(4680) - Px(240), 1);
  MakeLabel(Frame2, "Label25", QStringLiteral("家計の選好特性："), right, Tw(360, 3525, 1575, 255));
  txtA1 = MakeBox(Frame2, "txtA1", BoxKind::Result, Tw(1920, 3480, 1575, 270));
  MakeLabel(Frame2, "Label26", QStringLiteral("（倍）"), left, Tw(3600, 3525, 855, 255));
  MakeLabel(Frame2, "Label35", QStringLiteral("住民の治水投資に対する支払い意思額："), right,
            Tw(120, 3780, 1755, 375));
  txtA2 = MakeBox(Frame2, "txtA2", BoxKind::Result, Tw(1920, 3840, 1575, 270));
  MakeLabel(Frame2, "Label36", QStringLiteral("（百万円）"), left, Tw(3600, 3900, 1215, 255));
  MakeLabel(Frame2, "Label27", QStringLiteral("保険の最適カバー率："), right, Tw(120, 4245, 1815, 255));
  txtA3 = MakeBox(Frame2, "txtA3", BoxKind::Result, Tw(1920, 4200, 1575, 270));
  MakeLabel(Frame2, "Label28", QStringLiteral("（倍）"), left, Tw(3600, 4245, 855, 255));
  MakeLabel(Frame2, "Label29", QStringLiteral("流動性制約に伴う復旧遅延被害額："), right,
            Tw(300, 4545, 1575, 375));
  txtA4 = MakeBox(Frame2, "txtA4", BoxKind::Result, Tw(1920, 4560, 1575, 270));
  MakeLabel(Frame2, "Label30", QStringLiteral("（百万円）"), left, Tw(3600, 4605, 1215, 255));
  cmdExec = MakeButton(Frame2, "cmdExec", QStringLiteral("個別計算(&A)"), Tw(3360, 4920, 1455, 375));

  // Each box is known by its item label, not by its frame's caption.
  const std::pair<const char*, QLineEdit*> items[] = {
      {"Label1", txtC1},  {"Label2", txtC2},  {"Label3", txtC3},  {"Label4", txtC4},
      {"Label33", txtInFile}, {"Label34", txtOutFile},
      {"Label6", txtU2},  {"Label7", txtU3},  {"Label8", txtU4},  {"Label32", txtU5},
      {"Label17", txtU6}, {"Label19", txtU7}, {"Label21", txtU8}, {"Label23", txtU9},
      {"Label25", txtA1}, {"Label35", txtA2}, {"Label27", txtA3}, {"Label29", txtA4}};
  for (const auto& [labelName, box] : items) {
    auto* label = client->findChild<WrapLabel*>(QString::fromLatin1(labelName));
    label->setBuddy(box);
    box->setAccessibleName(ItemName(*label));
  }

  // The initial texts equal the defaults; load replaces them at once.
  for (const auto& key : SettingsStore::kKeys) settingBox(key.name)->setText(QString::fromLatin1(key.defaultText));
  // The checked box's pattern, without running its handler.
  txtC1->setEnabled(false);

  connect(chkRP, &QCheckBox::toggled, this, &frmMain::chkRP_Click);
  connect(cmdExec, &QPushButton::clicked, this, &frmMain::cmdExec_Click);
  connect(cmdExecAll, &QPushButton::clicked, this, &frmMain::cmdExecAll_Click);
  connect(cmdSelInFile, &QPushButton::clicked, this, &frmMain::cmdSelInFile_Click);
  connect(cmdSelOutFile, &QPushButton::clicked, this, &frmMain::cmdSelOutFile_Click);
  connect(cmdCancelAll, &QPushButton::clicked, this, &frmMain::cmdCancelAll_Click);
  // A long path does not fit its box: the tool tip shows it whole.
  for (QLineEdit* box : {txtInFile, txtOutFile}) connect(box, &QLineEdit::textChanged, box, &QWidget::setToolTip);
}

void frmMain::buildMenus() {
  menuFile = menuBar()->addMenu(QStringLiteral("ファイル(&F)"));
  menuFile->setObjectName(QStringLiteral("menuFile"));
  menScenarios = menuFile->addAction(QStringLiteral("シナリオ計算(&S)..."));
  menScenarios->setObjectName(QStringLiteral("menScenarios"));
  connect(menScenarios, &QAction::triggered, this, &frmMain::menScenarios_Click);
  menuFile->addSeparator();
  menuExit = menuFile->addAction(QStringLiteral("終了(&X)"));
  menuExit->setObjectName(QStringLiteral("menuExit"));
  menuSetting = menuBar()->addMenu(QStringLiteral("設定(&T)"));
  menuSetting->setObjectName(QStringLiteral("menuSetting"));
  menInitValue = menuSetting->addAction(QStringLiteral("モデル設定値の読み込み(&I)"));
  menInitValue->setObjectName(QStringLiteral("menInitValue"));
  menKeepColumns = menuSetting->addAction(QStringLiteral("9列目以降を結果に残す(&K)"));
  menKeepColumns->setObjectName(QStringLiteral("menKeepColumns"));
  menKeepColumns->setCheckable(true);
  connect(menuExit, &QAction::triggered, this, &frmMain::menuExit_Click);
  connect(menInitValue, &QAction::triggered, this, &frmMain::menInitValue_Click);
  connect(menKeepColumns, &QAction::triggered, this, &frmMain::menKeepColumns_Click);

  // The views: each one is enabled once there is something to show.
  menuView = menuBar()->addMenu(QStringLiteral("表示(&V)"));
  menuView->setObjectName(QStringLiteral("menuView"));
  menExplain = menuView->addAction(QStringLiteral("計算過程(&K)"));
  menExplain->setObjectName(QStringLiteral("menExplain"));
  menGapTable = menuView->addAction(QStringLiteral("ギャップ分布表(&G)"));
  menGapTable->setObjectName(QStringLiteral("menGapTable"));
  menBatchSummary = menuView->addAction(QStringLiteral("一括計算の集計(&S)"));
  menBatchSummary->setObjectName(QStringLiteral("menBatchSummary"));
  menMap = menuView->addAction(QStringLiteral("地図(&M)"));
  menMap->setObjectName(QStringLiteral("menMap"));
  connect(menMap, &QAction::triggered, this, &frmMain::menMap_Click);
  menRiskCurve = menuView->addAction(QStringLiteral("リスクカーブ(&R)"));
  menRiskCurve->setObjectName(QStringLiteral("menRiskCurve"));
  connect(menRiskCurve, &QAction::triggered, this, &frmMain::menRiskCurve_Click);
  for (QAction* view : {menExplain, menGapTable, menBatchSummary, menMap, menRiskCurve}) view->setEnabled(false);
  connect(menExplain, &QAction::triggered, this, &frmMain::menExplain_Click);
  connect(menGapTable, &QAction::triggered, this, &frmMain::menGapTable_Click);
  connect(menBatchSummary, &QAction::triggered, this, &frmMain::menBatchSummary_Click);
}

void frmMain::setTabOrder() {
  QWidget* chain[] = {chkRP,     txtC1,         txtC2,      txtC3,      txtC4,     cmdSelInFile, cmdSelOutFile,
                      cmdExecAll, txtU2,        txtU3,      txtU4,      txtU5,     txtU6,        txtU7,
                      txtU8,     txtU9,         cmdExec,    txtOutFile, txtInFile, txtA4,        txtA3,
                      txtA1,     txtA2};
  for (std::size_t i = 1; i < std::size(chain); ++i) QWidget::setTabOrder(chain[i - 1], chain[i]);
  // The stop button, shown only while a batch runs, follows the batch button.
  QWidget::setTabOrder(cmdExecAll, cmdCancelAll);
}

QString frmMain::decimalSeparator() const { return txtC1->locale().decimalPoint(); }

QString frmMain::defaultText(const char* text) const {
  // The defaults are numbers: shown with the separator the boxes read.
  QString shown = QString::fromLatin1(text);
  shown.replace(QLatin1Char('.'), decimalSeparator());
  return shown;
}

std::array<std::string, 4> frmMain::commonSettingTexts() const {
  return {Utf8(txtC1), Utf8(txtC2), Utf8(txtC3), Utf8(txtC4)};
}

QLineEdit* frmMain::settingBox(const char* key) const {
  return findChild<QLineEdit*>(QString::fromLatin1(key));
}

void frmMain::LoadSettings() {
  QStringList keys;
  QStringList defaults;
  for (const auto& key : SettingsStore::kKeys) {
    keys << QString::fromLatin1(key.name);
    defaults << defaultText(key.defaultText);
  }
  const QStringList texts = store_.get(keys, defaults);
  for (qsizetype i = 0; i < keys.size(); ++i) settingBox(SettingsStore::kKeys[i].name)->setText(texts[i]);
}

void frmMain::SaveSettings() {
  QStringList keys;
  QStringList texts;
  for (const auto& key : SettingsStore::kKeys) {
    keys << QString::fromLatin1(key.name);
    texts << settingBox(key.name)->text();
  }
  store_.save(keys, texts);
}

void frmMain::chkRP_Click() {
  const bool withPremium = chkRP->isChecked();
  txtC1->setEnabled(!withPremium);
  txtC2->setEnabled(withPremium);
  txtC3->setEnabled(withPremium);
  txtC4->setEnabled(withPremium);
  txtU9->setEnabled(withPremium);
}

void frmMain::cmdExec_Click() {
  if (batchRunning_) return;  // the run owns the mode, the table and the settings until it ends
  lastCalculationFailed_ = !calculate();
  updateViews();
  emit calculationEnded();
}

bool frmMain::calculate() {
  riskPremiumMode_ = chkRP->isChecked() ? Mode::WithRiskPremium : Mode::WithoutRiskPremium;
  if (!findGapTable() || !LoadGapTable(gapTableFile_, table_, *reporter_)) return false;

  const std::string sep = decimalSeparator().toStdString();
  const std::array<std::string, 4> common = commonSettingTexts();
  const CommonSettingTexts commonTexts = {common[0], common[1], common[2], common[3]};
  // The message names no box: once it is read, the first box that failed
  // is selected, so that the user need not look through them all.
  FailureSeen seen(*reporter_);
  if (!CheckCommonSettings(commonTexts, riskPremiumMode_, settings_, seen, sep)) {
    selectFailedBox(seen.message);
    return false;
  }

  const std::array<std::string, 8> values = {Utf8(txtU2), Utf8(txtU3), Utf8(txtU4), Utf8(txtU5),
                                             Utf8(txtU6), Utf8(txtU7), Utf8(txtU8), Utf8(txtU9)};
  HouseholdTexts householdTexts;
  for (std::size_t i = 0; i < values.size(); ++i) householdTexts[i] = values[i];
  HouseholdInput household{};
  if (!ReadHouseholdFromScreen(householdTexts, riskPremiumMode_, household, seen, sep)) {
    selectFailedBox(seen.message);
    return false;
  }

  ModelResult result{};
  const auto show = [&sep](float value) { return QString::fromStdString(FormatDisplay(value, sep)); };
  if (riskPremiumMode_ == Mode::WithoutRiskPremium) {
    if (!ComputeWithoutRiskPremium(household, settings_, table_, result)) {
      reporter_->error(msg::kNotComputable);
      return false;
    }
    txtA1->showFromStart(QStringLiteral("-"));
    txtA2->showFromStart(QStringLiteral("-"));
    txtA3->showFromStart(QStringLiteral("-"));
    txtA4->showFromStart(show(result.DelayDamage));
  } else {
    if (!ComputeWithRiskPremium(household, settings_, table_, result)) {
      reporter_->error(msg::kNotComputable);
      return false;
    }
    txtA1->showFromStart(show(result.PreferenceFactor));
    txtA2->showFromStart(show(result.WillingnessToPay));
    txtA3->showFromStart(show(result.OptimalCoverage));
    txtA4->showFromStart(show(result.DelayDamage));
  }

  IndividualCalculation done;
  done.household = household;
  done.mode = riskPremiumMode_;
  done.settingTexts = common;
  done.settings = settings_;
  done.table = table_;
  done.gapTableFile = gapTableFile_;
  done.gapTableSha256 = Sha256OfFile(gapTableFile_).value_or(std::string());
  lastCalculation_ = std::move(done);
  return true;
}

void frmMain::selectFailedBox(const std::string& message) {
  const std::string sep = decimalSeparator().toStdString();
  const bool withPremium = riskPremiumMode_ == Mode::WithRiskPremium;
  // The first box of those the check read that holds no number; a disabled
  // one cannot take the focus and is passed over.
  const auto firstNotNumber = [&sep](std::initializer_list<QLineEdit*> boxes, std::size_t count) -> QLineEdit* {
    for (QLineEdit* box : boxes) {
      if (count-- == 0) break;
      float value = 0.0f;
      if (box->isEnabled() && !TextToNumber(box->text().toStdString(), value, sep)) return box;
    }
    return nullptr;
  };
  QLineEdit* box = nullptr;
  if (message == msg::kCommonSettingsInvalid) {
    box = firstNotNumber({txtC1, txtC2, txtC3, txtC4}, 4);
  } else if (message == msg::kMarkupRateZero) {
    box = txtC4;
  } else if (message == msg::kInputValuesInvalid) {
    box = firstNotNumber({txtU2, txtU3, txtU4, txtU5, txtU6, txtU7, txtU8, txtU9}, withPremium ? 8 : 7);
  } else if (message == msg::kAssetSumZero) {
    box = txtU7;
  } else if (message == msg::kLiquiditySumZero) {
    box = txtU4;
  }
  if (box == nullptr || !box->isEnabled()) return;
  box->setFocus(Qt::OtherFocusReason);
  box->selectAll();
}

bool frmMain::findGapTable() {
  // The user's own table sits in the folder of the settings store.
  const QString settingsFile = QSettings(QStringLiteral("Velmora"), QStringLiteral("Velmora")).fileName();
  gapTableFile_.clear();
  return LocateGapTable(FilePath(appFolder_), FilePath(QFileInfo(settingsFile).absolutePath()), gapTableFile_,
                        *reporter_);
}

void frmMain::setBatchRunning(bool running) {
  batchRunning_ = running;
  // The stop button appears before the batch button is disabled, so that a
  // focus on the one moves to the other, and back once the run has ended.
  const bool stopHadFocus = cmdCancelAll->hasFocus();
  if (running) {
    batchStarted_ = std::chrono::steady_clock::now();
    cancelRequested_ = false;
    cmdCancelAll->show();
  }
  cmdExec->setEnabled(!running);
  cmdExecAll->setEnabled(!running);
  cmdSelInFile->setEnabled(!running);
  cmdSelOutFile->setEnabled(!running);
  menInitValue->setEnabled(!running);
  menKeepColumns->setEnabled(!running);
  menScenarios->setEnabled(!running);
  prgBatch->setValue(0);
  prgBatch->setFormat(BatchProgressText(0, 0.0));
  prgBatch->setVisible(running);
  if (!running) {
    if (stopHadFocus) cmdExecAll->setFocus(Qt::OtherFocusReason);
    cmdCancelAll->hide();
  }
  // Busy, yet the window answers (the stop button among others).
  if (running) {
    QApplication::setOverrideCursor(Qt::BusyCursor);
  } else {
    QApplication::restoreOverrideCursor();
  }
}

void frmMain::cmdExecAll_Click() {
  if (batchRunning_) return;
  riskPremiumMode_ = chkRP->isChecked() ? Mode::WithRiskPremium : Mode::WithoutRiskPremium;
  if (!findGapTable()) return;
  // The run reads these copies; the boxes stay editable meanwhile.
  const std::array<std::string, 4> common = commonSettingTexts();
  const std::string sep = decimalSeparator().toStdString();
  BatchCommand command;
  command.input = FilePath(txtInFile->text());
  command.output = FilePath(txtOutFile->text());
  command.mode = riskPremiumMode_;
  command.settingTexts = {common[0], common[1], common[2], common[3]};
  command.decimalSeparator = sep;
  command.gapTableFile = gapTableFile_;
  command.options.keepColumns = menKeepColumns->isChecked();
  // The summary view's histogram reads every delay damage the run wrote.
  command.options.keepDelayDamages = true;
  // With a mesh column in the input, the map gathers the lines as written.
  const std::unique_ptr<MapGatherer> map = GatherMap(command);

  // The command's messages wait until the window is no longer busy: no
  // message box under the busy cursor and the progress bar.
  DeferredReporter messages;
  BatchProgress progress;
  closeRequested_ = false;
  setBatchRunning(true);
  runningBatch_ = &progress;
  BatchSummary summary;
  const BatchOutcome outcome = runBatchWhileLive(command, messages, progress, &summary);
  runningBatch_ = nullptr;
  const bool stoppedByUser = outcome == BatchOutcome::Cancelled && cancelRequested_;
  setBatchRunning(false);
  if (stoppedByUser) messages.info(kBatchStopped);
  if (outcome == BatchOutcome::Completed) {
    lastBatchSummary_ = std::move(summary);
    lastMap_ = map ? map->finish(command, settings_, table_, *lastBatchSummary_) : nullptr;
    updateViews();
    emit batchCompleted();
  }
  // Once the window has been closed nobody is there to read them.
  const auto stillWanted = [this] { return !closeRequested_; };
  if (lastBatchSummary_ && outcome == BatchOutcome::Completed) {
    WithSummaryDetails withDetails(*reporter_, BatchSummaryText(*lastBatchSummary_).toStdString());
    messages.passOn(withDetails, stillWanted);
  } else {
    messages.passOn(*reporter_, stillWanted);
  }
}

BatchOutcome frmMain::runBatchWhileLive(const BatchCommand& command, Reporter& messages, BatchProgress& progress,
                                        BatchSummary* summary) {
  // The run fills settings_ and table_: this thread leaves both alone until
  // the run has ended (the commands that use them are refused meanwhile).
  // The run's thread touches nothing of the window: this thread learns of
  // its end from the flag, at the bar's next step.
  std::atomic<bool> ended{false};
  std::exception_ptr failure;
  BatchOutcome outcome = BatchOutcome::Failed;
  std::jthread run;
  try {
    run = std::jthread([&] {
      try {
        outcome = RunBatchCommand(command, settings_, table_, messages, &progress, summary);
      } catch (...) {
        failure = std::current_exception();
      }
      ended.store(true);
    });
  } catch (const std::system_error&) {
    // No thread to be had: the run takes this one, and the window waits.
    return RunBatchCommand(command, settings_, table_, messages, &progress, summary);
  }
  QEventLoop loop;
  QTimer poll;
  poll.setInterval(kProgressPollMs);
  connect(&poll, &QTimer::timeout, this, [&] {
    showBatchProgress(progress);
    if (ended.load()) loop.quit();
  });
  poll.start();
  loop.exec();
  // The loop also ends early when the program is ending (every event loop
  // is told to end then): the run stops there and keeps the earlier output.
  if (!ended.load()) progress.cancel();
  run.join();
  if (failure) std::rethrow_exception(failure);
  return outcome;
}

void frmMain::showBatchProgress(const BatchProgress& progress) {
  // The phase first: a new pass resets its counts before it shows itself,
  // and a value from the wrong pass is lower and left out below.
  const BatchPhase phase = progress.phase();
  const std::uint64_t total = progress.bytesTotal();
  if (phase == BatchPhase::Idle || total == 0) return;
  const double part = qBound(0.0, static_cast<double>(progress.bytesRead()) / static_cast<double>(total), 1.0);
  const int value = phase == BatchPhase::Checking
                        ? static_cast<int>(part * kCheckSteps)
                        : kCheckSteps + static_cast<int>(part * (kProgressSteps - kCheckSteps));
  if (value > prgBatch->value()) prgBatch->setValue(value);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - batchStarted_).count();
  prgBatch->setFormat(BatchProgressText(prgBatch->value(), seconds));
}

void frmMain::cmdCancelAll_Click() {
  if (runningBatch_ == nullptr) return;
  // As a close does: the run stops within a block of lines and keeps the
  // earlier output.
  cancelRequested_ = true;
  runningBatch_->cancel();
}

QString BatchProgressText(int steps, double seconds) {
  const int permille = std::clamp(steps, 0, kProgressSteps);
  QString text = QStringLiteral("%1%").arg(permille * 100 / kProgressSteps);
  // An estimate from the first second on, as the tool gives one.
  if (seconds < 1.0 || permille == 0 || permille == kProgressSteps) return text;
  const double left = seconds * (kProgressSteps - permille) / permille;
  if (left < 90.0) return text + QStringLiteral("　残り約 %1 秒").arg(static_cast<long long>(left + 0.5));
  return text + QStringLiteral("　残り約 %1 分").arg(static_cast<long long>(left / 60.0 + 0.5));
}

void frmMain::cmdSelInFile_Click() {
  if (batchRunning_) return;
  const RegainFocus regain(this);
  const QString chosen = dialogs_->showOpenDialog(this, kCsvFilter, appFolder_);
  if (!chosen.isEmpty()) txtInFile->setText(chosen);
}

void frmMain::cmdSelOutFile_Click() {
  if (batchRunning_) return;
  const RegainFocus regain(this);
  const QString chosen = dialogs_->showSaveDialog(this, kCsvFilter, appFolder_, kDefaultOutputName);
  if (chosen.isEmpty()) return;
  txtOutFile->setText(WithCsvExtension(chosen));
}

void frmMain::menInitValue_Click() {
  if (batchRunning_) return;
  store_.deleteApplication();
  LoadSettings();
  SaveSettings();
  // The model's defaults come back; the window's own choice stays.
  if (menKeepColumns->isChecked()) menKeepColumns_Click();
}

bool frmMain::keepsColumns() const { return menKeepColumns->isChecked(); }

void frmMain::menKeepColumns_Click() {
  store_.saveOption(QString::fromLatin1(SettingsStore::kKeepColumns), menKeepColumns->isChecked());
}

void frmMain::updateViews() {
  menExplain->setEnabled(lastCalculation_.has_value());
  menGapTable->setEnabled(lastCalculation_.has_value());
  menBatchSummary->setEnabled(lastBatchSummary_.has_value());
  if (lastCalculation_ && explainDialog_ != nullptr && explainDialog_->isVisible()) {
    explainDialog_->showCalculation(*lastCalculation_, lastCalculationFailed_);
  }
  if (lastCalculation_ && gapTableDialog_ != nullptr && gapTableDialog_->isVisible()) {
    gapTableDialog_->showTable(lastCalculation_->table, lastCalculation_->gapTableFile,
                               lastCalculation_->gapTableSha256, ReadKey(*lastCalculation_), lastCalculationFailed_);
  }
  if (lastBatchSummary_ && batchSummaryDialog_ != nullptr && batchSummaryDialog_->isVisible()) {
    batchSummaryDialog_->showSummary(*lastBatchSummary_);
  }
  menMap->setEnabled(lastMap_ != nullptr);
  if (mapView_ != nullptr && mapView_->isVisible()) {
    // A run without a map leaves none of an earlier run on the screen.
    if (lastMap_) {
      mapView_->showCells(lastMap_);
    } else {
      mapView_->close();
    }
  }
}

void frmMain::menExplain_Click() {
  if (!lastCalculation_) return;
  OpenViewWindow(*this, explainDialog_, QStringLiteral("Explain"), [this](ExplainDialog& view) {
    view.showCalculation(*lastCalculation_, lastCalculationFailed_);
  });
}

void frmMain::menGapTable_Click() {
  if (!lastCalculation_) return;
  OpenViewWindow(*this, gapTableDialog_, QStringLiteral("GapTable"), [this](GapTableDialog& view) {
    view.showTable(lastCalculation_->table, lastCalculation_->gapTableFile, lastCalculation_->gapTableSha256,
                   ReadKey(*lastCalculation_), lastCalculationFailed_);
  });
}

void frmMain::menBatchSummary_Click() {
  if (!lastBatchSummary_) return;
  OpenViewWindow(*this, batchSummaryDialog_, QStringLiteral("BatchSummary"),
                 [this](BatchSummaryDialog& view) { view.showSummary(*lastBatchSummary_); });
}

void frmMain::menMap_Click() {
  if (!lastMap_) return;
  if (mapView_ == nullptr) mapView_ = new MapView(*reporter_, *dialogs_);
  mapView_->showCells(lastMap_);
  ShowViewWindow(*this, *mapView_, QStringLiteral("Map"));
}

void frmMain::menScenarios_Click() {
  if (batchRunning_) return;
  if (scenarioDialog_ == nullptr) {
    // The window decides the mode, the settings and the table when a run starts.
    const auto prepare = [this](ScenarioCommand& command) {
      if (batchRunning_) return false;
      command.mode = chkRP->isChecked() ? Mode::WithRiskPremium : Mode::WithoutRiskPremium;
      if (!findGapTable()) return false;
      command.gapTableFile = gapTableFile_;
      command.settingTexts = commonSettingTexts();
      command.decimalSeparator = decimalSeparator().toStdString();
      return true;
    };
    scenarioDialog_ = new ScenarioDialog(dialogs_, ownReporter_ ? nullptr : reporter_, prepare, this);
    scenarioDialog_->setModal(true);
    connect(scenarioDialog_, &ScenarioDialog::completed, this, [this] {
      lastScenarioSummary_ = scenarioDialog_->lastSummary();
      menRiskCurve->setEnabled(true);
      if (riskCurveView_ != nullptr && riskCurveView_->isVisible()) riskCurveView_->showSummary(*lastScenarioSummary_);
    });
  }
  scenarioDialog_->show();
  scenarioDialog_->raise();
  scenarioDialog_->activateWindow();
}

void frmMain::menRiskCurve_Click() {
  if (!lastScenarioSummary_) return;
  OpenViewWindow(*this, riskCurveView_, QStringLiteral("RiskCurve"),
                 [this](RiskCurveView& view) { view.showSummary(*lastScenarioSummary_); });
}

void frmMain::menuExit_Click() { close(); }

void frmMain::closeEvent(QCloseEvent* event) {
  SaveSettings();
  // A running batch stops within a block of lines and keeps the earlier
  // output; its handler then returns into a closed window and ends quietly,
  // as does one still showing its messages.
  closeRequested_ = true;
  if (runningBatch_ != nullptr) runningBatch_->cancel();
  event->accept();
}

}  // namespace velmora
