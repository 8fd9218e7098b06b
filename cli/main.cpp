// velmora-batch: the batch calculation from the command line, through the same
// chain and engine as the window's batch command.
#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "batch/batch.h"
#include "batch/explain_row.h"
#include "batch/files.h"
#include "batch/gap_table_search.h"
#include "platform/platform.h"
#include "batch/scenarios.h"
#include "batch/summary.h"
#include "cli/tool.h"
#include "core/number_text.h"
#include "core/version.h"
#include "map/map_messages.h"
#include "map/map_run.h"
#include "map/scenario_map.h"
#ifdef VELMORA_HAVE_GDAL
#include "map/gdal_writer.h"
#endif

#ifdef VELMORA_HAVE_GDAL
#define VELMORA_MAP_FORMATS ".gpkg, .fgb, .geojson"
#else
#define VELMORA_MAP_FORMATS ".geojson"
#endif

namespace {

using namespace velmora;

constexpr const char* kUsage =
    "使い方: velmora-batch [オプション] 入力.csv 出力.csv\n"
    "        velmora-batch [オプション] --explain \"1行分の値\" [--format text|json]\n"
    "        velmora-batch [オプション] --scenarios シナリオ一覧.csv 出力.csv\n"
    "Usage:  velmora-batch [options] INPUT.csv OUTPUT.csv\n"
    "        velmora-batch [options] --explain \"ONE,DATA,LINE\" [--format text|json]\n"
    "        velmora-batch [options] --scenarios MANIFEST.csv OUTPUT.csv\n"
    "\n"
    "入力CSVの各行（1世帯＝1メッシュ）を計算し、12列の見出し付きで結果CSV（CP932、CR LF）に書き出します。\n"
    "Computes every line of the input CSV (one household = one mesh) and writes the\n"
    "result CSV (CP932, CR LF) under the twelve-column header.\n"
    "\n"
    "  --without-risk-premium  リスクプレミアムを考慮しないモデル（既定はリスクプレミアム考慮）\n"
    "                          model without the risk premium (default: with it)\n"
    "  --insurance-rate X      保険加入率 / insurance enrolment rate      (既定 default 0.610)\n"
    "  --damage-probability X  被害発生確率 / probability of damage       (既定 default 0.025)\n"
    "  --interest-rate X       利子率 / interest rate                     (既定 default 0.040)\n"
    "  --markup-rate X         マークアップ率 / markup rate               (既定 default 3.140)\n"
    "  --gap-table FILE        ギャップ分布表 / gap-distribution table\n"
    "                          (既定: 実行ファイルと同じフォルダ、{user-folder}、\n"
    "                           ../share/velmora/ の順に EGapDis.txt を探します\n"
    "                           default: EGapDis.txt beside this program, in {user-folder},\n"
    "                           then in ../share/velmora/ from this program's folder)\n"
    "  --threads N             計算に使うスレッド数（既定: CPUのコア数）。結果は同じです\n"
    "                          threads to compute on (default: one per core);\n"
    "                          the result is the same for every count\n"
    "  --keep-columns          入力の9列目以降を結果の13列目以降にそのまま残す（見出しも）\n"
    "                          keep the input's fields from the ninth on after the twelve columns\n"
    "  --output-encoding E     結果の文字コード cp932 または utf-8（既定: 入力がUTF-8のBOMで\n"
    "                          始まれば utf-8、それ以外は cp932）\n"
    "                          code page of the result, cp932 or utf-8 (default: utf-8 with a\n"
    "                          byte order mark when the input starts with one, else cp932)\n"
    "                          BOMのないUTF-8の入力は、--keep-columns でもUTF-8で書きます\n"
    "                          a UTF-8 input without one is written in UTF-8 with --keep-columns\n"
    "  --summary FILE.json     完了後に件数・列ごとの集計・設定値・ファイルのSHA-256をJSONで書く\n"
    "                          after a completed run, write counts, column figures, settings\n"
    "                          and the files' SHA-256 as JSON\n"
    "  --map FILE              完了後、計算できた行をメッシュのセルごとに地図ファイルへ書く（拡張子で形式:\n"
    "                          " VELMORA_MAP_FORMATS "）\n"
    "                          after a completed run, write the computed lines as mesh cells to a\n"
    "                          map file (format by extension: " VELMORA_MAP_FORMATS ")\n"
    "                          --scenarios では --id-column の列がメッシュコードの世帯ごとに、各シナリオの\n"
    "                          復旧遅延被害額と年平均被害額を書く\n"
    "                          with --scenarios: one cell per household whose --id-column field is a\n"
    "                          mesh code, with each scenario's delay damage and the expected values\n"
    "  --mesh-column N|TITLE   メッシュコードの列（9以上の列番号か見出し。既定: 最初の1000行が\n"
    "                          すべてメッシュコードである9列目以降の最初の列）\n"
    "                          the field holding the mesh code (a number from 9 on or the header's\n"
    "                          title; default: the first from the ninth on whose first 1000 values\n"
    "                          are all mesh codes of one order)\n"
    "  --map-level 1|2|3       行ごとではなく1次・2次・3次メッシュごとに合計する\n"
    "                          sum the lines into the cells of the 1st, 2nd or 3rd order instead\n"
    "  --quiet                 完了メッセージ・集計行・進捗を表示しない（エラーは表示）\n"
    "                          no completion message, summary line or progress (errors stay)\n"
    "  --explain ROW           入力1行分の世帯について、モデルの途中の値をすべて表示する\n"
    "                          show every named quantity of the model for one data line\n"
    "  --format text|json      --explain の出力形式（既定 text） / output of --explain\n"
    "  --scenarios FILE.csv    シナリオ一覧（1行1シナリオ：シナリオ名・再現期間・入力ファイル、\n"
    "                          任意で保険加入率などの設定値）の各入力を計算し、世帯ごとに各シナリオの\n"
    "                          復旧遅延被害額と年平均被害額（期待値）を出力する\n"
    "                          run every scenario of the manifest (one a line: name, return period,\n"
    "                          input, optional settings) and write, per household, each scenario's\n"
    "                          delay damage and the annual expected damages\n"
    "  --id-column N|TITLE     世帯を識別する列（列番号または見出し）。省略時は行の順で対応させ、\n"
    "                          同じ世帯が同じ順に並ぶことを確かめる\n"
    "                          the field that identifies a household across the scenarios; without\n"
    "                          it the lines are matched in order, which is checked\n"
    "  --zero-damage-return-period T0\n"
    "                          被害の出ない再現期間（流下能力）。(1/T0, 0) から最頻のシナリオまでを積分に加える\n"
    "                          add the segment from (1/T0, 0) to the most frequent scenario\n"
    "  --ead-tail none|flat    最も稀なシナリオより先：なし（既定）か、その被害を p = 0 まで一定\n"
    "                          beyond the rarest scenario: nothing (default) or its damage held to p = 0\n"
    "  -h, --help              この説明 / this help\n"
    "  --version               版数 / version\n"
    "\n"
    "数値の小数点は常に「.」です。 Numbers always use \".\" as the decimal point.\n"
    "1行は128 MiBまでです。 A line may be up to 128 MiB long.\n"
    "メッセージは標準エラー出力に出ます。 Messages go to standard error.\n"
    "標準エラー出力が端末のときは、1秒を超える計算の進捗を表示します。\n"
    "When standard error is a terminal, a run longer than a second shows its progress.\n"
    "終了コード / exit status: 0 成功 success, 1 失敗 failure, 2 引数の誤り usage error,\n"
    "  128+シグナル番号 中断 / 128 + signal number when interrupted (Ctrl+C: 130, SIGTERM: 143,\n"
    "  SIGHUP: 129).\n"
    "失敗・中断のときは以前の出力ファイルがそのまま残ります。\n"
    "On failure or interruption any earlier output file is left as it was.\n";

// The help, naming the user's folder as this system spells it.
std::string Usage() {
  constexpr std::string_view kUserFolder = "{user-folder}";
  std::string text = kUsage;
  for (std::size_t at = 0; (at = text.find(kUserFolder, at)) != std::string::npos;) {
    text.replace(at, kUserFolder.size(), platform::kUserSettingsFolderText);
  }
  return text;
}

// After an interrupt, on standard error even with --quiet.
constexpr const char* kInterrupted = "中断しました。以前の出力ファイルはそのまま残っています";

// The number of the signal that interrupted the run (platform/platform.h). Any
// thread may take the signal; the engine asks on the main thread.
std::atomic<int> interrupted{0};

// Ctrl+C, SIGTERM or SIGHUP stop the check or the run within a block of
// lines, and even after the last line until the result has taken the
// output's place; the earlier output stays.
//
// On a terminal, once the command has lasted about a second, one line shows
// the pass, its percentage, rows per second and the time left, redrawn in
// place and cleared before any message.
class InterruptProgress : public BatchProgress {
 public:
  explicit InterruptProgress(bool draw) : draw_(draw) {}

