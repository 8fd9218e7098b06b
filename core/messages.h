#pragma once
// The messages of the calculation core and of the input checks, exactly as the
// users know them (UTF-8).

namespace velmora::msg {

inline constexpr const char* kGapTableUnreadable = "EGapDis.txtを正しく読み取れません";
inline constexpr const char* kCommonSettingsInvalid = "「全メッシュ共通の設定値」に誤りがあります";
inline constexpr const char* kMarkupRateZero = "マークアップ率に「0」は指定できません";
inline constexpr const char* kInputValuesInvalid = "入力値に誤りがあります";
inline constexpr const char* kAssetSumZero = "「家庭用品額」＋「家屋価格」は0以上である必要があります";
inline constexpr const char* kLiquiditySumZero =
    "「世帯金融資産残高」＋「世帯年収」は0以上である必要があります";
// Shown when a model cannot give finite results for the values typed in.
inline constexpr const char* kNotComputable =
    "入力値から計算結果を求められません（ゼロ除算または数値の範囲超過）";

}  // namespace velmora::msg
