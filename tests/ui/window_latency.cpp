// How live the window stays during a long batch run: a measurement, not a
// test. While 一括計算 runs over generated households, another thread posts
// an event to the window's thread every 5 ms (as the display server's input
// arrives) and a 10 ms timer ticks on the window's thread. Prints the delay
// from posting to handling and the timer's lateness, median and maximum.
//
//   ui_window_latency [rows]          (default 2000000; offscreen by default)
#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <thread>
#include <vector>

#include "test_support.h"
#include "ui/frm_main.h"

using Clock = std::chrono::steady_clock;

namespace {

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

// Plausible households; one in 997 not computable.
void WriteInput(const std::filesystem::path& path, long rows) {
  std::ofstream out(path, std::ios::binary);
  out << "house,goods,income,assets,land,goodsvalue,price,consumption\r\n";
  unsigned state = 20240601u;
  auto next = [&state](double scale) {
    state = state * 1664525u + 1013904223u;
    return scale * (state >> 8) / double(1u << 24);
  };
  char line[160];
  for (long i = 0; i < rows; ++i) {
    if (i % 997 == 0) {
      out << "9.725,x,4.81,3.57,7.416,14.759,22.616,3.321\r\n";
      continue;
    }
    const int n = std::snprintf(line, sizeof line, "%.3f,%.3f,%.3f,%.3f,%.3f,%.3f,%.3f,%.3f\r\n", next(20),
                                next(12), 1 + next(15), next(25), next(30), 2 + next(20), 5 + next(40), 1 + next(8));
    out.write(line, n);
  }
}

struct Stats {
  std::size_t count = 0;
  double median = 0, p95 = 0, max = 0;
};

Stats Summarise(std::vector<double> v) {
  Stats s;
  s.count = v.size();
  if (v.empty()) return s;
  std::sort(v.begin(), v.end());
  s.median = v[v.size() / 2];
  s.p95 = v[std::min(v.size() - 1, v.size() * 95 / 100)];
  s.max = v.back();
  return s;
}

class Stamped : public QEvent {
 public:
  static QEvent::Type Kind() {
    static const auto kind = static_cast<QEvent::Type>(QEvent::registerEventType());
    return kind;
  }
  explicit Stamped(Clock::time_point posted) : QEvent(Kind()), posted(posted) {}
  Clock::time_point posted;
};

// Handles the stamped events on the window's thread.
class Receiver : public QObject {
 public:
  struct Sample {
    Clock::time_point posted;
    double delayMs;
  };
  std::vector<Sample> samples;
  bool event(QEvent* e) override {
    if (e->type() != Stamped::Kind()) return QObject::event(e);
    const auto posted = static_cast<Stamped*>(e)->posted;
    samples.push_back({posted, Ms(Clock::now() - posted)});
    return true;
  }
};

}  // namespace

int main(int argc, char** argv) {
  const long rows = argc > 1 ? std::atol(argv[1]) : 2000000;
  velmora::test::TempDir dir;
  ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
  ::setenv("XDG_CONFIG_HOME", dir.path().c_str(), 1);
  const auto input = dir.path() / "in.csv";
  const auto output = dir.path() / "out.csv";
  WriteInput(input, rows);

  QApplication app(argc, argv);
  QApplication::setOrganizationName(QStringLiteral("Velmora"));
  QApplication::setApplicationName(QStringLiteral("Velmora"));
  velmora::test::RecordingReporter reporter;
  velmora::frmMain window(&reporter);
  window.show();
  QCoreApplication::processEvents();
  window.findChild<QLineEdit*>(QStringLiteral("txtInFile"))->setText(QString::fromStdString(input.string()));
  window.findChild<QLineEdit*>(QStringLiteral("txtOutFile"))->setText(QString::fromStdString(output.string()));

  Receiver receiver;
  std::vector<Clock::time_point> ticks;
  QTimer timer;
  timer.setTimerType(Qt::PreciseTimer);
  timer.setInterval(10);
  QObject::connect(&timer, &QTimer::timeout, [&ticks] { ticks.push_back(Clock::now()); });

  std::atomic<bool> posting{true};
  std::jthread poster([&] {
    while (posting.load()) {
      QCoreApplication::postEvent(&receiver, new Stamped(Clock::now()));
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  });
  timer.start();
  const Clock::time_point start = Clock::now();
  window.findChild<QPushButton*>(QStringLiteral("cmdExecAll"))->click();
  while (window.isBatchRunning()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
  const Clock::time_point end = Clock::now();
  timer.stop();
  posting = false;
  poster.join();
  QCoreApplication::sendPostedEvents(&receiver);

  // Events posted during the run, however late they were handled.
  std::vector<double> delays;
  for (const auto& s : receiver.samples) {
    if (s.posted >= start && s.posted < end) delays.push_back(s.delayMs);
  }
  // Timer: the gap between ticks beyond the interval (the first from the start).
  std::vector<double> lateness;
  Clock::time_point previous = start;
  for (const auto& t : ticks) {
    if (t < start || t > end) continue;
    lateness.push_back(std::max(0.0, Ms(t - previous) - 10.0));
    previous = t;
  }
  const Stats d = Summarise(delays);
  const Stats l = Summarise(lateness);
  std::printf("rows %ld, run %.0f ms, messages %zu%s\n", rows, Ms(end - start), reporter.messages.size(),
              reporter.messages.empty() ? "" : (" (" + reporter.messages.back().text + ")").c_str());
  std::printf("posted event -> handled: %zu samples, median %.1f ms, p95 %.1f ms, max %.1f ms\n", d.count, d.median,
              d.p95, d.max);
  std::printf("10 ms timer lateness:    %zu ticks, median %.1f ms, p95 %.1f ms, max %.1f ms\n", l.count, l.median,
              l.p95, l.max);
  return 0;
}
