// Speed of the pieces every batch line goes through.
#include <benchmark/benchmark.h>

#include <array>
#include <string_view>

#include "core/models.h"
#include "core/number_text.h"
#include "input/checks.h"

namespace velmora {
namespace {

constexpr std::array<std::string_view, 8> kRow = {"9.725", "7.38", "4.81", "3.57", "7.416", "14.759", "22.616", "3.321"};

HouseholdInput Household() {
  HouseholdInput h;
  ParseHouseholdRow(kRow, Mode::WithRiskPremium, h);
  return h;
}

CommonSettings Settings() { return {0.61f, 0.025f, 0.04f, 3.14f}; }

GapTable Table() {
  GapTable t;
  for (int k = GapTable::kMinKey; k <= GapTable::kMaxKey; ++k) t.at(k) = static_cast<float>(k + 201) / 1000.0f;
  return t;
}

void BM_TextToNumberSingle(benchmark::State& state) {
  std::size_t i = 0;
  for (auto _ : state) {
    float v;
    benchmark::DoNotOptimize(TextToNumber(kRow[i++ & 7], v));
    benchmark::DoNotOptimize(v);
  }
}
BENCHMARK(BM_TextToNumberSingle);

void BM_TextToNumberDouble(benchmark::State& state) {
  std::size_t i = 0;
  for (auto _ : state) {
    double v;
    benchmark::DoNotOptimize(TextToNumber(kRow[i++ & 7], v));
    benchmark::DoNotOptimize(v);
  }
}
BENCHMARK(BM_TextToNumberDouble);

void BM_ParseHouseholdRow(benchmark::State& state) {
  HouseholdInput h;
  for (auto _ : state) {
    benchmark::DoNotOptimize(ParseHouseholdRow(kRow, Mode::WithRiskPremium, h));
    benchmark::DoNotOptimize(h);
  }
}
BENCHMARK(BM_ParseHouseholdRow);

void BM_ComputeWithoutRiskPremium(benchmark::State& state) {
  const HouseholdInput h = Household();
  const CommonSettings s = Settings();
  const GapTable t = Table();
  ModelResult r;
  for (auto _ : state) {
    benchmark::DoNotOptimize(ComputeWithoutRiskPremium(h, s, t, r));
    benchmark::DoNotOptimize(r);
  }
}
BENCHMARK(BM_ComputeWithoutRiskPremium);

void BM_ComputeWithRiskPremium(benchmark::State& state) {
  const HouseholdInput h = Household();
  const CommonSettings s = Settings();
  const GapTable t = Table();
  ModelResult r;
  for (auto _ : state) {
    benchmark::DoNotOptimize(ComputeWithRiskPremium(h, s, t, r));
    benchmark::DoNotOptimize(r);
  }
}
BENCHMARK(BM_ComputeWithRiskPremium);

void BM_FormatBatchNumber(benchmark::State& state) {
  const float values[4] = {0.3940527f, 1.342743f, 0.6642039f, 0.0002392535f};
  char buf[kBatchNumberMax];
  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(FormatBatchNumberTo(values[i++ & 3], buf));
    benchmark::DoNotOptimize(buf);
  }
}
BENCHMARK(BM_FormatBatchNumber);

}  // namespace
}  // namespace velmora
