// The study's workflow in the engine: kept columns, the summary's figures
// and digests, UTF-8 files and the code-page guard, on one, two and seven
// threads.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "batch/batch.h"
#include "batch/explain_row.h"
#include "batch/messages.h"
#include "batch/result_lines.h"
#include "platform/sha256.h"
#include "batch/summary.h"
#include "core/line_reader.h"
#include "test_support.h"

namespace velmora {
namespace {

namespace fs = std::filesystem;
using test::RecordingReporter;

const std::string kDefault = "9.725,7.38,4.81,3.57,7.416,14.759,22.616,3.321";
const std::string kDefaultMode0 = "0.1422826";
const std::string kDefaultMode1 = "0.3940527,1.342743,0.6642039,0.0002392535";
const std::string kBom = "\xEF\xBB\xBF";

std::vector<std::string> Split(const std::string& text, const std::string& by) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (std::size_t at; (at = text.find(by, start)) != std::string::npos; start = at + by.size()) {
    parts.push_back(text.substr(start, at - start));
  }
  parts.push_back(text.substr(start));
  return parts;
}

// The exact sum of doubles rounded once to nearest, ties to even, worked out
// apart from the engine: a two's-complement integer in units of 2^-1074,
// wide enough for any sum of normal doubles, rounded by hand at the end.
double ExactSumOf(const std::vector<double>& values) {
  constexpr std::size_t kLimbs = 40;
  std::array<std::uint64_t, kLimbs> sum{};
  const auto addAt = [&](std::size_t limb, std::uint64_t bits, bool negative) {
    for (; limb < kLimbs && (bits != 0 || negative); ++limb) {
      const std::uint64_t before = sum[limb];
      if (!negative) {
        sum[limb] += bits;
        bits = sum[limb] < before ? 1 : 0;
      } else {
        sum[limb] -= bits;
        bits = sum[limb] > before ? 1 : 0;
        if (bits == 0) return;
      }
    }
  };
  for (const double v : values) {
    if (v == 0.0) continue;
    int exponent = 0;
    const auto mantissa = static_cast<std::uint64_t>(std::ldexp(std::fabs(std::frexp(v, &exponent)), 53));
    const int shift = exponent - 53 + 1074;  // normal doubles only
    EXPECT_GE(shift, 0);
    const std::size_t limb = static_cast<std::size_t>(shift) / 64, offset = static_cast<std::size_t>(shift) % 64;
    addAt(limb, mantissa << offset, v < 0);
    if (offset != 0) addAt(limb + 1, mantissa >> (64 - offset), v < 0);
  }
  const bool negative = (sum[kLimbs - 1] >> 63) != 0;
  if (negative) {  // two's complement: invert and add one
    for (auto& limb : sum) limb = ~limb;
    addAt(0, 1, false);
  }
  int top = -1;
  for (int bit = static_cast<int>(kLimbs * 64) - 1; bit >= 0 && top < 0; --bit) {
    if ((sum[static_cast<std::size_t>(bit) / 64] >> (bit % 64)) & 1) top = bit;
  }
  if (top < 0) return 0.0;
  const auto bitAt = [&](int bit) { return bit >= 0 && ((sum[static_cast<std::size_t>(bit) / 64] >> (bit % 64)) & 1); };
  std::uint64_t kept = 0;
  for (int bit = top; bit > top - 53 && bit >= 0; --bit) kept = kept << 1 | (bitAt(bit) ? 1 : 0);
  const int low = std::max(top - 52, 0);
  bool sticky = false;
  for (int bit = low - 2; bit >= 0 && !sticky; --bit) sticky = bitAt(bit);
  if (top >= 53 && bitAt(low - 1) && (sticky || (kept & 1))) ++kept;
  const double magnitude = std::ldexp(static_cast<double>(kept), low - 1074);
  return negative ? -magnitude : magnitude;
}

// Whether `mean` is the exact mean of the values rounded to a nearest double:
// twice their exact sum lies within n times the midpoints to its neighbours.
bool RoundedOnce(const std::vector<double>& values, double mean) {
  const auto n = static_cast<double>(values.size());
  const auto side = [&](double neighbour) {
    std::vector<double> parts;
    for (const double v : values) parts.insert(parts.end(), {v, v});
    for (const double m : {mean, neighbour}) {
      const double product = m * n;
      parts.insert(parts.end(), {-product, -std::fma(m, n, -product)});
    }
    return ExactSumOf(parts);
  };
  return side(std::nextafter(mean, HUGE_VAL)) <= 0.0 && side(std::nextafter(mean, -HUGE_VAL)) >= 0.0;
}

TEST(ExactSum, RoundsTheExactSumOnceWhateverTheOrder) {
  struct Case {
    std::vector<double> values;
    double sum;
  };
  const Case cases[] = {
      {{1e16, 1.0, -1e16}, 1.0},
      {{1.0, 1e100, 1.0, -1e100}, 2.0},
      {{1e16, 1.0, 1e-16}, 10000000000000002.0},  // the half is broken by the third value
      {{0.1, 0.1, 0.1, 0.1, 0.1, 0.1, 0.1, 0.1, 0.1, 0.1}, 1.0},
      {{1.0, std::ldexp(1.0, -53), std::ldexp(1.0, -106)}, 1.0000000000000002},
      {{1.0, std::ldexp(1.0, -53)}, 1.0},  // a tie, to even
      {{1.0000000000000002, std::ldexp(1.0, -53)}, 1.0000000000000004},  // a tie, to even: up
      {{-1.0, std::ldexp(-1.0, -53), std::ldexp(-1.0, -106)}, -1.0000000000000002},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ExactSumOf(c.values), c.sum);
    // Forwards, backwards and split in two, then merged: one answer.
    ExactSum forward, backward, first, second;
    for (std::size_t i = 0; i < c.values.size(); ++i) {
      forward.Add(c.values[i]);
      backward.Add(c.values[c.values.size() - 1 - i]);
      (i % 2 ? first : second).Add(c.values[i]);
    }
    second.Add(first);
    EXPECT_EQ(forward.Value(), c.sum);
    EXPECT_EQ(backward.Value(), c.sum);
    EXPECT_EQ(second.Value(), c.sum);
  }
  EXPECT_EQ(ExactSum().Value(), 0.0);
}

