#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "core/gap_table.h"
#include "core/line_reader.h"
#include "core/messages.h"
#include "test_support.h"

namespace velmora {
namespace {

class GapTableLoad : public ::testing::Test {
 protected:
  // Loads `bytes` as the table file; answers the loader's answer.
  bool Load(const std::string& bytes) {
    reporter.messages.clear();
    return LoadGapTable(dir.Write("EGapDis.txt", bytes), table, reporter);
  }
  int Messages() const { return static_cast<int>(reporter.messages.size()); }
  void ExpectOneMessage() {
    ASSERT_EQ(Messages(), 1);
    EXPECT_TRUE(reporter.messages[0].isError);
    EXPECT_EQ(reporter.messages[0].text, msg::kGapTableUnreadable);
  }

  test::TempDir dir;
  GapTable table;
  test::RecordingReporter reporter;
};

TEST_F(GapTableLoad, KeysRoundHalfToEven) {
  ASSERT_TRUE(Load("heading\r\n0.25,1\r\n0.35,2\r\n100.05,3\r\n-20.0,4\r\n-0.25,5\r\n0.75,6\r\n"));
  EXPECT_EQ(Messages(), 0);
  EXPECT_EQ(table.at(2), 1.0f);     // 2.5 -> 2
  EXPECT_EQ(table.at(4), 2.0f);     // 3.5 -> 4
  EXPECT_EQ(table.at(1000), 3.0f);  // 1000.5 -> 1000
  EXPECT_EQ(table.at(-200), 4.0f);
  EXPECT_EQ(table.at(-2), 5.0f);
  EXPECT_EQ(table.at(8), 6.0f);  // 7.5 -> 8
  EXPECT_EQ(table.at(3), 0.0f);
}

TEST_F(GapTableLoad, LaterDuplicateWinsAndExtraFieldsAreIgnored) {
  ASSERT_TRUE(Load("h\r\n1.0,5,x,y\r\n1.0,7\r\n"));
  EXPECT_EQ(table.at(10), 7.0f);
}

TEST_F(GapTableLoad, HeadingOnlyChangesNothing) {
  table.at(0) = 9.0f;
  EXPECT_TRUE(Load("only a heading\r\n"));
  EXPECT_TRUE(Load("only a heading"));
  EXPECT_EQ(Messages(), 0);
  EXPECT_EQ(table.at(0), 9.0f);
}

TEST_F(GapTableLoad, BadFilesFailWithOneMessageAfterReadingEverything) {
  EXPECT_FALSE(Load(""));  // not even a heading
  ExpectOneMessage();
  EXPECT_FALSE(Load("h\r\n100.1,1\r\n"));  // key 1001
  ExpectOneMessage();
  EXPECT_FALSE(Load("h\r\n-20.1,1\r\n"));
  ExpectOneMessage();
  EXPECT_FALSE(Load("h\r\n1.0 2\r\n"));  // no comma
  ExpectOneMessage();
  EXPECT_FALSE(Load("h\r\n1.0,\r\n"));
  ExpectOneMessage();
  EXPECT_FALSE(Load("h\r\n,1\r\n"));
  ExpectOneMessage();
  EXPECT_FALSE(Load("h\r\n1.0,inf\r\n"));
  ExpectOneMessage();
  EXPECT_FALSE(Load("h\r\n1.0,1e39\r\n"));
  ExpectOneMessage();
  EXPECT_FALSE(Load("h\r\n1e300,1\r\n"));  // beyond any 32-bit key
  ExpectOneMessage();
  // Lines around bad ones are still read; one message for all.
  EXPECT_FALSE(Load("h\r\n0.1,1\r\nbad\r\n\r\n0.2,2\r\n999,3\r\n0.3,3\r\n"));
  ExpectOneMessage();
  EXPECT_EQ(table.at(1), 1.0f);
  EXPECT_EQ(table.at(2), 2.0f);
  EXPECT_EQ(table.at(3), 3.0f);
}

TEST_F(GapTableLoad, EmptyLineBeforeTheEndFailsOneFinalTerminatorDoesNot) {
  EXPECT_FALSE(Load("h\r\n0.1,1\r\n\r\n"));
  ExpectOneMessage();
  EXPECT_TRUE(Load("h\r\n0.1,1\r\n"));
  EXPECT_TRUE(Load("h\r\n0.1,1"));
}

TEST_F(GapTableLoad, EndlessFileFailsInsteadOfExhaustingMemory) {
  // A heading that never ends: read up to the line limit, then refused.
#if defined(_WIN32)
  // Windows has no endless file; a sparse one past the limit is the same to the reader.
  const auto endless = dir.Write("EGapDis.txt", "");
  std::filesystem::resize_file(endless, LineReader::kMaxLine + (1 << 20));
  EXPECT_FALSE(LoadGapTable(endless, table, reporter));
#else
  EXPECT_FALSE(LoadGapTable("/dev/zero", table, reporter));
#endif
  ExpectOneMessage();
}

TEST_F(GapTableLoad, LoneCarriageReturnsAndLineFeedsEndLines) {
  ASSERT_TRUE(Load("h\n0.1,1\n0.2,2\n"));
  ASSERT_TRUE(Load("h\r0.3,3\r0.4,4\r"));
  EXPECT_EQ(table.at(1), 1.0f);
  EXPECT_EQ(table.at(2), 2.0f);
  EXPECT_EQ(table.at(3), 3.0f);
  EXPECT_EQ(table.at(4), 4.0f);
}

TEST_F(GapTableLoad, MissingFileOrFolderFailsLeavingTheTable) {
  table.at(5) = 1.5f;
  EXPECT_FALSE(LoadGapTable(dir.path() / "absent.txt", table, reporter));
  ExpectOneMessage();
  reporter.messages.clear();
  EXPECT_FALSE(LoadGapTable(dir.path(), table, reporter));  // a folder, not a file
  ExpectOneMessage();
  EXPECT_EQ(table.at(5), 1.5f);
}

TEST(GapLookup, BoundsAndKeys) {
  GapTable table;
  for (int k = GapTable::kMinKey; k <= GapTable::kMaxKey; ++k) table.at(k) = static_cast<float>(k);
  EXPECT_EQ(GapLookup(table, 100.0f), 1000.0f);
  EXPECT_EQ(GapLookup(table, -20.0f), -200.0f);
  EXPECT_EQ(GapLookup(table, std::nextafter(100.0f, 200.0f)), 0.0f);
  EXPECT_EQ(GapLookup(table, std::nextafter(-20.0f, -200.0f)), 0.0f);
  EXPECT_EQ(GapLookup(table, 0.25f), 2.0f);
  EXPECT_EQ(GapLookup(table, 0.75f), 8.0f);
  EXPECT_EQ(GapLookup(table, -0.25f), -2.0f);
  EXPECT_EQ(GapLookup(table, 0.4233122f), 4.0f);
  EXPECT_EQ(GapLookup(table, -2.7456140518188477f), -27.0f);
  // The single 0.35 lies just below the half: x 10 in double is 3.4999999,
  // while a single product would round up to 3.5 and read key 4.
  EXPECT_EQ(GapLookup(table, 0.35f), 3.0f);
  EXPECT_EQ(GapLookup(table, std::numeric_limits<float>::quiet_NaN()), 0.0f);
  EXPECT_EQ(GapLookup(table, std::numeric_limits<float>::infinity()), 0.0f);
}

TEST_F(GapTableLoad, NegativeGapsReadZeroWhenOnlyZeroToHundredIsNamed) {
  std::string text = "h\r\n";
  for (int k = 0; k <= 1000; ++k) text += std::to_string(k / 10) + "." + std::to_string(k % 10) + ",1\r\n";
  ASSERT_TRUE(Load(text));
  EXPECT_EQ(GapLookup(table, -0.1f), 0.0f);
  EXPECT_EQ(GapLookup(table, -20.0f), 0.0f);
  EXPECT_EQ(GapLookup(table, 0.0f), 1.0f);
  EXPECT_EQ(GapLookup(table, 100.0f), 1.0f);
}

TEST(ExampleTable, ShippedFileLoadsEveryKey) {
  GapTable table;
  for (auto& e : table.entries) e = -1.0f;
  test::RecordingReporter reporter;
  ASSERT_TRUE(LoadGapTable(VELMORA_EXAMPLE_GAP_TABLE, table, reporter));
  for (int k = GapTable::kMinKey; k <= GapTable::kMaxKey; ++k) EXPECT_GE(table.at(k), 0.0f) << k;
  EXPECT_EQ(table.at(0), 0.3989423f);  // phi(0)
  EXPECT_EQ(table.at(1000), 100.0f);
  EXPECT_EQ(table.at(-200), 0.0f);  // 1.37E-90 underflows to zero
}

}  // namespace
}  // namespace velmora
