#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <clocale>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <locale>
#include <string>
#include <vector>

#include "batch/batch.h"
#include "batch/messages.h"
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

std::string ReadAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

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

int OpenDescriptors() {
  int n = 0;
  for ([[maybe_unused]] const auto& e : fs::directory_iterator("/proc/self/fd")) ++n;
  return n;
}

class BatchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RecordingReporter r;
    ASSERT_TRUE(LoadGapTable(VELMORA_EXAMPLE_GAP_TABLE, table, r));
    settings = {0.61f, 0.025f, 0.04f, 3.14f};
  }

  // Check and run, as the batch command does after its first steps.
  BatchOutcome Run(const fs::path& in, const fs::path& out, Mode mode, RecordingReporter& r,
                   BatchProgress* progress = nullptr) {
    if (!CheckBatchFiles(in, out, mode, r)) return BatchOutcome::Failed;
    return RunBatch(in, out, mode, settings, table, r, progress);
  }
  // The result lines after the header, for an input of these data lines.
  std::string Results(const std::string& dataLines, Mode mode) {
    const fs::path in = dir.Write("in.csv", "header\r\n" + dataLines);
    const fs::path out = dir.path() / "out.csv";
    RecordingReporter r;
    EXPECT_EQ(Run(in, out, mode, r), BatchOutcome::Completed);
    EXPECT_TRUE(r.messages.empty());
    const std::string bytes = ReadAll(out);
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
  // Names that differ only in case are two files here.
  RecordingReporter ok;
  EXPECT_TRUE(CheckBatchFiles(in, dir.path() / "IN.csv", Mode::WithRiskPremium, ok));
  EXPECT_TRUE(ok.messages.empty());
}

TEST_F(BatchTest, OneFileUnderTwoNamesIsRefusedAndKeptIntact) {
  const std::string original = "h\r\n" + kDefault + "\r\n";
  const fs::path in = dir.Write("in.csv", original);
  fs::create_symlink(in, dir.path() / "link.csv");
  fs::create_hard_link(in, dir.path() / "hard.csv");
  for (const fs::path& out : {dir.path() / "." / "in.csv", dir.path() / "link.csv", dir.path() / "hard.csv"}) {
    RecordingReporter r;
    EXPECT_FALSE(CheckBatchFiles(in, out, Mode::WithRiskPremium, r)) << out;
    EXPECT_EQ(MessagesOf(r), One(msg::kSameFiles)) << out;
    // The run guards the input on its own as well.
    RecordingReporter run;
    EXPECT_EQ(RunBatch(in, out, Mode::WithRiskPremium, settings, table, run), BatchOutcome::Failed) << out;
    EXPECT_EQ(MessagesOf(run), One(msg::kSameFiles)) << out;
  }
  EXPECT_EQ(ReadAll(in), original);
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
  const fs::path pipe = dir.path() / "pipe";
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
  for (const fs::path& in : {dir.path() / "missing.csv", dir.path(), pipe}) {
    RecordingReporter r;
    EXPECT_FALSE(CheckBatchFiles(in, out, Mode::WithRiskPremium, r)) << in;
    EXPECT_EQ(MessagesOf(r), One(msg::kInputUnreadable)) << in;
    // Gone between the check and the run.
    RecordingReporter run;
    EXPECT_EQ(RunBatch(in, out, Mode::WithRiskPremium, settings, table, run), BatchOutcome::Failed) << in;
    EXPECT_EQ(MessagesOf(run), One(msg::kInputUnreadable)) << in;
  }
  EXPECT_EQ(ReadAll(out), "old");
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
  EXPECT_EQ(ReadAll(third), ReadAll(second));
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
  EXPECT_EQ(ReadAll(out), kHeaderCp932 + "\r\n" + kDefault + "," + kDefaultMode1 + "\r\n");

  const fs::path hugeLine = dir.Write("line.csv", "header\r\n" + kDefault + "\r\n");
  fs::resize_file(hugeLine, LineReader::kMaxLine + (1 << 20));
  RecordingReporter r2;
  EXPECT_FALSE(CheckBatchFiles(hugeLine, out, Mode::WithRiskPremium, r2));
  EXPECT_EQ(MessagesOf(r2), One(LineMessage(3)));
}

