// The form both windows share, driven through stand-ins for the window, its
// file dialogs, its settings store and its message boxes.
#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <map>
#include <mutex>
#include <set>
#include <tuple>

#include "batch/messages.h"
#include "platform/sha256.h"
#include "core/messages.h"
#include "form/form.h"
#include "form/layout.h"
#include "test_support.h"

using namespace velmora;
using namespace velmora::form;
using velmora::test::RecordingReporter;
using velmora::test::TempDir;

namespace {

class FakeView : public FormView {
 public:
  std::string text(std::string_view box) const override { return texts.at(std::string(box)); }
  void setText(std::string_view box, std::string_view t) override { texts[std::string(box)] = std::string(t); }
  void setEnabled(std::string_view c, bool e) override { enabled[std::string(c)] = e; }
  bool isChecked(std::string_view c) const override { return checked.count(std::string(c)) && checked.at(std::string(c)); }
  void setChecked(std::string_view c, bool v) override { checked[std::string(c)] = v; }
  void focusBox(std::string_view box) override { focused = box; }
  std::string decimalSeparator() const override { return separator; }
  void showBatchRunning(bool running) override { busy = running; }
  void showBatchShare(const BatchShare& share) override { shares.push_back(share.fraction); }
  void postBatchEnded() override {
    const std::lock_guard lock(mutex);
    ended = true;
    cv.notify_all();
  }
  void waitForBatch() {
    std::unique_lock lock(mutex);
    cv.wait(lock, [this] { return ended; });
    ended = false;
  }
  bool isEnabled(const std::string& c) const { return !enabled.count(c) || enabled.at(c); }

  std::map<std::string, std::string> texts;
  std::map<std::string, bool> enabled, checked;
  std::string focused;
  std::string separator = ".";
  bool busy = false;
  std::vector<double> shares;
  std::mutex mutex;
  std::condition_variable cv;
  bool ended = false;
};

class MemoryStore : public SettingsStore {
 public:
  std::optional<std::string> get(std::string_view section, std::string_view key) override {
    const auto s = data.find(std::string(section));
    if (s == data.end()) return std::nullopt;
    const auto k = s->second.find(std::string(key));
    if (k == s->second.end()) return std::nullopt;
    return k->second;
  }
  void save(std::string_view section, const std::vector<std::pair<std::string, std::string>>& values) override {
    ++saves;
    for (const auto& [k, v] : values) data[std::string(section)][k] = v;
  }
  void deleteAll() override { data.clear(); }
  std::map<std::string, std::map<std::string, std::string>> data;
  int saves = 0;
};

class ScriptedDialogs : public FileDialogs {
 public:
  std::optional<std::filesystem::path> choose(const FileRequest& r) override {
    requests.push_back(r);
    if (answers.empty()) return std::nullopt;
    auto a = answers.front();
    answers.erase(answers.begin());
    return a;
  }
  std::vector<FileRequest> requests;
  std::vector<std::optional<std::filesystem::path>> answers;
};

struct Window {
  TempDir folder;
  FakeView view;
  RecordingReporter reporter;
  ScriptedDialogs dialogs;
  MemoryStore store;
  Form form{view, reporter, dialogs, store, folder.path(), {}};
  Window() {
    std::filesystem::copy_file(VELMORA_EXAMPLE_GAP_TABLE, folder.path() / "EGapDis.txt");
    form.load();
  }
  std::vector<std::string> results() const {
    return {view.texts.at("txtA1"), view.texts.at("txtA2"), view.texts.at("txtA3"), view.texts.at("txtA4")};
  }
};

using Strings = std::vector<std::string>;

}  // namespace

