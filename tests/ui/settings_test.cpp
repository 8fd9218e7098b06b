// The settings store and the window's life: defaults, round trips through a
// close, the reset menu and the exit menu.
#include <sys/inotify.h>
#include <unistd.h>

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

void WriteText(const QString& path, const QByteArray& bytes) {
  QDir().mkpath(QFileInfo(path).absolutePath());
  QFile f(path);
  QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
  f.write(bytes);
}

}  // namespace

class SettingsTest : public QObject {
  Q_OBJECT
  QTemporaryDir settingsDir_;
  QTemporaryDir systemDir_;
  RecordingReporter reporter_;
  ScriptedDialogs dialogs_;

  QString storeFile() const { return settingsDir_.filePath(QStringLiteral("Velmora/Velmora.conf")); }

 private slots:
  void initTestCase() {
    QVERIFY(settingsDir_.isValid());
    QVERIFY(systemDir_.isValid());
    UseSettingsFolder(settingsDir_);
    QSettings::setPath(QSettings::NativeFormat, QSettings::SystemScope, systemDir_.path());
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
    for (const QString& text :
         {QStringLiteral("1,5"), QStringLiteral("@Invalid()"), QStringLiteral("a=b;c"), QStringLiteral(" 0.5 "),
          QStringLiteral("世帯\"年収\""), QStringLiteral("true"), QStringLiteral("1,2,3"), QStringLiteral(" ,\\, "),
          QStringLiteral("C:\\data\\1,5.csv"), QStringLiteral("\"1\",2")}) {
      store.save(QStringLiteral("txtU2"), text);
      QCOMPARE(SettingsStore().get(QStringLiteral("txtU2"), QStringLiteral("d")), text);
    }
    store.deleteApplication();
    QCOMPARE(store.get(QStringLiteral("txtU2"), QStringLiteral("d")), QStringLiteral("d"));
    store.deleteApplication();  // nothing stored: still fine
  }

  // A value written into the store by hand loads as the text it holds, also
  // one with commas (which the file's format reads as a list).
  void handWrittenValuesLoadAsStored() {
    WriteText(storeFile(), "[Setting]\ntxtU7=1,2,3\ntxtU8=\"4,5\"\ntxtU9=6,\ntxtC4=\"7\",8\n");
    {
      frmMain w(&reporter_, &dialogs_);
      QCOMPARE(Texts(w, {"txtU7", "txtU8", "txtU9", "txtC4"}), (QStringList{"1,2,3", "4,5", "6,", "7,8"}));
      w.SaveSettings();
    }
    QCOMPARE(Stored(QStringLiteral("txtU7")).toString(), QStringLiteral("1,2,3"));
    frmMain again(&reporter_, &dialogs_);
    QCOMPARE(Texts(again, {"txtU7", "txtU8", "txtU9", "txtC4"}), (QStringList{"1,2,3", "4,5", "6,", "7,8"}));
  }

  // Only the user's own store counts: a key in an organisation-wide or a
  // system-wide settings file never stands in for the model's default.
  void otherStoresNeverStandIn() {
    const QByteArray stale = "[Setting]\ntxtC1=stale\ntxtU2=stale\ntxtU9=stale\n";
    const QStringList others = {settingsDir_.filePath(QStringLiteral("Velmora.conf")),
                                systemDir_.filePath(QStringLiteral("Velmora/Velmora.conf")),
                                systemDir_.filePath(QStringLiteral("Velmora.conf"))};
    for (const QString& path : others) WriteText(path, stale);
    const auto removeOthers = qScopeGuard([&others] {
      for (const QString& path : others) QFile::remove(path);
    });
    frmMain w(&reporter_, &dialogs_);
    QCOMPARE(SettingBoxTexts(w), Defaults());
    w.findChild<QAction*>(QStringLiteral("menInitValue"))->trigger();
    QCOMPARE(SettingBoxTexts(w), Defaults());
  }

  // One save writes the store once, not once per box.
  void oneSaveWritesTheStoreOnce() {
    frmMain w(&reporter_, &dialogs_);
    w.SaveSettings();  // the store's folder exists from here on
    for (std::size_t i = 0; i < SettingsStore::kKeys.size(); ++i) {
      Box(w, SettingsStore::kKeys[i].name)->setText(QString::number(i + 100));
    }
    const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    QVERIFY(watch >= 0);
    QVERIFY(::inotify_add_watch(watch, QFile::encodeName(QFileInfo(storeFile()).absolutePath()).constData(),
                                IN_CREATE | IN_MOVED_TO) >= 0);
    w.SaveSettings();
    int writes = 0;
    alignas(inotify_event) char buffer[8192];
    for (ssize_t n; (n = ::read(watch, buffer, sizeof buffer)) > 0;) {
      for (char* p = buffer; p < buffer + n;) {
        const auto* e = reinterpret_cast<const inotify_event*>(p);
        // Each write of the store puts a new file in its place. (The files
        // created in between keep inotify from merging these events.)
        if ((e->mask & IN_MOVED_TO) && e->len > 0 && QByteArray(e->name) == "Velmora.conf") ++writes;
        p += sizeof(inotify_event) + e->len;
      }
    }
    ::close(watch);
    QCOMPARE(writes, 1);
    QCOMPARE(Stored(QStringLiteral("txtU9")).toString(), QStringLiteral("111"));
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
