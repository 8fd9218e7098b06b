#include "batch/scenarios.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <functional>
#include <numeric>
#include <optional>
#include <string_view>
#include <system_error>
#include <thread>

#include "batch/code_page.h"
#include "batch/files.h"
#include "batch/json_parts.h"
#include "batch/messages.h"
#include "batch/pipeline.h"
#include "platform/platform.h"
#include "batch/result_lines.h"
#include "batch/row.h"
#include "platform/sha256.h"
#include "core/line_reader.h"
#include "core/number_text.h"
#include "core/version.h"
#include "input/checks.h"

namespace velmora {
namespace {

namespace fs = std::filesystem;
using batch::Absolute;

constexpr std::string_view kNameTitle = "シナリオ名";
constexpr std::string_view kPeriodTitle = "再現期間";
constexpr std::string_view kInputTitle = "入力ファイル";
constexpr std::array<std::string_view, kSettingCount> kSettingTitles = {"保険加入率", "被害の発生確率", "利子率",
                                                                         "マークアップ率"};
constexpr std::string_view kManifestName = "シナリオ一覧";
constexpr std::size_t kManifestMaxBytes = std::size_t{1} << 20;
constexpr const char* kCompleted = "シナリオ計算の結果を出力ファイルに書き込みました";
constexpr std::string_view kBom = "\xEF\xBB\xBF";

std::string AtLine(std::uint64_t line) {
  return std::string(kManifestName) + "の" + std::to_string(line) + "行目：";
}

std::string Prefix(const Scenario& s) {
  return "シナリオ「" + s.name + "」（" + std::string(kManifestName) + "の" + std::to_string(s.line) + "行目）：";
}

// A scenario's checks and run report with the scenario named in front.
class ScenarioReporter : public Reporter {
 public:
  ScenarioReporter(Reporter& target, std::string prefix) : target_(target), prefix_(std::move(prefix)) {}
  void error(std::string_view message) override { target_.error(prefix_ + std::string(message)); }
  void info(std::string_view message) override { target_.info(prefix_ + std::string(message)); }

