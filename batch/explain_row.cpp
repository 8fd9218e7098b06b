#include "batch/explain_row.h"

#include <algorithm>
#include <charconv>
#include <span>

#include "batch/json_parts.h"
#include "batch/messages.h"
#include "platform/platform.h"
#include "batch/row.h"
#include "batch/summary.h"
#include "core/number_text.h"

namespace velmora {
namespace {

constexpr std::array<std::string_view, 4> kSettingNames = {"InsuranceRate", "DamageProbability", "InterestRate",
                                                           "MarkupRate"};

// The household's fields in the order of the input line.
struct HouseholdField {
  std::string_view name;
  float HouseholdInput::*field;
};
constexpr std::array<HouseholdField, 8> kHouseholdFields = {{
    {"HouseDamage", &HouseholdInput::HouseDamage},
    {"GoodsDamage", &HouseholdInput::GoodsDamage},
    {"AnnualIncome", &HouseholdInput::AnnualIncome},
    {"FinancialAssets", &HouseholdInput::FinancialAssets},
    {"LandAssets", &HouseholdInput::LandAssets},
    {"GoodsValue", &HouseholdInput::GoodsValue},
    {"HousePrice", &HouseholdInput::HousePrice},
    {"Consumption", &HouseholdInput::Consumption},
}};

std::array<float, 4> ResultValues(const ModelResult& r) {
  return {r.PreferenceFactor, r.WillingnessToPay, r.OptimalCoverage, r.DelayDamage};
}

// The four results as the file writes them ("" for the columns mode 0
// leaves empty) and as the window shows them ("-" there).
std::array<std::string, 4> FileTexts(const Explanation& e) {
  const std::array<float, 4> values = ResultValues(e.results);
  std::array<std::string, 4> texts;
  for (std::size_t c = 0; c < 4; ++c) {
    if (e.mode == Mode::WithRiskPremium || c == 3) texts[c] = FormatBatchNumber(values[c]);
  }
  return texts;
}

std::array<std::string, 4> DisplayTexts(const Explanation& e) {
  const std::array<float, 4> values = ResultValues(e.results);
  std::array<std::string, 4> texts;
  for (std::size_t c = 0; c < 4; ++c) {
    texts[c] = e.mode == Mode::WithRiskPremium || c == 3 ? FormatDisplay(values[c], ".") : "-";
  }
  return texts;
}

std::string SingleText(float value) {
  char buffer[32];
  const auto r = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, r.ptr);
}

std::string ModeText(Mode mode) {
  return mode == Mode::WithRiskPremium ? "1（リスクプレミアムを考慮）" : "0（リスクプレミアムを考慮しない）";
}

void Line(std::string& out, std::string_view name, std::string_view value, std::string_view more = {}) {
  out += "  ";
  out += name;
  out.append(name.size() < 20 ? 20 - name.size() : 1, ' ');
  out += value;
  if (!more.empty()) {
    out.append(value.size() < 14 ? 14 - value.size() : 1, ' ');
    out += more;
  }
  out += '\n';
}

Json QuantityJson(const NamedQuantity& q) {
  switch (q.kind) {
    case QuantityKind::Single:
      return SingleJson(static_cast<float>(q.value));
    case QuantityKind::Double:
      return q.value;
    case QuantityKind::Key:
      return static_cast<long>(q.value);
    case QuantityKind::Text:
      return std::string(q.text);
    case QuantityKind::Missing:
      break;
  }
  return nullptr;
}

}  // namespace

namespace {

Explanation Start(Mode mode, const CommonSettingTexts& settingTexts, const CommonSettings& settings,
                  const std::filesystem::path& gapTable) {
  Explanation e;
  e.mode = mode;
  for (std::size_t k = 0; k < 4; ++k) e.settingTexts[k] = std::string(settingTexts[k]);
  e.settings = settings;
  e.gapTable = gapTable;
  return e;
}

void Compute(Explanation& e, const CommonSettings& settings, const GapTable& table) {
  const Mode mode = e.mode;
  bool computed = false;
  if (mode == Mode::WithRiskPremium) {
    WithRiskPremiumTrace trace;
    computed = ComputeWithRiskPremium(e.household, settings, table, e.results, &trace);
    e.quantities = ExplainQuantities(trace);
    if (!computed) e.failed = FindFailedStep(trace);
  } else {
    WithoutRiskPremiumTrace trace;
    computed = ComputeWithoutRiskPremium(e.household, settings, table, e.results, &trace);
    e.quantities = ExplainQuantities(trace);
    if (!computed) e.failed = FindFailedStep(trace);
  }
  if (!computed && !e.failed) e.failed = FailedStep{"DelayDamage", {}, e.quantities.size() - 1};
  if (e.failed) e.quantities.resize(e.failed->position);
}

}  // namespace

Explanation ExplainRow(std::string_view row, Mode mode, const CommonSettingTexts& settingTexts,
                       const CommonSettings& settings, const GapTable& table, const std::filesystem::path& gapTable) {
  Explanation e = Start(mode, settingTexts, settings, gapTable);
  e.row = std::string(row);
  e.fromRow = true;
  // A batch's check refuses a line short of fields before any row check.
  e.fields = row.empty() ? 0 : static_cast<std::size_t>(std::count(row.begin(), row.end(), ',')) + 1;
  if (e.fields < HouseholdFields(mode)) {
    e.tooFewFields = true;
    return e;
  }
  std::array<std::string_view, batch::kEchoFields> fields;
  batch::SplitEight(row, fields);
  RowRejection why;
  if (!ParseHouseholdRow(std::span<const std::string_view>(fields), mode, e.household, &why)) {
    e.rejected = why;
    return e;
  }
  Compute(e, settings, table);
  return e;
}

