#pragma once
// Standard regional mesh codes (地域メッシュ): a code names a cell of the
// latitude/longitude grid in JGD2011. Cells are kept in whole units of 1/8
// arc-second, in which every edge of every order is a whole number (the
// quarter mesh is 7.5" x 11.25"), so neighbouring cells share their edges
// exactly; degrees are computed once, from those units.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace velmora {

// The orders by their number of digits: 4, 6, 8, 9, 10.
enum class MeshOrder : std::uint8_t { First = 1, Second = 2, Third = 3, Half = 4, Quarter = 5 };

inline constexpr std::int32_t kMeshUnitsPerSecond = 8;
inline constexpr std::int32_t kMeshUnitsPerDegree = 3600 * kMeshUnitsPerSecond;

int MeshCodeDigits(MeshOrder order);
// Height (latitude) and width (longitude) of a cell of `order`, in units.
std::int32_t MeshCellHeight(MeshOrder order);
std::int32_t MeshCellWidth(MeshOrder order);

struct MeshBounds {
  double south = 0, west = 0, north = 0, east = 0;  // degrees
};

struct MeshCell {
  MeshOrder order = MeshOrder::First;
  std::uint64_t code = 0;  // the digits as a number ("0012" is 12: with the order, unique)
  // South-west corner, in units from the equator and from longitude 0.
  std::int32_t south = 0;
  std::int32_t west = 0;

  std::int32_t height() const { return MeshCellHeight(order); }
  std::int32_t width() const { return MeshCellWidth(order); }
  // The code as written, with its leading zeros.
  std::string text() const;
  MeshBounds degrees() const;
  friend bool operator==(const MeshCell&, const MeshCell&) = default;
};

// The cell a field names: digits only, blanks (space, tab) around them
// allowed. Nothing for a wrong length (7-digit and other integrated meshes),
// a 2nd-order digit above 7, or a half/quarter digit other than 1 to 4.
std::optional<MeshCell> ParseMeshCode(std::string_view field);

// The cell of the coarser (or same) `level` that holds `cell`; nothing when
// the cell is coarser than the level.
std::optional<MeshCell> MeshParent(const MeshCell& cell, MeshOrder level);

// The cell of `order` that holds the point (in units, south-west edges
// inside); nothing outside the grid's range (latitude 0 to 66°40′,
// longitude 100° to 200°).
std::optional<MeshCell> MeshCellAt(MeshOrder order, std::int32_t latitude, std::int32_t longitude);

}  // namespace velmora
