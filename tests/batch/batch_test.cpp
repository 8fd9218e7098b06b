#include <gtest/gtest.h>

#if defined(_WIN32)
#include <windows.h>
#else
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#endif

#include <atomic>
#include <chrono>
#include <clocale>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <stdexcept>
#include <locale>
#include <string>
#include <thread>
#include <vector>

#include "batch/batch.h"
#include "batch/files.h"
#include "batch/messages.h"
#include "batch/pipeline.h"
#include "core/line_reader.h"
#include "core/messages.h"
#include "test_support.h"

namespace velmora {
namespace {

namespace fs = std::filesystem;
using test::RecordingReporter;
using test::TempDir;

// The result header as CP932 bytes, written out independently of the program.
const std::string kHeaderCp932 =
    "\x89\xc6\x89\xae\x94\xed\x8aQ\x81i\x95S\x96\x9c\x89~\x81j,\x89\xc6\x8d\xe0\x94\xed\x8aQ\x81"
    "i\x95S\x96\x9c\x89~\x81j,\x90\xa2\x91\xd1\x94N\x8e\xfb\x81i\x95S\x96\x9c\x89~\x81j,\x90\xa2"
    "\x91\xd1\x8b\xe0\x97Z\x8e\x91\x8eY\x8e"
    "c\x8d\x82\x81i\x95S\x96\x9c\x89~\x81j,\x93y\x92n\x8e\x91\x8eY\x8az\x81i\x95S\x96\x9c\x89~\x81"
    "j,\x89\xc6\x92\xeb\x97p\x95i\x8az\x81i\x95S\x96\x9c\x89~\x81j,\x89\xc6\x89\xae\x89\xbf\x8ai"
    "\x81i\x95S\x96\x9c\x89~\x81j,\x95\xa8\x8e\xbf\x8e\x91\x8eY\x82\xd6\x82\xcc\x93\x8a\x8e\x91\x82"
    "\xf0\x8f\x9c\x82\xad\x8f\xc1\x94\xef\x8az\x81i\x95S\x96\x9c\x89~\x81j,\x89\xc6\x8cv\x82\xcc"
    "\x91I\x8d"
    "D\x93\xc1\x90\xab(\x94{),\x8fZ\x96\xaf\x82\xcc\x8e\xa1\x90\x85\x93\x8a\x8e\x91\x82\xc9\x91\xce"
    "\x82\xb7\x82\xe9\x8ex\x95\xa5\x82\xa2\x88\xd3\x8ev\x8az\x81i\x95S\x96\x9c\x89~\x81j,\x95\xdb"
    "\x8c\xaf\x82\xcc\x8d\xc5\x93K\x83J\x83o\x81[\x97\xa6\x81i\x94{\x81j,\x97\xac\x93\xae\x90\xab"
    "\x90\xa7\x96\xf1\x82\xc9\x94\xba\x82\xa4\x95\x9c\x8b\x8c\x92x\x89\x84\x94\xed\x8aQ\x8az\x81"
    "i\x95S\x96\x9c\x89~\x81j";

// The window's default household; its results with the example table are
// pinned by the model tests.
const std::string kDefault = "9.725,7.38,4.81,3.57,7.416,14.759,22.616,3.321";
const std::string kDefaultMode0 = "0.1422826";
const std::string kDefaultMode1 = "0.3940527,1.342743,0.6642039,0.0002392535";

std::vector<std::string> MessagesOf(const RecordingReporter& r) {
  std::vector<std::string> texts;
  for (const auto& m : r.messages) texts.push_back((m.isError ? "E:" : "I:") + m.text);
  return texts;
}

std::vector<std::string> One(const std::string& errorText) { return {"E:" + errorText}; }

std::string LineMessage(int n) { return std::to_string(n) + msg::kLineFormatInvalid; }

// Files in the folder besides the ones named: left-over temporary files.
std::vector<std::string> Others(const fs::path& folder, std::vector<std::string> known) {
  std::vector<std::string> left;
  for (const auto& e : fs::directory_iterator(folder)) {
    const std::string name = e.path().filename().string();
    if (std::find(known.begin(), known.end(), name) == known.end()) left.push_back(name);
  }
  return left;
}

#if defined(_WIN32)
int OpenDescriptors() {
  DWORD handles = 0;
  GetProcessHandleCount(GetCurrentProcess(), &handles);
  return static_cast<int>(handles);
}

// A named pipe that no one writes to, for as long as the object lives.
class NamedPipe {
 public:
  NamedPipe()
      : name_(L"\\\\.\\pipe\\velmora-test-" + std::to_wstring(GetCurrentProcessId())),
        pipe_(CreateNamedPipeW(name_.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE, PIPE_UNLIMITED_INSTANCES, 4096,
                               4096, 0, nullptr)) {}
  ~NamedPipe() { CloseHandle(pipe_); }
  bool made() const { return pipe_ != INVALID_HANDLE_VALUE; }
  fs::path path() const { return name_; }

 private:
  std::wstring name_;
  HANDLE pipe_;
};
#else
int OpenDescriptors() {
  int n = 0;
  for ([[maybe_unused]] const auto& e : fs::directory_iterator("/proc/self/fd")) ++n;
  return n;
}
#endif

class BatchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RecordingReporter r;
    ASSERT_TRUE(LoadGapTable(VELMORA_EXAMPLE_GAP_TABLE, table, r));
    settings = {0.61f, 0.025f, 0.04f, 3.14f};
  }

  // Check and run, as the batch command does after its first steps.
  BatchOutcome Run(const fs::path& in, const fs::path& out, Mode mode, RecordingReporter& r,
                   BatchProgress* progress = nullptr, const BatchOptions& options = {}) {
    if (!CheckBatchFiles(in, out, mode, r, progress, options)) return BatchOutcome::Failed;
    return RunBatch(in, out, mode, settings, table, r, progress, options);
  }
  // The result lines after the header, for an input of these data lines.
  std::string Results(const std::string& dataLines, Mode mode, const BatchOptions& options = {}) {
    const fs::path in = dir.Write("in.csv", "header\r\n" + dataLines);
    const fs::path out = dir.path() / "out.csv";
    RecordingReporter r;
    EXPECT_EQ(Run(in, out, mode, r, nullptr, options), BatchOutcome::Completed);
    EXPECT_TRUE(r.messages.empty());
    const std::string bytes = test::ReadFile(out);
    EXPECT_EQ(bytes.substr(0, kHeaderCp932.size() + 2), kHeaderCp932 + "\r\n");
    return bytes.substr(std::min(bytes.size(), kHeaderCp932.size() + 2));
  }

  TempDir dir;
  GapTable table;
  CommonSettings settings;
};

