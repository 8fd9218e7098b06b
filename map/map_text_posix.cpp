#include <iconv.h>

#include <cerrno>

#include "map/map_text.h"

namespace velmora::map {

std::string Cp932ToUtf8(std::string_view bytes) {
  // glibc's converter, opened per text: only titles and texts outside ASCII
  // come here, each converted once.
  const iconv_t cd = iconv_open("UTF-8", "CP932");
  if (cd == reinterpret_cast<iconv_t>(-1)) return ValidUtf8(bytes);
  std::string out;
  char buffer[256];
  char* in = const_cast<char*>(bytes.data());
  std::size_t inLeft = bytes.size();
  while (inLeft > 0) {
    char* to = buffer;
    std::size_t toLeft = sizeof buffer;
    const std::size_t r = iconv(cd, &in, &inLeft, &to, &toLeft);
    out.append(buffer, static_cast<std::size_t>(to - buffer));
    if (r == static_cast<std::size_t>(-1) && errno != E2BIG) {
      // A byte that is no CP932 character: U+FFFD in its place.
      out += "\xEF\xBF\xBD";
      ++in;
      --inLeft;
    }
  }
  iconv_close(cd);
  return out;
}

}  // namespace velmora::map
