#pragma once
// Flood scenarios: several batch runs of one study (the floods of several
// return periods, or a comparison of settings), joined household by
// household, and the annual expected damage integrated over the annual
// exceedance probability.
//
//   RunScenarioCommand: LoadGapTable -> the manifest -> for every scenario
//     CheckCommonSettings and CheckBatchFiles -> for every scenario RunBatch
//     (its lines handed over as written, no result file) -> the joined result
//     through a temporary file and an atomic replace -> completion message
//
// Every scenario runs through the batch engine itself, so a scenario's delay
// damage is the value its batch would write, to the digit.
#include <array>
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "batch/batch.h"
#include "batch/summary.h"
#include "core/records.h"
#include "core/reporter.h"

namespace velmora {

// ---- The integration ------------------------------------------------------

enum class EadTail {
  None,  // nothing beyond the rarest scenario
  Flat,  // the rarest damage held down to p = 0
};

struct EadRule {
  // 0: no segment before the most frequent scenario. Otherwise the damage
  // rises linearly from 0 at p = 1/T0 to the most frequent scenario's.
  double zeroDamageReturnPeriod = 0.0;
  EadTail tail = EadTail::None;
};

// The damage–probability curve's abscissae: p = 1/T of every scenario, from
// the most frequent to the rarest.
struct ExceedanceCurve {
  std::vector<std::size_t> order;     // scenario indices (as given), most frequent first
  std::vector<double> probabilities;  // strictly falling
};

// Sorts the scenarios by their probability. False with the reason (Japanese)
// when a return period is not above 1, two give the same probability, or the
// zero-damage return period is not above 1 and below every scenario's.
bool MakeExceedanceCurve(std::span<const double> returnPeriods, const EadRule& rule, ExceedanceCurve& curve,
                         std::string& why);

// The expected annual value of `damages` (one per scenario, in the order the
// return periods were given), in double: the trapezoids
// sum (p[i] - p[i+1]) (D[i] + D[i+1]) / 2 over successive scenarios, plus the
// front segment and the tail the rule asks for.
double ExpectedAnnualValue(const ExceedanceCurve& curve, std::span<const double> damages, const EadRule& rule);

// The rule in words, for the summary line, the view and the README.
std::string EadRuleText(const EadRule& rule);

// ---- The manifest -----------------------------------------------------------

inline constexpr std::size_t kSettingCount = 4;

// One line of the manifest.
struct Scenario {
  std::string name;          // UTF-8
  std::uint64_t line = 0;    // in the manifest, the header being 1
  std::optional<double> returnPeriod;
  std::string returnPeriodText;
  std::filesystem::path input;  // the manifest's folder already joined
  // The four settings this scenario gives (empty: the command's).
  std::array<std::string, kSettingCount> settingTexts;
};

struct ScenarioManifest {
  std::vector<Scenario> scenarios;
  bool allReturnPeriods() const;
};

// Reads a manifest (CP932 or UTF-8, a header line of known titles) and checks
// its own content: names, files given, return periods. Reports the first
// fault, naming its line.
bool ReadScenarioManifest(const std::filesystem::path& file, ScenarioManifest& manifest, Reporter& reporter);

// The titles of the first scenario's input, UTF-8 (for the window's choice of
// the id column). False, with a message, when the manifest or the input's
// header cannot be read.
bool ReadFirstInputTitles(const std::filesystem::path& manifest, std::vector<std::string>& titles,
                          Reporter& reporter);

// ---- The command --------------------------------------------------------------

struct ScenarioSummary;

// Takes the joined result as the output file holds it, for a map of the
// households (map/scenario_map.h): Start once every check has passed, Lines
// with the data lines as written (whole lines, in order), Finish once the
// output has taken its place, Discard on any other end.
class ScenarioResultSink {
 public:
  virtual ~ScenarioResultSink() = default;
  // The output's titles in UTF-8: the id's, then every column after it;
  // `utf8` when the lines' ids are UTF-8 (CP932 otherwise). False, with a
  // message, when the sink cannot be started.
  virtual bool Start(const std::vector<std::string>& titles, bool utf8, Reporter& reporter) = 0;
  virtual void Lines(std::string_view lines) = 0;
  virtual bool Finish(const ScenarioSummary& summary, Reporter& reporter) = 0;
  virtual void Discard() = 0;
  // Whether Finish is to get the files' digests (a pass over every byte).
  virtual bool wantsDigests() const { return false; }
};

struct ScenarioCommand {
  std::filesystem::path manifest;
  std::filesystem::path output;
  Mode mode = Mode::WithRiskPremium;
  // The command's settings; a scenario's own replace them.
  std::array<std::string, kSettingCount> settingTexts;
  std::string decimalSeparator = ".";  // of the command's setting texts only
  std::filesystem::path gapTableFile;
  // The field that identifies a household: "" none (the lines' order), a
  // column number from 1, or a title of the inputs' headers.
  std::string idColumn;
  EadRule rule;
  bool ruleGiven = false;  // a rule option was given: every scenario needs a return period
  unsigned threads = 0;
  // Households a thread formats at a time for the result (tests use tiny ones).
  std::size_t pieceHouseholds = std::size_t{1} << 15;
  OutputEncoding encoding = OutputEncoding::FromInput;
  // Written after the result when given; checked against every other file
  // before anything is written.
  std::filesystem::path summaryFile;
  // The households on the map: its file joins the check against every other
  // file; the sink writes it after the output (nothing without one).
  std::filesystem::path mapFile;
  ScenarioResultSink* map = nullptr;
};

// Which pass of the command runs: two per scenario (the check, the run), so
// that a window can show one bar for the whole command.
struct ScenarioPasses {
  std::atomic<unsigned> done{0};
  std::atomic<unsigned> total{0};
};

struct ScenarioFigures {
  Scenario scenario;
  std::array<std::string, kSettingCount> settingTexts;  // as used
  CommonSettings settings;
  std::filesystem::path input;
  std::uint64_t inputBytes = 0;
  std::string inputSha256;  // only when a summary file is asked for
  std::uint64_t dataLines = 0;
  std::uint64_t computed = 0;
  std::uint64_t notComputable = 0;
  std::uint64_t absent = 0;  // households of other scenarios missing from this one
  std::array<ColumnFigures, 4> columns;  // of the lines as written, when a summary file is asked for
  // Of the households that got an expected value: the totals the risk curve
  // draws (their area is the total expected value).
  double totalDirect = 0.0;
  double totalDelay = 0.0;
};

struct ScenarioSummary {
  std::string version;
  Mode mode = Mode::WithRiskPremium;
  std::filesystem::path gapTable;
  std::string gapTableSha256;
  std::filesystem::path manifest;
  std::string manifestSha256;
  std::filesystem::path output;
  std::string outputSha256;
  OutputEncoding encoding = OutputEncoding::Cp932;
  std::string idColumn;       // as given
  std::string idTitle;        // UTF-8; "" without
  std::vector<ScenarioFigures> scenarios;
  std::uint64_t households = 0;
  std::uint64_t withExpected = 0;     // every scenario computed or absent
  std::uint64_t withoutExpected = 0;  // not computable in some scenario
  bool expected = false;  // every scenario has a return period
  EadRule rule;
  ExceedanceCurve curve;
  // Sums of the expected values as written.
  double expectedDirect = 0.0;
  double expectedDelay = 0.0;
};

// The whole command. Nothing is written unless every check has passed; a
// failed or cancelled command keeps any earlier output. Shows the completion
// message on success.
BatchOutcome RunScenarioCommand(const ScenarioCommand& command, Reporter& reporter, BatchProgress* progress = nullptr,
                                ScenarioPasses* passes = nullptr, ScenarioSummary* summary = nullptr);

std::string ScenarioSummaryJson(const ScenarioSummary& summary);
// One or two lines for people: households and the expected values.
std::string ScenarioSummaryLine(const ScenarioSummary& summary);

// A number as the result file writes one: seven significant digits, "E" form
// outside the plain range, no "-0".
std::string SevenDigitsAsWritten(double value);

}  // namespace velmora
