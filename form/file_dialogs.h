#pragma once
// What the two 選択 buttons ask of the system's file dialogs, and the rules
// around the answer. Each window shows the request with its own dialogs.
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace velmora::form {

struct FileRequest {
  enum class Purpose { Open, Save };
  Purpose purpose = Purpose::Open;
  std::string_view title;          // "ファイルを開く" / "ファイルを保存する"
  std::string_view filterName;     // the single filter: "CSVファイル(*.csv)"
  std::string_view filterPattern;  // "*.csv"
  std::filesystem::path folder;    // start folder: the program's, every time
  std::string_view defaultName;    // saving: "Output.csv"; opening: empty
  bool fileMustExist = false;      // opening: an existing file only
  bool folderMustExist = true;     // both: the folder must exist
  bool confirmOverwrite = false;   // saving: ask before an existing file is chosen
  bool hideReadOnly = true;        // no read-only option
};

FileRequest OpenRequest(const std::filesystem::path& programFolder);
FileRequest SaveRequest(const std::filesystem::path& programFolder);

// Shows a request; answers the full path chosen, or nothing when the user
// cancels or the dialog fails.
class FileDialogs {
 public:
  virtual ~FileDialogs() = default;
  virtual std::optional<std::filesystem::path> choose(const FileRequest& request) = 0;
};

// The output name as the batch writes it (UTF-8): ".csv" appended unless the
// last four characters, lower-cased, are already ".csv".
std::string WithCsvExtension(std::string_view path);

// Shown when a name to save under lies in a folder that does not exist
// (the folder follows on the first line).
inline constexpr std::string_view kFolderNotFound =
    "\nフォルダーが見つかりません。\n正しいフォルダー名が入力されているかを確認してください。";

}  // namespace velmora::form
