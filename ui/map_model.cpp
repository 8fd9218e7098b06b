#include "ui/map_model.h"

#include <algorithm>
#include <cmath>

namespace velmora {
namespace {

// Yellow to dark red in five steps, readable on a light background and in
// grey print (ColorBrewer's YlOrRd).
constexpr std::array<QRgb, 5> kClassColors = {0xffffffb2, 0xfffecc5c, 0xfffd8d3c, 0xfff03b20, 0xffbd0026};

std::uint64_t Key(std::int32_t row, std::int32_t column) {
  return (static_cast<std::uint64_t>(static_cast<std::uint32_t>(row)) << 32) | static_cast<std::uint32_t>(column);
}

}  // namespace

std::size_t MapClasses::classOf(double value) const {
  const auto at = std::lower_bound(upper.begin(), upper.end(), value);
  return std::min(static_cast<std::size_t>(at - upper.begin()), upper.empty() ? 0 : upper.size() - 1);
}

MapClasses QuantileClasses(const std::vector<double>& values, int classes) {
  MapClasses result;
  if (values.empty() || classes < 1) return result;
  std::vector<double> v = values;
  const std::size_t n = v.size();
  const auto k = static_cast<std::size_t>(classes);
  // Each limit is chosen among the values above the one before it.
  auto from = v.begin();
  std::vector<double> limits;
  for (std::size_t i = 1; i < k; ++i) {
    const std::size_t rank = (i * n + k - 1) / k - 1;
    const auto at = v.begin() + static_cast<std::ptrdiff_t>(rank);
    // Fewer values than classes repeat a rank: that value is in place.
    if (at >= from) {
      std::nth_element(from, at, v.end());
      from = at + 1;
    }
    limits.push_back(*at);
  }
  result.low = *std::min_element(v.begin(), v.end());
  limits.push_back(*std::max_element(v.begin(), v.end()));
  limits.erase(std::unique(limits.begin(), limits.end()), limits.end());
  result.upper = std::move(limits);
  result.counts.assign(result.upper.size(), 0);
  for (const double value : values) ++result.counts[result.classOf(value)];
  return result;
}

QColor ClassColor(std::size_t k, std::size_t count) {
  if (count <= 1) return QColor::fromRgb(kClassColors[2]);
  // Fewer classes spread over the whole range of colours.
  const std::size_t at = (k * (kClassColors.size() - 1) + (count - 1) / 2) / (count - 1);
  return QColor::fromRgb(kClassColors[std::min(at, kClassColors.size() - 1)]);
}

MapModel::MapModel(std::shared_ptr<const MapCells> cells) : cells_(std::move(cells)) {
  const std::vector<MapCell>& all = cells_->cells;
  for (const MeshOrder order :
       {MeshOrder::First, MeshOrder::Second, MeshOrder::Third, MeshOrder::Half, MeshOrder::Quarter}) {
    MapLayer layer;
    layer.order = order;
    const std::int32_t h = MeshCellHeight(order);
    const std::int32_t w = MeshCellWidth(order);
    std::int32_t south = INT32_MAX, west = INT32_MAX, north = INT32_MIN, east = INT32_MIN;
    std::size_t count = 0;
    for (const MapCell& c : all) {
      if (c.order != order) continue;
      ++count;
      south = std::min(south, c.south);
      west = std::min(west, c.west);
      north = std::max(north, c.south + h);
      east = std::max(east, c.west + w);
    }
    if (count == 0) continue;
    layer.south = south;
    layer.west = west;
    layer.rows = (north - south) / h;
    layer.columns = (east - west) / w;
    // Cells spread over all of Japan at a fine order: a pixel for several.
    const auto imagePixels = [&layer] {
      const std::int64_t s = layer.stride;
      return (layer.rows + s - 1) / s * ((layer.columns + s - 1) / s);
    };
    while (imagePixels() > kMaxLayerPixels) ++layer.stride;
    std::vector<std::pair<std::uint64_t, std::uint32_t>> sorted;
    sorted.reserve(count);
    for (std::size_t i = 0; i < all.size(); ++i) {
      const MapCell& c = all[i];
      if (c.order != order) continue;
      sorted.emplace_back(Key((c.south - south) / h, (c.west - west) / w), static_cast<std::uint32_t>(i));
    }
    std::sort(sorted.begin(), sorted.end());
    layer.keys.resize(count);
    layer.indices.resize(count);
    for (std::size_t i = 0; i < count; ++i) {
      layer.keys[i] = sorted[i].first;
      layer.indices[i] = sorted[i].second;
    }
    if (layers_.empty()) {
      south_ = south, west_ = west, north_ = north, east_ = east;
    } else {
      south_ = std::min(south_, south), west_ = std::min(west_, west);
      north_ = std::max(north_, north), east_ = std::max(east_, east);
    }
    layers_.push_back(std::move(layer));
  }
  setColumn(3);
}

double MapModel::middleLatitude() const {
  return (static_cast<double>(south_) + north_) / 2.0 / kMeshUnitsPerDegree;
}

void MapModel::setColumn(std::size_t c) {
  column_ = c;
  const std::vector<double>& values = cells_->values[c];
  classes_ = QuantileClasses(values);
  std::array<QRgb, 5> colors{};
  for (std::size_t k = 0; k < classes_.upper.size(); ++k) colors[k] = ClassColor(k, classes_.upper.size()).rgba();
  for (MapLayer& layer : layers_) {
    const int width = (layer.columns + layer.stride - 1) / layer.stride;
    const int height = (layer.rows + layer.stride - 1) / layer.stride;
    if (layer.image.size() != QSize(width, height)) {
      layer.image = QImage(width, height, QImage::Format_ARGB32_Premultiplied);
    }
    layer.image.fill(Qt::transparent);
    if (values.empty()) continue;
    // In key order, and within a cell in input order: the last line of a
    // cell is the one seen.
    for (std::size_t i = 0; i < layer.keys.size(); ++i) {
      const auto row = static_cast<int>(layer.keys[i] >> 32) / layer.stride;
      const auto column = static_cast<int>(layer.keys[i] & 0xffffffffu) / layer.stride;
      auto* line = reinterpret_cast<QRgb*>(layer.image.scanLine(height - 1 - row));
      line[column] = colors[classes_.classOf(values[layer.indices[i]])];
    }
  }
}

std::optional<std::size_t> MapModel::cellAt(std::int32_t latitude, std::int32_t longitude) const {
  for (auto layer = layers_.rbegin(); layer != layers_.rend(); ++layer) {
    const std::int32_t h = MeshCellHeight(layer->order);
    const std::int32_t w = MeshCellWidth(layer->order);
    if (latitude < layer->south || longitude < layer->west) continue;
    const std::int64_t row = (std::int64_t{latitude} - layer->south) / h;
    const std::int64_t column = (std::int64_t{longitude} - layer->west) / w;
    if (row >= layer->rows || column >= layer->columns) continue;
    const std::uint64_t key = Key(static_cast<std::int32_t>(row), static_cast<std::int32_t>(column));
    const auto at = std::upper_bound(layer->keys.begin(), layer->keys.end(), key);
    if (at == layer->keys.begin() || *(at - 1) != key) continue;
    return layer->indices[static_cast<std::size_t>(at - 1 - layer->keys.begin())];
  }
  return std::nullopt;
}

std::size_t MapModel::linesInCell(std::size_t index) const {
  const MapCell& c = cells_->cells[index];
  for (const MapLayer& layer : layers_) {
    if (layer.order != c.order) continue;
    const std::uint64_t key =
        Key((c.south - layer.south) / MeshCellHeight(c.order), (c.west - layer.west) / MeshCellWidth(c.order));
    const auto [from, to] = std::equal_range(layer.keys.begin(), layer.keys.end(), key);
    return static_cast<std::size_t>(to - from);
  }
  return 0;
}

MeshCell MapModel::meshCell(std::size_t index) const {
  const MapCell& c = cells_->cells[index];
  return MeshCellAt(c.order, c.south, c.west).value_or(MeshCell{c.order, 0, c.south, c.west});
}

}  // namespace velmora
