// The window as laid out: every control's place, caption and initial state,
// the menus, the tab order and the Japanese text.
#include <QAccessible>
#include <QAction>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QtTest>

#include "core/messages.h"
#include "ui/app_folder.h"
#include "ui/qt_translations.h"
#include "ui/wrap_label.h"
#include "ui_fixture.h"

using namespace velmora;
using namespace velmora::test;

namespace {

enum Kind { Frame, Check, Label, RightLabel, Numeric, Result, File, Button };

struct Control {
  const char* name;
  Kind kind;
  const char* parent;
  const char* text;
  int left, top, width, height;  // twips
};

// Every control with its frame, caption or initial text and its place.
const Control kControls[] = {
    {"Frame1", Frame, "client", "全メッシュ共通の項目", 120, 120, 4695, 3135},
    {"chkRP", Check, "Frame1", "リスクプレミアムを考慮する(&T)", 240, 360, 3375, 255},
    {"Label1", RightLabel, "Frame1", "保険加入率：", 120, 765, 1575, 255},
    {"txtC1", Numeric, "Frame1", "0.610", 1680, 720, 1575, 270},
    {"Label9", Label, "Frame1", "（倍）", 3360, 765, 375, 255},
    {"Label2", RightLabel, "Frame1", "被害の発生確率：", 120, 1125, 1575, 255},
    {"txtC2", Numeric, "Frame1", "0.025", 1680, 1080, 1575, 270},
    {"Label10", Label, "Frame1", "（倍）", 3360, 1125, 375, 255},
    {"Label3", RightLabel, "Frame1", "利子率：", 120, 1485, 1575, 255},
    {"txtC3", Numeric, "Frame1", "0.040", 1680, 1440, 1575, 270},
    {"Label11", Label, "Frame1", "（倍）", 3360, 1485, 375, 255},
    {"Label4", RightLabel, "Frame1", "マークアップ率：", 120, 1845, 1575, 255},
    {"txtC4", Numeric, "Frame1", "3.140", 1680, 1800, 1575, 270},
    {"Label12", Label, "Frame1", "（倍）", 3360, 1845, 375, 255},
    {"Frame4", Frame, "client", "CSVファイルから一括計算", 120, 3360, 4695, 2175},
    {"Label33", Label, "Frame4", "入力ファイル", 360, 360, 1695, 255},
    {"txtInFile", File, "Frame4", "", 240, 600, 3735, 270},
    {"cmdSelInFile", Button, "Frame4", "選択", 3960, 600, 615, 255},
    {"Label34", Label, "Frame4", "出力ファイル", 360, 960, 1695, 255},
    {"txtOutFile", File, "Frame4", "", 240, 1200, 3735, 270},
    {"cmdSelOutFile", Button, "Frame4", "選択", 3960, 1200, 615, 255},
    {"cmdExecAll", Button, "Frame4", "一括計算(&E)", 3120, 1680, 1455, 375},
    {"Frame2", Frame, "client", "入力値から個別計算（世帯当たり）", 5040, 120, 4935, 5415},
    {"Label6", RightLabel, "Frame2", "家屋被害：", 360, 405, 1575, 255},
    {"txtU2", Numeric, "Frame2", "9.725", 1920, 360, 1575, 270},
    {"Label14", Label, "Frame2", "（百万円）", 3600, 405, 855, 255},
    {"Label7", RightLabel, "Frame2", "家財被害：", 360, 765, 1575, 255},
    {"txtU3", Numeric, "Frame2", "7.380", 1920, 720, 1575, 270},
    {"Label15", Label, "Frame2", "（百万円）", 3600, 765, 855, 255},
    {"Label8", RightLabel, "Frame2", "世帯金融資産残高：", 360, 1125, 1575, 255},
    {"txtU4", Numeric, "Frame2", "4.810", 1920, 1080, 1575, 270},
    {"Label16", Label, "Frame2", "（百万円）", 3600, 1125, 855, 255},
    {"Label32", RightLabel, "Frame2", "世帯年収：", 360, 1485, 1575, 255},
    {"txtU5", Numeric, "Frame2", "3.570", 1920, 1440, 1575, 270},
    {"Label31", Label, "Frame2", "（百万円）", 3600, 1485, 855, 255},
    {"Label17", RightLabel, "Frame2", "土地資産額：", 360, 1845, 1575, 255},
    {"txtU6", Numeric, "Frame2", "7.416", 1920, 1800, 1575, 270},
    {"Label18", Label, "Frame2", "（百万円）", 3600, 1845, 855, 255},
    {"Label19", RightLabel, "Frame2", "家庭用品額：", 360, 2205, 1575, 255},
    {"txtU7", Numeric, "Frame2", "14.759", 1920, 2160, 1575, 270},
    {"Label20", Label, "Frame2", "（百万円）", 3600, 2205, 855, 255},
    {"Label21", RightLabel, "Frame2", "家屋価格：", 360, 2565, 1575, 255},
    {"txtU8", Numeric, "Frame2", "22.616", 1920, 2520, 1575, 270},
    {"Label22", Label, "Frame2", "（百万円）", 3600, 2565, 855, 255},
    {"Label23", RightLabel, "Frame2", "物質資産への投資を除く消費額：", 300, 2880, 1575, 375},
    {"txtU9", Numeric, "Frame2", "3.321", 1920, 2880, 1575, 270},
    {"Label24", Label, "Frame2", "（百万円）", 3600, 2925, 855, 255},
    {"Label25", RightLabel, "Frame2", "家計の選好特性：", 360, 3525, 1575, 255},
    {"txtA1", Result, "Frame2", "", 1920, 3480, 1575, 270},
    {"Label26", Label, "Frame2", "（倍）", 3600, 3525, 855, 255},
    {"Label35", RightLabel, "Frame2", "住民の治水投資に対する支払い意思額：", 120, 3780, 1755, 375},
    {"txtA2", Result, "Frame2", "", 1920, 3840, 1575, 270},
    {"Label36", Label, "Frame2", "（百万円）", 3600, 3900, 1215, 255},
    {"Label27", RightLabel, "Frame2", "保険の最適カバー率：", 120, 4245, 1815, 255},
    {"txtA3", Result, "Frame2", "", 1920, 4200, 1575, 270},
    {"Label28", Label, "Frame2", "（倍）", 3600, 4245, 855, 255},
    {"Label29", RightLabel, "Frame2", "流動性制約に伴う復旧遅延被害額：", 300, 4545, 1575, 375},
    {"txtA4", Result, "Frame2", "", 1920, 4560, 1575, 270},
    {"Label30", Label, "Frame2", "（百万円）", 3600, 4605, 1215, 255},
    {"cmdExec", Button, "Frame2", "個別計算(&A)", 3360, 4920, 1455, 375},
};

QString CaptionOf(QWidget* w) {
  if (auto* g = qobject_cast<QGroupBox*>(w)) return g->title();
  if (auto* b = qobject_cast<QAbstractButton*>(w)) return b->text();
  if (auto* l = qobject_cast<QLabel*>(w)) return l->text();
  if (auto* e = qobject_cast<QLineEdit*>(w)) return e->text();
  return {};
}

// Every character a font must draw: the captions without their "&".
QStringList AllCaptions(QWidget& window) {
  QStringList captions;
  for (const Control& c : kControls) captions << QString::fromUtf8(c.text).remove(QLatin1Char('&'));
  for (QAction* a : window.findChildren<QAction*>()) captions << a->text().remove(QLatin1Char('&'));
  captions << QString::fromUtf8(msg::kCommonSettingsInvalid) << QString::fromUtf8(msg::kNotComputable)
           << QString::fromUtf8(msg::kAssetSumZero) << QString::fromUtf8(msg::kLiquiditySumZero)
           << QString::fromUtf8(msg::kMarkupRateZero) << QStringLiteral("ファイルを開くファイルを保存する")
           << kCsvFilter;
  return captions;
}

QStringList FocusChain(QWidget& window, QWidget* first, int steps) {
  QStringList chain;
  first->setFocus(Qt::TabFocusReason);
  for (int i = 0; i < steps; ++i) {
    QWidget* focused = QApplication::focusWidget();
    chain << (focused ? focused->objectName() : QStringLiteral("(none)"));
    QTest::keyClick(focused ? focused : &window, Qt::Key_Tab);
  }
  return chain;
}

}  // namespace

