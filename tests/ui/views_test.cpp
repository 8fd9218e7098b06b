// The 表示 menu's views and the window's own batch options: how a result came
// about (the same list as velmora-batch --explain), the batch summary behind
// the completion message, and the kept columns.
#include <QAccessible>
#include <QAction>
#include <QCheckBox>
#include <QClipboard>
#include <QFile>
#include <QHeaderView>
#include <QScreen>
#include <QLabel>
#include <QPushButton>
#include <QScatterSeries>
#include <QTableWidget>
#include <QtTest>

#include "../hostile/run_program.h"
#include "ui/batch_summary_dialog.h"
#include "ui/explain_dialog.h"
#include "ui/gap_table_dialog.h"
#include "ui_fixture.h"

using namespace velmora;
using namespace velmora::test;

namespace {

const QString kCompleted = QStringLiteral("一括計算の結果を出力ファイルに書き込みました");
const std::string kDefaultRow = "9.725,7.38,4.81,3.57,7.416,14.759,22.616,3.321";

// Records the details that come with a note.
class DetailsReporter : public RecordingReporter {
 public:
  void infoWithDetails(std::string_view message, std::string_view d) override {
    info(message);
    details.emplace_back(d);
  }
  std::vector<std::string> details;
};

// The "計算過程:" section of an explanation as text: one "name value" a line.
QStringList QuantityLines(const QString& text) {
  QStringList lines;
  bool in = false;
  for (const QString& line : text.split(QLatin1Char('\n'))) {
    if (line == QStringLiteral("計算過程:")) {
      in = true;
    } else if (in && line.startsWith(QStringLiteral("  "))) {
      lines << line.simplified();
    } else if (in) {
      break;
    }
  }
  return lines;
}

// "identifier value" a row, as the tool lists them.
QStringList Rows(const QTableWidget& list) {
  QStringList rows;
  for (int r = 0; r < list.rowCount(); ++r) rows << list.item(r, 1)->text() + QLatin1Char(' ') + list.item(r, 2)->text();
  return rows;
}

// The Japanese name the window gives the row with `identifier`.
QString JapaneseName(const QTableWidget& list, const QString& identifier) {
  for (int r = 0; r < list.rowCount(); ++r) {
    if (list.item(r, 1)->text() == identifier) return list.item(r, 0)->text();
  }
  return QStringLiteral("(none)");
}

// The value text of the row `name`.
QString Value(const QStringList& rows, const QString& name) {
  const QStringList row = rows.filter(QRegularExpression(QLatin1Char('^') + name + QLatin1Char(' ')));
  return row.size() == 1 ? row[0].mid(name.size() + 1) : QStringLiteral("(none)");
}

// The view window of type T that is open or kept, if any: the views are
// windows of their own, not children of the main window.
template <class T>
T* ViewWindow() {
  for (QWidget* w : QApplication::topLevelWidgets()) {
    if (auto* view = qobject_cast<T*>(w)) return view;
  }
  return nullptr;
}

// What a screen reader reads as the value of the view's line named `name`
// (its caption).
QString Label(QWidget& view, const char* name) {
  for (QLabel* label : view.findChildren<QLabel*>()) {
    QAccessibleInterface* a = QAccessible::queryAccessibleInterface(label);
    if (a != nullptr && a->text(QAccessible::Name) == QString::fromUtf8(name)) return a->text(QAccessible::Value);
  }
  return QStringLiteral("(no label)");
}

}  // namespace

class ViewsTest : public QObject {
  Q_OBJECT
  QTemporaryDir settingsDir_;
  QTemporaryDir files_;
  std::unique_ptr<DetailsReporter> reporter_;
  std::unique_ptr<ScriptedDialogs> dialogs_;
  std::unique_ptr<frmMain> w_;
  std::unique_ptr<ModalGuard> guard_;

