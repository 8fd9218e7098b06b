// velmora-batch --map as a user runs it, its files read back through GDAL.
#include <gtest/gtest.h>

#include <gdal_priv.h>
#include <ogrsf_frmts.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "batch/result_lines.h"
#include "platform/sha256.h"
#include "batch/summary.h"
#include "hostile/run_program.h"
#include "map/gdal_writer.h"
#include "map/map_run.h"
#include "test_support.h"

namespace velmora {
namespace {

namespace fs = std::filesystem;

const fs::path kTool = VELMORA_BATCH_TOOL;
constexpr const char* kPremiumLine = "9.725,7.38,4.81,3.57,7.416,14.759,22.616,3.321";
// メッシュ and 地区 in CP932; 東京 likewise.
const std::string kMeshCp932 = "\x83\x81\x83\x62\x83\x56\x83\x85";
const std::string kDistrictCp932 = "\x92\x6E\x8B\xE6";
const std::string kTokyoCp932 = "\x93\x8C\x8B\x9E";

struct Dataset {
  explicit Dataset(const fs::path& file) {
    GDALAllRegister();
    ds.reset(GDALDataset::Open(file.c_str(), GDAL_OF_VECTOR | GDAL_OF_READONLY));
  }
  std::unique_ptr<GDALDataset> ds;
};

// The result file's data lines, split at commas.
std::vector<std::vector<std::string>> ResultRows(const fs::path& csv) {
  std::vector<std::vector<std::string>> rows;
  std::ifstream in(csv, std::ios::binary);
  std::string line;
  std::getline(in, line);  // the header
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (std::size_t comma; (comma = line.find(',', start)) != std::string::npos; start = comma + 1)
      fields.push_back(line.substr(start, comma - start));
    fields.push_back(line.substr(start));
    rows.push_back(fields);
  }
  return rows;
}

class MapTest : public ::testing::Test {
 protected:
  test::RunResult Run(const std::vector<std::string>& args) {
    test::RunOptions options;
    options.workingDirectory = dir.path();
    const test::RunResult r = test::RunProgram(kTool, args, options);
    EXPECT_EQ(r.startFailure, "");
    return r;
  }
  void Write(const std::string& name, const std::string& bytes) {
    std::ofstream(dir.path() / name, std::ios::binary) << bytes;
  }
  test::TempDir dir;
};

TEST_F(MapTest, GeoPackageHoldsOneCellPerComputedLineWithTheFilesValues) {
  // Line 4 cannot be computed; lines 5 (a 7-digit code) and 8 (none) have no cell.
  const std::vector<std::pair<std::string, std::string>> lines = {
      {kPremiumLine, "53394611," + kTokyoCp932},       // 2
      {"12.5,3.2,6.1,2.4,10,18.2,30.5,2.75", "5339461142,abc"},  // 3
      {"9.725,x,4.81,3.57,7.416,14.759,22.616,3.321", "53394612,"},  // 4
      {kPremiumLine, "5339461,"},                     // 5
      {"1.5E+01,2e-1,5,0.25,3,7.5,25,1", "533946,"},  // 6
      {" 9.725 ,7.38,4.81,3.57,7.416,14.759,22.616,3.321", " 533946114 ,"},  // 7
      {kPremiumLine, ","},                            // 8
      {"40,30,1,0.5,2,50,60,1", "53394699,"},         // 9
      {kPremiumLine, "5339,x"},                       // 10
  };
  std::string input = "a,b,c,d,e,f,g,h," + kMeshCp932 + "," + kDistrictCp932 + "\r\n";
  for (const auto& [values, rest] : lines) input += values + "," + rest + "\r\n";
  Write("in.csv", input);
  const test::RunResult r =
      Run({"--keep-columns", "--threads", "2", "--mesh-column", "メッシュ", "in.csv", "out.csv", "--map", "out.gpkg"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.err.find("地図ファイルに書き込みました：セル 6、計算できない行 1、メッシュのない行 2（最初は 5行目）"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(test::FolderEntries(dir.path()), (std::vector<std::string>{"in.csv", "out.csv", "out.gpkg"}));

  Dataset map(dir.path() / "out.gpkg");
  ASSERT_TRUE(map.ds);
  OGRLayer* layer = map.ds->GetLayerByName("out");
  ASSERT_NE(layer, nullptr);
  EXPECT_EQ(layer->GetFeatureCount(), 6);
  ASSERT_NE(layer->GetSpatialRef(), nullptr);
  EXPECT_STREQ(layer->GetSpatialRef()->GetAuthorityCode(nullptr), "6668");
  EXPECT_EQ(layer->GetSpatialRef()->GetDataAxisToSRSAxisMapping(), (std::vector<int>{2, 1}));

  // Every feature: its line's fields as the result file holds them.
  const auto rows = ResultRows(dir.path() / "out.csv");
  OGRFeatureDefn* definition = layer->GetLayerDefn();
  ASSERT_EQ(definition->GetFieldCount(), 15);
  EXPECT_STREQ(definition->GetFieldDefn(0)->GetNameRef(), "行番号");
  EXPECT_STREQ(definition->GetFieldDefn(1)->GetNameRef(), "メッシュ");
  EXPECT_STREQ(definition->GetFieldDefn(13)->GetNameRef(), "流動性制約に伴う復旧遅延被害額（百万円）");
  EXPECT_STREQ(definition->GetFieldDefn(14)->GetNameRef(), "地区");
  std::vector<std::int64_t> numbers;
  std::map<std::int64_t, std::string> codes;
  for (auto& feature : *layer) {
    const std::int64_t number = feature->GetFieldAsInteger64(0);
    numbers.push_back(number);
    codes[number] = feature->GetFieldAsString(1);
    const auto& row = rows.at(static_cast<std::size_t>(number - 2));
    for (int c = 0; c < 12; ++c) EXPECT_EQ(feature->GetFieldAsDouble(2 + c), std::strtod(row[c].c_str(), nullptr)) << number << " " << c;
    EXPECT_EQ(std::string(feature->GetFieldAsString(14)), number == 2 ? "東京" : number == 3 ? "abc" : number == 10 ? "x" : "");
    // The cell of the code: its envelope, in longitude then latitude.
    const auto cell = ParseMeshCode(codes[number]);
    ASSERT_TRUE(cell);
    OGREnvelope envelope;
    feature->GetGeometryRef()->getEnvelope(&envelope);
    const MeshBounds b = cell->degrees();
    EXPECT_EQ(envelope.MinX, b.west);
    EXPECT_EQ(envelope.MaxX, b.east);
    EXPECT_EQ(envelope.MinY, b.south);
    EXPECT_EQ(envelope.MaxY, b.north);
    if (number == 2) {
      EXPECT_EQ(envelope.MinX, 139.7625);
      EXPECT_EQ(envelope.MaxY, 128460.0 / 3600);
    }
  }
  EXPECT_EQ(numbers, (std::vector<std::int64_t>{2, 3, 6, 7, 9, 10}));
  EXPECT_EQ(codes[7], "533946114");
  EXPECT_EQ(codes[10], "5339");

  // The run's summary as the map's metadata.
  const char* run = map.ds->GetMetadataItem("VELMORA_RUN");
  ASSERT_NE(run, nullptr);
  const nlohmann::json summary = nlohmann::json::parse(run);
  EXPECT_EQ(summary["lines"]["computed"], 8);
  EXPECT_EQ(summary["output"]["sha256"], Sha256OfFile(dir.path() / "out.csv").value_or("?"));

  // FlatGeobuf: one file of the same cells, in the same CRS, taking an
  // earlier map's place with its permissions.
  Write("out.fgb", "earlier");
  fs::permissions(dir.path() / "out.fgb", fs::perms(0640));
  ASSERT_EQ(Run({"--mesh-column", "9", "in.csv", "out.csv", "--map", "out.fgb"}).exitCode, 0);
  EXPECT_EQ(fs::status(dir.path() / "out.fgb").permissions(), fs::perms(0640));
  Dataset fgb(dir.path() / "out.fgb");
  ASSERT_TRUE(fgb.ds);
  ASSERT_EQ(fgb.ds->GetLayerCount(), 1);
  EXPECT_EQ(fgb.ds->GetLayer(0)->GetFeatureCount(), 6);
  EXPECT_STREQ(fgb.ds->GetLayer(0)->GetSpatialRef()->GetAuthorityCode(nullptr), "6668");
  EXPECT_EQ(test::FolderEntries(dir.path()), (std::vector<std::string>{"in.csv", "out.csv", "out.fgb", "out.gpkg"}));
}

TEST_F(MapTest, LevelsSumTheLinesAndEveryThreadCountAndWriterGivesTheSameFeatures) {
  // 6,000 lines (more than one chunk) in the 200 3rd-order meshes of 533946
  // and 533947, found without --mesh-column; then one 1st-order code, which
  // has no 2nd-order cell, and an uncomputable line.
  std::string input = "a,b,c,d,e,f,g,h,mesh\r\n";
  for (int i = 0; i < 6000; ++i) {
    const int cell = i % 200;
    input += std::to_string(1 + i % 17) + "." + std::to_string(i % 1000) + ",7.38,4.81," + std::to_string(i % 23) +
             ",7.416,14.759,22.616,3.321,5339" + (cell < 100 ? "46" : "47") + std::to_string(100 + cell % 100).substr(1) +
             "\r\n";
  }
  input += std::string(kPremiumLine) + ",5339\r\n" + "1,x,1,1,1,1,1,1,53394600\r\n";
  Write("in.csv", input);
  test::RunResult r = Run({"--threads", "1", "in.csv", "out.csv", "--map", "sums.gpkg", "--map-level", "2"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.err.find("9列目（mesh）をメッシュコードの列とします"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("セル 2、計算できない行 1、メッシュのない行 1（最初は 6002行目）"), std::string::npos) << r.err;

  // The sums from the result file, per 2nd-order cell.
  struct Sums {
    int count = 0;
    std::array<ExactSum, 12> columns;
  };
  std::map<std::string, Sums> expected;
  const auto rows = ResultRows(dir.path() / "out.csv");
  for (std::size_t i = 0; i < 6000; ++i) {
    Sums& s = expected[i % 200 < 100 ? "533946" : "533947"];
    ++s.count;
    for (int c = 0; c < 12; ++c) s.columns[c].Add(std::strtod(rows[i][c].c_str(), nullptr));
  }
  Dataset map(dir.path() / "sums.gpkg");
  ASSERT_TRUE(map.ds);
  OGRLayer* layer = map.ds->GetLayer(0);
  EXPECT_EQ(layer->GetFeatureCount(), 2);
  for (auto& feature : *layer) {
    const Sums& s = expected.at(feature->GetFieldAsString(0));
    EXPECT_EQ(feature->GetFieldAsInteger64(1), s.count);
    for (int c = 0; c < 12; ++c) {
      const double sum = s.columns[c].Value();
      EXPECT_EQ(feature->GetFieldAsDouble(2 + c), c == 8 || c == 10 ? sum / s.count : sum) << c;
    }
    OGREnvelope envelope;
    feature->GetGeometryRef()->getEnvelope(&envelope);
    const MeshBounds b = ParseMeshCode(feature->GetFieldAsString(0))->degrees();
    EXPECT_EQ(envelope.MinY, b.south);
    EXPECT_EQ(envelope.MaxX, b.east);
  }
  EXPECT_STREQ(layer->GetLayerDefn()->GetFieldDefn(12)->GetNameRef(), "保険の最適カバー率（倍）_平均");

  // One feature per line, at one thread and at three, through GDAL's GeoJSON
  // and through our own writer (Windows'), fed the result file's lines.
  for (const char* threads : {"1", "3"}) {
    fs::create_directory(dir.path() / threads);
    r = Run({"--keep-columns", "--quiet", "--threads", threads, "in.csv", std::string(threads) + "/out.csv", "--map",
             std::string(threads) + "/lines.geojson"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
  }
  const std::string gdal = test::ReadFile(dir.path() / "1/lines.geojson");
  EXPECT_EQ(gdal, test::ReadFile(dir.path() / "3/lines.geojson"));
  map::MapPlan plan;
  test::RecordingReporter reporter;
  ASSERT_TRUE(map::PlanMap(dir.path() / "in.csv", "", plan, reporter));
  const std::unique_ptr<map::MapWriter> own = map::CreateGeoJsonWriter();
  map::MapBuilder builder(plan, true, std::nullopt, *own);
  fs::create_directory(dir.path() / "own");
  ASSERT_TRUE(builder.Start(dir.path() / "own/lines.geojson", dir.path() / "in.csv"));
  const std::string result = test::ReadFile(dir.path() / "1/out.csv");
  builder.AddBlock(2, std::string_view(result).substr(result.find("\r\n") + 2));
  ASSERT_TRUE(builder.Finish("", reporter));
  EXPECT_EQ(builder.counts().features, 6001u);
  const std::string ours = test::ReadFile(dir.path() / "own/lines.geojson");
  EXPECT_EQ(nlohmann::json::parse(ours), nlohmann::json::parse(gdal));
  EXPECT_TRUE(ours == gdal) << "not the same bytes as GDAL's";
}

// A scenario run's households on the map: one cell per household whose id is
// a mesh code, its fields the output file's values (an absent household's 0,
// nothing where it was not computable); with a level, the exact sums per cell.
TEST_F(MapTest, ScenarioHouseholdsCarryTheOutputsValuesAndLevelsSumThem) {
  const std::string head = "a,b,c,d,e,f,g,h,mesh\r\n";
  const std::string rest = ",4.81,3.57,7.416,14.759,22.616,3.321,";
  // 53394612 is not flooded at T10; 53394511 cannot be computed at T30;
  // A-1 is no mesh code.
  Write("t10.csv", head + "1,1" + rest + "53394611\r\n2,1" + rest + "53394711\r\n1,2" + rest + "53394511\r\n1,1" +
                       rest + "A-1\r\n");
  Write("t30.csv", head + "3,2" + rest + "53394611\r\n2.5,1" + rest + "53394612\r\n1,x" + rest + "53394511\r\n3,1" +
                       rest + "53394711\r\n2,2" + rest + "A-1\r\n");
  Write("t100.csv", head + "5,3" + rest + "53394611\r\n4,2" + rest + "53394612\r\n6,1" + rest + "53394711\r\n2,4" +
                        rest + "53394511\r\n3,3" + rest + "A-1\r\n");
  Write("m.csv", "シナリオ名,再現期間,入力ファイル\r\nT10,10,t10.csv\r\nT100,100,t100.csv\r\nT30,30,t30.csv\r\n");
  test::RunResult r = Run({"--scenarios", "m.csv", "--id-column", "mesh", "--output-encoding", "utf-8", "out.csv",
                           "--map", "households.gpkg"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.err.find("地図ファイルに書き込みました：セル 4、メッシュコードでない世帯 1（最初は「A-1」）"),
            std::string::npos)
      << r.err;

  // The output holds each kind of value the map must carry.
  std::map<std::string, std::vector<std::string>> rows;
  for (const auto& row : ResultRows(dir.path() / "out.csv")) rows[row.at(0)] = row;
  ASSERT_EQ(rows.size(), 5u);
  EXPECT_EQ(rows.at("53394612")[1], "0");
  EXPECT_EQ(rows.at("53394511")[3], "");
  EXPECT_EQ(rows.at("53394511")[5], "");
  Dataset map(dir.path() / "households.gpkg");
  ASSERT_TRUE(map.ds);
  OGRLayer* layer = map.ds->GetLayer(0);
  ASSERT_NE(layer, nullptr);
  EXPECT_EQ(layer->GetFeatureCount(), 4);
  OGRFeatureDefn* definition = layer->GetLayerDefn();
  ASSERT_EQ(definition->GetFieldCount(), 6);
  EXPECT_STREQ(definition->GetFieldDefn(0)->GetNameRef(), "mesh");
  EXPECT_STREQ(definition->GetFieldDefn(2)->GetNameRef(), "T100：復旧遅延被害額（百万円）");
  EXPECT_STREQ(definition->GetFieldDefn(4)->GetNameRef(), "年平均直接被害額（百万円）");
  EXPECT_STREQ(definition->GetFieldDefn(5)->GetNameRef(), "年平均復旧遅延被害額（百万円）");
  std::vector<std::string> ids;
  for (auto& feature : *layer) {
    ids.emplace_back(feature->GetFieldAsString(0));
    const auto& row = rows.at(ids.back());
    for (int c = 1; c < 6; ++c) {
      if (row[c].empty()) {
        EXPECT_TRUE(feature->IsFieldNull(c)) << ids.back() << " " << c;
      } else {
        EXPECT_FALSE(feature->IsFieldNull(c)) << ids.back() << " " << c;
        EXPECT_EQ(feature->GetFieldAsDouble(c), std::strtod(row[c].c_str(), nullptr)) << ids.back() << " " << c;
      }
    }
    OGREnvelope envelope;
    feature->GetGeometryRef()->getEnvelope(&envelope);
    EXPECT_EQ(envelope.MinX, ParseMeshCode(ids.back())->degrees().west);
  }
  EXPECT_EQ(ids, (std::vector<std::string>{"53394611", "53394711", "53394511", "53394612"}));
  const char* run = map.ds->GetMetadataItem("VELMORA_RUN");
  ASSERT_NE(run, nullptr);
  const nlohmann::json summary = nlohmann::json::parse(run);
  EXPECT_EQ(summary["households"]["withoutExpectedValue"], 1);
  EXPECT_EQ(summary["output"]["sha256"], Sha256OfFile(dir.path() / "out.csv").value_or("?"));

  // 2nd-order cells: 533946 holds two households, whose expected values add
  // up; 533945's one has none, so neither has its cell.
  const std::string before = test::ReadFile(dir.path() / "households.gpkg");
  r = Run({"--scenarios", "m.csv", "--id-column", "9", "--output-encoding", "utf-8", "out2.csv", "--map",
           "cells.gpkg", "--map-level", "2"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  Dataset cells(dir.path() / "cells.gpkg");
  ASSERT_TRUE(cells.ds);
  layer = cells.ds->GetLayer(0);
  EXPECT_EQ(layer->GetFeatureCount(), 3);
  EXPECT_STREQ(layer->GetLayerDefn()->GetFieldDefn(6)->GetNameRef(), "年平均復旧遅延被害額（百万円）_合計");
  std::map<std::string, std::pair<std::int64_t, std::array<double, 2>>> sums;
  for (auto& feature : *layer) {
    auto& [count, expected] = sums[feature->GetFieldAsString(0)];
    count = feature->GetFieldAsInteger64(1);
    for (int e = 0; e < 2; ++e) expected[e] = feature->IsFieldNull(5 + e) ? -1.0 : feature->GetFieldAsDouble(5 + e);
  }
  for (int e = 0; e < 2; ++e) {
    ExactSum both;
    for (const char* id : {"53394611", "53394612"}) both.Add(std::strtod(rows.at(id)[4 + e].c_str(), nullptr));
    EXPECT_EQ(sums["533946"].first, 2);
    EXPECT_EQ(sums["533946"].second[e], both.Value()) << e;
    EXPECT_EQ(sums["533947"].second[e], std::strtod(rows.at("53394711")[4 + e].c_str(), nullptr)) << e;
    EXPECT_EQ(sums["533945"].second[e], -1.0) << e;
  }

  // The map joins the run's same-file check; the earlier map stays.
  r = Run({"--scenarios", "m.csv", "--id-column", "9", "out3.csv", "--summary", "households.gpkg", "--map",
           "households.gpkg"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("地図ファイルには"), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(dir.path() / "out3.csv"));
  EXPECT_EQ(test::ReadFile(dir.path() / "households.gpkg"), before);
}

// Windows' writer against GDAL's on the reals of sums and means (GDAL prints
// %.17g, or fewer digits after a run of 0s or 9s), texts that need escaping
// and cells of every order.
TEST(MapWriters, OurGeoJsonIsGdalsByteForByte) {
  test::TempDir dir;
  const std::vector<map::Field> fields = {{"v", map::FieldType::Real}, {"n", map::FieldType::Integer},
                                          {"名前", map::FieldType::Text}};
  const double reals[] = {0.1, 0.1 + 0.2, 4.9999999999999991, 0.47531384117647058, 1e22, 5.0, 1e15,
                          123456789.12345679, 4.897206e-05, 1.0 / 3, 2.0 / 3 * 1e-7, 0.582621, -2.5e-300, 999999.5};
  const char* codes[] = {"5339", "533946", "53394611", "533946114", "5339461142", "0000", "5379", "5380", "99997799"};
  std::string written[2];
  for (int w = 0; w < 2; ++w) {
    const auto writer = w == 0 ? map::CreateGdalWriter(map::MapFormat::GeoJson) : map::CreateGeoJsonWriter();
    const fs::path file = dir.path() / std::to_string(w) / "reals.geojson";
    fs::create_directory(file.parent_path());
    ASSERT_TRUE(writer->Create(file, "reals", fields));
    for (std::size_t i = 0; i < std::size(reals); ++i) {
      const map::Value values[] = {map::Value::OfReal(reals[i]), map::Value::OfInteger(-7 * static_cast<int>(i)),
                                   i % 2 ? map::Value::OfText("東京 \"\\\t/") : map::Value()};
      ASSERT_TRUE(writer->Add(*ParseMeshCode(codes[i % std::size(codes)]), values));
    }
    ASSERT_TRUE(writer->Commit(""));
    written[w] = test::ReadFile(file);
  }
  EXPECT_NE(written[0].find("\"v\": 0.1,"), std::string::npos);
  EXPECT_EQ(written[1], written[0]);
}

TEST_F(MapTest, RefusalsLeaveEveryFileAsItWas) {
  Write("in.csv", std::string("a,b,c,d,e,f,g,h,code\r\n") + kPremiumLine + ",A-1\r\n" + kPremiumLine + ",5339\r\n");
  // No field of mesh codes: nothing is written, the message names the option.
  test::RunResult r = Run({"in.csv", "out.csv", "--map", "m.gpkg"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("--mesh-column"), std::string::npos) << r.err;
  r = Run({"in.csv", "out.csv", "--map", "m.gpkg", "--mesh-column", "地区"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(test::FolderEntries(dir.path()), std::vector<std::string>{"in.csv"});
  // Usage errors: an echoed field, an unknown format, a level without a map.
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"in.csv", "out.csv", "--map", "m.gpkg", "--mesh-column", "8"},
           {"in.csv", "out.csv", "--map", "m.shp"},
           {"in.csv", "out.csv", "--map-level", "2"},
           {"in.csv", "out.csv", "--map", "m.gpkg", "--map-level", "4"},
           {"in.csv", "out.csv", "--map", "in.csv", "--mesh-column", "9"}}) {
    r = Run(args);
    EXPECT_EQ(r.exitCode, 2) << args[3];
  }
  EXPECT_NE(Run({"in.csv", "out.csv", "--map", "m.shp"}).err.find(".geojson"), std::string::npos);
  // A run that fails its check leaves an earlier map as it was.
  Write("m.gpkg", "earlier");
  Write("in.csv", std::string("a,b,c,d,e,f,g,h,code\r\n") + kPremiumLine + ",5339\r\n1,2,3\r\n");
  r = Run({"in.csv", "out.csv", "--map", "m.gpkg"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(test::ReadFile(dir.path() / "m.gpkg"), "earlier");
  EXPECT_EQ(test::FolderEntries(dir.path()), (std::vector<std::string>{"in.csv", "m.gpkg"}));
}

}  // namespace
}  // namespace velmora
