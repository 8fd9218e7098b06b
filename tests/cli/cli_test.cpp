// velmora-batch run as a program: files in, files and messages out. On
// Windows the .exe runs (under Wine here) with the same cases, besides the
// POSIX signals, which have their Windows counterparts at the end.
#include <gtest/gtest.h>

#if defined(_WIN32)
#include <windows.h>
#else
#include <fcntl.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <chrono>
#include <csignal>
#include <thread>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>

#include "batch/messages.h"
#include "core/messages.h"
#include "hostile/run_program.h"
#include "test_support.h"

namespace velmora {
namespace {

namespace fs = std::filesystem;

const fs::path kTool = VELMORA_BATCH_TOOL;
const fs::path kData = VELMORA_CLI_DATA;

using Args = std::vector<std::string>;

// Arguments: `options` split at blanks, then the others as they are.
Args With(const std::string& options, Args others) {
  Args all;
  std::size_t start = 0;
  while (start < options.size()) {
    const std::size_t blank = std::min(options.find(' ', start), options.size());
    if (blank > start) all.push_back(options.substr(start, blank - start));
    start = blank + 1;
  }
  all.insert(all.end(), others.begin(), others.end());
  return all;
}

struct Outcome {
  int status = -1;  // the exit status; -1 when ended otherwise
  std::string out;
  std::string err;
};

class CliTest : public ::testing::Test {
 protected:
  // Runs the tool from the temporary folder.
  Outcome Run(const Args& arguments, test::RunOptions options = {}) {
    options.workingDirectory = dir.path();
    const test::RunResult r = test::RunProgram(kTool, arguments, options);
    EXPECT_EQ(r.startFailure, "");
    EXPECT_FALSE(r.hung);
    return {r.exited ? r.exitCode : -1, r.out, r.err};
  }
  std::string Data(const std::string& name) { return test::U8(kData / name); }