  bool lineDone(std::uint64_t, std::uint64_t, std::uint64_t) override {
    if (draw_) Draw();
    return interrupted.load(std::memory_order_relaxed) == 0;
  }

  void Clear() {
    if (!shown_) return;
    platform::WriteError("\r" + std::string(width_, ' ') + "\r");
    shown_ = false;
    width_ = 0;
  }

 private:
  using Clock = std::chrono::steady_clock;

  void Draw() {
    const Clock::time_point now = Clock::now();
    const BatchPhase current = phase();
    if (current != phase_) {
      phase_ = current;
      passStart_ = now;
    }
    if (now - start_ < std::chrono::seconds(1)) return;
    if (shown_ && now - lastDrawn_ < std::chrono::milliseconds(200)) return;
    const double seconds = std::chrono::duration<double>(now - passStart_).count();
    const std::uint64_t total = bytesTotal();
    const std::uint64_t read = std::min(bytesRead(), total);
    const int percent =
        total == 0 ? 100 : static_cast<int>(100.0 * static_cast<double>(read) / static_cast<double>(total));
    std::string text = current == BatchPhase::Checking ? "確認中 " : "計算中 ";
    text += std::to_string(percent) + "%";
    if (seconds > 0.05 && read > 0) {
      text += "  " + Grouped(static_cast<std::uint64_t>(static_cast<double>(lines()) / seconds)) + " 行/秒";
      const double left = static_cast<double>(total - read) * seconds / static_cast<double>(read);
      text += "  残り約 " + std::to_string(static_cast<long long>(left + 0.5)) + " 秒";
    }
    // Spaces, not a terminal's escape sequence, blank what the last line left.
    const std::size_t width = Columns(text);
    const std::size_t blank = width_ > width ? width_ - width : 0;
    platform::WriteError("\r" + text + std::string(blank, ' '));
    width_ = std::max(width_, width);
    shown_ = true;
    lastDrawn_ = now;
  }

