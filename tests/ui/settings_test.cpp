// The settings store and the window's life: defaults, round trips through a
// close, the reset menu and the exit menu.
#include <sys/inotify.h>
#include <unistd.h>

#include <QAction>
#include <QCheckBox>
#include <QtTest>

#include "form/settings.h"
#include "ui/settings_store.h"
#include "ui_fixture.h"

using namespace velmora;
using namespace velmora::test;

namespace {

using form::kSettings;

QString Name(const form::Setting& s) { return QString::fromLatin1(s.key.data(), static_cast<qsizetype>(s.key.size())); }
QLineEdit* SettingBox(QWidget& w, const form::Setting& s) { return w.findChild<QLineEdit*>(Name(s)); }

QStringList SettingBoxTexts(QWidget& w) {
  QStringList texts;
  for (const auto& s : kSettings) texts << SettingBox(w, s)->text();
  return texts;
}

QStringList Defaults() {
  QStringList texts;
  for (const auto& s : kSettings) texts << QString::fromLatin1(s.defaultText.data(), qsizetype(s.defaultText.size()));
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

  void storeAnswersNothingOnlyForAbsentKeys() {
    QtSettingsStore store;
    QVERIFY(!store.get("Setting", "txtC1"));
    store.save("Setting", {{"txtC1", ""}});
    QCOMPARE(store.get("Setting", "txtC1"), std::optional<std::string>(""));
    // Texts that an INI file could take for something else come back as typed.
    for (const QString& text :
         {QStringLiteral("1,5"), QStringLiteral("@Invalid()"), QStringLiteral("a=b;c"), QStringLiteral(" 0.5 "),
          QStringLiteral("世帯\"年収\""), QStringLiteral("true"), QStringLiteral("1,2,3"), QStringLiteral(" ,\\, "),
          QStringLiteral("C:\\data\\1,5.csv"), QStringLiteral("\"1\",2")}) {
      store.save("Setting", {{"txtU2", text.toStdString()}});
      QCOMPARE(QString::fromStdString(QtSettingsStore().get("Setting", "txtU2").value_or("(absent)")), text);
    }
    store.deleteAll();
    QVERIFY(!store.get("Setting", "txtU2"));
    store.deleteAll();  // nothing stored: still fine
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
    for (std::size_t i = 0; i < kSettings.size(); ++i) SettingBox(w, kSettings[i])->setText(QString::number(i + 100));
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
      for (const auto& key : kSettings) QVERIFY(Stored(Name(key)).isNull());
      w.show();
      QVERIFY(QTest::qWaitForWindowExposed(&w));
      QVERIFY(w.close());
    }
    QStringList stored;
    for (const auto& key : kSettings) stored << Stored(Name(key)).toString();
    QCOMPARE(stored, Defaults());
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
      for (int i = 0; i < 12; ++i) SettingBox(w, kSettings[static_cast<std::size_t>(i)])->setText(typed[i]);
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
    for (const auto& key : kSettings) SettingBox(w, key)->setText(QStringLiteral("9"));
    w.findChild<QCheckBox*>(QStringLiteral("chkRP"))->setChecked(false);
    Box(w, "txtInFile")->setText(QStringLiteral("/in.csv"));
    Box(w, "txtOutFile")->setText(QStringLiteral("/out.csv"));
    Box(w, "txtA1")->setText(QStringLiteral("-"));
    Box(w, "txtA4")->setText(QStringLiteral("1.000"));
    QtSettingsStore().save("Setting", {{"txtC1", "stale"}});  // something stale that the reset must remove
    w.findChild<QAction*>(QStringLiteral("menInitValue"))->trigger();
    QCOMPARE(SettingBoxTexts(w), Defaults());
    QStringList stored;
    for (const auto& key : kSettings) stored << Stored(Name(key)).toString();
    QCOMPARE(stored, Defaults());
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
