// velmora-batch --scenarios from the command line: a CP932 manifest, the id
// column by number, both end rules, the summary file, and the option errors.
// (The suite's name starts with CliTest so that the ThreadSanitizer stage
// runs it with the other tool tests.)
#include <gtest/gtest.h>

#include <charconv>
#include <cstdio>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "hostile/run_program.h"
#include "test_support.h"

namespace velmora {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

const fs::path kTool = VELMORA_BATCH_TOOL;

std::string Sha256Sum(const fs::path& file) {
  std::string digest;
  if (FILE* pipe = ::popen(("sha256sum '" + file.string() + "'").c_str(), "r")) {
    char buffer[65] = {};
    if (std::fread(buffer, 1, 64, pipe) == 64) digest = buffer;
    ::pclose(pipe);
  }
  return digest;
}

std::vector<std::string> Split(const std::string& text, char by) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (std::size_t at; (at = text.find(by, start)) != std::string::npos; start = at + 1) {
    parts.push_back(text.substr(start, at - start));
  }
  parts.push_back(text.substr(start));
  return parts;
}

TEST(CliTestScenarios, ManifestToExpectedValuesAndSummary) {
  test::TempDir dir;
  const std::string rest = ",4.81,3.57,7.416,14.759,22.616,3.321,";
  fs::create_directory(dir.path() / "floods");
  dir.Write("floods/t10.csv", "h\r\n1,1" + rest + "53394611\r\n");
  dir.Write("floods/t30.csv", "h\r\n3,2" + rest + "53394611\r\n2,1" + rest + "53394612\r\n");
  dir.Write("floods/t100.csv", "h\r\n2,1" + rest + "53394612\r\n5,3" + rest + "53394611\r\n");
  // シナリオ名,再現期間,入力ファイル in CP932; folders written the Windows way.
  const fs::path manifest = dir.Write(
      "manifest.csv",
      "\x83\x56\x83\x69\x83\x8a\x83\x49\x96\xbc,\x8d\xc4\x8c\xbb\x8a\xfa\x8a\xd4,\x93\xfc\x97\xcd\x83\x74\x83\x40"
      "\x83\x43\x83\x8b\r\nT10,10,floods\\t10.csv\r\nT100,100,floods\\t100.csv\r\nT30,30,floods\\t30.csv\r\n");
  const fs::path out = dir.path() / "out.csv";
  const fs::path summary = dir.path() / "summary.json";
  const test::RunResult r =
      test::RunProgram(kTool, {"--scenarios", manifest.string(), "--id-column", "9", "--ead-tail", "flat",
                               "--zero-damage-return-period=2", "--summary", summary.string(), out.string()});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const std::vector<std::string> lines = Split(test::ReadFile(out), '\n');
  ASSERT_EQ(lines.size(), 4u);  // header, two households, the end
  const json s = json::parse(test::ReadFile(summary));
  EXPECT_EQ(s["manifest"]["sha256"], Sha256Sum(manifest));
  EXPECT_EQ(s["output"]["sha256"], Sha256Sum(out));
  EXPECT_EQ(s["scenarios"][1]["input"]["sha256"], Sha256Sum(dir.path() / "floods" / "t100.csv"));
  EXPECT_EQ(s["scenarios"][0]["lines"]["absent"], 1);
  EXPECT_EQ(s["integration"]["tail"], "flat");
  EXPECT_EQ(s["integration"]["zeroDamageReturnPeriod"], 2.0);
  EXPECT_EQ(s["households"]["withExpectedValue"], 2);
  // The totals are the sums of the written expected values; the direct
  // damages of 53394612 (0, 3, 3 at T = 10, 30, 100) by hand.
  double delays = 0.0;
  for (std::size_t i = 1; i <= 2; ++i) {
    const std::vector<std::string> fields = Split(lines[i].substr(0, lines[i].size() - 1), ',');
    ASSERT_EQ(fields.size(), 6u);
    double value = 0.0;
    std::from_chars(fields[5].data(), fields[5].data() + fields[5].size(), value);
    delays += value;
  }
  EXPECT_DOUBLE_EQ(s["expectedAnnualDamage"]["delayDamage"].get<double>(), delays);
  // The direct damages by hand: 53394611 has 2, 5, 8 at T = 10, 30, 100 (the
  // front segment from T0 = 2 counts), 53394612 has 0, 3, 3.
  const double p10 = 0.1, p30 = 1.0 / 30, p100 = 0.01;
  const double direct[] = {(0.5 - p10) * 2.0 / 2 + (p10 - p30) * (2.0 + 5.0) / 2 + (p30 - p100) * (5.0 + 8.0) / 2 +
                               p100 * 8.0,
                           (p10 - p30) * (0.0 + 3.0) / 2 + (p30 - p100) * (3.0 + 3.0) / 2 + p100 * 3.0};
  for (std::size_t i = 1; i <= 2; ++i) {
    double written = 0.0;
    const std::string field = Split(lines[i], ',')[4];
    std::from_chars(field.data(), field.data() + field.size(), written);
    EXPECT_NEAR(written, direct[i - 1], 1e-6 * direct[i - 1]) << lines[i];
  }
  EXPECT_EQ(lines[1].substr(0, 9), "53394611,");
  EXPECT_NE(r.err.find("年平均復旧遅延被害額の合計"), std::string::npos);

  // The options that go with --scenarios, and their values.
  const std::vector<std::vector<std::string>> usage = {
      {"--id-column", "9", "in.csv", "out.csv"},
      {"--scenarios", manifest.string(), "a.csv", "b.csv"},
      {"--scenarios", manifest.string(), "--ead-tail", "steep", out.string()},
      {"--scenarios", manifest.string(), "--zero-damage-return-period", "1", out.string()},
      {"--scenarios", manifest.string(), "--keep-columns", out.string()},
      {"--scenarios", manifest.string(), "--map", "m.geojson", out.string()},  // the mesh code's field not named
  };
  const std::string before = test::ReadFile(out);
  for (const auto& args : usage) {
    const test::RunResult u = test::RunProgram(kTool, args);
    EXPECT_EQ(u.exitCode, 2) << args[0] << " " << args[2];
  }
  EXPECT_EQ(test::ReadFile(out), before);
  const test::RunResult help = test::RunProgram(kTool, {"--help"});
  for (const char* option : {"--scenarios", "--id-column", "--zero-damage-return-period", "--ead-tail"}) {
    EXPECT_NE(help.out.find(option), std::string::npos) << option;
  }
}

}  // namespace
}  // namespace velmora
