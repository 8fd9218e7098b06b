// The batch tool against hostile input and a hostile system: every case must
// end with a clear message and a truthful exit status, without a crash or a
// hang, and without putting a partial file where an earlier result was.
#include <fcntl.h>
#include <sys/stat.h>

#include <csignal>
#include <unistd.h>

#include <thread>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <string>

#include "core/number_text.h"
#include "hostile_support.h"
#include "test_support.h"

namespace velmora::test {
namespace {
namespace fs = std::filesystem;

const fs::path kTool = VELMORA_BATCH_TOOL;
constexpr const char* kEarlier = "an earlier result\r\n";
constexpr const char* kGoodLine = "3.140,9.725,14.759,1.5,0.8,2.1,12.4,4.2";

class BatchTool : public ::testing::Test {
 protected:
  RunResult Run(std::vector<std::string> args, const RunOptions& options = {}) {
    return RunProgram(kTool, args, options);
  }
  // An earlier result at the output path, to see that a failed run keeps it.
  fs::path EarlierOutput(const std::string& name = "out.csv") { return dir.Write(name, kEarlier); }
  void ExpectEarlierKept(const fs::path& output, const std::vector<std::string>& entries) {
    EXPECT_EQ(ReadFile(output), kEarlier) << "earlier result replaced";
    EXPECT_EQ(FolderEntries(output.parent_path()), entries) << "a file was left beside the output";
  }
  TempDir dir;
};

// A result line whose results are all finite number texts; answers how many.
int ResultNumbers(const std::vector<std::string>& fields) {
  int numbers = 0;
  for (std::size_t i = 8; i < fields.size(); ++i) {
    if (fields[i].empty()) continue;
    float v = 0.0f;
    EXPECT_TRUE(TextToNumber(fields[i], v) && std::isfinite(v)) << "column " << i + 1 << ": " << fields[i];
    ++numbers;
  }
  return numbers;
}

// Every result line: twelve fields, the first eight the input's own bytes.
void ExpectEchoes(const std::vector<std::string>& results, const std::vector<std::string>& inputLines) {
  ASSERT_EQ(results.size(), inputLines.size());
  for (std::size_t i = 0; i < results.size(); ++i) {
    const auto fields = SplitFields(results[i]);
    ASSERT_EQ(fields.size(), 12u) << "line " << i + 2;
    const auto input = SplitFields(inputLines[i] + ",,,,,,,");
    for (std::size_t k = 0; k < 8; ++k) EXPECT_EQ(fields[k], input[k]) << "line " << i + 2 << " field " << k;
  }
}

TEST_F(BatchTool, HundredMegabyteLineIsReadWhole) {
  const fs::path input = dir.path() / "in.csv";
  const std::string tail(100u << 20, 'x');
  {
    std::ofstream f(input, std::ios::binary);
    f << "header\r\n" << kGoodLine << ",ignored" << tail << "\r\n" << kGoodLine << "\r\n";
  }
  // A reader that grew with the square of the line would not end in time.
  const RunResult r = Run({input, dir.path() / "out.csv"});
  ExpectSuccess(r);
  const auto lines = ResultLines(ReadFile(dir.path() / "out.csv"));
  ASSERT_EQ(lines.size(), 2u);
  // The ninth field is dropped, so both lines are the same household.
  EXPECT_EQ(lines[0], lines[1]);
  EXPECT_EQ(ResultNumbers(SplitFields(lines[0])), 4);
}

TEST_F(BatchTool, HundredMegabyteHeaderWithoutLineBreak) {
  const fs::path input = dir.path() / "in.csv";
  {
    std::ofstream f(input, std::ios::binary);
    f << std::string(100u << 20, ',');
  }
  const RunResult r = Run({input, dir.path() / "out.csv"});
  ExpectSuccess(r);
  EXPECT_EQ(ReadFile(dir.path() / "out.csv"), kResultHeaderLine);
}

// Lines longer than the memory the program may use (1 GB of address space
// here): a 512 MB data line, a 512 MB header, and a gap table that never ends
// (/dev/zero). Sparse files keep this cheap. Memory must not follow the line.
TEST_F(BatchTool, LinesLongerThanMemory) {
  RunOptions limited;
#if !defined(__SANITIZE_ADDRESS__)
  // AddressSanitizer reserves far more address space for its shadow memory.
  limited.addressSpaceLimit = 1ull << 30;
#endif
  const fs::path output = EarlierOutput();

  const auto longLine = dir.Write("long-line.csv", "h\r\n");
  fs::resize_file(longLine, 512u << 20);
  ExpectCleanFailure(Run({longLine, output}, limited), std::string("2") + kLineTooLong);

  const auto longHeader = dir.Write("long-header.csv", "h");
  fs::resize_file(longHeader, 512u << 20);
  { std::ofstream(longHeader, std::ios::binary | std::ios::app) << "\r\n" << kGoodLine << "\r\n"; }
  const fs::path other = dir.path() / "other.csv";
  ExpectSuccess(Run({longHeader, other}, limited));
  const auto lines = ResultLines(ReadFile(other));
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(ResultNumbers(SplitFields(lines[0])), 4);
  fs::remove(other);

  const auto input = dir.Write("in.csv", std::string("h\r\n") + kGoodLine + "\r\n");
  ExpectCleanFailure(Run({"--gap-table", "/dev/zero", input, output}, limited), kGapTableUnreadable);
  ExpectEarlierKept(output, {"in.csv", "long-header.csv", "long-line.csv", "out.csv"});
}

TEST_F(BatchTool, NulBytesAreEchoedAndDoNotEndTheLine) {
  using namespace std::string_literals;
  const std::vector<std::string> data = {
      "1\0,2,3,4,5,6,7,8"s,
      "\0\0\0,\0,,,,,,"s,
      std::string(kGoodLine) + "\0"s,
      kGoodLine,
  };
  std::string bytes = "he\0der\r\n"s;
  for (const auto& line : data) bytes += line + "\r\n";
  const auto input = dir.Write("in.csv", bytes);
  const RunResult r = Run({input, dir.path() / "out.csv"});
  ExpectSuccess(r);
  const auto lines = ResultLines(ReadFile(dir.path() / "out.csv"));
  ExpectEchoes(lines, data);
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(ResultNumbers(SplitFields(lines[0])), 0);
  EXPECT_EQ(ResultNumbers(SplitFields(lines[1])), 0);
  EXPECT_EQ(ResultNumbers(SplitFields(lines[2])), 0);  // "4.2\0" is not a number
  EXPECT_EQ(ResultNumbers(SplitFields(lines[3])), 4);
}

TEST_F(BatchTool, InvalidCp932AndUtf8BytesAreEchoedUntouched) {
  const std::vector<std::string> data = {
      // Lead bytes without their trail byte (before a comma, at the line end).
      "\x81,\x82,\x9f,\xe0,\xfc,\x81\x7f,\xa0,\x82",
      // Broken UTF-8: stray continuation, overlong, surrogate, five bytes.
      "\x80,\xc0\xaf,\xed\xa0\x80,\xf8\x88\x80\x80\x80,\xff\xfe,\xc3\x28,\xe3\x81,\xf4\x90\x80\x80",
      // Valid CP932 whose trail byte is a backslash, and a half-width kana.
      "\x95\x5c,\xb1,1,1,1,1,1,1",
      kGoodLine,
  };
  std::string bytes = "\xff\x81\r\x0a";
  for (const auto& line : data) bytes += line + "\r\n";
  const auto input = dir.Write("in.csv", bytes);
  const RunResult r = Run({input, dir.path() / "out.csv"});
  ExpectSuccess(r);
  const auto lines = ResultLines(ReadFile(dir.path() / "out.csv"));
  ExpectEchoes(lines, data);
  ASSERT_EQ(lines.size(), 4u);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(ResultNumbers(SplitFields(lines[i])), 0) << "line " << i + 2;
  EXPECT_EQ(ResultNumbers(SplitFields(lines[3])), 4);
}

TEST_F(BatchTool, BinaryFileAsInputIsRefusedByTheCheck) {
  const fs::path input = dir.path() / "program.bin";
  fs::copy_file(kTool, input);
  const fs::path output = EarlierOutput();
  const RunResult r = Run({input, output});
  ExpectCleanFailure(r, kLineFormatInvalid);
  ExpectEarlierKept(output, {"out.csv", "program.bin"});
}

TEST_F(BatchTool, DirectoryAsInputOrOutput) {
  const fs::path folder = dir.path() / "folder";
  fs::create_directory(folder);
  const auto input = dir.Write("in.csv", std::string("h\r\n") + kGoodLine + "\r\n");
  const fs::path output = EarlierOutput();

  ExpectCleanFailure(Run({folder, output}), kInputUnreadable);
  ExpectEarlierKept(output, {"folder", "in.csv", "out.csv"});

  ExpectCleanFailure(Run({input, folder}), kOutputUnwritable);
  EXPECT_TRUE(fs::is_directory(folder));
  EXPECT_TRUE(FolderEntries(folder).empty());
  EXPECT_EQ(FolderEntries(dir.path()), (std::vector<std::string>{"folder", "in.csv", "out.csv"}));
}

TEST_F(BatchTool, InputThatCannotBeOpened) {
  const auto input = dir.Write("in.csv", std::string("h\r\n") + kGoodLine + "\r\n");
  const fs::path output = EarlierOutput();
  // Missing, and a path through a file: both fail to open, for root as well.
  ExpectCleanFailure(Run({dir.path() / "missing.csv", output}), kInputUnreadable);
  ExpectCleanFailure(Run({input / "x.csv", output}), kInputUnreadable);
  ExpectEarlierKept(output, {"in.csv", "out.csv"});
}

// As root the tool runs as "nobody" here: root itself passes every
// permission. That user runs a copy, wherever the checkout lies.
constexpr auto kOpenToAll = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                            fs::perms::others_read;

TEST_F(BatchTool, InputWithoutReadPermission) {
  const UnprivilegedCopy tool(kTool, {"--help"});
  if (!tool.unusable().empty()) GTEST_SKIP() << tool.unusable();
  const fs::path work = tool.Folder("work");
  const fs::path input = work / "in.csv";
  { std::ofstream(input, std::ios::binary) << "h\r\n" << kGoodLine << "\r\n"; }
  const fs::path output = work / "out.csv";
  { std::ofstream(output, std::ios::binary) << kEarlier; }
  fs::permissions(input, kOpenToAll);
  fs::permissions(output, fs::perms::all);
  // Readable, the same run succeeds as that user...
  ExpectSuccess(RunProgram(tool.program(), {input, work / "other.csv"}, tool.options()));
  fs::remove(work / "other.csv");
  // ...and without read permission it fails cleanly.
  fs::permissions(input, fs::perms::none);
  const RunResult r = RunProgram(tool.program(), {input, output}, tool.options());
  fs::permissions(input, fs::perms::owner_read | fs::perms::owner_write);
  ExpectCleanFailure(r, kInputUnreadable);
  ExpectEarlierKept(output, {"in.csv", "out.csv"});
}

TEST_F(BatchTool, OutputFolderWithoutWritePermission) {
  const UnprivilegedCopy tool(kTool, {"--help"});
  if (!tool.unusable().empty()) GTEST_SKIP() << tool.unusable();
  const fs::path work = tool.Folder("work");
  const fs::path input = work / "in.csv";
  { std::ofstream(input, std::ios::binary) << "h\r\n" << kGoodLine << "\r\n"; }
  fs::permissions(input, kOpenToAll);
  const fs::path locked = tool.Folder("locked");
  const fs::path output = locked / "out.csv";
  { std::ofstream(output, std::ios::binary) << kEarlier; }
  fs::permissions(output, fs::perms::all);
  // A folder open to everyone takes the result...
  ExpectSuccess(RunProgram(tool.program(), {input, locked / "other.csv"}, tool.options()));
  fs::remove(locked / "other.csv");
  // ...one that may only be read and entered does not, and keeps the earlier result.
  fs::permissions(locked, fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                              fs::perms::group_exec | fs::perms::others_read | fs::perms::others_exec);
  const RunResult r = RunProgram(tool.program(), {input, output}, tool.options());
  fs::permissions(locked, fs::perms::owner_all);
  ExpectCleanFailure(r, kOutputUnwritable);
  ExpectEarlierKept(output, {"out.csv"});
}

TEST_F(BatchTool, OutputFolderWhereNothingCanBeCreated) {
  // Even root cannot create a file in /proc, or in a folder that does not exist.
  const auto input = dir.Write("in.csv", std::string("h\r\n") + kGoodLine + "\r\n");
  ExpectCleanFailure(Run({input, "/proc/velmora-hostile-out.csv"}), kOutputUnwritable);
  ExpectCleanFailure(Run({input, dir.path() / "no-such-folder" / "out.csv"}), kOutputUnwritable);
  EXPECT_FALSE(fs::exists("/proc/velmora-hostile-out.csv"));
  EXPECT_EQ(FolderEntries(dir.path()), std::vector<std::string>{"in.csv"});
}

TEST_F(BatchTool, DevFullAsOutput) {
  const auto input = dir.Write("in.csv", std::string("h\r\n") + kGoodLine + "\r\n");
  ExpectCleanFailure(Run({input, "/dev/full"}), kOutputUnwritable);
  EXPECT_TRUE(fs::is_character_file("/dev/full"));
  EXPECT_EQ(ReadFile(input), std::string("h\r\n") + kGoodLine + "\r\n");
}

TEST_F(BatchTool, FileSizeLimitReachedMidRun) {
  std::string bytes = "header\r\n";
  for (int i = 0; i < 20000; ++i) bytes += std::string(kGoodLine) + "\r\n";
  const auto input = dir.Write("in.csv", bytes);
  const fs::path output = EarlierOutput();
  RunOptions limited;
  limited.fileSizeLimit = 256 * 1024;
  ExpectCleanFailure(Run({input, output}, limited), kOutputUnwritable);
  ExpectEarlierKept(output, {"in.csv", "out.csv"});
  // A limit below the header: the header itself cannot be written.
  limited.fileSizeLimit = 100;
  ExpectCleanFailure(Run({input, output}, limited), kOutputUnwritable);
  ExpectEarlierKept(output, {"in.csv", "out.csv"});

  // The same run without the limit writes more than the limit allows.
  ExpectSuccess(Run({input, output}));
  EXPECT_GT(fs::file_size(output), 256u * 1024u);
  EXPECT_EQ(ResultLines(ReadFile(output)).size(), 20000u);
}

// The tool reads the input twice: once to check it, once to compute it. The
// test stops the tool while the check holds the input open and nothing else
// (the run would hold its temporary result too), deletes the input, and lets
// the tool go on.
TEST_F(BatchTool, InputDeletedBetweenCheckAndRun) {
  const fs::path input = dir.path() / "in.csv";
  {
    std::ofstream f(input, std::ios::binary);
    f << "header\r\n";
    for (int i = 0; i < 1000000; ++i) f << kGoodLine << "\r\n";
  }
  const fs::path output = EarlierOutput();
  bool deleted = false;
  RunOptions options;
  options.whileRunning = [&](int pid) {
    if (deleted || OpenFilesUnder(dir.path(), pid) != std::vector<std::string>{input.string()}) return;
    ::kill(pid, SIGSTOP);
    // Stopped: look again, the run may have begun in between.
    if (OpenFilesUnder(dir.path(), pid) == std::vector<std::string>{input.string()}) {
      fs::remove(input);
      deleted = true;
    }
    ::kill(pid, SIGCONT);
  };
  const RunResult r = Run({input, output}, options);
  ASSERT_TRUE(deleted) << "the check was never seen holding the input";
  ExpectCleanFailure(r, kInputUnreadable);
  ExpectEarlierKept(output, {"out.csv"});
}

TEST_F(BatchTool, OutputThatNamesTheInputUnderAnotherName) {
  const std::string bytes = std::string("h\r\n") + kGoodLine + "\r\n";
  const auto input = dir.Write("in.csv", bytes);
  fs::create_symlink(input, dir.path() / "link.csv");
  fs::create_hard_link(input, dir.path() / "hard.csv");
  fs::create_directory(dir.path() / "sub");
  const char* kSame = "入力ファイルと出力ファイルが同じです";
  for (const fs::path& output : {dir.path() / "link.csv", dir.path() / "hard.csv", dir.path() / "sub" / ".." / "in.csv"}) {
    SCOPED_TRACE(output.string());
    ExpectCleanFailure(Run({input, output}), kSame);
    EXPECT_EQ(ReadFile(input), bytes) << "the input was overwritten";
  }
  EXPECT_EQ(FolderEntries(dir.path()), (std::vector<std::string>{"hard.csv", "in.csv", "link.csv", "sub"}));
  EXPECT_TRUE(fs::is_symlink(dir.path() / "link.csv"));
}

// The result is first written under a temporary name beside the output: that
// name must fit wherever the output's own name fits.
TEST_F(BatchTool, LongestOutputNamesAreWritten) {
  const auto input = dir.Write("in.csv", std::string("h\r\n") + kGoodLine + "\r\n");
  std::string kanji;
  for (int i = 0; i < 80; ++i) kanji += "\xe7\xb5\x90";  // 結, three bytes in UTF-8
  for (const std::string& name : {std::string(251, 'a') + ".csv", kanji + ".csv"}) {
    SCOPED_TRACE(name.size());
    ASSERT_LE(name.size(), 255u);
    const fs::path output = dir.path() / name;
    ExpectSuccess(Run({input, output}));
    EXPECT_EQ(ResultLines(ReadFile(output)).size(), 1u);
  }
}

TEST_F(BatchTool, GarbageSettings) {
  const auto input = dir.Write("in.csv", std::string("h\r\n") + kGoodLine + "\r\n");
  const fs::path output = EarlierOutput();
  ExpectCleanFailure(Run({"--markup-rate", "3.14abc", input, output}), kSettingsInvalid);
  ExpectCleanFailure(Run({"--insurance-rate", "1e39", input, output}), kSettingsInvalid);
  ExpectCleanFailure(Run({"--interest-rate", "0,04", input, output}), kSettingsInvalid);
  ExpectCleanFailure(Run({"--damage-probability", "\xff\xfe", input, output}), kSettingsInvalid);
  ExpectCleanFailure(Run({"--markup-rate", "-0", input, output}), kMarkupRateZero);
  ExpectCleanFailure(Run({"--markup-rate", "0e999", input, output}), kMarkupRateZero);
  // Mode 0 never uses the markup rate, but a text that is no number is refused all the same.
  ExpectCleanFailure(Run({"--without-risk-premium", "--markup-rate", "x", input, output}), kSettingsInvalid);
  ExpectEarlierKept(output, {"in.csv", "out.csv"});
}

TEST_F(BatchTool, HugeAndTinyNumbers) {
  const std::vector<std::string> data = {
      "1e38,1e38,1e38,1e38,1e38,1e38,1e38,1e38",
      "1e-45,1e-45,1e-45,1e-45,1e-45,1e-45,1e-45,1e-45",
      "-0,-0,-0,-0,-0,-0,-0,-0",
      "3.4028235e38,3.4028235e38,1,1,1,1,1,1",
      "1e39,1,1,1,1,1,1,1",
      "-1e38,1e38,1e-45,-1e-45,1,1e38,-1e38,1",
      "0.000000000000000000000000000000000000000000001,1,1,1,1,1,1,1",
      kGoodLine,
  };
  std::string bytes = "header\r\n";
  for (const auto& line : data) bytes += line + "\r\n";
  const auto input = dir.Write("in.csv", bytes);
  for (const char* markup : {"3.140", "1e38", "1e-45", "-1e-45"}) {
    for (bool withPremium : {true, false}) {
      SCOPED_TRACE(std::string("markup ") + markup + (withPremium ? ", mode 1" : ", mode 0"));
      std::vector<std::string> args = {"--markup-rate", markup, "--interest-rate", "1e-45", input,
                                       dir.path() / "out.csv"};
      if (!withPremium) args.insert(args.begin(), "--without-risk-premium");
      const RunResult r = Run(args);
      ExpectSuccess(r);
      const auto lines = ResultLines(ReadFile(dir.path() / "out.csv"));
      ExpectEchoes(lines, data);
      ASSERT_EQ(lines.size(), data.size());
      for (const auto& line : lines) {
        const int numbers = ResultNumbers(SplitFields(line));
        EXPECT_TRUE(numbers == 0 || numbers == (withPremium ? 4 : 1)) << line;
      }
      // Beyond the single range: not a number; both sums zero: not computed.
      EXPECT_EQ(ResultNumbers(SplitFields(lines[4])), 0);
      EXPECT_EQ(ResultNumbers(SplitFields(lines[2])), 0);
    }
  }
}

std::string GapTableText(int lines, int badLine) {
  std::string text = "gap,value\r\n";
  char buf[64];
  for (int i = 0; i < lines; ++i) {
    const int key = -200 + i % 1201;
    if (i == badLine) {
      text += "12.3;0.5\r\n";
      continue;
    }
    std::snprintf(buf, sizeof buf, "%.1f,%.6g\r\n", key / 10.0, 1.0 + key / 1000.0);
    text += buf;
  }
  return text;
}

TEST_F(BatchTool, GapTableWithHundredThousandLines) {
  const auto input = dir.Write("in.csv", std::string("h\r\n") + kGoodLine + "\r\n");
  const auto table = dir.Write("big-table.txt", GapTableText(100000, -1));
  const RunResult r = Run({"--gap-table", table, input, dir.path() / "out.csv"});
  ExpectSuccess(r);
  const auto lines = ResultLines(ReadFile(dir.path() / "out.csv"));
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(ResultNumbers(SplitFields(lines[0])), 4);

  // One bad line among them: one message, nothing computed.
  const auto bad = dir.Write("bad-table.txt", GapTableText(100000, 50000));
  const fs::path output = EarlierOutput("earlier.csv");
  const RunResult failed = Run({"--gap-table", bad, input, output});
  ExpectCleanFailure(failed, kGapTableUnreadable);
  EXPECT_EQ(failed.err.find(kGapTableUnreadable), failed.err.rfind(kGapTableUnreadable)) << "message shown twice";
  EXPECT_EQ(ReadFile(output), kEarlier);
}

// The file check reads the input once and the run once more: a pipe must not
// be emptied by the first reading and then pass as an empty input.
TEST_F(BatchTool, InputFromAPipeLosesNoLine) {
  const std::string bytes = std::string("h\r\n") + kGoodLine + "\r\n" + kGoodLine + "\r\n";
  RunOptions piped;
  piped.standardInputBytes = bytes;
  const fs::path output = dir.path() / "out.csv";
  const RunResult r = Run({"/dev/stdin", output}, piped);
  ASSERT_FALSE(r.hung);
  ASSERT_TRUE(r.exited) << r.err;
  if (r.exitCode == 0) {
    EXPECT_EQ(ResultLines(ReadFile(output)).size(), 2u) << "success reported, lines lost";
  } else {
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_FALSE(r.err.empty());
    EXPECT_FALSE(fs::exists(output));
  }
}

TEST_F(BatchTool, InputFromANamedPipeDoesNotHang) {
  const fs::path fifo = dir.path() / "in.fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  ::signal(SIGPIPE, SIG_IGN);
  // The writer: opens the pipe (waiting for the tool), writes, closes.
  const std::string bytes = std::string("h\r\n") + kGoodLine + "\r\n";
  std::thread writer([&] { std::ofstream(fifo, std::ios::binary) << bytes; });
  const fs::path output = dir.path() / "out.csv";
  const RunResult r = Run({fifo, output});
  // A tool that never read the pipe leaves the writer waiting in open(), or
  // not even there yet. A reader held open until the writer is done lets its
  // open() return at once, whenever it comes; the few bytes fit the pipe.
  const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
  writer.join();
  EXPECT_EQ(::close(reader), 0);
  EXPECT_FALSE(r.hung) << "hung";
  if (!r.hung && r.exitCode == 0) {
    EXPECT_EQ(ResultLines(ReadFile(output)).size(), 1u);
  } else if (!r.hung) {
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_FALSE(r.err.empty());
    EXPECT_FALSE(fs::exists(output));
  }
}

}  // namespace
}  // namespace velmora::test
