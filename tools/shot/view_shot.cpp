// Shows one view as the user sees it after a calculation, for a screenshot:
//
//   velmora-view-shot gap-table TABLE
//       the table, with the point the default household (the window's
//       defaults, with the risk premium) reads marked
//   velmora-view-shot batch-summary TABLE INPUT OUTPUT
//       the summary of a batch of INPUT into OUTPUT at the default settings
//   velmora-view-shot map TABLE INPUT OUTPUT
//       the map of that batch (INPUT with a mesh column)
//   velmora-view-shot risk-curve TABLE MANIFEST OUTPUT ID-COLUMN [T0]
//       the risk curve of the scenarios of MANIFEST at the default settings
//       (a flat tail; the front segment from T0 when given)
//
// Runs until its window is closed (or the program is ended).
#include <QApplication>
#include <cstdio>
#include <cstring>
#include <string>

#include "batch/batch.h"
#include "batch/explain_row.h"
#include "platform/sha256.h"
#include "ui/batch_summary_dialog.h"
#include "ui/gap_table_dialog.h"
#include "ui/file_dialogs.h"
#include "ui/japanese_font.h"
#include "ui/map_cells.h"
#include "ui/map_view.h"
#include "ui/qt_translations.h"
#include "ui/risk_curve_view.h"

namespace {

class PrintingReporter : public velmora::Reporter {
 public:
  void error(std::string_view message) override { std::fprintf(stderr, "%.*s\n", int(message.size()), message.data()); }
  void info(std::string_view) override {}
};

int Usage() {
  std::fprintf(stderr,
               "usage: velmora-view-shot gap-table TABLE | batch-summary|map TABLE INPUT OUTPUT |\n"
               "       risk-curve TABLE MANIFEST OUTPUT ID-COLUMN [T0]\n");
  return 2;
}

}  // namespace

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  QApplication::setFont(velmora::JapaneseFont());
  velmora::InstallQtJapanese();
  const QStringList args = QApplication::arguments();
  PrintingReporter reporter;
  velmora::GapTable table;
  velmora::CommonSettings settings;
  if (args.size() == 3 && args[1] == QLatin1String("gap-table")) {
    const std::filesystem::path file = std::filesystem::absolute(args[2].toStdString());
    if (!velmora::LoadGapTable(file, table, reporter)) return 1;
    const velmora::CommonSettingTexts texts = velmora::kDefaultCommonSettingTexts;
    if (!velmora::CheckCommonSettings(texts, velmora::Mode::WithRiskPremium, settings, reporter)) return 1;
    const velmora::Explanation e = velmora::ExplainRow("9.725,7.380,4.810,3.570,7.416,14.759,22.616,3.321",
                                                       velmora::Mode::WithRiskPremium, texts, settings, table, file);
    std::optional<int> key;
    for (const velmora::NamedQuantity& q : e.quantities) {
      if (q.kind == velmora::QuantityKind::Key) key = static_cast<int>(q.value);
    }
    velmora::GapTableDialog dialog;
    dialog.showTable(table, file, velmora::Sha256OfFile(file).value_or(""), key);
    dialog.show();
    return QApplication::exec();
  }
  if (args.size() == 5 && args[1] == QLatin1String("map")) {
    velmora::BatchCommand command;
    command.gapTableFile = args[2].toStdString();
    command.input = args[3].toStdString();
    command.output = args[4].toStdString();
    command.settingTexts = velmora::kDefaultCommonSettingTexts;
    const std::unique_ptr<velmora::MapGatherer> map = velmora::GatherMap(command);
    if (map == nullptr) {
      std::fprintf(stderr, "no mesh column in the input\n");
      return 1;
    }
    velmora::BatchSummary summary;
    if (velmora::RunBatchCommand(command, settings, table, reporter, nullptr, &summary) !=
        velmora::BatchOutcome::Completed) {
      return 1;
    }
    velmora::QtFileDialogs dialogs;
    velmora::MapView view(reporter, dialogs);
    view.showCells(map->finish(command, settings, table, summary));
    view.show();
    return QApplication::exec();
  }
  if (args.size() == 5 && args[1] == QLatin1String("batch-summary")) {
    velmora::BatchCommand command;
    command.gapTableFile = args[2].toStdString();
    command.input = args[3].toStdString();
    command.output = args[4].toStdString();
    command.settingTexts = velmora::kDefaultCommonSettingTexts;
    command.options.keepDelayDamages = true;
    velmora::BatchSummary summary;
    if (velmora::RunBatchCommand(command, settings, table, reporter, nullptr, &summary) !=
        velmora::BatchOutcome::Completed) {
      return 1;
    }
    velmora::BatchSummaryDialog dialog;
    dialog.showSummary(summary);
    dialog.show();
    return QApplication::exec();
  }
  if ((args.size() == 6 || args.size() == 7) && args[1] == QLatin1String("risk-curve")) {
    velmora::ScenarioCommand command;
    command.gapTableFile = args[2].toStdString();
    command.manifest = args[3].toStdString();
    command.output = args[4].toStdString();
    command.idColumn = args[5].toStdString();
    for (std::size_t k = 0; k < 4; ++k) command.settingTexts[k] = velmora::kDefaultCommonSettingTexts[k];
    command.rule.tail = velmora::EadTail::Flat;
    if (args.size() == 7) command.rule.zeroDamageReturnPeriod = args[6].toDouble();
    command.ruleGiven = true;
    velmora::ScenarioSummary summary;
    if (velmora::RunScenarioCommand(command, reporter, nullptr, nullptr, &summary) !=
        velmora::BatchOutcome::Completed) {
      return 1;
    }
    velmora::RiskCurveView view;
    view.showSummary(summary);
    view.show();
    return QApplication::exec();
  }
  return Usage();
}
