#pragma once
// What every hostile case checks about a finished run of the batch tool.
#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "result_header.h"
#include "run_program.h"

namespace velmora::test {

// The messages users know, as the tool prints them (UTF-8, one per line).
inline constexpr const char* kOutputUnwritable = "出力ファイルに書き込みができません";
inline constexpr const char* kInputFormatInvalid = "入力ファイル形式が正しくありません";
inline constexpr const char* kLineFormatInvalid = "行目：入力ファイル形式が正しくありません";
inline constexpr const char* kLineTooLong = "行目：1行が長すぎます（1行は128 MiBまでです）";
inline constexpr const char* kGapTableUnreadable = "EGapDis.txtを正しく読み取れません";
inline constexpr const char* kSettingsInvalid = "「全メッシュ共通の設定値」に誤りがあります";
inline constexpr const char* kMarkupRateZero = "マークアップ率に「0」は指定できません";
inline constexpr const char* kCompleted = "一括計算の結果を出力ファイルに書き込みました";
// The tool's own message for an input that is gone or cannot be read.
inline constexpr const char* kInputUnreadable = "入力ファイルを読み取れません";

// The result lines after the header, without their CR LF; fails the test
// when the header or a terminator is wrong.
inline std::vector<std::string> ResultLines(const std::string& file) {
  std::vector<std::string> lines;
  EXPECT_EQ(file.substr(0, kResultHeaderLine.size()), kResultHeaderLine) << "header";
  if (file.compare(0, kResultHeaderLine.size(), kResultHeaderLine) != 0) return lines;
  std::size_t pos = kResultHeaderLine.size();
  while (pos < file.size()) {
    const auto end = file.find("\r\n", pos);
    if (end == std::string::npos) {
      ADD_FAILURE() << "last line without CR LF";
      break;
    }
    lines.push_back(file.substr(pos, end - pos));
    pos = end + 2;
  }
  return lines;
}

inline std::vector<std::string> SplitFields(std::string_view line) {
  std::vector<std::string> fields;
  std::size_t start = 0;
  for (;;) {
    const auto comma = line.find(',', start);
    if (comma == std::string_view::npos) break;
    fields.emplace_back(line.substr(start, comma - start));
    start = comma + 1;
  }
  fields.emplace_back(line.substr(start));
  return fields;
}

// A run that failed cleanly: exit status 1, no signal, no hang, the message
// on standard error, and nothing from the completion.
inline void ExpectCleanFailure(const RunResult& r, std::string_view message) {
  EXPECT_EQ(r.startFailure, "") << "never started";
  EXPECT_FALSE(r.hung) << "hung";
  EXPECT_TRUE(r.exited) << "ended by signal " << r.signal << "\n" << r.err;
  EXPECT_EQ(r.exitCode, 1) << r.err;
  EXPECT_NE(r.err.find(message), std::string::npos) << "expected \"" << message << "\", got: " << r.err;
  EXPECT_EQ(r.err.find(kCompleted), std::string::npos) << r.err;
}

inline void ExpectSuccess(const RunResult& r) {
  EXPECT_EQ(r.startFailure, "") << "never started";
  EXPECT_FALSE(r.hung) << "hung";
  EXPECT_TRUE(r.exited) << "ended by signal " << r.signal << "\n" << r.err;
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.err.find(kCompleted), std::string::npos) << r.err;
}

}  // namespace velmora::test
