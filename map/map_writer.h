#pragma once
// A map file of mesh cells: one polygon feature per cell, with named fields.
// The writers put the file beside its target and in its place only when it is
// whole (as the result file): GDAL's (map/gdal_writer.h, where GDAL is built
// in) and GeoJSON's own (map/geojson_writer.h, everywhere).
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/mesh_code.h"

namespace velmora::map {

enum class MapFormat { GeoPackage, FlatGeobuf, GeoJson };

// By the extension, in any case: .gpkg, .fgb, .geojson; nothing otherwise.
std::optional<MapFormat> MapFormatOf(const std::filesystem::path& file);

enum class FieldType { Integer, Real, Text };

struct Field {
  std::string name;  // UTF-8
  FieldType type = FieldType::Real;
};

// One field's value of a feature; Text is UTF-8.
struct Value {
  enum class Kind { Null, Integer, Real, Text } kind = Kind::Null;
  std::int64_t integer = 0;
  double real = 0.0;
  std::string_view text;

  static Value OfInteger(std::int64_t v) { return {Kind::Integer, v, 0.0, {}}; }
  static Value OfReal(double v) { return {Kind::Real, 0, v, {}}; }
  static Value OfText(std::string_view v) { return {Kind::Text, 0, 0.0, v}; }
};

class MapWriter {
 public:
  virtual ~MapWriter() = default;
  // Starts the file beside `target` with one layer of polygons in JGD2011
  // (longitude, latitude). False when it cannot be written there.
  virtual bool Create(const std::filesystem::path& target, const std::string& layerName,
                      const std::vector<Field>& fields) = 0;
  // One cell, its values in the order of the fields. False once writing failed.
  virtual bool Add(const MeshCell& cell, std::span<const Value> values) = 0;
  // Completes the file, with the run's summary (JSON) as its metadata where
  // the format holds any, and puts it in the target's place. False, with
  // nothing left behind, when it cannot.
  virtual bool Commit(std::string_view summaryJson) = 0;
  // Removes what was written; the target stays as it was.
  virtual void Discard() = 0;
};

// The GeoJSON writer of our own (RFC 7946; the same features as GDAL's).
std::unique_ptr<MapWriter> CreateGeoJsonWriter();

// A layer name from a file name: its stem, in UTF-8.
std::string LayerName(const std::filesystem::path& file);

// Degrees times 10^7 of a whole number of units, rounded to nearest: RFC 7946
// writers give seven decimals. Exact (units are 1/28800 degree).
std::int64_t DegreesE7(std::int32_t units);
// "139.7625", "35.6833333", "139.0": seven decimals at most, no trailing zeros.
std::string DegreesText(std::int32_t units);

}  // namespace velmora::map
