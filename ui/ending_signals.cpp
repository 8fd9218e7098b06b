#include "ui/ending_signals.h"

#include <QApplication>

#include "platform/platform.h"

namespace velmora {

EndingSignals::EndingSignals(QObject* parent)
    : QObject(parent), requests_(std::make_unique<platform::EndingRequests>([this](int number) {
        int none = 0;
        pending_.compare_exchange_strong(none, number);
        QMetaObject::invokeMethod(this, "arrived", Qt::QueuedConnection);
      })) {}

// The requests stop (their thread joined) before the object goes; a call
// still queued for it goes with it.
EndingSignals::~EndingSignals() = default;

void EndingSignals::arrived() {
  if (received_ == 0) received_ = pending_.load();
  // As if the user closed each window: an open dialog or message box first
  // (it answers as cancelled), then the main window, which saves the
  // settings and stops a running batch. The program then ends with them.
  QApplication::closeAllWindows();
  QCoreApplication::exit(0);
}

}  // namespace velmora