TEST_F(BatchTest, NameChecksInOrder) {
  const fs::path in = dir.Write("in.csv", "h\r\n" + kDefault + "\r\n");
  RecordingReporter r;
  EXPECT_FALSE(CheckBatchFiles("", "", Mode::WithRiskPremium, r));
  EXPECT_FALSE(CheckBatchFiles(in, "", Mode::WithRiskPremium, r));
  EXPECT_FALSE(CheckBatchFiles(in, in, Mode::WithRiskPremium, r));
  EXPECT_EQ(MessagesOf(r), (std::vector<std::string>{"E:" + std::string(msg::kSelectInputFile),
                                                     "E:" + std::string(msg::kSelectOutputFile),
                                                     "E:" + std::string(msg::kSameFiles)}));
#if defined(_WIN32)
  // Names that differ only in case name one file here.
  RecordingReporter same;
  EXPECT_FALSE(CheckBatchFiles(in, dir.path() / "IN.csv", Mode::WithRiskPremium, same));
  EXPECT_EQ(MessagesOf(same), One(msg::kSameFiles));
#else
  // Names that differ only in case are two files here.
  RecordingReporter ok;
  EXPECT_TRUE(CheckBatchFiles(in, dir.path() / "IN.csv", Mode::WithRiskPremium, ok));
  EXPECT_TRUE(ok.messages.empty());
#endif
}

TEST_F(BatchTest, OneFileUnderTwoNamesIsRefusedAndKeptIntact) {
  const std::string original = "h\r\n" + kDefault + "\r\n";
  const fs::path in = dir.Write("in.csv", original);
  std::vector<fs::path> outputs = {dir.path() / "." / "in.csv", dir.path() / "hard.csv"};
  fs::create_hard_link(in, dir.path() / "hard.csv");
  std::error_code noLink;  // Windows lets only some users make symbolic links
  fs::create_symlink(in, dir.path() / "link.csv", noLink);
  if (!noLink) outputs.push_back(dir.path() / "link.csv");
#if !defined(_WIN32)
  EXPECT_FALSE(noLink) << noLink.message();
#endif
  for (const fs::path& out : outputs) {
    RecordingReporter r;
    EXPECT_FALSE(CheckBatchFiles(in, out, Mode::WithRiskPremium, r)) << out;
    EXPECT_EQ(MessagesOf(r), One(msg::kSameFiles)) << out;
    // The run guards the input on its own as well.
    RecordingReporter run;
    EXPECT_EQ(RunBatch(in, out, Mode::WithRiskPremium, settings, table, run), BatchOutcome::Failed) << out;
    EXPECT_EQ(MessagesOf(run), One(msg::kSameFiles)) << out;
  }
  EXPECT_EQ(test::ReadFile(in), original);
}

TEST_F(BatchTest, InputFileChecks) {
  const fs::path out = dir.path() / "out.csv";
  struct Case {
    std::string bytes;
    Mode mode;
    std::vector<std::string> messages;
  };
  const std::string seven = "1,2,3,4,5,6,7";
  const std::string eight = "1,2,3,4,5,6,7,8";
  const std::vector<Case> cases = {
      {"", Mode::WithoutRiskPremium, One(msg::kInputFormatInvalid)},
      {"only a header", Mode::WithRiskPremium, {}},
      {"h\r\n", Mode::WithRiskPremium, {}},
      // Field-count boundaries of both modes.
      {"h\r\n1,2,3,4,5,6\r\n", Mode::WithoutRiskPremium, One(LineMessage(2))},
      {"h\r\n" + seven + "\r\n", Mode::WithoutRiskPremium, {}},
      {"h\r\n" + seven + "\r\n", Mode::WithRiskPremium, One(LineMessage(2))},
      {"h\r\n" + eight + "\r\n", Mode::WithRiskPremium, {}},
      {"h\r\n" + eight + ",9,10,11,12\r\n", Mode::WithRiskPremium, {}},
      // Empty fields count: seven commas are eight fields.
      {"h\r\n,,,,,,,\r\n", Mode::WithRiskPremium, {}},
      // The fifth line; the first short line is the one reported.
      {"h\n" + eight + "\n" + eight + "\n" + eight + "\n" + seven + "\n1\n", Mode::WithRiskPremium,
       One(LineMessage(5))},
      // A single final terminator adds no line; a second one is an empty line.
      {"h\r\n" + eight + "\r\n\r\n", Mode::WithRiskPremium, One(LineMessage(3))},
      {"h\r\r", Mode::WithoutRiskPremium, One(LineMessage(2))},
      {"h\n\n" + seven, Mode::WithoutRiskPremium, One(LineMessage(2))},
      // Lone CR and lone LF end lines too.
      {"h\r" + seven + "\r" + seven, Mode::WithoutRiskPremium, {}},
      {"h\r" + seven + "\r1,2\r", Mode::WithoutRiskPremium, One(LineMessage(3))},
  };
  for (const auto& c : cases) {
    const fs::path in = dir.Write("in.csv", c.bytes);
    RecordingReporter r;
    EXPECT_EQ(CheckBatchFiles(in, out, c.mode, r), c.messages.empty()) << c.bytes;
    EXPECT_EQ(MessagesOf(r), c.messages) << c.bytes;
  }
  EXPECT_FALSE(fs::exists(out));  // the check never touches the output
}

