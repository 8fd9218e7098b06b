#pragma once
// The batch calculation, without any window: the file checks and the
// streaming run from an input CSV to a result CSV.
//
//   RunBatchCommand: LoadGapTable -> CheckCommonSettings -> CheckBatchFiles
//                    -> RunBatch -> completion message
//
// The check and the run read the input in chunks of whole lines and work on
// several chunks at once (BatchOptions::threads); the result is the same, byte
// for byte, for every thread count. Messages go to the Reporter on the calling
// thread only; see BatchProgress for progress and cancellation.
//
// Files are bytes: the input is read in whatever code page it has and its
// fields are echoed untouched; the result file's header is CP932 (UTF-8 with
// a byte order mark when the input starts with one, or as BatchOptions say)
// and every line ends in CR LF. Numbers in files always use ".".
#include <cstdint>
#include <exception>
#include <filesystem>
#include <string>

#include "batch/progress.h"
#include "batch/summary.h"
#include "core/gap_table.h"
#include "core/records.h"
#include "core/reporter.h"
#include "input/checks.h"

namespace velmora {

enum class BatchOutcome { Completed, Failed, Cancelled };

// Both names given, not the same file, input not empty, every data line with
// enough fields for the mode. When the result's code page is not the input's,
// also no byte outside ASCII in what the result would echo (and in the kept
// titles). Reports the first failure in input order (a short line first when
// the input's code page is known only at its end). False without a message
// when `progress` is cancelled. `inputIsUtf8` gets what the run needs in
// BatchOptions::inputIsUtf8.
bool CheckBatchFiles(const std::filesystem::path& input, const std::filesystem::path& output, Mode mode,
                     Reporter& reporter, BatchProgress* progress = nullptr, const BatchOptions& options = {},
                     bool* inputIsUtf8 = nullptr);

// Streams the input through the model of the mode into the result file. The
// result is written beside the output and put in its place only when the run
// has completed; a failed or cancelled run leaves any earlier output as it was
// (with BatchOptions::writeResultFile false nothing is written at all).
// With `summary`, a completed run fills its files, counts and column figures
// (the rest is the command's, see RunBatchCommand); the run then also hashes
// the input as it reads it and the result as it writes it.
BatchOutcome RunBatch(const std::filesystem::path& input, const std::filesystem::path& output, Mode mode,
                      const CommonSettings& settings, const GapTable& table, Reporter& reporter,
                      BatchProgress* progress = nullptr, const BatchOptions& options = {},
                      BatchSummary* summary = nullptr);

// What the batch command works on: the two file boxes (or command-line
// arguments), the mode, the four setting texts and where the gap table is.
struct BatchCommand {
  std::filesystem::path input;
  std::filesystem::path output;
  Mode mode = Mode::WithRiskPremium;
  CommonSettingTexts settingTexts;
  std::string_view decimalSeparator = ".";  // of the setting texts only
  std::filesystem::path gapTableFile;
  BatchOptions options;  // threads (default: one per core), kept columns, code page
};

// The whole chain of the batch command; `settings` and `table` are the
// window's (kept between commands). Shows the completion message on success.
// Cancelled when `progress` is cancelled at any point before the result has
// taken the output's place. With `summary`, a completed command fills all of
// it (absolute paths; the table's digest is taken as it is loaded).
BatchOutcome RunBatchCommand(const BatchCommand& command, CommonSettings& settings, GapTable& table,
                             Reporter& reporter, BatchProgress* progress = nullptr, BatchSummary* summary = nullptr);

namespace batch {
// What a command reports when something under it threw: the text for a lack
// of memory, else the run's failure with the error's own words.
std::string FailureMessage(const std::exception_ptr& error);
}  // namespace batch

}  // namespace velmora
