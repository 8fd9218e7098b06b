// The settings store and the window's life: defaults, round trips through a
// close, the reset menu and the exit menu.
#include <QAction>
#include <QCheckBox>
#include <QtTest>

#include "ui/settings_store.h"
#include "ui_fixture.h"

using namespace velmora;
using namespace velmora::test;

namespace {

QStringList SettingBoxTexts(QWidget& w) {
  QStringList texts;
  for (const auto& key : SettingsStore::kKeys) texts << Box(w, key.name)->text();
  return texts;
}

QStringList Defaults() {
  QStringList texts;
  for (const auto& key : SettingsStore::kKeys) texts << QString::fromLatin1(key.defaultText);
  return texts;
}

}  // namespace

class SettingsTest : public QObject {
  Q_OBJECT
  QTemporaryDir settingsDir_;
  RecordingReporter reporter_;
  ScriptedDialogs dialogs_;

 private slots:
  void initTestCase() {
    QVERIFY(settingsDir_.isValid());
    UseSettingsFolder(settingsDir_);
  }
  void init() { ClearStore(); }
  void cleanup() { QVERIFY(reporter_.messages.empty()); }

  void keysInOrderWithTheModelsDefaults() {
    const char* names[] = {"txtC1", "txtC2", "txtC3", "txtC4", "txtU2", "txtU3",
                           "txtU4", "txtU5", "txtU6", "txtU7", "txtU8", "txtU9"};
    for (std::size_t i = 0; i < 12; ++i) QCOMPARE(SettingsStore::kKeys[i].name, names[i]);
    QCOMPARE(Defaults(), (QStringList{"0.610", "0.025", "0.040", "3.140", "9.725", "7.380", "4.810", "3.570",
                                      "7.416", "14.759", "22.616", "3.321"}));
  }

  void storeAnswersDefaultsOnlyForAbsentKeys() {
    SettingsStore store;
    QCOMPARE(store.get(QStringLiteral("txtC1"), QStringLiteral("d")), QStringLiteral("d"));
    store.save(QStringLiteral("txtC1"), QString());
    QCOMPARE(store.get(QStringLiteral("txtC1"), QStringLiteral("d")), QString());
    // Texts that an INI file could take for something else come back as typed.
    for (const QString& text : {QStringLiteral("1,5"), QStringLiteral("@Invalid()"), QStringLiteral("a=b;c"),
                                QStringLiteral(" 0.5 "), QStringLiteral("世帯\"年収\""), QStringLiteral("true")}) {
      store.save(QStringLiteral("txtU2"), text);
      QCOMPARE(SettingsStore().get(QStringLiteral("txtU2"), QStringLiteral("d")), text);
    }
    store.deleteApplication();
    QCOMPARE(store.get(QStringLiteral("txtU2"), QStringLiteral("d")), QStringLiteral("d"));
    store.deleteApplication();  // nothing stored: still fine
  }

  void firstStartShowsDefaultsAndWritesNothing() {
    {
      frmMain w(&reporter_, &dialogs_);
      QCOMPARE(SettingBoxTexts(w), Defaults());
      QApplication::processEvents();
      for (const auto& key : SettingsStore::kKeys) QVERIFY(Stored(QString::fromLatin1(key.name)).isNull());
      w.show();
      QVERIFY(QTest::qWaitForWindowExposed(&w));
      QVERIFY(w.close());
    }
    for (const auto& key : SettingsStore::kKeys) {
      QCOMPARE(Stored(QString::fromLatin1(key.name)).toString(), QString::fromLatin1(key.defaultText));
    }
  }

  void typedValuesComeBackAfterRestart_data() {
    QTest::addColumn<bool>("byMenu");
    QTest::newRow("close button") << false;
    QTest::newRow("menu exit") << true;
  }
  void typedValuesComeBackAfterRestart() {
    QFETCH(bool, byMenu);
    const QStringList typed = {"0.5",  "",     "abc", "-1", "1,5", "@x", "世帯", "0", " 7 ", "1e3", "x=y", "3.321"};
    {
      frmMain w(&reporter_, &dialogs_);
      w.show();
      QVERIFY(QTest::qWaitForWindowExposed(&w));
      for (int i = 0; i < 12; ++i) Box(w, SettingsStore::kKeys[i].name)->setText(typed[i]);
      // Disabled boxes are kept like the others.
      w.findChild<QCheckBox*>(QStringLiteral("chkRP"))->setChecked(false);
      if (byMenu) {
        w.findChild<QAction*>(QStringLiteral("menuExit"))->trigger();
      } else {
        QVERIFY(w.close());
      }
      QVERIFY(!w.isVisible());
    }
    frmMain again(&reporter_, &dialogs_);
    QCOMPARE(SettingBoxTexts(again), typed);
    QVERIFY(Box(again, "txtC2")->text().isEmpty());  // emptied, not the default
    // Only the twelve boxes are kept: the check box starts ticked again.
    QVERIFY(again.findChild<QCheckBox*>(QStringLiteral("chkRP"))->isChecked());
  }

  void resetRestoresAndStoresDefaultsAndNothingElse() {
    frmMain w(&reporter_, &dialogs_);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    for (const auto& key : SettingsStore::kKeys) Box(w, key.name)->setText(QStringLiteral("9"));
    w.findChild<QCheckBox*>(QStringLiteral("chkRP"))->setChecked(false);
    Box(w, "txtInFile")->setText(QStringLiteral("/in.csv"));
    Box(w, "txtOutFile")->setText(QStringLiteral("/out.csv"));
    Box(w, "txtA1")->setText(QStringLiteral("-"));
    Box(w, "txtA4")->setText(QStringLiteral("1.000"));
    {
      SettingsStore store;  // something stale that the reset must remove
      store.save(QStringLiteral("txtC1"), QStringLiteral("stale"));
    }
    w.findChild<QAction*>(QStringLiteral("menInitValue"))->trigger();
    QCOMPARE(SettingBoxTexts(w), Defaults());
    for (const auto& key : SettingsStore::kKeys) {
      QCOMPARE(Stored(QString::fromLatin1(key.name)).toString(), QString::fromLatin1(key.defaultText));
    }
    QVERIFY(!w.findChild<QCheckBox*>(QStringLiteral("chkRP"))->isChecked());
    QVERIFY(Box(w, "txtC1")->isEnabled());
    QVERIFY(!Box(w, "txtC2")->isEnabled());
    QVERIFY(!Box(w, "txtU9")->isEnabled());
    QCOMPARE(Texts(w, {"txtInFile", "txtOutFile", "txtA1", "txtA4"}),
             (QStringList{"/in.csv", "/out.csv", "-", "1.000"}));
  }
};

QTEST_MAIN(SettingsTest)
#include "settings_test.moc"
