#pragma once
// A batch run's results on the map: which input field holds the mesh code,
// and the features gathered from the run's result lines as written
// (BatchOptions::resultBlocks), so that the map's values are the file's.
#include <array>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "batch/summary.h"
#include "core/mesh_code.h"
#include "core/reporter.h"
#include "map/map_writer.h"

namespace velmora::map {

// Data lines looked at to find the mesh column.
inline constexpr std::size_t kMeshColumnSampleLines = 1000;

// The input's mesh column and the titles of its fields from the ninth on.
struct MapPlan {
  std::size_t meshField = 0;             // from the ninth field on: 0 is the ninth
  std::string meshTitle;                 // UTF-8; empty when the header has none
  std::vector<std::string> keptTitles;   // UTF-8, the header's fields from the ninth on
  bool inputUtf8 = false;                // the input starts with the UTF-8 byte order mark
};

// Reads the input's header and first data lines. `meshColumn` is a field
// number from 9 on or a header title; empty, the first field from the ninth
// on whose non-empty values in the first kMeshColumnSampleLines data lines
// are all mesh codes of one order is taken, and said. Reports and answers
// false when there is none (or the input cannot be read).
bool PlanMap(const std::filesystem::path& input, std::string_view meshColumn, MapPlan& plan, Reporter& reporter);

// Whether `text` is a field number from 9 on; the number in `number`.
bool ParseFieldNumber(std::string_view text, std::size_t& number);

// Field names a GIS takes: none empty, none twice (GeoPackage compares them
// without case); a later one gets "_2", "_3"...
void MakeNamesUnique(std::vector<Field>& fields);

// The map's counts, for the closing message.
struct MapCounts {
  std::uint64_t features = 0;
  std::uint64_t notComputed = 0;  // left out: no results
  std::uint64_t noCell = 0;       // left out: no mesh code (or one coarser than the level)
  std::uint64_t firstNoCell = 0;  // its line number, the header being 1
};

// Gathers a run's result lines into a map writer: one feature per computed
// line with a cell, or with `level` the sums per cell of that order, written
// at the end in code order.
class MapBuilder {
 public:
  MapBuilder(MapPlan plan, bool keepColumns, std::optional<MeshOrder> level, MapWriter& writer);
  ~MapBuilder();
  MapBuilder(const MapBuilder&) = delete;
  MapBuilder& operator=(const MapBuilder&) = delete;

  // The fields the map's features carry, in order.
  const std::vector<Field>& fields() const { return fields_; }
  // Starts the writer for `target`; without kept columns, also opens `input`
  // to read the mesh code beside the run. False when either fails.
  bool Start(const std::filesystem::path& target, const std::filesystem::path& input);
  // BatchOptions::resultBlocks.
  void AddBlock(std::uint64_t firstNumber, std::string_view block);
  // After a completed run: the aggregated cells, the summary as metadata, the
  // file in the target's place; reports what the map holds, or the failure.
  bool Finish(std::string_view summaryJson, Reporter& reporter);
  void Discard();
  const MapCounts& counts() const { return counts_; }

 private:
  struct Cell;
  class InputLines;
  void AddLine(std::uint64_t number, const std::array<std::string_view, 12>& fields, std::string_view rest);

  MapPlan plan_;
  bool keepColumns_;
  std::optional<MeshOrder> level_;
  MapWriter& writer_;
  std::vector<Field> fields_;
  std::unique_ptr<InputLines> input_;
  std::map<std::uint64_t, Cell> cells_;
  std::vector<std::string> keptTexts_;
  std::vector<Value> values_;
  MapCounts counts_;
  bool failed_ = false;
  bool inputChanged_ = false;
};

}  // namespace velmora::map