  test::TempDir dir;
};

// Messages as the tool prints them to a file (CP932 and CR LF on Windows).
const std::string kCompleted = test::AsPrinted(std::string(msg::kBatchCompleted) + "\n");
const std::string kInterrupted = test::AsPrinted("中断しました。以前の出力ファイルはそのまま残っています\n");

TEST_F(CliTest, ResultsMatchTheExpectedFilesByteForByte) {
  struct Case {
    std::string options, input, expected;
  };
  const Case cases[] = {
      {"", "households.csv", "expected_with_risk_premium.csv"},
      {"--without-risk-premium", "households.csv", "expected_without_risk_premium.csv"},
      {"--without-risk-premium", "households_seven.csv", "expected_seven_without_risk_premium.csv"},
      // Every thread count gives the same bytes.
      {"--threads=2 --without-risk-premium", "households.csv", "expected_without_risk_premium.csv"},
      {"--without-risk-premium --threads 7", "households_seven.csv", "expected_seven_without_risk_premium.csv"},
      {"--threads 1", "households.csv", "expected_with_risk_premium.csv"},
      // The defaults given explicitly, in both spellings.
      {"--insurance-rate 0.610 --damage-probability=0.025 --interest-rate 0.04 --markup-rate=3.14",
       "households.csv", "expected_with_risk_premium.csv"},
  };
  for (const auto& c : cases) {
    fs::remove(dir.path() / "out.csv");
    const Outcome o = Run(With(c.options, {Data(c.input), "out.csv"}));
    EXPECT_EQ(o.status, 0) << c.expected;
    EXPECT_EQ(o.err, kCompleted) << c.expected;
    EXPECT_EQ(test::ReadFile(dir.path() / "out.csv"), test::ReadFile(kData / c.expected)) << c.expected;
  }
  // A result file read back as input gives itself again.
  const Outcome again = Run({"out.csv", "again.csv"});
  EXPECT_EQ(again.status, 0);
  EXPECT_EQ(test::ReadFile(dir.path() / "again.csv"), test::ReadFile(kData / "expected_with_risk_premium.csv"));
}

TEST_F(CliTest, FailuresPrintTheirMessageAndExitNonZero) {
  dir.Write("old.csv", "old");
  struct Case {
    Args arguments;
    std::string message;
  };
  const Case cases[] = {
      {{Data("households_seven.csv"), "old.csv"}, std::string("2").append(msg::kLineFormatInvalid)},
      {{"--interest-rate", "abc", Data("households.csv"), "old.csv"}, msg::kCommonSettingsInvalid},
      {{"--without-risk-premium", "--markup-rate", "0", Data("households.csv"), "old.csv"}, msg::kMarkupRateZero},
      {{"--gap-table", "none.txt", Data("households.csv"), "old.csv"}, msg::kGapTableUnreadable},
      {{"missing.csv", "old.csv"}, msg::kInputUnreadable},
      {{"old.csv", "./old.csv"}, msg::kSameFiles},
      {{Data("households.csv"), "no/such/folder.csv"}, msg::kOutputUnwritable},
  };
  for (const auto& c : cases) {
    const Outcome o = Run(c.arguments);
    EXPECT_EQ(o.status, 1) << c.arguments.front();
    EXPECT_EQ(o.err, test::AsPrinted(c.message + "\n")) << c.arguments.front();
  }
  EXPECT_EQ(test::ReadFile(dir.path() / "old.csv"), "old");
}

// A file the run writes never takes the place of another file of the run,
// however the two are spelt and whether or not it exists yet: refused before
// anything is computed, every file left as it was.
TEST_F(CliTest, RunFilesNamingOneFileAreRefusedBeforeTheRun) {
  dir.Write("in.csv", test::ReadFile(kData / "households.csv"));
  dir.Write("table.txt", test::ReadFile(VELMORA_EXAMPLE_GAP_TABLE));
  const std::string outAbsolute = test::U8(dir.path() / "out.csv");
#if !defined(_WIN32)
  fs::create_symlink("out.csv", dir.path() / "link.json");  // leads to an output not written yet
  fs::create_symlink(".", dir.path() / "here");
#endif
  const std::vector<std::string> before = test::FolderEntries(dir.path());
  struct Case {
    Args arguments;
    int status;
  };
  const Case cases[] = {
      {{"--summary", "./out.csv", "in.csv", "out.csv"}, 2},
      {{"--summary", outAbsolute, "in.csv", "./out.csv"}, 2},
      {{"--summary", "out.csv", "in.csv", outAbsolute}, 2},
#if !defined(_WIN32)
      {{"--summary", "link.json", "in.csv", "out.csv"}, 2},
      {{"--summary", "here/out.csv", "in.csv", "out.csv"}, 2},
#endif
      // The table is read by the run: the result must not replace it.
      {{"--gap-table", "table.txt", "in.csv", "./table.txt"}, 1},
  };
  for (const Case& c : cases) {
    const Outcome o = Run(c.arguments);
    EXPECT_EQ(o.status, c.status) << c.arguments[1] << " " << c.arguments.back();
    if (c.status == 1) {
      EXPECT_EQ(o.err, test::AsPrinted("ギャップ分布表と出力ファイルが同じです\n"));
    }
    EXPECT_EQ(test::FolderEntries(dir.path()), before) << c.arguments[1] << " " << c.arguments.back();
  }
  EXPECT_EQ(test::ReadFile(dir.path() / "table.txt"), test::ReadFile(VELMORA_EXAMPLE_GAP_TABLE));
  // Two names of one folder that does not hold the files yet do not matter.
  const Outcome apart = Run({"--summary", "out.json", "in.csv", "./out.csv"});
  EXPECT_EQ(apart.status, 0) << apart.err;
}

// --explain's JSON is UTF-8 wherever it goes (a file, a pipe); its text and
// the messages follow the console's rules (CP932 redirected on Windows).
TEST_F(CliTest, ExplainJsonIsUtf8WhenRedirected) {
  const std::string row = "9.725,x,4.81,3.57,7.416,14.759,22.616,3.321";
  const std::string message = std::string(msg::kRowRejected) + "2番目の値（家財被害）" + msg::kRowFieldNotNumeric;
  const Outcome json = Run({"--explain", row, "--format", "json"});
  EXPECT_EQ(json.status, 1);
  EXPECT_NE(json.out.find("\"message\": \"" + message + "\""), std::string::npos) << json.out;
  EXPECT_EQ(json.err, test::AsPrinted(message + "\n"));
  const Outcome text = Run({"--explain", row});
  EXPECT_EQ(text.status, 1);
  EXPECT_NE(text.out.find(test::AsPrinted("入力行: " + row + "\n")), std::string::npos) << text.out;
}

TEST_F(CliTest, SettingsAndGapTableReachTheModel) {
  const Outcome a = Run({"--without-risk-premium", "--insurance-rate", "0.2", Data("households.csv"), "a.csv"});
  EXPECT_EQ(a.status, 0);
  const std::string other = test::ReadFile(dir.path() / "a.csv");
  EXPECT_NE(other, test::ReadFile(kData / "expected_without_risk_premium.csv"));
  EXPECT_GT(other.size(), 400u);

  // Every table entry 1: the delay damage reads the factor alone.
  std::string table = "gap,value\r\n";
  for (int k = -200; k <= 1000; ++k) {
    char gap[16];
    std::snprintf(gap, sizeof gap, "%.1f", k / 10.0);
    table += std::string(gap) + ",1\r\n";
  }
  dir.Write("table.txt", table);
  const Outcome b = Run({"--gap-table", "table.txt", Data("households.csv"), "b.csv"});
  EXPECT_EQ(b.status, 0) << b.err;
  const std::string uniform = test::ReadFile(dir.path() / "b.csv");
  // The model tests pin the default household's delay damage for this table.
  EXPECT_NE(uniform.find("3.321,0.3940527,1.342743,0.6642039,0.2256883\r\n"), std::string::npos);
}

TEST_F(CliTest, UsageErrorsAndHelp) {
  for (const std::string& arguments :
       {std::string(""), std::string("only.csv"), std::string("a b c"), std::string("--no-such-option a b"),
        std::string("a b --markup-rate"), std::string("--threads 0 a b"), std::string("--threads=-2 a b"),
        std::string("--threads 1025 a b"), std::string("--threads 2x a b"), std::string("--threads= a b")}) {
    const Outcome o = Run(With(arguments, {}));
    EXPECT_EQ(o.status, 2) << arguments;
    EXPECT_NE(o.err.find("--help"), std::string::npos) << arguments;
  }
  const Outcome help = Run({"--help"});
  EXPECT_EQ(help.status, 0);
  for (const char* word : {"使い方", "Usage", "--without-risk-premium", "--insurance-rate", "--damage-probability",
                           "--interest-rate", "--markup-rate", "--gap-table", "--threads", "EGapDis.txt"}) {
    EXPECT_NE(help.out.find(test::AsPrinted(word)), std::string::npos) << word;
  }
}

TEST_F(CliTest, FileSizeLimitIsAWriteFailureThatKeepsTheOldOutput) {
#if defined(_WIN32)
  GTEST_SKIP() << "Windows has no file size limit per process";
#endif
  std::string lines = "h\r\n";
  for (int i = 0; i < 40000; ++i) lines += "9.725,7.38,4.81,3.57,7.416,14.759,22.616,3.321\r\n";
  dir.Write("in.csv", lines);
  dir.Write("out.csv", "old");
  // Less than the 3.4 MB of results.
  test::RunOptions limited;
  limited.fileSizeLimit = 1 << 20;
  const Outcome o = Run({"in.csv", "out.csv"}, limited);
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.err, std::string(msg::kOutputUnwritable) + "\n");
  EXPECT_EQ(test::ReadFile(dir.path() / "out.csv"), "old");
  std::size_t files = 0;
  for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir.path())) ++files;
  EXPECT_EQ(files, 2u);  // no temporary file left
}