  // Terminal columns of UTF-8 text: the Japanese characters take two.
  static std::size_t Columns(const std::string& text) {
    std::size_t columns = 0;
    for (const char c : text) {
      const auto byte = static_cast<unsigned char>(c);
      if (byte < 0x80) {
        ++columns;
      } else if (byte >= 0xC0) {
        columns += 2;
      }
    }
    return columns;
  }

  static std::string Grouped(std::uint64_t n) {
    std::string digits = std::to_string(n);
    for (std::size_t i = digits.size(); i > 3; i -= 3) digits.insert(i - 3, ",");
    return digits;
  }

  const bool draw_;
  const Clock::time_point start_ = Clock::now();
  BatchPhase phase_ = BatchPhase::Idle;
  Clock::time_point passStart_ = start_;
  Clock::time_point lastDrawn_{};
  bool shown_ = false;
  std::size_t width_ = 0;
};

// Messages on standard error, after the progress line has been cleared;
// --quiet leaves out all but the errors.
class StderrReporter : public Reporter {
 public:
  StderrReporter(bool quiet, InterruptProgress* progress) : quiet_(quiet), progress_(progress) {}
  void error(std::string_view message) override { Print(message); }
  void info(std::string_view message) override {
    if (!quiet_) Print(message);
  }

 private:
  void Print(std::string_view message) {
    if (progress_ != nullptr) progress_->Clear();
    platform::WriteError(message);
    platform::WriteError("\n");
  }
  const bool quiet_;
  InterruptProgress* const progress_;
};

// A whole number from 1 to 1024.
bool ParseThreads(const std::string& text, unsigned& threads) {
  if (text.empty() || text.size() > 4) return false;
  unsigned value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<unsigned>(c - '0');
  }
  if (value < 1 || value > 1024) return false;
  threads = value;
  return true;
}

