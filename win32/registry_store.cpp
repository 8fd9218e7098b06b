#include "win32/registry_store.h"

#include <windows.h>

#include "win32/text.h"

namespace velmora::win32 {
namespace {

constexpr const wchar_t* kApplicationKey = L"Software\\Velmora\\Velmora";

std::wstring SectionKey(std::string_view section) { return std::wstring(kApplicationKey) + L"\\" + Wide(section); }

}  // namespace

std::optional<std::string> RegistryStore::get(std::string_view section, std::string_view key) {
  const std::wstring sectionKey = SectionKey(section);
  const std::wstring name = Wide(key);
  DWORD bytes = 0;
  if (RegGetValueW(HKEY_CURRENT_USER, sectionKey.c_str(), name.c_str(), RRF_RT_REG_SZ, nullptr, nullptr, &bytes) !=
      ERROR_SUCCESS) {
    return std::nullopt;
  }
  std::wstring text(bytes / sizeof(wchar_t) + 1, L'\0');
  bytes = static_cast<DWORD>(text.size() * sizeof(wchar_t));
  if (RegGetValueW(HKEY_CURRENT_USER, sectionKey.c_str(), name.c_str(), RRF_RT_REG_SZ, nullptr, text.data(),
                   &bytes) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  text.resize(wcsnlen(text.c_str(), text.size()));
  return Utf8(text);
}

void RegistryStore::save(std::string_view section, const std::vector<std::pair<std::string, std::string>>& values) {
  HKEY hkey = nullptr;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, SectionKey(section).c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &hkey,
                      nullptr) != ERROR_SUCCESS) {
    return;
  }
  for (const auto& [key, text] : values) {
    const std::wstring wide = Wide(text);
    RegSetValueExW(hkey, Wide(key).c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(wide.c_str()),
                   static_cast<DWORD>((wide.size() + 1) * sizeof(wchar_t)));
  }
  // The program may be ending (log-off, shut-down): on disk now.
  RegFlushKey(hkey);
  RegCloseKey(hkey);
}

void RegistryStore::deleteAll() { RegDeleteTreeW(HKEY_CURRENT_USER, kApplicationKey); }

}  // namespace velmora::win32
