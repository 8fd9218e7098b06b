// The window, offscreen, against a garbage settings store and hostile batch
// files, and the window program itself: started on such a store, ended by
// signals, and driven under a virtual X server through a file-size limit.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QSettings>
#include <QStandardPaths>
#include <QThread>
#include <QTimer>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "../ui/modal_guard.h"
#include "hostile_support.h"
#include "run_program.h"
#include "test_support.h"
#include "ui/frm_main.h"

namespace velmora::test {
namespace {
namespace fs = std::filesystem;

// The settings of every window of this program live here (set in main).
fs::path& ConfigHome() {
  static fs::path path;
  return path;
}
fs::path StoreFile() { return ConfigHome() / "Velmora" / "Velmora.conf"; }

void WriteStore(const std::string& bytes) {
  fs::create_directories(StoreFile().parent_path());
  std::ofstream(StoreFile(), std::ios::binary | std::ios::trunc) << bytes;
}

QLineEdit* Box(QWidget& w, const char* name) { return w.findChild<QLineEdit*>(QString::fromLatin1(name)); }
QPushButton* Button(QWidget& w, const char* name) { return w.findChild<QPushButton*>(QString::fromLatin1(name)); }

constexpr const char* kBoxes[] = {"txtC1", "txtC2", "txtC3", "txtC4", "txtU2", "txtU3",
                                  "txtU4", "txtU5", "txtU6", "txtU7", "txtU8", "txtU9"};

// After one individual calculation: either one error message and nothing
// shown, or no message and every result box "-" or a "0.000" number.
void ExpectCleanCalculation(frmMain& window, RecordingReporter& reporter) {
  reporter.messages.clear();
  for (const char* r : {"txtA1", "txtA2", "txtA3", "txtA4"}) Box(window, r)->clear();
  Button(window, "cmdExec")->click();
  if (!reporter.messages.empty()) {
    EXPECT_EQ(reporter.messages.size(), 1u);
    EXPECT_TRUE(reporter.messages[0].isError);
    return;
  }
  static const QRegularExpression shown(QStringLiteral("^(-|-?[0-9]+[.,][0-9]{3})$"));
  for (const char* r : {"txtA1", "txtA2", "txtA3", "txtA4"}) {
    EXPECT_TRUE(shown.match(Box(window, r)->text()).hasMatch()) << r << ": " << Box(window, r)->text().toStdString();
  }
}

class Window : public ::testing::Test {
 protected:
  void TearDown() override {
    EXPECT_TRUE(guard.seen.isEmpty()) << "a modal box appeared: " << guard.seen.join(QLatin1Char(',')).toStdString();
  }
  RecordingReporter reporter;
  ModalGuard guard;
};

TEST_F(Window, GarbageSettingsStore) {
  using namespace std::string_literals;
  const std::string cases[] = {
      // Bytes that are no settings file at all.
      "\x7f" "ELF\0\0\0\xff\xfe[[[=\0\n\r\x81"s,
      // Values of every strange kind, including serialised variants that do not decode.
      "[Setting]\ntxtC1=@Variant(\\0\\0\\0\\x7f\\0\\0\\0\\x1cQStringList\\xff\\xff)\n"
      "txtC2=@ByteArray(\\xff\\xfe)\ntxtC3=@Rect(1 2)\ntxtC4=@Invalid()\n"
      "txtU2=1e38\ntxtU3=1e-45\ntxtU4=-0\ntxtU5=\"\ntxtU6=\\\ntxtU7==\ntxtU8\ntxtU9=1,2,3\n"s,
      // Huge and tiny numbers in every box.
      "[Setting]\ntxtC1=1e38\ntxtC2=1e38\ntxtC3=1e-45\ntxtC4=1e-45\ntxtU2=1e38\ntxtU3=1e38\n"
      "txtU4=1e-45\ntxtU5=-0\ntxtU6=1e38\ntxtU7=1e38\ntxtU8=-1e38\ntxtU9=1e38\n"s,
      // One value of 4 MB, and a group name that never ends.
      "[Setting]\ntxtC1=" + std::string(4u << 20, '9') + "\n[" + std::string(1000, 'x'),
  };
  for (const auto& bytes : cases) {
    SCOPED_TRACE(bytes.substr(0, 40));
    WriteStore(bytes);
    {
      frmMain window(&reporter);
      window.show();
      for (const char* name : kBoxes) ASSERT_NE(Box(window, name), nullptr) << name;
      for (bool withPremium : {true, false}) {
        window.findChild<QCheckBox*>(QStringLiteral("chkRP"))->setChecked(withPremium);
        ExpectCleanCalculation(window, reporter);
      }
      window.close();
    }
    // Closing wrote the boxes back: a second window reads what the first showed.
    QStringList first;
    {
      frmMain window(&reporter);
      for (const char* name : kBoxes) first << Box(window, name)->text();
      window.close();
    }
    frmMain again(&reporter);
    for (int i = 0; i < 12; ++i) EXPECT_EQ(Box(again, kBoxes[i])->text(), first[i]) << kBoxes[i];
  }
}

TEST_F(Window, SettingsStoreThatCannotBeWritten) {
  // A folder where the settings file should be: reading and writing both fail.
  fs::remove_all(StoreFile());
  fs::create_directories(StoreFile());
  {
    frmMain window(&reporter);
    window.show();
    EXPECT_EQ(Box(window, "txtC1")->text(), QStringLiteral("0.610"));
    ExpectCleanCalculation(window, reporter);
    window.close();
  }
  fs::remove_all(StoreFile());
}

class WindowBatch : public Window {
 protected:
  void SetUp() override { fs::remove_all(StoreFile()); }
  // Qt opens descriptors of its own as it goes (event notifiers): count only
  // those that name a file of the run.
  void TearDown() override {
    Window::TearDown();
    EXPECT_EQ(OpenFilesUnder(dir.path()), std::vector<std::string>{}) << "a file was left open";
  }
  fs::path Input(int lines) {
    std::string bytes = "header\r\n";
    for (int i = 0; i < lines; ++i) bytes += "3.140,9.725,14.759,1.5,0.8,2.1,12.4,4.2\r\n";
    return dir.Write("in.csv", bytes);
  }
  void RunWith(frmMain& window, const fs::path& in, const fs::path& out) {
    reporter.messages.clear();
    Box(window, "txtInFile")->setText(QString::fromStdString(in.string()));
    Box(window, "txtOutFile")->setText(QString::fromStdString(out.string()));
    Button(window, "cmdExecAll")->click();
    // The run goes on on its worker; the window hears of its end.
    while (window.isBatchRunning()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
  }
  TempDir dir;
};

TEST_F(WindowBatch, HostileFilesEndWithOneMessage) {
  const fs::path input = Input(3);
  const fs::path folder = dir.path() / "folder";
  fs::create_directory(folder);
  const fs::path earlier = dir.Write("out.csv", "an earlier result\r\n");
  const fs::path binary = dir.path() / "binary.csv";
  fs::copy_file(VELMORA_BATCH_TOOL, binary);
  struct Case {
    fs::path in, out;
    const char* message;
  };
  const Case cases[] = {
      {folder, earlier, kInputUnreadable},
      {dir.path() / "missing.csv", earlier, kInputUnreadable},
      {binary, earlier, kLineFormatInvalid},
      {input, folder, kOutputUnwritable},
      {input, "/dev/full", kOutputUnwritable},
      {input, "/proc/velmora-hostile.csv", kOutputUnwritable},
  };
  frmMain window(&reporter);
  window.show();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.in.string() + " -> " + c.out.string());
    RunWith(window, c.in, c.out);
    ASSERT_EQ(reporter.messages.size(), 1u);
    EXPECT_TRUE(reporter.messages[0].isError);
    EXPECT_NE(reporter.messages[0].text.find(c.message), std::string::npos) << reporter.messages[0].text;
    EXPECT_FALSE(window.isBatchRunning());
    EXPECT_TRUE(Button(window, "cmdExecAll")->isEnabled());
  }
  EXPECT_EQ(ReadFile(earlier), "an earlier result\r\n");
  EXPECT_EQ(FolderEntries(dir.path()), (std::vector<std::string>{"binary.csv", "folder", "in.csv", "out.csv"}));
  window.close();
}

TEST_F(WindowBatch, ClicksAndCloseDuringARun) {
  const fs::path input = Input(300000);
  const fs::path output = dir.Write("out.csv", "an earlier result\r\n");
  frmMain window(&reporter);
  window.show();
  // While the run goes on: a second batch click, an individual calculation
  // after a changed setting (which must not reach the run), and then the
  // window's close.
  int ticks = 0;
  QTimer timer;
  QObject::connect(&timer, &QTimer::timeout, [&] {
    ++ticks;
    if (ticks == 1) Button(window, "cmdExecAll")->click();
    if (ticks == 2) {
      Box(window, "txtC3")->setText(QStringLiteral("0.5"));
      window.cmdExec_Click();
    }
    if (ticks == 3) window.close();
  });
  timer.start(1);
  RunWith(window, input, output);
  timer.stop();
  if (ticks < 3) GTEST_SKIP() << "the run ended before the window was closed (" << ticks << " ticks)";
  EXPECT_TRUE(reporter.messages.empty()) << reporter.messages[0].text;
  EXPECT_EQ(window.commonSettings().InterestRate, 0.04f) << "the calculation reloaded the run's settings";
  EXPECT_EQ(Box(window, "txtA4")->text().toStdString(), "");
  EXPECT_EQ(ReadFile(output), "an earlier result\r\n");
  EXPECT_EQ(FolderEntries(dir.path()), (std::vector<std::string>{"in.csv", "out.csv"}));
}

TEST(WindowProgram, StartsOnAGarbageSettingsStore) {
  using namespace std::string_literals;
  WriteStore("[Setting]\ntxtC1=@Variant(\\xff\\xff\\xff\\xff)\ntxtU2="s + std::string(1u << 20, '\xff') +
             "\n\0\0\0"s);
  RunOptions options;
  options.environment = {"QT_QPA_PLATFORM=offscreen", "XDG_CONFIG_HOME=" + ConfigHome().string()};
  options.signalAfter = std::chrono::milliseconds(3000);
  options.signal = SIGTERM;
  // Ending saves the boxes back, the long one too: seconds under the
  // sanitizers.
  options.timeout = std::chrono::milliseconds(40000);
  const RunResult r = RunProgram(VELMORA_WINDOW_PROGRAM, {}, options);
  // Still running when asked to end: it neither crashed nor gave up on the store.
  EXPECT_FALSE(r.hung);
  EXPECT_FALSE(r.exited) << "ended by itself with status " << r.exitCode << ": " << r.err;
  EXPECT_EQ(r.signal, SIGTERM) << r.err;
}

// A field of /proc/<pid>/status that holds a signal mask ("SigCgt:" caught,
// "SigIgn:" ignored): does it hold `signal`?
bool SignalInMask(int pid, const std::string& field, int signal) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.compare(0, field.size(), field) == 0) {
      return (std::stoull(line.substr(field.size()), nullptr, 16) >> (signal - 1)) & 1;
    }
  }
  return false;
}