// The mean is the exact sum divided by the count, rounded once: not the
// rounded sum divided again (worked out with exact fractions).
TEST(ExactSum, MeanIsRoundedOnce) {
  struct Case {
    std::vector<double> values;
    double mean;
  };
  const Case cases[] = {
      {{0.003500517, 8699126.0, 976.1224, 518144200.0, 0.0980205, 83662190.0}, 101751082.03732017},
      {{1.0, 2.0}, 1.5},
      {{0.1, 0.2, 0.3}, 0.2},
      {{-5.5, std::ldexp(1.0, -60), 1e10}, 3333333331.5},
  };
  for (const Case& c : cases) {
    ExactSum sum;
    for (const double v : c.values) sum.Add(v);
    EXPECT_EQ(sum.Mean(c.values.size()), c.mean);
  }
  EXPECT_NE(101751082.03732017, ExactSumOf(cases[0].values) / 6.0);  // what rounding twice gave
}

TEST(Sha256, KnownDigests) {
  Sha256 empty;
  EXPECT_EQ(empty.HexDigest(), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  Sha256 abc;
  abc.Update("a", 1);
  abc.Update("bc", 2);
  EXPECT_EQ(abc.HexDigest(), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  test::TempDir dir;
  EXPECT_EQ(Sha256OfFile(dir.Write("abc", "abc")), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_FALSE(Sha256OfFile(dir.path() / "missing"));
}

class Workflow : public ::testing::TestWithParam<unsigned> {
 protected:
  void SetUp() override {
    RecordingReporter r;
    ASSERT_TRUE(LoadGapTable(VELMORA_EXAMPLE_GAP_TABLE, table, r));
  }
  BatchOptions Options(std::size_t chunkBytes) const {
    BatchOptions options;
    options.threads = GetParam();
    options.chunkBytes = chunkBytes;
    return options;
  }
  // Check and run; the messages, and the result's bytes ("" when none).
  std::string Run(const std::string& input, Mode mode, BatchOptions options, std::vector<std::string>& messages,
                  BatchSummary* summary = nullptr) {
    const fs::path in = dir.Write("in.csv", input);
    const fs::path out = dir.path() / "out.csv";
    fs::remove(out);
    RecordingReporter r;
    if (CheckBatchFiles(in, out, mode, r, nullptr, options, &options.inputIsUtf8)) {
      EXPECT_EQ(RunBatch(in, out, mode, settings, table, r, nullptr, options, summary), BatchOutcome::Completed);
    }
    for (const auto& m : r.messages) messages.push_back(m.text);
    return test::ReadFile(out);
  }

  test::TempDir dir;
  GapTable table;
  CommonSettings settings{0.61f, 0.025f, 0.04f, 3.14f};
};

// Extra fields travel with their household byte for byte, in both modes,
// whatever ends the lines, computed or not; the header keeps the titles it
// has, and a line without extra fields gets none.
TEST_P(Workflow, KeptColumnsFollowTheTwelve) {
  const std::string seven = "9.725,7.38,4.81,3.57,7.416,14.759,22.616";
  const std::string cp932 = "\x93\x8c\x8b\x9e\x93\x73\x95\x5c";  // 東京都表, a 0x5C trail byte
  const std::string longId(5000, 'k');
  struct Line {
    std::string input, withPremium, without;
  };
  const std::vector<Line> lines = {
      {kDefault + ",5339-01," + cp932, kDefault + "," + kDefaultMode1 + ",5339-01," + cp932,
       kDefault + ",,,," + kDefaultMode0 + ",5339-01," + cp932},
      {kDefault, kDefault + "," + kDefaultMode1, kDefault + ",,,," + kDefaultMode0},
      {kDefault + ",", kDefault + "," + kDefaultMode1 + ",", kDefault + ",,,," + kDefaultMode0 + ","},
      {seven + ",," + longId, seven + ",,,,,," + longId, seven + ",,,,," + kDefaultMode0 + "," + longId},
      {"9.725,x,4.81,3.57,7.416,14.759,22.616,3.321,id", "9.725,x,4.81,3.57,7.416,14.759,22.616,3.321,,,,,id",
       "9.725,x,4.81,3.57,7.416,14.759,22.616,3.321,,,,,id"},
      {"0,0,4.81,3.57,7.416,14.759,22.616,3.321,a,,b", "0,0,4.81,3.57,7.416,14.759,22.616,3.321,,,,,a,,b",
       "0,0,4.81,3.57,7.416,14.759,22.616,3.321,,,,,a,,b"},
  };
  const std::string ends[] = {"\r\n", "\n", "\r"};
  const std::string header = std::string(msg::kResultHeaderCp932);
  for (const std::string& inputHeader : {std::string("a,b,c,d,e,f,g,h,mesh"), std::string("a,b"),
                                         std::string("a,b,c,d,e,f,g,h,mesh,id,,more")}) {
    std::string input = inputHeader + "\r\n", withPremium, without;
    for (std::size_t i = 0; i < 3 * lines.size(); ++i) {
      const Line& line = lines[i % lines.size()];
      input += line.input + ends[i % 3];
      withPremium += line.withPremium + "\r\n";
      without += line.without + "\r\n";
    }
    const std::string titles = inputHeader.size() > 15 ? inputHeader.substr(15) : "";
    for (const std::size_t chunk : {std::size_t{7}, std::size_t{4096}}) {
      BatchOptions options = Options(chunk);
      options.keepColumns = true;
      std::vector<std::string> messages;
      EXPECT_EQ(Run(input, Mode::WithRiskPremium, options, messages), header + titles + "\r\n" + withPremium);
      EXPECT_EQ(Run(input, Mode::WithoutRiskPremium, options, messages), header + titles + "\r\n" + without);
      EXPECT_EQ(messages, std::vector<std::string>{});
    }
  }
}

// The figures are those of the written file: exact sums of its columns read
// back, the same for every thread count and chunk size; the digests are of
// the bytes read and written.
TEST_P(Workflow, SummaryAgreesWithTheWrittenFile) {
  // Damages from 1e-6 to 1e6 times the default: sums that lose digits when
  // added up one by one.
  std::string input = "header\r\n";
  for (int i = 0; i < 400; ++i) {
    const double scale = std::pow(10.0, i % 13 - 6);
    char line[200];
    std::snprintf(line, sizeof line, "%.6g,%.6g,4.81,3.57,7.416,%.6g,%.6g,3.321\r\n", 9.725 * scale, 7.38 * scale,
                  14.759 * scale, 22.616 * scale);
    input += line;
    if (i % 50 == 7) input += "9.725,x,4.81,3.57,7.416,14.759,22.616,3.321\r\n";
    if (i % 80 == 9) input += "0,0,4.81,3.57,7.416,14.759,22.616,3.321\r\n";
  }
  for (const Mode mode : {Mode::WithRiskPremium, Mode::WithoutRiskPremium}) {
    SCOPED_TRACE(mode == Mode::WithRiskPremium ? "mode 1" : "mode 0");
    BatchSummary first;
    for (const std::size_t chunk : {std::size_t{64}, BatchOptions{}.chunkBytes}) {
      BatchSummary summary;
      std::vector<std::string> messages;
      const std::string result = Run(input, mode, Options(chunk), messages, &summary);
      EXPECT_EQ(messages, std::vector<std::string>{});
      // The file's columns, read back.
      std::array<std::vector<double>, 4> columns;
      std::uint64_t computed = 0, empty = 0;
      const std::vector<std::string> lines = Split(result, "\r\n");
      for (std::size_t i = 1; i + 1 < lines.size(); ++i) {
        const std::vector<std::string> fields = Split(lines[i], ",");
        ASSERT_EQ(fields.size(), 12u);
        if (fields[11].empty()) ++empty;
        for (std::size_t c = 0; c < 4; ++c) {
          if (fields[8 + c].empty()) continue;
          double value = 0.0;
          std::from_chars(fields[8 + c].data(), fields[8 + c].data() + fields[8 + c].size(), value);
          columns[c].push_back(value);
        }
        if (!fields[11].empty()) ++computed;
      }
      EXPECT_EQ(summary.dataLines, 413u);
      EXPECT_EQ(summary.computed, computed);
      EXPECT_EQ(summary.computed, 400u);
      EXPECT_EQ(summary.rowRejected, 8u);
      EXPECT_EQ(summary.modelFailed, 5u);
      EXPECT_EQ(summary.rowRejected + summary.modelFailed, empty);
      bool orderMatters = false;
      for (std::size_t c = 0; c < 4; ++c) {
        const ColumnFigures& f = summary.columns[c];
        ASSERT_EQ(f.count, columns[c].size()) << c;
        if (f.count == 0) continue;
        EXPECT_EQ(f.sum, ExactSumOf(columns[c])) << c;
        EXPECT_EQ(f.min, *std::min_element(columns[c].begin(), columns[c].end())) << c;
        EXPECT_EQ(f.max, *std::max_element(columns[c].begin(), columns[c].end())) << c;
        EXPECT_TRUE(RoundedOnce(columns[c], f.mean)) << c;
        double naive = 0.0;
        for (const double v : columns[c]) naive += v;
        orderMatters = orderMatters || naive != f.sum;
      }
      EXPECT_TRUE(orderMatters) << "the data no longer tells an exact sum from a naive one";
      EXPECT_EQ(summary.columns[0].count, mode == Mode::WithRiskPremium ? 400u : 0u);
      EXPECT_EQ(summary.inputBytes, input.size());
      EXPECT_EQ(summary.inputSha256, Sha256OfFile(dir.path() / "in.csv"));
      EXPECT_EQ(summary.outputSha256, Sha256OfFile(dir.path() / "out.csv"));
      EXPECT_EQ(summary.output, fs::absolute(dir.path() / "out.csv"));
      EXPECT_EQ(summary.encoding, OutputEncoding::Cp932);
      if (first.dataLines == 0) {
        first = summary;
      } else {
        EXPECT_EQ(BatchSummaryJson(summary), BatchSummaryJson(first));
      }
    }
  }
}

// Asked for, the summary holds the DelayDamage column as written, one value
// per computed line whichever thread wrote it; not asked for, nothing.
TEST_P(Workflow, DelayDamagesAreTheWrittenColumn) {
  std::string input = "header\r\n";
  for (int i = 0; i < 150; ++i) {
    char line[200];
    std::snprintf(line, sizeof line, "%.4g,%.4g,4.81,3.57,7.416,%.5g,22.616,3.321\r\n", 9.725 * (1 + i % 17),
                  7.38 / (1 + i % 5), 14.759 + i);
    input += line;
    if (i % 40 == 3) input += "9.725,x,4.81,3.57,7.416,14.759,22.616,3.321\r\n";
    if (i % 60 == 5) input += "0,0,4.81,3.57,7.416,14.759,22.616,3.321\r\n";
  }
  for (const Mode mode : {Mode::WithRiskPremium, Mode::WithoutRiskPremium}) {
    SCOPED_TRACE(mode == Mode::WithRiskPremium ? "mode 1" : "mode 0");
    BatchOptions options = Options(97);
    options.keepDelayDamages = true;
    BatchSummary summary;
    std::vector<std::string> messages;
    const std::string result = Run(input, mode, options, messages, &summary);
    std::vector<double> written;
    const std::vector<std::string> lines = Split(result, "\r\n");
    for (std::size_t i = 1; i + 1 < lines.size(); ++i) {
      const std::string field = Split(lines[i], ",").at(11);
      if (field.empty()) continue;
      double value = 0.0;
      std::from_chars(field.data(), field.data() + field.size(), value);
      written.push_back(value);
    }
    ASSERT_EQ(written.size(), 150u);
    std::vector<double> kept = summary.delayDamages;
    std::sort(kept.begin(), kept.end());
    std::sort(written.begin(), written.end());
    EXPECT_EQ(kept, written);
    EXPECT_GT(written.back(), written.front());
    // The bounds too are the written values, read back (not the singles).
    EXPECT_EQ(summary.columns[3].min, written.front());
    EXPECT_EQ(summary.columns[3].max, written.back());

    options.keepDelayDamages = false;
    BatchSummary without;
    Run(input, mode, options, messages, &without);
    EXPECT_TRUE(without.delayDamages.empty());
    EXPECT_EQ(without.columns[3].sum, summary.columns[3].sum);
    EXPECT_EQ(messages, std::vector<std::string>{});
  }
}

// What follows a run (a map, scenarios) reads the lines as written: every
// data line once, in file order, numbered as in the file, with its twelve
// fields and its kept ones, whichever thread wrote it.
TEST_P(Workflow, ResultBlocksAreTheWrittenLines) {
  std::string input = "h1,h2,h3,h4,h5,h6,h7,h8,code\n";
  for (int i = 0; i < 120; ++i) {
    input += i % 9 == 4 ? "9.725,x,4.81,3.57,7.416,14.759,22.616,3.321" : kDefault;
    input += i % 7 == 0 ? "\r" : ",5339" + std::to_string(4600 + i) + ",ward\r\n";
  }
  for (const Mode mode : {Mode::WithRiskPremium, Mode::WithoutRiskPremium}) {
    BatchOptions options = Options(61);
    options.keepColumns = true;
    struct Seen {
      std::uint64_t number;
      bool computed;
      std::string house, preference, delay, kept;
    };
    std::vector<Seen> seen;
    std::vector<std::string> blocks;
    options.resultBlocks = [&](std::uint64_t first, std::string_view block) {
      EXPECT_EQ(first, seen.size() + 2);
      blocks.emplace_back(block);
      batch::ForEachResultLine(block, first, [&](const batch::ResultLine& line) {
        seen.push_back({line.number, line.computed(), std::string(line.fields[1]), std::string(line.fields[8]),
                        std::string(line.fields[11]), std::string(line.kept)});
        return true;
      });
    };
    std::vector<std::string> messages;
    const std::string result = Run(input, mode, options, messages);
    const std::vector<std::string> lines = Split(result, "\r\n");
    ASSERT_EQ(seen.size(), 120u);
    std::string joined;
    for (const std::string& block : blocks) joined += block;
    EXPECT_EQ(joined, result.substr(result.find("\r\n") + 2));
    for (std::size_t i = 0; i < seen.size(); ++i) {
      const Seen& line = seen[i];
      EXPECT_EQ(line.number, i + 2);
      const std::vector<std::string> fields = Split(lines[i + 1], ",");
      EXPECT_EQ(line.computed, i % 9 != 4);
      EXPECT_EQ(line.delay, fields[11]);
      EXPECT_EQ(line.house, fields[1]);
      EXPECT_EQ(line.preference, mode == Mode::WithRiskPremium && line.computed ? "0.3940527" : "");
      EXPECT_EQ(line.kept, i % 7 == 0 ? "" : "5339" + std::to_string(4600 + i) + ",ward");
    }
  }
}

// A UTF-8 input (byte order mark) gives a UTF-8 result with the mark and a
// UTF-8 header; the option chooses either way; echoed bytes are never
// converted, so another code page than the input's takes ASCII echoes only,
// and the check says which line holds the first byte that is not, and which
// code pages it found. An input without the mark whose bytes outside ASCII
// are all UTF-8 is UTF-8 to kept columns and to a chosen code page.
TEST_P(Workflow, CodePagesAndTheMixingGuard) {
  const std::string utf8Header = kBom + msg::kResultHeader;
  const std::string cp932Header(msg::kResultHeaderCp932);
  const std::string tokyo = "\xe6\x9d\xb1\xe4\xba\xac";  // 東京 in UTF-8
  const std::string tokyoCp932 = "\x93\x8c\x8b\x9e";  // 東京 in CP932, no UTF-8
  const std::string ascii = kDefault + ",x1\n";
  const std::string withTokyo = kDefault + "," + tokyo + "\n";
  const std::string utf8Refused = msg::kLineEncodingMixedUtf8Input;
  const std::string cp932Refused = msg::kLineEncodingMixedCp932Input;
  struct Case {
    std::string input;
    OutputEncoding encoding;
    bool keep;
    std::string result;   // after the header; "" when refused
    std::string header;
    std::string message;  // when refused
  };
  const std::string resultLine = kDefault + "," + kDefaultMode1 + "\r\n";
  const std::vector<Case> cases = {
      {kBom + "h\n" + ascii, OutputEncoding::FromInput, false, resultLine, utf8Header, ""},
      {kBom + "h,2,3,4,5,6,7,8," + tokyo + "\n" + withTokyo, OutputEncoding::FromInput, true,
       kDefault + "," + kDefaultMode1 + "," + tokyo + "\r\n", utf8Header + "," + tokyo, ""},
      {kBom, OutputEncoding::FromInput, false, "", utf8Header, ""},  // a header of its mark alone
      {"h\n" + ascii, OutputEncoding::Utf8, false, resultLine, utf8Header, ""},
      {kBom + "h\n" + ascii, OutputEncoding::Cp932, false, resultLine, cp932Header, ""},
      {"h\n" + ascii, OutputEncoding::Cp932, false, resultLine, cp932Header, ""},
      // Not kept, not echoed: the extra field may hold anything.
      {"h\n" + withTokyo, OutputEncoding::Utf8, false, resultLine, utf8Header, ""},
      {"h\n" + ascii + withTokyo, OutputEncoding::Utf8, true,
       resultLine.substr(0, resultLine.size() - 2) + ",x1\r\n" + kDefault + "," + kDefaultMode1 + "," + tokyo + "\r\n",
       utf8Header, ""},
      {kBom + "h\n" + ascii + ascii + "9.725," + tokyo + ",4.81,3.57,7.416,14.759,22.616,3.321\n",
       OutputEncoding::Cp932, false, "", "", "4" + utf8Refused},
      {"h,2,3,4,5,6,7,8," + tokyo + "\n" + ascii, OutputEncoding::Utf8, true,
       kDefault + "," + kDefaultMode1 + ",x1\r\n", utf8Header + "," + tokyo, ""},
      // UTF-8 without the mark: kept columns make the result UTF-8; without
      // them it is as it always was.
      {"h,2,3,4,5,6,7,8," + tokyo + "\n" + withTokyo, OutputEncoding::FromInput, true,
       kDefault + "," + kDefaultMode1 + "," + tokyo + "\r\n", utf8Header + "," + tokyo, ""},
      {"h\n" + withTokyo, OutputEncoding::FromInput, false, resultLine, cp932Header, ""},
      {"h\n" + ascii + "9.725," + tokyo + ",4.81,3.57,7.416,14.759,22.616,3.321\n", OutputEncoding::Cp932, false, "",
       "", "3" + utf8Refused},
      // CP932, or UTF-8 only in part (so CP932), to UTF-8: the first foreign line.
      {"h\n" + ascii + kDefault + "," + tokyoCp932 + "\n", OutputEncoding::Utf8, true, "", "", "3" + cp932Refused},
      {"h\n" + withTokyo + ascii + kDefault + "," + tokyoCp932 + "\n", OutputEncoding::Utf8, true, "", "",
       "2" + cp932Refused},
      // An EF BB not followed by BF is no byte order mark.
      {"\xEF\xBB" "A\n" + ascii, OutputEncoding::FromInput, false, resultLine, cp932Header, ""},
      // The first fault in input order: a short line before a foreign byte.
      {"h\n1,2\n" + withTokyo, OutputEncoding::Utf8, true, "", "", "2" + std::string(msg::kLineFormatInvalid)},
  };
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const Case& c = cases[i];
    SCOPED_TRACE(i);
    for (const std::size_t chunk : {std::size_t{5}, BatchOptions{}.chunkBytes}) {
      BatchOptions options = Options(chunk);
      options.encoding = c.encoding;
      options.keepColumns = c.keep;
      std::vector<std::string> messages;
      BatchSummary summary;
      const std::string result = Run(c.input, Mode::WithRiskPremium, options, messages, &summary);
      if (c.message.empty()) {
        EXPECT_EQ(result, c.header + "\r\n" + c.result);
        EXPECT_EQ(messages, std::vector<std::string>{});
        EXPECT_EQ(summary.encoding, c.header == cp932Header ? OutputEncoding::Cp932 : OutputEncoding::Utf8);
      } else {
        EXPECT_EQ(result, "");
        EXPECT_EQ(messages, std::vector<std::string>{c.message});
      }
    }
  }
  // The run guards on its own: an input changed after its check is refused,
  // and nothing takes the output's place.
  const fs::path in = dir.Write("in.csv", "h\n" + ascii + withTokyo);
  const fs::path out = dir.Write("out.csv", "old");
  BatchOptions options = Options(5);
  options.encoding = OutputEncoding::Utf8;
  RecordingReporter r;
  EXPECT_EQ(RunBatch(in, out, Mode::WithRiskPremium, settings, table, r, nullptr, options), BatchOutcome::Completed);
  options.keepColumns = true;
  EXPECT_EQ(RunBatch(in, out, Mode::WithRiskPremium, settings, table, r, nullptr, options), BatchOutcome::Failed);
  ASSERT_EQ(r.messages.size(), 1u);
  EXPECT_EQ(r.messages[0].text, "3" + cp932Refused);
  EXPECT_EQ(test::ReadFile(out).substr(0, 3), kBom);  // the first run's result
}

INSTANTIATE_TEST_SUITE_P(OneTwoSeven, Workflow, ::testing::Values(1u, 2u, 7u),
                         [](const auto& info) { return std::to_string(info.param) + "Threads"; });

// A header kept for its titles is held in memory, so it has the data lines'
// limit; unread, it may be of any length.
TEST(WorkflowHeader, TooLongToKeepIsRefusedWithItsReason) {
  test::TempDir dir;
  const fs::path in = dir.Write("in.csv", "");
  fs::resize_file(in, LineReader::kMaxLine + 10);
  { std::ofstream(in, std::ios::binary | std::ios::app) << "\r\n" << kDefault << "\r\n"; }
  const fs::path out = dir.path() / "out.csv";
  BatchOptions keep;
  keep.keepColumns = true;
  RecordingReporter r;
  EXPECT_FALSE(CheckBatchFiles(in, out, Mode::WithRiskPremium, r, nullptr, keep));
  GapTable table;
  EXPECT_EQ(RunBatch(in, out, Mode::WithRiskPremium, CommonSettings{}, table, r, nullptr, keep), BatchOutcome::Failed);
  ASSERT_EQ(r.messages.size(), 2u);
  EXPECT_EQ(r.messages[0].text, "1" + std::string(msg::kHeaderTooLong));
  EXPECT_EQ(r.messages[1].text, "1" + std::string(msg::kHeaderTooLong));
  EXPECT_FALSE(fs::exists(out));
}

// The window explains a household it has checked itself: the same list and
// text as the line that holds its values.
TEST(WorkflowExplain, HouseholdAndRowGiveTheSameExplanation) {
  GapTable table;
  RecordingReporter r;
  ASSERT_TRUE(LoadGapTable(VELMORA_EXAMPLE_GAP_TABLE, table, r));
  const CommonSettings settings{0.61f, 0.025f, 0.04f, 3.14f};
  for (const Mode mode : {Mode::WithRiskPremium, Mode::WithoutRiskPremium}) {
    const Explanation row =
        ExplainRow(kDefault, mode, kDefaultCommonSettingTexts, settings, table, VELMORA_EXAMPLE_GAP_TABLE);
    ASSERT_TRUE(row.computed());
    const Explanation household = ExplainHousehold(row.household, mode, kDefaultCommonSettingTexts, settings, table,
                                                   VELMORA_EXAMPLE_GAP_TABLE);
    const std::string rowLine = "入力行: " + kDefault + "\n";
    std::string text = ExplanationText(row);
    ASSERT_NE(text.find(rowLine), std::string::npos);
    text.erase(text.find(rowLine), rowLine.size());
    EXPECT_EQ(ExplanationText(household), text);
    EXPECT_EQ(household.results.DelayDamage, row.results.DelayDamage);
  }
}

// A gap table saved as UTF-8 with a byte order mark: the mark sits in the
// heading, which is never read, and every entry counts.
TEST(WorkflowGapTable, ByteOrderMarkInTheHeading) {
  test::TempDir dir;
  const std::string table = test::ReadFile(VELMORA_EXAMPLE_GAP_TABLE);
  GapTable plain, marked;
  RecordingReporter r;
  ASSERT_TRUE(LoadGapTable(dir.Write("plain.txt", table), plain, r));
  ASSERT_TRUE(LoadGapTable(dir.Write("marked.txt", kBom + table), marked, r));
  EXPECT_EQ(r.messages.size(), 0u);
  EXPECT_EQ(marked.entries, plain.entries);
  EXPECT_NE(plain.at(0), 0.0f);
}

}  // namespace
}  // namespace velmora
