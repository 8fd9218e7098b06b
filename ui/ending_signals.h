#pragma once
#include <QObject>
#include <atomic>
#include <memory>

namespace velmora::platform {
class EndingRequests;
}

namespace velmora {

// Lets the program end by SIGTERM (shutdown), SIGHUP (logout, or its
// terminal gone) or SIGINT (Ctrl+C) the way it ends when its window is
// closed: the settings are saved, and a running batch stops and keeps any
// earlier output. The system's request arrives on a thread of its own
// (platform::EndingRequests) and reaches the event loop as a queued call,
// which closes every window, dialogs first. Only the number crosses the
// threads, in an atomic; the call itself carries nothing. Signals that were ignored at
// start stay ignored. One per program, created after the application and
// destroyed before it.
class EndingSignals : public QObject {
  Q_OBJECT
 public:
  explicit EndingSignals(QObject* parent = nullptr);
  ~EndingSignals() override;

  // The first of the signals that arrived, 0 while none has.
  int received() const { return received_; }

 private:
  Q_INVOKABLE void arrived();

  std::atomic<int> pending_{0};
  int received_ = 0;
  std::unique_ptr<platform::EndingRequests> requests_;
};

}  // namespace velmora