// Logout (SIGHUP), shutdown (SIGTERM) or Ctrl+C in its terminal (SIGINT) end
// the program as a close does: the settings are saved. It then ends by that
// signal, so that whoever sent it sees why it ended. A file-size limit does
// not kill it.
TEST(WindowProgram, SignalsEndItLikeAClose) {
  for (int signal : {SIGTERM, SIGHUP, SIGINT}) {
    SCOPED_TRACE(::strsignal(signal));
    // Two keys stored: saving writes back all twelve.
    WriteStore("[Setting]\ntxtU2=12.5\ntxtC4=\"1,5\"\n");
    // Started as from a terminal, whatever started this test.
    ::signal(signal, SIG_DFL);
    bool sent = false;
    bool ignoresFileSizeSignal = false;
    RunOptions options;
    options.environment = {"QT_QPA_PLATFORM=offscreen"};
    // Sent as soon as the program handles it, at the latest after 8 s.
    options.signalAfter = std::chrono::milliseconds(8000);
    options.signal = signal;
    options.whileRunning = [&](int pid) {
      if (sent || !SignalInMask(pid, "SigCgt:", signal)) return;
      ignoresFileSizeSignal = SignalInMask(pid, "SigIgn:", SIGXFSZ);
      sent = ::kill(pid, signal) == 0;
    };
    const RunResult r = RunProgram(VELMORA_WINDOW_PROGRAM, {}, options);
    EXPECT_FALSE(r.hung);
    EXPECT_TRUE(sent) << "the program does not handle the signal";
    EXPECT_TRUE(ignoresFileSizeSignal);
    EXPECT_FALSE(r.exited) << "exit status " << r.exitCode << ": " << r.err;
    EXPECT_EQ(r.signal, signal) << r.err;
    const std::string store = ReadFile(StoreFile());
    for (const char* line : {"txtC1=0.610\n", "txtC4=\"1,5\"\n", "txtU2=12.5\n", "txtU9=3.321\n"}) {
      EXPECT_NE(store.find(line), std::string::npos) << line << "not in:\n" << store;
    }
  }
}

