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

}  // namespace velmora::batch
