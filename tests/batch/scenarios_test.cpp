// Flood scenarios: the integration rule, the join of the households across
// scenarios, each scenario's settings, and the manifests that are refused.
#include <gtest/gtest.h>

#include <charconv>
#include <filesystem>
#include <string>
#include <vector>

#include "batch/batch.h"
#include "batch/messages.h"
#include "batch/scenarios.h"
#include "core/messages.h"
#include "test_support.h"

namespace velmora {
namespace {

namespace fs = std::filesystem;
using test::RecordingReporter;

std::vector<std::string> Split(const std::string& text, const std::string& by) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (std::size_t at; (at = text.find(by, start)) != std::string::npos; start = at + by.size()) {
    parts.push_back(text.substr(start, at - start));
  }
  parts.push_back(text.substr(start));
  return parts;
}

double Read(const std::string& text) {
  double value = 0.0;
  std::from_chars(text.data(), text.data() + text.size(), value);
  return value;
}

// T = 10, 100, 1000 with D = 1, 5, 10, given out of order: 0.3375 by
// trapezoids alone, 0.01 more for the flat tail, 0.2 more for the segment
// from T0 = 2. Each option changes the value by its own amount.
TEST(ScenarioIntegration, WorkedExampleAndItsOptions) {
  const std::vector<double> periods = {100.0, 10.0, 1000.0};
  const std::vector<double> damages = {5.0, 1.0, 10.0};
  struct Case {
    EadRule rule;
    double value;
  };
  const Case cases[] = {{{0.0, EadTail::None}, 0.3375},
                        {{0.0, EadTail::Flat}, 0.3475},
                        {{2.0, EadTail::None}, 0.5375},
                        {{2.0, EadTail::Flat}, 0.5475}};
  for (const Case& c : cases) {
    ExceedanceCurve curve;
    std::string why;
    ASSERT_TRUE(MakeExceedanceCurve(periods, c.rule, curve, why)) << why;
    EXPECT_EQ(curve.order, (std::vector<std::size_t>{1, 0, 2}));
    EXPECT_NEAR(ExpectedAnnualValue(curve, damages, c.rule), c.value, 1e-15);
  }
  // Refused: equal periods, a period of 1 or less, a zero-damage period not
  // below the most frequent scenario's.
  const std::vector<std::vector<double>> refused = {{10.0, 100.0, 10.0}, {1.0, 10.0}, {0.5, 10.0}};
  for (const auto& p : refused) {
    ExceedanceCurve curve;
    std::string why;
    EXPECT_FALSE(MakeExceedanceCurve(p, EadRule{}, curve, why));
    EXPECT_FALSE(why.empty());
  }
  ExceedanceCurve curve;
  std::string why;
  EXPECT_FALSE(MakeExceedanceCurve(periods, EadRule{10.0, EadTail::None}, curve, why));
  EXPECT_TRUE(MakeExceedanceCurve(periods, EadRule{9.99, EadTail::None}, curve, why)) << why;
}

class Scenarios : public ::testing::Test {
 protected:
  ScenarioCommand Command(const std::string& manifest) {
    ScenarioCommand command;
    command.manifest = dir.Write("manifest.csv", manifest);
    command.output = dir.path() / "out.csv";
    command.mode = Mode::WithRiskPremium;
    command.settingTexts = {"0.610", "0.025", "0.040", "3.140"};
    command.gapTableFile = VELMORA_EXAMPLE_GAP_TABLE;
    command.threads = 2;
    return command;
  }
  // The delay damages a single batch run writes for `file`, by line.
  std::vector<std::string> BatchDelays(const fs::path& file, Mode mode, std::array<std::string, 4> texts) {
    BatchCommand command;
    command.input = file;
    command.output = dir.path() / "single.csv";
    command.mode = mode;
    command.settingTexts = {texts[0], texts[1], texts[2], texts[3]};
    command.gapTableFile = VELMORA_EXAMPLE_GAP_TABLE;
    CommonSettings settings;
    GapTable table;
    RecordingReporter r;
    EXPECT_EQ(RunBatchCommand(command, settings, table, r), BatchOutcome::Completed);
    std::vector<std::string> delays;
    const std::vector<std::string> lines = Split(test::ReadFile(command.output), "\r\n");
    for (std::size_t i = 1; i + 1 < lines.size(); ++i) delays.push_back(Split(lines[i], ",").at(11));
    return delays;
  }
  test::TempDir dir;
};

// Households joined by their id in the tenth column: in any order, absent
// from a scenario (0 there), or present but not computable (no expected
// value). Each scenario's column is what its own batch run writes; the
// expected values follow the rule worked out here by hand.
TEST_F(Scenarios, JoinByIdWithAbsentAndNotComputableHouseholds) {
  const std::string h = "a,b,c,d,e,f,g,h,ward,mesh\r\n";
  const std::string rest = ",4.81,3.57,7.416,14.759,22.616,3.321,x,";
  // T = 10: A and B; T = 100: C first, then B, A; T = 1000: A, C, and B not computable.
  dir.Write("t10.csv", h + "1.5,0.5" + rest + "A\r\n" + "2,1" + rest + "B\r\n");
  dir.Write("t100.csv", h + "4,2" + rest + "C\r\n" + "5,3" + rest + "B\r\n" + "6,4" + rest + "A\r\n");
  dir.Write("t1000.csv", h + "9,5" + rest + "A\r\n" + "8,4" + rest + "C\r\n" + "x,7" + rest + "B\r\n");
  ScenarioCommand command = Command(
      "シナリオ名,再現期間,入力ファイル\r\n小,100,t100.csv\r\n中,10,t10.csv\r\n大,1000,t1000.csv\r\n");
  command.idColumn = "mesh";
  command.encoding = OutputEncoding::Utf8;
  RecordingReporter r;
  ScenarioSummary summary;
  ASSERT_EQ(RunScenarioCommand(command, r, nullptr, nullptr, &summary), BatchOutcome::Completed);
  ASSERT_EQ(r.messages.size(), 1u);
  EXPECT_EQ(r.messages[0].text, "シナリオ計算の結果を出力ファイルに書き込みました");

  const std::array<std::string, 4> settings = {"0.610", "0.025", "0.040", "3.140"};
  const std::vector<std::string> d10 = BatchDelays(dir.path() / "t10.csv", Mode::WithRiskPremium, settings);
  const std::vector<std::string> d100 = BatchDelays(dir.path() / "t100.csv", Mode::WithRiskPremium, settings);
  const std::vector<std::string> d1000 = BatchDelays(dir.path() / "t1000.csv", Mode::WithRiskPremium, settings);
  ASSERT_EQ(d1000.at(2), "");
  // Households in order of first appearance (the manifest's first scenario
  // is T = 100): C, B, A. Columns in the manifest's order: 100, 10, 1000.
  struct Household {
    std::string id, t100, t10, t1000;
    double direct100, direct10, direct1000;
  };
  const Household households[] = {{"C", d100[0], "0", d1000[1], 6, 0, 12},
                                  {"B", d100[1], d10[1], "", 8, 3, 0},
                                  {"A", d100[2], d10[0], d1000[0], 10, 2, 14}};
  // By hand: p = 0.1, 0.01, 0.001; no front segment, no tail.
  const auto ead = [](double d10v, double d100v, double d1000v) {
    return (0.1 - 0.01) * (d10v + d100v) / 2 + (0.01 - 0.001) * (d100v + d1000v) / 2;
  };
  std::string expected =
      "mesh,小：復旧遅延被害額（百万円）,中：復旧遅延被害額（百万円）,大：復旧遅延被害額（百万円）,"
      "年平均直接被害額（百万円）,年平均復旧遅延被害額（百万円）\r\n";
  for (const Household& x : households) {
    expected += x.id + "," + x.t100 + "," + x.t10 + "," + x.t1000 + ",";
    if (x.t1000.empty()) {
      expected += ",\r\n";
      continue;
    }
    expected += SevenDigitsAsWritten(ead(x.direct10, x.direct100, x.direct1000)) + "," +
                SevenDigitsAsWritten(ead(Read(x.t10), Read(x.t100), Read(x.t1000))) + "\r\n";
  }
  const std::string written = test::ReadFile(command.output);
  EXPECT_EQ(written, "\xEF\xBB\xBF" + expected);

  EXPECT_EQ(summary.households, 3u);
  EXPECT_EQ(summary.withExpected, 2u);
  EXPECT_EQ(summary.withoutExpected, 1u);
  ASSERT_EQ(summary.scenarios.size(), 3u);
  EXPECT_EQ(summary.scenarios[1].absent, 1u);  // C is not flooded at T = 10
  EXPECT_EQ(summary.scenarios[2].notComputable, 1u);
  EXPECT_EQ(summary.scenarios[0].absent + summary.scenarios[2].absent, 0u);
  const std::vector<std::string> lines = Split(written, "\r\n");
  EXPECT_EQ(summary.expectedDelay, Read(Split(lines[1], ",")[5]) + Read(Split(lines[3], ",")[5]));
  // The curve's totals are those of the households with an expected value.
  EXPECT_EQ(summary.scenarios[2].totalDirect, 26.0);
  EXPECT_EQ(summary.scenarios[1].totalDirect, 2.0);
}

// Scenarios that set their own settings (one interest rate, one insurance
// rate) give, household for household, what single batch runs with those
// settings write; without an id the lines are matched in order, and a file
// whose households differ is refused.
TEST_F(Scenarios, OwnSettingsAgreeWithSingleBatchRuns) {
  std::string input = "a,b,c,d,e,f,g,h\r\n";
  for (int i = 0; i < 300; ++i) {
    input += std::to_string(1 + i % 17) + "." + std::to_string(i % 10) + ",7.38,4.81,3.57,7.416,14.759," +
             std::to_string(10 + i) + ",3.321\r\n";
  }
  dir.Write("same.csv", input);
  dir.Write("other.csv", "a,b,c,d,e,f,g,h\r\n1,2,3,4,5,6,7,8\r\n");
  for (const Mode mode : {Mode::WithRiskPremium, Mode::WithoutRiskPremium}) {
    SCOPED_TRACE(mode == Mode::WithRiskPremium ? "mode 1" : "mode 0");
    ScenarioCommand command = Command(
        "シナリオ名,入力ファイル,利子率,保険加入率\r\n基準,same.csv,,\r\n利子率8%,same.csv,0.08,\r\n"
        "加入率0.3,same.csv,,0.3\r\n");
    command.mode = mode;
    RecordingReporter r;
    ScenarioSummary summary;
    // One thread, and three threads formatting seven households at a time:
    // the same bytes.
    command.threads = 1;
    ASSERT_EQ(RunScenarioCommand(command, r, nullptr, nullptr, &summary), BatchOutcome::Completed);
    const std::string oneThread = test::ReadFile(command.output);
    command.threads = 3;
    command.pieceHouseholds = 7;
    ASSERT_EQ(RunScenarioCommand(command, r, nullptr, nullptr, &summary), BatchOutcome::Completed);
    EXPECT_EQ(test::ReadFile(command.output), oneThread);
    const std::array<std::array<std::string, 4>, 3> settings = {{{"0.610", "0.025", "0.040", "3.140"},
                                                                 {"0.610", "0.025", "0.08", "3.140"},
                                                                 {"0.3", "0.025", "0.040", "3.140"}}};
    std::vector<std::vector<std::string>> single;
    for (const auto& s : settings) single.push_back(BatchDelays(dir.path() / "same.csv", mode, s));
    // The settings each mode reads make a difference.
    EXPECT_NE(single[0], mode == Mode::WithRiskPremium ? single[1] : single[2]);
    const std::vector<std::string> lines = Split(test::ReadFile(command.output), "\r\n");
    ASSERT_EQ(lines.size(), 302u);
    for (std::size_t i = 0; i < 300; ++i) {
      const std::vector<std::string> fields = Split(lines[i + 1], ",");
      ASSERT_EQ(fields.size(), 4u);  // no return periods: no expected values
      EXPECT_EQ(fields[0], std::to_string(i + 2));
      for (std::size_t s = 0; s < 3; ++s) EXPECT_EQ(fields[s + 1], single[s][i]) << i << " " << s;
    }
    EXPECT_FALSE(summary.expected);
  }
  // Lines in order are checked: other households are refused, nothing written.
  fs::remove(dir.path() / "out.csv");
  ScenarioCommand command =
      Command("シナリオ名,入力ファイル\r\n一,same.csv\r\n二,other.csv\r\n");
  RecordingReporter r;
  EXPECT_EQ(RunScenarioCommand(command, r), BatchOutcome::Failed);
  ASSERT_EQ(r.messages.size(), 1u);
  EXPECT_EQ(r.messages[0].text,
            "シナリオ「二」（シナリオ一覧の3行目）：入力ファイルの2行目：世帯の値（世帯年収から消費額まで）が"
            "最初のシナリオの同じ行と違います。世帯を識別する列を指定してください");
  EXPECT_FALSE(fs::exists(dir.path() / "out.csv"));
}

// A refused manifest says which scenario and line, and leaves the earlier
// output as it was.
TEST_F(Scenarios, RefusedManifestsWriteNothing) {
  const std::string household = "9.725,7.38,4.81,3.57,7.416,14.759,22.616,3.321\r\n";
  dir.Write("a.csv", "h\r\n" + household);
  dir.Write("b.csv", "h\r\n" + household);
  dir.Write("short.csv", "h\r\n1,2,3\r\n");
  const std::string head = "シナリオ名,再現期間,入力ファイル,マークアップ率\r\n";
  struct Case {
    std::string manifest, message;
  };
  const Case cases[] = {
      {head + "十年,10,a.csv,\r\n百年,10,b.csv,\r\n", "シナリオ一覧の3行目：再現期間「10」は2行目と同じです"},
      {head + "十年,10,a.csv,\r\n百年,100,missing.csv,\r\n",
       "シナリオ「百年」（シナリオ一覧の3行目）：" + std::string(msg::kInputUnreadable)},
      {head + "十年,10,a.csv,\r\n百年,100,b.csv,0\r\n",
       "シナリオ「百年」（シナリオ一覧の3行目）：" + std::string(msg::kMarkupRateZero)},
      {head + "十年,10,a.csv,\r\n百年,100,b.csv,abc\r\n",
       "シナリオ「百年」（シナリオ一覧の3行目）：" + std::string(msg::kCommonSettingsInvalid)},
      {head + "十年,10,short.csv,\r\n", "シナリオ「十年」（シナリオ一覧の2行目）：2" + std::string(msg::kLineFormatInvalid)},
      {head + "十年,1,a.csv,\r\n", "シナリオ一覧の2行目：再現期間「1」は1より大きい数ではありません"},
      {"シナリオ名,再現期間,入力,\r\n", "シナリオ一覧の1行目：見出し「入力」は使えません（シナリオ名、再現期間、入力ファイル、"
                                        "保険加入率、被害の発生確率、利子率、マークアップ率のいずれかです）"},
  };
  const std::string earlier = "earlier output\r\n";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    const fs::path out = dir.Write("out.csv", earlier);
    RecordingReporter r;
    EXPECT_EQ(RunScenarioCommand(Command(c.manifest), r), BatchOutcome::Failed);
    ASSERT_EQ(r.messages.size(), 1u);
    EXPECT_TRUE(r.messages[0].isError);
    EXPECT_EQ(r.messages[0].text, c.message);
    EXPECT_EQ(test::ReadFile(out), earlier);
  }
  // The manifest in CP932, as Excel saves it, is read as well.
  const std::string cp932Head =
      "\x83\x56\x83\x69\x83\x8a\x83\x49\x96\xbc,\x8d\xc4\x8c\xbb\x8a\xfa\x8a\xd4,\x93\xfc\x97\xcd\x83\x74\x83\x40"
      "\x83\x43\x83\x8b\r\n";  // シナリオ名,再現期間,入力ファイル
  RecordingReporter r;
  ScenarioCommand command = Command(cp932Head + "\x8f\xac,10,a.csv\r\n\x91\xe5,100,b.csv\r\n");  // 小, 大
  ASSERT_EQ(RunScenarioCommand(command, r), BatchOutcome::Completed) << r.messages.at(0).text;
  EXPECT_EQ(Split(test::ReadFile(command.output), "\r\n").size(), 3u);
}

}  // namespace
}  // namespace velmora
