#include "batch/code_page.h"

namespace velmora::batch {

bool IsUtf8(std::string_view bytes) {
  std::size_t i = 0;
  const std::size_t n = bytes.size();
  while (i < n) {
    const auto c = static_cast<unsigned char>(bytes[i]);
    if (c < 0x80) {
      ++i;
      continue;
    }
    std::size_t more = 0;
    std::uint32_t code = 0;
    std::uint32_t least = 0;
    if (c >= 0xC2 && c <= 0xDF) {
      more = 1, code = c & 0x1Fu, least = 0x80;
    } else if (c >= 0xE0 && c <= 0xEF) {
      more = 2, code = c & 0x0Fu, least = 0x800;
    } else if (c >= 0xF0 && c <= 0xF4) {
      more = 3, code = c & 0x07u, least = 0x10000;
    } else {
      return false;
    }
    if (n - i <= more) return false;
    for (std::size_t k = 1; k <= more; ++k) {
      const auto t = static_cast<unsigned char>(bytes[i + k]);
      if ((t & 0xC0) != 0x80) return false;
      code = code << 6 | (t & 0x3Fu);
    }
    // No overlong forms, no surrogates, nothing beyond U+10FFFF.
    if (code < least || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF) return false;
    i += more + 1;
  }
  return true;
}

bool TextFromFile(std::string_view bytes, std::string& utf8) {
  constexpr std::string_view kBom = "\xEF\xBB\xBF";
  if (bytes.substr(0, 3) == kBom) {
    bytes.remove_prefix(3);
    if (!IsUtf8(bytes)) return false;
    utf8 = std::string(bytes);
    return true;
  }
  if (IsUtf8(bytes)) {
    utf8 = std::string(bytes);
    return true;
  }
  return Cp932ToUtf8(bytes, utf8);
}

}  // namespace velmora::batch