  QAction* action(const char* name) { return w_->findChild<QAction*>(QString::fromLatin1(name)); }
  QPushButton* button(const char* name) { return w_->findChild<QPushButton*>(QString::fromLatin1(name)); }
  void exec() { QTest::mouseClick(button("cmdExec"), Qt::LeftButton); }
  void newWindow() {
    reporter_ = std::make_unique<DetailsReporter>();
    dialogs_ = std::make_unique<ScriptedDialogs>();
    w_ = std::make_unique<frmMain>(reporter_.get(), dialogs_.get());
    w_->show();
    QVERIFY(QTest::qWaitForWindowExposed(w_.get()));
  }

 private slots:
  void initTestCase() {
    QVERIFY(settingsDir_.isValid());
    QVERIFY(files_.isValid());
    UseSettingsFolder(settingsDir_);
  }
  void init() {
    ClearStore();
    newWindow();
    guard_ = std::make_unique<ModalGuard>();
  }
  void cleanup() {
    if (guard_) QVERIFY2(guard_->seen.isEmpty(), qPrintable(guard_->seen.join(QLatin1Char(','))));
    w_.reset();
  }

  // The worked example in both modes: the rows are the tool's list, name for
  // name and text for text; the view follows each calculation while open and
  // keeps the last success when one fails.
  void explainViewShowsTheToolsList() {
    QVERIFY(!action("menExplain")->isEnabled());
    exec();
    QVERIFY(action("menExplain")->isEnabled());
    // The table view marks the entry the worked example read: key -27.
    action("menGapTable")->trigger();
    auto* table = ViewWindow<GapTableDialog>();
    QVERIFY(table && table->isVisible());
    QCOMPARE(table->readSeries()->count(), 1);
    QCOMPARE(table->readSeries()->at(0), QPointF(-2.7, static_cast<double>(0.001060106f)));
    table->close();
    action("menExplain")->trigger();
    auto* view = ViewWindow<ExplainDialog>();
    QVERIFY(view && view->isVisible() && !view->isModal());
    auto* list = view->findChild<QTableWidget*>(QStringLiteral("quantities"));
    auto* stale = view->findChild<QLabel*>(QStringLiteral("stale"));

    for (const bool withPremium : {true, false}) {
      if (!withPremium) {
        w_->findChild<QCheckBox*>(QStringLiteral("chkRP"))->setChecked(false);
        exec();  // the open view follows
      }
      std::vector<std::string> args = {"--explain", kDefaultRow, "--gap-table", w_->gapTableFile().string()};
      if (!withPremium) args.insert(args.begin(), "--without-risk-premium");
      const RunResult tool = RunProgram(VELMORA_BATCH_TOOL, args);
      QVERIFY2(tool.exited && tool.exitCode == 0, tool.err.c_str());
      const QStringList expected = QuantityLines(QString::fromStdString(tool.out));
      QVERIFY(expected.size() >= 10);
      QCOMPARE(Rows(*list), expected);
      // Each quantity under a Japanese name, its identifier beside it.
      for (int r = 0; r < list->rowCount(); ++r) {
        const QString name = list->item(r, 0)->text();
        QVERIFY2(name != list->item(r, 1)->text() && name.contains(QRegularExpression(QStringLiteral("[\\x{3040}-\\x{9fff}]"))),
                 qPrintable(name));
      }
      QCOMPARE(JapaneseName(*list, QStringLiteral("Gap")), QStringLiteral("ギャップ"));
      QCOMPARE(JapaneseName(*list, QStringLiteral("DelayDamage")), QStringLiteral("流動性制約に伴う復旧遅延被害額"));
      QVERIFY(!stale->isVisible());
      // The copy is the tool's text but for the input line the tool was given.
      view->findChild<QPushButton*>(QStringLiteral("copy"))->click();
      QString toolText = QString::fromStdString(tool.out);
      toolText.remove(QStringLiteral("入力行: ") + QString::fromStdString(kDefaultRow) + QLatin1Char('\n'));
      QCOMPARE(QGuiApplication::clipboard()->text(), toolText);
      QCOMPARE(Label(*view, "利子率"), withPremium ? QStringLiteral("0.040（単精度 0.04）")
                                                   : QStringLiteral("0.040（このモードでは使わない）"));
      // The worked example's gap, and the entry it read named above the list.
      const QStringList rows = Rows(*list);
      QCOMPARE(Value(rows, QStringLiteral("Gap")), withPremium ? QStringLiteral("-2.745614") : QStringLiteral("0.42331225"));
      QCOMPARE(Value(rows, QStringLiteral("GapKey")), withPremium ? QStringLiteral("-27") : QStringLiteral("4"));
      const QString entry = withPremium ? QStringLiteral("キー -27（ギャップ -2.7）の値 %1")
                                        : QStringLiteral("キー 4（ギャップ 0.4）の値 %1");
      QCOMPARE(Label(*view, "読んだ項目"), entry.arg(Value(rows, QStringLiteral("GapValue"))));
      QVERIFY(Label(*view, "計算のモード").startsWith(withPremium ? QLatin1Char('1') : QLatin1Char('0')));
    }
    const QStringList without = Rows(*list);
    // A failed calculation: the list stays, and says so.
    Box(*w_, "txtU2")->setText(QStringLiteral("x"));
    exec();
    QCOMPARE(reporter_->messages.size(), std::size_t(1));
    reporter_->messages.clear();
    QVERIFY(stale->isVisible());
    QCOMPARE(Rows(*list), without);
    QVERIFY(action("menExplain")->isEnabled());
    QTest::keyClick(view, Qt::Key_Escape);
    QVERIFY(!view->isVisible());
  }

