#pragma once
// The map file's messages (UTF-8), as the batch's others.
namespace velmora::msg {

// Follows the option's name.
inline constexpr const char* kMeshColumnNotFound =
    "メッシュコードの列が見つかりません。9列目以降でメッシュコードを持つ列を --mesh-column で指定してください";
inline constexpr const char* kMeshColumnNoSuchTitle = "入力の見出しにこの列名がありません（--mesh-column）：";
// "9列目（メッシュ）をメッシュコードの列とします": after the number and the title.
inline constexpr const char* kMeshColumnTaken = "をメッシュコードの列とします";
inline constexpr const char* kMapUnwritable = "地図ファイルに書き込みができません";
inline constexpr const char* kMapWritten = "地図ファイルに書き込みました：";
// "地図ファイルに書き込みました：セル 120、計算できない行 3、メッシュのない行 2（最初は 7行目）"
inline constexpr const char* kMapCells = "セル ";
inline constexpr const char* kMapNotComputed = "、計算できない行 ";
inline constexpr const char* kMapNoCell = "、メッシュのない行 ";
inline constexpr const char* kMapFirstNoCell = "（最初は ";
inline constexpr const char* kMapFirstNoCellEnd = "行目）";
// A scenario run's map: "地図ファイルに書き込みました：セル 120、メッシュコードでない世帯 2（最初は「A-1」）"
inline constexpr const char* kMapNoMeshHousehold = "、メッシュコードでない世帯 ";
inline constexpr const char* kMapFirstHousehold = "（最初は「";
inline constexpr const char* kMapFirstHouseholdEnd = "」）";
inline constexpr const char* kMapInputChanged = "入力ファイルが計算中に変更されたため、地図を作れません";
inline constexpr const char* kMapFormatUnknown =
    "地図ファイルの拡張子は .gpkg（GeoPackage）、.fgb（FlatGeobuf）、.geojson（GeoJSON）のいずれかです";
inline constexpr const char* kMapOnlyGeoJson = "この版で書ける地図ファイルは .geojson（GeoJSON）だけです";

// Field names of the map beyond the result's titles.
inline constexpr const char* kFieldLineNumber = "行番号";
inline constexpr const char* kFieldMeshCode = "メッシュコード";
inline constexpr const char* kFieldCount = "件数";
inline constexpr const char* kFieldSumSuffix = "_合計";
inline constexpr const char* kFieldMeanSuffix = "_平均";

}  // namespace velmora::msg
