// Faults that only the engine's own calls can place exactly: between the file
// check and the run, or in the middle of a run. The window and the tool share
// this engine, so what holds here holds for both.
#include <signal.h>
#include <sys/resource.h>

#include <filesystem>
#include <string>

#include "batch/batch.h"
#include "core/line_reader.h"
#include "hostile_support.h"
#include "test_support.h"

namespace velmora::test {
namespace {
namespace fs = std::filesystem;

constexpr const char* kEarlier = "an earlier result\r\n";
constexpr const char* kGoodLine = "3.140,9.725,14.759,1.5,0.8,2.1,12.4,4.2";

class BatchEngine : public ::testing::Test {
 protected:
  void SetUp() override {
    RecordingReporter r;
    ASSERT_TRUE(LoadGapTable(VELMORA_EXAMPLE_GAP_TABLE, table, r));
    ASSERT_TRUE(CheckCommonSettings({"0.610", "0.025", "0.040", "3.140"}, Mode::WithRiskPremium, settings, r));
    descriptors = OpenDescriptors();
  }
  void TearDown() override { EXPECT_EQ(OpenDescriptors(), descriptors) << "a file was left open"; }

  fs::path Input(int lines) {
    std::string bytes = "header\r\n";
    for (int i = 0; i < lines; ++i) bytes += std::string(kGoodLine) + "\r\n";
    return dir.Write("in.csv", bytes);
  }
  BatchOutcome Run(const fs::path& input, const fs::path& output, BatchProgress* progress = nullptr) {
    return RunBatch(input, output, Mode::WithRiskPremium, settings, table, reporter, progress);
  }
  void ExpectOnlyMessage(const char* text) {
    ASSERT_EQ(reporter.messages.size(), 1u);
    EXPECT_TRUE(reporter.messages[0].isError);
    EXPECT_EQ(reporter.messages[0].text, text);
  }

  TempDir dir;
  GapTable table;
  CommonSettings settings;
  RecordingReporter reporter;
  int descriptors = 0;
};

TEST_F(BatchEngine, InputDeletedBetweenCheckAndRun) {
  const fs::path input = Input(3);
  const fs::path output = dir.Write("out.csv", kEarlier);
  ASSERT_TRUE(CheckBatchFiles(input, output, Mode::WithRiskPremium, reporter));
  fs::remove(input);
  EXPECT_EQ(Run(input, output), BatchOutcome::Failed);
  ExpectOnlyMessage(kInputUnreadable);
  EXPECT_EQ(ReadFile(output), kEarlier);
  EXPECT_EQ(FolderEntries(dir.path()), std::vector<std::string>{"out.csv"});
}

TEST_F(BatchEngine, InputReplacedByAFolderBetweenCheckAndRun) {
  const fs::path input = Input(3);
  const fs::path output = dir.Write("out.csv", kEarlier);
  ASSERT_TRUE(CheckBatchFiles(input, output, Mode::WithRiskPremium, reporter));
  fs::remove(input);
  fs::create_directory(input);
  EXPECT_EQ(Run(input, output), BatchOutcome::Failed);
  ExpectOnlyMessage(kInputUnreadable);
  EXPECT_EQ(ReadFile(output), kEarlier);
  EXPECT_EQ(FolderEntries(dir.path()), (std::vector<std::string>{"in.csv", "out.csv"}));
}

TEST_F(BatchEngine, InputShortenedBetweenCheckAndRun) {
  const fs::path input = Input(3);
  const fs::path output = dir.path() / "out.csv";
  ASSERT_TRUE(CheckBatchFiles(input, output, Mode::WithRiskPremium, reporter));
  // Lines too short for the check now: the run still writes twelve fields each.
  dir.Write("in.csv", "header\r\n1\r\n\r\n1,2,3");
  EXPECT_EQ(Run(input, output), BatchOutcome::Completed);
  EXPECT_TRUE(reporter.messages.empty());
  const auto lines = ResultLines(ReadFile(output));
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], "1,,,,,,,,,,,");
  EXPECT_EQ(lines[1], ",,,,,,,,,,,");
  EXPECT_EQ(lines[2], "1,2,3,,,,,,,,,");
}

