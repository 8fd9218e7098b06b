#include "ui/ending_signals.h"

#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QSocketNotifier>
#include <cerrno>

namespace velmora {
namespace {

constexpr int kEndingSignals[] = {SIGTERM, SIGHUP, SIGINT};
// [0] read by the event loop, [1] written by the handler.
int g_socket[2] = {-1, -1};
struct sigaction g_previous[std::size(kEndingSignals)];
bool g_installed[std::size(kEndingSignals)] = {};

extern "C" void OnEndingSignal(int signal) {
  const int savedErrno = errno;
  const unsigned char number = static_cast<unsigned char>(signal);
  // Non-blocking: when the socket is full, a signal is already waiting.
  [[maybe_unused]] const ssize_t written = ::write(g_socket[1], &number, 1);
  errno = savedErrno;
}

}  // namespace

EndingSignals::EndingSignals(QObject* parent) : QObject(parent) {
  // Without the socket the signals keep their default action.
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, g_socket) != 0) return;
  notifier_ = new QSocketNotifier(g_socket[0], QSocketNotifier::Read, this);
  connect(notifier_, &QSocketNotifier::activated, this, &EndingSignals::arrived);
  struct sigaction action {};
  action.sa_handler = OnEndingSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (std::size_t i = 0; i < std::size(kEndingSignals); ++i) {
    struct sigaction current {};
    ::sigaction(kEndingSignals[i], nullptr, &current);
    // Started with the signal ignored (nohup, a background job): keep it so.
    if (current.sa_handler == SIG_IGN) continue;
    g_installed[i] = ::sigaction(kEndingSignals[i], &action, &g_previous[i]) == 0;
  }
}

EndingSignals::~EndingSignals() {
  for (std::size_t i = 0; i < std::size(kEndingSignals); ++i) {
    if (g_installed[i]) ::sigaction(kEndingSignals[i], &g_previous[i], nullptr);
    g_installed[i] = false;
  }
  delete notifier_;
  for (int& fd : g_socket) {
    if (fd >= 0) ::close(fd);
    fd = -1;
  }
}

void EndingSignals::arrived() {
  unsigned char number = 0;
  while (::read(g_socket[0], &number, 1) == 1) {
    if (received_ == 0) received_ = number;
  }
  if (received_ == 0) return;
  // As if the user closed each window: an open dialog or message box first
  // (it answers as cancelled), then the main window, which saves the
  // settings and stops a running batch. The program then ends with them.
  QApplication::closeAllWindows();
  QCoreApplication::exit(0);
}

void IgnoreFileSizeSignal() { ::signal(SIGXFSZ, SIG_IGN); }

}  // namespace velmora
