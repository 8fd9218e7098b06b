#pragma once
#include <QObject>

class QSocketNotifier;

namespace velmora {

// Lets the program end by SIGTERM (shutdown), SIGHUP (logout, or its
// terminal gone) or SIGINT (Ctrl+C) the way it ends when its window is
// closed: the settings are saved, and a running batch stops and keeps any
// earlier output. The handler only writes the signal's number to a socket;
// the event loop reads it and closes every window, dialogs first. Signals
// that were ignored at start stay ignored. One per program, created after the
// application and destroyed before it.
class EndingSignals : public QObject {
  Q_OBJECT
 public:
  explicit EndingSignals(QObject* parent = nullptr);
  ~EndingSignals() override;

  // The first of the signals that arrived, 0 while none has.
  int received() const { return received_; }

 private:
  void arrived();

  QSocketNotifier* notifier_ = nullptr;
  int received_ = 0;
};

// A file-size limit makes a write fail, which the batch reports, instead of
// killing the program with SIGXFSZ.
void IgnoreFileSizeSignal();

}  // namespace velmora