// The layout both windows draw: every frame, label, box, button and the
// check box in creation order, with its parent, caption or initial text and
// its place in twips.
TEST(FormLayout, EveryControlAtItsPlaceWithItsCaption) {
  using enum Kind;
  struct Row {
    std::string_view name;
    Kind kind;
    std::string_view parent, caption;
    int left, top, width, height;
  };
  const Row expected[] = {
      {"Frame1", Frame, "client", "全メッシュ共通の項目", 120, 120, 4695, 3135},
      {"chkRP", Check, "Frame1", "リスクプレミアムを考慮する(&T)", 240, 360, 3375, 255},
      {"Label1", RightLabel, "Frame1", "保険加入率：", 120, 765, 1575, 255},
      {"txtC1", Numeric, "Frame1", "0.610", 1680, 720, 1575, 270},
      {"Label9", Label, "Frame1", "（倍）", 3360, 765, 375, 255},
      {"Label2", RightLabel, "Frame1", "被害の発生確率：", 120, 1125, 1575, 255},
      {"txtC2", Numeric, "Frame1", "0.025", 1680, 1080, 1575, 270},
      {"Label10", Label, "Frame1", "（倍）", 3360, 1125, 375, 255},
      {"Label3", RightLabel, "Frame1", "利子率：", 120, 1485, 1575, 255},
      {"txtC3", Numeric, "Frame1", "0.040", 1680, 1440, 1575, 270},
      {"Label11", Label, "Frame1", "（倍）", 3360, 1485, 375, 255},
      {"Label4", RightLabel, "Frame1", "マークアップ率：", 120, 1845, 1575, 255},
      {"txtC4", Numeric, "Frame1", "3.140", 1680, 1800, 1575, 270},
      {"Label12", Label, "Frame1", "（倍）", 3360, 1845, 375, 255},
      {"Frame4", Frame, "client", "CSVファイルから一括計算", 120, 3360, 4695, 2175},
      {"Label33", Label, "Frame4", "入力ファイル", 360, 360, 1695, 255},
      {"txtInFile", File, "Frame4", "", 240, 600, 3735, 270},
      {"cmdSelInFile", Button, "Frame4", "選択", 3960, 600, 615, 255},
      {"Label34", Label, "Frame4", "出力ファイル", 360, 960, 1695, 255},
      {"txtOutFile", File, "Frame4", "", 240, 1200, 3735, 270},
      {"cmdSelOutFile", Button, "Frame4", "選択", 3960, 1200, 615, 255},
      {"cmdExecAll", Button, "Frame4", "一括計算(&E)", 3120, 1680, 1455, 375},
      {"Frame2", Frame, "client", "入力値から個別計算（世帯当たり）", 5040, 120, 4935, 5415},
      {"Label6", RightLabel, "Frame2", "家屋被害：", 360, 405, 1575, 255},
      {"txtU2", Numeric, "Frame2", "9.725", 1920, 360, 1575, 270},
      {"Label14", Label, "Frame2", "（百万円）", 3600, 405, 855, 255},
      {"Label7", RightLabel, "Frame2", "家財被害：", 360, 765, 1575, 255},
      {"txtU3", Numeric, "Frame2", "7.380", 1920, 720, 1575, 270},
      {"Label15", Label, "Frame2", "（百万円）", 3600, 765, 855, 255},
      {"Label8", RightLabel, "Frame2", "世帯金融資産残高：", 360, 1125, 1575, 255},
      {"txtU4", Numeric, "Frame2", "4.810", 1920, 1080, 1575, 270},
      {"Label16", Label, "Frame2", "（百万円）", 3600, 1125, 855, 255},
      {"Label32", RightLabel, "Frame2", "世帯年収：", 360, 1485, 1575, 255},
      {"txtU5", Numeric, "Frame2", "3.570", 1920, 1440, 1575, 270},
      {"Label31", Label, "Frame2", "（百万円）", 3600, 1485, 855, 255},
      {"Label17", RightLabel, "Frame2", "土地資産額：", 360, 1845, 1575, 255},
      {"txtU6", Numeric, "Frame2", "7.416", 1920, 1800, 1575, 270},
      {"Label18", Label, "Frame2", "（百万円）", 3600, 1845, 855, 255},
      {"Label19", RightLabel, "Frame2", "家庭用品額：", 360, 2205, 1575, 255},
      {"txtU7", Numeric, "Frame2", "14.759", 1920, 2160, 1575, 270},
      {"Label20", Label, "Frame2", "（百万円）", 3600, 2205, 855, 255},
      {"Label21", RightLabel, "Frame2", "家屋価格：", 360, 2565, 1575, 255},
      {"txtU8", Numeric, "Frame2", "22.616", 1920, 2520, 1575, 270},
      {"Label22", Label, "Frame2", "（百万円）", 3600, 2565, 855, 255},
      {"Label23", RightLabel, "Frame2", "物質資産への投資を除く消費額：", 300, 2880, 1575, 375},
      {"txtU9", Numeric, "Frame2", "3.321", 1920, 2880, 1575, 270},
      {"Label24", Label, "Frame2", "（百万円）", 3600, 2925, 855, 255},
      {"Label25", RightLabel, "Frame2", "家計の選好特性：", 360, 3525, 1575, 255},
      {"txtA1", Result, "Frame2", "", 1920, 3480, 1575, 270},
      {"Label26", Label, "Frame2", "（倍）", 3600, 3525, 855, 255},
      {"Label35", RightLabel, "Frame2", "住民の治水投資に対する支払い意思額：", 120, 3780, 1755, 375},
      {"txtA2", Result, "Frame2", "", 1920, 3840, 1575, 270},
      {"Label36", Label, "Frame2", "（百万円）", 3600, 3900, 1215, 255},
      {"Label27", RightLabel, "Frame2", "保険の最適カバー率：", 120, 4245, 1815, 255},
      {"txtA3", Result, "Frame2", "", 1920, 4200, 1575, 270},
      {"Label28", Label, "Frame2", "（倍）", 3600, 4245, 855, 255},
      {"Label29", RightLabel, "Frame2", "流動性制約に伴う復旧遅延被害額：", 300, 4545, 1575, 375},
      {"txtA4", Result, "Frame2", "", 1920, 4560, 1575, 270},
      {"Label30", Label, "Frame2", "（百万円）", 3600, 4605, 1215, 255},
      {"cmdExec", Button, "Frame2", "個別計算(&A)", 3360, 4920, 1455, 375},
  };
  std::vector<const Control*> drawn;  // the controls shown at rest
  for (const Control& c : Controls()) {
    if (c.tab >= 0) drawn.push_back(&c);
  }
  ASSERT_EQ(drawn.size(), std::size(expected));
  for (std::size_t i = 0; i < drawn.size(); ++i) {
    const Control& c = *drawn[i];
    const Row& e = expected[i];
    EXPECT_EQ(std::tie(c.name, c.kind, c.parent, c.caption, c.left, c.top, c.width, c.height),
              std::tie(e.name, e.kind, e.parent, e.caption, e.left, e.top, e.width, e.height));
  }
}

