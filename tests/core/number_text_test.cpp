#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <limits>
#include <random>

#include "core/number_text.h"
#include "test_support.h"

namespace velmora {
namespace {

using test::Bits;

float Single(std::string_view text, std::string_view sep = ".") {
  float v = -12345.0f;
  EXPECT_TRUE(TextToNumber(text, v, sep)) << text;
  return v;
}

TEST(TextToNumber, AcceptsTheListedForms) {
  EXPECT_EQ(Single("0.610"), 0.61f);
  EXPECT_EQ(Single("14.759"), 14.759f);
  EXPECT_EQ(Single("  3.5  "), 3.5f);
  EXPECT_EQ(Single("\t-0.5 "), -0.5f);
  EXPECT_EQ(Single("+2"), 2.0f);
  EXPECT_EQ(Single("1.5E-2"), 0.015f);
  EXPECT_EQ(Single("1.5e+2"), 150.0f);
  EXPECT_EQ(Single("0e3"), 0.0f);
  EXPECT_EQ(Single("5."), 5.0f);
  EXPECT_EQ(Single(".5"), 0.5f);
  EXPECT_EQ(Single("0007"), 7.0f);
  double d = 0;
  ASSERT_TRUE(TextToNumber("-20.0", d));
  EXPECT_EQ(d, -20.0);
}

TEST(TextToNumber, UsesTheGivenDecimalSeparator) {
  EXPECT_EQ(Single("0,610", ","), 0.61f);
  EXPECT_EQ(Single("-1,5E3", ","), -1500.0f);
  float v = 0;
  EXPECT_FALSE(TextToNumber("0.610", v, ","));
  EXPECT_FALSE(TextToNumber("0,610", v, "."));
  EXPECT_EQ(Single("2\xd9\xab" "5", "\xd9\xab"), 2.5f);  // a two-byte separator (Arabic)
}

TEST(TextToNumber, RejectsWhatIsNotANumber) {
  for (const char* text : {"", " ", "abc", "inf", "-inf", "nan", "NaN", "infinity", "0x1p3", "0x10", "1,000",
                           "1e", "1e+", "e5", "--1", "+-1", "1.5.2", "1 2", "\"1.5\"", "1.5f", ".", "-", "+",
                           "\xef\xbc\x91"}) {
    float f = 42.0f;
    double d = 42.0;
    EXPECT_FALSE(TextToNumber(text, f)) << text;
    EXPECT_FALSE(TextToNumber(text, d)) << text;
    EXPECT_EQ(f, 42.0f) << "a failed conversion leaves the value alone";
  }
  float f = 0;
  EXPECT_FALSE(TextToNumber(std::string_view("1\0" "2", 3), f));
}

TEST(TextToNumber, OverflowFailsUnderflowGivesZeroOrSubnormal) {
  float f = 1.0f;
  double d = 0.0;
  EXPECT_FALSE(TextToNumber("1e39", f));
  EXPECT_TRUE(TextToNumber("1e39", d));
  EXPECT_FALSE(TextToNumber("-1e39", f));
  EXPECT_FALSE(TextToNumber("3.4028236e38", f));  // beyond half an ulp above the largest single
  EXPECT_EQ(Single("3.4028235e38"), FLT_MAX);
  EXPECT_FALSE(TextToNumber("1e99999999999999999999", f));
  EXPECT_FALSE(TextToNumber("1e400", d));

  EXPECT_EQ(Bits(Single("1e-50")), Bits(0.0f));
  EXPECT_EQ(Bits(Single("-1e-50")), Bits(-0.0f));
  EXPECT_EQ(Bits(Single("0.0000000000000000000000000000000000000000000000000001")), Bits(0.0f));
  EXPECT_EQ(Bits(Single("1e-99999999999999999999")), Bits(0.0f));
  EXPECT_EQ(Single("1e-45"), std::numeric_limits<float>::denorm_min());
  EXPECT_EQ(Single("7.1e-46"), std::numeric_limits<float>::denorm_min());
  EXPECT_EQ(Bits(Single("7e-46")), Bits(0.0f));
  EXPECT_EQ(Single("1e-40"), 1e-40f);
  ASSERT_TRUE(TextToNumber("1e-400", d));
  EXPECT_EQ(d, 0.0);
  ASSERT_TRUE(TextToNumber("1e-320", d));
  EXPECT_EQ(d, 1e-320);
}

TEST(TextToNumber, RoundsOnceToTheRequestedPrecision) {
  // Through a double this text would land on the halfway point between 1 and
  // the next single and then round to 1.
  EXPECT_EQ(Single("1.00000005960464477539062501"), std::nextafter(1.0f, 2.0f));
  EXPECT_EQ(Single("1.000000059604644775390625"), 1.0f);  // exact tie: to even
  EXPECT_EQ(Single("1.00000017881393432617187499"), std::nextafter(1.0f, 2.0f));
  EXPECT_EQ(static_cast<double>(Single("0.1235")), 0.123499996960163116455078125);
  double d = 0;
  ASSERT_TRUE(TextToNumber("0.1", d));
  EXPECT_EQ(d, 0.1);
}

TEST(NumericSign, ListedCases) {
  EXPECT_EQ(NumericSign("0"), 1);
  EXPECT_EQ(NumericSign("-0.5"), -1);
  EXPECT_EQ(NumericSign("-0"), 1);
  EXPECT_EQ(NumericSign("  3.5  "), 1);
  EXPECT_EQ(NumericSign(""), 0);
  EXPECT_EQ(NumericSign("abc"), 0);
  EXPECT_EQ(NumericSign("1e39"), 0);
  EXPECT_EQ(NumericSign("-1e-50"), 1);  // underflows to -0, which is not below zero
  EXPECT_EQ(NumericSign("-0,5", ","), -1);
}

TEST(RoundHalfAway, ListedCases) {
  EXPECT_EQ(static_cast<double>(RoundHalfAway(0.3940526843070984f, 3)), 0.39399999380111694);
  EXPECT_EQ(RoundHalfAway(2.0625f, 3), 2.063f);
  EXPECT_EQ(RoundHalfAway(-2.0625f, 3), -2.063f);
  EXPECT_EQ(RoundHalfAway(0.1235f, 3), 0.123f);
  EXPECT_EQ(RoundHalfAway(-0.0006f, 3), -0.001f);
  EXPECT_EQ(Bits(RoundHalfAway(0.0004f, 3)), Bits(0.0f));
  EXPECT_EQ(RoundHalfAway(0.0f, 3), 0.0f);
  EXPECT_EQ(RoundHalfAway(-0.0004f, 3), 0.0f);
  EXPECT_EQ(RoundHalfAway(-0.0005f, 3), -0.001f);  // the single -0.0005 lies just beyond the half
  EXPECT_EQ(RoundHalfAway(12345.678f, 3), 12345.678f);
  EXPECT_EQ(RoundHalfAway(-3.0f, 3), -3.0f);
}

TEST(FormatDisplay, ZeroPointThreePattern) {
  EXPECT_EQ(FormatDisplay(2.0f), "2.000");
  EXPECT_EQ(FormatDisplay(3.0f), "3.000");
  EXPECT_EQ(FormatDisplay(-0.5f), "-0.500");
  EXPECT_EQ(FormatDisplay(0.3940526843070984f), "0.394");
  EXPECT_EQ(FormatDisplay(1.3427425622940063f), "1.343");
  EXPECT_EQ(FormatDisplay(0.664203941822052f), "0.664");
  EXPECT_EQ(FormatDisplay(2.0625f), "2.063");
  EXPECT_EQ(FormatDisplay(-0.0004f), "0.000");
  EXPECT_EQ(FormatDisplay(-0.0f), "0.000");
  EXPECT_EQ(FormatDisplay(0.0004f), "0.000");
  EXPECT_EQ(FormatDisplay(12345.678f), "12345.678");
  EXPECT_EQ(FormatDisplay(1234567.0f), "1234567.000");
  EXPECT_EQ(FormatDisplay(-2.0625f, ","), "-2,063");
}

TEST(FormatBatchNumber, SevenSignificantDigits) {
  EXPECT_EQ(FormatBatchNumber(1.0f / 3.0f), "0.3333333");
  EXPECT_EQ(FormatBatchNumber(12345678.0f), "1.234568E+07");
  EXPECT_EQ(FormatBatchNumber(1.5e-5f), "1.5E-05");
  EXPECT_EQ(FormatBatchNumber(0.0001f), "0.0001");
  EXPECT_EQ(FormatBatchNumber(1234567.0f), "1234567");
  EXPECT_EQ(FormatBatchNumber(1234567.5f), "1234568");  // exact tie: to even
  EXPECT_EQ(FormatBatchNumber(1234568.5f), "1234568");
  EXPECT_EQ(FormatBatchNumber(100.0f), "100");
  EXPECT_EQ(FormatBatchNumber(-2.5f), "-2.5");
  EXPECT_EQ(FormatBatchNumber(0.0f), "0");
  EXPECT_EQ(FormatBatchNumber(-0.0f), "0");
  EXPECT_EQ(FormatBatchNumber(1e38f), "1E+38");
  EXPECT_EQ(FormatBatchNumber(std::numeric_limits<float>::denorm_min()), "1.401298E-45");
  EXPECT_EQ(FormatBatchNumber(0.6642039f), "0.6642039");
  EXPECT_EQ(FormatBatchNumber(0.5f, ","), "0,5");
}

// The file form must equal C's %.7G for every single; sample the whole range.
TEST(FormatBatchNumber, MatchesPrintfOverManySingles) {
  std::mt19937 rng(20261207);
  std::uniform_int_distribution<std::uint32_t> bits;
  char expected[64];
  char got[kBatchNumberMax];
  for (int i = 0; i < 200000; ++i) {
    std::uint32_t u = bits(rng);
    float f;
    std::memcpy(&f, &u, sizeof f);
    if (!std::isfinite(f) || f == 0.0f) continue;
    std::snprintf(expected, sizeof expected, "%.7G", static_cast<double>(f));
    const int n = FormatBatchNumberTo(f, got);
    ASSERT_EQ(std::string(got, static_cast<std::size_t>(n)), expected) << u;
  }
}

// Every text the file form writes reads back as the same single when it has
// all the digits a single needs, and within one unit in the seventh digit.
TEST(FormatBatchNumber, ReadsBackCloseToTheValue) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<float> dist(-1000.0f, 1000.0f);
  for (int i = 0; i < 10000; ++i) {
    const float f = dist(rng);
    float back = 0;
    ASSERT_TRUE(TextToNumber(FormatBatchNumber(f), back));
    EXPECT_LE(std::fabs(back - f), std::fabs(f) * 1e-6f);
  }
}

}  // namespace
}  // namespace velmora
