#pragma once
// The two damage models. Each step runs in double precision in the written
// order of operations and rounds to single exactly where the model says; the
// traces expose every named quantity so that the rounding points can be
// checked to the bit.
#include "gap_table.h"
#include "records.h"

namespace velmora {

// Named quantities of the shared last step. Besides the named quantities, a
// trace keeps the quotients a step forms on its way (the model checks them
// too), so that a failure can be traced to the first step that is not finite.
struct DelayTrace {
  bool InTable = false;  // Gap within -20..100: GapKey names the entry read
  int GapKey = 0;
  float GapValue = 0.0f;
  double DamageShare = 0.0;  // (0.615 x TotalDamage) / (36.607497 x LiquidAssets), in LiquidityFactor
  float LiquidityFactor = 0.0f;
  float DamageWeightedMean = 0.0f;
  float DelayDamage = 0.0f;
};

enum class DamageBand { Low, Middle, High };
// L1/M1: capped rows; L2/M2: rows below the cap; H: high band.
enum class InsuredRow { L1, L2, M1, M2, H };

struct WithoutRiskPremiumTrace {
  float DamageRatio = 0.0f;
  float TotalDamage = 0.0f;
  double LiquidAssets = 0.0;
  double DamagePerLiquidity = 0.0;  // TotalDamage / LiquidAssets, in UninsuredDamageTerm
  DamageBand Band = DamageBand::Low;
  InsuredRow Row = InsuredRow::L1;
  float UninsuredDamageTerm = 0.0f;
  float UninsuredAssetTerm = 0.0f;
  float InsuredDamageTerm = 0.0f;
  float InsuredAssetTerm = 0.0f;
  float UninsuredGap = 0.0f;
  float InsuredGap = 0.0f;
  float Gap = 0.0f;
  DelayTrace Delay;
};

struct WithRiskPremiumTrace {
  float TotalDamage = 0.0f;
  double PropertyValue = 0.0;
  double LiquidAssets = 0.0;
  double WeightedLife = 0.0;  // (GoodsValue x 8 + HousePrice x 22) / PropertyValue, in DepreciationRate
  float DepreciationRate = 0.0f;
  float DamageRatio = 0.0f;
  double UserCost = 0.0;
  double CostShare = 0.0;  // (UserCost x PropertyValue) / Consumption, in PreferenceFactor
  float PreferenceFactor = 0.0f;
  float WillingnessToPay = 0.0f;
  // (UserCost x (MarkupRate - 1)) / ((DamageRatio x MarkupRate) x (1 - PreferenceFactor)), in OptimalCoverage
  double Uncovered = 0.0;
  float OptimalCoverage = 0.0f;
  float DamageTerm = 0.0f;
  float AssetTerm = 0.0f;
  float Gap = 0.0f;
  DelayTrace Delay;
};

// Mode 0: writes DelayDamage alone. False, with nothing written, when any
// quantity would not be finite (no damage at all, zero divisors, overflow).
bool ComputeWithoutRiskPremium(const HouseholdInput& household, const CommonSettings& settings,
                               const GapTable& table, ModelResult& result,
                               WithoutRiskPremiumTrace* trace = nullptr);

// Mode 1: writes all four results. False, with nothing written, when any
// quantity would not be finite.
bool ComputeWithRiskPremium(const HouseholdInput& household, const CommonSettings& settings,
                            const GapTable& table, ModelResult& result, WithRiskPremiumTrace* trace = nullptr);

}  // namespace velmora
