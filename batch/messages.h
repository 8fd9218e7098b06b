#pragma once
// The messages and the result header of the batch calculation, exactly as the
// users know them (UTF-8; the header is written to the file in CP932).
#include <string_view>

namespace velmora::msg {

inline constexpr const char* kSelectInputFile = "入力ファイルを選択してください";
inline constexpr const char* kSelectOutputFile = "出力ファイルを選択してください";
inline constexpr const char* kSameFiles = "入力ファイルと出力ファイルが同じです";
inline constexpr const char* kInputFormatInvalid = "入力ファイル形式が正しくありません";
// Follows the line number directly: "5行目：入力ファイル形式が正しくありません".
inline constexpr const char* kLineFormatInvalid = "行目：入力ファイル形式が正しくありません";
inline constexpr const char* kOutputUnwritable = "出力ファイルに書き込みができません";
inline constexpr const char* kBatchCompleted = "一括計算の結果を出力ファイルに書き込みました";
// Our own: the input was deleted, locked or unreadable since it was chosen.
inline constexpr const char* kInputUnreadable = "入力ファイルを読み取れません";
// Our own, after a line number: the result would mix two code pages. Each
// names the input's code page, the result's and the option that makes them one.
inline constexpr const char* kLineEncodingMixedUtf8Input =
    "行目：入力はUTF-8、結果はCP932のため、ASCII以外の文字を書き出せません"
    "（--output-encoding utf-8 で書き出せます）";
inline constexpr const char* kLineEncodingMixedCp932Input =
    "行目：入力はCP932、結果はUTF-8のため、ASCII以外の文字を書き出せません"
    "（--output-encoding cp932 で書き出せます）";
// Our own, after the completion message: the kept columns decided the code page.
inline constexpr const char* kWrittenAsUtf8 =
    "入力がBOMなしのUTF-8のため、結果はBOM付きのUTF-8で書き出しました";
// Our own, after a line number: a line past the limit of one line, far
// longer than any household's (LineReader::kMaxLine).
inline constexpr const char* kLineTooLong = "行目：1行が長すぎます（1行は128 MiBまでです）";
// Our own, after "1": a header kept for its titles must fit in memory.
inline constexpr const char* kHeaderTooLong = "行目：見出し行が長すぎるため、9列目以降の見出しを結果に残せません";
// Our own, for one household explained: why it was not computed.
inline constexpr const char* kRowRejected = "行の検査で計算できません：";
// "3番目の値（世帯年収）が数値ではありません": position from 1, the field's name.
inline constexpr const char* kRowFieldNotNumeric = "が数値ではありません";
inline constexpr const char* kFieldNames[8] = {"家屋被害", "家財被害", "世帯年収", "世帯金融資産残高",
                                               "土地資産額", "家庭用品額", "家屋価格",
                                               "物質資産への投資を除く消費額"};
inline constexpr const char* kRowAssetSumZero = "「家庭用品額」＋「家屋価格」が0です";
inline constexpr const char* kRowLiquiditySumZero = "「世帯金融資産残高」＋「世帯年収」が0です";
inline constexpr const char* kModelFailed = "モデルで計算できません：";
inline constexpr const char* kStepNotFinite = "が有限の値になりません";
// Our own: the check or the run could not go on for a reason of its own
// (not the files'): memory, or a failure named after the colon.
inline constexpr const char* kOutOfMemory = "メモリが足りないため、処理を中止しました";
inline constexpr const char* kRunFailed = "予期しないエラーのため、処理を中止しました：";
// Our own: the summary of a completed run could not be written.
inline constexpr const char* kSummaryUnwritable = "集計ファイルに書き込みができません";

// Twelve columns; the ninth name has ASCII parentheses, the others full-width.
inline constexpr const char* kResultHeader =
    "家屋被害（百万円）,家財被害（百万円）,世帯年収（百万円）,世帯金融資産残高（百万円）,"
    "土地資産額（百万円）,家庭用品額（百万円）,家屋価格（百万円）,"
    "物質資産への投資を除く消費額（百万円）,家計の選好特性(倍),"
    "住民の治水投資に対する支払い意思額（百万円）,保険の最適カバー率（倍）,"
    "流動性制約に伴う復旧遅延被害額（百万円）";

// The same header as the file holds it: CP932 bytes, one column name a line,
// so that no run depends on a converter being installed.
inline constexpr std::string_view kResultHeaderCp932 =
    // 家屋被害（百万円）
    "\x89\xC6\x89\xAE\x94\xED\x8A\x51\x81\x69\x95\x53\x96\x9C\x89\x7E\x81\x6A\x2C"
    // 家財被害（百万円）
    "\x89\xC6\x8D\xE0\x94\xED\x8A\x51\x81\x69\x95\x53\x96\x9C\x89\x7E\x81\x6A\x2C"
    // 世帯年収（百万円）
    "\x90\xA2\x91\xD1\x94\x4E\x8E\xFB\x81\x69\x95\x53\x96\x9C\x89\x7E\x81\x6A\x2C"
    // 世帯金融資産残高（百万円）
    "\x90\xA2\x91\xD1\x8B\xE0\x97\x5A\x8E\x91\x8E\x59\x8E\x63\x8D\x82\x81\x69\x95\x53\x96\x9C\x89\x7E\x81\x6A\x2C"
    // 土地資産額（百万円）
    "\x93\x79\x92\x6E\x8E\x91\x8E\x59\x8A\x7A\x81\x69\x95\x53\x96\x9C\x89\x7E\x81\x6A\x2C"
    // 家庭用品額（百万円）
    "\x89\xC6\x92\xEB\x97\x70\x95\x69\x8A\x7A\x81\x69\x95\x53\x96\x9C\x89\x7E\x81\x6A\x2C"
    // 家屋価格（百万円）
    "\x89\xC6\x89\xAE\x89\xBF\x8A\x69\x81\x69\x95\x53\x96\x9C\x89\x7E\x81\x6A\x2C"
    // 物質資産への投資を除く消費額（百万円）
    "\x95\xA8\x8E\xBF\x8E\x91\x8E\x59\x82\xD6\x82\xCC\x93\x8A\x8E\x91\x82\xF0\x8F\x9C\x82\xAD\x8F\xC1\x94\xEF\x8A\x7A\x81\x69\x95\x53\x96\x9C\x89\x7E\x81\x6A\x2C"
    // 家計の選好特性(倍)
    "\x89\xC6\x8C\x76\x82\xCC\x91\x49\x8D\x44\x93\xC1\x90\xAB\x28\x94\x7B\x29\x2C"
    // 住民の治水投資に対する支払い意思額（百万円）
    "\x8F\x5A\x96\xAF\x82\xCC\x8E\xA1\x90\x85\x93\x8A\x8E\x91\x82\xC9\x91\xCE\x82\xB7\x82\xE9\x8E\x78\x95\xA5\x82\xA2\x88\xD3\x8E\x76\x8A\x7A\x81\x69\x95\x53\x96\x9C\x89\x7E\x81\x6A\x2C"
    // 保険の最適カバー率（倍）
    "\x95\xDB\x8C\xAF\x82\xCC\x8D\xC5\x93\x4B\x83\x4A\x83\x6F\x81\x5B\x97\xA6\x81\x69\x94\x7B\x81\x6A\x2C"
    // 流動性制約に伴う復旧遅延被害額（百万円）
    "\x97\xAC\x93\xAE\x90\xAB\x90\xA7\x96\xF1\x82\xC9\x94\xBA\x82\xA4\x95\x9C\x8B\x8C\x92\x78\x89\x84\x94\xED\x8A\x51\x8A\x7A\x81\x69\x95\x53\x96\x9C\x89\x7E\x81\x6A";

}  // namespace velmora::msg
