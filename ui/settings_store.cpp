#include "ui/settings_store.h"

#include <QSettings>

#include "input/checks.h"

namespace velmora {
namespace {

const QString kOrganisation = QStringLiteral("Velmora");
const QString kApplication = QStringLiteral("Velmora");
const QString kGroup = QStringLiteral("Setting");

}  // namespace

const std::array<SettingsStore::Key, 12> SettingsStore::kKeys = {{
    {"txtC1", kDefaultCommonSettingTexts[0].data()},
    {"txtC2", kDefaultCommonSettingTexts[1].data()},
    {"txtC3", kDefaultCommonSettingTexts[2].data()},
    {"txtC4", kDefaultCommonSettingTexts[3].data()},
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