TEST_F(BatchTest, InputThatCannotBeReadEndsTheCheckAndTheRun) {
  const int descriptors = OpenDescriptors();
  const fs::path out = dir.Write("out.csv", "old");
  // A named pipe without a writer must not hang, and could not be read twice.
#if defined(_WIN32)
  const NamedPipe named;
  ASSERT_TRUE(named.made());
  const fs::path pipe = named.path();
  // A device as well: NUL reads as empty, and every time.
  for (const fs::path& in : {dir.path() / "missing.csv", dir.path(), pipe, fs::path("NUL")}) {
#else
  const fs::path pipe = dir.path() / "pipe";
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
  for (const fs::path& in : {dir.path() / "missing.csv", dir.path(), pipe}) {
#endif
    RecordingReporter r;
    EXPECT_FALSE(CheckBatchFiles(in, out, Mode::WithRiskPremium, r)) << in;
    EXPECT_EQ(MessagesOf(r), One(msg::kInputUnreadable)) << in;
    // Gone between the check and the run.
    RecordingReporter run;
    EXPECT_EQ(RunBatch(in, out, Mode::WithRiskPremium, settings, table, run), BatchOutcome::Failed) << in;
    EXPECT_EQ(MessagesOf(run), One(msg::kInputUnreadable)) << in;
  }
  EXPECT_EQ(test::ReadFile(out), "old");
  EXPECT_EQ(Others(dir.path(), {"out.csv", "pipe"}), std::vector<std::string>{});
  EXPECT_EQ(OpenDescriptors(), descriptors);
}

TEST_F(BatchTest, LineShapesWithRiskPremium) {
  const std::string lines =
      kDefault + "\r\n" +
      // Not numeric, a quoted number, zero sums: echo and four empty columns.
      "9.725,x,4.81,3.57,7.416,14.759,22.616,3.321\r\n"
      "9.725,7.38,4.81,3.57,7.416,14.759,22.616,\"1.5\"\r\n"
      "9.725,7.38,4.81,3.57,7.416,2,-2,3.321\r\n"
      "9.725,7.38,0,0,7.416,14.759,22.616,3.321\r\n"
      // No damage at all: the model gives no finite result; the line stays.
      "0,0,4.81,3.57,7.416,14.759,22.616,3.321\r\n" +
      // Fields after the eighth are dropped; blanks are echoed as read.
      kDefault + ",9,10\r\n" + " 9.725,7.38 ,4.81,3.57,7.416,14.759,22.616,3.321\r\n";
  EXPECT_EQ(Results(lines, Mode::WithRiskPremium),
            kDefault + "," + kDefaultMode1 + "\r\n" +
                "9.725,x,4.81,3.57,7.416,14.759,22.616,3.321,,,,\r\n"
                "9.725,7.38,4.81,3.57,7.416,14.759,22.616,\"1.5\",,,,\r\n"
                "9.725,7.38,4.81,3.57,7.416,2,-2,3.321,,,,\r\n"
                "9.725,7.38,0,0,7.416,14.759,22.616,3.321,,,,\r\n"
                "0,0,4.81,3.57,7.416,14.759,22.616,3.321,,,,\r\n" +
                kDefault + "," + kDefaultMode1 + "\r\n" + " 9.725,7.38 ,4.81,3.57,7.416,14.759,22.616,3.321," +
                kDefaultMode1 + "\r\n");
}

TEST_F(BatchTest, LineShapesWithoutRiskPremium) {
  const std::string seven = "9.725,7.38,4.81,3.57,7.416,14.759,22.616";
  // CP932 text in the eighth field ("東京都表" with a 0x5C trail byte) is
  // echoed byte for byte and not tested in this mode.
  const std::string japanese = "\x93\x8c\x8b\x9e\x93\x73\x95\x5c";
  const std::string lines = seven + "\n" + seven + "," + japanese + "\n" + seven + ",x,y,z\n" +
                            "9.725,7.38,4.81,3.57,7.416,-22.616,22.616,1\n" + "0,0,4.81,3.57,7.416,14.759,22.616\n";
  EXPECT_EQ(Results(lines, Mode::WithoutRiskPremium),
            seven + ",,,,," + kDefaultMode0 + "\r\n" + seven + "," + japanese + ",,,," + kDefaultMode0 + "\r\n" +
                seven + ",x,,,," + kDefaultMode0 + "\r\n" + "9.725,7.38,4.81,3.57,7.416,-22.616,22.616,1,,,,\r\n" +
                "0,0,4.81,3.57,7.416,14.759,22.616,,,,,\r\n");
}

TEST_F(BatchTest, LineEndingsDoNotChangeTheResults) {
  const std::string data[] = {kDefault, "1,2,3,4,5,6,7,8", "9.725,x,4.81,3.57,7.416,14.759,22.616,3.321"};
  std::string expected;
  for (const auto& d : {"\r\n", "\r", "\n"}) {
    std::string lines = data[0] + d + data[1] + d + data[2];  // the last without a terminator
    const std::string got = Results(lines, Mode::WithRiskPremium);
    if (expected.empty()) expected = got;
    EXPECT_EQ(got, expected) << "terminator " << static_cast<int>(d[0]);
  }
  EXPECT_EQ(std::count(expected.begin(), expected.end(), '\n'), 3);
  EXPECT_EQ(expected.substr(0, expected.find('\r')), kDefault + "," + kDefaultMode1);
}

TEST_F(BatchTest, PreviousResultFileAsInput) {
  const fs::path first = dir.Write("first.csv", "h\r\n" + kDefault + "\r\n1,2,3,4,5,6,7\r\n");
  const fs::path second = dir.path() / "second.csv";
  const fs::path third = dir.path() / "third.csv";
  RecordingReporter r;
  ASSERT_EQ(Run(first, second, Mode::WithoutRiskPremium, r), BatchOutcome::Completed);
  // Twelve fields per line now, the CP932 header skipped unread.
  ASSERT_EQ(Run(second, third, Mode::WithoutRiskPremium, r), BatchOutcome::Completed);
  EXPECT_EQ(test::ReadFile(third), test::ReadFile(second));
  EXPECT_TRUE(r.messages.empty());
}

// A locale with a decimal comma, for the C++ and (where installed) the C layer.
struct CommaPoint : std::numpunct<char> {
  char do_decimal_point() const override { return ','; }
  char do_thousands_sep() const override { return '.'; }
  std::string do_grouping() const override { return "\3"; }
};

TEST_F(BatchTest, FilesUseAPointWhateverTheLocale) {
  const std::locale saved = std::locale::global(std::locale(std::locale::classic(), new CommaPoint));
  const bool cLocale = std::setlocale(LC_NUMERIC, "de_DE.UTF-8") != nullptr;
  const std::string got = Results(kDefault + "\r\n1.5E+01,2e-1,5,0.25,3,7.5,25,1\r\n", Mode::WithRiskPremium);
  std::setlocale(LC_NUMERIC, "C");
  std::locale::global(saved);
  EXPECT_EQ(got, kDefault + "," + kDefaultMode1 + "\r\n" +
                     "1.5E+01,2e-1,5,0.25,3,7.5,25,1,0.1913964,1.1932,0.7657354,0.0006491115\r\n")
      << (cLocale ? "with" : "without") << " a C locale with a decimal comma";
}

TEST_F(BatchTest, OnlyAHeaderGivesOnlyTheHeader) {
  EXPECT_EQ(Results("", Mode::WithRiskPremium), "");
}

TEST_F(BatchTest, LinesLongerThanEveryBuffer) {
  // A 3 MiB eighth field: longer than the read chunk and the write buffer.
  const std::string seven = "9.725,7.38,4.81,3.57,7.416,14.759,22.616";
  std::string big(3 << 20, 'a');
  for (std::size_t i = 0; i < big.size(); i += 4096) big[i] = static_cast<char>('0' + i / 4096 % 10);
  EXPECT_EQ(Results(seven + "," + big + ",tail\r\n" + seven + "\r\n", Mode::WithoutRiskPremium),
            seven + "," + big + ",,,," + kDefaultMode0 + "\r\n" + seven + ",,,,," + kDefaultMode0 + "\r\n");
}

// Lines far longer than any household: a header of any length is passed
// over; a data line beyond the reader's limit fails the check with its
// number instead of exhausting memory. Sparse files keep this cheap.
TEST_F(BatchTest, HugeHeaderIsSkippedHugeDataLineFailsTheCheck) {
  const fs::path out = dir.path() / "out.csv";
  const fs::path hugeHeader = dir.Write("header.csv", "");
  fs::resize_file(hugeHeader, LineReader::kMaxLine + (1 << 20));
  {
    std::ofstream(hugeHeader, std::ios::binary | std::ios::app) << "\r\n" << kDefault << "\r\n";
  }
  RecordingReporter r;
  ASSERT_EQ(Run(hugeHeader, out, Mode::WithRiskPremium, r), BatchOutcome::Completed);
  EXPECT_TRUE(r.messages.empty());
  EXPECT_EQ(test::ReadFile(out), kHeaderCp932 + "\r\n" + kDefault + "," + kDefaultMode1 + "\r\n");

  const fs::path hugeLine = dir.Write("line.csv", "header\r\n" + kDefault + "\r\n");
  fs::resize_file(hugeLine, LineReader::kMaxLine + (1 << 20));
  RecordingReporter r2;
  EXPECT_FALSE(CheckBatchFiles(hugeLine, out, Mode::WithRiskPremium, r2));
  EXPECT_EQ(MessagesOf(r2), One("3" + std::string(msg::kLineTooLong)));
}

TEST_F(BatchTest, ExistingOutputIsReplacedWholeWithItsPermissions) {
  const fs::path in = dir.Write("in.csv", "h\r\n" + kDefault + "\r\n");
  const fs::path out = dir.Write("out.csv", std::string(100000, 'x'));
#if defined(_WIN32)
  // The attributes Windows has instead of permissions.
  ASSERT_TRUE(SetFileAttributesW(out.c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE));
#else
  ::chmod(out.c_str(), 0640);
#endif
  RecordingReporter r;
  ASSERT_EQ(Run(in, out, Mode::WithRiskPremium, r), BatchOutcome::Completed);
  EXPECT_EQ(test::ReadFile(out), kHeaderCp932 + "\r\n" + kDefault + "," + kDefaultMode1 + "\r\n");
#if defined(_WIN32)
  EXPECT_EQ(GetFileAttributesW(out.c_str()) & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY), FILE_ATTRIBUTE_HIDDEN);
#else
  EXPECT_EQ(fs::status(out).permissions() & fs::perms::all, fs::perms(0640));
#endif
  EXPECT_EQ(Others(dir.path(), {"in.csv", "out.csv"}), std::vector<std::string>{});
}