class LayoutTest : public QObject {
  Q_OBJECT
  QTemporaryDir settingsDir_;
  RecordingReporter reporter_;
  ScriptedDialogs dialogs_;

 private slots:
  void initTestCase() {
    QVERIFY(settingsDir_.isValid());
    UseSettingsFolder(settingsDir_);
    ClearStore();
  }

  void windowIsFixedWithMinimiseAndClose() {
    frmMain w(&reporter_, &dialogs_);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QCOMPARE(w.windowTitle(), QStringLiteral("Velmora"));
    QCOMPARE(w.objectName(), QStringLiteral("frmMain"));
    QCOMPARE(w.centralWidget()->size(), QSize(671, 376));
    QCOMPARE(w.centralWidget()->geometry().top(), w.menuBar()->geometry().bottom() + 1);
    QCOMPARE(w.minimumSize(), w.maximumSize());
    QCOMPARE(w.size(), w.minimumSize());
    const Qt::WindowFlags flags = w.windowFlags();
    QVERIFY(flags & Qt::WindowMinimizeButtonHint);
    QVERIFY(flags & Qt::WindowCloseButtonHint);
    QVERIFY(!(flags & Qt::WindowMaximizeButtonHint));
    const QList<QSize> sizes = w.windowIcon().availableSizes();
    for (int s : {16, 32, 48}) QVERIFY2(sizes.contains(QSize(s, s)), qPrintable(QString::number(s)));
  }

