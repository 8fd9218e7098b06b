#include "map/gdal_writer.h"

#include <cpl_conv.h>
#include <cpl_error.h>
#include <gdal_priv.h>
#include <ogr_feature.h>
#include <ogr_geometry.h>
#include <ogr_spatialref.h>
#include <ogrsf_frmts.h>

#include <atomic>
#include <mutex>
#include <string>

#include "platform/platform.h"

namespace velmora::map {
namespace {

namespace fs = std::filesystem;

// Features per transaction: one per feature is GeoPackage's slow path.
constexpr std::uint64_t kFeaturesPerTransaction = 100000;

const char* DriverName(MapFormat format) {
  switch (format) {
    case MapFormat::GeoPackage: return "GPKG";
    case MapFormat::FlatGeobuf: return "FlatGeobuf";
    case MapFormat::GeoJson: return "GeoJSON";
  }
  return "";
}

void RegisterOnce() {
  static std::once_flag once;
  std::call_once(once, [] {
    // The map file is a temporary file until it is whole and flushed, so
    // SQLite need not sync on every commit; a larger page cache keeps the
    // spatial index's pages in memory.
    CPLSetConfigOption("OGR_SQLITE_SYNCHRONOUS", "OFF");
    CPLSetConfigOption("OGR_SQLITE_CACHE", "512");
    GDALAllRegister();
  });
}

// GDAL's messages are not the user's: kept quiet, its last error ends up in
// ours only as a failure.
class QuietErrors {
 public:
  QuietErrors() { CPLPushErrorHandler(CPLQuietErrorHandler); }
  ~QuietErrors() { CPLPopErrorHandler(); }
  QuietErrors(const QuietErrors&) = delete;
  QuietErrors& operator=(const QuietErrors&) = delete;
};

class GdalWriter : public MapWriter {
 public:
  explicit GdalWriter(MapFormat format) : format_(format) {}
  ~GdalWriter() override { Discard(); }

  bool Create(const fs::path& target, const std::string& layerName, const std::vector<Field>& fields) override {
    Discard();
    RegisterOnce();
    QuietErrors quiet;
    platform::OutputPlace place;
    if (!platform::FindOutputPlace(target, place) || place.target.filename().empty()) return false;
    target_ = place.target;
    place_ = place;
    if (!ReserveTemporary()) return false;
    GDALDriver* driver = GetGDALDriverManager()->GetDriverByName(DriverName(format_));
    if (driver == nullptr) return false;
    dataset_ = driver->Create(platform::Utf8FromPath(temp_).c_str(), 0, 0, 0, GDT_Unknown, nullptr);
    if (dataset_ == nullptr) return Fail();

    OGRSpatialReference srs;
    // GeoJSON (RFC 7946) is WGS 84 by definition; JGD2011 agrees with it to
    // well under a metre, so the coordinates are written unchanged.
    if (srs.importFromEPSG(format_ == MapFormat::GeoJson ? 4326 : 6668) != OGRERR_NONE) return Fail();
    srs.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
    char** options = nullptr;
    if (format_ == MapFormat::GeoJson) options = CSLSetNameValue(options, "RFC7946", "YES");
    if (format_ != MapFormat::GeoJson) options = CSLSetNameValue(options, "SPATIAL_INDEX", "YES");
    layer_ = dataset_->CreateLayer(layerName.c_str(), &srs, wkbPolygon, options);
    CSLDestroy(options);
    if (layer_ == nullptr) return Fail();
    for (const Field& field : fields) {
      const OGRFieldType type = field.type == FieldType::Integer ? OFTInteger64
                                : field.type == FieldType::Real  ? OFTReal
                                                                 : OFTString;
      OGRFieldDefn definition(field.name.c_str(), type);
      if (layer_->CreateField(&definition) != OGRERR_NONE) return Fail();
    }
    feature_.reset(new OGRFeature(layer_->GetLayerDefn()));
    inTransaction_ = dataset_->StartTransaction() == OGRERR_NONE;
    pending_ = 0;
    return true;
  }

