// velmora-batch run as a program: files in, files and messages out.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

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

std::string ReadAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string Quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

struct Outcome {
  int status = -1;
  std::string out;
  std::string err;
};

class CliTest : public ::testing::Test {
 protected:
  // Runs the tool through the shell from the temporary folder; `before` goes
  // in front of it (a ulimit, for instance).
  Outcome Run(const std::string& arguments, const std::string& before = "") {
    const fs::path out = dir.path() / ".stdout";
    const fs::path err = dir.path() / ".stderr";
    const std::string line = "cd " + Quote(dir.path()) + " && " + before + Quote(kTool) + " " + arguments + " >" +
                             Quote(out) + " 2>" + Quote(err);
    const int raw = std::system(("/bin/sh -c " + Quote(line)).c_str());
    Outcome o;
    o.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    o.out = ReadAll(out);
    o.err = ReadAll(err);
    fs::remove(out);
    fs::remove(err);
    return o;
  }
  std::string Data(const std::string& name) { return Quote(kData / name); }

  test::TempDir dir;
};

const std::string kCompleted = std::string(msg::kBatchCompleted) + "\n";

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
    const Outcome o = Run(c.options + " " + Data(c.input) + " out.csv");
    EXPECT_EQ(o.status, 0) << c.expected;
    EXPECT_EQ(o.err, kCompleted) << c.expected;
    EXPECT_EQ(ReadAll(dir.path() / "out.csv"), ReadAll(kData / c.expected)) << c.expected;
  }
  // A result file read back as input gives itself again.
  const Outcome again = Run("out.csv again.csv");
  EXPECT_EQ(again.status, 0);
  EXPECT_EQ(ReadAll(dir.path() / "again.csv"), ReadAll(kData / "expected_with_risk_premium.csv"));
}

TEST_F(CliTest, FailuresPrintTheirMessageAndExitNonZero) {
  dir.Write("old.csv", "old");
  struct Case {
    std::string arguments, message;
  };
  const Case cases[] = {
      {Data("households_seven.csv") + " old.csv", std::string("2").append(msg::kLineFormatInvalid)},
      {"--interest-rate abc " + Data("households.csv") + " old.csv", msg::kCommonSettingsInvalid},
      {"--without-risk-premium --markup-rate 0 " + Data("households.csv") + " old.csv", msg::kMarkupRateZero},
      {"--gap-table none.txt " + Data("households.csv") + " old.csv", msg::kGapTableUnreadable},
      {"missing.csv old.csv", msg::kInputUnreadable},
      {"old.csv ./old.csv", msg::kSameFiles},
      {Data("households.csv") + " no/such/folder.csv", msg::kOutputUnwritable},
  };
  for (const auto& c : cases) {
    const Outcome o = Run(c.arguments);
    EXPECT_EQ(o.status, 1) << c.arguments;
    EXPECT_EQ(o.err, c.message + "\n") << c.arguments;
  }
  EXPECT_EQ(ReadAll(dir.path() / "old.csv"), "old");
}

TEST_F(CliTest, SettingsAndGapTableReachTheModel) {
  const Outcome a = Run("--without-risk-premium --insurance-rate 0.2 " + Data("households.csv") + " a.csv");
  EXPECT_EQ(a.status, 0);
  const std::string other = ReadAll(dir.path() / "a.csv");
  EXPECT_NE(other, ReadAll(kData / "expected_without_risk_premium.csv"));
  EXPECT_GT(other.size(), 400u);

  // Every table entry 1: the delay damage reads the factor alone.
  std::string table = "gap,value\r\n";
  for (int k = -200; k <= 1000; ++k) {
    char gap[16];
    std::snprintf(gap, sizeof gap, "%.1f", k / 10.0);
    table += std::string(gap) + ",1\r\n";
  }
  dir.Write("table.txt", table);
  const Outcome b = Run("--gap-table table.txt " + Data("households.csv") + " b.csv");
  EXPECT_EQ(b.status, 0) << b.err;
  const std::string uniform = ReadAll(dir.path() / "b.csv");
  // The model tests pin the default household's delay damage for this table.
  EXPECT_NE(uniform.find("3.321,0.3940527,1.342743,0.6642039,0.2256883\r\n"), std::string::npos);
}

TEST_F(CliTest, UsageErrorsAndHelp) {
  for (const std::string& arguments :
       {std::string(""), std::string("only.csv"), std::string("a b c"), std::string("--no-such-option a b"),
        std::string("a b --markup-rate"), std::string("--threads 0 a b"), std::string("--threads=-2 a b"),
        std::string("--threads 1025 a b"), std::string("--threads 2x a b"), std::string("--threads= a b")}) {
    const Outcome o = Run(arguments);
    EXPECT_EQ(o.status, 2) << arguments;
    EXPECT_NE(o.err.find("--help"), std::string::npos) << arguments;
  }
  const Outcome help = Run("--help");
  EXPECT_EQ(help.status, 0);
  for (const char* word : {"使い方", "Usage", "--without-risk-premium", "--insurance-rate", "--damage-probability",
                           "--interest-rate", "--markup-rate", "--gap-table", "--threads", "EGapDis.txt"}) {
    EXPECT_NE(help.out.find(word), std::string::npos) << word;
  }
}