TEST_F(CliTest, TerminationKeepsTheOldOutput) {
#if defined(_WIN32)
  GTEST_SKIP() << "SIGTERM is POSIX's; Ctrl+C is tested in CtrlCKeepsTheOldOutput";
#else
  std::string lines = "h\r\n";
  for (int i = 0; i < 600000; ++i) lines += "9.725,7.38,4.81,3.57,7.416,14.759,22.616,3.321\r\n";
  const fs::path in = dir.Write("in.csv", lines);
  const fs::path out = dir.Write("out.csv", "old");
  const std::string tool = kTool.string(), inText = in.string(), outText = out.string();
  char* argv[] = {const_cast<char*>(tool.c_str()), const_cast<char*>(inText.c_str()),
                  const_cast<char*>(outText.c_str()), nullptr};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  ASSERT_EQ(posix_spawn(&pid, tool.c_str(), &actions, nullptr, argv, environ), 0);
  posix_spawn_file_actions_destroy(&actions);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  ::kill(pid, SIGTERM);
  int raw = 0;
  ASSERT_EQ(::waitpid(pid, &raw, 0), pid);
  if (WIFEXITED(raw) && WEXITSTATUS(raw) == 0) {
    // The machine outran the signal: then the run must be whole.
    const std::string result = test::ReadFile(out);
    EXPECT_EQ(std::count(result.begin(), result.end(), '\n'), 600001);
  } else {
    // Stopped by the tool (128 + SIGTERM), or by the signal itself before the
    // tool set its handler: either way the old output stays, with no
    // temporary file beside it.
    EXPECT_TRUE((WIFEXITED(raw) && WEXITSTATUS(raw) == 128 + SIGTERM) ||
                (WIFSIGNALED(raw) && WTERMSIG(raw) == SIGTERM))
        << raw;
    EXPECT_EQ(test::ReadFile(out), "old");
    std::size_t files = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir.path())) ++files;
    EXPECT_EQ(files, 2u);
  }