// Started with a hangup ignored (nohup, a background job), the window keeps
// it ignored: logging out does not end it, while SIGTERM still does.
TEST(WindowProgram, AHangupIgnoredAtTheStartStaysIgnored) {
  WriteStore("[Setting]\ntxtU2=12.5\n");
  struct sigaction ignore {}, previous {};
  ignore.sa_handler = SIG_IGN;
  ::sigaction(SIGHUP, &ignore, &previous);
  ::signal(SIGTERM, SIG_DFL);
  bool sent = false;
  bool hangupIgnored = false;
  RunOptions options;
  options.environment = {"QT_QPA_PLATFORM=offscreen"};
  options.signalAfter = std::chrono::milliseconds(8000);
  options.signal = SIGTERM;
  options.whileRunning = [&](int pid) {
    if (sent || !SignalInMask(pid, "SigCgt:", SIGTERM)) return;  // its handlers are in place
    hangupIgnored = SignalInMask(pid, "SigIgn:", SIGHUP) && !SignalInMask(pid, "SigCgt:", SIGHUP);
    ::kill(pid, SIGHUP);
    sent = ::kill(pid, SIGTERM) == 0;
  };
  const RunResult r = RunProgram(VELMORA_WINDOW_PROGRAM, {}, options);
  ::sigaction(SIGHUP, &previous, nullptr);
  EXPECT_FALSE(r.hung);
  EXPECT_TRUE(sent) << "the program does not handle SIGTERM";
  EXPECT_TRUE(hangupIgnored);
  EXPECT_EQ(r.signal, SIGTERM) << "exit status " << r.exitCode << ": " << r.err;
}

