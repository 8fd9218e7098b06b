// velmora-batch's study workflow: one household explained, the summary
// file, --quiet, the code page options and the progress line on a terminal.
// (The suite's name starts with CliTest so that the ThreadSanitizer stage
// runs it with the other tool tests.)
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "batch/messages.h"
#include "core/messages.h"
#include "hostile/run_program.h"
#include "test_support.h"

namespace velmora {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

const fs::path kTool = VELMORA_BATCH_TOOL;
const fs::path kData = VELMORA_CLI_DATA;
const std::string kDefault = "9.725,7.38,4.81,3.57,7.416,14.759,22.616,3.321";
const std::string kCompleted = std::string(msg::kBatchCompleted) + "\n";

// What `sha256sum` says of a file: a digest taken apart from the program.
std::string Sha256Sum(const fs::path& file) {
  std::string digest;
  if (FILE* pipe = ::popen(("sha256sum '" + file.string() + "'").c_str(), "r")) {
    char buffer[65] = {};
    if (std::fread(buffer, 1, 64, pipe) == 64) digest = buffer;
    ::pclose(pipe);
  }
  return digest;
}

// Significant digits of a decimal text such as "-0.4233122" (7).
int SignificantDigits(const std::string& text) {
  std::string digits;
  for (const char c : text) {
    if (std::isdigit(static_cast<unsigned char>(c)) && !(digits.empty() && c == '0')) digits += c;
  }
  return static_cast<int>(digits.size());
}

class CliTestWorkflow : public ::testing::Test {
 protected:
  test::RunResult Run(std::vector<std::string> args) { return test::RunProgram(kTool, args); }
  // A gap table whose every entry is 1: DelayDamage reads its factor alone.
  fs::path UniformTable() {
    std::string table = "gap,value\r\n";
    for (int k = -200; k <= 1000; ++k) {
      char gap[16];
      std::snprintf(gap, sizeof gap, "%.1f", k / 10.0);
      table += std::string(gap) + ",1\r\n";
    }
    return dir.Write("uniform.txt", table);
  }
  test::TempDir dir;
};

// The singles of the worked example with the risk premium, exactly; the one
// without it at the precision its figures are stated in.
TEST_F(CliTestWorkflow, ExplainJsonOfTheWorkedExamples) {
  const std::string table = UniformTable().string();
  const test::RunResult one = Run({"--gap-table", table, "--explain", kDefault, "--format", "json"});
  ASSERT_EQ(one.exitCode, 0) << one.err;
  EXPECT_EQ(one.err, "");
  const json withPremium = json::parse(one.out);
  const std::pair<const char*, double> exact[] = {
      {"TotalDamage", 17.104999542236328},       {"DepreciationRate", 0.060710757970809937},
      {"DamageRatio", 0.45765888690948486},      {"PreferenceFactor", 0.3940526843070984},
      {"WillingnessToPay", 1.3427425622940063},  {"OptimalCoverage", 0.664203941822052},
      {"DamageTerm", 12.853460311889648},        {"AssetTerm", 15.599074363708496},
      {"Gap", -2.7456140518188477},              {"LiquidityFactor", 5.823817253112793},
      {"DamageWeightedMean", 15.959661483764648}, {"GapValue", 1.0},
  };
  for (const auto& [name, value] : exact) {
    ASSERT_TRUE(withPremium["quantities"].contains(name)) << name;
    EXPECT_EQ(withPremium["quantities"][name].get<double>(), value) << name;
  }
  EXPECT_EQ(withPremium["quantities"]["GapKey"], -27);
  EXPECT_EQ(withPremium["results"],
            json::parse(R"({"PreferenceFactor": "0.3940527", "WillingnessToPay": "1.342743",
                            "OptimalCoverage": "0.6642039", "DelayDamage": "0.2256883"})"));
  EXPECT_EQ(withPremium["display"]["WillingnessToPay"], "1.343");
  EXPECT_EQ(withPremium["settings"]["MarkupRate"]["single"].get<double>(), static_cast<double>(3.14f));
  EXPECT_EQ(withPremium["gapTable"], table);

  const test::RunResult zero = Run({"--without-risk-premium", "--gap-table", table, "--insurance-rate", "0.610",
                                    "--explain=" + kDefault.substr(0, kDefault.rfind(',')), "--format=json"});
  ASSERT_EQ(zero.exitCode, 0) << zero.err;
  const json without = json::parse(zero.out);
  const std::pair<const char*, const char*> stated[] = {
      {"DamageRatio", "0.4576589"},         {"TotalDamage", "17.105"},           {"LiquidAssets", "8.38"},
      {"UninsuredDamageTerm", "4.559728"},  {"UninsuredAssetTerm", "3.474312"},  {"InsuredDamageTerm", "13.398399"},
      {"InsuredAssetTerm", "16.259739"},    {"UninsuredGap", "1.085416"},        {"InsuredGap", "-2.86134"},
      {"Gap", "0.4233122"},                 {"LiquidityFactor", "5.823817"},     {"DamageWeightedMean", "15.959661"},
      {"DelayDamage", "0.2256883"},
  };
  for (const auto& [name, text] : stated) {
    ASSERT_TRUE(without["quantities"].contains(name)) << name;
    const auto value = static_cast<float>(without["quantities"][name].get<double>());
    if (std::string(name) != "LiquidAssets") {
      EXPECT_EQ(static_cast<double>(value), without["quantities"][name]) << name;  // a single
    }
    char written[32];
    std::snprintf(written, sizeof written, "%.*G", SignificantDigits(text), static_cast<double>(value));
    EXPECT_STREQ(written, text) << name;
  }
  EXPECT_EQ(without["quantities"]["DamageBand"], "high");
  EXPECT_EQ(without["quantities"]["GapKey"], 4);
  EXPECT_EQ(without["results"]["DelayDamage"], "0.2256883");
  EXPECT_EQ(without["results"]["PreferenceFactor"], "");
  EXPECT_EQ(without["display"]["PreferenceFactor"], "-");
  EXPECT_TRUE(without["settings"]["MarkupRate"]["single"].is_null());
}

// The text names the table, mode and settings, one quantity per line; a row
// the check refuses or a household the model cannot compute says where it
// stopped and ends with 1.
TEST_F(CliTestWorkflow, ExplainTextAndFailures) {
  const test::RunResult text = Run({"--explain", kDefault});
  ASSERT_EQ(text.exitCode, 0) << text.err;
  for (const std::string& line :
       {std::string("EGapDis.txt\n"), std::string("  MarkupRate          3.140         3.14\n"),
        std::string("  Gap                 -2.745614\n"), std::string("  GapKey              -27\n"),
        std::string("  DelayDamage         0.0002392535  0.000\n")}) {
    EXPECT_NE(text.out.find(line), std::string::npos) << line;
  }
  EXPECT_LT(text.out.find("  TotalDamage "), text.out.find("  DamageTerm "));

  struct Case {
    std::vector<std::string> args;
    std::string message;
    std::string lastQuantity;  // in the JSON, before the failed step
  };
  const std::string modelFailed = msg::kModelFailed;
  const Case cases[] = {
      {{"--explain", "9.725,x,4.81,3.57,7.416,14.759,22.616,3.321"},
       std::string(msg::kRowRejected) + "2番目の値（家財被害）" + msg::kRowFieldNotNumeric, ""},
      {{"--explain", "9.725,7.38,4.81,3.57,7.416,14.759,22.616,"},
       std::string(msg::kRowRejected) + "8番目の値（物質資産への投資を除く消費額）" + msg::kRowFieldNotNumeric, ""},
      // Too few fields for the mode: refused as a batch's check refuses the line.
      {{"--explain", "9.725,7.38,4.81,3.57,7.416,14.759,22.616"}, msg::kInputFormatInvalid, ""},
      {{"--explain", ""}, msg::kInputFormatInvalid, ""},
      {{"--explain", "9.725,7.38,4.81,3.57,7.416,2,-2,3.321"}, std::string(msg::kRowRejected) + msg::kRowAssetSumZero,
       ""},
      {{"--explain", "0,0,4.81,3.57,7.416,14.759,22.616,3.321"},
       modelFailed + "OptimalCoverage の途中の (UserCost * (MarkupRate - 1)) / ((DamageRatio * MarkupRate) * "
                     "(1 - PreferenceFactor)) " + msg::kStepNotFinite,
       "WillingnessToPay"},
      {{"--without-risk-premium", "--explain", "0,0,4.81,3.57,7.416,14.759,22.616"},
       modelFailed + "DamageWeightedMean " + msg::kStepNotFinite, "LiquidityFactor"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args.back());
    const test::RunResult r = Run(c.args);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, c.message + "\n");
    std::vector<std::string> jsonArgs = c.args;
    jsonArgs.push_back("--format=json");
    const test::RunResult j = Run(jsonArgs);
    EXPECT_EQ(j.exitCode, 1);
    const auto parsed = nlohmann::ordered_json::parse(j.out);  // in step order
    EXPECT_EQ(parsed["failure"]["message"], c.message);
    EXPECT_FALSE(parsed.contains("results"));
    EXPECT_EQ(parsed["row"], c.args.back());  // even when empty
    if (c.message == msg::kInputFormatInvalid) {
      EXPECT_EQ(parsed["failure"]["check"], "fields");
      EXPECT_FALSE(parsed.contains("household"));
    } else if (c.lastQuantity.empty()) {
      EXPECT_EQ(parsed["failure"]["check"], "row");
      if (parsed["failure"]["test"] == "NotNumeric") {  // counted from 1, as the message counts
        EXPECT_EQ(parsed["failure"]["field"].get<int>(), c.message.find("2番目") != std::string::npos ? 2 : 8);
      }
    } else {
      EXPECT_EQ(parsed["failure"]["check"], "model");
      std::string last;
      for (const auto& item : parsed["quantities"].items()) last = item.key();
      EXPECT_EQ(last, c.lastQuantity);
    }
  }
  // A row from a CP932 file: the JSON shows its characters in UTF-8.
  const test::RunResult cp932 = Run({"--explain", kDefault + ",\x93\x8c\x8b\x9e", "--format", "json"});
  EXPECT_EQ(cp932.exitCode, 0) << cp932.err;
  EXPECT_EQ(nlohmann::json::parse(cp932.out)["row"], kDefault + ",東京");
  // The settings' check comes first, as in a run.
  const test::RunResult markup = Run({"--without-risk-premium", "--markup-rate", "0", "--explain", kDefault});
  EXPECT_EQ(markup.exitCode, 1);
  EXPECT_EQ(markup.err, std::string(msg::kMarkupRateZero) + "\n");
  EXPECT_EQ(markup.out, "");
}

