#include "ui/settings_store.h"

#include <QSettings>

namespace velmora {
namespace {

QString Q(std::string_view text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

class Store : public QSettings {
 public:
  Store() : QSettings(Q(form::kApplication), Q(form::kApplication)) { setFallbacksEnabled(false); }
};

}  // namespace

std::optional<std::string> QtSettingsStore::get(std::string_view section, std::string_view key) {
  Store settings;
  settings.beginGroup(Q(section));
  if (!settings.contains(Q(key))) return std::nullopt;
  const QVariant value = settings.value(Q(key));
  // A value written by hand with unquoted commas (1,2,3) reads as a list
  // of its parts: the store holds the text with its commas.
  return (value.typeId() == QMetaType::QStringList ? value.toStringList().join(QLatin1Char(',')) : value.toString())
      .toStdString();
}

void QtSettingsStore::save(std::string_view section, const std::vector<std::pair<std::string, std::string>>& values) {
  Store settings;
  settings.beginGroup(Q(section));
  for (const auto& [key, text] : values) settings.setValue(Q(key), Q(text));
  settings.endGroup();
  settings.sync();
}

void QtSettingsStore::deleteAll() { Store().clear(); }

}  // namespace velmora