// A virtual X server of the test's own, and xdotool to work the real window
// on it as a user does: with the mouse and the keyboard.
class VirtualScreen {
 public:
  VirtualScreen() {
    if (QStandardPaths::findExecutable(QStringLiteral("Xvfb")).isEmpty() ||
        QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty()) {
      return;
    }
    server_.setStandardErrorFile(QProcess::nullDevice());
    // Xvfb takes a free display and writes its number once it takes clients.
    server_.start(QStringLiteral("Xvfb"), {"-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten", "tcp"});
    QByteArray number;
    while (!number.contains('\n') && server_.waitForReadyRead(10000)) number += server_.readAllStandardOutput();
    if (!number.trimmed().isEmpty()) display_ = QLatin1Char(':') + QString::fromLatin1(number.trimmed());
  }
  ~VirtualScreen() {
    server_.terminate();
    server_.waitForFinished(5000);
  }
  // Empty when there is none.
  const QString& display() const { return display_; }

  // Runs xdotool: its output, or nothing when it failed or took too long.
  std::optional<QString> xdo(const QStringList& args, int timeoutMs = 15000) const {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), display_);
    // xdotool reads window titles through the locale: under C it cannot
    // match the Japanese ones (a fresh system has no locale set).
    env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    p.setProcessEnvironment(env);
    p.setStandardErrorFile(QProcess::nullDevice());
    p.start(QStringLiteral("xdotool"), args);
    if (!p.waitForFinished(timeoutMs)) {
      p.kill();
      p.waitForFinished();
      return std::nullopt;
    }
    if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) return std::nullopt;
    return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
  }
  // The shown windows whose title matches `title` (a regular expression).
  QStringList windows(const QString& title) const {
    const auto found = xdo({"search", "--onlyvisible", "--name", title});
    return found ? found->split(QLatin1Char('\n'), Qt::SkipEmptyParts) : QStringList();
  }
  std::optional<QString> waitForWindow(const QString& title) const {
    const auto found = xdo({"search", "--sync", "--onlyvisible", "--name", title});
    if (!found) return std::nullopt;
    return found->section(QLatin1Char('\n'), 0, 0);
  }
  bool waitUntilGone(const QString& title, int timeoutMs) const {
    QElapsedTimer clock;
    clock.start();
    while (!windows(title).isEmpty()) {
      if (clock.elapsed() > timeoutMs) return false;
      QThread::msleep(50);
    }
    return true;
  }

 private:
  QProcess server_;
  QString display_;
};

