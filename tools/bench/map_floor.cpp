// GDAL's own floor for velmora-batch --map: 10^6 quarter-mesh cells with the
// map's 14 fields (line number, mesh code, twelve reals) written straight
// through GDAL's C++ API, with the tool's settings (transactions of 100,000
// features, SQLite without sync, a 512 MB cache), and nothing else.
//
//   map_floor OUT.gpkg|OUT.fgb [CELLS] [--no-index]
#include <cpl_conv.h>
#include <gdal_priv.h>
#include <ogrsf_frmts.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  const std::string out = argv[1];
  const long cells = argc > 2 ? std::atol(argv[2]) : 1000000;
  const bool index = !(argc > 3 && std::string(argv[3]) == "--no-index");
  const bool gpkg = out.size() > 5 && out.substr(out.size() - 5) == ".gpkg";
  CPLSetConfigOption("OGR_SQLITE_SYNCHRONOUS", "OFF");
  CPLSetConfigOption("OGR_SQLITE_CACHE", "512");
  GDALAllRegister();
  const auto start = std::chrono::steady_clock::now();
  GDALDriver* driver = GetGDALDriverManager()->GetDriverByName(gpkg ? "GPKG" : "FlatGeobuf");
  GDALDataset* ds = driver->Create(out.c_str(), 0, 0, 0, GDT_Unknown, nullptr);
  OGRSpatialReference srs;
  srs.importFromEPSG(6668);
  srs.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
  char** options = CSLSetNameValue(nullptr, "SPATIAL_INDEX", index ? "YES" : "NO");
  OGRLayer* layer = ds->CreateLayer("floor", &srs, wkbPolygon, options);
  CSLDestroy(options);
  OGRFieldDefn line("line", OFTInteger64), mesh("mesh", OFTString);
  layer->CreateField(&line);
  layer->CreateField(&mesh);
  for (int c = 0; c < 12; ++c) {
    OGRFieldDefn real(("v" + std::to_string(c)).c_str(), OFTReal);
    layer->CreateField(&real);
  }
  OGRFeature feature(layer->GetLayerDefn());
  const bool transactions = ds->StartTransaction() == OGRERR_NONE;
  for (long i = 0; i < cells; ++i) {
    // Quarter meshes (7.5" x 11.25") on a grid of 1000 columns.
    const double south = 35.0 + static_cast<double>(i / 1000) * 7.5 / 3600;
    const double west = 139.0 + static_cast<double>(i % 1000) * 11.25 / 3600;
    feature.SetFID(OGRNullFID);
    feature.SetField(0, static_cast<GIntBig>(i + 2));
    feature.SetField(1, std::to_string(5339000000L + i).c_str());
    for (int c = 0; c < 12; ++c) feature.SetField(2 + c, static_cast<double>(i % 977) * 0.001 + c);
    auto* ring = new OGRLinearRing();
    ring->setNumPoints(5);
    ring->setPoint(0, west, south);
    ring->setPoint(1, west + 11.25 / 3600, south);
    ring->setPoint(2, west + 11.25 / 3600, south + 7.5 / 3600);
    ring->setPoint(3, west, south + 7.5 / 3600);
    ring->setPoint(4, west, south);
    auto* polygon = new OGRPolygon();
    polygon->addRingDirectly(ring);
    feature.SetGeometryDirectly(polygon);
    if (layer->CreateFeature(&feature) != OGRERR_NONE) return 1;
    if (transactions && (i + 1) % 100000 == 0) {
      ds->CommitTransaction();
      ds->StartTransaction();
    }
  }
  if (transactions) ds->CommitTransaction();
  GDALClose(ds);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("%ld cells into %s%s: %.2f s\n", cells, out.c_str(), index ? "" : " (no index)", seconds);
  return 0;
}
