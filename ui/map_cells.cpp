#include "ui/map_cells.h"

#include <charconv>
#include <limits>

#include "batch/result_lines.h"

namespace velmora {
namespace {

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

std::FILE* OpenRead(const std::filesystem::path& file) {
#ifdef _WIN32
  // The path is UTF-16 there; fopen would take the ANSI code page.
  return _wfopen(file.c_str(), L"rb");
#else
  return std::fopen(file.c_str(), "rb");
#endif
}

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

bool Blank(std::string_view text) { return text.find_first_not_of(" \t") == std::string_view::npos; }

}  // namespace

std::optional<MeshColumn> FindMeshColumn(const std::filesystem::path& input) {
  std::unique_ptr<std::FILE, FileCloser> file(OpenRead(input));
  if (!file) return std::nullopt;
  LineReader reader(file.get());
  std::string_view line;
  if (!reader.Next(line)) return std::nullopt;
  const std::string header(line);

  // Per field from the ninth on: whether it held a value, of which order,
  // and whether a value was no mesh code or of another order.
  struct Seen {
    bool any = false;
    bool refused = false;
    MeshOrder order = MeshOrder::First;
  };
  std::vector<Seen> fields;
  std::vector<std::string_view> split;
  for (std::size_t n = 0; n < kMeshColumnLines && reader.Next(line); ++n) {
    split.clear();
    for (std::string_view rest = line;;) {
      const std::size_t comma = rest.find(',');
      split.push_back(rest.substr(0, comma));
      if (comma == std::string_view::npos) break;
      rest.remove_prefix(comma + 1);
    }
    if (split.size() > 8 + fields.size()) fields.resize(split.size() - 8);
    for (std::size_t f = 8; f < split.size(); ++f) {
      Seen& seen = fields[f - 8];
      if (seen.refused || Blank(split[f])) continue;
      const std::optional<MeshCell> cell = ParseMeshCode(split[f]);
      if (!cell || (seen.any && cell->order != seen.order)) {
        seen.refused = true;
      } else {
        seen.any = true;
        seen.order = cell->order;
      }
    }
  }
  if (reader.failed()) return std::nullopt;
  for (std::size_t f = 0; f < fields.size(); ++f) {
    if (fields[f].any && !fields[f].refused) {
      return MeshColumn{f + 8, fields[f].order, std::string(Field(header, f + 8))};
    }
  }
  return std::nullopt;
}

MapGatherer::MapGatherer(const std::filesystem::path& input, const MeshColumn& column, Mode mode) {
  cells_.column = column;
  cells_.input = input;
  cells_.mode = mode;
  file_ = OpenRead(input);
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
                                                    const GapTable& table) {
  if (failed_) return nullptr;
  for (std::size_t k = 0; k < 4; ++k) cells_.settingTexts[k] = std::string(command.settingTexts[k]);
  cells_.settings = settings;
  cells_.table = table;
  cells_.gapTableFile = command.gapTableFile;
  failed_ = true;  // what it gathered is handed on once
  return std::make_shared<const MapCells>(std::move(cells_));
}

std::unique_ptr<MapGatherer> GatherMap(BatchCommand& command) {
  const std::optional<MeshColumn> column = FindMeshColumn(command.input);
  if (!column) return nullptr;
  auto map = std::make_unique<MapGatherer>(command.input, *column, command.mode);
  command.options.resultBlocks = [gather = map.get()](std::uint64_t first, std::string_view block) {
    gather->add(first, block);
  };
  return map;
}

std::optional<std::string> ReadFileLine(const std::filesystem::path& file, std::uint64_t number) {
  std::unique_ptr<std::FILE, FileCloser> handle(OpenRead(file));
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