TEST_F(CliTest, FileSizeLimitIsAWriteFailureThatKeepsTheOldOutput) {
  std::string lines = "h\r\n";
  for (int i = 0; i < 40000; ++i) lines += "9.725,7.38,4.81,3.57,7.416,14.759,22.616,3.321\r\n";
  dir.Write("in.csv", lines);
  dir.Write("out.csv", "old");
  // 2048 blocks (1 or 2 MiB, by shell) is less than the 3.4 MB of results.
  const Outcome o = Run("in.csv out.csv", "ulimit -f 2048 && ");
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.err, std::string(msg::kOutputUnwritable) + "\n");
  EXPECT_EQ(ReadAll(dir.path() / "out.csv"), "old");
  std::size_t files = 0;
  for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir.path())) ++files;
  EXPECT_EQ(files, 2u);  // no temporary file left
}

TEST_F(CliTest, TerminationKeepsTheOldOutput) {
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
    const std::string result = ReadAll(out);
    EXPECT_EQ(std::count(result.begin(), result.end(), '\n'), 600001);
  } else {
    // Stopped by the tool (128 + SIGTERM), or by the signal itself before the
    // tool set its handler: either way the old output stays, with no
    // temporary file beside it.
    EXPECT_TRUE((WIFEXITED(raw) && WEXITSTATUS(raw) == 128 + SIGTERM) ||
                (WIFSIGNALED(raw) && WTERMSIG(raw) == SIGTERM))
        << raw;
    EXPECT_EQ(ReadAll(out), "old");
    std::size_t files = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir.path())) ++files;
    EXPECT_EQ(files, 2u);
  }
}

// A signal given while the tool stands at a point its open files show: it is
// stopped there (SIGSTOP), looked at again, signalled, and let go on.
test::RunResult SignalWhen(const fs::path& tool, const std::vector<std::string>& args, int signal,
                           const std::function<bool(int pid)>& at, bool& sent) {
  sent = false;
  test::RunOptions options;
  options.whileRunning = [&](int pid) {
    if (sent || !at(pid)) return;
    ::kill(pid, SIGSTOP);
    if (at(pid)) {
      ::kill(pid, signal);
      sent = true;
    }
    ::kill(pid, SIGCONT);
  };
  return test::RunProgram(tool, args, options);
}

// Interrupted in the check, even of an input with no data line at all (a
// long header keeps the check busy): 128 + the signal, the old output kept.
TEST_F(CliTest, InterruptDuringTheCheckExits128PlusTheSignal) {
  const fs::path in = dir.Write("in.csv", "");
  fs::resize_file(in, 256 << 20);
  { std::ofstream(in, std::ios::binary | std::ios::app) << "\r\n"; }
  const fs::path out = dir.Write("out.csv", "old");
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
    SCOPED_TRACE(signal);
    bool sent = false;
    // The check holds the input alone; the run holds its temporary file too.
    const auto checking = [&](int pid) {
      return test::OpenFilesUnder(dir.path(), pid) == std::vector<std::string>{in.string()};
    };
    const test::RunResult r = SignalWhen(kTool, {in, out}, signal, checking, sent);
    ASSERT_TRUE(sent) << "the check was never seen";
    EXPECT_TRUE(r.exited) << "ended by signal " << r.signal;
    EXPECT_EQ(r.exitCode, 128 + signal) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(ReadAll(out), "old");
    EXPECT_EQ(test::FolderEntries(dir.path()), (std::vector<std::string>{"in.csv", "out.csv"}));
  }
}

// Interrupted after the last line, while the result is made safe on disk and
// before it takes the output's place: an interrupt all the same.
TEST_F(CliTest, InterruptAfterTheLastLineBeforeTheCommitKeepsTheOldOutput) {
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
  for (int attempt = 0; attempt < 5 && !sent; ++attempt) r = SignalWhen(kTool, {in, out}, SIGINT, written, sent);
  if (!sent) GTEST_SKIP() << "the result reached the disk too fast to be caught";
  EXPECT_TRUE(r.exited) << "ended by signal " << r.signal;
  EXPECT_EQ(r.exitCode, 128 + SIGINT) << r.err;
  EXPECT_EQ(ReadAll(out), "old");
  EXPECT_EQ(test::FolderEntries(dir.path()), (std::vector<std::string>{"in.csv", "out.csv"}));
}

}  // namespace
}  // namespace velmora
