#include "batch/gap_table_search.h"

#include <system_error>

#include "platform/platform.h"
#include "core/gap_table.h"
#include "core/messages.h"

namespace velmora {

GapTableSearch FindGapTable(const std::filesystem::path& programFolder, const std::filesystem::path& userFolder) {
  GapTableSearch search;
  search.searched.push_back(programFolder / kGapTableFileName);
  if (!userFolder.empty()) search.searched.push_back(userFolder / kGapTableFileName);
  // Relative to the program, so that an installation works at any prefix.
  search.searched.push_back((programFolder / ".." / "share" / "velmora" / kGapTableFileName).lexically_normal());
  for (const auto& place : search.searched) {
    std::error_code ec;
    const auto status = std::filesystem::status(place, ec);
    // A file that cannot be read still counts: the load reports it.
    if (!ec && std::filesystem::exists(status) && !std::filesystem::is_directory(status)) {
      search.found = place;
      break;
    }
  }
  return search;
}

std::string GapTableNotFoundMessage(const std::vector<std::filesystem::path>& searched) {
  std::string message = msg::kGapTableUnreadable;
  message += "\n探した場所:";
  for (const auto& place : searched) message += "\n  " + platform::Utf8FromPath(place);
  return message;
}

bool LocateGapTable(const std::filesystem::path& programFolder, const std::filesystem::path& userFolder,
                    std::filesystem::path& found, Reporter& reporter) {
  GapTableSearch search = FindGapTable(programFolder, userFolder);
  if (search.found.empty()) {
    reporter.error(GapTableNotFoundMessage(search.searched));
    return false;
  }
  found = std::move(search.found);
  return true;
}

std::filesystem::path UserSettingsFolder() { return platform::UserSettingsFolder(); }

}  // namespace velmora
