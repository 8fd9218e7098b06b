#include "explain.h"

#include <charconv>
#include <cmath>

namespace velmora {
namespace {

// One entry of a model's walk in step order: a named quantity, or a quotient
// formed inside the step of the quantity it names (`part`), which the model
// checks but nobody lists.
struct Step {
  NamedQuantity quantity;
  std::string_view part;
};

Step Single(std::string_view name, float value) { return {{name, QuantityKind::Single, value, {}}, {}}; }
Step Double(std::string_view name, double value) { return {{name, QuantityKind::Double, value, {}}, {}}; }
Step Text(std::string_view name, std::string_view text) { return {{name, QuantityKind::Text, 0.0, text}, {}}; }
Step Part(std::string_view name, std::string_view formula, double value) {
  return {{name, QuantityKind::Double, value, {}}, formula};
}

std::string_view BandText(DamageBand band) {
  switch (band) {
    case DamageBand::Low: return "low";
    case DamageBand::Middle: return "middle";
    case DamageBand::High: return "high";
  }
  return "";
}

std::string_view RowText(InsuredRow row) {
  switch (row) {
    case InsuredRow::L1: return "L1";
    case InsuredRow::L2: return "L2";
    case InsuredRow::M1: return "M1";
    case InsuredRow::M2: return "M2";
    case InsuredRow::H: return "H";
  }
  return "";
}

// What the insured terms grow with in each row; the model folds it into its
// coefficients, so it is named, not computed.
std::string_view CoveredText(InsuredRow row) {
  switch (row) {
    case InsuredRow::L1: return "1";
    case InsuredRow::L2: return "0.05 * TotalDamage";
    case InsuredRow::M1: return "2";
    case InsuredRow::M2: return "0.1 * TotalDamage";
    case InsuredRow::H: return "0.7 * TotalDamage";
  }
  return "";
}

void AddDelay(std::vector<Step>& steps, const DelayTrace& d) {
  if (d.InTable) {
    steps.push_back({{"GapKey", QuantityKind::Key, static_cast<double>(d.GapKey), {}}, {}});
  } else {
    steps.push_back({{"GapKey", QuantityKind::Missing, 0.0, {}}, {}});
  }
  steps.push_back(Single("GapValue", d.GapValue));
  steps.push_back(Part("LiquidityFactor", "(0.615 * TotalDamage) / (36.607497 * LiquidAssets)", d.DamageShare));
  steps.push_back(Single("LiquidityFactor", d.LiquidityFactor));
  steps.push_back(Single("DamageWeightedMean", d.DamageWeightedMean));
  steps.push_back(Single("DelayDamage", d.DelayDamage));
}

std::vector<Step> Walk(const WithoutRiskPremiumTrace& t) {
  std::vector<Step> steps;
  steps.push_back(Single("DamageRatio", t.DamageRatio));
  steps.push_back(Single("TotalDamage", t.TotalDamage));
  steps.push_back(Double("LiquidAssets", t.LiquidAssets));
  steps.push_back(Part("UninsuredDamageTerm", "TotalDamage / LiquidAssets", t.DamagePerLiquidity));
  steps.push_back(Single("UninsuredDamageTerm", t.UninsuredDamageTerm));
  steps.push_back(Text("DamageBand", BandText(t.Band)));
  steps.push_back(Text("InsuredRow", RowText(t.Row)));
  steps.push_back(Text("CoveredAmount", CoveredText(t.Row)));
  steps.push_back(Single("InsuredDamageTerm", t.InsuredDamageTerm));
  steps.push_back(Single("InsuredAssetTerm", t.InsuredAssetTerm));
  steps.push_back(Single("UninsuredAssetTerm", t.UninsuredAssetTerm));
  steps.push_back(Single("UninsuredGap", t.UninsuredGap));
  steps.push_back(Single("InsuredGap", t.InsuredGap));
  steps.push_back(Single("Gap", t.Gap));
  AddDelay(steps, t.Delay);
  return steps;
}

std::vector<Step> Walk(const WithRiskPremiumTrace& t) {
  std::vector<Step> steps;
  steps.push_back(Single("TotalDamage", t.TotalDamage));
  steps.push_back(Double("PropertyValue", t.PropertyValue));
  steps.push_back(Double("LiquidAssets", t.LiquidAssets));
  steps.push_back(Part("DepreciationRate", "(GoodsValue * 8 + HousePrice * 22) / PropertyValue", t.WeightedLife));
  steps.push_back(Single("DepreciationRate", t.DepreciationRate));
  steps.push_back(Single("DamageRatio", t.DamageRatio));
  steps.push_back(Double("UserCost", t.UserCost));
  steps.push_back(Part("PreferenceFactor", "(UserCost * PropertyValue) / Consumption", t.CostShare));
  steps.push_back(Single("PreferenceFactor", t.PreferenceFactor));
  steps.push_back(Single("WillingnessToPay", t.WillingnessToPay));
  steps.push_back(Part("OptimalCoverage",
                       "(UserCost * (MarkupRate - 1)) / ((DamageRatio * MarkupRate) * (1 - PreferenceFactor))",
                       t.Uncovered));
  steps.push_back(Single("OptimalCoverage", t.OptimalCoverage));
  steps.push_back(Single("DamageTerm", t.DamageTerm));
  steps.push_back(Single("AssetTerm", t.AssetTerm));
  steps.push_back(Single("Gap", t.Gap));
  AddDelay(steps, t.Delay);
  return steps;
}

std::vector<NamedQuantity> Listed(const std::vector<Step>& steps) {
  std::vector<NamedQuantity> list;
  for (const Step& s : steps) {
    if (s.part.empty()) list.push_back(s.quantity);
  }
  return list;
}

std::optional<FailedStep> FirstNotFinite(const std::vector<Step>& steps) {
  std::size_t position = 0;
  for (const Step& s : steps) {
    const QuantityKind kind = s.quantity.kind;
    if ((kind == QuantityKind::Single || kind == QuantityKind::Double) && !std::isfinite(s.quantity.value)) {
      return FailedStep{s.quantity.name, s.part, position};
    }
    if (s.part.empty()) ++position;
  }
  return std::nullopt;
}

}  // namespace

std::vector<NamedQuantity> ExplainQuantities(const WithoutRiskPremiumTrace& trace) { return Listed(Walk(trace)); }
std::vector<NamedQuantity> ExplainQuantities(const WithRiskPremiumTrace& trace) { return Listed(Walk(trace)); }

std::optional<FailedStep> FindFailedStep(const WithoutRiskPremiumTrace& trace) { return FirstNotFinite(Walk(trace)); }
std::optional<FailedStep> FindFailedStep(const WithRiskPremiumTrace& trace) { return FirstNotFinite(Walk(trace)); }

std::string QuantityText(const NamedQuantity& q) {
  char buffer[64];
  std::to_chars_result r{};
  switch (q.kind) {
    case QuantityKind::Single:
      r = std::to_chars(buffer, buffer + sizeof buffer, static_cast<float>(q.value));
      break;
    case QuantityKind::Double:
      r = std::to_chars(buffer, buffer + sizeof buffer, q.value);
      break;
    case QuantityKind::Key:
      r = std::to_chars(buffer, buffer + sizeof buffer, static_cast<long>(q.value));
      break;
    case QuantityKind::Text:
      return std::string(q.text);
    case QuantityKind::Missing:
      return "-";
  }
  return std::string(buffer, r.ptr);
}

}  // namespace velmora
