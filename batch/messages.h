#pragma once
// The messages and the result header of the batch calculation, exactly as the
// users know them (UTF-8; the header is written to the file in CP932).

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

// Twelve columns; the ninth name has ASCII parentheses, the others full-width.
inline constexpr const char* kResultHeader =
    "家屋被害（百万円）,家財被害（百万円）,世帯年収（百万円）,世帯金融資産残高（百万円）,"
    "土地資産額（百万円）,家庭用品額（百万円）,家屋価格（百万円）,"
    "物質資産への投資を除く消費額（百万円）,家計の選好特性(倍),"
    "住民の治水投資に対する支払い意思額（百万円）,保険の最適カバー率（倍）,"
    "流動性制約に伴う復旧遅延被害額（百万円）";

}  // namespace velmora::msg
