#include "map/map_writer.h"

#include <charconv>

#include <nlohmann/json.hpp>

#include "batch/files.h"
#include "platform/platform.h"

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
  std::string text = e7 < 0 ? "-" : "";
  text += std::to_string(magnitude / 10000000);
  text += '.';
  text += fraction;
  return text;
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
        case Value::Kind::Real: line_ += RealText(v.real); break;
        case Value::Kind::Text: line_ += Quoted(v.text); break;
      }
    }
    // RFC 7946 keeps longitudes within ±180°: a cell east of 180° (no
    // Japanese one) moves round the globe, as GDAL moves it.
    const std::int32_t west = cell.west >= 180 * kMeshUnitsPerDegree ? cell.west - 360 * kMeshUnitsPerDegree : cell.west;
    const std::string w = DegreesText(west), e = DegreesText(west + cell.width());
    const std::string s = DegreesText(cell.south), n = DegreesText(cell.south + cell.height());
    line_ += " }, \"geometry\": { \"type\": \"Polygon\", \"coordinates\": [ [ [ " + w + ", " + s + " ], [ " + e +
             ", " + s + " ], [ " + e + ", " + n + " ], [ " + w + ", " + n + " ], [ " + w + ", " + s + " ] ] ] } }";
    return file_.Write(line_);
  }

  bool Commit(std::string_view) override { return file_.Write("\n]\n}\n") && file_.Commit(); }
  void Discard() override { file_.Discard(); }

 private:
  // As GDAL's GeoJSON writer prints a real: %.17g, or up to three digits
  // fewer when the decimals show a run of six 0s or 9s (0.1, not
  // 0.10000000000000001), and ".0" after a whole number.
  static std::string RealText(double value) {
    const auto format = [value](int digits) {
      char buffer[40];
      const auto r = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, digits);
      return std::string(buffer, r.ptr);
    };
    const auto hasRun = [](const std::string& text) {
      const std::size_t dot = text.find('.');  // the decimals and any exponent
      return text.find("999999", dot) != std::string::npos || text.find("000000", dot) != std::string::npos;
    };
    std::string text = format(17);
    const auto dotted = [](const std::string& t) { return t.find('.') != std::string::npos; };
    if (dotted(text) && hasRun(text)) {
      bool shorter = false;
      for (int fewer = 1; fewer <= 3 && !shorter; ++fewer) {
        std::string candidate = format(17 - fewer);
        if (dotted(candidate) && !hasRun(candidate)) {
          text = std::move(candidate);
          shorter = true;
        }
      }
    }
    if (text.find_first_of(".e") == std::string::npos) text += ".0";
    return text;
  }
  static std::string Quoted(std::string_view text) { return nlohmann::json(std::string(text)).dump(); }

  batch::ResultFile file_;
  std::vector<Field> fields_;
  std::string line_;
  bool first_ = true;
};

}  // namespace

std::unique_ptr<MapWriter> CreateGeoJsonWriter() { return std::make_unique<GeoJsonWriter>(); }

}  // namespace velmora::map
