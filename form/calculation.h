#pragma once
// 個別計算 without a window: the table, the three checks and the model of the
// mode, run once with its trace, answering what the result boxes show and
// what the views explain.
#include <array>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "batch/explain_row.h"
#include "core/gap_table.h"
#include "core/records.h"
#include "core/reporter.h"

namespace velmora::form {

// The twelve setting boxes' texts in the order of kSettings (UTF-8).
using SettingTexts = std::array<std::string, 12>;

struct Calculation {
  Explanation explanation;  // mode, settings, household, trace and results
  std::array<std::string, 4> shown;  // txtA1..txtA4 ("-" for what mode 0 leaves out)
  GapTable table;                    // as loaded for this calculation
  std::filesystem::path gapTableFile;
  std::string gapTableSha256;  // of the bytes the load read
};

struct CalculationFailure {
  // The box to put the user in after the message: the first one the failed
  // test looked at whose text it refused (empty after a table or model
  // failure).
  std::string box;
};

struct CalculationOutcome {
  std::optional<Calculation> done;
  CalculationFailure failure;  // when not done
};

// Loads `gapTableFile` over `table`, checks the settings into `settings`
// (kept between commands, as the window keeps them), reads the household and
// computes it. Every failure has been reported to `reporter` when this
// answers.
CalculationOutcome Calculate(const SettingTexts& texts, Mode mode, CommonSettings& settings, GapTable& table,
                             const std::filesystem::path& gapTableFile, Reporter& reporter,
                             std::string_view decimalSeparator = ".");

// The table key the calculation read (10 x gap); nothing when the gap lay
// outside the table.
std::optional<int> ReadKey(const Explanation& explanation);

// For people: the explanation, then the table file, its SHA-256 and the
// entry read.
std::string CalculationText(const Calculation& calculation);

}  // namespace velmora::form
