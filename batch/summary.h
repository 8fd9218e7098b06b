#pragma once
// What a completed batch run produced and from what: counts, the figures of
// the four result columns and the provenance of the files. Filled by
// RunBatchCommand when asked; velmora-batch --summary writes it as JSON.
#include <array>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "batch/options.h"
#include "core/records.h"
#include "core/reporter.h"

namespace velmora {

// The sum of doubles, exact until it is read: Value() is the exact sum
// rounded once to the nearest double (ties to even). So the sum is the same
// whatever the order of the values and however they were split between
// accumulators. Holds the exact sum as non-overlapping partial sums.
class ExactSum {
 public:
  void Add(double value);
  void Add(const ExactSum& other);
  double Value() const;
  // The exact sum divided by `count`, rounded once to the nearest double
  // (ties to even); 0 for no count.
  double Mean(std::uint64_t count) const;

 private:
  std::vector<double> partials_;  // increasing magnitude
};

// The four result columns, in file order.
inline constexpr std::array<std::string_view, 4> kResultNames = {"PreferenceFactor", "WillingnessToPay",
                                                                 "OptimalCoverage", "DelayDamage"};

// Figures of one result column, of the values as the file holds them (each
// text read back as a double), so that they agree with the file.
struct ColumnFigures {
  std::uint64_t count = 0;
  double sum = 0.0;   // the exact sum, rounded once
  double min = 0.0;   // min, max and mean only when count > 0
  double max = 0.0;
  double mean = 0.0;  // the exact sum / count, rounded once
};

struct BatchSummary {
  // What was run.
  std::string version;
  Mode mode = Mode::WithRiskPremium;
  std::array<std::string, 4> settingTexts;  // as given
  CommonSettings settings;                  // the singles the mode used
  std::filesystem::path gapTable;
  std::string gapTableSha256;
  std::filesystem::path input;
  std::uint64_t inputBytes = 0;
  std::string inputSha256;
  std::filesystem::path output;
  std::string outputSha256;            // of the bytes written
  OutputEncoding encoding = OutputEncoding::Cp932;  // as written: Cp932 or Utf8
  bool keptColumns = false;
  // What came out. dataLines = computed + rowRejected + modelFailed.
  std::uint64_t dataLines = 0;
  std::uint64_t computed = 0;
  std::uint64_t rowRejected = 0;  // refused by the row check
  std::uint64_t modelFailed = 0;  // the model could not compute them
  std::array<ColumnFigures, 4> columns;  // in the order of kResultNames
  // The DelayDamage column's values as read back, in no particular order;
  // only with BatchOptions::keepDelayDamages.
  std::vector<double> delayDamages;
};

// The summary as a JSON object (UTF-8, two-space indent, ending in a newline).
// Singles are written as doubles that read back to the same single; bytes
// that are not UTF-8 in paths or setting texts become U+FFFD.
std::string BatchSummaryJson(const BatchSummary& summary);

// A figure for people: seven significant digits, as the result file writes
// numbers ("." always, "E" before an exponent; the JSON keeps every digit).
std::string SevenDigits(double value);

// One line for people: the counts and the total delay damage (seven
// significant digits).
std::string BatchSummaryLine(const BatchSummary& summary);

// Writes the JSON through a temporary file that takes the place of `file`
// only when whole; reports msg::kSummaryUnwritable on failure.
bool WriteBatchSummary(const std::filesystem::path& file, const BatchSummary& summary, Reporter& reporter);

}  // namespace velmora