// The layout data keep the rules both windows and screen readers rely on.
TEST(FormLayout, TabIndicesFocusOrderAndItemLabels) {
  std::vector<int> tabs;
  std::vector<std::pair<int, std::string_view>> focusable;
  int boxes = 0;
  for (const Control& c : Controls()) {
    if (c.tab >= 0) tabs.push_back(c.tab);
    if (c.tab >= 0 && c.kind != Kind::Frame && c.kind != Kind::Label && c.kind != Kind::RightLabel) {
      focusable.emplace_back(c.tab, c.name);
    }
    if (c.parent != "client") {
      const Control* frame = FindControl(c.parent);
      ASSERT_TRUE(frame) << c.name;
      EXPECT_LE(c.left + c.width, frame->width) << c.name;
      EXPECT_LE(c.top + c.height, frame->height) << c.name;
    }
    if (c.kind == Kind::Numeric || c.kind == Kind::Result || c.kind == Kind::File) {
      ++boxes;
      const Control* label = ItemLabel(c.name);
      ASSERT_TRUE(label) << c.name;
      // The item label sits on the box's row.
      EXPECT_LT(std::abs(label->top - c.top), label->kind == Kind::RightLabel ? 100 : 300) << c.name;
    }
  }
  std::sort(tabs.begin(), tabs.end());
  ASSERT_EQ(tabs.size(), 60u);
  for (int i = 0; i < 60; ++i) EXPECT_EQ(tabs[static_cast<std::size_t>(i)], i);
  EXPECT_EQ(boxes, 18);
  std::sort(focusable.begin(), focusable.end());
  std::vector<std::string_view> byTab;
  for (const auto& f : focusable) byTab.push_back(f.second);
  const auto order = FocusOrder();
  EXPECT_EQ(byTab, std::vector<std::string_view>(order.begin(), order.end()));
  EXPECT_EQ(AccessibleName(*ItemLabel("txtU4")), "世帯金融資産残高");
  EXPECT_EQ(AccessibleName(*ItemLabel("txtInFile")), "入力ファイル");
  for (const Setting& s : kSettings) {
    EXPECT_EQ(FindControl(s.key)->caption, s.defaultText);
    EXPECT_EQ(AccessibleName(*ItemLabel(s.key)), s.caption);
  }
}