Explanation ExplainHousehold(const HouseholdInput& household, Mode mode, const CommonSettingTexts& settingTexts,
                             const CommonSettings& settings, const GapTable& table,
                             const std::filesystem::path& gapTable) {
  Explanation e = Start(mode, settingTexts, settings, gapTable);
  e.household = household;
  Compute(e, settings, table);
  return e;
}

std::string ExplanationFailure(const Explanation& e) {
  if (e.tooFewFields) return msg::kInputFormatInvalid;
  if (e.rejected) {
    std::string message = msg::kRowRejected;
    switch (e.rejected->test) {
      case RowRejection::Test::NotNumeric:
        message += std::to_string(e.rejected->field + 1) + "番目の値（" + msg::kFieldNames[e.rejected->field] + "）" +
                   msg::kRowFieldNotNumeric;
        break;
      case RowRejection::Test::AssetSumZero:
        message += msg::kRowAssetSumZero;
        break;
      case RowRejection::Test::LiquiditySumZero:
        message += msg::kRowLiquiditySumZero;
        break;
    }
    return message;
  }
  if (e.failed) {
    std::string message = msg::kModelFailed;
    message += e.failed->quantity;
    if (!e.failed->part.empty()) {
      message += " の途中の ";
      message += e.failed->part;
    }
    message += " ";
    message += msg::kStepNotFinite;
    return message;
  }
  return "";
}

std::string ExplanationText(const Explanation& e) {
  std::string out;
  out += "モード: " + ModeText(e.mode) + "\n";
  out += "ギャップ分布表: " + platform::Utf8FromPath(e.gapTable) + "\n";
  out += "設定値（入力 / 使った単精度値）:\n";
  const std::array<float, 4> singles = {e.settings.InsuranceRate, e.settings.DamageProbability,
                                        e.settings.InterestRate, e.settings.MarkupRate};
  for (std::size_t k = 0; k < 4; ++k) {
    const bool used = (k == 0) != (e.mode == Mode::WithRiskPremium);
    Line(out, kSettingNames[k], e.settingTexts[k], used ? SingleText(singles[k]) : "（このモードでは使わない）");
  }
  if (e.fromRow) out += "入力行: " + e.row + "\n";
  if (e.rejected || e.tooFewFields) return out;
  out += "世帯の値（単精度）:\n";
  for (std::size_t i = 0; i < HouseholdFields(e.mode); ++i) {
    Line(out, kHouseholdFields[i].name, SingleText(e.household.*kHouseholdFields[i].field));
  }
  out += "計算過程:\n";
  for (const NamedQuantity& q : e.quantities) Line(out, q.name, QuantityText(q));
  if (e.failed) return out;
  out += "結果（ファイル / 画面）:\n";
  const std::array<std::string, 4> file = FileTexts(e);
  const std::array<std::string, 4> display = DisplayTexts(e);
  for (std::size_t c = 0; c < 4; ++c) Line(out, kResultNames[c], file[c].empty() ? "（空欄）" : file[c], display[c]);
  return out;
}

std::string ExplanationJson(const Explanation& e) {
  Json json = {
      {"mode", e.mode == Mode::WithRiskPremium ? 1 : 0},
      {"gapTable", platform::Utf8FromPath(e.gapTable)},
      {"settings", SettingsJson(e.mode, e.settingTexts, e.settings)},
  };
  // A row from a CP932 file is shown as its characters, not replaced.
  if (e.fromRow) json["row"] = batch::IsUtf8(e.row) ? e.row : platform::Utf8FromCp932(e.row);
  if (!e.rejected && !e.tooFewFields) {
    Json household = Json::object();
    for (std::size_t i = 0; i < HouseholdFields(e.mode); ++i) {
      household[std::string(kHouseholdFields[i].name)] = SingleJson(e.household.*kHouseholdFields[i].field);
    }
    json["household"] = household;
    Json quantities = Json::object();
    for (const NamedQuantity& q : e.quantities) quantities[std::string(q.name)] = QuantityJson(q);
    json["quantities"] = quantities;
  }
  if (e.computed()) {
    const std::array<std::string, 4> file = FileTexts(e);
    const std::array<std::string, 4> display = DisplayTexts(e);
    Json results = Json::object();
    Json shown = Json::object();
    for (std::size_t c = 0; c < 4; ++c) {
      results[std::string(kResultNames[c])] = file[c];
      shown[std::string(kResultNames[c])] = display[c];
    }
    json["results"] = results;
    json["display"] = shown;
  } else if (e.tooFewFields) {
    json["failure"] = {{"check", "fields"},
                       {"fields", e.fields},
                       {"minimum", HouseholdFields(e.mode)},
                       {"message", ExplanationFailure(e)}};
  } else if (e.rejected) {
    static constexpr const char* kTests[] = {"NotNumeric", "AssetSumZero", "LiquiditySumZero"};
    Json failure = {{"check", "row"}, {"test", kTests[static_cast<int>(e.rejected->test)]}};
    if (e.rejected->test == RowRejection::Test::NotNumeric) failure["field"] = e.rejected->field + 1;
    failure["message"] = ExplanationFailure(e);
    json["failure"] = failure;
  } else {
    Json failure = {{"check", "model"}, {"step", std::string(e.failed->quantity)}};
    if (!e.failed->part.empty()) failure["part"] = std::string(e.failed->part);
    failure["message"] = ExplanationFailure(e);
    json["failure"] = failure;
  }
  return DumpJson(json);
}

}  // namespace velmora
