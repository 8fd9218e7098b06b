#include "ui/individual_calculation.h"

#include "batch/explain_row.h"

namespace velmora {

std::optional<int> ReadKey(const IndividualCalculation& c) {
  const CommonSettingTexts texts = {c.settingTexts[0], c.settingTexts[1], c.settingTexts[2], c.settingTexts[3]};
  const Explanation e = ExplainHousehold(c.household, c.mode, texts, c.settings, c.table, c.gapTableFile);
  for (const NamedQuantity& q : e.quantities) {
    if (q.name == "GapKey" && q.kind == QuantityKind::Key) return static_cast<int>(q.value);
  }
  return std::nullopt;
}

}  // namespace velmora