TEST_F(BatchTest, OutputNamesUpToTheLongestAreWritten) {
  const fs::path in = dir.Write("in.csv", "h\r\n" + kDefault + "\r\n");
  std::string kanji;
  for (int i = 0; i < 83; ++i) kanji += "\xe7\xb5\x90";  // three bytes each in UTF-8
  for (const std::string& name : {std::string(251, 'a') + ".csv", kanji + ".csv"}) {
    RecordingReporter r;
    EXPECT_EQ(Run(in, dir.path() / test::PathU8(name), Mode::WithRiskPremium, r), BatchOutcome::Completed)
        << name.size();
    EXPECT_EQ(test::ReadFile(dir.path() / test::PathU8(name)), kHeaderCp932 + "\r\n" + kDefault + "," + kDefaultMode1 + "\r\n");
  }
}

TEST_F(BatchTest, SymbolicLinkOutputIsReplacedAtItsTarget) {
  const fs::path in = dir.Write("in.csv", "h\r\n" + kDefault + "\r\n");
  fs::create_directory(dir.path() / "real");
  const fs::path target = dir.Write("real/out.csv", "old");
  const fs::path link = dir.path() / "link.csv";
  std::error_code noLink;
  fs::create_symlink(fs::path("real") / "out.csv", link, noLink);  // relative to the link's folder
#if defined(_WIN32)
  if (noLink) GTEST_SKIP() << "this user may not make symbolic links: " << noLink.message();
#endif
  ASSERT_FALSE(noLink) << noLink.message();
  RecordingReporter r;
  ASSERT_EQ(Run(in, link, Mode::WithRiskPremium, r), BatchOutcome::Completed);
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(test::ReadFile(target), kHeaderCp932 + "\r\n" + kDefault + "," + kDefaultMode1 + "\r\n");
  EXPECT_EQ(Others(dir.path() / "real", {"out.csv"}), std::vector<std::string>{});
}

TEST_F(BatchTest, OutputsThatCannotBeWrittenAreRefusedUntouched) {
  const fs::path in = dir.Write("in.csv", "h\r\n" + kDefault + "\r\n");
  fs::create_directory(dir.path() / "folder");
  dir.Write("folder/keep.txt", "keep");
#if defined(_WIN32)
  const NamedPipe named;
  ASSERT_TRUE(named.made());
  // The pipe and the device live outside the folder: NUL is everywhere.
  std::vector<fs::path> outputs = {dir.path() / "missing" / "out.csv", dir.path() / "folder", named.path(),
                                   fs::path("NUL"), dir.path() / "NUL"};
  const fs::path device = dir.path() / "device";
  const bool haveDevice = false;
#else
  ASSERT_EQ(::mkfifo((dir.path() / "pipe").c_str(), 0600), 0);
  std::vector<fs::path> outputs = {dir.path() / "missing" / "out.csv", dir.path() / "folder", dir.path() / "pipe"};
  // A device of our own (like /dev/full), so that a fault here cannot replace
  // the system's; only the superuser may make one.
  const fs::path device = dir.path() / "device";
  const bool haveDevice = ::mknod(device.c_str(), S_IFCHR | 0666, makedev(1, 7)) == 0;
  if (haveDevice) outputs.push_back(device);
#endif
  for (const auto& out : outputs) {
    RecordingReporter r;
    EXPECT_EQ(Run(in, out, Mode::WithRiskPremium, r), BatchOutcome::Failed) << out;
    EXPECT_EQ(MessagesOf(r), One(msg::kOutputUnwritable)) << out;
  }
  EXPECT_EQ(test::ReadFile(dir.path() / "folder" / "keep.txt"), "keep");
#if !defined(_WIN32)
  EXPECT_TRUE(fs::is_fifo(dir.path() / "pipe"));
#endif
  if (haveDevice) {
    EXPECT_TRUE(fs::is_character_file(device));
  }
  EXPECT_EQ(Others(dir.path(), {"in.csv", "folder", "pipe", "device"}), std::vector<std::string>{});
}

