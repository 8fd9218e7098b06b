#pragma once
// Helpers shared by the window tests: scripted file dialogs, a guard against
// modal boxes, settings in a temporary folder.
#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QSettings>
#include <QTemporaryDir>
#include <deque>
#include <vector>

#include "modal_guard.h"
#include "test_support.h"
#include "ui/file_dialogs.h"
#include "ui/frm_main.h"

namespace velmora::test {

// Answers the file dialogs from a queue (the empty text is a cancel) and
// records how each was asked.
class ScriptedDialogs : public FileDialogs {
 public:
  struct Call {
    bool save;
    QWidget* owner;
    QString filter;
    QString folder;
    QString defaultName;
  };
  std::deque<QString> answers;
  std::vector<Call> calls;

  QString showOpenDialog(QWidget* owner, const QString& filter, const QString& folder) override {
    calls.push_back({false, owner, filter, folder, {}});
    return next();
  }
  QString showSaveDialog(QWidget* owner, const QString& filter, const QString& folder,
                         const QString& defaultName) override {
    calls.push_back({true, owner, filter, folder, defaultName});
    return next();
  }

 private:
  QString next() {
    if (answers.empty()) return {};
    QString a = answers.front();
    answers.pop_front();
    return a;
  }
};

// Points the per-user settings at a folder of its own (before any QSettings
// object exists).
inline void UseSettingsFolder(const QTemporaryDir& dir) {
  QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir.path());
  QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, dir.path());
}

inline void ClearStore() { QSettings(QStringLiteral("Velmora"), QStringLiteral("Velmora")).clear(); }

// What the store holds for a key, or a null QVariant when it is absent.
inline QVariant Stored(const QString& key) {
  QSettings s(QStringLiteral("Velmora"), QStringLiteral("Velmora"));
  s.beginGroup(QStringLiteral("Setting"));
  return s.contains(key) ? s.value(key) : QVariant();
}

inline QLineEdit* Box(QWidget& window, const char* name) {
  return window.findChild<QLineEdit*>(QString::fromLatin1(name));
}

inline QStringList Texts(QWidget& window, std::initializer_list<const char*> names) {
  QStringList texts;
  for (const char* n : names) texts << Box(window, n)->text();
  return texts;
}

// A batch click returns at once: the run goes on on its worker and tells the
// window when it has ended.
inline void WaitForBatch(frmMain& window, int ms = 120000) {
  QElapsedTimer waited;
  waited.start();
  while (window.isBatchRunning() && waited.elapsed() < ms) {
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
  }
}

inline QStringList MessageTexts(const RecordingReporter& r) {
  QStringList texts;
  for (const auto& m : r.messages) texts << QString::fromStdString(m.text);
  return texts;
}

}  // namespace velmora::test