  void everyControlAtItsPlaceWithItsCaption() {
    frmMain w(&reporter_, &dialogs_);
    for (const Control& c : kControls) {
      const QString name = QString::fromLatin1(c.name);
      QWidget* widget = w.findChild<QWidget*>(name);
      QVERIFY2(widget, c.name);
      QCOMPARE(widget->parentWidget()->objectName(), QString::fromLatin1(c.parent));
      QCOMPARE(widget->geometry(), QRect(c.left / 15, c.top / 15, c.width / 15, c.height / 15));
      QCOMPARE(CaptionOf(widget), QString::fromUtf8(c.text));
      QVERIFY2(widget->isEnabled() == (name != QLatin1String("txtC1")), c.name);
      auto* box = qobject_cast<QLineEdit*>(widget);
      auto* label = qobject_cast<QLabel*>(widget);
      switch (c.kind) {
        case Label:
        case RightLabel:
          QVERIFY2(label && label->wordWrap(), c.name);
          QCOMPARE(bool(label->alignment() & Qt::AlignRight), c.kind == RightLabel);
          QCOMPARE(label->focusPolicy(), Qt::NoFocus);
          break;
        case Numeric:
          QVERIFY2(box && !box->isReadOnly(), c.name);
          QVERIFY(box->alignment() & Qt::AlignRight);
          QVERIFY2(!box->testAttribute(Qt::WA_InputMethodEnabled), c.name);
          QVERIFY(box->palette().color(QPalette::Base) != QColor(192, 192, 255));
          break;
        case Result:
          QVERIFY2(box && box->isReadOnly(), c.name);
          QVERIFY(box->alignment() & Qt::AlignRight);
          QCOMPARE(box->palette().color(QPalette::Active, QPalette::Base), QColor(192, 192, 255));
          QCOMPARE(box->palette().color(QPalette::Inactive, QPalette::Base), QColor(192, 192, 255));
          QVERIFY(box->focusPolicy() & Qt::TabFocus);
          break;
        case File:
          QVERIFY2(box && box->isReadOnly(), c.name);
          QVERIFY(!(box->alignment() & Qt::AlignRight));
          QVERIFY(box->palette().color(QPalette::Base) != QColor(192, 192, 255));
          break;
        case Button: {
          auto* b = qobject_cast<QPushButton*>(widget);
          QVERIFY2(b && !b->isDefault() && !b->autoDefault(), c.name);
          break;
        }
        case Check:
          QVERIFY(qobject_cast<QCheckBox*>(widget)->isChecked());
          break;
        case Frame:
          QVERIFY(qobject_cast<QGroupBox*>(widget));
          break;
      }
    }
    // The rule between household values and results.
    auto* line = w.findChild<QFrame*>(QStringLiteral("Line1"));
    QVERIFY(line);
    QCOMPARE(line->parentWidget()->objectName(), QStringLiteral("Frame2"));
    QCOMPARE(line->frameShape(), QFrame::HLine);
    QCOMPARE(line->geometry(), QRect(240 / 15, 3360 / 15, (4680 - 240) / 15, 1));
    // Progress shows only during a batch run, left of the batch button.
    auto* progress = w.findChild<QProgressBar*>(QStringLiteral("prgBatch"));
    QVERIFY(progress && progress->isHidden());
    auto* execAll = w.findChild<QWidget*>(QStringLiteral("cmdExecAll"));
    QVERIFY(progress->geometry().right() < execAll->geometry().left());
    QCOMPARE(progress->parentWidget(), execAll->parentWidget());
  }