// The worked example in both modes, one run of the model with its trace,
// and the table's digest taken while it loaded.
TEST(FormCalculation, WorkedExampleInBothModes) {
  Window w;
  EXPECT_FALSE(w.view.isEnabled("txtC1"));
  EXPECT_TRUE(w.view.isEnabled("txtU9"));
  ASSERT_TRUE(w.form.calculate());
  EXPECT_EQ(w.results(), (Strings{"0.394", "1.343", "0.664", "0.000"}));
  EXPECT_TRUE(w.reporter.messages.empty());
  const Calculation& c = *w.form.lastCalculation();
  EXPECT_EQ(c.gapTableSha256, Sha256OfFile(w.folder.path() / "EGapDis.txt").value());
  EXPECT_TRUE(ReadKey(c.explanation).has_value());
  EXPECT_NE(w.form.explainText()->find(c.gapTableSha256), std::string::npos);

  w.view.setChecked("chkRP", false);
  w.form.modeSwitched();
  for (const char* box : {"txtC2", "txtC3", "txtC4", "txtU9"}) EXPECT_FALSE(w.view.isEnabled(box)) << box;
  EXPECT_TRUE(w.view.isEnabled("txtC1"));
  // Switching alone leaves the results; the next calculation replaces them.
  EXPECT_EQ(w.results()[0], "0.394");
  ASSERT_TRUE(w.form.calculate());
  EXPECT_EQ(w.results(), (Strings{"-", "-", "-", "0.142"}));
  EXPECT_EQ(w.form.mode(), Mode::WithoutRiskPremium);
  // Mode 1's settings stay as its last command stored them.
  EXPECT_FLOAT_EQ(w.form.settings().MarkupRate, 3.14f);
}