TEST_F(BatchTest, ExistingOutputIsReplacedWholeWithItsPermissions) {
  const fs::path in = dir.Write("in.csv", "h\r\n" + kDefault + "\r\n");
  const fs::path out = dir.Write("out.csv", std::string(100000, 'x'));
  ::chmod(out.c_str(), 0640);
  RecordingReporter r;
  ASSERT_EQ(Run(in, out, Mode::WithRiskPremium, r), BatchOutcome::Completed);
  EXPECT_EQ(ReadAll(out), kHeaderCp932 + "\r\n" + kDefault + "," + kDefaultMode1 + "\r\n");
  EXPECT_EQ(fs::status(out).permissions() & fs::perms::all, fs::perms(0640));
  EXPECT_EQ(Others(dir.path(), {"in.csv", "out.csv"}), std::vector<std::string>{});
}

TEST_F(BatchTest, OutputNamesUpToTheLongestAreWritten) {
  const fs::path in = dir.Write("in.csv", "h\r\n" + kDefault + "\r\n");
  std::string kanji;
  for (int i = 0; i < 83; ++i) kanji += "\xe7\xb5\x90";  // three bytes each in UTF-8
  for (const std::string& name : {std::string(251, 'a') + ".csv", kanji + ".csv"}) {
    RecordingReporter r;
    EXPECT_EQ(Run(in, dir.path() / name, Mode::WithRiskPremium, r), BatchOutcome::Completed) << name.size();
    EXPECT_EQ(ReadAll(dir.path() / name), kHeaderCp932 + "\r\n" + kDefault + "," + kDefaultMode1 + "\r\n");
  }
}

TEST_F(BatchTest, SymbolicLinkOutputIsReplacedAtItsTarget) {
  const fs::path in = dir.Write("in.csv", "h\r\n" + kDefault + "\r\n");
  fs::create_directory(dir.path() / "real");
  const fs::path target = dir.Write("real/out.csv", "old");
  const fs::path link = dir.path() / "link.csv";
  fs::create_symlink("real/out.csv", link);  // relative to the link's folder
  RecordingReporter r;
  ASSERT_EQ(Run(in, link, Mode::WithRiskPremium, r), BatchOutcome::Completed);
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(ReadAll(target), kHeaderCp932 + "\r\n" + kDefault + "," + kDefaultMode1 + "\r\n");
  EXPECT_EQ(Others(dir.path() / "real", {"out.csv"}), std::vector<std::string>{});
}

TEST_F(BatchTest, OutputsThatCannotBeWrittenAreRefusedUntouched) {
  const fs::path in = dir.Write("in.csv", "h\r\n" + kDefault + "\r\n");
  fs::create_directory(dir.path() / "folder");
  dir.Write("folder/keep.txt", "keep");
  ASSERT_EQ(::mkfifo((dir.path() / "pipe").c_str(), 0600), 0);
  std::vector<fs::path> outputs = {dir.path() / "missing" / "out.csv", dir.path() / "folder", dir.path() / "pipe"};
  // A device of our own (like /dev/full), so that a fault here cannot replace
  // the system's; only the superuser may make one.
  const fs::path device = dir.path() / "device";
  const bool haveDevice = ::mknod(device.c_str(), S_IFCHR | 0666, makedev(1, 7)) == 0;
  if (haveDevice) outputs.push_back(device);
  for (const auto& out : outputs) {
    RecordingReporter r;
    EXPECT_EQ(Run(in, out, Mode::WithRiskPremium, r), BatchOutcome::Failed) << out;
    EXPECT_EQ(MessagesOf(r), One(msg::kOutputUnwritable)) << out;
  }
  EXPECT_EQ(ReadAll(dir.path() / "folder" / "keep.txt"), "keep");
  EXPECT_TRUE(fs::is_fifo(dir.path() / "pipe"));
  if (haveDevice) {
    EXPECT_TRUE(fs::is_character_file(device));
  }
  EXPECT_EQ(Others(dir.path(), {"in.csv", "folder", "pipe", "device"}), std::vector<std::string>{});
}

