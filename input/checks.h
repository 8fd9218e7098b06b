#pragma once
// The three input checks: texts in, checked records out. The two checks of the
// window report through a Reporter; the CSV row check is silent.
#include <array>
#include <cstddef>
#include <span>
#include <string_view>

#include "core/records.h"
#include "core/reporter.h"

namespace velmora {

// Texts of txtC1..txtC4: insurance rate, damage probability, interest rate,
// markup rate.
using CommonSettingTexts = std::array<std::string_view, 4>;

// The model's default settings, as the boxes and the command line start.
inline constexpr CommonSettingTexts kDefaultCommonSettingTexts = {"0.610", "0.025", "0.040", "3.140"};

// Texts of txtU2..txtU9: house damage, goods damage, annual income, financial
// assets, land assets, goods value, house price, consumption.
using HouseholdTexts = std::array<std::string_view, 8>;

// Tests the settings the mode needs, refuses a markup rate of 0, then stores
// InsuranceRate (and in mode 1 the other three). Nothing is stored on failure.
bool CheckCommonSettings(const CommonSettingTexts& texts, Mode mode, CommonSettings& settings,
                         Reporter& reporter, std::string_view decimalSeparator = ".");

// Tests and stores the household boxes of the mode (Consumption only in mode
// 1), then refuses a zero goods value + house price or a zero income + assets.
bool ReadHouseholdFromScreen(const HouseholdTexts& texts, Mode mode, HouseholdInput& household,
                             Reporter& reporter, std::string_view decimalSeparator = ".");

// Which test of the row check refused a line.
struct RowRejection {
  enum class Test {
    NotNumeric,      // `field` (position 0..7) is not a number
    AssetSumZero,    // GoodsValue + HousePrice is 0
    LiquiditySumZero  // FinancialAssets + AnnualIncome is 0
  };
  Test test = Test::NotNumeric;
  std::size_t field = 0;  // NotNumeric only
};

// One data line of a batch input file, split at the commas (at least 8
// fields; missing ones empty). Silent: false when the line cannot be
// computed, and then, when `why` is given, which test refused it. Fields are
// always read with ".".
bool ParseHouseholdRow(std::span<const std::string_view> fields, Mode mode, HouseholdInput& household,
                       RowRejection* why = nullptr);

// The same row check on values already read (in the CSV's order, income
// before assets): a value that is not finite (NaN for a field that was not a
// number) is refused as ParseHouseholdRow refuses a field that is not one.
// The eighth value is read in mode 1 only.
bool CheckHouseholdValues(const std::array<float, 8>& values, Mode mode, HouseholdInput& household,
                          RowRejection* why = nullptr);

}  // namespace velmora