// Each check: its message, the results kept, the user put in the box to
// correct (when it can take the focus).
TEST(FormCalculation, ChecksReportKeepResultsAndPointAtTheBox) {
  struct Case {
    bool withPremium;
    std::map<std::string, std::string> texts;
    const char* message;  // none: the calculation passes
    const char* box;
  };
  const char* const common = msg::kCommonSettingsInvalid;
  const char* const input = msg::kInputValuesInvalid;
  const Case cases[] = {
      {true, {{"txtC3", ""}}, common, "txtC3"},
      {false, {{"txtC3", ""}}, nullptr, ""},  // not a setting of mode 0
      {false, {{"txtC2", "abc"}}, nullptr, ""},
      {false, {{"txtC1", ""}}, common, "txtC1"},
      {true, {{"txtC1", "x"}}, common, ""},  // tested in mode 1 too, yet disabled: focus stays
      {true, {{"txtC4", "0e3"}}, msg::kMarkupRateZero, "txtC4"},
      {true, {{"txtC4", "-0"}}, msg::kMarkupRateZero, "txtC4"},
      {false, {{"txtC4", "0"}}, msg::kMarkupRateZero, ""},  // disabled in mode 0: focus stays
      {false, {{"txtC4", "abc"}}, common, ""},
      {true, {{"txtC2", ""}, {"txtC4", "0"}}, common, "txtC2"},  // settings before the markup
      {false, {{"txtC1", "x"}, {"txtC2", "y"}}, common, "txtC1"},
      {true, {{"txtC1", "-0.5"}, {"txtC4", "-1"}}, nullptr, ""},  // negative values pass
      {true, {{"txtC3", "?"}, {"txtU2", "?"}}, common, "txtC3"},  // settings before the household
      {true, {{"txtU9", ""}}, input, "txtU9"},
      {false, {{"txtU9", "abc"}}, nullptr, ""},
      {false, {{"txtU6", "1..2"}}, input, "txtU6"},
      {false, {{"txtU9", ""}, {"txtU6", "a"}}, input, "txtU6"},
      {true, {{"txtU7", "5"}, {"txtU8", "-5"}}, msg::kAssetSumZero, "txtU7"},
      {true, {{"txtU7", "5"}, {"txtU8", "-6"}}, nullptr, ""},
      {true, {{"txtU2", "0"}, {"txtU3", "0"}, {"txtU4", "0"}, {"txtU5", "0"}, {"txtU6", "0"}, {"txtU7", "0"},
              {"txtU8", "0"}, {"txtU9", "0"}},
       msg::kAssetSumZero, "txtU7"},  // the first of the sums only
      {true, {{"txtU4", "0"}, {"txtU5", "0"}}, msg::kLiquiditySumZero, "txtU4"},
      {false, {{"txtU4", "0"}, {"txtU5", "0"}}, msg::kLiquiditySumZero, "txtU4"},
      {false, {{"txtU4", "0"}, {"txtU5", "1"}}, nullptr, ""},
      {true, {{"txtU4", "3e38"}, {"txtU5", "3e38"}, {"txtU2", "3e38"}}, msg::kNotComputable, ""},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(std::to_string(&k - cases) + ": " + (k.message ? k.message : "passes"));
    Window w;
    ASSERT_TRUE(w.form.calculate());
    w.reporter.messages.clear();
    w.view.setChecked("chkRP", k.withPremium);
    w.form.modeSwitched();
    for (const auto& [box, text] : k.texts) w.view.setText(box, text);
    EXPECT_EQ(w.form.calculate(), k.message == nullptr);
    EXPECT_EQ(w.view.focused, k.box);
    if (k.message == nullptr) {
      EXPECT_TRUE(w.reporter.messages.empty());
      continue;
    }
    ASSERT_EQ(w.reporter.messages.size(), 1u);
    EXPECT_TRUE(w.reporter.messages[0].isError);
    EXPECT_EQ(w.reporter.messages[0].text, k.message);
    EXPECT_EQ(w.results(), (Strings{"0.394", "1.343", "0.664", "0.000"}));
    for (const auto& [box, text] : k.texts) EXPECT_EQ(w.view.texts[box], text);
    EXPECT_TRUE(w.form.lastCalculationFailed());
  }
}

