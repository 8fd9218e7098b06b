#include "map/map_run.h"

#include <algorithm>
#include <charconv>

#include "batch/files.h"
#include "batch/line_scan.h"
#include "batch/messages.h"
#include "batch/pipeline.h"
#include "batch/result_lines.h"
#include "batch/row.h"
#include "core/line_reader.h"
#include "core/number_text.h"
#include "map/map_messages.h"
#include "map/map_text.h"

namespace velmora::map {
namespace {

using batch::kResultColumns;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

using batch::ForEachLine;

// A line's own fields from the ninth on (empty when it has no ninth field).
std::string_view FromNinth(std::string_view line) {
  const std::size_t echo = batch::EchoSize(line);
  return echo < line.size() ? line.substr(echo + 1) : std::string_view();
}

// Field `index` of comma-separated `fields`; nothing when there are fewer.
std::optional<std::string_view> FieldAt(std::string_view fields, std::size_t index) {
  if (fields.data() == nullptr) return std::nullopt;
  for (std::size_t i = 0;; ++i) {
    const std::size_t comma = fields.find(',');
    if (i == index) return fields.substr(0, comma);
    if (comma == std::string_view::npos) return std::nullopt;
    fields.remove_prefix(comma + 1);
  }
}

std::vector<std::string_view> SplitFields(std::string_view fields) {
  std::vector<std::string_view> out;
  if (fields.data() == nullptr) return out;
  for (;;) {
    const std::size_t comma = fields.find(',');
    out.push_back(fields.substr(0, comma));
    if (comma == std::string_view::npos) return out;
    fields.remove_prefix(comma + 1);
  }
}

std::vector<std::string> ResultTitles() {
  std::vector<std::string> titles;
  for (const std::string_view t : SplitFields(msg::kResultHeader)) titles.emplace_back(t);
  return titles;
}

}  // namespace

void MakeNamesUnique(std::vector<Field>& fields) {
  std::vector<std::string> seen;
  const auto lower = [](std::string s) {
    for (char& c : s) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return s;
  };
  for (Field& f : fields) {
    const std::string base = f.name;
    for (int n = 2; std::find(seen.begin(), seen.end(), lower(f.name)) != seen.end(); ++n)
      f.name = base + "_" + std::to_string(n);
    seen.push_back(lower(f.name));
  }
}

namespace {

// The two ratios are averaged per cell; everything else is summed.
bool IsMeanColumn(std::size_t column) { return column == 8 || column == 10; }

}  // namespace

bool ParseFieldNumber(std::string_view text, std::size_t& number) {
  std::size_t value = 0;
  const auto r = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || r.ec != std::errc() || r.ptr != text.data() + text.size() || value < 9) return false;
  number = value;
  return true;
}

bool PlanMap(const std::filesystem::path& input, std::string_view meshColumn, MapPlan& plan, Reporter& reporter) {
  batch::InputFile file;
  if (!file.Open(input)) {
    reporter.error(msg::kInputUnreadable);
    return false;
  }
  batch::ChunkReader reader(file, std::size_t{256} << 10, LineReader::kMaxLine);
  batch::Buffer header;
  const auto headerRead = reader.ReadHeader(&header);
  if (headerRead == batch::ChunkReader::Status::End) {
    reporter.error(msg::kInputFormatInvalid);
    return false;
  }
  if (headerRead != batch::ChunkReader::Status::Chunk) {
    reporter.error(msg::kInputUnreadable);
    return false;
  }
  plan = {};
  plan.inputUtf8 = reader.StartsWithByteOrderMark();
  for (const std::string_view title : SplitFields(FromNinth(std::string_view(header.data(), header.size()))))
    plan.keptTitles.push_back(TextToUtf8(Trim(title), plan.inputUtf8));

  const auto titleOf = [&](std::size_t field) {
    return field < plan.keptTitles.size() ? plan.keptTitles[field] : std::string();
  };
  std::size_t number = 0;
  if (ParseFieldNumber(meshColumn, number)) {
    plan.meshField = number - 9;
    plan.meshTitle = titleOf(plan.meshField);
    return true;
  }
  if (!meshColumn.empty()) {
    const std::string wanted(Trim(meshColumn));
    const auto found = std::find(plan.keptTitles.begin(), plan.keptTitles.end(), wanted);
    if (found == plan.keptTitles.end()) {
      reporter.error(msg::kMeshColumnNoSuchTitle + wanted);
      return false;
    }
    plan.meshField = static_cast<std::size_t>(found - plan.keptTitles.begin());
    plan.meshTitle = *found;
    return true;
  }

  // The first data lines' fields from the ninth on.
  std::vector<std::string> sample;
  batch::Chunk chunk;
  while (sample.size() < kMeshColumnSampleLines && reader.Next(chunk) == batch::ChunkReader::Status::Chunk) {
    ForEachLine(chunk, [&](std::string_view line) {
      sample.emplace_back(FromNinth(line));
      return sample.size() < kMeshColumnSampleLines;
    });
  }
  std::size_t columns = 0;
  for (const std::string& rest : sample) columns = std::max(columns, SplitFields(rest).size());
  for (std::size_t field = 0; field < columns; ++field) {
    std::optional<MeshOrder> order;
    bool all = true;
    for (const std::string& rest : sample) {
      const std::optional<std::string_view> value = FieldAt(rest, field);
      if (!value || Trim(*value).empty()) continue;
      const std::optional<MeshCell> cell = ParseMeshCode(*value);
      if (!cell || (order && *order != cell->order)) {
        all = false;
        break;
      }
      order = cell->order;
    }
    if (all && order) {
      plan.meshField = field;
      plan.meshTitle = titleOf(field);
      std::string said = std::to_string(field + 9) + "列目";
      if (!plan.meshTitle.empty()) said += "（" + plan.meshTitle + "）";
      reporter.info(said + msg::kMeshColumnTaken);
      return true;
    }
  }
  reporter.error(msg::kMeshColumnNotFound);
  return false;
}

