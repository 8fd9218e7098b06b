#pragma once
// A modal dialog would hang an offscreen test: this closes any that appears
// and remembers its title, so the test fails instead of waiting forever.
// Shared by the window tests and the hostile window tests.
#include <QApplication>
#include <QDialog>
#include <QStringList>
#include <QTimer>

namespace velmora::test {

class ModalGuard {
 public:
  ModalGuard() {
    timer_.setInterval(50);
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      if (QWidget* w = QApplication::activeModalWidget()) {
        seen << w->windowTitle();
        if (auto* d = qobject_cast<QDialog*>(w)) {
          d->reject();
        } else {
          w->close();
        }
      }
    });
    timer_.start();
  }
  QStringList seen;
  // For a test whose own timer answers a dialog: the guard would otherwise
  // race it on a busy machine.
  void pause() { timer_.stop(); }
  void resume() { timer_.start(); }

 private:
  QTimer timer_;
};

}  // namespace velmora::test
