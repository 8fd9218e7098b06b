// Speed of the batch run as the window calls it: check plus run over a file
// of generated households, on one thread and on two.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "batch/batch.h"

namespace velmora {
namespace {

namespace fs = std::filesystem;

class Silent : public Reporter {
 public:
  void error(std::string_view) override {}
  void info(std::string_view) override {}
};

// A window-like progress hook that never cancels.
class Counting : public BatchProgress {
 public:
  bool lineDone(std::uint64_t lines, std::uint64_t, std::uint64_t) override {
    last = lines;
    return true;
  }
  std::uint64_t last = 0;
};

// The generated files live in one folder, removed when the program ends.
struct BenchFolder {
  BenchFolder() : path(fs::temp_directory_path() / ("velmora-batch-bench-" + std::to_string(::getpid()))) {
    fs::create_directories(path);
  }
  ~BenchFolder() {
    std::error_code ec;
    fs::remove_all(path, ec);
  }
  fs::path path;
};

fs::path Folder() {
  static const BenchFolder folder;
  return folder.path;
}

fs::path Input(std::int64_t rows) {
  const fs::path path = Folder() / ("in-" + std::to_string(rows) + ".csv");
  if (fs::exists(path)) return path;
  std::mt19937 random(20240601);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  std::ofstream out(path, std::ios::binary);
  out << "header\r\n";
  char line[256];
  for (std::int64_t i = 0; i < rows; ++i) {
    std::snprintf(line, sizeof line, "%.3f,%.3f,%.3f,%.3f,%.3f,%.3f,%.3f,%.3f\r\n", unit(random) * 20,
                  unit(random) * 12, 1 + unit(random) * 15, unit(random) * 25, unit(random) * 30,
                  2 + unit(random) * 20, 5 + unit(random) * 40, 1 + unit(random) * 8);
    out << line;
  }
  return path;
}

void BM_CheckAndRun(benchmark::State& state, Mode mode) {
  const std::int64_t rows = state.range(0);
  const BatchOptions options{static_cast<unsigned>(state.range(1))};
  const fs::path in = Input(rows);
  const fs::path out = Folder() / "out.csv";
  Silent reporter;
  GapTable table;
  if (!LoadGapTable(VELMORA_EXAMPLE_GAP_TABLE, table, reporter)) {
    state.SkipWithError("no gap table");
    return;
  }
  const CommonSettings settings{0.61f, 0.025f, 0.04f, 3.14f};
  Counting progress;
  for (auto _ : state) {
    if (!CheckBatchFiles(in, out, mode, reporter, &progress, options) ||
        RunBatch(in, out, mode, settings, table, reporter, &progress, options) != BatchOutcome::Completed) {
      state.SkipWithError("run failed");
      return;
    }
  }
  state.SetItemsProcessed(state.iterations() * rows);
}

// Arguments: rows, threads. Wall time counts here: the threads' CPU time is
// not the calling thread's.
BENCHMARK_CAPTURE(BM_CheckAndRun, WithRiskPremium, Mode::WithRiskPremium)
    ->ArgsProduct({{10000, 1000000}, {1, 2}})
    ->ArgNames({"rows", "threads"})
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_CheckAndRun, WithoutRiskPremium, Mode::WithoutRiskPremium)
    ->ArgsProduct({{10000, 1000000}, {1, 2}})
    ->ArgNames({"rows", "threads"})
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace velmora