// The input read again beside the run, line by line in step with its result
// lines, for the mesh code when the result does not keep the fields.
class MapBuilder::InputLines {
 public:
  bool Open(const std::filesystem::path& input) {
    if (!file_.Open(input)) return false;
    reader_.emplace(file_, std::size_t{256} << 10, LineReader::kMaxLine);
    return reader_->ReadHeader(nullptr) != batch::ChunkReader::Status::ReadFailed;
  }
  // The next data line's fields from the ninth on; false past the end.
  bool Next(std::string_view& rest) {
    while (next_ >= lines_.size()) {
      if (!reader_ || reader_->Next(chunk_) != batch::ChunkReader::Status::Chunk) return false;
      lines_.clear();
      next_ = 0;
      ForEachLine(chunk_, [&](std::string_view line) {
        lines_.push_back(FromNinth(line));
        return true;
      });
    }
    rest = lines_[next_++];
    return true;
  }

 private:
  batch::InputFile file_;
  std::optional<batch::ChunkReader> reader_;
  batch::Chunk chunk_;
  std::vector<std::string_view> lines_;
  std::size_t next_ = 0;
};

struct MapBuilder::Cell {
  MeshCell cell;
  std::uint64_t count = 0;
  std::array<ExactSum, kResultColumns> sums;
  std::array<std::uint64_t, kResultColumns> counts{};
};

MapBuilder::MapBuilder(MapPlan plan, bool keepColumns, std::optional<MeshOrder> level, MapWriter& writer)
    : plan_(std::move(plan)), keepColumns_(keepColumns), level_(level), writer_(writer) {
  const std::vector<std::string> titles = ResultTitles();
  const std::string meshName = plan_.meshTitle.empty() ? msg::kFieldMeshCode : plan_.meshTitle;
  if (level_) {
    fields_.push_back({meshName, FieldType::Text});
    fields_.push_back({msg::kFieldCount, FieldType::Integer});
    for (std::size_t c = 0; c < kResultColumns; ++c)
      fields_.push_back({titles[c] + (IsMeanColumn(c) ? msg::kFieldMeanSuffix : msg::kFieldSumSuffix), FieldType::Real});
  } else {
    fields_.push_back({msg::kFieldLineNumber, FieldType::Integer});
    fields_.push_back({meshName, FieldType::Text});
    for (std::size_t c = 0; c < kResultColumns; ++c) fields_.push_back({titles[c], FieldType::Real});
    if (keepColumns_) {
      for (std::size_t k = 0; k < plan_.keptTitles.size(); ++k) {
        if (k == plan_.meshField) continue;
        const std::string& title = plan_.keptTitles[k];
        fields_.push_back({title.empty() ? std::to_string(k + 9) + "列目" : title, FieldType::Text});
      }
    }
  }
  MakeNamesUnique(fields_);
  values_.resize(fields_.size());
}

MapBuilder::~MapBuilder() { Discard(); }

bool MapBuilder::Start(const std::filesystem::path& target, const std::filesystem::path& input) {
  if (!keepColumns_) {
    input_ = std::make_unique<InputLines>();
    if (!input_->Open(input)) return false;
  }
  return writer_.Create(target, LayerName(target), fields_);
}

void MapBuilder::AddBlock(std::uint64_t firstNumber, std::string_view block) {
  if (failed_ || inputChanged_) return;
  batch::ForEachResultLine(block, firstNumber, [&](const batch::ResultLine& line) {
    std::string_view rest = line.kept;
    if (!keepColumns_ && !input_->Next(rest)) {
      inputChanged_ = true;
      return false;
    }
    if (!line.computed()) {
      ++counts_.notComputed;
      return true;
    }
    AddLine(line.number, line.fields, rest);
    return !failed_;
  });
}