int UsageError(const std::string& what) {
  platform::WriteError("velmora-batch: " + what + "\n");
  platform::WriteError("velmora-batch --help で使い方を表示します / see velmora-batch --help\n");
  return 2;
}

bool ParseEncoding(std::string text, OutputEncoding& encoding) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (text == "cp932") {
    encoding = OutputEncoding::Cp932;
  } else if (text == "utf-8" || text == "utf8") {
    encoding = OutputEncoding::Utf8;
  } else {
    return false;
  }
  return true;
}

// The map file's writer: GDAL's where it is built in, else our own GeoJSON.
std::unique_ptr<map::MapWriter> CreateMapWriter(map::MapFormat format) {
#ifdef VELMORA_HAVE_GDAL
  return map::CreateGdalWriter(format);
#else
  (void)format;
  return map::CreateGeoJsonWriter();
#endif
}

// The values of --map, --mesh-column and --map-level; 0 when fine (or
// another option), the usage error's status otherwise.
int CheckMapOption(std::string_view name, const std::string& value) {
  if (name == "--map") {
    if (value.empty()) return UsageError("地図ファイルの名前がありません / --map needs a file name");
    const std::optional<map::MapFormat> format = map::MapFormatOf(platform::PathFromUtf8(value));
#ifdef VELMORA_HAVE_GDAL
    if (!format) return UsageError(std::string(msg::kMapFormatUnknown) + " / --map takes .gpkg, .fgb or .geojson");
#else
    if (format != map::MapFormat::GeoJson)
      return UsageError(std::string(msg::kMapOnlyGeoJson) + " / --map takes .geojson here");
#endif
  } else if (name == "--map-level") {
    if (value != "1" && value != "2" && value != "3")
      return UsageError("--map-level は 1、2、3 のいずれかです / --map-level takes 1, 2 or 3: " + value);
  } else if (name == "--mesh-column") {
    std::size_t number = 0;
    const bool digits = !value.empty() && value.find_first_not_of("0123456789") == std::string::npos;
    if (value.empty() || (digits && !map::ParseFieldNumber(value, number)))
      return UsageError("--mesh-column は9以上の列番号か見出しです / --mesh-column takes a field number from 9 on or a title: " + value);
  }
  return 0;
}

// --explain: one data line through the row check and the model, as a run
// reads and computes it. 0 when computed, 1 when not (or a check failed).
int Explain(const std::string& row, const BatchCommand& command, bool json, Reporter& reporter) {
  GapTable table;
  CommonSettings settings;
  if (!LoadGapTable(command.gapTableFile, table, reporter)) return 1;
  if (!CheckCommonSettings(command.settingTexts, command.mode, settings, reporter)) return 1;
  std::error_code ec;
  std::filesystem::path tableFile = std::filesystem::absolute(command.gapTableFile, ec);
  if (ec) tableFile = command.gapTableFile;
  const Explanation explanation =
      ExplainRow(row, command.mode, command.settingTexts, settings, table, tableFile);
  // JSON is UTF-8 wherever it goes; the text follows the console's rules.
  if (json) {
    platform::WriteOutUtf8(ExplanationJson(explanation));
  } else {
    platform::WriteOut(ExplanationText(explanation));
  }
  if (explanation.computed()) return 0;
  reporter.error(ExplanationFailure(explanation));
  return 1;
}

}  // namespace