TEST(FormSettings, StoredUnderSettingResetKeepsTheWindowsOption) {
  // The twelve keys in the store's order, with the model's defaults.
  Strings keys, defaults;
  for (const Setting& s : kSettings) {
    keys.emplace_back(s.key);
    defaults.emplace_back(s.defaultText);
  }
  EXPECT_EQ(keys, (Strings{"txtC1", "txtC2", "txtC3", "txtC4", "txtU2", "txtU3", "txtU4", "txtU5", "txtU6", "txtU7",
                           "txtU8", "txtU9"}));
  EXPECT_EQ(defaults, (Strings{"0.610", "0.025", "0.040", "3.140", "9.725", "7.380", "4.810", "3.570", "7.416",
                               "14.759", "22.616", "3.321"}));
  Window w;
  EXPECT_EQ(w.store.saves, 0);  // nothing is written before a close or a reset
  EXPECT_EQ(w.view.texts["txtU7"], "14.759");
  w.view.setText("txtU7", "");
  w.view.setText("txtC1", "abc");
  w.form.close();
  ASSERT_EQ(w.store.data.size(), 1u);
  const auto& section = w.store.data.at("Setting");
  ASSERT_EQ(section.size(), 12u);
  EXPECT_EQ(section.at("txtU7"), "");
  EXPECT_EQ(section.at("txtC1"), "abc");
  EXPECT_EQ(section.at("txtU9"), "3.321");

  // A new window reads what the last one left, an emptied box empty.
  FakeView view;
  RecordingReporter reporter;
  ScriptedDialogs dialogs;
  Form again(view, reporter, dialogs, w.store, w.folder.path(), {});
  again.load();
  EXPECT_EQ(view.texts["txtU7"], "");
  EXPECT_EQ(view.texts["txtC1"], "abc");
  EXPECT_FALSE(view.isChecked("menKeepColumns"));
  view.setChecked("menKeepColumns", true);
  again.keepColumnsToggled();
  EXPECT_EQ(w.store.data.at("Batch").at("KeepColumns"), "true");
  view.setChecked("chkRP", false);
  view.setText("txtA4", "1.000");
  again.resetSettings();
  EXPECT_EQ(view.texts["txtU7"], "14.759");
  EXPECT_EQ(view.texts["txtC1"], "0.610");
  EXPECT_EQ(w.store.data.at("Setting").at("txtC1"), "0.610");
  EXPECT_EQ(w.store.data.at("Batch").at("KeepColumns"), "true");
  EXPECT_FALSE(view.isChecked("chkRP"));
  EXPECT_EQ(view.texts["txtA4"], "1.000");

  // Defaults come with the separator the boxes read; stored texts as stored.
  MemoryStore fresh;
  fresh.data["Setting"]["txtU2"] = "9.725";
  view.separator = ",";
  Form comma(view, reporter, dialogs, fresh, w.folder.path(), {});
  comma.load();
  EXPECT_EQ(view.texts["txtC1"], "0,610");
  EXPECT_EQ(view.texts["txtU7"], "14,759");
  EXPECT_EQ(view.texts["txtU2"], "9.725");
}

TEST(FormFileDialogs, RequestsAndAnswers) {
  Window w;
  w.dialogs.answers = {w.folder.path() / "in.csv", std::nullopt, w.folder.path() / "result.CSV",
                       w.folder.path() / "result.txt", std::nullopt};
  w.form.chooseInput();
  w.form.chooseInput();  // cancelled: the earlier path stays
  EXPECT_EQ(w.view.texts["txtInFile"], test::U8(w.folder.path() / "in.csv"));
  w.form.chooseOutput();
  EXPECT_EQ(w.view.texts["txtOutFile"], test::U8(w.folder.path() / "result.CSV"));
  w.form.chooseOutput();
  w.form.chooseOutput();
  EXPECT_EQ(w.view.texts["txtOutFile"], test::U8(w.folder.path() / "result.txt.csv"));
  ASSERT_EQ(w.dialogs.requests.size(), 5u);
  const FileRequest& open = w.dialogs.requests[0];
  EXPECT_EQ(open.title, "ファイルを開く");
  EXPECT_EQ(open.filterName, "CSVファイル(*.csv)");
  EXPECT_EQ(open.filterPattern, "*.csv");
  EXPECT_TRUE(open.fileMustExist && open.folderMustExist && open.hideReadOnly && !open.confirmOverwrite);
  EXPECT_TRUE(open.defaultName.empty());
  const FileRequest& save = w.dialogs.requests[4];
  EXPECT_EQ(save.title, "ファイルを保存する");
  EXPECT_EQ(save.defaultName, "Output.csv");
  EXPECT_TRUE(!save.fileMustExist && save.folderMustExist && save.confirmOverwrite);
  // Every dialog starts in the program's folder again.
  for (const FileRequest& r : w.dialogs.requests) EXPECT_EQ(r.folder, w.folder.path());
  EXPECT_EQ(WithCsvExtension("a.Csv"), "a.Csv");
  EXPECT_EQ(WithCsvExtension("csv"), "csv.csv");
}

