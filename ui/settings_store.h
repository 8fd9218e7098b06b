#pragma once
#include <QString>
#include <QStringList>
#include <array>

namespace velmora {

// The per-user store of the twelve setting boxes: organisation and
// application "Velmora", group "Setting", one key per box, holding the box's
// text exactly as typed. Only the user's own store counts: no system-wide or
// organisation-wide file stands in for a key that is absent.
class SettingsStore {
 public:
  struct Key {
    const char* name;          // the box whose text the key keeps
    const char* defaultText;   // the model's default value
  };
  // Always read and written in this order.
  static const std::array<Key, 12> kKeys;

  // The stored texts of `keys`, in order, read with one opening of the
  // store; defaultTexts[i] when keys[i] is absent. A key stored with an empty
  // text answers the empty text.
  QStringList get(const QStringList& keys, const QStringList& defaultTexts) const;
  QString get(const QString& key, const QString& defaultText) const;
  // Stores texts[i] under keys[i], in order, and writes the store to disk at
  // once (the program may be ending), opening it once.
  void save(const QStringList& keys, const QStringList& texts);
  void save(const QString& key, const QString& text);
  // The window's own choices beyond the twelve boxes live in a group of
  // their own ("Batch"), so that "Setting" keeps exactly its twelve keys.
  static constexpr const char* kKeepColumns = "KeepColumns";
  bool getOption(const QString& key, bool defaultValue) const;
  void saveOption(const QString& key, bool value);
  // Removes every setting of the application; nothing happens when nothing
  // is stored.
  void deleteApplication();
};

}  // namespace velmora
