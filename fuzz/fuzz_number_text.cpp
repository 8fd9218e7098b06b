// TextToNumber / NumericSign / the two result forms on arbitrary text, read
// with "." (files) and with "," (a window in a comma locale).
#include <charconv>
#include <cmath>
#include <cstring>
#include <string>

#include "core/number_text.h"
#include "fuzz_common.h"

using namespace velmora;

namespace {

std::uint32_t Bits(float f) {
  std::uint32_t u;
  std::memcpy(&u, &f, sizeof u);
  return u;
}
std::uint64_t Bits(double d) {
  std::uint64_t u;
  std::memcpy(&u, &d, sizeof u);
  return u;
}

void CheckWith(std::string_view text, std::string_view sep) {
  float f = 0.0f;
  const bool ok = TextToNumber(text, f, sep);
  const int sign = NumericSign(text, sep);
  double d = 0.0;
  const bool okDouble = TextToNumber(text, d, sep);
  if (!ok) {
    VELMORA_CHECK(sign == 0);
    return;
  }
  VELMORA_CHECK(std::isfinite(f));
  VELMORA_CHECK(sign == (f < 0.0f ? -1 : 1));
  // Whatever a single can hold, a double can too.
  VELMORA_CHECK(okDouble && std::isfinite(d));

  // The file form, read back, is the single to seven significant digits.
  const std::string file = FormatBatchNumber(f, sep);
  VELMORA_CHECK(!file.empty());
  if (sep == ".") VELMORA_CHECK(file.find_first_of(",\r\n") == std::string::npos);
  float back = 0.0f;
  VELMORA_CHECK(TextToNumber(file, back, sep));
  if (back != f) {
    const double unit = std::pow(10.0, std::floor(std::log10(std::fabs(static_cast<double>(f)))) - 6);
    VELMORA_CHECK(std::fabs(static_cast<double>(back) - static_cast<double>(f)) <= unit * (1 + 1e-9));
  }

  // Nine significant digits identify a single: the reader must give the same bits.
  char buf[64];
  auto r9 = std::to_chars(buf, buf + sizeof buf, f, std::chars_format::general, 9);
  VELMORA_CHECK(r9.ec == std::errc());
  float again = 0.0f;
  VELMORA_CHECK(TextToNumber(std::string_view(buf, static_cast<std::size_t>(r9.ptr - buf)), again));
  VELMORA_CHECK(Bits(again) == Bits(f));

  // And seventeen identify a double.
  auto r17 = std::to_chars(buf, buf + sizeof buf, d, std::chars_format::general, 17);
  VELMORA_CHECK(r17.ec == std::errc());
  double againDouble = 0.0;
  VELMORA_CHECK(TextToNumber(std::string_view(buf, static_cast<std::size_t>(r17.ptr - buf)), againDouble));
  VELMORA_CHECK(Bits(againDouble) == Bits(d));

  // The screen form always has three decimals and a digit before them.
  const std::string shown = FormatDisplay(f, sep);
  VELMORA_CHECK(shown.size() >= 3 + sep.size() + 1);
  VELMORA_CHECK(shown.compare(shown.size() - 3 - sep.size(), sep.size(), sep) == 0);
  VELMORA_CHECK(std::isfinite(RoundHalfAway(f, 3)));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  CheckWith(text, ".");
  CheckWith(text, ",");
  return 0;
}