  // Each view is a window of its own that can go behind the main window. It
  // opens beside the main window, not over it; where the user puts it, it
  // stays while it is reused, and it comes back there in the next session
  // from the settings' own group. The main window's close closes it.
  void viewsAreWindowsOfTheirOwnBesideTheWindow() {
    w_->move(30, 30);
    exec();
    action("menExplain")->trigger();
    auto* view = ViewWindow<ExplainDialog>();
    QVERIFY(view && view->isVisible());
    QVERIFY(view->parentWidget() == nullptr);
    QCOMPARE(view->windowType(), Qt::Window);  // not a dialog, kept above its owner
    QVERIFY(!view->frameGeometry().intersects(w_->frameGeometry()));
    QVERIFY(view->screen()->availableGeometry().contains(view->frameGeometry()));

    const QRect placed(760, 120, 520, 480);
    view->setGeometry(placed);
    exec();
    action("menExplain")->trigger();  // while open
    QCOMPARE(ViewWindow<ExplainDialog>(), view);
    QCOMPARE(view->geometry(), placed);
    view->close();
    action("menExplain")->trigger();  // after its close
    QCOMPARE(ViewWindow<ExplainDialog>(), view);
    QVERIFY(view->isVisible());
    QCOMPARE(view->geometry(), placed);

    w_->close();
    QVERIFY(!view->isVisible());
    {
      QSettings s(QStringLiteral("Velmora"), QStringLiteral("Velmora"));
      QVERIFY(!s.value(QStringLiteral("Views/Explain/geometry")).toByteArray().isEmpty());
      s.beginGroup(QStringLiteral("Setting"));
      QCOMPARE(s.childKeys().size(), 12);
    }
    w_.reset();
    QCOMPARE(ViewWindow<ExplainDialog>(), nullptr);
    newWindow();
    exec();
    action("menExplain")->trigger();
    QCOMPARE(ViewWindow<ExplainDialog>()->geometry(), placed);
  }

