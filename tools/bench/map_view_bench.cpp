// How quickly 表示 → 地図 shows a large run: a batch of 1,000,000 households
// keyed by quarter meshes (the 25 x 25 2nd-order meshes around 533946), run
// as the window runs it with and without gathering the map, then the view's
// model and first frame, and frames while panning and zooming. Prints the
// figures; not a test.
//
//   map_view_bench [LINES]    (QT_QPA_PLATFORM=offscreen without a display)
#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QLayout>
#include <QPainter>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <unistd.h>

#include "batch/batch.h"
#include "ui/file_dialogs.h"
#include "ui/map_cells.h"
#include "ui/map_view.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

class Silent : public velmora::Reporter {
 public:
  void error(std::string_view m) override { std::fprintf(stderr, "%.*s\n", int(m.size()), m.data()); }
  void info(std::string_view) override {}
};

double Seconds(Clock::time_point from) { return std::chrono::duration<double>(Clock::now() - from).count(); }

void WriteInput(const fs::path& file, long lines) {
  std::ofstream out(file, std::ios::binary);
  out << "h1,h2,h3,h4,h5,h6,h7,h8,mesh\r\n";
  std::mt19937 random(20261207);
  std::uniform_real_distribution<double> factor(0.5, 1.5);
  const double defaults[8] = {9.725, 7.380, 4.810, 3.570, 7.416, 14.759, 22.616, 3.321};
  char buffer[256];
  long written = 0;
  for (int dy = -12; dy <= 12 && written < lines; ++dy) {
    for (int dx = -12; dx <= 12 && written < lines; ++dx) {
      const int lat = 53 * 8 + 4 + dy;
      const int lon = 39 * 8 + 6 + dx;
      for (int third = 0; third < 100 && written < lines; ++third) {
        for (int quarter = 0; quarter < 16 && written < lines; ++quarter, ++written) {
          int n = 0;
          for (int k = 0; k < 8; ++k) n += std::snprintf(buffer + n, sizeof buffer - n, "%.3f,", defaults[k] * factor(random));
          std::snprintf(buffer + n, sizeof buffer - n, "%02d%02d%d%d%02d%d%d\r\n", lat / 8, lon / 8, lat % 8, lon % 8,
                        third, 1 + quarter / 4, 1 + quarter % 4);
          out << buffer;
        }
      }
    }
  }
}

}  // namespace

int main(int argc, char* argv[]) {
  if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
  }
  QApplication app(argc, argv);
  const long lines = argc > 1 ? std::atol(argv[1]) : 1'000'000;
  const fs::path folder = fs::temp_directory_path() / ("velmora-map-bench-" + std::to_string(::getpid()));
  fs::create_directories(folder);
  const fs::path input = folder / "in.csv";
  WriteInput(input, lines);
  std::printf("input: %ld lines, %.1f MB\n", lines, fs::file_size(input) / 1e6);

  Silent reporter;
  velmora::CommonSettings settings;
  velmora::GapTable table;
  velmora::BatchCommand command;
  command.input = input;
  command.output = folder / "out.csv";
  command.gapTableFile = VELMORA_EXAMPLE_GAP_TABLE;
  command.settingTexts = velmora::kDefaultCommonSettingTexts;
  command.options.keepDelayDamages = true;  // as the window runs it

  auto start = Clock::now();
  if (velmora::RunBatchCommand(command, settings, table, reporter) != velmora::BatchOutcome::Completed) return 1;
  const double plain = Seconds(start);
  start = Clock::now();
  const std::unique_ptr<velmora::MapGatherer> gatherer = velmora::GatherMap(command);
  velmora::BatchSummary summary;
  if (!gatherer || velmora::RunBatchCommand(command, settings, table, reporter, nullptr, &summary) !=
                       velmora::BatchOutcome::Completed)
    return 1;
  const std::shared_ptr<const velmora::MapCells> cells = gatherer->finish(command, settings, table, summary);
  const double gathered = Seconds(start);
  if (!cells) return 1;
  std::printf("batch as the window runs it: %.2f s without the map, %.2f s gathering %zu cells\n", plain, gathered,
              cells->cells.size());
  {
    // The gathering alone: the result file's lines handed on in blocks of
    // about 256 KB, as a run hands them.
    std::ifstream result(command.output, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(result)), std::istreambuf_iterator<char>());
    const std::size_t body = text.find("\r\n") + 2;
    std::vector<std::pair<std::uint64_t, std::string_view>> blocks;
    std::uint64_t number = 2;
    for (std::size_t at = body; at < text.size();) {
      std::size_t end = text.find("\r\n", std::min(text.size(), at + (std::size_t{256} << 10)));
      end = end == std::string::npos ? text.size() : end + 2;
      blocks.emplace_back(number, std::string_view(text.data() + at, end - at));
      for (std::size_t i = at; i < end; ++i) number += text[i] == '\n';
      at = end;
    }
    velmora::MapGatherer alone(command.input, cells->column, command.mode);
    start = Clock::now();
    for (const auto& [first, block] : blocks) alone.add(first, block);
    std::printf("gathering alone (one thread): %.0f ms\n", Seconds(start) * 1e3);
  }
  std::printf("memory of the cells: %.1f MB\n",
              (cells->cells.size() * sizeof(velmora::MapCell) +
               4 * cells->values[0].size() * sizeof(double)) / 1e6);

  velmora::QtFileDialogs dialogs;
  velmora::MapView view(reporter, dialogs);
  view.resize(1200, 900);
  view.layout()->activate();
  velmora::MapCanvas* canvas = view.canvas();
  QImage frame(canvas->size(), QImage::Format_ARGB32_Premultiplied);
  const auto render = [&] {
    QPainter painter(&frame);
    canvas->render(&painter);
  };
  start = Clock::now();
  view.showCells(cells);
  const double model = Seconds(start);
  render();
  const double first = Seconds(start);
  std::printf("view: model (index, classes, images) %.0f ms; with the first frame (%dx%d) %.0f ms\n", model * 1e3,
              frame.width(), frame.height(), first * 1e3);

  start = Clock::now();
  const_cast<velmora::MapModel*>(view.model())->setColumn(1);
  canvas->modelChanged();
  render();
  std::printf("another result chosen, with its frame: %.0f ms\n", Seconds(start) * 1e3);
  const_cast<velmora::MapModel*>(view.model())->setColumn(3);

  // Frames while panning, at the whole-map view and closer in.
  for (const double zoom : {1.0, 8.0, 64.0}) {
    canvas->fit();
    canvas->zoomBy(zoom, QPointF(canvas->width() / 2.0, canvas->height() / 2.0));
    constexpr int kFrames = 60;
    start = Clock::now();
    for (int i = 0; i < kFrames; ++i) {
      canvas->panBy(QPointF(i % 2 == 0 ? 7 : -5, 3));
      render();
    }
    std::printf("pan at %gx the whole map: %.1f ms a frame\n", zoom, Seconds(start) * 1e3 / kFrames);
  }
  fs::remove_all(folder);
  return 0;
}
