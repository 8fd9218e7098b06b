#pragma once
// How the batch splits a data line; shared by the run and by --explain, so
// that one household is read the same way in both.
#include <array>
#include <cstddef>
#include <string_view>

namespace velmora::batch {

inline constexpr std::size_t kEchoFields = 8;

// The line as if seven commas were appended and it were split at every comma:
// the first eight texts, and how many of them the line itself holds (the echo
// then needs 8 - held commas after the line's own first eight fields). The
// echo ends where the eighth text ends; what follows it, from the eighth
// comma on, is the line's own fields from the ninth on.
inline std::size_t SplitEight(std::string_view line, std::array<std::string_view, kEchoFields>& fields) {
  const char* p = line.data();
  const char* const end = p + line.size();
  const char* start = p;
  std::size_t held = 0;
  for (; p != end; ++p) {
    if (*p != ',') continue;
    fields[held++] = std::string_view(start, static_cast<std::size_t>(p - start));
    start = p + 1;
    if (held == kEchoFields) break;
  }
  if (held < kEchoFields) fields[held++] = std::string_view(start, static_cast<std::size_t>(end - start));
  for (std::size_t i = held; i < kEchoFields; ++i) fields[i] = std::string_view();
  return held;
}

// Whether the bytes are UTF-8: well-formed sequences only, no overlong
// forms, no surrogates, nothing past U+10FFFF.
inline bool IsUtf8(std::string_view bytes) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  const auto* const end = p + bytes.size();
  while (p != end) {
    const unsigned char c = *p;
    if (c < 0x80) {
      ++p;
      continue;
    }
    std::size_t more = 0;
    unsigned char low = 0x80, high = 0xBF;  // the second byte's range
    if (c >= 0xC2 && c <= 0xDF) {
      more = 1;
    } else if (c >= 0xE0 && c <= 0xEF) {
      more = 2;
      if (c == 0xE0) low = 0xA0;
      if (c == 0xED) high = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      more = 3;
      if (c == 0xF0) low = 0x90;
      if (c == 0xF4) high = 0x8F;
    } else {
      return false;
    }
    if (static_cast<std::size_t>(end - p) <= more || p[1] < low || p[1] > high) return false;
    for (std::size_t i = 2; i <= more; ++i) {
      if (p[i] < 0x80 || p[i] > 0xBF) return false;
    }
    p += more + 1;
  }
  return true;
}

}  // namespace velmora::batch
