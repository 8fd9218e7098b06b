#include "ui/frm_main.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QFileInfo>
#include <QLayout>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QSessionManager>
#include <QSettings>
#include <QTimer>
#include <functional>

#include "form/layout.h"
#include "ui/app_folder.h"
#include "ui/batch_summary_dialog.h"
#include "ui/explain_dialog.h"
#include "ui/form_widgets.h"
#include "ui/gap_table_dialog.h"
#include "ui/japanese_font.h"
#include "ui/map_cells.h"
#include "ui/map_view.h"
#include "ui/message_box_reporter.h"
#include "ui/risk_curve_view.h"
#include "ui/scenario_dialog.h"
#include "ui/text_box.h"
#include "ui/view_window.h"

// The icon lives in this static library: register its resources before use.
static void InitResources() { Q_INIT_RESOURCE(velmora); }

namespace velmora {

// How often the progress bar follows the running batch.
constexpr int kProgressPollMs = 30;

frmMain::frmMain(Reporter* reporter, FileDialogs* dialogs, QWidget* parent) : QMainWindow(parent) {
  if (reporter == nullptr) reporter = (ownReporter_ = std::make_unique<MessageBoxReporter>(this)).get();
  if (dialogs == nullptr) dialogs = (ownDialogs_ = std::make_unique<QtFileDialogs>()).get();
  reporter_ = reporter;
  dialogs_ = dialogs;

  InitResources();
  setObjectName(QStringLiteral("frmMain"));
  setWindowTitle(Q(form::kWindowCaption));
  QIcon icon;
  for (int size : {16, 32, 48}) icon.addFile(QStringLiteral(":/velmora/velmora-%1.png").arg(size), QSize(size, size));
  setWindowIcon(icon);
  // Fixed border: close and minimise, no maximise.
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);

  auto* client = new QWidget(this);
  client->setObjectName(QStringLiteral("client"));
  client->setFixedSize(Px(form::kClientWidth), Px(form::kClientHeight));
  setCentralWidget(client);
  BuildControls(*client);
  const auto order = form::FocusOrder();
  for (std::size_t i = 1; i < order.size(); ++i) QWidget::setTabOrder(widget(order[i - 1]), widget(order[i]));
  // The stop button, shown only while a batch runs, follows the batch button.
  QWidget::setTabOrder(widget("cmdExecAll"), widget("cmdCancelAll"));
  buildMenus();

  // Load: the application folder, a Japanese font on every control, then the
  // stored settings.
  appFolder_ = AppFolder();
  const QFont font = JapaneseFont();
  setFont(font);
  menuBar()->setFont(font);
  for (QMenu* menu : menuBar()->findChildren<QMenu*>()) menu->setFont(font);
  // The user's own table sits in the folder of the settings store.
  const QString settingsFile = QSettings(QStringLiteral("Velmora"), QStringLiteral("Velmora")).fileName();
  formDialogs_ = std::make_unique<DialogsForForm>(*dialogs_, *this);
  form_ = std::make_unique<form::Form>(static_cast<form::FormView&>(*this), *reporter_, *formDialogs_, store_,
                                       FilePath(appFolder_), FilePath(QFileInfo(settingsFile).absolutePath()));
  form_->setSummaryDetails([](const BatchSummary& s) { return BatchSummaryText(s).toStdString(); });
  // With a mesh column in the input, the map gathers the lines as written.
  form_->setBatchHooks(
      {[this](BatchCommand& command) { map_ = GatherMap(command); },
       [this](const BatchCommand& c, const CommonSettings& s, const GapTable& t, const BatchSummary& r) {
         lastMap_ = map_ ? map_->finish(c, s, t, r) : nullptr;
       }});
  form_->load();

  shareTimer_ = new QTimer(this);
  shareTimer_->setInterval(kProgressPollMs);
  connect(shareTimer_, &QTimer::timeout, this, [this] { form_->showBatchShare(); });

  connect(static_cast<QCheckBox*>(widget("chkRP")), &QCheckBox::toggled, this, [this] { form_->modeSwitched(); });
  connectCommands();

  layout()->setSizeConstraint(QLayout::SetFixedSize);

  // A session that ends (logout, shutdown) keeps the settings like a close.
  connect(qApp, &QGuiApplication::commitDataRequest, this, [this](QSessionManager&) { SaveSettings(); },
          Qt::DirectConnection);
}

// A running batch is cancelled and waited for while the window still stands.
frmMain::~frmMain() { form_.reset(); }