#endif
}

#if !defined(_WIN32)
// Whether the process's main thread has stopped (or ended): the state in
// /proc/<pid>/stat, after the name in parentheses.
bool StoppedOrGone(int pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  const std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  const std::size_t close = text.rfind(')');
  if (close == std::string::npos || close + 2 >= text.size()) return true;
  const char state = text[close + 2];
  return state == 'T' || state == 't' || state == 'Z' || state == 'X';
}

// A signal given while the tool stands at a point its open files show: it is
// stopped there (SIGSTOP), looked at again once it has stopped, signalled,
// and let go on. The signal goes to the main thread, which then takes it
// before its next step: a busy machine cannot let the tool run past the
// point between the look and the signal.
test::RunResult SignalWhen(const fs::path& tool, const std::vector<std::string>& args, int signal,
                           const std::function<bool(int pid)>& at, bool& sent) {
  sent = false;
  test::RunOptions options;
  options.whileRunning = [&](int pid) {
    if (sent || !at(pid)) return;
    ::kill(pid, SIGSTOP);
    while (!StoppedOrGone(pid)) std::this_thread::yield();
    if (at(pid)) {
      ::syscall(SYS_tgkill, pid, pid, signal);
      sent = true;
    }
    ::kill(pid, SIGCONT);
  };
  return test::RunProgram(tool, args, options);
}
#endif

// Interrupted in the check, even of an input with no data line at all (a
// long header keeps the check busy): 128 + the signal, the old output kept.
TEST_F(CliTest, InterruptDuringTheCheckExits128PlusTheSignal) {
#if defined(_WIN32)
  GTEST_SKIP() << "needs SIGSTOP and /proc to hold the tool in its check";
#else
  const fs::path in = dir.Write("in.csv", "");
  fs::resize_file(in, 256 << 20);
  { std::ofstream(in, std::ios::binary | std::ios::app) << "\r\n"; }
  const fs::path out = dir.Write("out.csv", "old");
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
    SCOPED_TRACE(signal);
    // As from a terminal, whatever started this test (a background job
    // ignores Ctrl+C, and the tool keeps an ignored signal ignored).
    ::signal(signal, SIG_DFL);
    bool sent = false;
    // The check holds the input alone; the run holds its temporary file too.
    const auto checking = [&](int pid) {
      return test::OpenFilesUnder(dir.path(), pid) == std::vector<std::string>{in.string()};
    };
    const test::RunResult r = SignalWhen(kTool, {in, out}, signal, checking, sent);
    ASSERT_TRUE(sent) << "the check was never seen";
    EXPECT_TRUE(r.exited) << "ended by signal " << r.signal;
    EXPECT_EQ(r.exitCode, 128 + signal) << r.err;
    EXPECT_EQ(r.err, kInterrupted);
    EXPECT_EQ(test::ReadFile(out), "old");
    EXPECT_EQ(test::FolderEntries(dir.path()), (std::vector<std::string>{"in.csv", "out.csv"}));
  }
#endif
}

