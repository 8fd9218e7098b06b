#pragma once
// Number text: reading a number from a box, a CSV field or a gap-table line,
// the numeric test of the input checks, the three-decimal rounding of the
// screen, and the two ways results are written (screen "0.000", file %.7G).
#include <string>
#include <string_view>

namespace velmora {

// Reads optional blanks, an optional sign, digits with an optional decimal
// separator, an optional exponent ("1.5E-2", "0e3") and optional blanks. The
// value is correctly rounded to the requested type (a single is never read
// through a double). Fails on an empty text, anything else ("inf", "nan", hex,
// digit grouping) and on overflow; a value too small for the type becomes a
// subnormal or zero. `decimalSeparator` is the locale's (the window's boxes);
// files always use ".".
bool TextToNumber(std::string_view text, float& value, std::string_view decimalSeparator = ".");
bool TextToNumber(std::string_view text, double& value, std::string_view decimalSeparator = ".");

// 0 when the text does not convert to a single, -1 when it converts to a value
// below zero, 1 otherwise ("-0" gives 1). The checks multiply these answers.
int NumericSign(std::string_view text, std::string_view decimalSeparator = ".");

// Rounds to `decimals` places with halves away from zero, deciding on the
// exact value of the single (0.1235 is stored just below the half, so 0.123).
float RoundHalfAway(float value, int decimals);

// Screen form of a result: rounded to three decimals, "0.000" pattern, the
// locale's decimal separator, zero without a minus sign.
std::string FormatDisplay(float value, std::string_view decimalSeparator = ".");

// File form of a result: at most seven significant digits, no trailing zeros,
// exponent form outside the plain range ("1.234568E+07", "1.5E-05"), as
// %.7G in the C locale; zero without a minus sign. Writes into `out` (at
// least kBatchNumberMax bytes) and answers the length.
inline constexpr int kBatchNumberMax = 32;
int FormatBatchNumberTo(float value, char* out);
std::string FormatBatchNumber(float value, std::string_view decimalSeparator = ".");

}  // namespace velmora
