#include "number_text.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <system_error>

namespace velmora {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Where the pieces of a number text lie, found before any conversion.
struct NumberShape {
  bool negative = false;
  std::string_view body;    // without leading '+', with leading '-'
  std::size_t separator = std::string_view::npos;  // index in body
  std::size_t exponent = std::string_view::npos;   // index of 'e'/'E' in body
};

bool Scan(std::string_view text, std::string_view sep, NumberShape& shape) {
  std::size_t b = 0, e = text.size();
  while (b < e && IsBlank(text[b])) ++b;
  while (e > b && IsBlank(text[e - 1])) --e;
  std::string_view t = text.substr(b, e - b);
  std::size_t i = 0;
  if (i < t.size() && (t[i] == '+' || t[i] == '-')) {
    shape.negative = t[i] == '-';
    if (t[i] == '+') {
      t.remove_prefix(1);
    } else {
      ++i;
    }
  }
  std::size_t digits = 0;
  while (i < t.size() && IsDigit(t[i])) ++i, ++digits;
  if (!sep.empty() && t.substr(i, sep.size()) == sep) {
    shape.separator = i;
    i += sep.size();
    while (i < t.size() && IsDigit(t[i])) ++i, ++digits;
  }
  if (digits == 0) return false;
  if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
    shape.exponent = i++;
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) ++i;
    std::size_t expDigits = 0;
    while (i < t.size() && IsDigit(t[i])) ++i, ++expDigits;
    if (expDigits == 0) return false;
  }
  if (i != t.size()) return false;
  shape.body = t;
  return true;
}

// Decimal order of magnitude of a text that overflowed or underflowed: the
// power of ten of its first non-zero digit, with the exponent added
// (saturating). Overflow lies far above 0, underflow far below.
long long Magnitude(std::string_view body, std::size_t sepPos, std::size_t sepLen, std::size_t expPos) {
  std::size_t mantEnd = expPos == std::string_view::npos ? body.size() : expPos;
  std::size_t intEnd = sepPos == std::string_view::npos ? mantEnd : sepPos;
  long long power = 0;
  bool found = false;
  std::size_t start = (!body.empty() && body[0] == '-') ? 1 : 0;
  for (std::size_t i = start; i < intEnd; ++i) {
    if (body[i] != '0') {
      power = static_cast<long long>(intEnd - i) - 1;
      found = true;
      break;
    }
  }
  if (!found && sepPos != std::string_view::npos) {
    for (std::size_t i = sepPos + sepLen; i < mantEnd; ++i) {
      if (body[i] != '0') {
        power = -static_cast<long long>(i - (sepPos + sepLen)) - 1;
        found = true;
        break;
      }
    }
  }
  if (expPos != std::string_view::npos) {
    std::size_t i = expPos + 1;
    bool expNegative = false;
    if (body[i] == '+' || body[i] == '-') expNegative = body[i++] == '-';
    long long exp = 0;
    for (; i < body.size(); ++i) exp = std::min<long long>(exp * 10 + (body[i] - '0'), 1LL << 40);
    power += expNegative ? -exp : exp;
  }
  return power;
}

template <typename T>
bool Convert(std::string_view text, T& value, std::string_view sep) {
  NumberShape shape;
  if (!Scan(text, sep, shape)) return false;
  std::string_view body = shape.body;
  std::string normalised;
  std::size_t sepLen = sep.size();
  if (shape.separator != std::string_view::npos && sep != ".") {
    normalised.reserve(body.size());
    normalised.append(body.substr(0, shape.separator));
    normalised.push_back('.');
    normalised.append(body.substr(shape.separator + sep.size()));
    body = normalised;
    if (shape.exponent != std::string_view::npos) shape.exponent -= sep.size() - 1;
    sepLen = 1;
  }
  T parsed{};
  auto [ptr, ec] = std::from_chars(body.data(), body.data() + body.size(), parsed, std::chars_format::general);
  if (ec == std::errc::result_out_of_range) {
    if (Magnitude(body, shape.separator, sepLen, shape.exponent) >= 0) return false;  // overflow
    parsed = shape.negative ? -T(0) : T(0);  // below the smallest subnormal
  } else if (ec != std::errc() || ptr != body.data() + body.size()) {
    return false;
  }
  if (!std::isfinite(parsed)) return false;
  value = parsed;
  return true;
}

}  // namespace

bool TextToNumber(std::string_view text, float& value, std::string_view decimalSeparator) {
  return Convert(text, value, decimalSeparator);
}

bool TextToNumber(std::string_view text, double& value, std::string_view decimalSeparator) {
  return Convert(text, value, decimalSeparator);
}

int NumericSign(std::string_view text, std::string_view decimalSeparator) {
  float value = 0.0f;
  if (!TextToNumber(text, value, decimalSeparator)) return 0;
  return value < 0.0f ? -1 : 1;
}

float RoundHalfAway(float value, int decimals) {
  double scale = 1.0;
  for (int i = 0; i < decimals; ++i) scale *= 10.0;
  for (int i = 0; i > decimals; --i) scale /= 10.0;
  const float singleScale = static_cast<float>(scale);
  const double product = static_cast<double>(value) * static_cast<double>(singleScale);
  double whole;
  if (value > 0.0f) {
    whole = std::floor(product + 0.5);
  } else {
    whole = std::trunc(product - 0.5);
  }
  return static_cast<float>(whole / static_cast<double>(singleScale));
}

namespace {
std::string WithSeparator(std::string text, std::string_view sep) {
  if (sep == ".") return text;
  const auto dot = text.find('.');
  if (dot != std::string::npos) text.replace(dot, 1, sep);
  return text;
}
}  // namespace

std::string FormatDisplay(float value, std::string_view decimalSeparator) {
  float rounded = RoundHalfAway(value, 3);
  if (rounded == 0.0f) rounded = 0.0f;  // no "-0.000"
  char buf[64];
  auto [ptr, ec] = std::to_chars(buf, buf + sizeof buf, rounded, std::chars_format::fixed, 3);
  if (ec != std::errc()) return {};
  return WithSeparator(std::string(buf, ptr), decimalSeparator);
}

int FormatBatchNumberTo(float value, char* out) {
  if (value == 0.0f) value = 0.0f;  // no "-0"
  auto [ptr, ec] = std::to_chars(out, out + kBatchNumberMax, value, std::chars_format::general, 7);
  if (ec != std::errc()) return 0;
  for (char* p = out; p != ptr; ++p) {
    if (*p == 'e') {
      *p = 'E';
      break;
    }
  }
  return static_cast<int>(ptr - out);
}

std::string FormatBatchNumber(float value, std::string_view decimalSeparator) {
  char buf[kBatchNumberMax];
  const int n = FormatBatchNumberTo(value, buf);
  return WithSeparator(std::string(buf, static_cast<std::size_t>(n)), decimalSeparator);
}

}  // namespace velmora
