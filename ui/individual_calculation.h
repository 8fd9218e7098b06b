#pragma once
// What one successful individual calculation worked from, kept by the window
// for the views that show how its results came about.
#include <array>
#include <filesystem>
#include <optional>
#include <string>

#include "core/gap_table.h"
#include "core/records.h"

namespace velmora {

struct IndividualCalculation {
  HouseholdInput household;
  Mode mode = Mode::WithRiskPremium;
  std::array<std::string, 4> settingTexts;  // the four setting boxes as typed
  CommonSettings settings;                  // as the check stored them
  GapTable table;                           // as loaded for this calculation
  std::filesystem::path gapTableFile;
  std::string gapTableSha256;  // empty when the file could not be read again
};

// The table key the calculation read (10 x gap), as its explanation names it;
// nothing when the gap lay outside the table.
std::optional<int> ReadKey(const IndividualCalculation& calculation);

}  // namespace velmora
