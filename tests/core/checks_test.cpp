#include <gtest/gtest.h>

#include "core/messages.h"
#include "input/checks.h"
#include "test_support.h"

namespace velmora {
namespace {

using test::RecordingReporter;

const CommonSettingTexts kDefaults = {"0.610", "0.025", "0.040", "3.140"};
const HouseholdTexts kHousehold = {"9.725", "7.380", "4.810", "3.570", "7.416", "14.759", "22.616", "3.321"};

std::vector<std::string> Errors(const RecordingReporter& r) {
  std::vector<std::string> out;
  for (const auto& m : r.messages) {
    EXPECT_TRUE(m.isError);
    out.push_back(m.text);
  }
  return out;
}

TEST(CheckCommonSettings, StoresWhatTheModeNeeds) {
  RecordingReporter rep;
  CommonSettings s;
  ASSERT_TRUE(CheckCommonSettings(kDefaults, Mode::WithRiskPremium, s, rep));
  EXPECT_EQ(s.InsuranceRate, 0.61f);
  EXPECT_EQ(s.DamageProbability, 0.025f);
  EXPECT_EQ(s.InterestRate, 0.04f);
  EXPECT_EQ(s.MarkupRate, 3.14f);

  // A later mode-0 check keeps the mode-1 values; bad texts in C2/C3 do not matter.
  ASSERT_TRUE(CheckCommonSettings({"-0.5", "abc", "", "2"}, Mode::WithoutRiskPremium, s, rep));
  EXPECT_EQ(s.InsuranceRate, -0.5f);
  EXPECT_EQ(s.DamageProbability, 0.025f);
  EXPECT_EQ(s.InterestRate, 0.04f);
  EXPECT_EQ(s.MarkupRate, 3.14f);
  EXPECT_TRUE(rep.messages.empty());
}

TEST(CheckCommonSettings, MessagesAndTheirOrder) {
  struct Case {
    CommonSettingTexts texts;
    Mode mode;
    const char* message;
  } cases[] = {
      {{"", "0.025", "0.040", "3.140"}, Mode::WithoutRiskPremium, msg::kCommonSettingsInvalid},
      {{"", "0.025", "0.040", "3.140"}, Mode::WithRiskPremium, msg::kCommonSettingsInvalid},
      {{"x", "0.025", "0.040", "3.140"}, Mode::WithRiskPremium, msg::kCommonSettingsInvalid},
      {{"0.610", "0.025", "", "0"}, Mode::WithRiskPremium, msg::kCommonSettingsInvalid},  // before markup
      {{"0.610", "0.025", "0.040", "0"}, Mode::WithRiskPremium, msg::kMarkupRateZero},
      {{"0.610", "0.025", "0.040", "0"}, Mode::WithoutRiskPremium, msg::kMarkupRateZero},
      {{"0.610", "0.025", "0.040", "0.000"}, Mode::WithoutRiskPremium, msg::kMarkupRateZero},
      {{"0.610", "0.025", "0.040", "-0"}, Mode::WithRiskPremium, msg::kMarkupRateZero},
      {{"0.610", "0.025", "0.040", "0e3"}, Mode::WithRiskPremium, msg::kMarkupRateZero},
      // Mode 0 does not test the markup box as a number, but a text there
      // that is not one is still a settings error.
      {{"0.610", "0.025", "0.040", "abc"}, Mode::WithoutRiskPremium, msg::kCommonSettingsInvalid},
      {{"0.610", "0.025", "0.040", "1e39"}, Mode::WithRiskPremium, msg::kCommonSettingsInvalid},
  };
  for (const Case& c : cases) {
    RecordingReporter rep;
    CommonSettings s{1, 2, 3, 4};
    EXPECT_FALSE(CheckCommonSettings(c.texts, c.mode, s, rep));
    EXPECT_EQ(Errors(rep), std::vector<std::string>{c.message}) << c.texts[0] << "|" << c.texts[3];
    EXPECT_EQ(s.InsuranceRate, 1.0f) << "nothing stored on failure";
    EXPECT_EQ(s.MarkupRate, 4.0f);
  }
  RecordingReporter rep;
  CommonSettings s;
  EXPECT_TRUE(CheckCommonSettings({"0.610", "x", "y", "-2"}, Mode::WithoutRiskPremium, s, rep));
  EXPECT_TRUE(CheckCommonSettings({"0,610", "0,025", "0,040", "3,140"}, Mode::WithRiskPremium, s, rep, ","));
  EXPECT_EQ(s.MarkupRate, 3.14f);
}

TEST(ReadHouseholdFromScreen, MapsBoxesByName) {
  RecordingReporter rep;
  HouseholdInput h;
  h.Consumption = 42.0f;
  ASSERT_TRUE(ReadHouseholdFromScreen(kHousehold, Mode::WithoutRiskPremium, h, rep));
  EXPECT_EQ(h.HouseDamage, 9.725f);
  EXPECT_EQ(h.GoodsDamage, 7.38f);
  EXPECT_EQ(h.AnnualIncome, 4.81f);
  EXPECT_EQ(h.FinancialAssets, 3.57f);
  EXPECT_EQ(h.LandAssets, 7.416f);
  EXPECT_EQ(h.GoodsValue, 14.759f);
  EXPECT_EQ(h.HousePrice, 22.616f);
  EXPECT_EQ(h.Consumption, 42.0f) << "mode 0 leaves consumption alone";
  ASSERT_TRUE(ReadHouseholdFromScreen(kHousehold, Mode::WithRiskPremium, h, rep));
  EXPECT_EQ(h.Consumption, 3.321f);

  HouseholdTexts bad = kHousehold;
  bad[7] = "not a number";
  EXPECT_TRUE(ReadHouseholdFromScreen(bad, Mode::WithoutRiskPremium, h, rep));
  EXPECT_TRUE(rep.messages.empty());
}

TEST(ReadHouseholdFromScreen, NumericAndZeroSumTests) {
  auto run = [](HouseholdTexts texts, Mode mode) {
    RecordingReporter rep;
    HouseholdInput h;
    const bool ok = ReadHouseholdFromScreen(texts, mode, h, rep);
    auto errors = Errors(rep);
    EXPECT_EQ(ok, errors.empty());
    return errors.empty() ? std::string() : errors.front() + (errors.size() > 1 ? " (more)" : "");
  };
  HouseholdTexts t = kHousehold;
  t[7] = "";
  EXPECT_EQ(run(t, Mode::WithRiskPremium), msg::kInputValuesInvalid);
  t = kHousehold;
  t[0] = "abc";
  EXPECT_EQ(run(t, Mode::WithoutRiskPremium), msg::kInputValuesInvalid);
  t = kHousehold;
  t[5] = "5";
  t[6] = "-5";
  EXPECT_EQ(run(t, Mode::WithRiskPremium), msg::kAssetSumZero);
  t[6] = "-6";
  EXPECT_EQ(run(t, Mode::WithRiskPremium), "");
  t = kHousehold;
  t[2] = "0";
  t[3] = "0";
  EXPECT_EQ(run(t, Mode::WithoutRiskPremium), msg::kLiquiditySumZero);
  t[3] = "1";
  EXPECT_EQ(run(t, Mode::WithoutRiskPremium), "");
  t = {"0", "0", "0", "0", "0", "0", "0", "0"};
  EXPECT_EQ(run(t, Mode::WithRiskPremium), msg::kAssetSumZero);
  t = kHousehold;
  t[5] = "3e38";  // the sum overflows a single: not zero, passes
  t[6] = "3e38";
  EXPECT_EQ(run(t, Mode::WithoutRiskPremium), "");
}

TEST(ParseHouseholdRow, ModesFieldsAndSums) {
  using F = std::vector<std::string_view>;
  HouseholdInput h;
  h.Consumption = 42.0f;
  EXPECT_TRUE(ParseHouseholdRow(F{"9.725", "7.38", "4.81", "3.57", "7.416", "14.759", "22.616", ""},
                                Mode::WithoutRiskPremium, h));
  EXPECT_EQ(h.AnnualIncome, 4.81f);
  EXPECT_EQ(h.FinancialAssets, 3.57f);
  EXPECT_EQ(h.Consumption, 42.0f);
  EXPECT_TRUE(ParseHouseholdRow(F{"1", "1", "1", "1", "1", "1", "1", "abc"}, Mode::WithoutRiskPremium, h));
  EXPECT_FALSE(ParseHouseholdRow(F{"1", "1", "1", "1", "1", "1", "1", ""}, Mode::WithRiskPremium, h));
  EXPECT_FALSE(ParseHouseholdRow(F{"\"1.5\"", "1", "1", "1", "1", "1", "1", "1"}, Mode::WithRiskPremium, h));
  EXPECT_FALSE(ParseHouseholdRow(F{"1", "1", "1", "1", "1", "2", "-2", "1"}, Mode::WithRiskPremium, h));
  EXPECT_FALSE(ParseHouseholdRow(F{"1", "1", "0", "0", "1", "1", "1", "1"}, Mode::WithRiskPremium, h));
  EXPECT_TRUE(ParseHouseholdRow(F{"1", "1", "0", "1", "1", "1", "1", "2"}, Mode::WithRiskPremium, h));
  EXPECT_EQ(h.Consumption, 2.0f);
  EXPECT_TRUE(ParseHouseholdRow(F{" 1 ", "-1", "1", "1", "1", "1", "1", "2", "x", "y", "z", "w"},
                                Mode::WithRiskPremium, h));
  EXPECT_FALSE(ParseHouseholdRow(F{"1", "1", "1", "1", "1", "1"}, Mode::WithoutRiskPremium, h));
  EXPECT_FALSE(ParseHouseholdRow(F{"1", "1", "1", "1", "1", "1", "1e39", "1"}, Mode::WithoutRiskPremium, h));
  EXPECT_FALSE(ParseHouseholdRow(F{"1", "1", "1", "1", "1", "1", "1,5", "1"}, Mode::WithoutRiskPremium, h));
}

}  // namespace
}  // namespace velmora