void frmMain::buildMenus() {
  QMenu* menu = nullptr;
  const auto add = [](QMenu* to, std::string_view name, const QString& caption) {
    QAction* a = to->addAction(caption);
    a->setObjectName(Q(name));
    return a;
  };
  for (const form::MenuItem& item : form::Menus()) {
    if (!item.menu.empty()) {
      add(menu, item.name, Q(item.caption))->setCheckable(item.checkable);
      continue;
    }
    menu = menuBar()->addMenu(Q(item.caption));
    menu->setObjectName(Q(item.name));
    // The flood scenarios, a separator, then the form's own items.
    if (item.name == "menuFile") {
      add(menu, "menScenarios", QStringLiteral("シナリオ計算(&S)..."));
      menu->addSeparator();
    }
  }
  // After the form's views, those of this window alone, each enabled once
  // there is something to show.
  add(menu, "menMap", QStringLiteral("地図(&M)"))->setEnabled(false);
  add(menu, "menRiskCurve", QStringLiteral("リスクカーブ(&R)"))->setEnabled(false);
}

void frmMain::connectCommands() {
  // A view opens once there is something to show.
  const auto open = [this](auto& view, const char* name, bool shown) {
    if (shown) OpenViewWindow(*this, view, QString::fromLatin1(name), [this](auto& v) { fill(v); });
  };
  const std::pair<const char*, std::function<void()>> commands[] = {
      {"cmdExec", [this] { cmdExec_Click(); }},
      {"cmdExecAll", [this] { form_->startBatch(); }},
      {"cmdCancelAll", [this] { form_->cancelBatch(); }},
      {"cmdSelInFile", [this] { form_->chooseInput(); }},
      {"cmdSelOutFile", [this] { form_->chooseOutput(); }},
      {"menuExit", [this] { close(); }},
      {"menInitValue", [this] { form_->resetSettings(); }},
      {"menKeepColumns", [this] { form_->keepColumnsToggled(); }},
      {"menScenarios", [this] { openScenarios(); }},
      {"menExplain", [=, this] { open(explainView_, "Explain", form_->lastCalculation().has_value()); }},
      {"menGapTable", [=, this] { open(gapTableView_, "GapTable", form_->lastCalculation().has_value()); }},
      {"menBatchSummary", [=, this] { open(batchSummaryView_, "BatchSummary", lastBatchSummary().has_value()); }},
      {"menRiskCurve", [=, this] { open(riskCurveView_, "RiskCurve", lastScenarioSummary_.has_value()); }},
      {"menMap", [this] {
         if (!lastMap_) return;
         if (mapView_ == nullptr) mapView_ = new MapView(*reporter_, *dialogs_);
         mapView_->showCells(lastMap_);
         ShowViewWindow(*this, *mapView_, QStringLiteral("Map"));
       }}};
  for (const auto& [name, command] : commands) {
    if (auto* button = qobject_cast<QPushButton*>(widget(name))) {
      connect(button, &QPushButton::clicked, this, command);
    } else {
      connect(action(name), &QAction::triggered, this, command);
    }
  }
}

QWidget* frmMain::widget(std::string_view name) const { return findChild<QWidget*>(Q(name)); }
QAction* frmMain::action(std::string_view name) const { return findChild<QAction*>(Q(name)); }

// --- form::FormView ---------------------------------------------------------

std::string frmMain::text(std::string_view box) const {
  return static_cast<QLineEdit*>(widget(box))->text().toStdString();
}

void frmMain::setText(std::string_view box, std::string_view text) {
  auto* w = static_cast<TextBox*>(widget(box));
  if (form::FindControl(box)->kind == form::Kind::Result) {
    w->showFromStart(Q(text));
  } else {
    w->setText(Q(text));
  }
}

void frmMain::setEnabled(std::string_view name, bool enabled) {
  if (QWidget* w = widget(name)) {
    w->setEnabled(enabled);
  } else if (QAction* a = action(name)) {
    a->setEnabled(enabled);
  }
}

bool frmMain::isChecked(std::string_view name) const {
  if (auto* check = qobject_cast<QCheckBox*>(widget(name))) return check->isChecked();
  return action(name)->isChecked();
}

void frmMain::setChecked(std::string_view name, bool checked) {
  if (auto* check = qobject_cast<QCheckBox*>(widget(name))) {
    // The checked box's pattern comes from the form, not from its handler.
    const QSignalBlocker quiet(check);
    check->setChecked(checked);
  } else {
    action(name)->setChecked(checked);
  }
}

void frmMain::focusBox(std::string_view box) {
  auto* w = static_cast<QLineEdit*>(widget(box));
  w->setFocus(Qt::OtherFocusReason);
  w->selectAll();
}

