#pragma once
// 地図 → 地図ファイルに保存: the map file of a window run, the same file as
// velmora-batch --map writes (one feature per computed line with a cell),
// made after the run from its result file, which holds every line as the
// run wrote it.
#include <filesystem>

#include "batch/summary.h"
#include "core/reporter.h"

namespace velmora {

// The formats this build writes, as a file-dialog filter (GeoPackage first
// where GDAL is built in; GeoJSON alone elsewhere), and the extension a name
// without one of them gets.
const char* MapFileFilter();
const char* DefaultMapExtension();

// Writes the map file of the completed run `run` to `target` (format by its
// extension). Refuses, before writing anything, a target that is one of the
// run's files and a run whose input or result file has changed since (their
// SHA-256 no longer the run's). Reports what the map holds, or why not.
// Takes as long as the command-line tool's map: call it off the window's
// thread.
bool SaveMapFile(const BatchSummary& run, const std::filesystem::path& target, Reporter& reporter);

}  // namespace velmora
