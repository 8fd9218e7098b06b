#pragma once
// The settings store in the registry, where Qt's QSettings keeps them on
// Windows: HKEY_CURRENT_USER\Software\Velmora\Velmora, one key per section,
// each text a REG_SZ value.
#include "form/settings.h"

namespace velmora::win32 {

class RegistryStore : public form::SettingsStore {
 public:
  std::optional<std::string> get(std::string_view section, std::string_view key) override;
  void save(std::string_view section, const std::vector<std::pair<std::string, std::string>>& values) override;
  void deleteAll() override;
};

}  // namespace velmora::win32