// The window program on a virtual screen, with its settings under `config`.
class RealWindow {
 public:
  RealWindow(const VirtualScreen& screen, const fs::path& folder, std::optional<rlim_t> fileSizeLimit = {})
      : screen_(screen), errors_(folder / "velmora.err") {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), screen.display());
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), QString::fromStdString((folder / "config").string()));
    // As on a user's desktop: under the C locale the window's legacy title
    // property cannot hold the Japanese titles that xdotool looks for.
    env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    // Qt's own dialogs, whatever desktop started this test.
    for (const char* name : {"XDG_CURRENT_DESKTOP", "QT_QPA_PLATFORMTHEME", "SESSION_MANAGER", "WAYLAND_DISPLAY"}) {
      env.remove(QString::fromLatin1(name));
    }
    // libxkbcommon reads X atom names, which carry no NUL, with strndup:
    // correct, but a finding under strict_string_checks.
    if (env.contains(QStringLiteral("ASAN_OPTIONS"))) {
      env.insert(QStringLiteral("ASAN_OPTIONS"),
                 env.value(QStringLiteral("ASAN_OPTIONS")) + QStringLiteral(":strict_string_checks=0"));
    }
    program_.setProcessEnvironment(env);
    program_.setStandardOutputFile(QProcess::nullDevice());
    program_.setStandardErrorFile(QString::fromStdString(errors_.string()));
    program_.setChildProcessModifier([fileSizeLimit] {
      for (int s : {SIGTERM, SIGHUP, SIGINT, SIGXFSZ}) ::signal(s, SIG_DFL);
      if (fileSizeLimit) {
        const rlimit limit{*fileSizeLimit, *fileSizeLimit};
        ::setrlimit(RLIMIT_FSIZE, &limit);
      }
    });
    program_.start(QStringLiteral(VELMORA_WINDOW_PROGRAM), {});
    if (!program_.waitForStarted(10000)) return;
    if (const auto id = screen_.waitForWindow(QStringLiteral("^Velmora$"))) window_ = *id;
    const auto geometry = screen_.xdo({"getwindowgeometry", "--shell", window_});
    static const QRegularExpression height(QStringLiteral("HEIGHT=(\\d+)"));
    const auto match = height.match(geometry.value_or(QString()));
    // The menu bar sits above the client area, which is 5640 twips high.
    if (match.hasMatch()) menuHeight_ = match.captured(1).toInt() - Px(5640);
    QThread::msleep(500);  // let it settle before the first key
  }
  ~RealWindow() {
    if (program_.state() != QProcess::NotRunning) {
      program_.kill();
      program_.waitForFinished(10000);
    }
  }
  bool ready() const { return !window_.isEmpty() && menuHeight_ > 0; }
  // (QProcess learns of the program's end only when asked to wait for it.)
  bool running() { return program_.state() == QProcess::Running && !program_.waitForFinished(0); }
  int pid() const { return static_cast<int>(program_.processId()); }
  std::string errors() const { return ReadFile(errors_); }
  bool endsWithin(int ms) { return program_.waitForFinished(ms); }
  bool endedBySignal() const { return program_.exitStatus() == QProcess::CrashExit; }
  // How it ended, for the failure messages.
  std::string ending() const {
    if (program_.state() != QProcess::NotRunning) return "still running";
    return (endedBySignal() ? "ended by signal " : "exited with ") + std::to_string(program_.exitCode());
  }

  // Clicks the middle of a control placed at (left, top, width, height)
  // twips in a frame at (frameLeft, frameTop) of the client area.
  void click(int frameLeft, int frameTop, int left, int top, int width, int height) {
    const int x = Px(frameLeft) + Px(left) + Px(width) / 2;
    const int y = menuHeight_ + Px(frameTop) + Px(top) + Px(height) / 2;
    focus(window_);
    screen_.xdo({"mousemove", "--window", window_, QString::number(x), QString::number(y), "click", "1"});
  }
  void keys(const QString& keys) { screen_.xdo({"key", "--clearmodifiers", keys}); }
  void type(const QString& text) { screen_.xdo({"type", "--delay", "5", "--", text}); }
  void focus(const QString& window) {
    screen_.xdo({"windowfocus", "--sync", window});
    QThread::msleep(100);
  }
  // Clicks a "選択" button and types `path` into the dialog it opens.
  bool choose(int top, const QString& title, const fs::path& path) {
    click(120, 3360, 3960, top, 615, 255);
    const auto dialog = screen_.waitForWindow(QLatin1Char('^') + title + QLatin1Char('$'));
    if (!dialog) return false;
    focus(*dialog);
    keys(QStringLiteral("ctrl+a"));
    type(QString::fromStdString(path.string()));
    // The first Return may only close the name box's completion list. A
    // sanitizer build on a busy machine may take seconds to close the dialog.
    for (int attempt = 0; attempt < 3; ++attempt) {
      keys(QStringLiteral("Return"));
      if (screen_.waitUntilGone(QLatin1Char('^') + title + QLatin1Char('$'), 6000)) return true;
    }
    return false;
  }

 private:
  const VirtualScreen& screen_;
  fs::path errors_;
  QProcess program_;
  QString window_;
  int menuHeight_ = 0;
};

