// velmora-batch: the batch calculation from the command line, through the same
// chain and engine as the window's batch command.
#include <atomic>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "batch/batch.h"
#include "batch/gap_table_search.h"
#include "batch/platform.h"
#include "cli/platform.h"
#include "core/version.h"

namespace {

using namespace velmora;

constexpr const char* kUsage =
    "使い方: velmora-batch [オプション] 入力.csv 出力.csv\n"
    "Usage:  velmora-batch [options] INPUT.csv OUTPUT.csv\n"
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
    "                          (既定: 実行ファイルと同じフォルダ、" VELMORA_USER_TABLE_FOLDER "、\n"
    "                           ../share/velmora/ の順に EGapDis.txt を探します\n"
    "                           default: EGapDis.txt beside this program, in " VELMORA_USER_TABLE_FOLDER ",\n"
    "                           then in ../share/velmora/ from this program's folder)\n"
    "  --threads N             計算に使うスレッド数（既定: CPUのコア数）。結果は同じです\n"
    "                          threads to compute on (default: one per core);\n"
    "                          the result is the same for every count\n"
    "  -h, --help              この説明 / this help\n"
    "  --version               版数 / version\n"
    "\n"
    "数値の小数点は常に「.」です。 Numbers always use \".\" as the decimal point.\n"
    "メッセージは標準エラー出力に出ます。 Messages go to standard error.\n"
    "終了コード / exit status: 0 成功 success, 1 失敗 failure, 2 引数の誤り usage error,\n"
    "  128+シグナル番号 中断 / 128 + signal number when interrupted (Ctrl+C: 130, SIGTERM: 143,\n"
    "  SIGHUP: 129).\n"
    "失敗・中断のときは以前の出力ファイルがそのまま残ります。\n"
    "On failure or interruption any earlier output file is left as it was.\n";

class StderrReporter : public Reporter {
 public:
  void error(std::string_view message) override { Print(message); }
  void info(std::string_view message) override { Print(message); }

 private:
  static void Print(std::string_view message) {
    cli::WriteError(message);
    cli::WriteError("\n");
  }
};

// The number of the signal that interrupted the run (cli/platform.h). Any
// thread may take the signal; the engine asks on the main thread.
std::atomic<int> interrupted{0};

// Ctrl+C, SIGTERM or SIGHUP stop the check or the run within a block of
// lines, and even after the last line until the result has taken the
// output's place; the earlier output stays.
class InterruptProgress : public BatchProgress {
 public:
  bool lineDone(std::uint64_t, std::uint64_t, std::uint64_t) override {
    return interrupted.load(std::memory_order_relaxed) == 0;
  }
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
  cli::WriteError("velmora-batch: " + what + "\n");
  cli::WriteError("velmora-batch --help で使い方を表示します / see velmora-batch --help\n");
  return 2;
}

}  // namespace

int velmora::cli::ToolMain(int argc, char** argv) {
  BatchCommand command;
  std::string texts[4];
  for (int k = 0; k < 4; ++k) texts[k] = kDefaultCommonSettingTexts[static_cast<std::size_t>(k)];
  std::vector<std::string> files;
  bool tableGiven = false;

  struct ValueOption {
    std::string_view name;
    std::string* target;
  };
  const ValueOption valueOptions[] = {{"--insurance-rate", &texts[0]},
                                      {"--damage-probability", &texts[1]},
                                      {"--interest-rate", &texts[2]},
                                      {"--markup-rate", &texts[3]}};
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
      cli::WriteOut(kUsage);
      return 0;
    }
    if (arg == "--version") {
      cli::WriteOut(std::string("velmora-batch ") + kVersion + "\n");
      return 0;
    }
    if (arg == "--without-risk-premium") {
      command.mode = Mode::WithoutRiskPremium;
      continue;
    }
    // "--name value" or "--name=value"
    const std::size_t equals = arg.find('=');
    const std::string_view name = arg.substr(0, equals);
    std::string value;
    bool known = false;
    std::string* target = nullptr;
    for (const auto& option : valueOptions) {
      if (name == option.name) target = option.target;
    }
    if (target != nullptr || name == "--gap-table" || name == "--threads") known = true;
    if (!known) return UsageError("不明なオプション / unknown option: " + std::string(arg));
    if (equals != std::string_view::npos) {
      value = std::string(arg.substr(equals + 1));
    } else if (i + 1 < argc) {
      value = argv[++i];
    } else {
      return UsageError("値がありません / missing value for " + std::string(name));
    }
    if (target != nullptr) {
      *target = value;
    } else if (name == "--threads") {
      if (!ParseThreads(value, command.options.threads)) {
        return UsageError("スレッド数は1から1024の整数です / --threads takes a whole number from 1 to 1024: " + value);
      }
    } else {
      command.gapTableFile = platform::PathFromUtf8(value);
      tableGiven = true;
    }
  }
  if (files.size() != 2) return UsageError("入力ファイルと出力ファイルを指定してください / give INPUT.csv and OUTPUT.csv");
  command.input = platform::PathFromUtf8(files[0]);
  command.output = platform::PathFromUtf8(files[1]);
  for (int k = 0; k < 4; ++k) command.settingTexts[static_cast<std::size_t>(k)] = texts[k];

  // Set before anything is created, so that no signal can leave a temporary file.
  cli::CatchInterrupts(interrupted);

  StderrReporter reporter;
  if (!tableGiven && !LocateGapTable(platform::ProgramFolder(), UserSettingsFolder(), command.gapTableFile, reporter)) return 1;
  InterruptProgress progress;
  CommonSettings settings;
  GapTable table;
  const BatchOutcome outcome = RunBatchCommand(command, settings, table, reporter, &progress);
  // Completed means the result has taken the output's place: a signal after
  // that point changes nothing. Any other end after a signal is an interrupt.
  if (outcome == BatchOutcome::Completed) return 0;
  const int signal = interrupted.load(std::memory_order_relaxed);
  return signal != 0 ? 128 + signal : 1;
}