// Started with a hangup ignored (nohup), the tool keeps it ignored: a hangup
// in its check does not stop the run.
TEST_F(CliTest, AHangupIgnoredAtTheStartStaysIgnored) {
#if defined(_WIN32)
  GTEST_SKIP() << "POSIX signals";
#else
  const fs::path in = dir.Write("in.csv", "");
  fs::resize_file(in, 64 << 20);
  { std::ofstream(in, std::ios::binary | std::ios::app) << "\r\n" << "9.725,7.38,4.81,3.57,7.416,14.759,22.616,3.321\r\n"; }
  const fs::path out = dir.Write("out.csv", "old");
  const auto checking = [&](int pid) {
    return test::OpenFilesUnder(dir.path(), pid) == std::vector<std::string>{in.string()};
  };
  struct sigaction ignore {}, previous {};
  ignore.sa_handler = SIG_IGN;
  ::sigaction(SIGHUP, &ignore, &previous);
  bool sent = false;
  const test::RunResult r = SignalWhen(kTool, {in, out}, SIGHUP, checking, sent);
  ::sigaction(SIGHUP, &previous, nullptr);
  ASSERT_TRUE(sent) << "the check was never seen";
  EXPECT_TRUE(r.exited) << "ended by signal " << r.signal;
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(test::ReadFile(out), std::string(msg::kResultHeaderCp932) +
                                     "\r\n9.725,7.38,4.81,3.57,7.416,14.759,22.616,3.321,0.3940527,1.342743,"
                                     "0.6642039,0.0002392535\r\n");
#endif
}

// Interrupted after the last line, while the result is made safe on disk and
// before it takes the output's place: an interrupt all the same.
TEST_F(CliTest, InterruptAfterTheLastLineBeforeTheCommitKeepsTheOldOutput) {
#if defined(_WIN32)
  GTEST_SKIP() << "needs SIGSTOP and /proc to hold the tool between its last line and the commit";
#else
  const std::string line = "9.725,7.38,4.81,3.57,7.416,14.759,22.616,3.321";
  constexpr int kLines = 500000;
  std::string lines = "h\r\n";
  for (int i = 0; i < kLines; ++i) lines += line + "\r\n";
  const fs::path in = dir.Write("in.csv", lines);
  const fs::path out = dir.Write("out.csv", "old");
  const std::uintmax_t full = msg::kResultHeaderCp932.size() + 2 +
                              std::uintmax_t{kLines} * (line.size() + std::string(",0.3940527,1.342743,0.6642039,0.0002392535\r\n").size());
  // The temporary file, still open, already holds every line.
  const auto written = [&](int pid) {
    for (const std::string& file : test::OpenFilesUnder(dir.path(), pid)) {
      std::error_code ec;
      if (file.find("/.velmora-") != std::string::npos && fs::file_size(file, ec) == full) return true;
    }
    return false;
  };
  bool sent = false;
  test::RunResult r;
  ::signal(SIGINT, SIG_DFL);  // as from a terminal, whatever started this test
  for (int attempt = 0; attempt < 5 && !sent; ++attempt) r = SignalWhen(kTool, {in, out}, SIGINT, written, sent);
  if (!sent) GTEST_SKIP() << "the result reached the disk too fast to be caught";
  EXPECT_TRUE(r.exited) << "ended by signal " << r.signal;
  EXPECT_EQ(r.exitCode, 128 + SIGINT) << r.err;
  EXPECT_EQ(r.err, kInterrupted);
  EXPECT_EQ(test::ReadFile(out), "old");
  EXPECT_EQ(test::FolderEntries(dir.path()), (std::vector<std::string>{"in.csv", "out.csv"}));
#endif
}

// Folder and file names in Japanese, from the command line to the files: on
// Windows the arguments arrive in UTF-16 and the paths stay wide.
TEST_F(CliTest, JapaneseFolderAndFileNames) {
  const fs::path folder = dir.path() / test::PathU8("浸水被害の調査");
  fs::create_directory(folder);
  fs::copy_file(kData / "households.csv", folder / test::PathU8("入力.csv"));
  fs::copy_file(VELMORA_EXAMPLE_GAP_TABLE, folder / test::PathU8("表①.txt"));
  const std::string in = "浸水被害の調査/入力.csv";
  const Outcome o = Run({"--gap-table", "浸水被害の調査/表①.txt", in, "浸水被害の調査/結果.csv"});
  EXPECT_EQ(o.status, 0) << o.err;
  EXPECT_EQ(test::ReadFile(folder / test::PathU8("結果.csv")), test::ReadFile(kData / "expected_with_risk_premium.csv"));
  // The same file under a name that differs in its folder's spelling.
  const Outcome same = Run({in, "浸水被害の調査/../浸水被害の調査/入力.csv"});
  EXPECT_EQ(same.status, 1);
  EXPECT_EQ(same.err, test::AsPrinted(std::string(msg::kSameFiles) + "\n"));
  EXPECT_EQ(test::FolderEntries(folder).size(), 3u);  // no temporary file left
}