TEST_F(BatchTest, WriteProtectedOutputStaysProtected) {
#if defined(_WIN32)
  const fs::path in = dir.Write("in.csv", "h\r\n" + kDefault + "\r\n");
  const fs::path out = dir.Write("out.csv", "old");
  // The read-only attribute, which binds every user.
  fs::permissions(out, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
  ASSERT_NE(GetFileAttributesW(out.c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
#else
  if (::geteuid() == 0) GTEST_SKIP() << "permissions do not bind the superuser";
  const fs::path in = dir.Write("in.csv", "h\r\n" + kDefault + "\r\n");
  const fs::path out = dir.Write("out.csv", "old");
  ::chmod(out.c_str(), 0444);
#endif
  RecordingReporter r;
  EXPECT_EQ(Run(in, out, Mode::WithRiskPremium, r), BatchOutcome::Failed);
  EXPECT_EQ(MessagesOf(r), One(msg::kOutputUnwritable));
  EXPECT_EQ(test::ReadFile(out), "old");
}

#if defined(_WIN32)
// Windows has no file size limit per process.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(std::uint64_t) {}
};
#define SKIP_WITHOUT_FILE_SIZE_LIMIT() GTEST_SKIP() << "Windows has no file size limit per process"
#else
#define SKIP_WITHOUT_FILE_SIZE_LIMIT() static_cast<void>(0)
// Lowers the file size limit for the life of the object.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &saved_);
    previous_ = std::signal(SIGXFSZ, SIG_IGN);  // write then answers EFBIG
    rlimit lower = saved_;
    lower.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &lower);
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &saved_);
    std::signal(SIGXFSZ, previous_);
  }

 private:
  rlimit saved_{};
  void (*previous_)(int) = nullptr;
};
#endif

TEST_F(BatchTest, WriteFailureMidRunIsAFailureAndKeepsTheOldOutput) {
  SKIP_WITHOUT_FILE_SIZE_LIMIT();
  std::string lines = "h\r\n";
  for (int i = 0; i < 50000; ++i) lines += kDefault + "\r\n";  // about 5 MB of results
  const fs::path in = dir.Write("in.csv", lines);
  const fs::path out = dir.Write("out.csv", "old");
  RecordingReporter r;
  ASSERT_TRUE(CheckBatchFiles(in, out, Mode::WithRiskPremium, r));
  BatchOutcome outcome;
  {
    FileSizeLimit limit(3 << 20);  // past the first full write buffer
    outcome = RunBatch(in, out, Mode::WithRiskPremium, settings, table, r);
  }
  EXPECT_EQ(outcome, BatchOutcome::Failed);
  EXPECT_EQ(MessagesOf(r), One(msg::kOutputUnwritable));
  EXPECT_EQ(test::ReadFile(out), "old");
  EXPECT_EQ(Others(dir.path(), {"in.csv", "out.csv"}), std::vector<std::string>{});
}

