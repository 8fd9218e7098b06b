#include "ui/settings_store.h"

#include <QSettings>

#include "input/checks.h"

namespace velmora {
namespace {

const QString kOrganisation = QStringLiteral("Velmora");
const QString kApplication = QStringLiteral("Velmora");
const QString kGroup = QStringLiteral("Setting");
const QString kOptionGroup = QStringLiteral("Batch");

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

QStringList SettingsStore::get(const QStringList& keys, const QStringList& defaultTexts) const {
  QSettings settings(kOrganisation, kApplication);
  settings.setFallbacksEnabled(false);
  settings.beginGroup(kGroup);
  QStringList texts;
  for (qsizetype i = 0; i < keys.size(); ++i) {
    if (!settings.contains(keys[i])) {
      texts << defaultTexts.value(i);
      continue;
    }
    const QVariant value = settings.value(keys[i]);
    // A value written by hand with unquoted commas (1,2,3) reads as a list
    // of its parts: the store holds the text with its commas.
    texts << (value.typeId() == QMetaType::QStringList ? value.toStringList().join(QLatin1Char(','))
                                                       : value.toString());
  }
  return texts;
}

QString SettingsStore::get(const QString& key, const QString& defaultText) const {
  return get(QStringList{key}, QStringList{defaultText}).value(0);
}

void SettingsStore::save(const QStringList& keys, const QStringList& texts) {
  QSettings settings(kOrganisation, kApplication);
  settings.setFallbacksEnabled(false);
  settings.beginGroup(kGroup);
  for (qsizetype i = 0; i < keys.size(); ++i) settings.setValue(keys[i], texts.value(i));
  settings.endGroup();
  settings.sync();
}

void SettingsStore::save(const QString& key, const QString& text) { save(QStringList{key}, QStringList{text}); }

bool SettingsStore::getOption(const QString& key, bool defaultValue) const {
  QSettings settings(kOrganisation, kApplication);
  settings.setFallbacksEnabled(false);
  settings.beginGroup(kOptionGroup);
  return settings.value(key, defaultValue).toBool();
}

void SettingsStore::saveOption(const QString& key, bool value) {
  QSettings settings(kOrganisation, kApplication);
  settings.setFallbacksEnabled(false);
  settings.beginGroup(kOptionGroup);
  settings.setValue(key, value);
  settings.endGroup();
  settings.sync();
}

void SettingsStore::deleteApplication() {
  QSettings settings(kOrganisation, kApplication);
  settings.setFallbacksEnabled(false);
  settings.clear();
}

}  // namespace velmora