void frmMain::showBatchRunning(bool running) {
  QWidget* stop = widget("cmdCancelAll");
  auto* bar = static_cast<QProgressBar*>(widget("prgBatch"));
  const bool stopHadFocus = stop->hasFocus();
  if (running) stop->show();
  action("menScenarios")->setEnabled(!running);
  bar->setValue(0);
  bar->setVisible(running);
  if (!running) {
    if (stopHadFocus) widget("cmdExecAll")->setFocus(Qt::OtherFocusReason);
    stop->hide();
  }
  // Busy, yet the window answers (the stop button among others).
  if (running && !busyCursor_) QApplication::setOverrideCursor(Qt::BusyCursor);
  if (!running && busyCursor_) QApplication::restoreOverrideCursor();
  busyCursor_ = running;
  running ? shareTimer_->start() : shareTimer_->stop();
}

void frmMain::showBatchShare(const form::BatchShare& share) {
  auto* bar = static_cast<QProgressBar*>(widget("prgBatch"));
  const int value = static_cast<int>(share.fraction * kProgressSteps);
  if (value > bar->value()) bar->setValue(value);
  bar->setFormat(Q(form::ShareText(share)));
}

void frmMain::postBatchEnded() {
  // From the run's thread: the window's thread takes it up. By name, so that
  // the run's thread hands over nothing of its own making.
  QMetaObject::invokeMethod(this, "batchEnded", Qt::QueuedConnection);
}

std::string frmMain::decimalSeparator() const { return widget("txtC1")->locale().decimalPoint().toStdString(); }

// --- Commands ---------------------------------------------------------------

void frmMain::cmdExec_Click() {
  form_->calculate();
  updateViews();
}

void frmMain::batchEnded() {
  form_->batchEnded();
  map_.reset();
  updateViews();
}

void frmMain::fill(ExplainDialog& view) const {
  view.showCalculation(form_->lastCalculation()->explanation, form_->lastCalculationFailed());
}

void frmMain::fill(GapTableDialog& view) const {
  const form::Calculation& last = *form_->lastCalculation();
  view.showTable(last.table, last.gapTableFile, last.gapTableSha256, form::ReadKey(last.explanation),
                 form_->lastCalculationFailed());
}

void frmMain::fill(BatchSummaryDialog& view) const { view.showSummary(*lastBatchSummary()); }
void frmMain::fill(RiskCurveView& view) const { view.showSummary(*lastScenarioSummary_); }

void frmMain::updateViews() {
  const auto open = [](QWidget* view) { return view != nullptr && view->isVisible(); };
  const bool calculated = form_->lastCalculation().has_value();
  if (calculated && open(explainView_)) fill(*explainView_);
  if (calculated && open(gapTableView_)) fill(*gapTableView_);
  if (lastBatchSummary() && open(batchSummaryView_)) fill(*batchSummaryView_);
  action("menMap")->setEnabled(lastMap_ != nullptr);
  // A run without a map leaves none of an earlier run on the screen.
  if (open(mapView_) && lastMap_) mapView_->showCells(lastMap_);
  if (open(mapView_) && !lastMap_) mapView_->close();
}

void frmMain::openScenarios() {
  if (isBatchRunning()) return;
  if (scenarioDialog_ == nullptr) {
    // The form decides the mode, the settings and the table when a run starts.
    const auto prepare = [this](ScenarioCommand& command) {
      std::optional<form::CommandSettings> s = form_->commandSettings();
      if (!s) return false;
      command.mode = s->mode;
      command.gapTableFile = s->gapTableFile;
      command.settingTexts = s->settingTexts;
      command.decimalSeparator = s->decimalSeparator;
      return true;
    };
    scenarioDialog_ = new ScenarioDialog(dialogs_, ownReporter_ ? nullptr : reporter_, prepare, this);
    scenarioDialog_->setModal(true);
    connect(scenarioDialog_, &ScenarioDialog::completed, this, [this] {
      lastScenarioSummary_ = scenarioDialog_->lastSummary();
      action("menRiskCurve")->setEnabled(true);
      if (riskCurveView_ != nullptr && riskCurveView_->isVisible()) fill(*riskCurveView_);
    });
  }
  scenarioDialog_->show();
  scenarioDialog_->raise();
  scenarioDialog_->activateWindow();
}

void frmMain::closeEvent(QCloseEvent* event) {
  // Settings saved; a running batch stops within a block of lines, keeps the
  // earlier output and is waited for; its messages go unseen.
  const bool wasRunning = form_->batchRunning();
  form_->close();
  if (wasRunning) showBatchRunning(false);
  event->accept();
}

}  // namespace velmora
