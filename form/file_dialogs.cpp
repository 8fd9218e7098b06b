#include "form/file_dialogs.h"

namespace velmora::form {

FileRequest OpenRequest(const std::filesystem::path& programFolder) {
  FileRequest r;
  r.purpose = FileRequest::Purpose::Open;
  r.title = "ファイルを開く";
  r.filterName = "CSVファイル(*.csv)";
  r.filterPattern = "*.csv";
  r.folder = programFolder;
  r.fileMustExist = true;
  return r;
}

FileRequest SaveRequest(const std::filesystem::path& programFolder) {
  FileRequest r = OpenRequest(programFolder);
  r.purpose = FileRequest::Purpose::Save;
  r.title = "ファイルを保存する";
  r.defaultName = "Output.csv";
  // A new name must be possible: the program proposes one and appends
  // ".csv" to names without it.
  r.fileMustExist = false;
  r.confirmOverwrite = true;
  return r;
}

std::string WithCsvExtension(std::string_view path) {
  std::string result(path);
  if (path.size() >= 4) {
    std::string last(path.substr(path.size() - 4));
    for (char& c : last) {
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    if (last == ".csv") return result;
  }
  return result + ".csv";
}

}  // namespace velmora::form
