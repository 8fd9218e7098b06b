#pragma once
// Where a command finds EGapDis.txt when none is named: beside the program
// first, then the user's own table in the folder of the settings store, then
// the example table installed with the program.
#include <filesystem>
#include <string>
#include <vector>

#include "core/reporter.h"

namespace velmora {

struct GapTableSearch {
  std::filesystem::path found;                   // empty when no place holds the file
  std::vector<std::filesystem::path> searched;   // every place looked at, in order
};

// Looks in `programFolder`, in `userFolder` (skipped when empty) and in
// `programFolder`/../share/velmora, and takes the first place where the file
// exists. Whether it reads correctly is for the load to find out: a bad table
// never hands over to the next place.
GapTableSearch FindGapTable(const std::filesystem::path& programFolder, const std::filesystem::path& userFolder);

// The table message, followed by the places searched, one per line.
std::string GapTableNotFoundMessage(const std::vector<std::filesystem::path>& searched);

// FindGapTable, reporting the message when nothing was found.
bool LocateGapTable(const std::filesystem::path& programFolder, const std::filesystem::path& userFolder,
                    std::filesystem::path& found, Reporter& reporter);

// The folder of the window's settings store for the user running the program:
// $XDG_CONFIG_HOME/Velmora or $HOME/.config/Velmora (empty when neither is
// set); %APPDATA%\Velmora on Windows.
std::filesystem::path UserSettingsFolder();

}  // namespace velmora
