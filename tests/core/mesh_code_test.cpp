#include <gtest/gtest.h>

#include "core/mesh_code.h"

namespace velmora {
namespace {

// Seconds of arc to units.
constexpr std::int32_t U(double seconds) { return static_cast<std::int32_t>(seconds * kMeshUnitsPerSecond); }

MeshCell Cell(std::string_view text) {
  const auto cell = ParseMeshCode(text);
  EXPECT_TRUE(cell.has_value()) << text;
  return cell.value_or(MeshCell{});
}

TEST(MeshCode, CornersAndSizesAtEveryOrder) {
  struct Case {
    const char* code;
    MeshOrder order;
    double south, west;    // seconds, worked by hand
    double height, width;  // seconds
  };
  const Case cases[] = {
      {"5339", MeshOrder::First, 35 * 3600 + 1200, 139 * 3600, 2400, 3600},            // 53 / 1.5 = 35°20'
      {"533946", MeshOrder::Second, 35 * 3600 + 2400, 139 * 3600 + 2700, 300, 450},    // 35°40', 139°45'
      {"53394611", MeshOrder::Third, 35 * 3600 + 2430, 139 * 3600 + 2745, 30, 45},     // 35.675, 139.7625
      {"533946114", MeshOrder::Half, 35 * 3600 + 2445, 139 * 3600 + 2767.5, 15, 22.5},  // north-east half
      {"5339461142", MeshOrder::Quarter, 35 * 3600 + 2445, 139 * 3600 + 2778.75, 7.5, 11.25},
      {"53393599", MeshOrder::Third, 35 * 3600 + 2370, 139 * 3600 + 2655, 30, 45},     // 35.658333, 139.7375
      {"0000", MeshOrder::First, 0, 100 * 3600, 2400, 3600},
  };
  for (const Case& c : cases) {
    const MeshCell cell = Cell(c.code);
    EXPECT_EQ(cell.order, c.order) << c.code;
    EXPECT_EQ(cell.south, U(c.south)) << c.code;
    EXPECT_EQ(cell.west, U(c.west)) << c.code;
    EXPECT_EQ(cell.height(), U(c.height)) << c.code;
    EXPECT_EQ(cell.width(), U(c.width)) << c.code;
    EXPECT_EQ(cell.text(), c.code);
    // The point lookup finds the cell from its south-west corner and from
    // just inside its north-east corner.
    EXPECT_EQ(MeshCellAt(c.order, cell.south, cell.west), cell) << c.code;
    EXPECT_EQ(MeshCellAt(c.order, cell.south + cell.height() - 1, cell.west + cell.width() - 1), cell) << c.code;
  }

  // The example in degrees, converted once.
  const MeshBounds b = Cell("53394611").degrees();
  EXPECT_EQ(b.south, 35.675);
  EXPECT_EQ(b.west, 139.7625);
  EXPECT_EQ(b.east, 139.775);
  EXPECT_EQ(b.north, 128460.0 / 3600);  // 35.683333…, the double nearest 128460"
  EXPECT_EQ(Cell("5339").degrees().south, 53 / 1.5);
}

TEST(MeshCode, CellsAtTheEdgesOfAFirstOrderMeshMeetTheirNeighboursExactly) {
  const MeshBounds first = Cell("5339").degrees();
  const MeshBounds sw = Cell("53390000").degrees();
  const MeshBounds ne = Cell("53397799").degrees();
  EXPECT_EQ(sw.south, first.south);
  EXPECT_EQ(sw.west, first.west);
  EXPECT_EQ(ne.north, first.north);
  EXPECT_EQ(ne.east, first.east);
  EXPECT_EQ(ne.north, 36.0);
  EXPECT_EQ(ne.east, 140.0);
  // The next 1st-order meshes north and east start where it ends.
  EXPECT_EQ(Cell("5439").degrees().south, ne.north);
  EXPECT_EQ(Cell("5340").degrees().west, ne.east);
  // Across a 2nd-order edge: 53393599's north-east corner is 533946's south-west.
  EXPECT_EQ(Cell("53393599").degrees().north, Cell("533946").degrees().south);
  EXPECT_EQ(Cell("53393599").degrees().east, Cell("53394600").degrees().west);
  // The four quarters of a half mesh tile it.
  const MeshBounds half = Cell("533946114").degrees();
  EXPECT_EQ(Cell("5339461141").degrees().south, half.south);
  EXPECT_EQ(Cell("5339461141").degrees().west, half.west);
  EXPECT_EQ(Cell("5339461144").degrees().north, half.north);
  EXPECT_EQ(Cell("5339461144").degrees().east, half.east);
  EXPECT_EQ(Cell("5339461142").degrees().west, Cell("5339461143").degrees().east);
}

TEST(MeshCode, BlanksAroundAreAllowedAndEverythingElseIsRefused) {
  EXPECT_EQ(Cell(" \t53394611 ").code, 53394611u);
  EXPECT_EQ(Cell("0012").text(), "0012");
  for (const char* text : {"", "  ", "533", "53394", "5339461", "53394611411", "533986", "533938", "53394611x",
                           "5339 4611", "+5339", "-533", "533946115", "533946110", "5339461145", "5339461140",
                           "53394611\r", "\xef\xbc\x95\xef\xbc\x93\xef\xbc\x93\xef\xbc\x99", "5339.0"})
    EXPECT_FALSE(ParseMeshCode(text).has_value()) << text;
}

TEST(MeshCode, ParentsAreTheCellsOfTheLeadingDigits) {
  const MeshCell quarter = Cell("5339461142");
  EXPECT_EQ(MeshParent(quarter, MeshOrder::First), Cell("5339"));
  EXPECT_EQ(MeshParent(quarter, MeshOrder::Second), Cell("533946"));
  EXPECT_EQ(MeshParent(quarter, MeshOrder::Third), Cell("53394611"));
  EXPECT_EQ(MeshParent(quarter, MeshOrder::Half), Cell("533946114"));
  EXPECT_EQ(MeshParent(quarter, MeshOrder::Quarter), quarter);
  EXPECT_FALSE(MeshParent(Cell("533946"), MeshOrder::Third).has_value());
  EXPECT_FALSE(MeshCellAt(MeshOrder::First, -1, U(139 * 3600)).has_value());
  EXPECT_FALSE(MeshCellAt(MeshOrder::First, 0, U(99 * 3600)).has_value());
}

}  // namespace
}  // namespace velmora