  void menusInOrderWithAccessKeys() {
    frmMain w(&reporter_, &dialogs_);
    const QList<QAction*> bar = w.menuBar()->actions();
    QCOMPARE(bar.size(), 3);
    QCOMPARE(bar[0]->text(), QStringLiteral("ファイル(&F)"));
    QCOMPARE(bar[0]->menu()->objectName(), QStringLiteral("menuFile"));
    QCOMPARE(bar[1]->text(), QStringLiteral("設定(&T)"));
    QCOMPARE(bar[1]->menu()->objectName(), QStringLiteral("menuSetting"));
    const QList<QAction*> file = bar[0]->menu()->actions();
    // The flood scenarios, a separator, then the original item.
    QCOMPARE(file.size(), 3);
    QCOMPARE(file[0]->objectName(), QStringLiteral("menScenarios"));
    QCOMPARE(file[0]->text(), QStringLiteral("シナリオ計算(&S)..."));
    QVERIFY(file[1]->isSeparator());
    QCOMPARE(file[2]->objectName(), QStringLiteral("menuExit"));
    QCOMPARE(file[2]->text(), QStringLiteral("終了(&X)"));
    QVERIFY(file[2]->shortcut().isEmpty());
    const QList<QAction*> setting = bar[1]->menu()->actions();
    QCOMPARE(setting.size(), 2);
    QCOMPARE(setting[0]->objectName(), QStringLiteral("menInitValue"));
    QCOMPARE(setting[0]->text(), QStringLiteral("モデル設定値の読み込み(&I)"));
    QVERIFY(setting[0]->shortcut().isEmpty());
    // Beyond the original menus: the window's own option, then the views.
    QCOMPARE(setting[1]->text(), QStringLiteral("9列目以降を結果に残す(&K)"));
    QVERIFY(setting[1]->isCheckable());
    QCOMPARE(bar[2]->text(), QStringLiteral("表示(&V)"));
    QStringList views;
    for (QAction* a : bar[2]->menu()->actions()) views << a->text();
    QCOMPARE(views, (QStringList{"計算過程(&K)", "ギャップ分布表(&G)", "一括計算の集計(&S)", "地図(&M)", "リスクカーブ(&R)"}));
  }

