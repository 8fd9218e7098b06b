#include "form/layout.h"

#include <array>

namespace velmora::form {
namespace {

using enum Kind;

constexpr Control kControls[] = {
    {"Frame1", Frame, "client", "全メッシュ共通の項目", 120, 120, 4695, 3135, 0},
    {"chkRP", Check, "Frame1", "リスクプレミアムを考慮する(&T)", 240, 360, 3375, 255, 1},
    {"Label1", RightLabel, "Frame1", "保険加入率：", 120, 765, 1575, 255, 25},
    {"txtC1", Numeric, "Frame1", "0.610", 1680, 720, 1575, 270, 2},
    {"Label9", Label, "Frame1", "（倍）", 3360, 765, 375, 255, 21},
    {"Label2", RightLabel, "Frame1", "被害の発生確率：", 120, 1125, 1575, 255, 24},
    {"txtC2", Numeric, "Frame1", "0.025", 1680, 1080, 1575, 270, 3},
    {"Label10", Label, "Frame1", "（倍）", 3360, 1125, 375, 255, 20},
    {"Label3", RightLabel, "Frame1", "利子率：", 120, 1485, 1575, 255, 23},
    {"txtC3", Numeric, "Frame1", "0.040", 1680, 1440, 1575, 270, 4},
    {"Label11", Label, "Frame1", "（倍）", 3360, 1485, 375, 255, 19},
    {"Label4", RightLabel, "Frame1", "マークアップ率：", 120, 1845, 1575, 255, 22},
    {"txtC4", Numeric, "Frame1", "3.140", 1680, 1800, 1575, 270, 5},
    {"Label12", Label, "Frame1", "（倍）", 3360, 1845, 375, 255, 18},
    {"Frame4", Frame, "client", "CSVファイルから一括計算", 120, 3360, 4695, 2175, 43},
    {"Label33", Label, "Frame4", "入力ファイル", 360, 360, 1695, 255, 47},
    {"txtInFile", File, "Frame4", "", 240, 600, 3735, 270, 45},
    {"cmdSelInFile", Button, "Frame4", "選択", 3960, 600, 615, 255, 6},
    {"Label34", Label, "Frame4", "出力ファイル", 360, 960, 1695, 255, 46},
    {"txtOutFile", File, "Frame4", "", 240, 1200, 3735, 270, 44},
    {"cmdSelOutFile", Button, "Frame4", "選択", 3960, 1200, 615, 255, 7},
    {"cmdExecAll", Button, "Frame4", "一括計算(&E)", 3120, 1680, 1455, 375, 8},
    // While a batch runs, left of its button: the share done and the time
    // left over the bar, and 中止 beside 一括計算 (as in the Qt window, whose
    // bar shows the text itself).
    {"lblProgress", Label, "Frame4", "", 240, 1485, 1980, 255, -1},
    {"prgBatch", Progress, "Frame4", "", 240, 1740, 1980, 255, -1},
    {"cmdCancelAll", Button, "Frame4", "中止(&C)", 2280, 1680, 780, 375, -1},
    {"Frame2", Frame, "client", "入力値から個別計算（世帯当たり）", 5040, 120, 4935, 5415, 26},
    {"Label6", RightLabel, "Frame2", "家屋被害：", 360, 405, 1575, 255, 42},
    {"txtU2", Numeric, "Frame2", "9.725", 1920, 360, 1575, 270, 9},
    {"Label14", Label, "Frame2", "（百万円）", 3600, 405, 855, 255, 39},
    {"Label7", RightLabel, "Frame2", "家財被害：", 360, 765, 1575, 255, 41},
    {"txtU3", Numeric, "Frame2", "7.380", 1920, 720, 1575, 270, 10},
    {"Label15", Label, "Frame2", "（百万円）", 3600, 765, 855, 255, 38},
    {"Label8", RightLabel, "Frame2", "世帯金融資産残高：", 360, 1125, 1575, 255, 40},
    {"txtU4", Numeric, "Frame2", "4.810", 1920, 1080, 1575, 270, 11},
    {"Label16", Label, "Frame2", "（百万円）", 3600, 1125, 855, 255, 37},
    {"Label32", RightLabel, "Frame2", "世帯年収：", 360, 1485, 1575, 255, 27},
    {"txtU5", Numeric, "Frame2", "3.570", 1920, 1440, 1575, 270, 12},
    {"Label31", Label, "Frame2", "（百万円）", 3600, 1485, 855, 255, 28},
    {"Label17", RightLabel, "Frame2", "土地資産額：", 360, 1845, 1575, 255, 36},
    {"txtU6", Numeric, "Frame2", "7.416", 1920, 1800, 1575, 270, 13},
    {"Label18", Label, "Frame2", "（百万円）", 3600, 1845, 855, 255, 35},
    {"Label19", RightLabel, "Frame2", "家庭用品額：", 360, 2205, 1575, 255, 34},
    {"txtU7", Numeric, "Frame2", "14.759", 1920, 2160, 1575, 270, 14},
    {"Label20", Label, "Frame2", "（百万円）", 3600, 2205, 855, 255, 33},
    {"Label21", RightLabel, "Frame2", "家屋価格：", 360, 2565, 1575, 255, 32},
    {"txtU8", Numeric, "Frame2", "22.616", 1920, 2520, 1575, 270, 15},
    {"Label22", Label, "Frame2", "（百万円）", 3600, 2565, 855, 255, 31},
    {"Label23", RightLabel, "Frame2", "物質資産への投資を除く消費額：", 300, 2880, 1575, 375, 30},
    {"txtU9", Numeric, "Frame2", "3.321", 1920, 2880, 1575, 270, 16},
    {"Label24", Label, "Frame2", "（百万円）", 3600, 2925, 855, 255, 29},
    {"Line1", Line, "Frame2", "", 240, 3360, 4440, 0, -1},
    {"Label25", RightLabel, "Frame2", "家計の選好特性：", 360, 3525, 1575, 255, 56},
    {"txtA1", Result, "Frame2", "", 1920, 3480, 1575, 270, 50},
    {"Label26", Label, "Frame2", "（倍）", 3600, 3525, 855, 255, 55},
    {"Label35", RightLabel, "Frame2", "住民の治水投資に対する支払い意思額：", 120, 3780, 1755, 375, 58},
    {"txtA2", Result, "Frame2", "", 1920, 3840, 1575, 270, 57},
    {"Label36", Label, "Frame2", "（百万円）", 3600, 3900, 1215, 255, 59},
    {"Label27", RightLabel, "Frame2", "保険の最適カバー率：", 120, 4245, 1815, 255, 54},
    {"txtA3", Result, "Frame2", "", 1920, 4200, 1575, 270, 49},
    {"Label28", Label, "Frame2", "（倍）", 3600, 4245, 855, 255, 53},
    {"Label29", RightLabel, "Frame2", "流動性制約に伴う復旧遅延被害額：", 300, 4545, 1575, 375, 52},
    {"txtA4", Result, "Frame2", "", 1920, 4560, 1575, 270, 48},
    {"Label30", Label, "Frame2", "（百万円）", 3600, 4605, 1215, 255, 51},
    {"cmdExec", Button, "Frame2", "個別計算(&A)", 3360, 4920, 1455, 375, 17},
};

constexpr std::string_view kFocusOrder[] = {
    "chkRP", "txtC1", "txtC2",   "txtC3",      "txtC4",     "cmdSelInFile", "cmdSelOutFile", "cmdExecAll",
    "txtU2", "txtU3", "txtU4",   "txtU5",      "txtU6",     "txtU7",        "txtU8",         "txtU9",
    "cmdExec", "txtOutFile", "txtInFile", "txtA4", "txtA3", "txtA1",        "txtA2"};

constexpr MenuItem kMenus[] = {
    {"menuFile", "ファイル(&F)", ""},
    {"menuExit", "終了(&X)", "menuFile"},
    {"menuSetting", "設定(&T)", ""},
    {"menInitValue", "モデル設定値の読み込み(&I)", "menuSetting"},
    {"menKeepColumns", "9列目以降を結果に残す(&K)", "menuSetting", true},
    {"menuView", "表示(&V)", ""},
    {"menExplain", "計算過程(&K)", "menuView"},
    {"menGapTable", "ギャップ分布表(&G)", "menuView"},
    {"menBatchSummary", "一括計算の集計(&S)", "menuView"},
};

}  // namespace

std::span<const Control> Controls() { return kControls; }

const Control* FindControl(std::string_view name) {
  for (const Control& c : kControls) {
    if (c.name == name) return &c;
  }
  return nullptr;
}

const Control* ItemLabel(std::string_view box) {
  for (std::size_t i = 1; i < std::size(kControls); ++i) {
    if (kControls[i].name != box) continue;
    const Control& before = kControls[i - 1];
    return before.kind == Kind::Label || before.kind == Kind::RightLabel ? &before : nullptr;
  }
  return nullptr;
}

std::string_view AccessibleName(const Control& itemLabel) {
  std::string_view name = itemLabel.caption;
  constexpr std::string_view kColon = "：";
  if (name.ends_with(kColon)) name.remove_suffix(kColon.size());
  return name;
}

std::span<const std::string_view> FocusOrder() { return kFocusOrder; }

std::span<const MenuItem> Menus() { return kMenus; }

}  // namespace velmora::form
