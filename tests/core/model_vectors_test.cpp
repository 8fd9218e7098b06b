// Both models against the vectors of the independent second implementation
// (tools/model_reference.py), to the bit. Any fused multiply-add, changed
// order of operations or misplaced rounding shows up here.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "core/models.h"
#include "test_support.h"

namespace velmora {
namespace {

float FromBits(const std::string& hex) {
  const std::uint32_t u = static_cast<std::uint32_t>(std::stoul(hex, nullptr, 16));
  float f;
  std::memcpy(&f, &u, sizeof f);
  return f;
}

TEST(ModelVectors, BothModelsMatchTheReferenceToTheBit) {
  GapTable table;
  for (int k = GapTable::kMinKey; k <= GapTable::kMaxKey; ++k) table.at(k) = static_cast<float>(k + 201) / 1024.0f;

  std::ifstream in(VELMORA_MODEL_VECTORS);
  ASSERT_TRUE(in) << VELMORA_MODEL_VECTORS;
  std::string line;
  int checked = 0, computed = 0, inRange = 0;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream cols(line);
    int mode = 0, ok = 0;
    std::string x[12], r[4];
    cols >> mode;
    for (auto& s : x) cols >> s;
    cols >> ok;
    for (auto& s : r) cols >> s;
    ASSERT_TRUE(cols) << line;

    HouseholdInput h{FromBits(x[0]), FromBits(x[1]), FromBits(x[2]), FromBits(x[3]),
                     FromBits(x[4]), FromBits(x[5]), FromBits(x[6]), FromBits(x[7])};
    CommonSettings s{FromBits(x[8]), FromBits(x[9]), FromBits(x[10]), FromBits(x[11])};
    ModelResult result;
    const bool answered = mode == 0 ? ComputeWithoutRiskPremium(h, s, table, result)
                                    : ComputeWithRiskPremium(h, s, table, result);
    ASSERT_EQ(answered, ok == 1) << line;
    ++checked;
    if (!answered) continue;
    ++computed;
    if (result.DelayDamage != 0.0f) ++inRange;
    EXPECT_EQ(test::Bits(result.DelayDamage), test::Bits(FromBits(r[3]))) << line;
    if (mode == 1) {
      EXPECT_EQ(test::Bits(result.PreferenceFactor), test::Bits(FromBits(r[0]))) << line;
      EXPECT_EQ(test::Bits(result.WillingnessToPay), test::Bits(FromBits(r[1]))) << line;
      EXPECT_EQ(test::Bits(result.OptimalCoverage), test::Bits(FromBits(r[2]))) << line;
    }
  }
  EXPECT_GE(checked, 1000);
  EXPECT_GE(inRange, 300) << "too few vectors reach the table to test DelayFromGap";
}

}  // namespace
}  // namespace velmora
