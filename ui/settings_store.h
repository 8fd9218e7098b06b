#pragma once
#include <QString>
#include <array>

namespace velmora {

// The per-user store of the twelve setting boxes: organisation and
// application "Velmora", group "Setting", one key per box, holding the box's
// text exactly as typed.
class SettingsStore {
 public:
  struct Key {
    const char* name;          // the box whose text the key keeps
    const char* defaultText;   // the model's default value
  };
  // Always read and written in this order.
  static const std::array<Key, 12> kKeys;

  // The stored text; `defaultText` when the key is absent. A key stored with
  // an empty text answers the empty text.
  QString get(const QString& key, const QString& defaultText) const;
  void save(const QString& key, const QString& text);
  // Removes every setting of the application; nothing happens when nothing
  // is stored.
  void deleteApplication();
  // Writes pending changes to disk now (the program may be ending).
  void flush();
};

}  // namespace velmora
