#include <iconv.h>

#include <cerrno>

#include "batch/code_page.h"

namespace velmora::batch {
namespace {

// The whole text through iconv; false on any byte it cannot convert.
bool Convert(const char* to, const char* from, std::string_view in, std::string& out) {
  out.clear();
  if (in.empty()) return true;
  const iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  std::string result(in.size() * 4 + 16, '\0');
  char* src = const_cast<char*>(in.data());
  std::size_t srcLeft = in.size();
  char* dst = result.data();
  std::size_t dstLeft = result.size();
  const std::size_t done = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
  const bool ok = done != static_cast<std::size_t>(-1) && srcLeft == 0 && done == 0;
  iconv_close(cd);
  if (!ok) return false;
  result.resize(result.size() - dstLeft);
  out = std::move(result);
  return true;
}

}  // namespace

// glibc's CP932 is Microsoft's table (NEC and IBM extensions, 0x5C as the
// backslash), the one Excel writes.
bool Cp932ToUtf8(std::string_view cp932, std::string& utf8) { return Convert("UTF-8", "CP932", cp932, utf8); }

bool Utf8ToCp932(std::string_view utf8, std::string& cp932) {
  return IsUtf8(utf8) && Convert("CP932", "UTF-8", utf8, cp932);
}

}  // namespace velmora::batch