// A batch from the window: on its worker, the buttons waiting, the result
// the engine's own, the completion with the summary; a close during a run
// keeps the earlier output and leaves no temporary file.
TEST(FormBatch, RunsOnAWorkerAndCloseCancels) {
  Window w;
  std::string input = "a,b,c,d,e,f,g,h\r\n";
  for (int i = 0; i < 50; ++i) input += "9.725,7.38,4.81,3.57,7.416,14.759,22.616,3.321\r\n";
  input += "9.725,x,4.81,3.57,7.416,14.759,22.616,3.321\r\n";
  const auto in = w.folder.Write("in.csv", input);
  const auto out = w.folder.path() / "out.csv";
  w.view.setText("txtInFile", test::U8(in));
  w.view.setText("txtOutFile", test::U8(out));
  ASSERT_TRUE(w.form.startBatch());
  EXPECT_TRUE(w.view.busy);
  EXPECT_FALSE(w.view.isEnabled("cmdExec"));
  EXPECT_FALSE(w.form.calculate());  // refused while the run owns the settings
  w.view.waitForBatch();
  EXPECT_EQ(w.form.batchEnded(), BatchOutcome::Completed);
  EXPECT_FALSE(w.view.busy);
  EXPECT_TRUE(w.view.isEnabled("cmdExec"));
  ASSERT_EQ(w.reporter.messages.size(), 1u);
  EXPECT_EQ(w.reporter.messages[0].text, msg::kBatchCompleted);
  ASSERT_TRUE(w.form.lastBatchSummary());
  EXPECT_EQ(w.form.lastBatchSummary()->computed, 50u);
  EXPECT_EQ(w.form.lastBatchSummary()->rowRejected, 1u);
  EXPECT_TRUE(w.view.isEnabled("menBatchSummary"));

  // The same command through the engine alone gives the same bytes.
  const auto direct = w.folder.path() / "direct.csv";
  RecordingReporter quiet;
  BatchCommand command;
  command.input = in;
  command.output = direct;
  command.settingTexts = kDefaultCommonSettingTexts;
  command.gapTableFile = w.folder.path() / "EGapDis.txt";
  CommonSettings settings;
  GapTable table;
  ASSERT_EQ(RunBatchCommand(command, settings, table, quiet), BatchOutcome::Completed);
  EXPECT_EQ(test::ReadFile(out), test::ReadFile(direct));
  std::filesystem::remove(direct);

  // A long input, closed at once: the earlier output stays as it was.
  std::string big = "a,b,c,d,e,f,g,h\r\n";
  for (int i = 0; i < 200000; ++i) big += "9.725,7.38,4.81,3.57,7.416,14.759,22.616,3.321\r\n";
  w.folder.Write("in.csv", big);
  const std::string before = test::ReadFile(out);
  w.reporter.messages.clear();
  ASSERT_TRUE(w.form.startBatch());
  w.form.close();
  EXPECT_FALSE(w.form.batchRunning());
  EXPECT_EQ(w.form.batchEnded(), BatchOutcome::Failed);  // the posted note finds nothing left to do
  EXPECT_TRUE(w.reporter.messages.empty());
  EXPECT_EQ(test::ReadFile(out), before);
  std::set<std::string> left;
  for (const auto& e : std::filesystem::directory_iterator(w.folder.path())) left.insert(test::U8(e.path().filename()));
  EXPECT_EQ(left, (std::set<std::string>{"EGapDis.txt", "in.csv", "out.csv"}));
}

