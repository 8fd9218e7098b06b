#include <gtest/gtest.h>

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#endif

#include <cstdio>
#include <istream>
#include <memory>
#include <streambuf>

#include "core/line_reader.h"
#include "test_support.h"

namespace velmora {
namespace {

std::vector<std::string> Lines(const std::string& bytes) {
  std::FILE* f = std::tmpfile();
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::rewind(f);
  LineReader reader(f);
  std::vector<std::string> lines;
  std::string_view line;
  while (reader.Next(line)) lines.emplace_back(line);
  EXPECT_FALSE(reader.failed());
  std::fclose(f);
  return lines;
}

using V = std::vector<std::string>;

TEST(LineReader, TerminatorsAndTheFinalLine) {
  EXPECT_EQ(Lines(""), V{});
  EXPECT_EQ(Lines("a"), V{"a"});
  EXPECT_EQ(Lines("a\r\n"), V{"a"});
  EXPECT_EQ(Lines("a\r\n\r\n"), (V{"a", ""}));
  EXPECT_EQ(Lines("a\nb\rc\r\nd"), (V{"a", "b", "c", "d"}));
  EXPECT_EQ(Lines("\r\n"), V{""});
  EXPECT_EQ(Lines("\n\r"), (V{"", ""}));  // LF then a lone CR
  EXPECT_EQ(Lines("a\r\rb"), (V{"a", "", "b"}));
  EXPECT_EQ(Lines(std::string("x\0y\r\n", 5)), V{std::string("x\0y", 3)});
}

TEST(LineReader, LinesLongerThanTheBufferAndSplitTerminators) {
  const std::string longLine(300000, 'x');
  EXPECT_EQ(Lines(longLine + "\r\nb"), (V{longLine, "b"}));
  // A CR LF split across two reads of the buffer still ends one line.
  for (std::size_t n : {65535u, 65536u, 65537u, 131071u}) {
    const std::string first(n, 'a');
    EXPECT_EQ(Lines(first + "\r\nz\r\n"), (V{first, "z"})) << n;
  }
  std::string many;
  V expected;
  for (int i = 0; i < 50000; ++i) {
    expected.push_back(std::to_string(i));
    many += expected.back() + (i % 3 == 0 ? "\r\n" : i % 3 == 1 ? "\n" : "\r");
  }
  EXPECT_EQ(Lines(many), expected);
}

// A file in a temporary file, read back by the test.
struct TempStream {
  explicit TempStream(const std::string& bytes) : file(std::tmpfile()) {
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::rewind(file);
  }
  ~TempStream() { std::fclose(file); }
  std::FILE* file;
};

TEST(LineReader, LinesBeyondTheLimitAreRefusedNotHeld) {
  const std::string big(200000, 'x');
  {
    TempStream f("short\r\n" + big + "\r\nnever read\r\n");
    LineReader reader(f.file, 100000);
    std::string_view line;
    ASSERT_TRUE(reader.Next(line));
    EXPECT_EQ(line, "short");
    EXPECT_FALSE(reader.Next(line));
    EXPECT_TRUE(reader.failed());
    EXPECT_FALSE(reader.Next(line)) << "a refused line ends the reading";
  }
  {
    TempStream f(big);  // the last line, without a terminator
    LineReader reader(f.file, 100000);
    std::string_view line;
    EXPECT_FALSE(reader.Next(line));
    EXPECT_TRUE(reader.failed());
  }
  {
    TempStream f(big);  // exactly at the limit is still a line
    LineReader reader(f.file, big.size());
    std::string_view line;
    ASSERT_TRUE(reader.Next(line));
    EXPECT_EQ(line.size(), big.size());
  }
}

TEST(LineReader, SkipPassesOverAHeadingOfAnyLength) {
  const std::string big(300000, 'h');
  for (const std::string_view end : {"\r\n", "\r", "\n"}) {
    TempStream f(big + std::string(end) + "\nnext\r\n");
    LineReader reader(f.file, 1000);
    ASSERT_TRUE(reader.Skip());
    std::string_view line;
    if (end != "\r") {  // after a lone CR the LF belongs to the skipped line
      ASSERT_TRUE(reader.Next(line));
      EXPECT_EQ(line, "");
    }
    ASSERT_TRUE(reader.Next(line));
    EXPECT_EQ(line, "next");
    EXPECT_FALSE(reader.Next(line));
    EXPECT_FALSE(reader.failed());
  }
  {
    TempStream f(big);  // a heading alone, without a terminator
    LineReader reader(f.file, 1000);
    EXPECT_TRUE(reader.Skip());
    EXPECT_FALSE(reader.Skip());
    EXPECT_FALSE(reader.failed());
  }
  {
    TempStream f("");
    LineReader reader(f.file);
    EXPECT_FALSE(reader.Skip());
    EXPECT_FALSE(reader.failed());
  }
}

TEST(LineReader, ReadErrorIsReported) {
#if defined(_WIN32)
  // A folder cannot be opened there: a stream on a file the system lets
  // this process write but not read.
  test::TempDir dir;
  const HANDLE writeOnly = CreateFileW(dir.Write("w", "bytes").c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                                       nullptr);
  ASSERT_NE(writeOnly, INVALID_HANDLE_VALUE);
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> f(
      _fdopen(_open_osfhandle(reinterpret_cast<std::intptr_t>(writeOnly), _O_RDONLY), "rb"), &std::fclose);
#else
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> f(std::fopen("/", "rb"), &std::fclose);
#endif
  ASSERT_TRUE(f);
  LineReader reader(f.get());
  std::string_view line;
  EXPECT_FALSE(reader.Next(line));
  EXPECT_TRUE(reader.failed());
}

TEST(LineReader, ReadErrorOfAStreamIsReportedNotTakenForTheEnd) {
  // A file stream's buffer throws on a read error; the stream turns that
  // into bad(), which must not pass for the end of the file.
  struct Failing : std::streambuf {
    int_type underflow() override { throw std::ios_base::failure("read error"); }
  } failing;
  std::istream stream(&failing);
  LineReader reader(stream);
  std::string_view line;
  EXPECT_FALSE(reader.Next(line));
  EXPECT_TRUE(reader.failed());
}

}  // namespace
}  // namespace velmora
