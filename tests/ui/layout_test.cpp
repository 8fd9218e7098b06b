// The window as laid out: every control of the layout data drawn at its
// place with its caption and initial state, the menus, the tab order and the
// Japanese text.
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
#include "form/layout.h"
#include "ui/app_folder.h"
#include "ui/qt_translations.h"
#include "ui/wrap_label.h"
#include "ui_fixture.h"

using namespace velmora;
using namespace velmora::test;

namespace {

using form::Control;
using form::Kind;

// The controls shown at rest (not those of a running batch, nor the rule).
std::vector<const Control*> Drawn() {
  std::vector<const Control*> drawn;
  for (const Control& c : form::Controls()) {
    if (c.tab >= 0) drawn.push_back(&c);
  }
  return drawn;
}


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
  for (const Control* c : Drawn()) captions << Q(c->caption).remove(QLatin1Char('&'));
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
    for (const Control* control : Drawn()) {
      const Control& c = *control;
      const QString name = Q(c.name);
      QWidget* widget = w.findChild<QWidget*>(name);
      QVERIFY2(widget, qPrintable(name));
      QCOMPARE(widget->parentWidget()->objectName(), Q(c.parent));
      QCOMPARE(widget->geometry(), QRect(c.left / 15, c.top / 15, c.width / 15, c.height / 15));
      QCOMPARE(CaptionOf(widget), Q(c.caption));
      QVERIFY2(widget->isEnabled() == (name != QLatin1String("txtC1")), qPrintable(name));
      auto* box = qobject_cast<QLineEdit*>(widget);
      auto* label = qobject_cast<QLabel*>(widget);
      const char* n = c.name.data();  // a literal: ends in a zero
      switch (c.kind) {
        case Kind::Label:
        case Kind::RightLabel:
          QVERIFY2(label && label->wordWrap(), n);
          QCOMPARE(bool(label->alignment() & Qt::AlignRight), c.kind == Kind::RightLabel);
          QCOMPARE(label->focusPolicy(), Qt::NoFocus);
          break;
        case Kind::Numeric:
          QVERIFY2(box && !box->isReadOnly(), n);
          QVERIFY(box->alignment() & Qt::AlignRight);
          QVERIFY2(!box->testAttribute(Qt::WA_InputMethodEnabled), n);
          QVERIFY(box->palette().color(QPalette::Base) != QColor(192, 192, 255));
          break;
        case Kind::Result:
          QVERIFY2(box && box->isReadOnly(), n);
          QVERIFY(box->alignment() & Qt::AlignRight);
          QCOMPARE(box->palette().color(QPalette::Active, QPalette::Base), QColor(192, 192, 255));
          QCOMPARE(box->palette().color(QPalette::Inactive, QPalette::Base), QColor(192, 192, 255));
          QVERIFY(box->focusPolicy() & Qt::TabFocus);
          break;
        case Kind::File:
          QVERIFY2(box && box->isReadOnly(), n);
          QVERIFY(!(box->alignment() & Qt::AlignRight));
          QVERIFY(box->palette().color(QPalette::Base) != QColor(192, 192, 255));
          break;
        case Kind::Button: {
          auto* b = qobject_cast<QPushButton*>(widget);
          QVERIFY2(b && !b->isDefault() && !b->autoDefault(), n);
          break;
        }
        case Kind::Check:
          QVERIFY(qobject_cast<QCheckBox*>(widget)->isChecked());
          break;
        case Kind::Frame:
          QVERIFY(qobject_cast<QGroupBox*>(widget));
          break;
        default:
          QFAIL(n);
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
    const std::vector<const Control*> drawn = Drawn();
    for (std::size_t i = 1; i < drawn.size(); ++i) {
      const Control& c = *drawn[i];
      if (c.kind != Kind::Numeric && c.kind != Kind::Result && c.kind != Kind::File) continue;
      ++boxes;
      const Control& item = *drawn[i - 1];
      QVERIFY2(item.kind == Kind::Label || item.kind == Kind::RightLabel, c.name.data());
      auto* label = w.findChild<QLabel*>(Q(item.name));
      QLineEdit* box = Box(w, c.name.data());
      QCOMPARE(label->buddy(), box);
      QAccessibleInterface* a = QAccessible::queryAccessibleInterface(box);
      QVERIFY2(a, c.name.data());
      QCOMPARE(a->text(QAccessible::Name), Q(item.caption).remove(QChar(0xFF1A)));
      // Labelled first by its item label, then by its frame.
      const auto labels = a->relations(QAccessible::Label);
      QVERIFY2(!labels.isEmpty() && labels[0].first->object() == label, c.name.data());
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
