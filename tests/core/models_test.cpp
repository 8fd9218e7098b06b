#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "core/models.h"
#include "core/number_text.h"
#include "test_support.h"

namespace velmora {
namespace {

// The window's default household.
HouseholdInput DefaultHousehold() {
  HouseholdInput h;
  h.HouseDamage = 9.725f;
  h.GoodsDamage = 7.38f;
  h.AnnualIncome = 4.81f;
  h.FinancialAssets = 3.57f;
  h.LandAssets = 7.416f;
  h.GoodsValue = 14.759f;
  h.HousePrice = 22.616f;
  h.Consumption = 3.321f;
  return h;
}

CommonSettings DefaultSettings() {
  CommonSettings s;
  s.InsuranceRate = 0.61f;
  s.DamageProbability = 0.025f;
  s.InterestRate = 0.04f;
  s.MarkupRate = 3.14f;
  return s;
}

// A table whose every entry is `value`, so DelayDamage reads the factor
// ((LiquidityFactor + 1.38) / 2) / DamageWeightedMean times `value`.
// Seven significant digits, the precision in which the model's figures for
// the default household are known.
std::string Sig7(float value) { return FormatBatchNumber(value); }

GapTable UniformTable(float value) {
  GapTable t;
  t.entries.fill(value);
  return t;
}

TEST(WithoutRiskPremium, DefaultHouseholdEveryNamedQuantity) {
  const GapTable table = UniformTable(1.0f);
  ModelResult r;
  r.PreferenceFactor = 7.0f;
  r.WillingnessToPay = 8.0f;
  r.OptimalCoverage = 9.0f;
  WithoutRiskPremiumTrace t;
  ASSERT_TRUE(ComputeWithoutRiskPremium(DefaultHousehold(), DefaultSettings(), table, r, &t));
  EXPECT_EQ(t.DamageRatio, 0.4576589f);
  EXPECT_EQ(t.Band, DamageBand::High);
  EXPECT_EQ(t.Row, InsuredRow::H);
  EXPECT_EQ(t.TotalDamage, 17.105f);
  EXPECT_EQ(t.LiquidAssets, static_cast<double>(4.81f) + static_cast<double>(3.57f));
  EXPECT_EQ(t.UninsuredDamageTerm, 4.559728f);
  EXPECT_EQ(t.UninsuredAssetTerm, 3.474312f);
  EXPECT_EQ(t.InsuredDamageTerm, 13.398399f);
  EXPECT_EQ(t.InsuredAssetTerm, 16.259739f);
  EXPECT_EQ(Sig7(t.UninsuredGap), "1.085416");
  EXPECT_EQ(Sig7(t.InsuredGap), "-2.86134");
  EXPECT_EQ(Sig7(t.Gap), "0.4233122");
  EXPECT_EQ(t.Delay.GapValue, 1.0f);
  EXPECT_EQ(t.Delay.LiquidityFactor, 5.823817253112793f);
  EXPECT_EQ(t.Delay.DamageWeightedMean, 15.959661483764648f);
  EXPECT_EQ(Sig7(r.DelayDamage), "0.2256883");
  EXPECT_EQ(test::Bits(r.DelayDamage), 1046944468u);
  // The other three results are not the business of this model.
  EXPECT_EQ(r.PreferenceFactor, 7.0f);
  EXPECT_EQ(r.WillingnessToPay, 8.0f);
  EXPECT_EQ(r.OptimalCoverage, 9.0f);
}

TEST(WithoutRiskPremium, DefaultHouseholdReadsKeyFour) {
  GapTable table;
  table.at(4) = 0.6304388f;  // the example table's value for 0.4
  ModelResult r;
  ASSERT_TRUE(ComputeWithoutRiskPremium(DefaultHousehold(), DefaultSettings(), table, r));
  EXPECT_EQ(test::Bits(r.DelayDamage), 1041347211u);  // 0.1422826
  EXPECT_EQ(Sig7(r.DelayDamage), "0.1422826");
}

TEST(WithoutRiskPremium, BandBoundariesAreTheSingleConstants) {
  const GapTable table = UniformTable(1.0f);
  HouseholdInput h = DefaultHousehold();
  h.HouseDamage = 3.0f;
  h.GoodsDamage = 0.0f;
  h.GoodsValue = 10.0f;
  h.HousePrice = 10.0f;
  ModelResult r;
  WithoutRiskPremiumTrace t;
  ASSERT_TRUE(ComputeWithoutRiskPremium(h, DefaultSettings(), table, r, &t));
  EXPECT_EQ(t.DamageRatio, 0.15f);
  EXPECT_EQ(t.Band, DamageBand::Middle);
  EXPECT_EQ(t.Row, InsuredRow::M2);

  h.HouseDamage = 6.0f;
  ASSERT_TRUE(ComputeWithoutRiskPremium(h, DefaultSettings(), table, r, &t));
  EXPECT_EQ(t.DamageRatio, 0.3f);
  EXPECT_EQ(t.Band, DamageBand::High);

  h.HouseDamage = std::nextafter(3.0f, 0.0f);
  ASSERT_TRUE(ComputeWithoutRiskPremium(h, DefaultSettings(), table, r, &t));
  EXPECT_EQ(t.Band, DamageBand::Low);

  h.HouseDamage = 25.0f;  // middle band, 0.1 x 25 > 2: capped
  h.GoodsValue = 50.0f;
  h.HousePrice = 50.0f;
  ASSERT_TRUE(ComputeWithoutRiskPremium(h, DefaultSettings(), table, r, &t));
  EXPECT_EQ(t.Row, InsuredRow::M1);
}

TEST(WithoutRiskPremium, CapTestIsStrictOnTheDoubleProduct) {
  const GapTable table = UniformTable(1.0f);
  HouseholdInput h;
  h.HouseDamage = 20.0f;
  h.GoodsDamage = 0.0f;
  h.GoodsValue = 100.0f;
  h.HousePrice = 100.0f;
  h.AnnualIncome = 5.0f;
  h.FinancialAssets = 5.0f;
  h.LandAssets = 0.0f;
  CommonSettings s;
  s.InsuranceRate = 0.61f;
  ModelResult r;
  WithoutRiskPremiumTrace t;
  ASSERT_TRUE(ComputeWithoutRiskPremium(h, s, table, r, &t));
  EXPECT_EQ(t.Row, InsuredRow::L2);
  EXPECT_NEAR(t.InsuredGap, -0.017, 0.0005);
  EXPECT_EQ(Sig7(t.Gap), "0.6251699");

  h.HouseDamage = 20.000002f;
  ASSERT_EQ(h.HouseDamage, std::nextafter(20.0f, 100.0f));
  ASSERT_TRUE(ComputeWithoutRiskPremium(h, s, table, r, &t));
  EXPECT_EQ(t.Row, InsuredRow::L1);
  EXPECT_NEAR(t.InsuredGap, 0.013, 0.0005);
  EXPECT_EQ(Sig7(t.Gap), "0.6331003");
}

TEST(WithoutRiskPremium, InsuranceRateExtremes) {
  const GapTable table = UniformTable(1.0f);
  CommonSettings s;
  WithoutRiskPremiumTrace t;
  ModelResult r;
  s.InsuranceRate = 0.0f;
  ASSERT_TRUE(ComputeWithoutRiskPremium(DefaultHousehold(), s, table, r, &t));
  EXPECT_EQ(t.Gap, t.UninsuredGap);
  s.InsuranceRate = 1.0f;  // insured gap negative: nothing counts
  ASSERT_TRUE(ComputeWithoutRiskPremium(DefaultHousehold(), s, table, r, &t));
  EXPECT_EQ(t.Gap, 0.0f);

  HouseholdInput h;  // positive insured gap: row L1 of the cap example
  h.HouseDamage = 20.000002f;
  h.GoodsValue = 100.0f;
  h.HousePrice = 100.0f;
  h.AnnualIncome = 5.0f;
  h.FinancialAssets = 5.0f;
  ASSERT_TRUE(ComputeWithoutRiskPremium(h, s, table, r, &t));
  ASSERT_GT(t.InsuredGap, 0.0f);
  EXPECT_EQ(t.Gap, t.InsuredGap);
}

TEST(WithoutRiskPremium, GapOutsideTheTableGivesZero) {
  const GapTable table = UniformTable(1.0f);
  HouseholdInput h = DefaultHousehold();
  ModelResult r;
  WithoutRiskPremiumTrace t;
  h.LandAssets = -5000.0f;  // asset term far below the damage term: gap > 100
  ASSERT_TRUE(ComputeWithoutRiskPremium(h, DefaultSettings(), table, r, &t));
  EXPECT_GT(t.Gap, 100.0f);
  EXPECT_EQ(r.DelayDamage, 0.0f);
  h.LandAssets = 5000.0f;
  ASSERT_TRUE(ComputeWithoutRiskPremium(h, DefaultSettings(), table, r, &t));
  EXPECT_LT(t.Gap, -20.0f);
  EXPECT_EQ(r.DelayDamage, 0.0f);
}

TEST(WithRiskPremium, WorkedExampleEveryListedSingle) {
  const GapTable table = UniformTable(1.0f);
  ModelResult r;
  WithRiskPremiumTrace t;
  ASSERT_TRUE(ComputeWithRiskPremium(DefaultHousehold(), DefaultSettings(), table, r, &t));
  EXPECT_EQ(static_cast<double>(t.TotalDamage), 17.104999542236328);
  EXPECT_EQ(static_cast<double>(t.DepreciationRate), 0.060710757970809937);
  EXPECT_EQ(static_cast<double>(t.DamageRatio), 0.45765888690948486);
  EXPECT_EQ(static_cast<double>(r.PreferenceFactor), 0.3940526843070984);
  EXPECT_EQ(static_cast<double>(r.WillingnessToPay), 1.3427425622940063);
  EXPECT_EQ(static_cast<double>(r.OptimalCoverage), 0.664203941822052);
  EXPECT_EQ(static_cast<double>(t.DamageTerm), 12.853460311889648);
  EXPECT_EQ(static_cast<double>(t.AssetTerm), 15.599074363708496);
  EXPECT_EQ(static_cast<double>(t.Gap), -2.7456140518188477);
  EXPECT_EQ(static_cast<double>(t.Delay.LiquidityFactor), 5.823817253112793);
  EXPECT_EQ(static_cast<double>(t.Delay.DamageWeightedMean), 15.959661483764648);
  EXPECT_EQ(Sig7(r.DelayDamage), "0.2256883");
}

TEST(WithRiskPremium, WorkedExampleReadsKeyMinus27) {
  GapTable table;
  table.at(-27) = 0.001060106f;  // the example table's value for -2.7
  ModelResult r;
  ASSERT_TRUE(ComputeWithRiskPremium(DefaultHousehold(), DefaultSettings(), table, r));
  EXPECT_EQ(test::Bits(r.DelayDamage), 964354079u);  // 0.0002392535
  EXPECT_EQ(Sig7(r.DelayDamage), "0.0002392535");
}

TEST(WithRiskPremium, MarkupRateDecidesTheCoverage) {
  const GapTable table = UniformTable(1.0f);
  CommonSettings s = DefaultSettings();
  ModelResult r;
  WithRiskPremiumTrace t;
  s.MarkupRate = 1.0f;
  ASSERT_TRUE(ComputeWithRiskPremium(DefaultHousehold(), s, table, r, &t));
  EXPECT_EQ(r.OptimalCoverage, 1.0f);

  s.MarkupRate = 0.5f;  // above 1, kept
  ASSERT_TRUE(ComputeWithRiskPremium(DefaultHousehold(), s, table, r, &t));
  EXPECT_EQ(static_cast<double>(r.OptimalCoverage), 1.4267101287841797);

  s.MarkupRate = 50.0f;  // raw coverage negative: stored as +0 and used as 0
  ASSERT_TRUE(ComputeWithRiskPremium(DefaultHousehold(), s, table, r, &t));
  EXPECT_EQ(test::Bits(r.OptimalCoverage), test::Bits(0.0f));
  const double T = t.TotalDamage;
  EXPECT_EQ(t.DamageTerm, static_cast<float>((0.0 * T + T * 0.057) + 1.767));
}

TEST(WithRiskPremium, OtherSettingsAndSigns) {
  const GapTable table = UniformTable(1.0f);
  CommonSettings s = DefaultSettings();
  ModelResult r, r2;
  s.DamageProbability = 0.0f;
  ASSERT_TRUE(ComputeWithRiskPremium(DefaultHousehold(), s, table, r));
  EXPECT_EQ(r.WillingnessToPay, 0.0f);
  EXPECT_GT(r.PreferenceFactor, 0.0f);

  s = DefaultSettings();
  s.InsuranceRate = 0.0f;
  ASSERT_TRUE(ComputeWithRiskPremium(DefaultHousehold(), s, table, r));
  s.InsuranceRate = 123.0f;
  ASSERT_TRUE(ComputeWithRiskPremium(DefaultHousehold(), s, table, r2));
  EXPECT_EQ(0, std::memcmp(&r, &r2, sizeof r));

  HouseholdInput h = DefaultHousehold();
  h.AnnualIncome = -20.0f;
  EXPECT_TRUE(ComputeWithRiskPremium(h, DefaultSettings(), table, r));

  for (float land : {5000.0f, -5000.0f}) {
    h = DefaultHousehold();
    h.LandAssets = land;
    WithRiskPremiumTrace t;
    ASSERT_TRUE(ComputeWithRiskPremium(h, DefaultSettings(), table, r, &t));
    EXPECT_TRUE(t.Gap > 100.0f || t.Gap < -20.0f);
    EXPECT_EQ(r.DelayDamage, 0.0f);
    EXPECT_EQ(static_cast<double>(r.PreferenceFactor), 0.3940526843070984);
  }
}

// Outside the models' domain both answer false and write nothing; no
// infinity or NaN ever comes out.
TEST(Models, NonFiniteQuantitiesAnswerFalseAndWriteNothing) {
  const GapTable table = UniformTable(1.0f);
  const float big = std::numeric_limits<float>::max();
  struct Case {
    const char* what;
    HouseholdInput h;
    CommonSettings s;
  };
  std::vector<Case> cases;
  auto add = [&](const char* what, auto change) {
    Case c{what, DefaultHousehold(), DefaultSettings()};
    change(c.h, c.s);
    cases.push_back(c);
  };
  add("no damage at all", [](HouseholdInput& h, CommonSettings&) { h.HouseDamage = h.GoodsDamage = 0; });
  add("weighted damage zero", [](HouseholdInput& h, CommonSettings&) {
    h.HouseDamage = 4.0f;
    h.GoodsDamage = -11.0f;
  });
  add("damage overflows", [big](HouseholdInput& h, CommonSettings&) { h.HouseDamage = h.GoodsDamage = big; });
  add("liquid assets zero", [](HouseholdInput& h, CommonSettings&) {
    h.AnnualIncome = 1.0f;
    h.FinancialAssets = -1.0f;
  });
  add("property value zero", [](HouseholdInput& h, CommonSettings&) {
    h.GoodsValue = 1.0f;
    h.HousePrice = -1.0f;
  });
  add("huge land", [big](HouseholdInput& h, CommonSettings&) { h.LandAssets = big; });
  for (const Case& c : cases) {
    const ModelResult before{1.0f, 2.0f, 3.0f, 4.0f};
    ModelResult r = before;
    const bool ok0 = ComputeWithoutRiskPremium(c.h, c.s, table, r);
    if (ok0) {
      EXPECT_TRUE(std::isfinite(r.DelayDamage)) << c.what;
    } else {
      EXPECT_EQ(0, std::memcmp(&r, &before, sizeof r)) << c.what;
    }
    r = before;
    const bool ok1 = ComputeWithRiskPremium(c.h, c.s, table, r);
    if (ok1) {
      EXPECT_TRUE(std::isfinite(r.PreferenceFactor) && std::isfinite(r.WillingnessToPay) &&
                  std::isfinite(r.OptimalCoverage) && std::isfinite(r.DelayDamage))
          << c.what;
    } else {
      EXPECT_EQ(0, std::memcmp(&r, &before, sizeof r)) << c.what;
    }
    if (std::string(c.what) != "huge land") {
      EXPECT_FALSE(ok0 && ok1) << c.what;
    }
  }

  // Mode 1 domain limits of its own.
  ModelResult r;
  HouseholdInput h = DefaultHousehold();
  h.Consumption = 0.0f;
  EXPECT_FALSE(ComputeWithRiskPremium(h, DefaultSettings(), table, r));
  h = DefaultHousehold();
  h.GoodsValue = 22.0f;  // 8 x 22 + 22 x -8 = 0
  h.HousePrice = -8.0f;
  EXPECT_FALSE(ComputeWithRiskPremium(h, DefaultSettings(), table, r));
  h = DefaultHousehold();
  h.HouseDamage = h.GoodsDamage = 0.0f;
  EXPECT_FALSE(ComputeWithRiskPremium(h, DefaultSettings(), table, r));

  // The raw coverage overflowing on the negative side is no coverage of 0:
  // a subnormal damage ratio, and an interest rate of 1e38.
  h = DefaultHousehold();
  h.HouseDamage = 1e-40f;
  h.GoodsDamage = 0.0f;
  WithRiskPremiumTrace t;
  EXPECT_FALSE(ComputeWithRiskPremium(h, DefaultSettings(), table, r, &t));
  EXPECT_TRUE(std::isinf(t.OptimalCoverage) && t.OptimalCoverage < 0.0f);
  h = HouseholdInput{3.0f, 0.0f, 5.0f, 5.0f, 0.0f, 10.0f, 10.0f, 1.0f};
  CommonSettings s = DefaultSettings();
  s.InterestRate = 1e38f;
  EXPECT_FALSE(ComputeWithRiskPremium(h, s, table, r));
}

}  // namespace
}  // namespace velmora
