#include "batch/code_page.h"

namespace velmora::batch {

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
