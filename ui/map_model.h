#pragma once
// The map's picture of the gathered cells: the class limits of one result,
// one image per mesh order (a pixel per cell, north up) and the lookup from a
// point to the cell under it. The cells form a regular grid, so an image
// stands in for a million polygons and a point finds its cell by its code.
#include <QColor>
#include <QImage>
#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "ui/map_cells.h"

namespace velmora {

// Classes by quantile: class k holds the values above upper[k - 1] up to
// upper[k], the first one from `low` (the least value) on. Quantile limits
// that coincide (many equal values) merge their classes, so there may be
// fewer than asked.
struct MapClasses {
  double low = 0.0;
  std::vector<double> upper;  // ascending; the last one is the greatest value
  std::vector<std::uint64_t> counts;

  // The class of `value`: how many upper limits lie below it.
  std::size_t classOf(double value) const;
};

// The limits at the ranks ceil(k n / classes), k = 1 .. classes - 1 (the
// nearest-rank quantiles), then the greatest value.
MapClasses QuantileClasses(const std::vector<double>& values, int classes = 5);

// The fill of class `k` of `count` classes: yellow to dark red.
QColor ClassColor(std::size_t k, std::size_t count);

// The cells of one mesh order as an image: pixel (x, y) is the cell in
// column x from the west and row y from the north (with `stride` cells a
// pixel when the grid is larger than an image may be).
struct MapLayer {
  MeshOrder order = MeshOrder::Third;
  std::int32_t south = 0;  // the grid's south-west corner, mesh units
  std::int32_t west = 0;
  std::int32_t columns = 0;  // in cells
  std::int32_t rows = 0;
  int stride = 1;
  QImage image;
  // The cells, by (row from the south, column) and then input order.
  std::vector<std::uint64_t> keys;
  std::vector<std::uint32_t> indices;
};

class MapModel {
 public:
  // An image holds at most this many pixels (64 MB).
  static constexpr std::int64_t kMaxLayerPixels = std::int64_t{16} << 20;

  explicit MapModel(std::shared_ptr<const MapCells> cells);

  const MapCells& cells() const { return *cells_; }
  // Colours the layers by result column `c` (0..3, as in the result file).
  void setColumn(std::size_t c);
  std::size_t column() const { return column_; }
  const MapClasses& classes() const { return classes_; }
  // Coarser orders first: finer cells are drawn over them.
  const std::vector<MapLayer>& layers() const { return layers_; }

  // All cells together, mesh units.
  std::int32_t south() const { return south_; }
  std::int32_t west() const { return west_; }
  std::int32_t north() const { return north_; }
  std::int32_t east() const { return east_; }
  // The latitude (degrees) of the middle of the cells, where the map's
  // longitudes are drawn cos(latitude) as wide as its latitudes.
  double middleLatitude() const;

  // The cell under a point (mesh units, a cell holding its south and west
  // edges), the finest order first; of several lines in one cell, the last.
  std::optional<std::size_t> cellAt(std::int32_t latitude, std::int32_t longitude) const;
  // How many lines share the cell of `index`.
  std::size_t linesInCell(std::size_t index) const;
  MeshCell meshCell(std::size_t index) const;

 private:
  std::shared_ptr<const MapCells> cells_;
  std::size_t column_ = 3;
  MapClasses classes_;
  std::vector<MapLayer> layers_;
  std::int32_t south_ = 0, west_ = 0, north_ = 0, east_ = 0;
};

}  // namespace velmora
