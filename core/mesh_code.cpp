#include "core/mesh_code.h"

namespace velmora {
namespace {

constexpr std::int32_t kS = kMeshUnitsPerSecond;

// Height and width by order, in units: 40' x 1°, 5' x 7'30", 30" x 45",
// 15" x 22.5", 7.5" x 11.25".
constexpr std::int32_t kHeight[] = {2400 * kS, 300 * kS, 30 * kS, 15 * kS, 15 * kS / 2};
constexpr std::int32_t kWidth[] = {3600 * kS, 450 * kS, 45 * kS, 45 * kS / 2, 45 * kS / 4};
constexpr int kDigits[] = {4, 6, 8, 9, 10};

int Index(MeshOrder order) { return static_cast<int>(order) - 1; }

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

}  // namespace

int MeshCodeDigits(MeshOrder order) { return kDigits[Index(order)]; }
std::int32_t MeshCellHeight(MeshOrder order) { return kHeight[Index(order)]; }
std::int32_t MeshCellWidth(MeshOrder order) { return kWidth[Index(order)]; }

std::string MeshCell::text() const {
  std::string out(static_cast<std::size_t>(MeshCodeDigits(order)), '0');
  std::uint64_t rest = code;
  for (std::size_t i = out.size(); i-- > 0 && rest > 0; rest /= 10) out[i] = static_cast<char>('0' + rest % 10);
  return out;
}

MeshBounds MeshCell::degrees() const {
  const double d = kMeshUnitsPerDegree;
  return {south / d, west / d, (south + height()) / d, (west + width()) / d};
}

std::optional<MeshCell> ParseMeshCode(std::string_view field) {
  std::size_t b = 0, e = field.size();
  while (b < e && IsBlank(field[b])) ++b;
  while (e > b && IsBlank(field[e - 1])) --e;
  const std::string_view digits = field.substr(b, e - b);
  MeshCell cell;
  switch (digits.size()) {
    case 4: cell.order = MeshOrder::First; break;
    case 6: cell.order = MeshOrder::Second; break;
    case 8: cell.order = MeshOrder::Third; break;
    case 9: cell.order = MeshOrder::Half; break;
    case 10: cell.order = MeshOrder::Quarter; break;
    default: return std::nullopt;
  }
  int d[10] = {};
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (digits[i] < '0' || digits[i] > '9') return std::nullopt;
    d[i] = digits[i] - '0';
    cell.code = cell.code * 10 + static_cast<std::uint64_t>(d[i]);
  }
  cell.south = (d[0] * 10 + d[1]) * kHeight[0];
  cell.west = (d[2] * 10 + d[3] + 100) * kWidth[0];
  if (digits.size() >= 6) {
    if (d[4] > 7 || d[5] > 7) return std::nullopt;
    cell.south += d[4] * kHeight[1];
    cell.west += d[5] * kWidth[1];
  }
  if (digits.size() >= 8) {
    cell.south += d[6] * kHeight[2];
    cell.west += d[7] * kWidth[2];
  }
  // Each further digit halves the cell: 1 south-west, 2 south-east, 3
  // north-west, 4 north-east.
  for (std::size_t i = 8; i < digits.size(); ++i) {
    const int q = d[i];
    if (q < 1 || q > 4) return std::nullopt;
    const int level = static_cast<int>(i) - 5;  // 3 for the ninth digit, 4 for the tenth
    if (q >= 3) cell.south += kHeight[level];
    if (q == 2 || q == 4) cell.west += kWidth[level];
  }
  return cell;
}

std::optional<MeshCell> MeshParent(const MeshCell& cell, MeshOrder level) {
  if (level > cell.order) return std::nullopt;
  // The coarser cell is the one its leading digits name.
  const std::string text = cell.text();
  return ParseMeshCode(std::string_view(text).substr(0, static_cast<std::size_t>(MeshCodeDigits(level))));
}

std::optional<MeshCell> MeshCellAt(MeshOrder order, std::int32_t latitude, std::int32_t longitude) {
  const std::int32_t west0 = 100 * kWidth[0];
  if (latitude < 0 || latitude >= 100 * kHeight[0] || longitude < west0 || longitude >= west0 + 100 * kWidth[0])
    return std::nullopt;
  const std::int32_t lat = latitude, lon = longitude - west0;
  std::string code;
  const auto two = [&](int v) {
    code += static_cast<char>('0' + v / 10);
    code += static_cast<char>('0' + v % 10);
  };
  two(lat / kHeight[0]);
  two(lon / kWidth[0]);
  if (order >= MeshOrder::Second) {
    code += static_cast<char>('0' + lat % kHeight[0] / kHeight[1]);
    code += static_cast<char>('0' + lon % kWidth[0] / kWidth[1]);
  }
  if (order >= MeshOrder::Third) {
    code += static_cast<char>('0' + lat % kHeight[1] / kHeight[2]);
    code += static_cast<char>('0' + lon % kWidth[1] / kWidth[2]);
  }
  for (int level = 3; level < 5 && level <= Index(order); ++level) {
    const int north = lat % kHeight[level - 1] / kHeight[level];
    const int east = lon % kWidth[level - 1] / kWidth[level];
    code += static_cast<char>('1' + north * 2 + east);
  }
  return ParseMeshCode(code);
}

}  // namespace velmora
