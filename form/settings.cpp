#include "form/settings.h"

namespace velmora::form {

bool UsedInMode(std::string_view box, Mode mode) {
  const bool withPremium = mode == Mode::WithRiskPremium;
  if (box == "txtC1") return !withPremium;
  if (box == "txtC2" || box == "txtC3" || box == "txtC4" || box == "txtU9") return withPremium;
  return true;
}

std::string_view ModeText(Mode mode) {
  return mode == Mode::WithRiskPremium ? "1（リスクプレミアムを考慮）" : "0（リスクプレミアムを考慮しない）";
}

std::array<std::string, 12> LoadSettingTexts(SettingsStore& store, std::string_view decimalSeparator) {
  std::array<std::string, 12> texts;
  for (std::size_t i = 0; i < kSettings.size(); ++i) {
    if (std::optional<std::string> stored = store.get(kSettingSection, kSettings[i].key)) {
      texts[i] = std::move(*stored);
      continue;
    }
    for (char c : kSettings[i].defaultText) {
      if (c == '.') {
        texts[i] += decimalSeparator;
      } else {
        texts[i] += c;
      }
    }
  }
  return texts;
}

void SaveSettingTexts(SettingsStore& store, const std::array<std::string, 12>& texts) {
  std::vector<std::pair<std::string, std::string>> values;
  for (std::size_t i = 0; i < kSettings.size(); ++i) values.emplace_back(kSettings[i].key, texts[i]);
  store.save(kSettingSection, values);
}

bool LoadOption(SettingsStore& store, std::string_view key, bool defaultValue) {
  const std::optional<std::string> text = store.get(kOptionSection, key);
  if (!text) return defaultValue;
  return *text == "true" || *text == "1";
}

void SaveOption(SettingsStore& store, std::string_view key, bool value) {
  store.save(kOptionSection, {{std::string(key), value ? "true" : "false"}});
}

}  // namespace velmora::form