  void tabOrderSkipsDisabledBoxes() {
    frmMain w(&reporter_, &dialogs_);
    w.show();
    QApplication::setActiveWindow(&w);
    QVERIFY(QTest::qWaitForWindowActive(&w));
    auto* chk = w.findChild<QCheckBox*>(QStringLiteral("chkRP"));
    const QStringList withPremium = {"chkRP", "txtC2", "txtC3", "txtC4", "cmdSelInFile", "cmdSelOutFile",
                                     "cmdExecAll", "txtU2", "txtU3", "txtU4", "txtU5", "txtU6", "txtU7", "txtU8",
                                     "txtU9", "cmdExec", "txtOutFile", "txtInFile", "txtA4", "txtA3", "txtA1",
                                     "txtA2", "chkRP"};
    QCOMPARE(FocusChain(w, chk, withPremium.size()), withPremium);
    chk->setChecked(false);
    const QStringList without = {"chkRP", "txtC1", "cmdSelInFile", "cmdSelOutFile", "cmdExecAll", "txtU2",
                                 "txtU3", "txtU4", "txtU5", "txtU6", "txtU7", "txtU8", "cmdExec", "txtOutFile",
                                 "txtInFile", "txtA4", "txtA3", "txtA1", "txtA2", "chkRP"};
    QCOMPARE(FocusChain(w, chk, without.size()), without);
  }

  void enterAndEscapeTriggerNothing() {
    frmMain w(&reporter_, &dialogs_);
    w.show();
    QApplication::setActiveWindow(&w);
    QVERIFY(QTest::qWaitForWindowActive(&w));
    for (const char* name : {"txtU2", "txtC2", "txtA4", "chkRP"}) {
      QWidget* target = w.findChild<QWidget*>(QString::fromLatin1(name));
      target->setFocus();
      QTest::keyClick(target, Qt::Key_Return);
      QTest::keyClick(target, Qt::Key_Enter);
      QTest::keyClick(target, Qt::Key_Escape);
    }
    QVERIFY(w.isVisible());
    QCOMPARE(Box(w, "txtA4")->text(), QString());
    QVERIFY(reporter_.messages.empty());
  }

  void readOnlyBoxesRefuseTyping() {
    frmMain w(&reporter_, &dialogs_);
    w.show();
    QApplication::setActiveWindow(&w);
    QVERIFY(QTest::qWaitForWindowActive(&w));
    for (const char* name : {"txtA1", "txtInFile", "txtOutFile"}) {
      QLineEdit* box = Box(w, name);
      box->setFocus();
      QTest::keyClicks(box, "12");
      QCOMPARE(box->text(), QString());
    }
    QLineEdit* u2 = Box(w, "txtU2");
    u2->setFocus();
    u2->selectAll();
    QTest::keyClicks(u2, "12");
    QCOMPARE(u2->text(), QStringLiteral("12"));
  }

  void japaneseTextHasEveryGlyphAndFits() {
    frmMain w(&reporter_, &dialogs_);
    const QFont font = w.font();
    QVERIFY2(QFontInfo(font).family().contains(QStringLiteral("CJK JP")), qPrintable(QFontInfo(font).family()));
    const QFontMetrics metrics(font);
    for (const QString& caption : AllCaptions(w)) {
      for (char32_t c : caption.toUcs4()) {
        QVERIFY2(metrics.inFontUcs4(c), qPrintable(caption + QStringLiteral(" U+") + QString::number(c, 16)));
      }
    }
    // Menus and the message boxes' font are windows of their own: same face.
    for (const char* name : {"menuFile", "menuSetting", "menuView"}) {
      QCOMPARE(QFontInfo(w.findChild<QMenu*>(QString::fromLatin1(name))->font()).family(), QFontInfo(font).family());
    }
    // Nothing clipped: every label's lines fit its box.
    for (auto* label : w.findChildren<WrapLabel*>()) {
      const QStringList lines = label->shownLines();
      // The last line's ideographs need about one font size below its top.
      const int inkHeight = (lines.size() - 1) * label->linePitch() + QFontInfo(label->font()).pixelSize();
      QVERIFY2(inkHeight <= label->height(), qPrintable(label->objectName()));
      for (const QString& line : lines) QVERIFY2(label->lineWidth(line) <= label->width(), qPrintable(line));
      QCOMPARE(lines.join(QString()), label->text());
    }
    // The three tall item labels show two lines.
    for (const char* name : {"Label23", "Label35", "Label29"}) {
      QCOMPARE(w.findChild<WrapLabel*>(QString::fromLatin1(name))->shownLines().size(), 2);
    }
    for (auto* button : w.findChildren<QAbstractButton*>()) {
      QVERIFY2(metrics.horizontalAdvance(button->text().remove(QLatin1Char('&'))) < button->width() - 4,
               qPrintable(button->objectName()));
    }
  }

