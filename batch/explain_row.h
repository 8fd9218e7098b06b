#pragma once
// One household explained: a data line read and computed exactly as the batch
// run does (the same split, row check and model), with the model's trace
// turned into the list of named quantities. velmora-batch --explain prints it.
#include <array>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/explain.h"
#include "core/gap_table.h"
#include "core/records.h"
#include "input/checks.h"

namespace velmora {

struct Explanation {
  Mode mode = Mode::WithRiskPremium;
  std::array<std::string, 4> settingTexts;  // as given
  CommonSettings settings;                  // as the check stored them
  std::filesystem::path gapTable;
  std::string row;
  bool fromRow = false;                  // explained from `row` (which may be empty)
  std::size_t fields = 0;                // of the row: commas plus one, 0 when empty
  bool tooFewFields = false;             // fewer than the mode needs: the check refuses the line
  std::optional<RowRejection> rejected;  // the row check refused the line
  HouseholdInput household;              // when the row check passed
  std::optional<FailedStep> failed;      // the model could not compute the household
  // In step order; after a model failure only those computed before it.
  std::vector<NamedQuantity> quantities;
  ModelResult results;  // when computed

  bool computed() const { return !tooFewFields && !rejected && !failed; }
};

// Reads `row` as one data line of an input file (without its terminator)
// and computes it with the settings and table that the command's checks
// have filled.
Explanation ExplainRow(std::string_view row, Mode mode, const CommonSettingTexts& settingTexts,
                       const CommonSettings& settings, const GapTable& table, const std::filesystem::path& gapTable);

// The same for a household already checked (the window's boxes): the model
// of the mode with its trace. `row` stays empty.
Explanation ExplainHousehold(const HouseholdInput& household, Mode mode, const CommonSettingTexts& settingTexts,
                             const CommonSettings& settings, const GapTable& table,
                             const std::filesystem::path& gapTable);

// Why the household was not computed, as a message ("" when it was).
std::string ExplanationFailure(const Explanation& explanation);

// For people: the mode, table, settings and household, then one named
// quantity per line, then the four results as the file writes them and as
// the window shows them. A household not computed ends where it stopped;
// ExplanationFailure says why.
std::string ExplanationText(const Explanation& explanation);

// One JSON object: "quantities" maps each name to its value (a number that
// reads back to the same single; texts for the band and row), "results" the
// four result names to the file's texts, "display" to the window's.
std::string ExplanationJson(const Explanation& explanation);

}  // namespace velmora
