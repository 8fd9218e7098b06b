#include "map/scenario_map.h"

#include <charconv>

#include "map/map_messages.h"
#include "map/map_run.h"
#include "map/map_text.h"

namespace velmora::map {

ScenarioMap::ScenarioMap(std::filesystem::path target, std::optional<MeshOrder> level, MapWriter& writer)
    : target_(std::move(target)), level_(level), writer_(writer) {}

ScenarioMap::~ScenarioMap() { Discard(); }

bool ScenarioMap::wantsDigests() const { return MapFormatOf(target_) == MapFormat::GeoPackage; }

bool ScenarioMap::Start(const std::vector<std::string>& titles, bool utf8, Reporter& reporter) {
  utf8_ = utf8;
  columns_ = titles.empty() ? 0 : titles.size() - 1;
  fields_.clear();
  fields_.push_back({titles.empty() ? std::string(msg::kFieldMeshCode) : titles[0], FieldType::Text});
  if (level_) fields_.push_back({msg::kFieldCount, FieldType::Integer});
  for (std::size_t c = 1; c < titles.size(); ++c)
    fields_.push_back({level_ ? titles[c] + msg::kFieldSumSuffix : titles[c], FieldType::Real});
  MakeNamesUnique(fields_);
  values_.resize(fields_.size());
  numbers_.resize(columns_);
  if (!writer_.Create(target_, LayerName(target_), fields_)) {
    reporter.error(msg::kMapUnwritable);
    return false;
  }
  started_ = true;
  return true;
}

void ScenarioMap::Lines(std::string_view lines) {
  while (!lines.empty() && !failed_) {
    const std::size_t end = lines.find("\r\n");
    Line(lines.substr(0, end));
    if (end == std::string_view::npos) break;
    lines.remove_prefix(end + 2);
  }
}

void ScenarioMap::Line(std::string_view line) {
  const std::size_t comma = line.find(',');
  const std::string_view id = line.substr(0, comma);
  std::optional<MeshCell> cell = ParseMeshCode(id);
  if (cell && level_) cell = MeshParent(*cell, *level_);
  if (!cell) {
    if (counts_.noCell++ == 0) counts_.firstNoCell = TextToUtf8(id, utf8_);
    return;
  }
  // The numbers as the output writes them, read back; an empty field has none.
  std::string_view rest = comma == std::string_view::npos ? std::string_view() : line.substr(comma + 1);
  for (std::size_t c = 0; c < columns_; ++c) {
    const std::size_t next = rest.find(',');
    const std::string_view text = rest.substr(0, next);
    rest = next == std::string_view::npos ? std::string_view() : rest.substr(next + 1);
    double value = 0.0;
    const auto r = std::from_chars(text.data(), text.data() + text.size(), value);
    numbers_[c].reset();
    if (!text.empty() && r.ec == std::errc() && r.ptr == text.data() + text.size()) numbers_[c] = value;
  }
  if (level_) {
    Cell& sum = cells_[cell->code];
    if (sum.count++ == 0) {
      sum.cell = *cell;
      sum.sums.resize(columns_);
      sum.unknown.resize(columns_, false);
    }
    // A cell's value is the sum of its households'; one without a value
    // leaves the sum unknown rather than short.
    for (std::size_t c = 0; c < columns_; ++c) {
      if (numbers_[c]) {
        sum.sums[c].Add(*numbers_[c]);
      } else {
        sum.unknown[c] = true;
      }
    }
    return;
  }
  const std::string code = cell->text();
  std::size_t v = 0;
  values_[v++] = Value::OfText(code);
  for (std::size_t c = 0; c < columns_; ++c) values_[v++] = numbers_[c] ? Value::OfReal(*numbers_[c]) : Value();
  if (!writer_.Add(*cell, std::span<const Value>(values_.data(), v))) failed_ = true;
  ++counts_.features;
}

bool ScenarioMap::Finish(const ScenarioSummary& summary, Reporter& reporter) {
  if (!started_) return false;
  if (!failed_ && level_) {
    for (const auto& [code, sum] : cells_) {
      const std::string text = sum.cell.text();
      std::size_t v = 0;
      values_[v++] = Value::OfText(text);
      values_[v++] = Value::OfInteger(static_cast<std::int64_t>(sum.count));
      for (std::size_t c = 0; c < columns_; ++c)
        values_[v++] = sum.unknown[c] ? Value() : Value::OfReal(sum.sums[c].Value());
      if (!writer_.Add(sum.cell, std::span<const Value>(values_.data(), v))) {
        failed_ = true;
        break;
      }
      ++counts_.features;
    }
  }
  if (failed_ || !writer_.Commit(ScenarioSummaryJson(summary))) {
    Discard();
    reporter.error(msg::kMapUnwritable);
    return false;
  }
  started_ = false;
  std::string said = std::string(msg::kMapWritten) + msg::kMapCells + std::to_string(counts_.features) +
                     msg::kMapNoMeshHousehold + std::to_string(counts_.noCell);
  if (counts_.noCell > 0) said += msg::kMapFirstHousehold + counts_.firstNoCell + msg::kMapFirstHouseholdEnd;
  reporter.info(said);
  return true;
}

void ScenarioMap::Discard() {
  if (started_) writer_.Discard();
  started_ = false;
}

}  // namespace velmora::map
