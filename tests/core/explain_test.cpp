// The list of named quantities, the step a failed calculation stopped at,
// and the row check's reason.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "core/explain.h"
#include "core/models.h"
#include "input/checks.h"

namespace velmora {
namespace {

HouseholdInput Household(float house, float goods, float income, float assets, float consumption) {
  HouseholdInput h;
  h.HouseDamage = house;
  h.GoodsDamage = goods;
  h.AnnualIncome = income;
  h.FinancialAssets = assets;
  h.LandAssets = 7.416f;
  h.GoodsValue = 14.759f;
  h.HousePrice = 22.616f;
  h.Consumption = consumption;
  return h;
}

const CommonSettings kSettings = {0.61f, 0.025f, 0.04f, 3.14f};

GapTable UniformTable() {
  GapTable t;
  t.entries.fill(1.0f);
  return t;
}

std::vector<std::string> Names(const std::vector<NamedQuantity>& list) {
  std::vector<std::string> names;
  for (const auto& q : list) names.emplace_back(q.name);
  return names;
}

TEST(ExplainQuantities, StepOrderNamesAndTexts) {
  const GapTable table = UniformTable();
  const HouseholdInput h = Household(9.725f, 7.38f, 4.81f, 3.57f, 3.321f);
  ModelResult r;
  WithRiskPremiumTrace with;
  ASSERT_TRUE(ComputeWithRiskPremium(h, kSettings, table, r, &with));
  const std::vector<NamedQuantity> one = ExplainQuantities(with);
  EXPECT_EQ(Names(one), (std::vector<std::string>{"TotalDamage", "PropertyValue", "LiquidAssets", "DepreciationRate",
                                                   "DamageRatio", "UserCost", "PreferenceFactor", "WillingnessToPay",
                                                   "OptimalCoverage", "DamageTerm", "AssetTerm", "Gap", "GapKey",
                                                   "GapValue", "LiquidityFactor", "DamageWeightedMean",
                                                   "DelayDamage"}));
  // Singles as their shortest round-trip text; doubles keep every digit.
  EXPECT_EQ(QuantityText(one[0]), "17.105");
  EXPECT_EQ(one[1].kind, QuantityKind::Double);
  EXPECT_EQ(QuantityText(one[1]), "37.374999046325684");
  EXPECT_EQ(QuantityText(one[6]), "0.39405268");
  EXPECT_EQ(QuantityText(one[12]), "-27");
  EXPECT_FALSE(FindFailedStep(with));

  WithoutRiskPremiumTrace without;
  ASSERT_TRUE(ComputeWithoutRiskPremium(h, kSettings, table, r, &without));
  const std::vector<NamedQuantity> zero = ExplainQuantities(without);
  EXPECT_EQ(Names(zero),
            (std::vector<std::string>{"DamageRatio", "TotalDamage", "LiquidAssets", "UninsuredDamageTerm", "DamageBand",
                                      "InsuredRow", "CoveredAmount", "InsuredDamageTerm", "InsuredAssetTerm",
                                      "UninsuredAssetTerm", "UninsuredGap", "InsuredGap", "Gap", "GapKey", "GapValue",
                                      "LiquidityFactor", "DamageWeightedMean", "DelayDamage"}));
  std::vector<std::string> texts;
  for (std::size_t i = 4; i <= 6; ++i) texts.push_back(QuantityText(zero[i]));
  EXPECT_EQ(texts, (std::vector<std::string>{"high", "H", "0.7 * TotalDamage"}));
  EXPECT_EQ(QuantityText(zero[13]), "4");
  EXPECT_FALSE(FindFailedStep(without));

  // Outside -20..100 no entry is read: no key.
  HouseholdInput far = h;
  far.LandAssets = 5000.0f;
  ASSERT_TRUE(ComputeWithRiskPremium(far, kSettings, table, r, &with));
  const std::vector<NamedQuantity> outside = ExplainQuantities(with);
  EXPECT_EQ(outside[12].kind, QuantityKind::Missing);
  EXPECT_EQ(QuantityText(outside[12]), "-");
  EXPECT_EQ(QuantityText(outside[13]), "0");
}

// The first quantity in step order that is not finite, including the
// quotients inside a step: a step may hide one (1 / (inf + 1) is 0).
TEST(FindFailedStep, NamesTheFirstStepThatIsNotFinite) {
  const GapTable table = UniformTable();
  struct Case {
    HouseholdInput household;
    bool withPremium;
    std::string quantity, part;
  };
  const Case cases[] = {
      {Household(9.725f, 7.38f, 4.81f, 3.57f, 0.0f), true, "PreferenceFactor",
       "(UserCost * PropertyValue) / Consumption"},
      {Household(0.0f, 0.0f, 4.81f, 3.57f, 3.321f), true, "OptimalCoverage",
       "(UserCost * (MarkupRate - 1)) / ((DamageRatio * MarkupRate) * (1 - PreferenceFactor))"},
      {Household(0.0f, 0.0f, 4.81f, 3.57f, 3.321f), false, "DamageWeightedMean", ""},
      // 22 x 4 + 8 x -11 = 0 with damage: the gap value is divided by zero.
      {Household(4.0f, -11.0f, 4.81f, 3.57f, 3.321f), false, "DelayDamage", ""},
      // No liquid assets (the row check refuses them; the model must not rely on it).
      {Household(9.725f, 7.38f, 0.0f, 0.0f, 3.321f), true, "LiquidityFactor",
       "(0.615 * TotalDamage) / (36.607497 * LiquidAssets)"},
      {Household(9.725f, 7.38f, 1e-45f, 0.0f, 3.321f), false, "UninsuredDamageTerm", ""},
      {Household(3e38f, 3e38f, 4.81f, 3.57f, 3.321f), true, "TotalDamage", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.quantity + " " + c.part);
    ModelResult r;
    std::optional<FailedStep> step;
    std::vector<NamedQuantity> list;
    if (c.withPremium) {
      WithRiskPremiumTrace t;
      EXPECT_FALSE(ComputeWithRiskPremium(c.household, kSettings, table, r, &t));
      step = FindFailedStep(t);
      list = ExplainQuantities(t);
    } else {
      WithoutRiskPremiumTrace t;
      EXPECT_FALSE(ComputeWithoutRiskPremium(c.household, kSettings, table, r, &t));
      step = FindFailedStep(t);
      list = ExplainQuantities(t);
    }
    ASSERT_TRUE(step);
    EXPECT_EQ(step->quantity, c.quantity);
    EXPECT_EQ(step->part, c.part);
    ASSERT_LT(step->position, list.size());
    EXPECT_EQ(list[step->position].name, c.quantity);
    for (std::size_t i = 0; i < step->position; ++i) {
      if (list[i].kind == QuantityKind::Single || list[i].kind == QuantityKind::Double) {
        EXPECT_TRUE(std::isfinite(list[i].value)) << list[i].name;
      }
    }
  }
}

TEST(ParseHouseholdRow, SaysWhichTestRefusedTheLine) {
  using Test = RowRejection::Test;
  struct Case {
    std::vector<std::string_view> fields;
    Mode mode;
    bool computable;
    Test test;
    std::size_t field;
  };
  const Case cases[] = {
      {{"1", "x", "3", "4", "5", "6", "7", "8"}, Mode::WithRiskPremium, false, Test::NotNumeric, 1},
      {{"1", "2", "3", "4", "5", "6", "7", ""}, Mode::WithRiskPremium, false, Test::NotNumeric, 7},
      {{"1", "2", "3", "4", "5", "6", "7", ""}, Mode::WithoutRiskPremium, true, Test::NotNumeric, 0},
      {{"1", "2", "3", "4", "5", "2", "-2", "8"}, Mode::WithRiskPremium, false, Test::AssetSumZero, 0},
      {{"1", "2", "0", "-0", "5", "6", "7", "8"}, Mode::WithoutRiskPremium, false, Test::LiquiditySumZero, 0},
      // The first field that is not a number, even when a sum is zero too.
      {{"1", "2", "0", "0", "5", "2", "-2", "\"8\""}, Mode::WithRiskPremium, false, Test::NotNumeric, 7},
  };
  for (const Case& c : cases) {
    HouseholdInput h;
    RowRejection why{Test::LiquiditySumZero, 99};
    EXPECT_EQ(ParseHouseholdRow(c.fields, c.mode, h, &why), c.computable);
    // The batch's call, without a reason, answers the same.
    HouseholdInput silent;
    EXPECT_EQ(ParseHouseholdRow(c.fields, c.mode, silent), c.computable);
    if (c.computable) continue;
    EXPECT_EQ(why.test, c.test) << c.fields[7];
    EXPECT_EQ(why.field, c.field) << c.fields[7];
  }
}

}  // namespace
}  // namespace velmora