TEST_F(CliTestWorkflow, UsageErrorsOfTheNewOptions) {
  const fs::path in = dir.Write("in.csv", "h\r\n" + kDefault + "\r\n");
  const std::string original = test::ReadFile(in);
  const std::vector<std::vector<std::string>> cases = {
      {"--explain", kDefault, in.string(), "out.csv"},
      {"--explain", kDefault, "--summary", "s.json"},
      {"--explain", kDefault, "--keep-columns"},
      {"--format", "json", in.string(), "out.csv"},
      {"--explain", kDefault, "--format", "xml"},
      {"--output-encoding", "latin1", in.string(), "out.csv"},
      {"--summary=", in.string(), "out.csv"},
      // The summary must never take the place of the input, the output or the table.
      {"--summary", in.string(), in.string(), (dir.path() / "out.csv").string()},
      {"--summary", (dir.path() / "out.csv").string(), in.string(), (dir.path() / "out.csv").string()},
      {"--summary", (kTool.parent_path() / "EGapDis.txt").string(), in.string(), (dir.path() / "out.csv").string()},
  };
  for (const auto& args : cases) {
    const test::RunResult r = Run(args);
    EXPECT_EQ(r.exitCode, 2) << args[0] << " " << args[1];
    EXPECT_NE(r.err.find("--help"), std::string::npos);
  }
  EXPECT_EQ(test::ReadFile(in), original);
  EXPECT_FALSE(fs::exists(dir.path() / "out.csv"));
  const test::RunResult help = Run({"--help"});
  for (const char* option : {"--keep-columns", "--summary", "--quiet", "--output-encoding", "--explain", "--format"}) {
    EXPECT_NE(help.out.find(option), std::string::npos) << option;
  }
}

