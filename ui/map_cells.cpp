#include "ui/map_cells.h"

#include <charconv>
#include <limits>

#include "platform/platform.h"
#include "batch/result_lines.h"
#include "map/map_run.h"

namespace velmora {
namespace {

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

// Field `index` (from 0) of a line split at every comma; empty when the line
// has fewer fields.
std::string_view Field(std::string_view line, std::size_t index) {
  for (std::size_t i = 0; i < index; ++i) {
    const std::size_t comma = line.find(',');
    if (comma == std::string_view::npos) return {};
    line.remove_prefix(comma + 1);
  }
  return line.substr(0, line.find(','));
}

// The search for the mesh column speaks to a command-line user; the window
// says which field it took in the map view itself.
class Silent : public Reporter {
 public:
  void error(std::string_view) override {}
  void info(std::string_view) override {}
};

}  // namespace

MapGatherer::MapGatherer(const std::filesystem::path& input, const MeshColumn& column, Mode mode) {
  cells_.column = column;
  cells_.input = input;
  cells_.mode = mode;
  file_ = platform::OpenStream(input);
  if (file_ == nullptr) {
    failed_ = true;
    return;
  }
  reader_ = std::make_unique<LineReader>(file_);
  failed_ = !reader_->Skip();
}

MapGatherer::~MapGatherer() {
  reader_.reset();
  if (file_ != nullptr) std::fclose(file_);
}

void MapGatherer::add(std::uint64_t firstNumber, std::string_view block) {
  if (failed_) return;
  MapCells& m = cells_;
  const std::size_t field = m.column.field;
  batch::ForEachResultLine(block, firstNumber, [&](const batch::ResultLine& result) {
    std::string_view input;
    // The input's line of the same number: the run writes one line for each.
    if (result.number != next_ || !reader_->Next(input)) return !(failed_ = true);
    ++next_;
    if (!result.computed()) return true;
    const std::optional<MeshCell> cell = ParseMeshCode(Field(input, field));
    if (!cell) {
      if (m.withoutCell++ == 0) m.firstWithoutCell = result.number;
      return true;
    }
    if (result.number > std::numeric_limits<std::uint32_t>::max() || m.cells.size() >= kMaxCells) {
      return !(failed_ = true);
    }
    m.cells.push_back(MapCell{cell->south, cell->west, static_cast<std::uint32_t>(result.number), cell->order});
    for (std::size_t c = 0; c < 4; ++c) {
      if (!m.hasValues(c)) continue;
      const std::string_view text = result.fields[batch::kResultColumns - 4 + c];
      double value = 0.0;
      const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
      if (error != std::errc() || end != text.data() + text.size()) return !(failed_ = true);
      m.values[c].push_back(value);
    }
    return true;
  });
}

std::shared_ptr<const MapCells> MapGatherer::finish(const BatchCommand& command, const CommonSettings& settings,
                                                    const GapTable& table, const BatchSummary& run) {
  if (failed_) return nullptr;
  // The summary without its copy of every delay damage.
  cells_.run = run;
  std::vector<double>().swap(cells_.run.delayDamages);
  for (std::size_t k = 0; k < 4; ++k) cells_.settingTexts[k] = std::string(command.settingTexts[k]);
  cells_.settings = settings;
  cells_.table = table;
  cells_.gapTableFile = command.gapTableFile;
  failed_ = true;  // what it gathered is handed on once
  return std::make_shared<const MapCells>(std::move(cells_));
}

std::unique_ptr<MapGatherer> GatherMap(BatchCommand& command) {
  Silent silent;
  map::MapPlan plan;
  if (!map::PlanMap(command.input, {}, plan, silent)) return nullptr;
  auto map = std::make_unique<MapGatherer>(command.input, MeshColumn{plan.meshField + 8, plan.meshTitle}, command.mode);
  command.options.resultBlocks = [gather = map.get()](std::uint64_t first, std::string_view block) {
    gather->add(first, block);
  };
  return map;
}

std::optional<std::string> ReadFileLine(const std::filesystem::path& file, std::uint64_t number) {
  std::unique_ptr<std::FILE, FileCloser> handle(platform::OpenStream(file));
  if (!handle || number == 0) return std::nullopt;
  LineReader reader(handle.get());
  for (std::uint64_t n = 1; n < number; ++n) {
    if (!reader.Skip()) return std::nullopt;
  }
  std::string_view line;
  if (!reader.Next(line)) return std::nullopt;
  return std::string(line);
}

}  // namespace velmora