// A failure anywhere leaves the window usable, the busy state left and a
// message said: a hook that throws before the run, a consumer of the result
// lines that throws on the run's threads, a hook that throws once the run
// completed. 中止 says that it stopped the run.
TEST(FormBatch, FailuresLeaveTheWindowUsable) {
  Window w;
  std::string input = "a,b,c,d,e,f,g,h\r\n";
  for (int i = 0; i < 200000; ++i) input += "9.725,7.38,4.81,3.57,7.416,14.759,22.616,3.321\r\n";
  const auto in = w.folder.Write("in.csv", input);
  const auto out = w.folder.path() / "out.csv";
  w.view.setText("txtInFile", test::U8(in));
  w.view.setText("txtOutFile", test::U8(out));
  const auto ended = [&w](BatchOutcome expected, const Strings& messages) {
    if (w.form.batchRunning()) {
      w.view.waitForBatch();
      EXPECT_EQ(w.form.batchEnded(), expected);
    }
    EXPECT_FALSE(w.form.batchRunning());
    EXPECT_FALSE(w.view.busy);
    for (std::string_view c : {"cmdExec", "cmdExecAll", "cmdSelInFile", "menInitValue"}) {
      EXPECT_TRUE(w.view.isEnabled(std::string(c))) << c;
    }
    Strings said;
    for (const auto& m : w.reporter.messages) said.push_back(m.text);
    EXPECT_EQ(said, messages);
    w.reporter.messages.clear();
  };
  w.form.setBatchHooks({[](BatchCommand&) { throw std::runtime_error("before"); }, {}});
  EXPECT_FALSE(w.form.startBatch());
  ended(BatchOutcome::Failed, {std::string(msg::kRunFailed) + "before"});

  w.form.setBatchHooks({[](BatchCommand& c) {
                          c.options.resultBlocks = [](std::uint64_t, std::string_view) {
                            throw std::runtime_error("lines");
                          };
                        },
                        {}});
  ASSERT_TRUE(w.form.startBatch());
  ended(BatchOutcome::Failed, {std::string(msg::kRunFailed) + "lines"});
  EXPECT_FALSE(std::filesystem::exists(out));

  w.form.setBatchHooks({{}, [](const BatchCommand&, const CommonSettings&, const GapTable&, const BatchSummary&) {
                          throw std::bad_alloc();
                        }});
  ASSERT_TRUE(w.form.startBatch());
  ended(BatchOutcome::Completed, {msg::kBatchCompleted, msg::kOutOfMemory});
  EXPECT_TRUE(std::filesystem::exists(out));

  w.form.setBatchHooks({});
  ASSERT_TRUE(w.form.startBatch());
  w.form.cancelBatch();
  ended(BatchOutcome::Cancelled, {"一括計算を中止しました。出力ファイルは以前のままです。"});
}

// The bar's text: the share done and, from the first second on, the time
// left, while neither 0% nor done.
TEST(FormBatch, ShareMovesOnAndTellsTimeLeft) {
  EXPECT_EQ(ShareText(ShareAfter(0.0, 0.0)), "0%");
  EXPECT_EQ(ShareText(ShareAfter(0.425, 0.9)), "42%");
  EXPECT_EQ(ShareText(ShareAfter(0.25, 3.0)), "25%　残り約 9 秒");
  EXPECT_EQ(ShareText(ShareAfter(0.1, 20.0)), "10%　残り約 3 分");
  EXPECT_EQ(ShareText(ShareAfter(1.0, 20.0)), "100%");
  EXPECT_EQ(ShareText({0.456, std::nullopt}), "45%");
  EXPECT_EQ(ShareText({0.5, 12.5}), "50%　残り約 13 秒");
  EXPECT_EQ(ShareText({0.5, 89.4}), "50%　残り約 89 秒");
  EXPECT_EQ(ShareText({0.1, 150.0}), "10%　残り約 3 分");
}
