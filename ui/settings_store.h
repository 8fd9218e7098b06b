#pragma once
#include "form/settings.h"

namespace velmora {

// The per-user store as QSettings keeps it: organisation and application
// "Velmora", each section a group, each text exactly as typed. Only the
// user's own store counts: no system-wide or organisation-wide file stands
// in for a key that is absent.
class QtSettingsStore : public form::SettingsStore {
 public:
  std::optional<std::string> get(std::string_view section, std::string_view key) override;
  // Opens the store once and writes it to disk at once.
  void save(std::string_view section, const std::vector<std::pair<std::string, std::string>>& values) override;
  void deleteAll() override;
};

}  // namespace velmora
