#include <windows.h>

#include <string>

#include "map/map_text.h"

namespace velmora::map {

std::string Cp932ToUtf8(std::string_view bytes) {
  if (bytes.empty()) return {};
  // Bytes that are no CP932 character become the system's replacement.
  const int count = static_cast<int>(bytes.size());
  const int wide = MultiByteToWideChar(932, 0, bytes.data(), count, nullptr, 0);
  if (wide <= 0) return ValidUtf8(bytes);
  std::wstring text(static_cast<std::size_t>(wide), L'\0');
  MultiByteToWideChar(932, 0, bytes.data(), count, text.data(), wide);
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), wide, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), wide, out.data(), size, nullptr, nullptr);
  return out;
}

}  // namespace velmora::map
