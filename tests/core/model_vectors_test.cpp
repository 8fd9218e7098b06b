// Both models against the vectors of the independent second implementation
// (tools/model_reference.py), every named quantity to the bit. A changed
// order of operations, a misplaced rounding or a fused multiply-add (which
// moves the double user cost by a unit in the last place) shows up here.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "core/models.h"
#include "test_support.h"

namespace velmora {
namespace {

std::uint64_t Hex(const std::string& text) { return std::stoull(text, nullptr, 16); }

float SingleFromHex(const std::string& text) {
  const auto u = static_cast<std::uint32_t>(Hex(text));
  float f;
  std::memcpy(&f, &u, sizeof f);
  return f;
}

std::uint64_t DoubleBits(double d) {
  std::uint64_t u;
  std::memcpy(&u, &d, sizeof u);
  return u;
}

TEST(ModelVectors, EveryNamedQuantityMatchesTheReferenceToTheBit) {
  GapTable table;
  for (int k = GapTable::kMinKey; k <= GapTable::kMaxKey; ++k) table.at(k) = static_cast<float>(k + 201) / 1024.0f;

  std::ifstream in(VELMORA_MODEL_VECTORS);
  ASSERT_TRUE(in) << VELMORA_MODEL_VECTORS;
  std::string line;
  int checked = 0, reachTable = 0;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream cols(line);
    std::vector<std::string> c;
    for (std::string word; cols >> word;) c.push_back(word);
    ASSERT_GE(c.size(), 14u) << line;
    const int mode = std::stoi(c[0]);
    float x[12];
    for (int i = 0; i < 12; ++i) x[i] = SingleFromHex(c[static_cast<std::size_t>(i) + 1]);
    const bool ok = c[13] == "1";
    const HouseholdInput h{x[0], x[1], x[2], x[3], x[4], x[5], x[6], x[7]};
    const CommonSettings s{x[8], x[9], x[10], x[11]};
    ModelResult result;
    std::vector<float> got;
    std::uint64_t userCost = 0;
    bool answered;
    if (mode == 0) {
      WithoutRiskPremiumTrace t;
      answered = ComputeWithoutRiskPremium(h, s, table, result, &t);
      got = {t.DamageRatio, t.TotalDamage, t.UninsuredDamageTerm, t.UninsuredAssetTerm, t.InsuredDamageTerm,
             t.InsuredAssetTerm, t.UninsuredGap, t.InsuredGap, t.Gap, t.Delay.GapValue, t.Delay.LiquidityFactor,
             t.Delay.DamageWeightedMean, result.DelayDamage};
    } else {
      WithRiskPremiumTrace t;
      answered = ComputeWithRiskPremium(h, s, table, result, &t);
      userCost = DoubleBits(t.UserCost);
      got = {t.TotalDamage, t.DepreciationRate, t.DamageRatio, result.PreferenceFactor, result.WillingnessToPay,
             result.OptimalCoverage, t.DamageTerm, t.AssetTerm, t.Gap, t.Delay.GapValue, t.Delay.LiquidityFactor,
             t.Delay.DamageWeightedMean, result.DelayDamage};
    }
    ASSERT_EQ(answered, ok) << line;
    ++checked;
    if (!ok) continue;
    std::size_t next = 14;
    if (mode == 1) {
      EXPECT_EQ(userCost, Hex(c[next++])) << "UserCost: " << line;
    }
    ASSERT_EQ(c.size() - next, got.size()) << line;
    for (std::size_t i = 0; i < got.size(); ++i) {
      EXPECT_EQ(test::Bits(got[i]), test::Bits(SingleFromHex(c[next + i]))) << "quantity " << i << ": " << line;
    }
    if (result.DelayDamage != 0.0f) ++reachTable;
  }
  EXPECT_GE(checked, 1200);
  EXPECT_GE(reachTable, 300) << "too few vectors reach the table to test the last step";
}

}  // namespace
}  // namespace velmora
