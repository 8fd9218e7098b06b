#pragma once
// A scenario run's households on the map: one cell per household whose id is
// a mesh code, with every column of the scenario output (each scenario's
// delay damage, the expected values) read back from the lines as written, or
// with a level the sums per cell of that order.
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "batch/scenarios.h"
#include "batch/summary.h"
#include "core/mesh_code.h"
#include "map/map_writer.h"

namespace velmora::map {

struct ScenarioMapCounts {
  std::uint64_t features = 0;
  std::uint64_t noCell = 0;  // ids that are no mesh code (or one coarser than the level)
  std::string firstNoCell;   // the first of them, UTF-8
};

class ScenarioMap : public ScenarioResultSink {
 public:
  ScenarioMap(std::filesystem::path target, std::optional<MeshOrder> level, MapWriter& writer);
  ~ScenarioMap() override;
  ScenarioMap(const ScenarioMap&) = delete;
  ScenarioMap& operator=(const ScenarioMap&) = delete;

  bool Start(const std::vector<std::string>& titles, bool utf8, Reporter& reporter) override;
  void Lines(std::string_view lines) override;
  // The summary JSON becomes the file's metadata (a GeoPackage's).
  bool Finish(const ScenarioSummary& summary, Reporter& reporter) override;
  void Discard() override;
  bool wantsDigests() const override;

  const std::vector<Field>& fields() const { return fields_; }
  const ScenarioMapCounts& counts() const { return counts_; }

 private:
  struct Cell {
    MeshCell cell;
    std::uint64_t count = 0;
    std::vector<ExactSum> sums;
    std::vector<bool> unknown;  // some household of the cell has no value
  };
  void Line(std::string_view line);

  std::filesystem::path target_;
  std::optional<MeshOrder> level_;
  MapWriter& writer_;
  std::vector<Field> fields_;
  std::size_t columns_ = 0;  // after the id
  bool utf8_ = false;
  bool started_ = false;
  bool failed_ = false;
  std::map<std::uint64_t, Cell> cells_;
  std::vector<std::optional<double>> numbers_;
  std::vector<Value> values_;
  ScenarioMapCounts counts_;
};

}  // namespace velmora::map