 private:
  Reporter& target_;
  std::string prefix_;
};

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

// One line of a manifest: fields separated by commas; a field in double
// quotes (as Excel writes one with a comma) may hold commas and "" for a
// quote. False for an unclosed quote.
bool SplitCsv(std::string_view line, std::vector<std::string>& fields) {
  fields.clear();
  std::string field;
  std::size_t i = 0;
  for (;;) {
    field.clear();
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    if (i < line.size() && line[i] == '"') {
      ++i;
      for (;;) {
        if (i >= line.size()) return false;
        if (line[i] == '"') {
          if (i + 1 < line.size() && line[i + 1] == '"') {
            field += '"';
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        field += line[i++];
      }
      while (i < line.size() && line[i] != ',') {
        if (line[i] != ' ' && line[i] != '\t') return false;
        ++i;
      }
    } else {
      const std::size_t comma = std::min(line.find(',', i), line.size());
      field = std::string(Trim(line.substr(i, comma - i)));
      i = comma;
    }
    fields.push_back(field);
    if (i >= line.size()) return true;
    ++i;  // the comma
  }
}

std::vector<std::string_view> SplitLines(std::string_view text) {
  std::vector<std::string_view> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = FindTerminator(text.data(), start, text.size());
    lines.push_back(text.substr(start, end - start));
    if (end == text.size()) break;
    start = end + 1;
    if (text[end] == '\r' && start < text.size() && text[start] == '\n') ++start;
  }
  return lines;
}

// A small whole file (a manifest); false when it cannot be read or is longer
// than `limit` (then `tooLong`).
bool ReadSmallFile(const fs::path& path, std::size_t limit, std::string& bytes, bool& tooLong) {
  tooLong = false;
  batch::InputFile file;
  if (!file.Open(path)) return false;
  if (file.bytesTotal() > limit) {
    tooLong = true;
    return false;
  }
  bytes.assign(static_cast<std::size_t>(file.bytesTotal()) + 1, '\0');
  std::size_t got = 0;
  for (;;) {
    const std::ptrdiff_t n = file.Read(bytes.data() + got, bytes.size() - got);
    if (n < 0) return false;
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
    if (got == bytes.size()) {
      if (got > limit) {
        tooLong = true;
        return false;
      }
      bytes.resize(got * 2);
    }
  }
  bytes.resize(got);
  return true;
}

bool ControlOrSeparator(std::string_view text) {
  return std::any_of(text.begin(), text.end(), [](char c) {
    return c == ',' || c == '"' || static_cast<unsigned char>(c) < 0x20 || c == 0x7F;
  });
}


// A number as the result file writes one.
char* PutSeven(char* out, double value) {
  if (value == 0.0) value = 0.0;  // no "-0"
  const auto [ptr, ec] = std::to_chars(out, out + kBatchNumberMax, value, std::chars_format::general, 7);
  if (ec != std::errc()) return out;
  for (char* p = out; p != ptr; ++p) {
    if (*p == 'e') *p = 'E';
  }
  return ptr;
}

double ReadBack(std::string_view text) {
  double value = 0.0;
  std::from_chars(text.data(), text.data() + text.size(), value);
  return value;
}

// ---- The households of all scenarios ---------------------------------------

// The ids in order of first appearance: their bytes in one block and an open
// hash table of their indices, so that a million households take a few tens
// of MiB.
class HouseholdIds {
 public:
  static constexpr std::size_t kNone = static_cast<std::size_t>(-1);

  std::size_t size() const { return ends_.size(); }
  std::string_view operator[](std::size_t i) const {
    const std::size_t start = i == 0 ? 0 : ends_[i - 1];
    return std::string_view(bytes_).substr(start, ends_[i] - start);
  }
  std::size_t Find(std::string_view id) const {
    if (slots_.empty()) return kNone;
    for (std::size_t slot = Hash(id) & mask_;; slot = (slot + 1) & mask_) {
      const std::uint32_t held = slots_[slot];
      if (held == 0) return kNone;
      if ((*this)[held - 1] == id) return held - 1;
    }
  }
  std::size_t Add(std::string_view id) {
    if (2 * (size() + 1) > slots_.size()) Grow();
    bytes_.append(id);
    ends_.push_back(bytes_.size());
    Place(size() - 1);
    return size() - 1;
  }

 private:
  static std::size_t Hash(std::string_view id) { return std::hash<std::string_view>{}(id); }
  void Place(std::size_t index) {
    std::size_t slot = Hash((*this)[index]) & mask_;
    while (slots_[slot] != 0) slot = (slot + 1) & mask_;
    slots_[slot] = static_cast<std::uint32_t>(index + 1);
  }
  void Grow() {
    const std::size_t capacity = std::max<std::size_t>(1024, slots_.size() * 2);
    slots_.assign(capacity, 0);
    mask_ = capacity - 1;
    for (std::size_t i = 0; i < size(); ++i) Place(i);
  }

  std::string bytes_;
  std::vector<std::size_t> ends_;
  std::vector<std::uint32_t> slots_;
  std::size_t mask_ = 0;
};

enum CellState : std::uint8_t { kAbsent = 0, kComputed = 1, kNotComputable = 2 };

// One scenario's values by household (index of HouseholdIds, or the line).
struct ScenarioCells {
  std::vector<double> delay;
  std::vector<double> direct;
  std::vector<std::uint8_t> state;
  void Grow(std::size_t households) {
    if (state.size() >= households) return;
    delay.resize(households);
    direct.resize(households);
    state.resize(households, kAbsent);
  }
};

// The kept fields' `k`th field (from 0).
std::string_view NthField(std::string_view kept, std::size_t k) {
  for (; k > 0; --k) {
    const std::size_t comma = kept.find(',');
    if (comma == std::string_view::npos) return {};
    kept.remove_prefix(comma + 1);
  }
  return kept.substr(0, kept.find(','));
}

// What tells one household from another when no id is given: the household's
// own values (income to consumption), which a flood does not change.
std::uint64_t HouseholdValuesHash(const batch::ResultLine& line) {
  std::uint64_t h = 1469598103934665603ULL;  // FNV-1a
  for (std::size_t f = 2; f < batch::kEchoFields; ++f) {
    for (const char c : line.fields[f]) h = (h ^ static_cast<unsigned char>(c)) * 1099511628211ULL;
    h = (h ^ 0x2C) * 1099511628211ULL;
  }
  return h;
}

// A damage as the row check read it, in double: most texts are plain
// numbers that from_chars reads whole; blanks or a "+" take the long way.
double Damage(std::string_view text) {
  double value = 0.0;
  const auto r = std::from_chars(text.data(), text.data() + text.size(), value);
  if (r.ec == std::errc() && r.ptr == text.data() + text.size()) return value;
  TextToNumber(text, value);
  return value;
}

// Reads one scenario's result lines into its cells.
class Join {
 public:
  Join(HouseholdIds& ids, std::vector<std::uint64_t>& lineHashes, ScenarioCells& cells, bool byId,
       std::size_t idField, bool first)
      : ids_(ids), lineHashes_(lineHashes), cells_(cells), byId_(byId), idField_(idField), first_(first) {}

  void Block(std::uint64_t firstNumber, std::string_view block) {
    if (!fault_.empty()) return;
    batch::ForEachResultLine(block, firstNumber, [this](const batch::ResultLine& line) { return Line(line); });
  }
  // After the run: the fault of the lines-in-order check that only the end shows.
  void End() {
    if (fault_.empty() && !byId_ && !first_ && ordinal_ < lineHashes_.size()) {
      fault_ = "入力ファイルの世帯が最初のシナリオより少なく、" + std::to_string(ordinal_) +
               " 行です。世帯を識別する列を指定してください";
    }
  }
  const std::string& fault() const { return fault_; }
  std::uint64_t computed() const { return computed_; }
  std::uint64_t notComputable() const { return notComputable_; }

 private:
  bool Line(const batch::ResultLine& line) {
    std::size_t h = ordinal_;
    if (byId_) {
      const std::string_view id =
          idField_ < batch::kEchoFields ? line.fields[idField_] : NthField(line.kept, idField_ - batch::kEchoFields);
      if (id.empty()) return Fail(line.number, "世帯を識別する列の値がありません");
      if (!(h < ids_.size() && ids_[h] == id)) {
        h = ids_.Find(id);
        if (h == HouseholdIds::kNone) h = ids_.Add(id);
      }
      cells_.Grow(ids_.size());
      if (cells_.state[h] != kAbsent) {
        std::string shown;
        if (!batch::TextFromFile(id, shown)) shown = "?";
        return Fail(line.number, "識別子「" + shown + "」の世帯がこのファイルの前の行にもあります");
      }
    } else if (first_) {
      lineHashes_.push_back(HouseholdValuesHash(line));
      cells_.Grow(h + 1);
    } else {
      if (h >= lineHashes_.size()) {
        return Fail(line.number, "入力ファイルの世帯が最初のシナリオより多くあります。世帯を識別する列を指定してください");
      }
      if (lineHashes_[h] != HouseholdValuesHash(line)) {
        return Fail(line.number,
                    "世帯の値（世帯年収から消費額まで）が最初のシナリオの同じ行と違います。"
                    "世帯を識別する列を指定してください");
      }
      cells_.Grow(h + 1);
    }
    if (line.computed()) {
      const double house = Damage(line.fields[0]);
      const double goods = Damage(line.fields[1]);
      cells_.delay[h] = ReadBack(line.fields[batch::kResultColumns - 1]);
      cells_.direct[h] = house + goods;
      cells_.state[h] = kComputed;
      ++computed_;
    } else {
      cells_.state[h] = kNotComputable;
      ++notComputable_;
    }
    ++ordinal_;
    return true;
  }
  bool Fail(std::uint64_t number, const std::string& what) {
    fault_ = "入力ファイルの" + std::to_string(number) + "行目：" + what;
    return false;
  }

  HouseholdIds& ids_;
  std::vector<std::uint64_t>& lineHashes_;
  ScenarioCells& cells_;
  const bool byId_;
  const std::size_t idField_;
  const bool first_;
  std::size_t ordinal_ = 0;
  std::uint64_t computed_ = 0;
  std::uint64_t notComputable_ = 0;
  std::string fault_;
};

// The header of an input as bytes (without a byte order mark), and whether it
// starts with one. False when it cannot be read (the batch check says why).
bool ReadInputHeader(const fs::path& input, std::string& header, bool& bom) {
  batch::InputFile file;
  if (!file.Open(input)) return false;
  batch::ChunkReader reader(file, std::size_t{64} << 10, LineReader::kMaxLine);
  batch::Buffer bytes;
  if (reader.ReadHeader(&bytes) != batch::ChunkReader::Status::Chunk) return false;
  header.assign(bytes.data(), bytes.size());
  bom = std::string_view(header).substr(0, 3) == kBom;
  if (bom) header.erase(0, 3);
  return true;
}

std::vector<std::string> SplitTitles(const std::string& header) {
  std::vector<std::string> titles;
  std::size_t start = 0;
  for (;;) {
    const std::size_t comma = header.find(',', start);
    titles.push_back(header.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
    if (comma == std::string::npos) return titles;
    start = comma + 1;
  }
}

// The titles of an input's header as UTF-8 (as they come when not readable).
std::vector<std::string> TitlesUtf8(const std::string& header) {
  std::string text;
  if (!batch::TextFromFile(header, text)) text = header;
  std::vector<std::string> titles = SplitTitles(text);
  for (std::string& t : titles) t = std::string(Trim(t));
  return titles;
}

bool AllDigits(std::string_view text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

Json ColumnsJson(const std::array<ColumnFigures, 4>& columns) {
  Json json = Json::object();
  for (std::size_t c = 0; c < 4; ++c) {
    const ColumnFigures& f = columns[c];
    const bool any = f.count > 0;
    json[std::string(kResultNames[c])] = {{"count", f.count},
                                          {"sum", f.sum},
                                          {"min", any ? Json(f.min) : Json(nullptr)},
                                          {"max", any ? Json(f.max) : Json(nullptr)},
                                          {"mean", any ? Json(f.mean) : Json(nullptr)}};
  }
  return json;
}

}  // namespace

// ---- The integration ------------------------------------------------------------

bool MakeExceedanceCurve(std::span<const double> returnPeriods, const EadRule& rule, ExceedanceCurve& curve,
                         std::string& why) {
  curve = {};
  if (returnPeriods.empty()) {
    why = "シナリオがありません";
    return false;
  }
  for (const double t : returnPeriods) {
    if (!(t > 1.0) || !std::isfinite(t)) {
      why = "再現期間は1より大きい数です";
      return false;
    }
  }
  curve.order.resize(returnPeriods.size());
  std::iota(curve.order.begin(), curve.order.end(), std::size_t{0});
  std::stable_sort(curve.order.begin(), curve.order.end(),
                   [&](std::size_t a, std::size_t b) { return returnPeriods[a] < returnPeriods[b]; });
  for (std::size_t i = 0; i < curve.order.size(); ++i) {
    curve.probabilities.push_back(1.0 / returnPeriods[curve.order[i]]);
    if (i > 0 && !(curve.probabilities[i] < curve.probabilities[i - 1])) {
      why = "再現期間が同じか、超過確率の区別できないシナリオがあります（" +
            SevenDigitsAsWritten(returnPeriods[curve.order[i - 1]]) + " 年と " +
            SevenDigitsAsWritten(returnPeriods[curve.order[i]]) + " 年）";
      curve = {};
      return false;
    }
  }
  const double t0 = rule.zeroDamageReturnPeriod;
  if (t0 != 0.0 && !(t0 > 1.0 && std::isfinite(t0) && 1.0 / t0 > curve.probabilities.front())) {
    why = "被害の出ない再現期間は1より大きく、最も頻度の高いシナリオの再現期間（" +
          SevenDigitsAsWritten(returnPeriods[curve.order.front()]) + " 年）より短くなければなりません";
    curve = {};
    return false;
  }
  return true;
}

double ExpectedAnnualValue(const ExceedanceCurve& curve, std::span<const double> damages, const EadRule& rule) {
  const std::vector<double>& p = curve.probabilities;
  const std::size_t n = p.size();
  if (n == 0) return 0.0;
  const auto d = [&](std::size_t i) { return damages[curve.order[i]]; };
  double sum = 0.0;
  if (rule.zeroDamageReturnPeriod != 0.0) sum += (1.0 / rule.zeroDamageReturnPeriod - p[0]) * (0.0 + d(0)) / 2.0;
  for (std::size_t i = 0; i + 1 < n; ++i) sum += (p[i] - p[i + 1]) * (d(i) + d(i + 1)) / 2.0;
  if (rule.tail == EadTail::Flat) sum += p[n - 1] * d(n - 1);
  return sum;
}

std::string EadRuleText(const EadRule& rule) {
  std::string text = "超過確率 p = 1/T の台形則 Σ(pᵢ − pᵢ₊₁)(Dᵢ + Dᵢ₊₁)/2";
  if (rule.zeroDamageReturnPeriod != 0.0) {
    text += "、前端：被害の出ない再現期間 " + SevenDigitsAsWritten(rule.zeroDamageReturnPeriod) +
            " 年（p = " + SevenDigitsAsWritten(1.0 / rule.zeroDamageReturnPeriod) + "）の 0 から最頻のシナリオまで直線";
  } else {
    text += "、前端：最頻のシナリオから（それより前はなし）";
  }
  text += rule.tail == EadTail::Flat ? "、後端：最も稀なシナリオの被害を p = 0 まで一定" : "、後端：なし";
  return text;
}

std::string SevenDigitsAsWritten(double value) {
  char buffer[kBatchNumberMax];
  return std::string(buffer, PutSeven(buffer, value));
}

// ---- The manifest ---------------------------------------------------------------

bool ScenarioManifest::allReturnPeriods() const {
  return !scenarios.empty() &&
         std::all_of(scenarios.begin(), scenarios.end(), [](const Scenario& s) { return s.returnPeriod.has_value(); });
}

bool ReadScenarioManifest(const fs::path& file, ScenarioManifest& manifest, Reporter& reporter) {
  manifest = {};
  std::string bytes;
  bool tooLong = false;
  if (!ReadSmallFile(file, kManifestMaxBytes, bytes, tooLong)) {
    reporter.error(tooLong ? std::string(kManifestName) + "が大きすぎます（1 MiB まで）"
                           : std::string(kManifestName) + "を読み取れません");
    return false;
  }
  std::string text;
  if (!batch::TextFromFile(bytes, text)) {
    reporter.error(std::string(kManifestName) + "の文字コードが CP932 でも UTF-8 でもありません");
    return false;
  }
  const std::vector<std::string_view> lines = SplitLines(text);
  std::vector<std::string> fields;
  if (lines.empty() || !SplitCsv(lines[0], fields)) {
    reporter.error(AtLine(1) + "見出し行がありません");
    return false;
  }
  // Where each known title stands.
  constexpr std::size_t kNoColumn = static_cast<std::size_t>(-1);
  std::size_t nameColumn = kNoColumn, periodColumn = kNoColumn, inputColumn = kNoColumn;
  std::array<std::size_t, kSettingCount> settingColumns;
  settingColumns.fill(kNoColumn);
  const std::vector<std::string> titles = fields;
  for (std::size_t c = 0; c < titles.size(); ++c) {
    std::size_t* slot = nullptr;
    if (titles[c] == kNameTitle) slot = &nameColumn;
    if (titles[c] == kPeriodTitle) slot = &periodColumn;
    if (titles[c] == kInputTitle) slot = &inputColumn;
    for (std::size_t k = 0; k < kSettingCount; ++k) {
      if (titles[c] == kSettingTitles[k]) slot = &settingColumns[k];
    }
    if (slot == nullptr) {
      reporter.error(AtLine(1) + "見出し「" + titles[c] +
                     "」は使えません（シナリオ名、再現期間、入力ファイル、保険加入率、被害の発生確率、利子率、"
                     "マークアップ率のいずれかです）");
      return false;
    }
    if (*slot != kNoColumn) {
      reporter.error(AtLine(1) + "見出し「" + titles[c] + "」が2つあります");
      return false;
    }
    *slot = c;
  }
  for (const auto& [column, title] : {std::pair{nameColumn, kNameTitle}, std::pair{inputColumn, kInputTitle}}) {
    if (column == kNoColumn) {
      reporter.error(AtLine(1) + "見出し「" + std::string(title) + "」がありません");
      return false;
    }
  }
  const fs::path folder = Absolute(file).parent_path();
  for (std::size_t l = 1; l < lines.size(); ++l) {
    const std::uint64_t number = l + 1;
    if (!SplitCsv(lines[l], fields)) {
      reporter.error(AtLine(number) + "「\"」で始まる値が閉じていません");
      return false;
    }
    // Blank lines (Excel writes them as commas alone) are no scenario.
    if (std::all_of(fields.begin(), fields.end(), [](const std::string& f) { return f.empty(); })) continue;
    for (std::size_t c = titles.size(); c < fields.size(); ++c) {
      if (!fields[c].empty()) {
        reporter.error(AtLine(number) + "見出しのない列に値があります");
        return false;
      }
    }
    fields.resize(std::max(fields.size(), titles.size()));
    Scenario s;
    s.line = number;
    s.name = fields[nameColumn];
    if (s.name.empty()) {
      reporter.error(AtLine(number) + "シナリオ名がありません");
      return false;
    }
    if (ControlOrSeparator(s.name)) {
      reporter.error(AtLine(number) + "シナリオ名に「,」「\"」や制御文字は使えません");
      return false;
    }
    for (const Scenario& earlier : manifest.scenarios) {
      if (earlier.name == s.name) {
        reporter.error(AtLine(number) + "シナリオ名「" + s.name + "」は" + std::to_string(earlier.line) +
                       "行目と同じです");
        return false;
      }
    }
    const std::string& inputText = fields[inputColumn];
    if (inputText.empty()) {
      reporter.error(AtLine(number) + "入力ファイルがありません");
      return false;
    }
    // A manifest made on Windows names folders with "\", which every system
    // here reads as "/".
    std::string portable = inputText;
    std::replace(portable.begin(), portable.end(), '\\', '/');
    const fs::path input = platform::PathFromUtf8(portable);
    s.input = input.is_absolute() ? input : folder / input;
    if (periodColumn != kNoColumn && !fields[periodColumn].empty()) {
      s.returnPeriodText = fields[periodColumn];
      double t = 0.0;
      if (!TextToNumber(s.returnPeriodText, t) || !(t > 1.0)) {
        reporter.error(AtLine(number) + "再現期間「" + s.returnPeriodText + "」は1より大きい数ではありません");
        return false;
      }
      for (const Scenario& earlier : manifest.scenarios) {
        if (earlier.returnPeriod && *earlier.returnPeriod == t) {
          reporter.error(AtLine(number) + "再現期間「" + s.returnPeriodText + "」は" +
                         std::to_string(earlier.line) + "行目と同じです");
          return false;
        }
      }
      s.returnPeriod = t;
    }
    for (std::size_t k = 0; k < kSettingCount; ++k) {
      if (settingColumns[k] != kNoColumn) s.settingTexts[k] = fields[settingColumns[k]];
    }
    manifest.scenarios.push_back(std::move(s));
  }
  if (manifest.scenarios.empty()) {
    reporter.error(std::string(kManifestName) + "にシナリオがありません");
    return false;
  }
  return true;
}

bool ReadFirstInputTitles(const fs::path& manifestFile, std::vector<std::string>& titles, Reporter& reporter) {
  ScenarioManifest manifest;
  if (!ReadScenarioManifest(manifestFile, manifest, reporter)) return false;
  const Scenario& first = manifest.scenarios.front();
  std::string header;
  bool bom = false;
  if (!ReadInputHeader(first.input, header, bom)) {
    reporter.error(Prefix(first) + msg::kInputUnreadable);
    return false;
  }
  titles = TitlesUtf8(header);
  return true;
}

// ---- The command ------------------------------------------------------------------

BatchOutcome RunScenarioCommand(const ScenarioCommand& command, Reporter& reporter, BatchProgress* progress,
                                ScenarioPasses* passes, ScenarioSummary* summary) {
  // The summary file's provenance (digests, each scenario's column figures)
  // costs a pass over every byte: only when the file, or a map that carries
  // it, is asked for.
  const bool provenance = !command.summaryFile.empty() || (command.map != nullptr && command.map->wantsDigests());
  GapTable table;
  // The table's digest of the very bytes loaded.
  std::optional<Sha256> tableSha;
  if (provenance) tableSha.emplace();
  std::function<void(const char*, std::size_t)> onBytes;
  if (tableSha) onBytes = [&tableSha](const char* bytes, std::size_t size) { tableSha->Update(bytes, size); };
  if (!LoadGapTable(command.gapTableFile, table, reporter, onBytes)) return BatchOutcome::Failed;
  std::optional<std::string> tableDigest;
  if (tableSha) tableDigest = tableSha->HexDigest();

  ScenarioManifest manifest;
  if (!ReadScenarioManifest(command.manifest, manifest, reporter)) return BatchOutcome::Failed;
  std::vector<Scenario>& scenarios = manifest.scenarios;
  const std::size_t count = scenarios.size();
  if (command.output.empty()) {
    reporter.error(msg::kSelectOutputFile);
    return BatchOutcome::Failed;
  }
  // No file the run writes may take the place of another of its files,
  // however it is spelt, existing or not.
  std::vector<batch::RunFile> files = {{command.manifest, false}, {command.gapTableFile, false}};
  std::vector<std::string> names = {std::string(kManifestName), "ギャップ分布表"};
  for (const Scenario& s : scenarios) {
    files.push_back({s.input, false});
    names.push_back("シナリオ「" + s.name + "」の入力ファイル");
  }
  files.push_back({command.output, true});
  names.push_back("出力ファイル");
  if (!command.summaryFile.empty()) {
    files.push_back({command.summaryFile, true});
    names.push_back("集計ファイル");
  }
  const std::size_t summaryIndex = files.size() - 1;
  if (!command.mapFile.empty()) {
    files.push_back({command.mapFile, true});
    names.push_back("地図ファイル");
  }
  if (const auto shared = batch::FindSharedFile(files)) {
    if (!command.mapFile.empty() && shared->second == files.size() - 1) {
      reporter.error("地図ファイルには" + std::string(kManifestName) +
                     "・入力・出力・集計ファイルやギャップ分布表と別のファイルを指定してください");
    } else if (!command.summaryFile.empty() && shared->second == summaryIndex) {
      reporter.error("集計ファイルには" + std::string(kManifestName) +
                     "・入力・出力ファイルやギャップ分布表と別のファイルを指定してください");
    } else {
      reporter.error(names[shared->first] + "と" + names[shared->second] + "が同じです");
    }
    return BatchOutcome::Failed;
  }

  // The integration's points.
  const bool expected = manifest.allReturnPeriods();
  if (command.ruleGiven && !expected) {
    reporter.error("年平均被害額の積分の指定は、すべてのシナリオに再現期間があるときだけ使えます");
    return BatchOutcome::Failed;
  }
  ExceedanceCurve curve;
  if (expected) {
    std::vector<double> periods;
    for (const Scenario& s : scenarios) periods.push_back(*s.returnPeriod);
    std::string why;
    if (!MakeExceedanceCurve(periods, command.rule, curve, why)) {
      reporter.error(std::string(kManifestName) + "：" + why);
      return BatchOutcome::Failed;
    }
  }

  // Every scenario checked as a batch checks it, before anything is run.
  if (passes != nullptr) {
    passes->total.store(static_cast<unsigned>(2 * count));
    passes->done.store(0);
  }
  const bool byId = !command.idColumn.empty();
  std::optional<std::size_t> idNumber;  // from 0
  if (byId && AllDigits(command.idColumn)) {
    std::size_t n = 0;
    const auto r = std::from_chars(command.idColumn.data(), command.idColumn.data() + command.idColumn.size(), n);
    if (r.ec != std::errc() || n == 0 || n > 100000) {
      reporter.error("世帯を識別する列の番号「" + command.idColumn + "」は1以上の列番号ではありません");
      return BatchOutcome::Failed;
    }
    idNumber = n - 1;
  }
  std::vector<std::array<std::string, kSettingCount>> texts(count);
  std::vector<CommonSettings> settings(count);
  std::vector<std::size_t> idFields(count, 0);
  std::string idTitle;  // UTF-8
  OutputEncoding encoding = command.encoding;
  for (std::size_t s = 0; s < count; ++s) {
    const Scenario& scenario = scenarios[s];
    ScenarioReporter messages(reporter, Prefix(scenario));
    for (std::size_t k = 0; k < kSettingCount; ++k) {
      std::string own = command.settingTexts[k];
      // The manifest's numbers use "."; so do the command's from here on.
      if (command.decimalSeparator != ".") {
        for (std::size_t at; (at = own.find(command.decimalSeparator)) != std::string::npos;) {
          own.replace(at, command.decimalSeparator.size(), ".");
        }
      }
      texts[s][k] = scenario.settingTexts[k].empty() ? own : scenario.settingTexts[k];
    }
    const CommonSettingTexts view = {texts[s][0], texts[s][1], texts[s][2], texts[s][3]};
    if (!CheckCommonSettings(view, command.mode, settings[s], messages)) return BatchOutcome::Failed;
    std::string header;
    bool bom = false;
    const bool headerRead = ReadInputHeader(scenario.input, header, bom);
    if (s == 0 && encoding == OutputEncoding::FromInput) {
      encoding = headerRead && bom ? OutputEncoding::Utf8 : OutputEncoding::Cp932;
    }
    BatchOptions options;
    options.threads = command.threads;
    options.encoding = encoding;
    if (byId) {
      const std::vector<std::string> titles = headerRead ? TitlesUtf8(header) : std::vector<std::string>{};
      if (idNumber) {
        idFields[s] = *idNumber;
      } else if (headerRead) {
        const auto found = std::find(titles.begin(), titles.end(), command.idColumn);
        if (found == titles.end()) {
          messages.error("入力ファイルの見出しに、世帯を識別する列「" + command.idColumn + "」がありません");
          return BatchOutcome::Failed;
        }
        if (std::find(found + 1, titles.end(), command.idColumn) != titles.end()) {
          messages.error("入力ファイルの見出しに、世帯を識別する列「" + command.idColumn + "」が2つあります");
          return BatchOutcome::Failed;
        }
        idFields[s] = static_cast<std::size_t>(found - titles.begin());
      }
      if (s == 0) {
        idTitle = idFields[0] < titles.size() && !titles[idFields[0]].empty()
                      ? titles[idFields[0]]
                      : std::to_string(idFields[0] + 1) + "列目";
      }
      options.keepColumns = idFields[s] >= batch::kEchoFields;
    }
    if (!CheckBatchFiles(scenario.input, command.output, command.mode, messages, progress, options)) {
      return progress != nullptr && progress->cancelled() ? BatchOutcome::Cancelled : BatchOutcome::Failed;
    }
    if (passes != nullptr) passes->done.fetch_add(1);
  }
  if (!byId) idTitle = "行番号";

  // The header, in the result's code page.
  const bool utf8 = encoding == OutputEncoding::Utf8;
  std::string head = idTitle;
  for (const Scenario& s : scenarios) head += "," + s.name + "：復旧遅延被害額（百万円）";
  if (expected) head += ",年平均直接被害額（百万円）,年平均復旧遅延被害額（百万円）";
  if (utf8) {
    head = std::string(kBom) + head;
  } else {
    std::string cp932;
    if (!batch::Utf8ToCp932(head, cp932)) {
      reporter.error("シナリオ名か世帯を識別する列の見出しに CP932 で書けない文字があります。"
                     "UTF-8 で出力してください");
      return BatchOutcome::Failed;
    }
    head = std::move(cp932);
  }
  head += "\r\n";

  // The map's file is started beside its target now, so that a map that
  // cannot be written stops the command before the scenarios run.
  struct MapGuard {
    ScenarioResultSink* map;
    ~MapGuard() {
      if (map != nullptr) map->Discard();
    }
  } mapGuard{command.map};
  if (command.map != nullptr) {
    std::vector<std::string> titles = {idTitle};
    for (const Scenario& s : scenarios) titles.push_back(s.name + "：復旧遅延被害額（百万円）");
    if (expected) {
      titles.emplace_back("年平均直接被害額（百万円）");
      titles.emplace_back("年平均復旧遅延被害額（百万円）");
    }
    if (!command.map->Start(titles, utf8, reporter)) return BatchOutcome::Failed;
  }

  // Every scenario through the engine; its lines are read as written.
  HouseholdIds ids;
  std::vector<std::uint64_t> lineHashes;
  std::vector<ScenarioCells> cells(count);
  std::vector<ScenarioFigures> figures(count);
  for (std::size_t s = 0; s < count; ++s) {
    const Scenario& scenario = scenarios[s];
    ScenarioReporter messages(reporter, Prefix(scenario));
    Join join(ids, lineHashes, cells[s], byId, idFields[s], s == 0);
    BatchOptions options;
    options.threads = command.threads;
    options.encoding = encoding;
    options.keepColumns = byId && idFields[s] >= batch::kEchoFields;
    options.writeResultFile = false;
    options.resultBlocks = [&join](std::uint64_t first, std::string_view block) { join.Block(first, block); };
    BatchSummary run;
    const BatchOutcome outcome = RunBatch(scenario.input, command.output, command.mode, settings[s], table, messages,
                                          progress, options, provenance ? &run : nullptr);
    if (outcome != BatchOutcome::Completed) return outcome;
    join.End();
    if (!join.fault().empty()) {
      messages.error(join.fault());
      return BatchOutcome::Failed;
    }
    if (passes != nullptr) passes->done.fetch_add(1);
    ScenarioFigures& f = figures[s];
    f.scenario = scenario;
    f.settingTexts = texts[s];
    f.settings = settings[s];
    f.input = Absolute(scenario.input);
    f.computed = join.computed();
    f.notComputable = join.notComputable();
    f.dataLines = f.computed + f.notComputable;
    if (provenance) {
      f.inputBytes = run.inputBytes;
      f.inputSha256 = run.inputSha256;
      f.columns = run.columns;
    }
  }

  // The joined result, household by household in order of first appearance.
  const std::size_t households = byId ? ids.size() : cells[0].state.size();
  for (ScenarioCells& c : cells) c.Grow(households);
  batch::ResultFile result;
  if (!result.Create(command.output)) {
    reporter.error(msg::kOutputUnwritable);
    return BatchOutcome::Failed;
  }
  std::optional<Sha256> digest;
  if (provenance) digest.emplace();
  bool written = true;
  const auto write = [&](const std::string& bytes) {
    if (digest) digest->Update(bytes.data(), bytes.size());
    written = written && result.Write(bytes);
  };
  write(head);

  // The counts and what the risk curve draws: sums in household order, so
  // the same for every thread count.
  std::vector<double> curveDelay(count, 0.0), curveDirect(count, 0.0);
  std::uint64_t withExpected = 0, withoutExpected = 0;
  for (std::size_t h = 0; h < households; ++h) {
    bool complete = true;
    for (std::size_t s = 0; s < count; ++s) {
      const std::uint8_t state = cells[s].state[h];
      if (state == kAbsent) ++figures[s].absent;
      complete = complete && state != kNotComputable;
    }
    if (!complete) {
      ++withoutExpected;
      continue;
    }
    ++withExpected;
    for (std::size_t s = 0; s < count; ++s) {
      if (cells[s].state[h] != kComputed) continue;
      curveDelay[s] += cells[s].delay[h];
      curveDirect[s] += cells[s].direct[h];
    }
  }

  // The lines, formatted a piece of households per thread and written in
  // order; the totals of the expected values are exact sums, merged in any
  // order to the same value.
  struct Piece {
    std::string text;
    ExactSum direct;
    ExactSum delay;
    bool failed = false;
  };
  const auto format = [&](std::size_t from, std::size_t to, Piece& piece) noexcept {
    try {
      std::vector<double> delays(count), directs(count);
      char number[kBatchNumberMax];
      std::string& out = piece.text;
      for (std::size_t h = from; h < to; ++h) {
        if (byId) {
          out += ids[h];
        } else {
          out += std::to_string(h + 2);  // the line in the files, the header being 1
        }
        bool complete = true;
        for (std::size_t s = 0; s < count; ++s) {
          out += ',';
          switch (cells[s].state[h]) {
            case kAbsent:  // not flooded in this scenario
              delays[s] = directs[s] = 0.0;
              out += '0';
              break;
            case kComputed:
              delays[s] = cells[s].delay[h];
              directs[s] = cells[s].direct[h];
              out.append(number, PutSeven(number, delays[s]));
              break;
            default:
              complete = false;
              break;
          }
        }
        if (expected && complete) {
          out += ',';
          char* end = PutSeven(number, ExpectedAnnualValue(curve, directs, command.rule));
          piece.direct.Add(ReadBack(std::string_view(number, static_cast<std::size_t>(end - number))));
          out.append(number, end);
          out += ',';
          end = PutSeven(number, ExpectedAnnualValue(curve, delays, command.rule));
          piece.delay.Add(ReadBack(std::string_view(number, static_cast<std::size_t>(end - number))));
          out.append(number, end);
        } else if (expected) {
          out += ",,";
        }
        out += "\r\n";
      }
    } catch (...) {
      piece.failed = true;
    }
  };
  const std::size_t kPiece = std::max<std::size_t>(1, command.pieceHouseholds);
  const std::size_t threads = BatchThreads(command.threads);
  std::vector<Piece> pieces(threads);
  ExactSum expectedDirect, expectedDelay;
  bool formatted = true;
  for (std::size_t start = 0; start < households && written && formatted; start += threads * kPiece) {
    std::size_t used = 0;
    {
      std::vector<std::jthread> helpers;
      for (std::size_t t = 1; t < threads && start + t * kPiece < households; ++t) {
        const std::size_t from = start + t * kPiece;
        const std::size_t to = std::min(from + kPiece, households);
        try {
          helpers.emplace_back(format, from, to, std::ref(pieces[t]));
        } catch (const std::system_error&) {
          format(from, to, pieces[t]);  // no thread to be had: this one does it
        }
        used = t;
      }
      format(start, std::min(start + kPiece, households), pieces[0]);
    }  // the helpers have ended
    for (std::size_t t = 0; t <= used; ++t) {
      Piece& piece = pieces[t];
      formatted = formatted && !piece.failed;
      write(piece.text);
      if (command.map != nullptr) command.map->Lines(piece.text);
      expectedDirect.Add(piece.direct);
      expectedDelay.Add(piece.delay);
      piece.text.clear();
      piece.direct = ExactSum();
      piece.delay = ExactSum();
    }
  }
  if (!formatted) {
    reporter.error("メモリーが足りないため、シナリオ計算の結果を書けません");
    return BatchOutcome::Failed;
  }
  // The last moment a cancel is heeded, as in a batch run.
  if (progress != nullptr && !progress->lineDone(households, 0, 0)) progress->cancel();
  if (progress != nullptr && progress->cancelled()) return BatchOutcome::Cancelled;
  if (!written || !result.Commit()) {
    reporter.error(msg::kOutputUnwritable);
    return BatchOutcome::Failed;
  }

  ScenarioSummary done;
  done.version = kVersion;
  done.mode = command.mode;
  done.gapTable = Absolute(command.gapTableFile);
  done.gapTableSha256 = tableDigest.value_or("");
  done.manifest = Absolute(command.manifest);
  if (provenance) done.manifestSha256 = Sha256OfFile(command.manifest).value_or("");
  done.output = Absolute(command.output);
  if (digest) done.outputSha256 = digest->HexDigest();
  done.encoding = encoding;
  done.idColumn = command.idColumn;
  done.idTitle = idTitle;
  done.households = households;
  done.withExpected = withExpected;
  done.withoutExpected = withoutExpected;
  done.expected = expected;
  done.rule = command.rule;
  done.curve = curve;
  done.expectedDirect = expectedDirect.Value();
  done.expectedDelay = expectedDelay.Value();
  for (std::size_t s = 0; s < count; ++s) {
    figures[s].totalDelay = curveDelay[s];
    figures[s].totalDirect = curveDirect[s];
  }
  done.scenarios = std::move(figures);
  // The map follows the output; the output stays whatever becomes of it.
  if (command.map != nullptr) {
    mapGuard.map = nullptr;
    if (!command.map->Finish(done, reporter)) {
      if (summary != nullptr) *summary = std::move(done);
      return BatchOutcome::Failed;
    }
  }
  if (!command.summaryFile.empty()) {
    batch::ResultFile out;
    const std::string json = ScenarioSummaryJson(done);
    if (!out.Create(command.summaryFile) || !out.Write(json) || !out.Commit()) {
      reporter.error(msg::kSummaryUnwritable);
      if (summary != nullptr) *summary = std::move(done);
      return BatchOutcome::Failed;
    }
  }
  if (summary != nullptr) *summary = std::move(done);
  reporter.info(kCompleted);
  return BatchOutcome::Completed;
}

std::string ScenarioSummaryJson(const ScenarioSummary& s) {
  Json scenarios = Json::array();
  for (const ScenarioFigures& f : s.scenarios) {
    const std::optional<double>& t = f.scenario.returnPeriod;
    scenarios.push_back({
        {"name", f.scenario.name},
        {"manifestLine", f.scenario.line},
        {"returnPeriod", t ? Json(*t) : Json(nullptr)},
        {"exceedanceProbability", t ? Json(1.0 / *t) : Json(nullptr)},
        {"settings", SettingsJson(s.mode, f.settingTexts, f.settings)},
        {"input", {{"path", platform::Utf8FromPath(f.input)}, {"bytes", f.inputBytes}, {"sha256", f.inputSha256}}},
        {"lines",
         {{"data", f.dataLines}, {"computed", f.computed}, {"notComputable", f.notComputable}, {"absent", f.absent}}},
        {"columns", ColumnsJson(f.columns)},
        {"householdsWithExpectedValue", {{"directDamage", f.totalDirect}, {"delayDamage", f.totalDelay}}},
    });
  }
  Json integration = nullptr;
  Json expected = nullptr;
  if (s.expected) {
    integration = {{"method", "trapezoid"},
                   {"probability", "1/T"},
                   {"zeroDamageReturnPeriod",
                    s.rule.zeroDamageReturnPeriod != 0.0 ? Json(s.rule.zeroDamageReturnPeriod) : Json(nullptr)},
                   {"tail", s.rule.tail == EadTail::Flat ? "flat" : "none"},
                   {"text", EadRuleText(s.rule)}};
    expected = {{"directDamage", s.expectedDirect}, {"delayDamage", s.expectedDelay}};
  }
  const Json json = {
      {"version", s.version},
      {"mode", s.mode == Mode::WithRiskPremium ? 1 : 0},
      {"gapTable", {{"path", platform::Utf8FromPath(s.gapTable)}, {"sha256", s.gapTableSha256}}},
      {"manifest", {{"path", platform::Utf8FromPath(s.manifest)}, {"sha256", s.manifestSha256}}},
      {"output",
       {{"path", platform::Utf8FromPath(s.output)},
        {"sha256", s.outputSha256},
        {"encoding", s.encoding == OutputEncoding::Utf8 ? "utf-8" : "cp932"}}},
      {"idColumn", s.idColumn.empty() ? Json(nullptr) : Json({{"given", s.idColumn}, {"title", s.idTitle}})},
      {"households",
       {{"total", s.households}, {"withExpectedValue", s.withExpected}, {"withoutExpectedValue", s.withoutExpected}}},
      {"scenarios", scenarios},
      {"integration", integration},
      {"expectedAnnualDamage", expected},
  };
  return DumpJson(json);
}

std::string ScenarioSummaryLine(const ScenarioSummary& s) {
  std::string line = "集計：シナリオ " + std::to_string(s.scenarios.size()) + "、世帯 " + std::to_string(s.households);
  if (!s.expected) {
    return line + "。再現期間のないシナリオがあるため、年平均被害額は求めていません";
  }
  line += "（期待値あり " + std::to_string(s.withExpected) + "、計算不可のシナリオがあり期待値なし " +
          std::to_string(s.withoutExpected) + "）\n";
  line += "年平均直接被害額の合計 " + SevenDigitsAsWritten(s.expectedDirect) + "（百万円）、年平均復旧遅延被害額の合計 " +
          SevenDigitsAsWritten(s.expectedDelay) + "（百万円）\n";
  line += "積分：" + EadRuleText(s.rule);
  return line;
}

}  // namespace velmora
