#include <windows.h>

#include <string>

#include "batch/code_page.h"

namespace velmora::batch {
namespace {

constexpr UINT kCp932 = 932;

bool ToWide(UINT codePage, std::string_view in, std::wstring& wide) {
  wide.clear();
  if (in.empty()) return true;
  const int size = MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, in.data(), static_cast<int>(in.size()),
                                       nullptr, 0);
  if (size <= 0) return false;
  wide.resize(static_cast<std::size_t>(size));
  return MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, in.data(), static_cast<int>(in.size()), wide.data(),
                             size) == size;
}

bool FromWide(UINT codePage, const std::wstring& wide, std::string& out) {
  out.clear();
  if (wide.empty()) return true;
  BOOL lossy = FALSE;
  // CP_UTF8 takes no default-character flag.
  BOOL* const lossyFlag = codePage == CP_UTF8 ? nullptr : &lossy;
  const DWORD flags = codePage == CP_UTF8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
  const int size = WideCharToMultiByte(codePage, flags, wide.data(), static_cast<int>(wide.size()), nullptr, 0,
                                       nullptr, lossyFlag);
  if (size <= 0 || lossy) return false;
  out.resize(static_cast<std::size_t>(size));
  return WideCharToMultiByte(codePage, flags, wide.data(), static_cast<int>(wide.size()), out.data(), size, nullptr,
                             lossyFlag) == size &&
         !lossy;
}

}  // namespace

bool Cp932ToUtf8(std::string_view cp932, std::string& utf8) {
  std::wstring wide;
  return ToWide(kCp932, cp932, wide) && FromWide(CP_UTF8, wide, utf8);
}

bool Utf8ToCp932(std::string_view utf8, std::string& cp932) {
  std::wstring wide;
  return ToWide(CP_UTF8, utf8, wide) && FromWide(kCp932, wide, cp932);
}

}  // namespace velmora::batch
