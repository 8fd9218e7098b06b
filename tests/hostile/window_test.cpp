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

TEST_F(WindowBatch, FileSizeLimitMidRunKeepsTheEarlierResult) {
  const fs::path input = Input(20000);
  const fs::path output = dir.Write("out.csv", "an earlier result\r\n");
  frmMain window(&reporter);
  window.show();
  {
    rlimit saved{};
    ::getrlimit(RLIMIT_FSIZE, &saved);
    const auto oldHandler = ::signal(SIGXFSZ, SIG_IGN);
    rlimit limit = saved;
    limit.rlim_cur = 64 * 1024;
    ::setrlimit(RLIMIT_FSIZE, &limit);
    RunWith(window, input, output);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    ::signal(SIGXFSZ, oldHandler);
  }
  ASSERT_EQ(reporter.messages.size(), 1u);
  EXPECT_EQ(reporter.messages[0].text, kOutputUnwritable);
  EXPECT_EQ(ReadFile(output), "an earlier result\r\n");
  EXPECT_EQ(FolderEntries(dir.path()), (std::vector<std::string>{"in.csv", "out.csv"}));
  window.close();
}

TEST_F(WindowBatch, ClicksAndCloseDuringARun) {
  const fs::path input = Input(300000);
  const fs::path output = dir.Write("out.csv", "an earlier result\r\n");
  frmMain window(&reporter);
  window.show();
  // While the run yields: a second batch click, an individual calculation,
  // and then the window's close.
  int ticks = 0;
  QTimer timer;
  QObject::connect(&timer, &QTimer::timeout, [&] {
    ++ticks;
    if (ticks == 1) Button(window, "cmdExecAll")->click();
    if (ticks == 2) window.cmdExec_Click();
    if (ticks == 3) window.close();
  });
  timer.start(1);
  RunWith(window, input, output);
  timer.stop();
  if (ticks < 3) GTEST_SKIP() << "the run ended before the window was closed (" << ticks << " ticks)";
  EXPECT_TRUE(reporter.messages.empty()) << reporter.messages[0].text;
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
  options.timeout = std::chrono::milliseconds(10000);
  const RunResult r = RunProgram(VELMORA_WINDOW_PROGRAM, {}, options);
  // Still running when asked to end: it neither crashed nor gave up on the store.
  EXPECT_FALSE(r.hung);
  EXPECT_FALSE(r.exited) << "ended by itself with status " << r.exitCode << ": " << r.err;
  EXPECT_EQ(r.signal, SIGTERM) << r.err;
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