int velmora::cli::ToolMain(int argc, char** argv) {
  BatchCommand command;
  std::string texts[4];
  for (int k = 0; k < 4; ++k) texts[k] = kDefaultCommonSettingTexts[static_cast<std::size_t>(k)];
  std::vector<std::string> files;
  bool tableGiven = false;
  bool quiet = false;
  bool encodingGiven = false;
  std::string summaryFile;
  bool explain = false;
  std::string explainRow;
  bool json = false;
  bool formatGiven = false;

  struct ValueOption {
    std::string_view name;
    std::string* target;
  };
  std::string threadsText, tableText, encodingText, formatText;
  std::string mapText, meshColumnText, mapLevelText;
  std::string scenariosText, idColumnText, zeroDamageText, tailText;
  const ValueOption valueOptions[] = {{"--insurance-rate", &texts[0]},
                                      {"--damage-probability", &texts[1]},
                                      {"--interest-rate", &texts[2]},
                                      {"--markup-rate", &texts[3]},
                                      {"--gap-table", &tableText},
                                      {"--threads", &threadsText},
                                      {"--summary", &summaryFile},
                                      {"--output-encoding", &encodingText},
                                      {"--explain", &explainRow},
                                      {"--format", &formatText},
                                      {"--map", &mapText},
                                      {"--mesh-column", &meshColumnText},
                                      {"--map-level", &mapLevelText},
                                      {"--scenarios", &scenariosText},
                                      {"--id-column", &idColumnText},
                                      {"--zero-damage-return-period", &zeroDamageText},
                                      {"--ead-tail", &tailText}};
  bool optionsEnded = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (optionsEnded || arg.empty() || arg[0] != '-' || arg == "-") {
      files.emplace_back(arg);
      continue;
    }
    if (arg == "--") {
      optionsEnded = true;
      continue;
    }
    if (arg == "-h" || arg == "--help") {
      platform::WriteOut(Usage());
      return 0;
    }
    if (arg == "--version") {
      platform::WriteOut(std::string("velmora-batch ") + kVersion + "\n");
      return 0;
    }
    if (arg == "--without-risk-premium") {
      command.mode = Mode::WithoutRiskPremium;
      continue;
    }
    if (arg == "--keep-columns") {
      command.options.keepColumns = true;
      continue;
    }
    if (arg == "--quiet") {
      quiet = true;
      continue;
    }
    // "--name value" or "--name=value"
    const std::size_t equals = arg.find('=');
    const std::string_view name = arg.substr(0, equals);
    std::string* target = nullptr;
    for (const auto& option : valueOptions) {
      if (name == option.name) target = option.target;
    }
    if (target == nullptr) return UsageError("不明なオプション / unknown option: " + std::string(arg));
    if (equals != std::string_view::npos) {
      *target = std::string(arg.substr(equals + 1));
    } else if (i + 1 < argc) {
      *target = argv[++i];
    } else {
      return UsageError("値がありません / missing value for " + std::string(name));
    }
    if (name == "--threads") {
      if (!ParseThreads(threadsText, command.options.threads)) {
        return UsageError("スレッド数は1から1024の整数です / --threads takes a whole number from 1 to 1024: " +
                          threadsText);
      }
    } else if (name == "--gap-table") {
      command.gapTableFile = platform::PathFromUtf8(tableText);
      tableGiven = true;
    } else if (name == "--output-encoding") {
      if (!ParseEncoding(encodingText, command.options.encoding)) {
        return UsageError("文字コードは cp932 か utf-8 です / --output-encoding takes cp932 or utf-8: " +
                          encodingText);
      }
      encodingGiven = true;
    } else if (name == "--format") {
      if (formatText != "text" && formatText != "json") {
        return UsageError("形式は text か json です / --format takes text or json: " + formatText);
      }
      json = formatText == "json";
      formatGiven = true;
    } else if (name == "--explain") {
      explain = true;
    } else if (name == "--summary" && summaryFile.empty()) {
      return UsageError("集計ファイルの名前がありません / --summary needs a file name");
    } else if (const int code = CheckMapOption(name, *target); code != 0) {
      return code;
    }
  }
  if (mapText.empty() && (!meshColumnText.empty() || !mapLevelText.empty()))
    return UsageError("--mesh-column と --map-level は --map とだけ使えます / they go with --map");
  if (explain && !mapText.empty()) return UsageError("--explain と --map は同時に使えません / --explain does not take --map");
  // Flood scenarios: the manifest, the output and the integration's options.
  const bool scenarios = !scenariosText.empty();
  const bool scenarioOptions = !idColumnText.empty() || !zeroDamageText.empty() || !tailText.empty();
  ScenarioCommand scenarioCommand;
  if (scenarios || scenarioOptions) {
    if (!scenarios) {
      return UsageError(
          "--id-column・--zero-damage-return-period・--ead-tail は --scenarios とだけ使えます / "
          "--id-column, --zero-damage-return-period and --ead-tail go with --scenarios");
    }
    if (explain || command.options.keepColumns || !meshColumnText.empty()) {
      return UsageError("--scenarios と --explain・--keep-columns・--mesh-column は同時に使えません / "
                        "--scenarios does not take --explain, --keep-columns or --mesh-column");
    }
    if (!mapText.empty() && idColumnText.empty()) {
      return UsageError("--scenarios の --map には、メッシュコードの列を --id-column で指定してください / "
                        "--scenarios with --map needs --id-column naming the mesh code's field");
    }
    if (files.size() != 1) {
      return UsageError("--scenarios には出力ファイルを1つ指定してください / --scenarios MANIFEST.csv OUTPUT.csv");
    }
    if (!zeroDamageText.empty() &&
        (!TextToNumber(zeroDamageText, scenarioCommand.rule.zeroDamageReturnPeriod) ||
         !(scenarioCommand.rule.zeroDamageReturnPeriod > 1.0))) {
      return UsageError("被害の出ない再現期間は1より大きい数です / --zero-damage-return-period takes a number above 1: " +
                        zeroDamageText);
    }
    if (!tailText.empty() && tailText != "none" && tailText != "flat") {
      return UsageError("--ead-tail は none か flat です / --ead-tail takes none or flat: " + tailText);
    }
    scenarioCommand.rule.tail = tailText == "flat" ? EadTail::Flat : EadTail::None;
    scenarioCommand.ruleGiven = !zeroDamageText.empty() || !tailText.empty();
    scenarioCommand.idColumn = idColumnText;
    scenarioCommand.manifest = platform::PathFromUtf8(scenariosText);
    scenarioCommand.output = platform::PathFromUtf8(files[0]);
    files.push_back(files[0]);  // the batch's two files, for the checks below
  }
  if (explain) {
    if (!files.empty()) return UsageError("--explain にファイルは指定できません / --explain takes no files");
    if (!summaryFile.empty() || command.options.keepColumns || encodingGiven) {
      return UsageError(
          "--explain と --summary・--keep-columns・--output-encoding は同時に使えません / "
          "--explain does not take --summary, --keep-columns or --output-encoding");
    }
  } else {
    if (formatGiven) return UsageError("--format は --explain とだけ使えます / --format goes with --explain");
    if (files.size() != 2) {
      return UsageError("入力ファイルと出力ファイルを指定してください / give INPUT.csv and OUTPUT.csv");
    }
    command.input = platform::PathFromUtf8(files[0]);
    command.output = platform::PathFromUtf8(files[1]);
  }
  for (int k = 0; k < 4; ++k) command.settingTexts[static_cast<std::size_t>(k)] = texts[k];

  // Set before anything is created, so that no signal can leave a temporary file.
  platform::CatchInterrupts(interrupted);

  InterruptProgress progress(!quiet && !explain && platform::StandardErrorIsTerminal());
  StderrReporter reporter(quiet, &progress);
  if (!tableGiven && !LocateGapTable(platform::ProgramFolder(), UserSettingsFolder(), command.gapTableFile, reporter)) return 1;
  if (explain) return Explain(explainRow, command, json, reporter);
  if (scenarios) {
    scenarioCommand.mode = command.mode;
    for (std::size_t k = 0; k < 4; ++k) scenarioCommand.settingTexts[k] = texts[k];
    scenarioCommand.gapTableFile = command.gapTableFile;
    scenarioCommand.threads = command.options.threads;
    scenarioCommand.encoding = command.options.encoding;
    scenarioCommand.summaryFile = platform::PathFromUtf8(summaryFile);
    // The households on the map, written after the output.
    std::unique_ptr<map::MapWriter> mapWriter;
    std::unique_ptr<map::ScenarioMap> scenarioMap;
    if (!mapText.empty()) {
      scenarioCommand.mapFile = platform::PathFromUtf8(mapText);
      mapWriter = CreateMapWriter(*map::MapFormatOf(scenarioCommand.mapFile));
      std::optional<MeshOrder> level;
      if (!mapLevelText.empty()) level = static_cast<MeshOrder>(mapLevelText[0] - '0');
      scenarioMap = std::make_unique<map::ScenarioMap>(scenarioCommand.mapFile, level, *mapWriter);
      scenarioCommand.map = scenarioMap.get();
    }
    ScenarioSummary done;
    const BatchOutcome outcome = RunScenarioCommand(scenarioCommand, reporter, &progress, nullptr, &done);
    progress.Clear();
    if (outcome == BatchOutcome::Completed) {
      reporter.info(ScenarioSummaryLine(done));
      return 0;
    }
    const int signal = interrupted.load(std::memory_order_relaxed);
    return signal != 0 ? 128 + signal : 1;
  }
  // No file the run writes may take the place of another file of the run,
  // however it is spelt; checked before anything is computed. A new output
  // adds its path (and its name for the message) to the list.
  const std::filesystem::path summaryPath = platform::PathFromUtf8(summaryFile);
  std::vector<batch::RunFile> runFiles = {
      {command.input, false}, {command.gapTableFile, false}, {command.output, true}};
  std::vector<std::string> runFileNames = {"入力ファイル", "ギャップ分布表", "出力ファイル"};
  if (!summaryFile.empty()) {
    runFiles.push_back({summaryPath, true});
    runFileNames.push_back("集計ファイル");
  }
  const std::filesystem::path mapPath = platform::PathFromUtf8(mapText);
  if (!mapText.empty()) {
    runFiles.push_back({mapPath, true});
    runFileNames.push_back("地図ファイル");
  }
  if (const auto shared = batch::FindSharedFile(runFiles)) {
    if (!mapText.empty() && shared->second == runFiles.size() - 1) {
      return UsageError(
          "地図ファイルには入力・出力・集計ファイルやギャップ分布表と別のファイルを指定してください / "
          "--map must name a file other than the input, the output, the summary and the gap table");
    }
    if (!summaryFile.empty() && shared->second == 3) {
      return UsageError(
          "集計ファイルには入力・出力ファイルやギャップ分布表と別のファイルを指定してください / "
          "--summary must name a file other than the input, the output and the gap table");
    }
    // "入力ファイルと出力ファイルが同じです", as the window says it.
    reporter.error(runFileNames[shared->first] + "と" + runFileNames[shared->second] + "が同じです");
    return 1;
  }
  // The map: its file apart from the run's others, its mesh column found
  // before anything is written, its features gathered from the result lines.
  std::unique_ptr<map::MapWriter> mapWriter;
  std::unique_ptr<map::MapBuilder> mapBuilder;
  if (!mapText.empty()) {
    map::MapPlan plan;
    if (!map::PlanMap(command.input, meshColumnText, plan, reporter)) return 1;
    mapWriter = CreateMapWriter(*map::MapFormatOf(mapPath));
    std::optional<MeshOrder> level;
    if (!mapLevelText.empty()) level = static_cast<MeshOrder>(mapLevelText[0] - '0');
    mapBuilder = std::make_unique<map::MapBuilder>(std::move(plan), command.options.keepColumns, level, *mapWriter);
    if (!mapBuilder->Start(mapPath, command.input)) {
      reporter.error(msg::kMapUnwritable);
      return 1;
    }
    command.options.resultBlocks = [&](std::uint64_t first, std::string_view block) {
      mapBuilder->AddBlock(first, block);
    };
  }
  CommonSettings settings;
  GapTable table;
  BatchSummary summary;
  // A GeoPackage carries the run's summary as its metadata (the digests cost
  // a pass over both files, so only then).
  const bool mapSummary = mapBuilder != nullptr && map::MapFormatOf(mapPath) == map::MapFormat::GeoPackage;
  const bool wantSummary = !summaryFile.empty() || mapSummary;
  const BatchOutcome outcome =
      RunBatchCommand(command, settings, table, reporter, &progress, wantSummary ? &summary : nullptr);
  progress.Clear();
  if (outcome == BatchOutcome::Completed && mapBuilder != nullptr) {
    // After the result (and before the summary file, which names no map).
    if (!mapBuilder->Finish(mapSummary ? BatchSummaryJson(summary) : std::string(), reporter)) return 1;
  }
  mapBuilder.reset();
  // Completed means the result has taken the output's place: a signal after
  // that point changes nothing. Any other end after a signal is an interrupt.
  if (outcome == BatchOutcome::Completed) {
    // The summary follows the result; the result stays whatever becomes of it.
    if (summaryFile.empty()) return 0;
    if (!WriteBatchSummary(summaryPath, summary, reporter)) return 1;
    reporter.info(BatchSummaryLine(summary));
    return 0;
  }
  const int signal = interrupted.load(std::memory_order_relaxed);
  if (signal == 0) return 1;
  reporter.error(kInterrupted);
  return 128 + signal;
}