std::vector<std::string> TemporaryResults(const fs::path& folder) {
  std::vector<std::string> found;
  for (const std::string& name : FolderEntries(folder)) {
    if (name.rfind(".velmora-", 0) == 0) found.push_back(name);
  }
  return found;
}

class WindowUnderX : public ::testing::Test {
 protected:
  void SetUp() override {
    if (screen.display().isEmpty()) GTEST_SKIP() << "needs Xvfb and xdotool";
    std::string bytes = "header\r\n";
    bytes.reserve(600000 * 44);
    for (int i = 0; i < 600000; ++i) bytes += "3.140,9.725,14.759,1.5,0.8,2.1,12.4,4.2\r\n";
    input = dir.Write("in.csv", bytes);
    output = dir.Write("result.csv", "an earlier result\r\n");
  }
  VirtualScreen screen;
  TempDir dir;
  fs::path input, output;
};

// Ctrl+C in the terminal while a batch runs from the real window: the run
// stops, the earlier output stays, no temporary file is left, and the value
// typed into a box is saved.
TEST_F(WindowUnderX, InterruptedBatchKeepsTheEarlierOutput) {
  RealWindow window(screen, dir.path());
  ASSERT_TRUE(window.ready()) << window.errors();
  window.click(5040, 120, 1920, 360, 1575, 270);  // txtU2
  window.keys(QStringLiteral("ctrl+a"));
  window.type(QStringLiteral("12.5"));
  window.keys(QStringLiteral("alt+q"));  // types nothing
  ASSERT_TRUE(window.choose(600, QStringLiteral("ファイルを開く"), input)) << window.errors();
  // "result" while result.csv exists: no overwrite question; ".csv" is added.
  ASSERT_TRUE(window.choose(1200, QStringLiteral("ファイルを保存する"), dir.path() / "result")) << window.errors();
  window.click(120, 3360, 3120, 1680, 1455, 375);  // cmdExecAll
  QElapsedTimer clock;
  clock.start();
  while (TemporaryResults(dir.path()).empty() && window.running() && clock.elapsed() < 60000) QThread::usleep(200);
  ASSERT_FALSE(TemporaryResults(dir.path()).empty()) << "the run never started writing\n" << window.errors();
  ::kill(window.pid(), SIGINT);
  ASSERT_TRUE(window.endsWithin(30000)) << window.errors();
  EXPECT_TRUE(window.endedBySignal());
  EXPECT_EQ(ReadFile(output), "an earlier result\r\n");
  EXPECT_EQ(TemporaryResults(dir.path()), std::vector<std::string>{});
  const std::string store = ReadFile(dir.path() / "config" / "Velmora" / "Velmora.conf");
  EXPECT_NE(store.find("txtU2=12.5\n"), std::string::npos) << store;
  EXPECT_NE(store.find("txtC4=3.140\n"), std::string::npos) << store;
}