void MapBuilder::AddLine(std::uint64_t number, const std::array<std::string_view, kResultColumns>& fields,
                         std::string_view rest) {
  std::optional<MeshCell> cell;
  if (const std::optional<std::string_view> code = FieldAt(rest, plan_.meshField)) cell = ParseMeshCode(*code);
  if (cell && level_) cell = MeshParent(*cell, *level_);
  if (!cell) {
    if (counts_.noCell++ == 0) counts_.firstNoCell = number;
    return;
  }
  // The numbers as the file writes them, read back.
  std::array<std::optional<double>, kResultColumns> numbers;
  for (std::size_t c = 0; c < kResultColumns; ++c) {
    double value = 0.0;
    if (c < batch::kEchoFields) {
      if (TextToNumber(fields[c], value)) numbers[c] = value;
    } else if (!fields[c].empty()) {
      const auto r = std::from_chars(fields[c].data(), fields[c].data() + fields[c].size(), value);
      if (r.ec == std::errc() && r.ptr == fields[c].data() + fields[c].size()) numbers[c] = value;
    }
  }
  if (level_) {
    Cell& sum = cells_[cell->code];
    sum.cell = *cell;
    ++sum.count;
    for (std::size_t c = 0; c < kResultColumns; ++c) {
      if (!numbers[c]) continue;
      sum.sums[c].Add(*numbers[c]);
      ++sum.counts[c];
    }
    return;
  }
  std::size_t v = 0;
  values_[v++] = Value::OfInteger(static_cast<std::int64_t>(number));
  const std::string code = cell->text();
  values_[v++] = Value::OfText(code);
  for (std::size_t c = 0; c < kResultColumns; ++c) values_[v++] = numbers[c] ? Value::OfReal(*numbers[c]) : Value();
  if (keepColumns_) {
    keptTexts_.resize(plan_.keptTitles.size());
    std::string_view kept = rest;
    for (std::size_t k = 0; k < plan_.keptTitles.size(); ++k) {
      std::optional<std::string_view> text;
      if (kept.data() != nullptr) {
        const std::size_t comma = kept.find(',');
        text = kept.substr(0, comma);
        kept = comma == std::string_view::npos ? std::string_view() : kept.substr(comma + 1);
      }
      if (k == plan_.meshField) continue;
      if (!text) {
        values_[v++] = Value();
      } else if (std::all_of(text->begin(), text->end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; })) {
        values_[v++] = Value::OfText(*text);
      } else {
        keptTexts_[k] = TextToUtf8(*text, plan_.inputUtf8);
        values_[v++] = Value::OfText(keptTexts_[k]);
      }
    }
  }
  if (!writer_.Add(*cell, std::span<const Value>(values_.data(), v))) failed_ = true;
  ++counts_.features;
}

bool MapBuilder::Finish(std::string_view summaryJson, Reporter& reporter) {
  if (inputChanged_) {
    Discard();
    reporter.error(msg::kMapInputChanged);
    return false;
  }
  if (!failed_ && level_) {
    for (const auto& [code, sum] : cells_) {
      std::size_t v = 0;
      const std::string text = sum.cell.text();
      values_[v++] = Value::OfText(text);
      values_[v++] = Value::OfInteger(static_cast<std::int64_t>(sum.count));
      for (std::size_t c = 0; c < kResultColumns; ++c) {
        if (sum.counts[c] == 0) {
          values_[v++] = Value();
          continue;
        }
        const double total = sum.sums[c].Value();
        values_[v++] = Value::OfReal(IsMeanColumn(c) ? total / static_cast<double>(sum.counts[c]) : total);
      }
      if (!writer_.Add(sum.cell, std::span<const Value>(values_.data(), v))) {
        failed_ = true;
        break;
      }
      ++counts_.features;
    }
  }
  if (failed_ || !writer_.Commit(summaryJson)) {
    Discard();
    reporter.error(msg::kMapUnwritable);
    return false;
  }
  std::string said = std::string(msg::kMapWritten) + msg::kMapCells + std::to_string(counts_.features) +
                     msg::kMapNotComputed + std::to_string(counts_.notComputed) + msg::kMapNoCell +
                     std::to_string(counts_.noCell);
  if (counts_.noCell > 0) said += msg::kMapFirstNoCell + std::to_string(counts_.firstNoCell) + msg::kMapFirstNoCellEnd;
  reporter.info(said);
  return true;
}

void MapBuilder::Discard() {
  writer_.Discard();
  input_.reset();
}

}  // namespace velmora::map
