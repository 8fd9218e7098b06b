#include <gtest/gtest.h>

#include <cstdio>
#include <memory>

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

TEST(LineReader, ReadErrorIsReported) {
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> f(std::fopen("/", "rb"), &std::fclose);
  ASSERT_TRUE(f);
  LineReader reader(f.get());
  std::string_view line;
  EXPECT_FALSE(reader.Next(line));
  EXPECT_TRUE(reader.failed());
}

}  // namespace
}  // namespace velmora