// The summary follows a completed run: the same for every thread count, its
// digests those of the files, a human line after the completion message
// unless --quiet; one that cannot be written fails the command but keeps the
// result.
TEST_F(CliTestWorkflow, SummaryFileAndLine) {
  const fs::path in = kData / "households.csv";
  const fs::path out = dir.path() / "out.csv";
  const fs::path summary = dir.path() / "summary.json";
  std::string first;
  for (const std::string threads : {"1", "7"}) {
    const test::RunResult r = Run({"--threads", threads, "--keep-columns", "--summary", summary.string(), "--",
                                   in.string(), out.string()});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::string written = test::ReadFile(summary);
    if (first.empty()) first = written;
    EXPECT_EQ(written, first) << threads << " threads";
    const json s = json::parse(written);
    EXPECT_EQ(s["input"]["sha256"], Sha256Sum(in));
    EXPECT_EQ(s["input"]["bytes"], fs::file_size(in));
    EXPECT_EQ(s["output"]["sha256"], Sha256Sum(out));
    EXPECT_EQ(s["output"]["path"], fs::absolute(out).string());
    EXPECT_EQ(s["output"]["keptColumns"], true);
    EXPECT_EQ(s["output"]["encoding"], "cp932");
    EXPECT_EQ(s["gapTable"]["sha256"], Sha256Sum(kTool.parent_path() / "EGapDis.txt"));
    EXPECT_EQ(s["settings"]["DamageProbability"], json::parse(R"({"text": "0.025", "single": 0.02500000037252903})"));
    const json& lines = s["lines"];
    EXPECT_EQ(lines["data"].get<int>(), 15);
    EXPECT_EQ(lines["computed"].get<int>() + lines["rowRejected"].get<int>() + lines["modelFailed"].get<int>(), 15);
    EXPECT_GT(lines["rowRejected"].get<int>(), 0);
    EXPECT_FALSE(s.contains("threads"));
    const std::string line = "集計：データ行 15、計算 " + std::to_string(lines["computed"].get<int>()) +
                             "、行の検査で計算不可 " + std::to_string(lines["rowRejected"].get<int>()) +
                             "、モデルで計算不可 " + std::to_string(lines["modelFailed"].get<int>()) +
                             "、復旧遅延被害額の合計 ";
    EXPECT_EQ(r.err.substr(0, kCompleted.size() + line.size()), kCompleted + line);
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 2);
  }
  // The total in the result file's number style, exponent and all.
  const fs::path tiny = dir.Write("tiny.csv", "h\r\n9.725,7.38,48.1,35.7,7.416,14.759,22.616,3.321\r\n");
  const test::RunResult exponent = Run({"--summary", summary.string(), tiny.string(), out.string()});
  EXPECT_EQ(exponent.exitCode, 0) << exponent.err;
  EXPECT_NE(test::ReadFile(out).find(",4.551354E-39\r\n"), std::string::npos);
  EXPECT_NE(exponent.err.find("、復旧遅延被害額の合計 4.551354E-39（百万円）\n"), std::string::npos) << exponent.err;
  fs::remove(tiny);
  // Quiet: files only.
  fs::remove(summary);
  const test::RunResult quiet = Run({"--quiet", "--summary", summary.string(), in.string(), out.string()});
  EXPECT_EQ(quiet.exitCode, 0);
  EXPECT_EQ(quiet.err, "");
  EXPECT_TRUE(fs::exists(summary));
  // Errors are never quiet.
  const test::RunResult error = Run({"--quiet", "missing.csv", out.string()});
  EXPECT_EQ(error.exitCode, 1);
  EXPECT_EQ(error.err, std::string(msg::kInputUnreadable) + "\n");
  // A summary that cannot be written: the result is complete all the same.
  fs::remove(out);
  const test::RunResult unwritable =
      Run({"--summary", (dir.path() / "no" / "s.json").string(), in.string(), out.string()});
  EXPECT_EQ(unwritable.exitCode, 1);
  EXPECT_EQ(unwritable.err, kCompleted + msg::kSummaryUnwritable + "\n");
  EXPECT_EQ(test::ReadFile(out), test::ReadFile(kData / "expected_with_risk_premium.csv"));
  EXPECT_EQ(test::FolderEntries(dir.path()), (std::vector<std::string>{"out.csv", "summary.json"}));
}