// 中止 (Alt+C) while the real window's batch writes its result: the run
// stops, the earlier output stays, no temporary file is left, and a message
// box says so; the program goes on.
TEST_F(WindowUnderX, StopButtonKeepsTheEarlierOutput) {
  RealWindow window(screen, dir.path());
  ASSERT_TRUE(window.ready()) << window.errors();
  ASSERT_TRUE(window.choose(600, QStringLiteral("ファイルを開く"), input)) << window.errors();
  ASSERT_TRUE(window.choose(1200, QStringLiteral("ファイルを保存する"), dir.path() / "result")) << window.errors();
  window.click(120, 3360, 3120, 1680, 1455, 375);  // cmdExecAll
  QElapsedTimer clock;
  clock.start();
  while (TemporaryResults(dir.path()).empty() && window.running() && clock.elapsed() < 60000) QThread::usleep(200);
  ASSERT_FALSE(TemporaryResults(dir.path()).empty()) << "the run never started writing\n" << window.errors();
  window.keys(QStringLiteral("alt+c"));
  while (screen.windows(QStringLiteral("^Velmora$")).size() < 2 && window.running() && clock.elapsed() < 60000) {
    QThread::msleep(50);
  }
  ASSERT_TRUE(window.running()) << window.ending() << "\n" << window.errors();
  EXPECT_EQ(screen.windows(QStringLiteral("^Velmora$")).size(), 2) << "no message box";
  EXPECT_EQ(ReadFile(output), "an earlier result\r\n");
  EXPECT_EQ(TemporaryResults(dir.path()), std::vector<std::string>{});
}

// A file-size limit reached mid-run: the program is not killed, the run
// fails with its message box, and the earlier output stays. Ended by
// SIGTERM while the message is up, it still saves the settings.
TEST_F(WindowUnderX, FileSizeLimitEndsInTheWriteMessage) {
  RealWindow window(screen, dir.path(), 64 * 1024);
  ASSERT_TRUE(window.ready()) << window.errors();
  ASSERT_TRUE(window.choose(600, QStringLiteral("ファイルを開く"), input)) << window.errors();
  ASSERT_TRUE(window.choose(1200, QStringLiteral("ファイルを保存する"), dir.path() / "result")) << window.errors();
  window.click(120, 3360, 3120, 1680, 1455, 375);  // cmdExecAll
  // The message box, captioned "Velmora" as well, appears over the window.
  QElapsedTimer clock;
  clock.start();
  while (screen.windows(QStringLiteral("^Velmora$")).size() < 2 && window.running() && clock.elapsed() < 60000) {
    QThread::msleep(50);
  }
  ASSERT_TRUE(window.running()) << window.ending() << "\n" << window.errors();
  ASSERT_EQ(screen.windows(QStringLiteral("^Velmora$")).size(), 2) << window.errors();
  EXPECT_EQ(ReadFile(output), "an earlier result\r\n");
  EXPECT_EQ(TemporaryResults(dir.path()), std::vector<std::string>{});
  ::kill(window.pid(), SIGTERM);
  ASSERT_TRUE(window.endsWithin(30000)) << window.errors();
  EXPECT_TRUE(window.endedBySignal());
  EXPECT_NE(ReadFile(dir.path() / "config" / "Velmora" / "Velmora.conf").find("txtU2=9.725\n"), std::string::npos);
}

}  // namespace
}  // namespace velmora::test

int main(int argc, char** argv) {
  // Offscreen, with the settings in a folder of this run.
  velmora::test::TempDir config;
  velmora::test::ConfigHome() = config.path();
  ::setenv("XDG_CONFIG_HOME", config.path().c_str(), 1);
  ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  QApplication::setOrganizationName(QStringLiteral("Velmora"));
  QApplication::setApplicationName(QStringLiteral("Velmora"));
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
