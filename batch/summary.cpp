#include "batch/summary.h"

#include <bit>
#include <charconv>
#include <cmath>
#include <limits>
#include "batch/files.h"
#include "batch/json_parts.h"
#include "batch/messages.h"
#include "platform/platform.h"

namespace velmora {

// Shewchuk's partial sums, as Python's math.fsum keeps them: each value is
// added exactly into a list of non-overlapping doubles. The values of a
// result column are finite and far from the double range's end, so no sum
// can overflow.
void ExactSum::Add(double x) {
  std::size_t kept = 0;
  for (double y : partials_) {
    if (std::fabs(x) < std::fabs(y)) std::swap(x, y);
    const double high = x + y;
    const double low = y - (high - x);
    if (low != 0.0) partials_[kept++] = low;
    x = high;
  }
  partials_.resize(kept);
  partials_.push_back(x);
}

void ExactSum::Add(const ExactSum& other) {
  for (const double partial : other.partials_) Add(partial);
}

double ExactSum::Value() const {
  std::size_t n = partials_.size();
  if (n == 0) return 0.0;
  double high = partials_[--n];
  double low = 0.0;
  while (n > 0) {
    const double x = high;
    const double y = partials_[--n];
    high = x + y;
    low = y - (high - x);
    if (low != 0.0) break;
  }
  // The partials below `low` may decide a tie between two doubles: round
  // half to even on the exact sum, not on its first two parts.
  if (n > 0 && ((low < 0.0 && partials_[n - 1] < 0.0) || (low > 0.0 && partials_[n - 1] > 0.0))) {
    const double y = low * 2.0;
    const double x = high + y;
    if (y == x - high) high = x;
  }
  return high;
}

double ExactSum::Mean(std::uint64_t count) const {
  if (count == 0) return 0.0;
  const auto n = static_cast<double>(count);  // exact: no run has 2^53 lines
  // Within an ulp or two of the mean; then moved while the exact sum lies
  // beyond the midpoint to a neighbour (n times it, each product exact as
  // its rounded value and its error).
  double mean = Value() / n;
  const auto pastMidpoint = [&](double neighbour) {
    ExactSum twice = *this;
    twice.Add(*this);
    for (const double m : {mean, neighbour}) {
      const double product = m * n;
      const double error = std::fma(m, n, -product);
      twice.Add(-product);
      if (error != 0.0) twice.Add(-error);
    }
    const double difference = twice.Value();
    return difference > 0.0 ? 1 : difference < 0.0 ? -1 : 0;
  };
  const auto odd = [](double value) { return (std::bit_cast<std::uint64_t>(value) & 1) != 0; };
  for (int step = 0; step < 4; ++step) {
    const double up = std::nextafter(mean, std::numeric_limits<double>::infinity());
    const int aboveUp = pastMidpoint(up);
    if (aboveUp > 0 || (aboveUp == 0 && odd(mean))) {
      mean = up;
      continue;
    }
    const double down = std::nextafter(mean, -std::numeric_limits<double>::infinity());
    const int aboveDown = pastMidpoint(down);
    if (aboveDown < 0 || (aboveDown == 0 && odd(mean))) {
      mean = down;
      continue;
    }
    break;
  }
  return mean;
}

namespace {

constexpr std::array<std::string_view, 4> kSettingNames = {"InsuranceRate", "DamageProbability", "InterestRate",
                                                           "MarkupRate"};

std::string EncodingName(OutputEncoding encoding) { return encoding == OutputEncoding::Utf8 ? "utf-8" : "cp932"; }

}  // namespace

Json SettingsJson(Mode mode, const std::array<std::string, 4>& texts, const CommonSettings& settings) {
  const bool withPremium = mode == Mode::WithRiskPremium;
  // The singles the mode's model reads; the others are not used.
  const std::array<float, 4> singles = {settings.InsuranceRate, settings.DamageProbability, settings.InterestRate,
                                        settings.MarkupRate};
  const std::array<bool, 4> used = {!withPremium, withPremium, withPremium, withPremium};
  Json json = Json::object();
  for (std::size_t k = 0; k < 4; ++k) {
    json[std::string(kSettingNames[k])] = {{"text", texts[k]},
                                           {"single", used[k] ? SingleJson(singles[k]) : Json(nullptr)}};
  }
  return json;
}

std::string BatchSummaryJson(const BatchSummary& s) {
  const bool withPremium = s.mode == Mode::WithRiskPremium;
  Json columns = Json::object();
  for (std::size_t c = 0; c < 4; ++c) {
    const ColumnFigures& f = s.columns[c];
    const bool any = f.count > 0;
    columns[std::string(kResultNames[c])] = {{"count", f.count},
                                             {"sum", f.sum},
                                             {"min", any ? Json(f.min) : Json(nullptr)},
                                             {"max", any ? Json(f.max) : Json(nullptr)},
                                             {"mean", any ? Json(f.mean) : Json(nullptr)}};
  }
  const Json json = {
      {"version", s.version},
      {"mode", withPremium ? 1 : 0},
      {"settings", SettingsJson(s.mode, s.settingTexts, s.settings)},
      {"gapTable", {{"path", platform::Utf8FromPath(s.gapTable)}, {"sha256", s.gapTableSha256}}},
      {"input", {{"path", platform::Utf8FromPath(s.input)}, {"bytes", s.inputBytes}, {"sha256", s.inputSha256}}},
      {"output",
       {{"path", platform::Utf8FromPath(s.output)},
        {"sha256", s.outputSha256},
        {"encoding", EncodingName(s.encoding)},
        {"keptColumns", s.keptColumns}}},
      {"lines",
       {{"data", s.dataLines},
        {"computed", s.computed},
        {"rowRejected", s.rowRejected},
        {"modelFailed", s.modelFailed}}},
      {"columns", columns},
  };
  return DumpJson(json);
}

std::string SevenDigits(double value) {
  if (value == 0.0) value = 0.0;  // no "-0"
  char buffer[32];
  const auto r = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 7);
  std::string text(buffer, r.ptr);
  // The exponent as the result file writes it: "E", not "e".
  const std::size_t e = text.find('e');
  if (e != std::string::npos) text[e] = 'E';
  return text;
}

std::string BatchSummaryLine(const BatchSummary& s) {
  return "集計：データ行 " + std::to_string(s.dataLines) + "、計算 " + std::to_string(s.computed) +
         "、行の検査で計算不可 " + std::to_string(s.rowRejected) + "、モデルで計算不可 " +
         std::to_string(s.modelFailed) + "、復旧遅延被害額の合計 " + SevenDigits(s.columns[3].sum) + "（百万円）";
}

bool WriteBatchSummary(const std::filesystem::path& file, const BatchSummary& summary, Reporter& reporter) {
  const std::string json = BatchSummaryJson(summary);
  batch::ResultFile out;
  if (!out.Create(file) || !out.Write(json) || !out.Commit()) {
    reporter.error(msg::kSummaryUnwritable);
    return false;
  }
  return true;
}

}  // namespace velmora
