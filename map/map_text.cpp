#include "map/map_text.h"

#include <algorithm>
#include <cstdint>

#include "platform/platform.h"

namespace velmora::map {

namespace {
constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

bool IsAscii(std::string_view bytes) {
  return std::all_of(bytes.begin(), bytes.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}
}  // namespace

std::string ValidUtf8(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  std::size_t i = 0;
  while (i < s.size()) {
    const auto c = static_cast<unsigned char>(s[i]);
    std::size_t length = 0;
    std::uint32_t lowest = 0;
    if (c < 0x80) {
      out += s[i++];
      continue;
    } else if (c >= 0xC2 && c <= 0xDF) {
      length = 2, lowest = 0x80;
    } else if (c >= 0xE0 && c <= 0xEF) {
      length = 3, lowest = 0x800;
    } else if (c >= 0xF0 && c <= 0xF4) {
      length = 4, lowest = 0x10000;
    }
    bool good = length > 0 && i + length <= s.size();
    std::uint32_t code = length > 0 ? c & (0x7F >> length) : 0;
    for (std::size_t k = 1; good && k < length; ++k) {
      const auto t = static_cast<unsigned char>(s[i + k]);
      good = (t & 0xC0) == 0x80;
      code = code << 6 | (t & 0x3F);
    }
    good = good && code >= lowest && code <= 0x10FFFF && (code < 0xD800 || code > 0xDFFF);
    if (good) {
      out.append(s.substr(i, length));
      i += length;
    } else {
      out += kReplacement;
      ++i;
    }
  }
  return out;
}

std::string TextToUtf8(std::string_view bytes, bool inputUtf8) {
  if (IsAscii(bytes)) return std::string(bytes);
  return inputUtf8 ? ValidUtf8(bytes) : ValidUtf8(platform::Utf8FromCp932(bytes));
}

}  // namespace velmora::map
