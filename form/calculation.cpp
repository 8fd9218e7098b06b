#include "form/calculation.h"

#include <cstdint>

#include "platform/platform.h"
#include "platform/sha256.h"
#include "core/messages.h"
#include "core/number_text.h"
#include "input/checks.h"

namespace velmora::form {
namespace {

// Passes messages on and remembers the last error.
class Watching : public Reporter {
 public:
  explicit Watching(Reporter& target) : target_(target) {}
  void error(std::string_view m) override {
    last = m;
    target_.error(m);
  }
  void info(std::string_view m) override { target_.info(m); }
  std::string last;

 private:
  Reporter& target_;
};

std::string FirstNotNumeric(const SettingTexts& texts, std::size_t from, std::size_t to,
                            std::string_view separator, std::string_view skip = {}) {
  for (std::size_t i = from; i < to; ++i) {
    const std::string_view key = i < 4 ? std::array<std::string_view, 4>{"txtC1", "txtC2", "txtC3", "txtC4"}[i]
                                       : std::array<std::string_view, 8>{"txtU2", "txtU3", "txtU4", "txtU5",
                                                                         "txtU6", "txtU7", "txtU8", "txtU9"}[i - 4];
    if (key == skip) continue;
    if (NumericSign(texts[i], separator) == 0) return std::string(key);
  }
  return {};
}

// Which box the failed check refused, by the message it gave.
std::string FailedBox(const SettingTexts& texts, Mode mode, std::string_view message, std::string_view sep) {
  const bool withPremium = mode == Mode::WithRiskPremium;
  if (message == msg::kCommonSettingsInvalid) return FirstNotNumeric(texts, 0, withPremium ? 4 : 1, sep);
  if (message == msg::kMarkupRateZero) return "txtC4";
  if (message == msg::kInputValuesInvalid) return FirstNotNumeric(texts, 4, withPremium ? 12 : 11, sep);
  if (message == msg::kAssetSumZero) return "txtU7";
  if (message == msg::kLiquiditySumZero) return "txtU4";
  return {};
}

}  // namespace

CalculationOutcome Calculate(const SettingTexts& texts, Mode mode, CommonSettings& settings, GapTable& table,
                             const std::filesystem::path& gapTableFile, Reporter& reporter,
                             std::string_view decimalSeparator) {
  CalculationOutcome outcome;
  Watching watching(reporter);
  Sha256 digest;
  if (!LoadGapTable(gapTableFile, table, watching,
                    [&digest](const char* bytes, std::size_t size) { digest.Update(bytes, size); })) {
    return outcome;
  }
  const CommonSettingTexts common = {texts[0], texts[1], texts[2], texts[3]};
  HouseholdTexts householdTexts;
  for (std::size_t i = 0; i < householdTexts.size(); ++i) householdTexts[i] = texts[4 + i];
  HouseholdInput household{};
  if (!CheckCommonSettings(common, mode, settings, watching, decimalSeparator) ||
      !ReadHouseholdFromScreen(householdTexts, mode, household, watching, decimalSeparator)) {
    outcome.failure.box = FailedBox(texts, mode, watching.last, decimalSeparator);
    return outcome;
  }

  Calculation c;
  c.explanation = ExplainHousehold(household, mode, common, settings, table, gapTableFile);
  if (!c.explanation.computed()) {
    reporter.error(msg::kNotComputable);
    return outcome;
  }
  const ModelResult& r = c.explanation.results;
  const float values[4] = {r.PreferenceFactor, r.WillingnessToPay, r.OptimalCoverage, r.DelayDamage};
  for (std::size_t i = 0; i < 4; ++i) {
    c.shown[i] = mode == Mode::WithRiskPremium || i == 3 ? FormatDisplay(values[i], decimalSeparator) : "-";
  }
  c.table = table;
  c.gapTableFile = gapTableFile;
  c.gapTableSha256 = digest.HexDigest();
  outcome.done = std::move(c);
  return outcome;
}

std::optional<int> ReadKey(const Explanation& e) {
  for (const NamedQuantity& q : e.quantities) {
    if (q.name == "GapKey" && q.kind == QuantityKind::Key) return static_cast<int>(q.value);
  }
  return std::nullopt;
}

std::string CalculationText(const Calculation& c) {
  std::string text = ExplanationText(c.explanation);
  if (!text.empty() && text.back() != '\n') text += '\n';
  text += "\nギャップ分布表：" + platform::Utf8FromPath(c.gapTableFile) + "\n";
  text += "SHA-256 " + c.gapTableSha256 + "\n";
  if (const std::optional<int> key = ReadKey(c.explanation)) {
    const float value = c.table.at(*key);
    text += "読んだ値：キー " + std::to_string(*key) + " の値 " + FormatBatchNumber(value) + "\n";
  } else {
    text += "読んだ値：なし（ギャップが -20 ～ 100 の外にあり、値は 0）\n";
  }
  return text;
}

}  // namespace velmora::form