  bool Add(const MeshCell& cell, std::span<const Value> values) override {
    if (failed_ || layer_ == nullptr) return false;
    QuietErrors quiet;
    OGRFeature& f = *feature_;
    f.SetFID(OGRNullFID);
    for (std::size_t i = 0; i < values.size(); ++i) {
      const int index = static_cast<int>(i);
      const Value& v = values[i];
      switch (v.kind) {
        case Value::Kind::Null: f.SetFieldNull(index); break;
        case Value::Kind::Integer: f.SetField(index, static_cast<GIntBig>(v.integer)); break;
        case Value::Kind::Real: f.SetField(index, v.real); break;
        case Value::Kind::Text: text_.assign(v.text); f.SetField(index, text_.c_str()); break;
      }
    }
    const MeshBounds b = cell.degrees();
    // Counter-clockwise from the south-west corner.
    auto* ring = new OGRLinearRing();
    ring->setNumPoints(5);
    ring->setPoint(0, b.west, b.south);
    ring->setPoint(1, b.east, b.south);
    ring->setPoint(2, b.east, b.north);
    ring->setPoint(3, b.west, b.north);
    ring->setPoint(4, b.west, b.south);
    auto* polygon = new OGRPolygon();
    polygon->addRingDirectly(ring);
    f.SetGeometryDirectly(polygon);
    if (layer_->CreateFeature(&f) != OGRERR_NONE) return Fail();
    if (inTransaction_ && ++pending_ >= kFeaturesPerTransaction) {
      if (dataset_->CommitTransaction() != OGRERR_NONE) return Fail();
      inTransaction_ = dataset_->StartTransaction() == OGRERR_NONE;
      pending_ = 0;
    }
    return true;
  }

  bool Commit(std::string_view summaryJson) override {
    if (failed_ || dataset_ == nullptr) return false;
    QuietErrors quiet;
    if (inTransaction_ && dataset_->CommitTransaction() != OGRERR_NONE) return Fail();
    inTransaction_ = false;
    // Where a run can be traced: gpkg_metadata in a GeoPackage.
    if (format_ == MapFormat::GeoPackage && !summaryJson.empty() &&
        dataset_->SetMetadataItem("VELMORA_RUN", std::string(summaryJson).c_str()) != CE_None)
      return Fail();
    feature_.reset();
    layer_ = nullptr;
    CPLErrorReset();
    GDALClose(dataset_);
    dataset_ = nullptr;
    if (CPLGetLastErrorType() == CE_Failure) return Fail();
    // Whole on disk before it takes the target's place.
    std::uint64_t size = 0;
    const platform::File file = platform::OpenInput(temp_, size);
    // An earlier map's permissions go to its replacement, as a result file's do.
    if (file != platform::kNoFile) platform::KeepAttributes(file, place_);
    const bool flushed = file != platform::kNoFile && platform::FlushToDisk(file);
    if (file != platform::kNoFile) platform::Close(file);
    if (!flushed || !platform::Replace(temp_, target_)) return Fail();
    temp_.clear();
    return true;
  }

  void Discard() override {
    feature_.reset();
    layer_ = nullptr;
    if (dataset_ != nullptr) {
      QuietErrors quiet;
      if (inTransaction_) dataset_->RollbackTransaction();
      GDALClose(dataset_);
      dataset_ = nullptr;
    }
    inTransaction_ = false;
    if (!temp_.empty()) {
      platform::Remove(temp_);
      temp_.clear();
    }
  }

 private:
  bool Fail() {
    failed_ = true;
    Discard();
    return false;
  }

  // A name of our own beside the target, with the target's extension (GDAL
  // picks FlatGeobuf's layout by it); GDAL creates the file itself.
  bool ReserveTemporary() {
    const fs::path folder = target_.parent_path().empty() ? fs::path(".") : target_.parent_path();
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
      std::string name = ".velmora-map-" + std::to_string(platform::ProcessId()) + "-" +
                         std::to_string(++counter) + platform::Utf8FromPath(target_.extension());
      const fs::path candidate = folder / platform::PathFromUtf8(name);
      bool taken = false;
      const platform::File file = platform::CreateNew(candidate, taken);
      if (file != platform::kNoFile) {
        platform::Close(file);
        platform::Remove(candidate);
        temp_ = candidate;
        failed_ = false;
        return true;
      }
      if (!taken) return false;
    }
    return false;
  }

  const MapFormat format_;
  fs::path target_;
  platform::OutputPlace place_;  // the earlier map, whose permissions its replacement takes
  fs::path temp_;
  GDALDataset* dataset_ = nullptr;
  OGRLayer* layer_ = nullptr;
  std::unique_ptr<OGRFeature> feature_;
  std::string text_;
  bool inTransaction_ = false;
  bool failed_ = false;
  std::uint64_t pending_ = 0;
};

}  // namespace

std::unique_ptr<MapWriter> CreateGdalWriter(MapFormat format) { return std::make_unique<GdalWriter>(format); }

}  // namespace velmora::map
