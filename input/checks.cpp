#include "input/checks.h"

#include <cmath>

#include "core/messages.h"
#include "core/number_text.h"

namespace velmora {
namespace {

// The zero tests: the double sum rounded to single; only exactly 0 fails.
bool SumIsZero(float a, float b) {
  return static_cast<float>(static_cast<double>(a) + static_cast<double>(b)) == 0.0f;
}

// Converts the texts of one record; false when any does not convert. Doing
// the numeric test and the conversion in one pass gives the same values as
// testing first and converting again.
template <std::size_t N>
bool ConvertAll(const std::array<std::string_view, N>& texts, std::size_t count, std::array<float, N>& values,
                std::string_view sep) {
  bool ok = true;
  for (std::size_t i = 0; i < count; ++i) ok = TextToNumber(texts[i], values[i], sep) && ok;
  return ok;
}

// The window and the CSV give the values in one order (income before
// assets); the record keeps its own, so every value is stored by name.
// Consumption only when the mode reads it.
void StoreHousehold(const float* v, bool withConsumption, HouseholdInput& h) {
  h.HouseDamage = v[0];
  h.GoodsDamage = v[1];
  h.AnnualIncome = v[2];
  h.FinancialAssets = v[3];
  h.LandAssets = v[4];
  h.GoodsValue = v[5];
  h.HousePrice = v[6];
  if (withConsumption) h.Consumption = v[7];
}

}  // namespace

bool CheckCommonSettings(const CommonSettingTexts& texts, Mode mode, CommonSettings& settings,
                         Reporter& reporter, std::string_view sep) {
  const bool withPremium = mode == Mode::WithRiskPremium;
  std::array<float, 4> values{};
  if (!ConvertAll(texts, withPremium ? 4 : 1, values, sep)) {
    reporter.error(msg::kCommonSettingsInvalid);
    return false;
  }
  // In mode 0 the markup box is not tested as a number; a text there that is
  // not one (left from mode 1, or restored) is still a settings error.
  double markup = 0.0;
  if (!TextToNumber(texts[3], markup, sep)) {
    reporter.error(msg::kCommonSettingsInvalid);
    return false;
  }
  if (markup == 0.0) {
    reporter.error(msg::kMarkupRateZero);
    return false;
  }
  settings.InsuranceRate = values[0];
  if (withPremium) {
    settings.DamageProbability = values[1];
    settings.InterestRate = values[2];
    settings.MarkupRate = values[3];
  }
  return true;
}

bool ReadHouseholdFromScreen(const HouseholdTexts& texts, Mode mode, HouseholdInput& h, Reporter& reporter,
                             std::string_view sep) {
  const bool withPremium = mode == Mode::WithRiskPremium;
  std::array<float, 8> v{};
  if (!ConvertAll(texts, HouseholdFields(mode), v, sep)) {
    reporter.error(msg::kInputValuesInvalid);
    return false;
  }
  StoreHousehold(v.data(), withPremium, h);
  if (SumIsZero(h.HousePrice, h.GoodsValue)) {
    reporter.error(msg::kAssetSumZero);
    return false;
  }
  if (SumIsZero(h.AnnualIncome, h.FinancialAssets)) {
    reporter.error(msg::kLiquiditySumZero);
    return false;
  }
  return true;
}

bool ParseHouseholdRow(std::span<const std::string_view> fields, Mode mode, HouseholdInput& h, RowRejection* why) {
  const std::size_t count = HouseholdFields(mode);
  // The batch passes no `why`: its path stays as it was, the reason is
  // only looked for once a line has failed.
  const auto refuse = [why](RowRejection::Test test, std::size_t field) {
    if (why != nullptr) *why = {test, field};
    return false;
  };
  if (fields.size() < count) return refuse(RowRejection::Test::NotNumeric, fields.size());
  std::array<float, 8> v = {};
  for (std::size_t i = 0; i < count; ++i) {
    if (!TextToNumber(fields[i], v[i])) return refuse(RowRejection::Test::NotNumeric, i);
  }
  return CheckHouseholdValues(v, mode, h, why);
}

bool CheckHouseholdValues(const std::array<float, 8>& v, Mode mode, HouseholdInput& h, RowRejection* why) {
  const std::size_t count = HouseholdFields(mode);
  const auto refuse = [why](RowRejection::Test test, std::size_t field) {
    if (why != nullptr) *why = {test, field};
    return false;
  };
  // No text converts to a value that is not finite.
  for (std::size_t i = 0; i < count; ++i) {
    if (!std::isfinite(v[i])) return refuse(RowRejection::Test::NotNumeric, i);
  }
  StoreHousehold(v.data(), count == 8, h);
  if (SumIsZero(h.GoodsValue, h.HousePrice)) return refuse(RowRejection::Test::AssetSumZero, 0);
  if (SumIsZero(h.FinancialAssets, h.AnnualIncome)) return refuse(RowRejection::Test::LiquiditySumZero, 0);
  return true;
}

}  // namespace velmora