  // A screen reader names every box by its own item label (the label left
  // of it or above it, without the colon), not by its frame's caption.
  void boxesAreNamedByTheirItemLabels() {
    frmMain w(&reporter_, &dialogs_);
    int boxes = 0;
    for (std::size_t i = 1; i < std::size(kControls); ++i) {
      const Control& c = kControls[i];
      if (c.kind != Numeric && c.kind != Result && c.kind != File) continue;
      ++boxes;
      const Control& item = kControls[i - 1];
      QVERIFY2(item.kind == Label || item.kind == RightLabel, c.name);
      auto* label = w.findChild<QLabel*>(QString::fromLatin1(item.name));
      QLineEdit* box = Box(w, c.name);
      QCOMPARE(label->buddy(), box);
      QAccessibleInterface* a = QAccessible::queryAccessibleInterface(box);
      QVERIFY2(a, c.name);
      QCOMPARE(a->text(QAccessible::Name), QString::fromUtf8(item.text).remove(QChar(0xFF1A)));
      // Labelled first by its item label, then by its frame.
      const auto labels = a->relations(QAccessible::Label);
      QVERIFY2(!labels.isEmpty() && labels[0].first->object() == label, c.name);
    }
    QCOMPARE(boxes, 18);
    QCOMPARE(QAccessible::queryAccessibleInterface(Box(w, "txtU2"))->text(QAccessible::Name),
             QStringLiteral("家屋被害"));
  }

  // Qt's own texts (the boxes' context menus, the file dialogs' questions and
  // buttons) are Japanese too, whatever the locale.
  void qtOwnTextsAreJapanese() {
    QVERIFY2(InstallQtJapanese(), "Qt's Japanese translations (qt6-translations-l10n) are not installed");
    const auto japanese = [](const QString& text) {
      return std::any_of(text.begin(), text.end(), [](QChar c) { return c.unicode() >= 0x3040; });
    };
    frmMain w(&reporter_, &dialogs_);
    for (const char* name : {"txtU2", "txtA1", "txtInFile"}) {
      std::unique_ptr<QMenu> menu(Box(w, name)->createStandardContextMenu());
      int items = 0;
      for (QAction* a : menu->actions()) {
        if (a->isSeparator()) continue;
        ++items;
        QVERIFY2(japanese(a->text()), qPrintable(a->text()));
      }
      QVERIFY(items >= 2);
    }
    for (const QString& text :
         {QCoreApplication::translate("QFileDialog", "%1 already exists.\nDo you want to replace it?"),
          QCoreApplication::translate("QFileDialog", "%1\nFile not found.\nPlease verify the correct file name was given."),
          QCoreApplication::translate("QFileDialog", "File &name:"),
          QCoreApplication::translate("QPlatformTheme", "Cancel")}) {
      QVERIFY2(japanese(text), qPrintable(text));
    }
  }

  void appFolderEndsInOneSeparator() {
    QCOMPARE(WithTrailingSeparator(QStringLiteral("/opt/velmora")), QStringLiteral("/opt/velmora/"));
    QCOMPARE(WithTrailingSeparator(QStringLiteral("/opt/velmora/")), QStringLiteral("/opt/velmora/"));
    QCOMPARE(WithTrailingSeparator(QStringLiteral("/")), QStringLiteral("/"));
    frmMain w(&reporter_, &dialogs_);
    QCOMPARE(w.appFolder(), QCoreApplication::applicationDirPath() + QLatin1Char('/'));
    QVERIFY(QFile::exists(w.appFolder() + QStringLiteral("EGapDis.txt")));
  }
};

QTEST_MAIN(LayoutTest)
#include "layout_test.moc"
