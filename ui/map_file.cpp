#include "ui/map_file.h"

#include <cstdio>
#include <memory>
#include <string>

#include "batch/files.h"
#include "platform/platform.h"
#include "platform/sha256.h"
#include "core/line_reader.h"
#include "map/map_messages.h"
#include "map/map_run.h"
#ifdef VELMORA_HAVE_GDAL
#include "map/gdal_writer.h"
#endif

namespace velmora {
namespace {

// Errors pass on; the note on which field holds the codes does not (the map
// view says it already).
class ErrorsOnly : public Reporter {
 public:
  explicit ErrorsOnly(Reporter& target) : target_(target) {}
  void error(std::string_view message) override { target_.error(message); }
  void info(std::string_view) override {}

 private:
  Reporter& target_;
};

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

}  // namespace

const char* MapFileFilter() {
#ifdef VELMORA_HAVE_GDAL
  return "GeoPackage(*.gpkg);;FlatGeobuf(*.fgb);;GeoJSON(*.geojson)";
#else
  return "GeoJSON(*.geojson)";
#endif
}

const char* DefaultMapExtension() {
#ifdef VELMORA_HAVE_GDAL
  return ".gpkg";
#else
  return ".geojson";
#endif
}

bool SaveMapFile(const BatchSummary& run, const std::filesystem::path& target, Reporter& reporter) {
  const std::optional<map::MapFormat> format = map::MapFormatOf(target);
#ifndef VELMORA_HAVE_GDAL
  if (format && *format != map::MapFormat::GeoJson) {
    reporter.error(msg::kMapOnlyGeoJson);
    return false;
  }
#endif
  if (!format) {
    reporter.error(msg::kMapFormatUnknown);
    return false;
  }
  for (const auto& other : {run.input, run.output, run.gapTable}) {
    if (!other.empty() && batch::SameFile(target, other)) {
      reporter.error("地図ファイルには入力・出力ファイルやギャップ分布表と別のファイルを指定してください");
      return false;
    }
  }
  // The map is the run's only while both files are as the run left them.
  if (Sha256OfFile(run.input) != run.inputSha256 || Sha256OfFile(run.output) != run.outputSha256) {
    reporter.error("一括計算の後に入力ファイルか出力ファイルが変わったため、地図ファイルを作れません。"
                   "一括計算をやり直してください");
    return false;
  }
  ErrorsOnly errors(reporter);
  map::MapPlan plan;
  if (!map::PlanMap(run.input, {}, plan, errors)) return false;
#ifdef VELMORA_HAVE_GDAL
  const std::unique_ptr<map::MapWriter> writer = map::CreateGdalWriter(*format);
#else
  const std::unique_ptr<map::MapWriter> writer = map::CreateGeoJsonWriter();
#endif
  map::MapBuilder builder(std::move(plan), run.keptColumns, std::nullopt, *writer);
  std::unique_ptr<std::FILE, FileCloser> result(platform::OpenStream(run.output));
  if (!result || !builder.Start(target, run.input)) {
    reporter.error(msg::kMapUnwritable);
    return false;
  }
  // The result's lines in blocks, as the run handed them on (every line
  // ends in CR LF there).
  LineReader lines(result.get());
  std::string block;
  std::uint64_t number = 2;
  std::uint64_t first = number;
  std::string_view line;
  if (!lines.Skip()) {
    reporter.error("出力ファイルを読めませんでした");
    return false;
  }
  while (lines.Next(line)) {
    block.append(line).append("\r\n");
    ++number;
    if (block.size() >= (std::size_t{1} << 20)) {
      builder.AddBlock(first, block);
      block.clear();
      first = number;
    }
  }
  if (!block.empty()) builder.AddBlock(first, block);
  if (lines.failed()) {
    builder.Discard();
    reporter.error("出力ファイルを読めませんでした");
    return false;
  }
  return builder.Finish(BatchSummaryJson(run), reporter);
}

}  // namespace velmora
