// One batch data line through ParseHouseholdRow and both models. Input: the
// first line holds the four setting texts (insurance, probability, interest,
// markup, comma separated; the defaults when they do not pass the check), the
// rest is the data line, split as the batch run splits it.
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "core/gap_table.h"
#include "core/models.h"
#include "core/number_text.h"
#include "input/checks.h"
#include "fuzz_common.h"

#ifndef VELMORA_EXAMPLE_GAP_TABLE
#error "VELMORA_EXAMPLE_GAP_TABLE must name the example gap table"
#endif

using namespace velmora;

namespace {

std::vector<std::string_view> Split(std::string_view s) {
  std::vector<std::string_view> out;
  std::size_t start = 0;
  for (;;) {
    const auto comma = s.find(',', start);
    if (comma == std::string_view::npos) {
      out.push_back(s.substr(start));
      return out;
    }
    out.push_back(s.substr(start, comma - start));
    start = comma + 1;
  }
}

const GapTable& Table() {
  static const GapTable table = [] {
    GapTable t;
    fuzz::CountingReporter r;
    if (!LoadGapTable(VELMORA_EXAMPLE_GAP_TABLE, t, r)) fuzz::Fail("example gap table does not load");
    return t;
  }();
  return table;
}

bool Same(const ModelResult& a, const ModelResult& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

void CheckModel(Mode mode, const HouseholdInput& h, const CommonSettings& s) {
  ModelResult before;
  before.PreferenceFactor = -7.0f;
  before.WillingnessToPay = -7.0f;
  before.OptimalCoverage = -7.0f;
  before.DelayDamage = -7.0f;
  ModelResult r = before;
  if (mode == Mode::WithoutRiskPremium) {
    if (ComputeWithoutRiskPremium(h, s, Table(), r)) {
      VELMORA_CHECK(std::isfinite(r.DelayDamage));
      // Mode 0 writes DelayDamage alone.
      VELMORA_CHECK(r.PreferenceFactor == -7.0f && r.WillingnessToPay == -7.0f && r.OptimalCoverage == -7.0f);
    } else {
      VELMORA_CHECK(Same(r, before));
    }
  } else {
    if (ComputeWithRiskPremium(h, s, Table(), r)) {
      VELMORA_CHECK(std::isfinite(r.PreferenceFactor) && std::isfinite(r.WillingnessToPay) &&
                    std::isfinite(r.OptimalCoverage) && std::isfinite(r.DelayDamage));
    } else {
      VELMORA_CHECK(Same(r, before));
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view all(reinterpret_cast<const char*>(data), size);
  const auto nl = all.find('\n');
  const std::string_view settingsLine = nl == std::string_view::npos ? std::string_view() : all.substr(0, nl);
  const std::string_view row = nl == std::string_view::npos ? all : all.substr(nl + 1);

  for (Mode mode : {Mode::WithoutRiskPremium, Mode::WithRiskPremium}) {
    CommonSettings settings;
    fuzz::CountingReporter reporter;
    auto texts = Split(settingsLine);
    texts.resize(4);
    if (!CheckCommonSettings({texts[0], texts[1], texts[2], texts[3]}, mode, settings, reporter)) {
      VELMORA_CHECK(reporter.errors == 1);
      CheckCommonSettings({"0.610", "0.025", "0.040", "3.140"}, mode, settings, reporter);
    }

    // As the batch run does it: seven commas more, so eight fields at least.
    std::string line(row);
    line += ",,,,,,,";
    const auto fields = Split(line);
    HouseholdInput household;
    household.Consumption = 123.0f;  // mode 0 must leave it alone
    HouseholdInput untouched = household;
    if (!ParseHouseholdRow(fields, mode, household)) {
      // A field that is no number leaves the record as it was.
      bool allNumbers = true;
      for (std::size_t i = 0; i < (mode == Mode::WithRiskPremium ? 8u : 7u); ++i)
        allNumbers = NumericSign(fields[i]) != 0 && allNumbers;
      if (!allNumbers) VELMORA_CHECK(std::memcmp(&household, &untouched, sizeof household) == 0);
      continue;
    }
    if (mode == Mode::WithoutRiskPremium) VELMORA_CHECK(household.Consumption == 123.0f);
    for (float v : {household.HouseDamage, household.GoodsDamage, household.AnnualIncome, household.FinancialAssets,
                    household.LandAssets, household.GoodsValue, household.HousePrice, household.Consumption})
      VELMORA_CHECK(std::isfinite(v));
    CheckModel(mode, household, settings);
  }
  return 0;
}
