#include "models.h"

#include <cmath>

namespace velmora {
namespace {

// Rounds a step's double result to single, to nearest with ties to even.
inline float Single(double x) { return static_cast<float>(x); }
inline double D(float x) { return static_cast<double>(x); }

inline bool Finite(float x) { return std::isfinite(x); }
inline bool Finite(double x) { return std::isfinite(x); }
template <typename... T>
inline bool AllFinite(T... x) {
  return (Finite(x) && ...);
}

// Insured-row coefficients: 0.89 and 1.128 times the covered share, each the
// double product of its factors (for 0.05, 0.1 and 0.7 that product is not
// always the double nearest the written decimal, and the product is the one).
constexpr double kDamageLow = 0.89 * 0.05;
constexpr double kDamageMiddle = 0.89 * 0.1;
constexpr double kDamageHigh = 0.89 * 0.7;
constexpr double kAssetLow = 1.128 * 0.05;
constexpr double kAssetMiddle = 1.128 * 0.1;
constexpr double kAssetHigh = 1.128 * 0.7;

constexpr float kBandMiddle = 0.15f;
constexpr float kBandHigh = 0.3f;
constexpr float kDelayOffset = 1.38f;

// Each model is one body, made twice: without a trace (the batch's path, which
// must not pay for one) and with one.
template <bool kTraced>
bool DelayFromGapImpl(float gap, const HouseholdInput& h, const GapTable& table, ModelResult& result,
                      DelayTrace* trace) {
  DelayTrace t;
  t.GapValue = GapLookup(table, gap);
  const float total = Single(D(h.HouseDamage) + D(h.GoodsDamage));
  const double liquid = D(h.AnnualIncome) + D(h.FinancialAssets);
  const double T = D(total);
  // Every quotient is checked, not only the stored singles: 1 / (0.206 - inf)
  // would come out as a harmless-looking zero.
  t.DamageShare = (0.615 * T) / (36.607497 * liquid);
  t.LiquidityFactor = Single(1.0 / (0.206 - t.DamageShare));
  t.DamageWeightedMean = Single((22.0 * D(h.HouseDamage) + 8.0 * D(h.GoodsDamage)) / T);
  t.DelayDamage = Single(((D(t.LiquidityFactor) + D(kDelayOffset)) / 2.0) *
                         (D(t.GapValue) / D(t.DamageWeightedMean)));
  if constexpr (kTraced) {
    // The entry GapLookup read, for whoever explains the result.
    t.InTable = gap <= 100.0f && gap >= -20.0f;
    if (t.InTable) t.GapKey = static_cast<int>(std::nearbyint(D(gap) * 10.0));
    *trace = t;
  }
  if (!AllFinite(total, t.DamageShare, t.LiquidityFactor, t.DamageWeightedMean, t.DelayDamage)) return false;
  result.DelayDamage = t.DelayDamage;
  return true;
}

template <bool kTraced>
bool WithoutRiskPremiumImpl(const HouseholdInput& h, const CommonSettings& s, const GapTable& table,
                            ModelResult& result, WithoutRiskPremiumTrace* trace) {
  WithoutRiskPremiumTrace t;
  // 1. Ratio from the two unrounded sums; T single; L double, never rounded.
  t.DamageRatio = Single((D(h.HouseDamage) + D(h.GoodsDamage)) / (D(h.GoodsValue) + D(h.HousePrice)));
  t.TotalDamage = Single(D(h.HouseDamage) + D(h.GoodsDamage));
  t.LiquidAssets = D(h.AnnualIncome) + D(h.FinancialAssets);
  const double T = D(t.TotalDamage);
  const double L = t.LiquidAssets;
  const double LA = D(h.LandAssets);

  // 2.
  t.DamagePerLiquidity = T / L;
  t.UninsuredDamageTerm = Single((0.19 * T - 0.224 * t.DamagePerLiquidity) + 1.767);

  // 3. Band, compared in single precision.
  if (t.DamageRatio < kBandMiddle) {
    t.Band = DamageBand::Low;
  } else if (t.DamageRatio < kBandHigh) {
    t.Band = DamageBand::Middle;
  } else {
    t.Band = DamageBand::High;
  }

  // 4.-5. Cap test (strict, on the double product) and the insured terms.
  const double assetBase = 0.132 * L + 0.042 * LA;
  double insuredDamage = 0.0;
  double insuredAsset = 0.0;
  switch (t.Band) {
    case DamageBand::Low:
      if (0.05 * T > 1.0) {
        t.Row = InsuredRow::L1;
        insuredDamage = (0.057 * T + 0.89) + 1.767;
        insuredAsset = (assetBase + 1.128) + 1.336;
      } else {
        t.Row = InsuredRow::L2;
        insuredDamage = (kDamageLow * T + 0.057 * T) + 1.767;
        insuredAsset = (assetBase + kAssetLow * T) + 1.366;
      }
      break;
    case DamageBand::Middle:
      if (0.1 * T > 2.0) {
        t.Row = InsuredRow::M1;
        insuredDamage = (0.057 * T + 1.78) + 1.767;
        insuredAsset = (assetBase + 2.256) + 1.336;
      } else {
        t.Row = InsuredRow::M2;
        insuredDamage = (kDamageMiddle * T + 0.057 * T) + 1.767;
        insuredAsset = (assetBase + kAssetMiddle * T) + 1.366;
      }
      break;
    case DamageBand::High:
      t.Row = InsuredRow::H;
      insuredDamage = (kDamageHigh * T + 0.057 * T) + 1.767;
      insuredAsset = (assetBase + kAssetHigh * T) + 1.336;
      break;
  }
  t.InsuredDamageTerm = Single(insuredDamage);
  t.InsuredAssetTerm = Single(insuredAsset);

  // 6.
  t.UninsuredAssetTerm = Single((0.218 * L + 0.042 * LA) + 1.336);
  t.UninsuredGap = Single(D(t.UninsuredDamageTerm) - D(t.UninsuredAssetTerm));
  t.InsuredGap = Single(D(t.InsuredDamageTerm) - D(t.InsuredAssetTerm));

  // 7. The insured share counts only when its gap is positive.
  const double R = D(s.InsuranceRate);
  if (t.InsuredGap > 0.0f) {
    t.Gap = Single((1.0 - R) * D(t.UninsuredGap) + R * D(t.InsuredGap));
  } else {
    t.Gap = Single((1.0 - R) * D(t.UninsuredGap));
  }

  const bool finite =
      AllFinite(t.DamageRatio, t.TotalDamage, t.LiquidAssets, t.DamagePerLiquidity, t.UninsuredDamageTerm,
                t.UninsuredAssetTerm, t.InsuredDamageTerm, t.InsuredAssetTerm, t.UninsuredGap, t.InsuredGap, t.Gap);
  // 8. DelayFromGap writes DelayDamage only when it succeeds.
  const bool delayed = finite && DelayFromGapImpl<kTraced>(t.Gap, h, table, result, &t.Delay);
  if constexpr (kTraced) *trace = t;
  return delayed;
}

template <bool kTraced>
bool WithRiskPremiumImpl(const HouseholdInput& h, const CommonSettings& s, const GapTable& table, ModelResult& result,
                         WithRiskPremiumTrace* trace) {
  WithRiskPremiumTrace t;
  const double DP = D(s.DamageProbability);
  const double IR = D(s.InterestRate);
  const double MR = D(s.MarkupRate);

  // 1.-3.
  t.TotalDamage = Single(D(h.HouseDamage) + D(h.GoodsDamage));
  t.PropertyValue = D(h.GoodsValue) + D(h.HousePrice);
  t.LiquidAssets = D(h.AnnualIncome) + D(h.FinancialAssets);
  t.WeightedLife = (D(h.GoodsValue) * 8.0 + D(h.HousePrice) * 22.0) / t.PropertyValue;
  t.DepreciationRate = Single(1.0 / t.WeightedLife);
  t.DamageRatio = Single((D(h.HouseDamage) + D(h.GoodsDamage)) / t.PropertyValue);

  // 4. User cost, kept in double.
  t.UserCost = (DP * MR) * D(t.DamageRatio) + (D(t.DepreciationRate) + IR);

  // 5.-6.
  t.CostShare = (t.UserCost * t.PropertyValue) / D(h.Consumption);
  t.PreferenceFactor = Single(1.0 / (t.CostShare + 1.0));
  t.WillingnessToPay = Single(((DP * MR) * D(t.DamageRatio)) * t.PropertyValue);

  // 7. Bounded below by 0 after rounding; no upper bound.
  t.Uncovered = (t.UserCost * (MR - 1.0)) / ((D(t.DamageRatio) * MR) * (1.0 - D(t.PreferenceFactor)));
  // A raw value beyond the single range has overflowed, whichever its sign:
  // the bound to 0 applies to finite values only.
  const float rawCoverage = Single(1.0 - t.Uncovered);
  t.OptimalCoverage = rawCoverage < 0.0f && Finite(rawCoverage) ? 0.0f : rawCoverage;

  // 8.-10.
  const double T = D(t.TotalDamage);
  const double OC = D(t.OptimalCoverage);
  t.DamageTerm = Single(((OC * 0.89) * T + T * 0.057) + 1.767);
  t.AssetTerm = Single(((t.LiquidAssets * 0.132 + D(h.LandAssets) * 0.042) + (OC * 1.128) * T) + 1.366);
  t.Gap = Single(D(t.DamageTerm) - D(t.AssetTerm));

  const bool finite = AllFinite(t.TotalDamage, t.PropertyValue, t.LiquidAssets, t.WeightedLife, t.DepreciationRate,
                                t.DamageRatio, t.UserCost, t.CostShare, t.Uncovered, t.PreferenceFactor,
                                t.WillingnessToPay, t.OptimalCoverage, t.DamageTerm, t.AssetTerm, t.Gap);
  // 11. DelayFromGap writes DelayDamage only when it succeeds; the other
  // three follow it, so a failure writes nothing.
  const bool delayed = finite && DelayFromGapImpl<kTraced>(t.Gap, h, table, result, &t.Delay);
  if constexpr (kTraced) *trace = t;
  if (!delayed) return false;
  result.PreferenceFactor = t.PreferenceFactor;
  result.WillingnessToPay = t.WillingnessToPay;
  result.OptimalCoverage = t.OptimalCoverage;
  return true;
}

}  // namespace

bool ComputeWithoutRiskPremium(const HouseholdInput& household, const CommonSettings& settings, const GapTable& table,
                               ModelResult& result, WithoutRiskPremiumTrace* trace) {
  return trace != nullptr ? WithoutRiskPremiumImpl<true>(household, settings, table, result, trace)
                          : WithoutRiskPremiumImpl<false>(household, settings, table, result, nullptr);
}

bool ComputeWithRiskPremium(const HouseholdInput& household, const CommonSettings& settings, const GapTable& table,
                            ModelResult& result, WithRiskPremiumTrace* trace) {
  return trace != nullptr ? WithRiskPremiumImpl<true>(household, settings, table, result, trace)
                          : WithRiskPremiumImpl<false>(household, settings, table, result, nullptr);
}

}  // namespace velmora
