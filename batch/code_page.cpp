#include "batch/code_page.h"

#include "platform/platform.h"

namespace velmora::batch {

bool Cp932ToUtf8(std::string_view cp932, std::string& utf8) { return platform::Cp932ToUtf8(cp932, utf8); }

bool Utf8ToCp932(std::string_view utf8, std::string& cp932) {
  return IsUtf8(utf8) && platform::Utf8ToCp932(utf8, cp932);
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