#if defined(_WIN32)
// The result file's own messages, redirected: CP932 bytes with CR LF, written
// out here rather than converted.
TEST_F(CliTest, RedirectedMessagesAreCp932WithCrLf) {
  const Outcome done = Run({Data("households.csv"), "out.csv"});
  EXPECT_EQ(done.err,
            "\x88\xEA\x8A\x87\x8C\x76\x8E\x5A\x82\xCC\x8C\x8B\x89\xCA\x82\xF0\x8F\x6F\x97\xCD\x83\x74\x83\x40\x83\x43"
            "\x83\x8B\x82\xC9\x8F\x91\x82\xAB\x8D\x9E\x82\xDD\x82\xDC\x82\xB5\x82\xBD\r\n");
}

// Windows replaces no file that another program holds open (a spreadsheet
// showing the last result), whatever it shares: the run fails at once with
// the output's message, and the earlier result stays. An input held open
// without sharing cannot be read; shared for reading, as a spreadsheet
// shares it, it can.
TEST_F(CliTest, FilesHeldOpenByAnotherProgram) {
  const fs::path out = dir.Write("out.csv", "old");
  const fs::path in = dir.Write("in.csv", test::ReadFile(kData / "households.csv"));
  const DWORD all = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  struct Case {
    fs::path held;
    DWORD sharing;
    const char* message;  // null: the run succeeds
  };
  const Case cases[] = {{out, 0, msg::kOutputUnwritable},   {out, FILE_SHARE_READ, msg::kOutputUnwritable},
                        {out, all, msg::kOutputUnwritable}, {in, 0, msg::kInputUnreadable},
                        {in, FILE_SHARE_READ, nullptr}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.held.filename().string() + " shared " + std::to_string(c.sharing));
    const HANDLE lock = CreateFileW(c.held.c_str(), GENERIC_READ, c.sharing, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(lock, INVALID_HANDLE_VALUE);
    const Outcome o = Run({"in.csv", "out.csv"});
    CloseHandle(lock);
    EXPECT_EQ(test::FolderEntries(dir.path()), (std::vector<std::string>{"in.csv", "out.csv"}));
    if (c.message == nullptr) {
      EXPECT_EQ(o.status, 0) << o.err;
      EXPECT_EQ(test::ReadFile(out), test::ReadFile(kData / "expected_with_risk_premium.csv"));
    } else {
      EXPECT_EQ(o.status, 1);
      EXPECT_EQ(o.err, test::AsPrinted(std::string(c.message) + "\n"));
      EXPECT_EQ(test::ReadFile(out), "old");
    }
  }
}

// Ctrl+C in the tool's console while the result is being written: exit 130,
// as 128 + SIGINT on POSIX, and the earlier output stays with nothing beside it.
TEST_F(CliTest, CtrlCKeepsTheOldOutput) {
  std::string lines = "h\r\n";
  for (int i = 0; i < 600000; ++i) lines += "9.725,7.38,4.81,3.57,7.416,14.759,22.616,3.321\r\n";
  const fs::path in = dir.Write("in.csv", lines);
  const fs::path out = dir.Write("out.csv", "old");
  test::RunOptions options;
  options.signal = SIGINT;
  // The temporary result exists: the tool listens for Ctrl+C by then.
  options.signalWhen = [&](int) { return test::FolderEntries(dir.path()).size() == 3; };
  const test::RunResult r = test::RunProgram(kTool, {test::U8(in), test::U8(out)}, options);
  ASSERT_TRUE(r.signalled) << "Ctrl+C was not sent";
  ASSERT_TRUE(r.exited) << std::hex << r.signal;
  if (r.exitCode == 0) {
    // The run ended between the look and the Ctrl+C: then it must be whole.
    const std::string result = test::ReadFile(out);
    EXPECT_EQ(std::count(result.begin(), result.end(), '\n'), 600001);
  } else {
    EXPECT_EQ(r.exitCode, 130) << r.err;
    EXPECT_EQ(r.err, kInterrupted);
    EXPECT_EQ(test::ReadFile(out), "old");
    EXPECT_EQ(test::FolderEntries(dir.path()), (std::vector<std::string>{"in.csv", "out.csv"}));
  }
}
#endif

}  // namespace
}  // namespace velmora
