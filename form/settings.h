#pragma once
// The twelve setting boxes: their keys in the store, defaults, captions and
// which mode uses them; and the store itself, as each window keeps it
// (QSettings on Linux, the registry on Windows).
#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/records.h"

namespace velmora::form {

struct Setting {
  std::string_view key;          // the name of the box whose text it keeps
  std::string_view defaultText;  // the model's default
  std::string_view caption;      // the box's item label without its colon
};

// Always read and written in this order.
inline constexpr std::array<Setting, 12> kSettings = {{
    {"txtC1", "0.610", "保険加入率"},
    {"txtC2", "0.025", "被害の発生確率"},
    {"txtC3", "0.040", "利子率"},
    {"txtC4", "3.140", "マークアップ率"},
    {"txtU2", "9.725", "家屋被害"},
    {"txtU3", "7.380", "家財被害"},
    {"txtU4", "4.810", "世帯金融資産残高"},
    {"txtU5", "3.570", "世帯年収"},
    {"txtU6", "7.416", "土地資産額"},
    {"txtU7", "14.759", "家庭用品額"},
    {"txtU8", "22.616", "家屋価格"},
    {"txtU9", "3.321", "物質資産への投資を除く消費額"},
}};

// The boxes the mode switch enables and disables, in the order it sets them.
inline constexpr std::array<std::string_view, 5> kModeBoxes = {"txtC1", "txtC2", "txtC3", "txtC4", "txtU9"};
// Whether the mode uses (enables) one of the setting boxes.
bool UsedInMode(std::string_view box, Mode mode);
// "1（リスクプレミアムを考慮）" or "0（リスクプレミアムを考慮しない）".
std::string_view ModeText(Mode mode);

inline constexpr std::string_view kApplication = "Velmora";
inline constexpr std::string_view kSettingSection = "Setting";
// The window's own choices live in a section of their own, so that
// "Setting" keeps exactly its twelve keys.
inline constexpr std::string_view kOptionSection = "Batch";
inline constexpr std::string_view kKeepColumnsKey = "KeepColumns";

// The per-user store of the application: texts under a section and a key.
class SettingsStore {
 public:
  virtual ~SettingsStore() = default;
  // The stored text; nothing when the key (or its section) is absent. A key
  // stored with the empty text answers the empty text.
  virtual std::optional<std::string> get(std::string_view section, std::string_view key) = 0;
  // Stores every pair under the section at once, in order, creating what is
  // missing and replacing earlier values; written through before it returns
  // (the program may be ending).
  virtual void save(std::string_view section, const std::vector<std::pair<std::string, std::string>>& values) = 0;
  // Removes every section and key of the application; nothing happens when
  // nothing is stored.
  virtual void deleteAll() = 0;
};

// The twelve texts, stored or default, in the order of kSettings. The
// defaults are numbers: shown with the separator the boxes read.
std::array<std::string, 12> LoadSettingTexts(SettingsStore& store, std::string_view decimalSeparator = ".");
void SaveSettingTexts(SettingsStore& store, const std::array<std::string, 12>& texts);
// Options are kept as "true" / "false".
bool LoadOption(SettingsStore& store, std::string_view key, bool defaultValue);
void SaveOption(SettingsStore& store, std::string_view key, bool value);

}  // namespace velmora::form
