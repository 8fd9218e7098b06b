#pragma once
// What the window's map shows of a batch run: for every computed line whose
// input holds a mesh code, its cell, its line number and the results as the
// result file holds them. Gathered while the run writes its lines, so the
// input is read once more alongside and nothing of a line is kept as text.
#include <array>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "batch/batch.h"
#include "core/gap_table.h"
#include "core/line_reader.h"
#include "core/mesh_code.h"
#include "core/records.h"

namespace velmora {

// The input field that holds the mesh codes (found as velmora-batch --map
// finds it).
struct MeshColumn {
  std::size_t field = 0;  // from 0: 8 is the ninth field
  std::string title;      // the header's title of that field, UTF-8
};

// One cell of the map: the cell's south-west corner and order (the code
// follows from them) and the file line of the household.
struct MapCell {
  std::int32_t south = 0;  // mesh units (1/8 arc-second)
  std::int32_t west = 0;
  std::uint32_t line = 0;  // the header is line 1
  MeshOrder order = MeshOrder::Third;
};

struct MapCells {
  MeshColumn column;
  std::filesystem::path input;
  // What the run computed with, so that a line can be explained again.
  Mode mode = Mode::WithRiskPremium;
  std::array<std::string, 4> settingTexts;
  CommonSettings settings;
  GapTable table;
  std::filesystem::path gapTableFile;
  // The run's summary (without the delay damages), for the map file.
  BatchSummary run;

  // In input order.
  std::vector<MapCell> cells;
  // Per result column (PreferenceFactor, WillingnessToPay, OptimalCoverage,
  // DelayDamage), one value per cell, each the file's text read back as a
  // double; empty for the columns the mode leaves empty.
  std::array<std::vector<double>, 4> values;
  // Computed lines whose field is not a mesh code, and the first of them.
  std::uint64_t withoutCell = 0;
  std::uint64_t firstWithoutCell = 0;

  // Mode 0 writes the delay damage alone.
  bool hasValues(std::size_t c) const { return mode == Mode::WithRiskPremium || c == 3; }
};

// Gathers the cells of one run: give add() to BatchOptions::resultBlocks.
// Reads the input alongside the result lines, so it expects them all, in
// order, from the first data line on.
class MapGatherer {
 public:
  // More cells than a window's map should hold (about 1 GB): the run goes on,
  // the map is not made.
  static constexpr std::size_t kMaxCells = 20'000'000;

  MapGatherer(const std::filesystem::path& input, const MeshColumn& column, Mode mode);
  ~MapGatherer();
  MapGatherer(const MapGatherer&) = delete;
  MapGatherer& operator=(const MapGatherer&) = delete;

  void add(std::uint64_t firstNumber, std::string_view block);
  // The cells of the completed run of `command`, with what it computed with
  // (`settings` and `table` as the run left them) and its summary; nothing when the input
  // could not be read along or the run gave more cells than the map holds.
  std::shared_ptr<const MapCells> finish(const BatchCommand& command, const CommonSettings& settings,
                                         const GapTable& table, const BatchSummary& run);

 private:
  std::FILE* file_ = nullptr;
  std::unique_ptr<LineReader> reader_;
  std::uint64_t next_ = 2;  // the input line the reader gives next
  bool failed_ = false;
  MapCells cells_;
};

// When the input of `command` has a mesh column, a gatherer that the
// command's run feeds (through its options); nothing otherwise, and the
// command is left as it was.
std::unique_ptr<MapGatherer> GatherMap(BatchCommand& command);

// The text of line `number` of `file` (the header is 1), as the batch reads
// lines; nothing when the file has no such line.
std::optional<std::string> ReadFileLine(const std::filesystem::path& file, std::uint64_t number);

}  // namespace velmora