TEST_F(CliTestWorkflow, OutputEncodingAndKeptColumnsFromTheCommandLine) {
  const fs::path in = dir.Write("in.csv", "a,b,c,d,e,f,g,h,mesh\r\n" + kDefault + ",5339-01\r\n");
  const fs::path out = dir.path() / "out.csv";
  const test::RunResult r = Run({"--output-encoding", "UTF-8", "--keep-columns", in.string(), out.string()});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(test::ReadFile(out), "\xEF\xBB\xBF" + std::string(msg::kResultHeader) + ",mesh\r\n" + kDefault +
                                     ",0.3940527,1.342743,0.6642039,0.0002392535,5339-01\r\n");
  // UTF-8 without the mark (as many editors save it): kept columns give a
  // UTF-8 result with the mark and say so; either option spelt out agrees.
  const std::string ward = "\xE6\x96\xB0\xE5\xAE\xBF";  // 新宿 in UTF-8
  dir.Write("in.csv", "a,b,c,d,e,f,g,h,\xE5\x8C\xBA\r\n" + kDefault + "," + ward + "\r\n");
  const std::string utf8Result = "\xEF\xBB\xBF" + std::string(msg::kResultHeader) + ",\xE5\x8C\xBA\r\n" + kDefault +
                                 ",0.3940527,1.342743,0.6642039,0.0002392535," + ward + "\r\n";
  const test::RunResult kept = Run({"--keep-columns", in.string(), out.string()});
  ASSERT_EQ(kept.exitCode, 0) << kept.err;
  EXPECT_EQ(test::ReadFile(out), utf8Result);
  EXPECT_EQ(kept.err, std::string(msg::kBatchCompleted) + "\n" + msg::kWrittenAsUtf8 + "\n");
  const test::RunResult chosen = Run({"--output-encoding", "utf-8", "--keep-columns", in.string(), out.string()});
  ASSERT_EQ(chosen.exitCode, 0) << chosen.err;
  EXPECT_EQ(test::ReadFile(out), utf8Result);
  EXPECT_EQ(chosen.err, std::string(msg::kBatchCompleted) + "\n");
  const test::RunResult refused = Run({"--output-encoding", "cp932", "--keep-columns", in.string(), out.string()});
  EXPECT_EQ(refused.exitCode, 1);
  EXPECT_EQ(refused.err, "1" + std::string(msg::kLineEncodingMixedUtf8Input) + "\n");
  EXPECT_EQ(test::ReadFile(out), utf8Result);
}