#if defined(_WIN32)
// Another program opens the output without sharing it after the last line,
// just before the result is to take its place: the run fails with the
// output's message, the earlier output stays and the temporary file goes.
TEST_F(BatchTest, OutputLockedBeforeTheCommitKeepsTheEarlierOutput) {
  const fs::path in = dir.Write("in.csv", "h\r\n" + kDefault + "\r\n");
  const fs::path out = dir.Write("out.csv", "old");
  struct LockAtTheEnd : BatchProgress {
    fs::path file;
    HANDLE lock = INVALID_HANDLE_VALUE;
    bool lineDone(std::uint64_t, std::uint64_t read, std::uint64_t total) override {
      if (phase() == BatchPhase::Running && read == total && lock == INVALID_HANDLE_VALUE) {
        lock = CreateFileW(file.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
      }
      return true;
    }
  } progress;
  progress.file = out;
  RecordingReporter r;
  EXPECT_EQ(Run(in, out, Mode::WithRiskPremium, r, &progress), BatchOutcome::Failed);
  ASSERT_NE(progress.lock, INVALID_HANDLE_VALUE);
  CloseHandle(progress.lock);
  EXPECT_EQ(MessagesOf(r), One(msg::kOutputUnwritable));
  EXPECT_EQ(test::ReadFile(out), "old");
  EXPECT_EQ(Others(dir.path(), {"in.csv", "out.csv"}), std::vector<std::string>{});
}
#endif

// The output replaced by a folder after the last line, just before the
// result is to take its place: the failed rename is reported, and the
// temporary file goes.
TEST_F(BatchTest, FailedRenameIsReportedAndLeavesNoTemporaryFile) {
  const fs::path in = dir.Write("in.csv", "h\r\n" + kDefault + "\r\n");
  const fs::path out = dir.Write("out.csv", "old");
  struct FolderAtTheEnd : BatchProgress {
    fs::path file;
    bool done = false;
    bool lineDone(std::uint64_t, std::uint64_t read, std::uint64_t total) override {
      if (phase() == BatchPhase::Running && read == total && !done) {
        fs::remove(file);
        fs::create_directory(file);
        std::ofstream(file / "kept.txt", std::ios::binary) << "kept";
        done = true;
      }
      return true;
    }
  } progress;
  progress.file = out;
  RecordingReporter r;
  EXPECT_EQ(Run(in, out, Mode::WithRiskPremium, r, &progress), BatchOutcome::Failed);
  EXPECT_TRUE(progress.done);
  EXPECT_EQ(MessagesOf(r), One(msg::kOutputUnwritable));
  EXPECT_EQ(test::ReadFile(out / "kept.txt"), "kept");
  EXPECT_EQ(Others(dir.path(), {"in.csv", "out.csv"}), std::vector<std::string>{});
}

TEST_F(BatchTest, CommandRunsTheChainAndReportsCompletion) {
  const fs::path in = dir.Write("in.csv", "h\r\n" + kDefault + "\r\n");
  const fs::path out = dir.path() / "out.csv";
  BatchCommand command;
  command.input = in;
  command.output = out;
  command.mode = Mode::WithRiskPremium;
  command.settingTexts = {"0.610", "0.025", "0.040", "3.140"};
  command.gapTableFile = VELMORA_EXAMPLE_GAP_TABLE;
  CommonSettings s;
  GapTable t;
  {
    RecordingReporter r;
    EXPECT_EQ(RunBatchCommand(command, s, t, r), BatchOutcome::Completed);
    EXPECT_EQ(MessagesOf(r), (std::vector<std::string>{"I:" + std::string(msg::kBatchCompleted)}));
    EXPECT_EQ(test::ReadFile(out), kHeaderCp932 + "\r\n" + kDefault + "," + kDefaultMode1 + "\r\n");
    EXPECT_EQ(s.MarkupRate, 3.14f);
  }
  // The window's boxes may use a decimal comma; the files never do.
  {
    BatchCommand comma = command;
    comma.settingTexts = {"0,610", "0,025", "0,040", "3,140"};
    comma.decimalSeparator = ",";
    fs::remove(out);
    RecordingReporter r;
    EXPECT_EQ(RunBatchCommand(comma, s, t, r), BatchOutcome::Completed);
    EXPECT_EQ(test::ReadFile(out), kHeaderCp932 + "\r\n" + kDefault + "," + kDefaultMode1 + "\r\n");
  }
  // Each step stops the chain with its own message only.
  struct Case {
    BatchCommand command;
    std::string message;
  };
  std::vector<Case> cases;
  cases.push_back({command, msg::kGapTableUnreadable});
  cases.back().command.gapTableFile = dir.path() / "none.txt";
  cases.push_back({command, msg::kCommonSettingsInvalid});
  cases.back().command.settingTexts[2] = "";
  cases.push_back({command, msg::kMarkupRateZero});
  cases.back().command.settingTexts[3] = "0";
  cases.push_back({command, msg::kSelectInputFile});
  cases.back().command.input.clear();
  cases.push_back({command, msg::kOutputUnwritable});
  cases.back().command.output = dir.path() / "missing" / "out.csv";
  for (const auto& c : cases) {
    RecordingReporter r;
    EXPECT_EQ(RunBatchCommand(c.command, s, t, r), BatchOutcome::Failed) << c.message;
    EXPECT_EQ(MessagesOf(r), One(c.message));
  }
}

TEST(ResultHeader, IsHeldAsItsCp932Bytes) {
  // 313 bytes: twelve names, eleven commas, no terminator.
  EXPECT_EQ(msg::kResultHeaderCp932.size(), 313u);
  EXPECT_EQ(msg::kResultHeaderCp932, kHeaderCp932);
  EXPECT_EQ(msg::kResultHeaderCp932.substr(0, 4), "\x89\xc6\x89\xae");                  // 家屋
  EXPECT_NE(msg::kResultHeaderCp932.find("\x94\xed\x8aQ\x81i"), std::string::npos);     // 被害（
  EXPECT_NE(msg::kResultHeaderCp932.find(",\x89\xc6\x8cv"), std::string::npos);         // ,家計
  EXPECT_NE(msg::kResultHeaderCp932.find("(\x94{),"), std::string::npos);               // (倍), ASCII parentheses
  EXPECT_NE(msg::kResultHeaderCp932.find("\x83J\x83o\x81[\x97\xa6"), std::string::npos);  // カバー率
  EXPECT_EQ(std::count(msg::kResultHeaderCp932.begin(), msg::kResultHeaderCp932.end(), ','), 11);
}

// The same engine on one, two and seven threads. Tiny chunks put chunk ends
// everywhere: inside lines, between the CR and the LF of one terminator, and
// right after a line that is longer than a chunk.
class BatchThreads : public BatchTest, public ::testing::WithParamInterface<unsigned> {
 protected:
  BatchOptions Options(std::size_t chunkBytes = BatchOptions{}.chunkBytes) const {
    BatchOptions options;
    options.threads = GetParam();
    options.chunkBytes = chunkBytes;
    return options;
  }
  BatchCommand Command(const fs::path& in, const fs::path& out, const BatchOptions& options) const {
    BatchCommand command;
    command.input = in;
    command.output = out;
    command.settingTexts = kDefaultCommonSettingTexts;
    command.gapTableFile = VELMORA_EXAMPLE_GAP_TABLE;
    command.options = options;
    return command;
  }
};

const std::size_t kChunkSizes[] = {1, 2, 3, 5, 8, 13, 21, 64, 100, 4096, BatchOptions{}.chunkBytes};

TEST_P(BatchThreads, SameBytesWhereverTheChunksEnd) {
  const std::string seven = "9.725,7.38,4.81,3.57,7.416,14.759,22.616";
  const std::string cp932 = "\x93\x8c\x8b\x9e\x93\x73\x95\x5c";  // 東京都表, a 0x5C trail byte
  const std::string utf8 = "\xe6\x9d\xb1\xe4\xba\xac";             // 東京
  const std::string notNumber = "9.725,x,4.81,3.57,7.416,14.759,22.616,3.321";
  const std::string noDamage = "0,0,4.81,3.57,7.416,14.759,22.616,3.321";
  struct Kind {
    std::string line, withPremium, without;
  };
  const std::vector<Kind> kinds = {
      {kDefault, kDefault + "," + kDefaultMode1, kDefault + ",,,," + kDefaultMode0},
      {seven, seven + ",,,,,", seven + ",,,,," + kDefaultMode0},
      {seven + "," + cp932 + ",x,y", seven + "," + cp932 + ",,,,", seven + "," + cp932 + ",,,," + kDefaultMode0},
      {kDefault + "," + utf8 + ",10,11,12", kDefault + "," + kDefaultMode1, kDefault + ",,,," + kDefaultMode0},
      {notNumber, notNumber + ",,,,", notNumber + ",,,,"},
      {"", ",,,,,,,,,,,", ",,,,,,,,,,,"},
      {" 1", " 1,,,,,,,,,,,", " 1,,,,,,,,,,,"},
      {noDamage, noDamage + ",,,,", noDamage + ",,,,"},
      {std::string(300, '7'), std::string(300, '7') + ",,,,,,,,,,,", std::string(300, '7') + ",,,,,,,,,,,"},
  };
  const std::string ends[] = {"\r\n", "\r", "\n"};
  std::string input = "header\r\n", withPremium, without;
  std::string previousEnd;
  for (std::size_t i = 0; i < 80; ++i) {
    const Kind& kind = kinds[i % kinds.size()];
    std::string end = ends[i % 3];
    if (kind.line.empty() && previousEnd == "\r" && end == "\n") end = "\r\n";  // else one CR LF, no line
    input += kind.line + end;
    withPremium += kind.withPremium + "\r\n";
    without += kind.without + "\r\n";
    previousEnd = end;
  }
  input += kDefault;  // the last line without a terminator
  withPremium += kDefault + "," + kDefaultMode1 + "\r\n";
  without += kDefault + ",,,," + kDefaultMode0 + "\r\n";
  // The run alone: the check would refuse the short lines.
  const fs::path in = dir.Write("in.csv", input);
  const fs::path out = dir.path() / "out.csv";
  for (const std::size_t chunk : kChunkSizes) {
    for (const Mode mode : {Mode::WithRiskPremium, Mode::WithoutRiskPremium}) {
      RecordingReporter r;
      EXPECT_EQ(RunBatch(in, out, mode, settings, table, r, nullptr, Options(chunk)), BatchOutcome::Completed);
      EXPECT_TRUE(r.messages.empty());
      EXPECT_EQ(test::ReadFile(out), kHeaderCp932 + "\r\n" + (mode == Mode::WithRiskPremium ? withPremium : without))
          << "chunk " << chunk;
    }
  }
}

TEST_P(BatchThreads, CheckReportsTheFirstShortLineInInputOrder) {
  const fs::path out = dir.path() / "out.csv";
  std::string good;
  for (int i = 0; i < 3000; ++i) good += kDefault + (i % 2 ? "\r\n" : "\n");
  const std::string seven = "1,2,3,4,5,6,7\r\n";
  struct Case {
    std::string data;
    int line;
  };
  const Case cases[] = {
      {good + seven + "\r\n" + good, 3002},          // two short lines: the first one counts
      {good + seven + seven + seven + good + seven + good + "1\n2\n", 3002},  // short lines in every later chunk
      {seven + good + seven, 2},
      {good + "\r", 3002},                           // after CR LF and LF lines, a lone CR ends an empty line
      {good + good + "\n", 6002},                    // the empty last line
      {good + good, 0},
  };
  for (const std::size_t chunk : {std::size_t{5}, std::size_t{64}, std::size_t{4096}, BatchOptions{}.chunkBytes}) {
    for (const auto& c : cases) {
      const fs::path in = dir.Write("in.csv", "header\r\n" + c.data);
      RecordingReporter r;
      EXPECT_EQ(CheckBatchFiles(in, out, Mode::WithRiskPremium, r, nullptr, Options(chunk)), c.line == 0);
      EXPECT_EQ(MessagesOf(r), c.line == 0 ? std::vector<std::string>{} : One(LineMessage(c.line)))
          << "chunk " << chunk << ", line " << c.line;
    }
  }
  // A line beyond the reader's limit after many chunks, as a sparse file.
  const fs::path huge = dir.Write("huge.csv", "header\r\n" + good);
  fs::resize_file(huge, LineReader::kMaxLine + (3 << 20));
  RecordingReporter r;
  EXPECT_FALSE(CheckBatchFiles(huge, out, Mode::WithRiskPremium, r, nullptr, Options(4096)));
  EXPECT_EQ(MessagesOf(r), One("3002" + std::string(msg::kLineTooLong)));
}

// Records every call of the hook, and cancels at the first call that
// `cancelWhen` picks: by its answer, or by cancel() from another thread.
class Recorder : public BatchProgress {
 public:
  struct Call {
    std::thread::id thread;
    BatchPhase phase;
    std::uint64_t lines, read, total;
  };
  bool lineDone(std::uint64_t lines, std::uint64_t read, std::uint64_t total) override {
    calls.push_back({std::this_thread::get_id(), phase(), lines, read, total});
    if (cancelledAt != 0 || !cancelWhen || !cancelWhen(calls.back())) return true;
    cancelledAt = calls.size();
    if (!fromAnotherThread) return false;
    std::jthread([this] { cancel(); }).join();
    return true;
  }
  std::function<bool(const Call&)> cancelWhen;
  bool fromAnotherThread = false;
  std::size_t cancelledAt = 0;
  std::vector<Call> calls;
};

TEST_P(BatchThreads, ProgressOnTheCallingThreadAndCancelAtAnyPoint) {
  std::string many = "h\r\n";
  for (int i = 0; i < 20000; ++i) many += kDefault + "\r\n";
  for (const std::string& input : {std::string("only a header\r\n"), many}) {
    SCOPED_TRACE(input.size());
    const fs::path in = dir.Write("in.csv", input);
    const fs::path out = dir.path() / "out.csv";
    const BatchCommand command = Command(in, out, Options(4096));
    const std::uint64_t lines = input.size() < 100 ? 0 : 20000;
    Recorder all;
    RecordingReporter done;
    ASSERT_EQ(RunBatchCommand(command, settings, table, done, &all), BatchOutcome::Completed);
    EXPECT_EQ(MessagesOf(done), (std::vector<std::string>{"I:" + std::string(msg::kBatchCompleted)}));
    // Only on this thread; the check's calls, then the run's, each with counts
    // that only grow, the last with every line and byte.
    std::size_t checking = 0;
    for (std::size_t i = 0; i < all.calls.size(); ++i) {
      const Recorder::Call& call = all.calls[i];
      EXPECT_EQ(call.thread, std::this_thread::get_id());
      EXPECT_EQ(call.total, input.size());
      EXPECT_LE(call.read, call.total);
      if (call.phase == BatchPhase::Checking) {
        EXPECT_EQ(checking++, i) << "check after run";
      } else {
        EXPECT_EQ(call.phase, BatchPhase::Running);
      }
      if (i > 0 && call.phase == all.calls[i - 1].phase) {
        EXPECT_GE(call.lines, all.calls[i - 1].lines);
        EXPECT_GE(call.read, all.calls[i - 1].read);
      }
    }
    ASSERT_GE(checking, 1u);
    ASSERT_GE(all.calls.size(), checking + 1);
    for (const std::size_t last : {checking - 1, all.calls.size() - 1}) {
      EXPECT_EQ(all.calls[last].lines, lines);
      EXPECT_EQ(all.calls[last].read, input.size());
    }
    // Cancelled at the first call, at the end of the check, at the start of
    // the run, in the middle, and after the last line just before the result
    // takes the output's place: the earlier output stays, nothing else.
    using Call = Recorder::Call;
    const std::function<bool(const Call&)> points[] = {
        [](const Call&) { return true; },
        [&](const Call& c) { return c.phase == BatchPhase::Checking && c.read == input.size(); },
        [](const Call& c) { return c.phase == BatchPhase::Running; },
        [&](const Call& c) { return c.phase == BatchPhase::Running && c.lines >= lines / 2; },
        [&](const Call& c) { return c.phase == BatchPhase::Running && c.read == input.size(); },
    };
    {
      dir.Write("out.csv", "old");
      Recorder before;
      before.cancel();
      RecordingReporter r;
      EXPECT_EQ(RunBatchCommand(command, settings, table, r, &before), BatchOutcome::Cancelled);
      EXPECT_TRUE(r.messages.empty());
      EXPECT_TRUE(before.calls.empty());
      EXPECT_EQ(test::ReadFile(out), "old");
    }
    for (const bool fromAnotherThread : {false, true}) {
      for (std::size_t point = 0; point < std::size(points); ++point) {
        SCOPED_TRACE(testing::Message() << "cancel point " << point << (fromAnotherThread ? " from another thread" : ""));
        dir.Write("out.csv", "old");
        Recorder cancel;
        cancel.cancelWhen = points[point];
        cancel.fromAnotherThread = fromAnotherThread;
        RecordingReporter r;
        EXPECT_EQ(RunBatchCommand(command, settings, table, r, &cancel), BatchOutcome::Cancelled);
        EXPECT_TRUE(r.messages.empty());
        EXPECT_EQ(cancel.calls.size(), cancel.cancelledAt) << "called after the cancel";
        EXPECT_EQ(test::ReadFile(out), "old");
        EXPECT_EQ(Others(dir.path(), {"in.csv", "out.csv"}), std::vector<std::string>{});
      }
    }
  }
}

TEST_P(BatchThreads, WriteFailureMidRunKeepsTheEarlierOutput) {
  SKIP_WITHOUT_FILE_SIZE_LIMIT();
  std::string lines = "h\r\n";
  for (int i = 0; i < 20000; ++i) lines += kDefault + "\r\n";
  const fs::path in = dir.Write("in.csv", lines);
  const fs::path out = dir.Write("out.csv", "old");
  for (const std::size_t chunk : {std::size_t{4096}, BatchOptions{}.chunkBytes}) {
    RecordingReporter r;
    BatchOutcome outcome;
    {
      FileSizeLimit limit(256 << 10);
      outcome = RunBatch(in, out, Mode::WithRiskPremium, settings, table, r, nullptr, Options(chunk));
    }
    EXPECT_EQ(outcome, BatchOutcome::Failed);
    EXPECT_EQ(MessagesOf(r), One(msg::kOutputUnwritable));
    EXPECT_EQ(test::ReadFile(out), "old");
    EXPECT_EQ(Others(dir.path(), {"in.csv", "out.csv"}), std::vector<std::string>{});
  }
}

// After a stop no chunk is delivered, and a pass ended by anything that
// throws (the work, the delivery, the progress hook) reports that exception,
// the first one, not a read or a write failure; the earlier output stays.
TEST_P(BatchThreads, NothingIsDeliveredAfterAStopAndAFailureKeepsItsCause) {
  std::string text = "h\n";
  for (int i = 0; i < 400; ++i) text += std::to_string(i) + "\n";
  const fs::path in = dir.Write("in.csv", text);
  enum How { kAnswer, kWork, kDeliver };
  for (const How how : {kAnswer, kWork, kDeliver}) {
    SCOPED_TRACE(how);
    batch::InputFile file;
    ASSERT_TRUE(file.Open(in));
    batch::ChunkReader reader(file, 16, LineReader::kMaxLine);
    ASSERT_EQ(reader.ReadHeader(nullptr), batch::ChunkReader::Status::Chunk);
    std::vector<std::uint64_t> delivered;
    const std::function<void(batch::Chunk&)> work = [&](batch::Chunk& chunk) {
      if (how == kWork && chunk.sequence == 10) throw std::runtime_error("work 10");
    };
    const std::function<bool(const batch::Chunk&)> deliver = [&](const batch::Chunk& chunk) {
      delivered.push_back(chunk.sequence);
      if (how == kDeliver && chunk.sequence == 10) throw std::runtime_error("deliver 10");
      return !(how == kAnswer && chunk.sequence == 10);
    };
    std::exception_ptr error;
    const batch::PipelineEnd end = batch::RunPipeline(reader, GetParam(), work, deliver, nullptr, &error);
    // In order from the first, none after the stop.
    for (std::size_t i = 0; i < delivered.size(); ++i) EXPECT_EQ(delivered[i], i);
    if (how == kWork) {
      EXPECT_LE(delivered.size(), 10u);  // the chunk that threw, and any after it, never
    } else {
      EXPECT_EQ(delivered.size(), 11u);
    }
    EXPECT_EQ(end, how == kAnswer ? batch::PipelineEnd::Stopped : batch::PipelineEnd::Failed);
    std::string what;
    try {
      if (error) std::rethrow_exception(error);
    } catch (const std::runtime_error& e) {
      what = e.what();
    }
    EXPECT_EQ(what, how == kAnswer ? "" : how == kWork ? "work 10" : "deliver 10");
  }
  // A hook that throws in the middle of a run.
  struct Throwing : BatchProgress {
    bool lineDone(std::uint64_t lines, std::uint64_t, std::uint64_t) override {
      if (phase() == BatchPhase::Running && lines > 100) throw std::runtime_error("hook");
      return true;
    }
  };
  std::string many = "h\r\n";
  for (int i = 0; i < 2000; ++i) many += kDefault + "\r\n";
  dir.Write("in.csv", many);
  const fs::path out = dir.Write("out.csv", "old");
  Throwing hook;
  RecordingReporter r;
  EXPECT_EQ(RunBatchCommand(Command(in, out, Options(64)), settings, table, r, &hook), BatchOutcome::Failed);
  EXPECT_EQ(MessagesOf(r), One(std::string(msg::kRunFailed) + "hook"));
  EXPECT_EQ(test::ReadFile(out), "old");
  EXPECT_EQ(Others(dir.path(), {"in.csv", "out.csv"}), std::vector<std::string>{});
}

// Long lines on many threads: the chunks in memory at once hold at most the
// budget plus one longest line, not a chunk of a long line per thread.
TEST_P(BatchThreads, BytesInFlightAreBoundedNotChunks) {
  constexpr std::size_t kLine = 64 << 10, kBudget = 32 << 10;
  std::string text = "h\n";
  for (int i = 0; i < 40; ++i) text += std::string(kLine - 1, static_cast<char>('a' + i % 26)) + "\n";
  const fs::path in = dir.Write("in.csv", text);
  batch::InputFile file;
  ASSERT_TRUE(file.Open(in));
  batch::ChunkReader reader(file, 1024, LineReader::kMaxLine);
  ASSERT_EQ(reader.ReadHeader(nullptr), batch::ChunkReader::Status::Chunk);
  std::atomic<std::size_t> held{0}, most{0};
  std::atomic<std::size_t> bytes{0};
  const std::function<void(batch::Chunk&)> work = [&](batch::Chunk& chunk) {
    const std::size_t now = held += chunk.text.size();
    for (std::size_t seen = most; now > seen && !most.compare_exchange_weak(seen, now);) {
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(3));  // time for the others to pile up
    held -= chunk.text.size();
  };
  const std::function<bool(const batch::Chunk&)> deliver = [&](const batch::Chunk& chunk) {
    bytes += chunk.text.size();
    return true;
  };
  EXPECT_EQ(batch::RunPipeline(reader, GetParam(), work, deliver, nullptr, nullptr, kBudget),
            batch::PipelineEnd::Completed);
  EXPECT_EQ(bytes, 40 * kLine);
  EXPECT_LE(most, kBudget + kLine);
}

INSTANTIATE_TEST_SUITE_P(OneTwoSeven, BatchThreads, ::testing::Values(1u, 2u, 7u),
                         [](const auto& info) { return std::to_string(info.param) + "Threads"; });

}  // namespace
}  // namespace velmora