  // 設定 → 9列目以降を結果に残す: kept in a group of its own, read at start,
  // and the window's batch keeps the ninth field on. The completion message
  // keeps its text and carries the run's summary as its details.
  void keptColumnsAndTheSummaryBehindTheMessage() {
    QVERIFY(!action("menBatchSummary")->isEnabled());
    QVERIFY(!action("menKeepColumns")->isChecked());
    action("menKeepColumns")->trigger();
    w_->close();
    w_.reset();
    {
      QSettings s(QStringLiteral("Velmora"), QStringLiteral("Velmora"));
      s.beginGroup(QStringLiteral("Setting"));
      QCOMPARE(s.childKeys().size(), 12);
      s.endGroup();
      QCOMPARE(s.value(QStringLiteral("Batch/KeepColumns")).toBool(), true);
    }
    newWindow();
    QVERIFY(action("menKeepColumns")->isChecked());

    const QString in = files_.filePath(QStringLiteral("in.csv"));
    const QString out = files_.filePath(QStringLiteral("out.csv"));
    QFile f(in);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("h1,h2,h3,h4,h5,h6,h7,h8,mesh,note\r\n" + QByteArray::fromStdString(kDefaultRow) +
            ",5339-01,a\r\n9.725,7.380,4.810,3.570,7.416,0,0,1,5339-02,\r\n");
    f.close();
    dialogs_->answers = {in, out};
    QTest::mouseClick(button("cmdSelInFile"), Qt::LeftButton);
    QTest::mouseClick(button("cmdSelOutFile"), Qt::LeftButton);
    QTest::mouseClick(button("cmdExecAll"), Qt::LeftButton);
    WaitForBatch(*w_);

    QCOMPARE(MessageTexts(*reporter_), QStringList{kCompleted});
    QFile result(out);
    QVERIFY(result.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = result.readAll().split('\n');
    QCOMPARE(lines.size(), 4);
    QVERIFY2(lines[0].endsWith(",mesh,note\r"), lines[0].constData());
    QCOMPARE(lines[1], QByteArray::fromStdString(kDefaultRow) + ",0.3940527,1.342743,0.6642039,0.0002392535,5339-01,a\r");
    QCOMPARE(lines[2], QByteArray("9.725,7.380,4.810,3.570,7.416,0,0,1,,,,,5339-02,\r"));

    QVERIFY(w_->lastBatchSummary().has_value());
    const BatchSummary& summary = *w_->lastBatchSummary();
    QVERIFY(summary.keptColumns);
    QCOMPARE(summary.dataLines, 2u);
    QCOMPARE(summary.computed, 1u);
    QCOMPARE(summary.rowRejected, 1u);
    // The histogram's values: the one delay damage written.
    QCOMPARE(summary.delayDamages, std::vector<double>{0.0002392535});
    QCOMPARE(reporter_->details.size(), std::size_t(1));
    QCOMPARE(QString::fromStdString(reporter_->details[0]), BatchSummaryText(summary));
    QVERIFY(action("menBatchSummary")->isEnabled());
    action("menBatchSummary")->trigger();
    auto* view = ViewWindow<BatchSummaryDialog>();
    QVERIFY(view && view->isVisible());
    // On a laptop's screen it opens whole, buttons included.
    const QRect free = view->screen()->availableGeometry();
    QVERIFY2(free.contains(view->frameGeometry()), qPrintable(QStringLiteral("%1,%2 %3x%4")
                                                                 .arg(view->frameGeometry().x())
                                                                 .arg(view->frameGeometry().y())
                                                                 .arg(view->frameGeometry().width())
                                                                 .arg(view->frameGeometry().height())));
    // A new batch while it is open: the figures keep filling the table's width.
    reporter_->messages.clear();
    QTest::mouseClick(button("cmdExecAll"), Qt::LeftButton);
    WaitForBatch(*w_);
    QCOMPARE(MessageTexts(*reporter_), QStringList{kCompleted});
    QTableWidget* figures = view->figuresTable();
    QTRY_COMPARE(figures->horizontalHeader()->length(), figures->viewport()->width());
  }
};

QTEST_MAIN(ViewsTest)
#include "views_test.moc"