// A line beyond the reader's limit where the check saw none (the file grew
// in between), behind many chunks: every thread that comes to the end of the
// input must learn how it ended, or the run would complete without the line.
TEST_F(BatchEngine, OverlongLineAfterTheCheckFailsTheRunOnSeveralThreads) {
  const fs::path input = Input(3000);
  fs::resize_file(input, LineReader::kMaxLine + (1 << 20));  // zeros, no terminator
  const fs::path output = dir.Write("out.csv", kEarlier);
  for (const unsigned threads : {2u, 7u}) {
    SCOPED_TRACE(threads);
    reporter.messages.clear();
    const BatchOptions options{threads, 4096};
    EXPECT_EQ(RunBatch(input, output, Mode::WithRiskPremium, settings, table, reporter, nullptr, options),
              BatchOutcome::Failed);
    ExpectOnlyMessage(("3002" + std::string(kLineTooLong)).c_str());
    EXPECT_EQ(ReadFile(output), kEarlier);
    EXPECT_EQ(FolderEntries(dir.path()), (std::vector<std::string>{"in.csv", "out.csv"}));
  }
}

// Cancels after a given number of lines.
class StopAfter : public BatchProgress {
 public:
  explicit StopAfter(std::uint64_t lines) : lines_(lines) {}
  bool lineDone(std::uint64_t done, std::uint64_t read, std::uint64_t total) override {
    EXPECT_LE(read, total);
    return done < lines_;
  }

 private:
  std::uint64_t lines_;
};

TEST_F(BatchEngine, CancelledRunKeepsTheEarlierResult) {
  const fs::path input = Input(1000);
  const fs::path output = dir.Write("out.csv", kEarlier);
  StopAfter stop(500);
  EXPECT_EQ(Run(input, output, &stop), BatchOutcome::Cancelled);
  EXPECT_EQ(ReadFile(output), kEarlier);
  EXPECT_EQ(FolderEntries(dir.path()), (std::vector<std::string>{"in.csv", "out.csv"}));
}

// RLIMIT_FSIZE on this process for one scope, with SIGXFSZ ignored so that the
// write fails instead of ending the test.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    ::getrlimit(RLIMIT_FSIZE, &saved_);
    oldHandler_ = ::signal(SIGXFSZ, SIG_IGN);
    rlimit limit = saved_;
    limit.rlim_cur = bytes;
    ::setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~FileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &saved_);
    ::signal(SIGXFSZ, oldHandler_);
  }

 private:
  rlimit saved_{};
  sighandler_t oldHandler_;
};

TEST_F(BatchEngine, WriteFailureMidRunKeepsTheEarlierResult) {
  const fs::path input = Input(20000);
  const fs::path output = dir.Write("out.csv", kEarlier);
  {
    FileSizeLimit limit(64 * 1024);
    EXPECT_EQ(Run(input, output), BatchOutcome::Failed);
  }
  ExpectOnlyMessage(kOutputUnwritable);
  EXPECT_EQ(ReadFile(output), kEarlier);
  EXPECT_EQ(FolderEntries(dir.path()), (std::vector<std::string>{"in.csv", "out.csv"}));
}

TEST_F(BatchEngine, FailedCommandsLeaveNoFileOpen) {
  const fs::path input = Input(2);
  const fs::path folder = dir.path() / "folder";
  fs::create_directory(folder);
  BatchCommand command;
  command.settingTexts = {"0.610", "0.025", "0.040", "3.140"};
  command.gapTableFile = VELMORA_EXAMPLE_GAP_TABLE;
  const std::pair<fs::path, fs::path> cases[] = {
      {folder, dir.path() / "out.csv"},                // folder as input
      {input, folder},                                 // folder as output
      {input, "/dev/full"},                            // a device as output
      {dir.path() / "missing.csv", dir.path() / "out.csv"},
      {input, dir.path() / "no-folder" / "out.csv"},
  };
  for (const auto& [in, out] : cases) {
    SCOPED_TRACE(in.string() + " -> " + out.string());
    reporter.messages.clear();
    command.input = in;
    command.output = out;
    EXPECT_EQ(RunBatchCommand(command, settings, table, reporter), BatchOutcome::Failed);
    ASSERT_EQ(reporter.messages.size(), 1u);
    EXPECT_TRUE(reporter.messages[0].isError);
    EXPECT_EQ(OpenDescriptors(), descriptors);
  }
  EXPECT_EQ(FolderEntries(dir.path()), (std::vector<std::string>{"folder", "in.csv"}));
}

}  // namespace
}  // namespace velmora::test
