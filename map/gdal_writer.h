#pragma once
// The map file through GDAL: GeoPackage (with its spatial index), FlatGeobuf
// (with its index) and GeoJSON (RFC 7946).
#include <memory>

#include "map/map_writer.h"

namespace velmora::map {

std::unique_ptr<MapWriter> CreateGdalWriter(MapFormat format);

}  // namespace velmora::map
