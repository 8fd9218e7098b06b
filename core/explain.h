#pragma once
// How a result came about: the named quantities of a model's trace in step
// order, with the names the models give them, and after a failed calculation
// the step that failed. Used by velmora-batch --explain and by the window, so
// that both show the same list.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "models.h"

namespace velmora {

enum class QuantityKind {
  Single,   // value holds the single, widened exactly
  Double,   // a quantity the model keeps in double precision
  Key,      // the table key, a whole number in value
  Text,     // text: DamageBand, InsuredRow, CoveredAmount
  Missing,  // GapKey when Gap lies outside -20..100 (no entry is read)
};

struct NamedQuantity {
  std::string_view name;  // "DamageRatio", "GapKey", ...
  QuantityKind kind = QuantityKind::Single;
  double value = 0.0;
  std::string_view text;  // Text only
};

// Every named quantity of a successful calculation, in step order. After a
// failure the list holds what the trace holds; FindFailedStep says where to
// stop reading it.
std::vector<NamedQuantity> ExplainQuantities(const WithoutRiskPremiumTrace& trace);
std::vector<NamedQuantity> ExplainQuantities(const WithRiskPremiumTrace& trace);

// The step at which a calculation stopped: the first quantity in step order
// that is not finite, or the quotient inside its step that is not (`part`,
// written as the model forms it). `position` is the quantity's index in the
// list of ExplainQuantities; the quantities before it were computed.
struct FailedStep {
  std::string_view quantity;
  std::string_view part;  // empty when the quantity itself is not finite
  std::size_t position = 0;
};

// Nothing when every quantity is finite (the model answered true).
std::optional<FailedStep> FindFailedStep(const WithoutRiskPremiumTrace& trace);
std::optional<FailedStep> FindFailedStep(const WithRiskPremiumTrace& trace);

// The value as text: a single as its shortest text that reads back to the
// same single, a double likewise, a key as a whole number, "-" when missing.
std::string QuantityText(const NamedQuantity& quantity);

}  // namespace velmora
