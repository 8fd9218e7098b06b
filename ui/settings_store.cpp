#include "ui/settings_store.h"

#include <QSettings>

namespace velmora {
namespace {

const QString kOrganisation = QStringLiteral("Velmora");
const QString kApplication = QStringLiteral("Velmora");
const QString kGroup = QStringLiteral("Setting");

}  // namespace

const std::array<SettingsStore::Key, 12> SettingsStore::kKeys = {{
    {"txtC1", "0.610"},
    {"txtC2", "0.025"},
    {"txtC3", "0.040"},
    {"txtC4", "3.140"},
    {"txtU2", "9.725"},
    {"txtU3", "7.380"},
    {"txtU4", "4.810"},
    {"txtU5", "3.570"},
    {"txtU6", "7.416"},
    {"txtU7", "14.759"},
    {"txtU8", "22.616"},
    {"txtU9", "3.321"},
}};

QString SettingsStore::get(const QString& key, const QString& defaultText) const {
  QSettings settings(kOrganisation, kApplication);
  settings.beginGroup(kGroup);
  if (!settings.contains(key)) return defaultText;
  return settings.value(key).toString();
}

void SettingsStore::save(const QString& key, const QString& text) {
  QSettings settings(kOrganisation, kApplication);
  settings.beginGroup(kGroup);
  settings.setValue(key, text);
}

void SettingsStore::deleteApplication() {
  QSettings settings(kOrganisation, kApplication);
  settings.clear();
}

void SettingsStore::flush() {
  QSettings settings(kOrganisation, kApplication);
  settings.sync();
}

}  // namespace velmora
