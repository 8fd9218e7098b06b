#include "map/map_writer.h"

#include <nlohmann/json.hpp>

#include "batch/files.h"
#include "batch/platform.h"

namespace velmora::map {

std::optional<MapFormat> MapFormatOf(const std::filesystem::path& file) {
  std::string extension = platform::Utf8FromPath(file.extension());
  for (char& c : extension) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  if (extension == ".gpkg") return MapFormat::GeoPackage;
  if (extension == ".fgb") return MapFormat::FlatGeobuf;
  if (extension == ".geojson") return MapFormat::GeoJson;
  return std::nullopt;
}

std::string LayerName(const std::filesystem::path& file) { return platform::Utf8FromPath(file.stem()); }

std::int64_t DegreesE7(std::int32_t units) {
  // units * 10^7 / 28800 = units * 3125 / 9, never a tie.
  const std::int64_t twice = std::int64_t{units} * 3125 * 2;
  return twice >= 0 ? (twice + 9) / 18 : -((-twice + 9) / 18);
}

std::string DegreesText(std::int32_t units) {
  const std::int64_t e7 = DegreesE7(units);
  const std::int64_t magnitude = e7 < 0 ? -e7 : e7;
  std::string fraction = std::to_string(magnitude % 10000000);
  fraction.insert(0, 7 - fraction.size(), '0');
  while (fraction.size() > 1 && fraction.back() == '0') fraction.pop_back();
  return (e7 < 0 ? "-" : "") + std::to_string(magnitude / 10000000) + "." + fraction;
}

namespace {

// GeoJSON as GDAL's driver lays it out with RFC7946=YES: one feature a line,
// seven decimals of longitude and latitude, the outer ring counter-clockwise.
class GeoJsonWriter : public MapWriter {
 public:
  bool Create(const std::filesystem::path& target, const std::string& layerName,
              const std::vector<Field>& fields) override {
    fields_ = fields;
    first_ = true;
    if (!file_.Create(target)) return false;
    std::string head = "{\n\"type\": \"FeatureCollection\",\n\"name\": " + Quoted(layerName) + ",\n\"features\": [\n";
    return file_.Write(head);
  }

  bool Add(const MeshCell& cell, std::span<const Value> values) override {
    line_.clear();
    line_ += first_ ? "{ \"type\": \"Feature\", \"properties\": { " : ",\n{ \"type\": \"Feature\", \"properties\": { ";
    first_ = false;
    for (std::size_t i = 0; i < fields_.size() && i < values.size(); ++i) {
      if (i > 0) line_ += ", ";
      line_ += Quoted(fields_[i].name);
      line_ += ": ";
      const Value& v = values[i];
      switch (v.kind) {
        case Value::Kind::Null: line_ += "null"; break;
        case Value::Kind::Integer: line_ += std::to_string(v.integer); break;
        case Value::Kind::Real: line_ += nlohmann::json(v.real).dump(); break;
        case Value::Kind::Text: line_ += Quoted(v.text); break;
      }
    }
    const std::string w = DegreesText(cell.west), e = DegreesText(cell.west + cell.width());
    const std::string s = DegreesText(cell.south), n = DegreesText(cell.south + cell.height());
    line_ += " }, \"geometry\": { \"type\": \"Polygon\", \"coordinates\": [ [ [ " + w + ", " + s + " ], [ " + e +
             ", " + s + " ], [ " + e + ", " + n + " ], [ " + w + ", " + n + " ], [ " + w + ", " + s + " ] ] ] } }";
    return file_.Write(line_);
  }

  bool Commit(std::string_view) override { return file_.Write("\n]\n}\n") && file_.Commit(); }
  void Discard() override { file_.Discard(); }

 private:
  static std::string Quoted(std::string_view text) { return nlohmann::json(std::string(text)).dump(); }

  batch::ResultFile file_;
  std::vector<Field> fields_;
  std::string line_;
  bool first_ = true;
};

}  // namespace

std::unique_ptr<MapWriter> CreateGeoJsonWriter() { return std::make_unique<GeoJsonWriter>(); }

}  // namespace velmora::map