TEST_F(BatchTest, WriteProtectedOutputStaysProtected) {
  if (::geteuid() == 0) GTEST_SKIP() << "permissions do not bind the superuser";
  const fs::path in = dir.Write("in.csv", "h\r\n" + kDefault + "\r\n");
  const fs::path out = dir.Write("out.csv", "old");
  ::chmod(out.c_str(), 0444);
  RecordingReporter r;
  EXPECT_EQ(Run(in, out, Mode::WithRiskPremium, r), BatchOutcome::Failed);
  EXPECT_EQ(MessagesOf(r), One(msg::kOutputUnwritable));
  EXPECT_EQ(ReadAll(out), "old");
}

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

TEST_F(BatchTest, WriteFailureMidRunIsAFailureAndKeepsTheOldOutput) {
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
  EXPECT_EQ(ReadAll(out), "old");
  EXPECT_EQ(Others(dir.path(), {"in.csv", "out.csv"}), std::vector<std::string>{});
}

class CancelAfter : public BatchProgress {
 public:
  explicit CancelAfter(std::uint64_t lines) : lines_(lines) {}
  bool lineDone(std::uint64_t linesDone, std::uint64_t bytesRead, std::uint64_t bytesTotal) override {
    calls.push_back({linesDone, bytesRead, bytesTotal});
    return linesDone < lines_;
  }
  struct Call {
    std::uint64_t lines, read, total;
  };
  std::vector<Call> calls;

 private:
  std::uint64_t lines_;
};

TEST_F(BatchTest, ProgressIsReportedPerLineAndCancelKeepsTheOldOutput) {
  std::string lines = "h\r\n";
  for (int i = 0; i < 2000; ++i) lines += kDefault + "\r\n";
  const fs::path in = dir.Write("in.csv", lines);
  const fs::path out = dir.Write("out.csv", "old");
  RecordingReporter r;
  CancelAfter cancel(1500);
  EXPECT_EQ(Run(in, out, Mode::WithRiskPremium, r, &cancel), BatchOutcome::Cancelled);
  EXPECT_TRUE(r.messages.empty());
  EXPECT_EQ(ReadAll(out), "old");
  EXPECT_EQ(Others(dir.path(), {"in.csv", "out.csv"}), std::vector<std::string>{});
  ASSERT_EQ(cancel.calls.size(), 1500u);

  CancelAfter all(1u << 30);
  EXPECT_EQ(Run(in, out, Mode::WithRiskPremium, r, &all), BatchOutcome::Completed);
  ASSERT_EQ(all.calls.size(), 2000u);
  for (std::size_t i = 0; i < all.calls.size(); ++i) {
    EXPECT_EQ(all.calls[i].lines, i + 1);
    EXPECT_EQ(all.calls[i].total, lines.size());
    EXPECT_LE(all.calls[i].read, lines.size());
    if (i > 0) {
      EXPECT_GE(all.calls[i].read, all.calls[i - 1].read);
    }
  }
  EXPECT_EQ(all.calls.back().read, lines.size());
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
    EXPECT_EQ(ReadAll(out), kHeaderCp932 + "\r\n" + kDefault + "," + kDefaultMode1 + "\r\n");
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
    EXPECT_EQ(ReadAll(out), kHeaderCp932 + "\r\n" + kDefault + "," + kDefaultMode1 + "\r\n");
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

}  // namespace
}  // namespace velmora