// A run started on a pseudo-terminal, stopped (SIGSTOP) once it has opened
// its input and let go on a little over a second later: it has lasted long
// enough to show its progress from its next block on.
struct TerminalRun {
  std::string output;  // everything the terminal received
  int exitCode = -1;
  bool caught = false;  // stopped while the input was open
  bool pausedAfterFirstLine = false;  // stopped again once the first progress line was shown
  std::string noTerminal;  // why no pseudo-terminal could be had (a chroot without /dev/pts)
};

TerminalRun RunOnATerminal(const std::vector<std::string>& args, const fs::path& input, bool terminal) {
  const fs::path folder = input.parent_path();
  const auto reading = [&](pid_t pid) {
    const std::vector<std::string> open = test::OpenFilesUnder(folder, pid);
    return std::find(open.begin(), open.end(), input.string()) != open.end();
  };
  TerminalRun run;
  int master = -1;
  const fs::path errFile = folder / ".stderr";
  std::vector<char*> argv;
  std::string tool = kTool.string();
  argv.push_back(tool.data());
  std::vector<std::string> copies = args;
  for (auto& a : copies) argv.push_back(a.data());
  argv.push_back(nullptr);
  const pid_t pid = ::forkpty(&master, nullptr, nullptr, nullptr);
  if (pid < 0) {
    run.noTerminal = std::strerror(errno);
    return run;
  }
  if (pid == 0) {
    if (!terminal) {
      const int fd = ::open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      ::dup2(fd, 2);
    }
    ::execv(tool.c_str(), argv.data());
    ::_exit(127);
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  bool resumed = false;
  std::chrono::steady_clock::time_point stoppedAt;
  // The first line may come as a pass starts, before there is a rate to show,
  // and a quick run may end before the next redraw: a second pause, once a
  // line is on the terminal, makes the next line show the rate.
  bool pausedAgain = false;
  std::chrono::steady_clock::time_point pausedAt;
  int status = 0;
  for (;;) {
    pollfd p{master, POLLIN, 0};
    if (::poll(&p, 1, 1) > 0) {
      char buffer[4096];
      const ssize_t got = ::read(master, buffer, sizeof buffer);
      if (got > 0) run.output.append(buffer, static_cast<std::size_t>(got));
    }
    if (!run.caught && reading(pid)) {
      ::kill(pid, SIGSTOP);
      run.caught = reading(pid);
      stoppedAt = std::chrono::steady_clock::now();
      if (!run.caught) ::kill(pid, SIGCONT);
    }
    if (run.caught && !resumed && std::chrono::steady_clock::now() - stoppedAt > std::chrono::milliseconds(1300)) {
      ::kill(pid, SIGCONT);
      resumed = true;
    }
    if (terminal && resumed && !run.pausedAfterFirstLine && run.output.find('%') != std::string::npos) {
      run.pausedAfterFirstLine = ::kill(pid, SIGSTOP) == 0;
      pausedAt = std::chrono::steady_clock::now();
    }
    if (run.pausedAfterFirstLine && !pausedAgain &&
        std::chrono::steady_clock::now() - pausedAt > std::chrono::milliseconds(400)) {
      ::kill(pid, SIGCONT);
      pausedAgain = true;
    }
    if (::waitpid(pid, &status, WNOHANG) == pid) break;
    if (std::chrono::steady_clock::now() > deadline) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      break;
    }
  }
  for (;;) {  // what is left in the terminal
    pollfd p{master, POLLIN, 0};
    if (::poll(&p, 1, 50) <= 0) break;
    char buffer[4096];
    const ssize_t got = ::read(master, buffer, sizeof buffer);
    if (got <= 0) break;
    run.output.append(buffer, static_cast<std::size_t>(got));
  }
  ::close(master);
  if (!terminal) {
    run.output = test::ReadFile(errFile);
    fs::remove(errFile);
  }
  run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

TEST_F(CliTestWorkflow, ProgressOnlyOnATerminal) {
  std::string lines = "h\r\n";
  for (int i = 0; i < 300000; ++i) lines += kDefault + "\r\n";
  const fs::path in = dir.Write("in.csv", lines);
  const std::string out = (dir.path() / "out.csv").string();
  const TerminalRun shown = RunOnATerminal({"--threads", "2", in.string(), out}, in, true);
  if (!shown.noTerminal.empty()) GTEST_SKIP() << "no pseudo-terminal: " << shown.noTerminal;
  if (!shown.caught) GTEST_SKIP() << "the run ended before it could be stopped";
  EXPECT_EQ(shown.exitCode, 0) << shown.output;
  for (const char* part : {"%", " 行/秒", "残り約 "}) {
    EXPECT_NE(shown.output.find(part), std::string::npos) << part << " in " << shown.output;
  }
  // Blanked with spaces before the message, which is the last thing on the
  // terminal: "\r", the spaces, "\r", the message.
  const std::string end = std::string("\r") + msg::kBatchCompleted + "\r\n";
  ASSERT_GT(shown.output.size(), end.size());
  ASSERT_EQ(shown.output.substr(shown.output.size() - end.size()), end);
  const std::string before = shown.output.substr(0, shown.output.size() - end.size());
  const std::size_t blankStart = before.rfind('\r');
  ASSERT_NE(blankStart, std::string::npos) << shown.output;
  const std::string blank = before.substr(blankStart + 1);
  // At least as wide as the narrowest line, "確認中 0%" (two columns a kanji).
  EXPECT_GE(blank.size(), 9u) << shown.output;
  EXPECT_EQ(blank.find_first_not_of(' '), std::string::npos) << shown.output;

  const TerminalRun quiet = RunOnATerminal({"--quiet", in.string(), out}, in, true);
  EXPECT_EQ(quiet.exitCode, 0);
  if (quiet.caught) {
    EXPECT_EQ(quiet.output, "");
  }
  const TerminalRun redirected = RunOnATerminal({in.string(), out}, in, false);
  EXPECT_EQ(redirected.exitCode, 0);
  if (redirected.caught) {
    EXPECT_EQ(redirected.output, kCompleted);
  }
}

}  // namespace
}  // namespace velmora
