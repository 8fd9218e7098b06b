// The batch command: the chain from the gap table to the completion message,
// and what its check and run share.
#include "batch/batch.h"

#include <exception>
#include <new>
#include <optional>
#include <string>
#include <system_error>

#include "batch/batch_internal.h"
#include "batch/messages.h"
#include "platform/sha256.h"
#include "core/line_reader.h"
#include "core/version.h"

namespace velmora {

static_assert(LineReader::kMaxLine == std::size_t{128} << 20, "the limit msg::kLineTooLong names");

namespace batch {

std::string MixedMessage(std::uint64_t line, bool inputUtf8) {
  return std::to_string(line) +
         (inputUtf8 ? msg::kLineEncodingMixedUtf8Input : msg::kLineEncodingMixedCp932Input);
}

std::string FailureMessage(const std::exception_ptr& error) {
  try {
    if (error) std::rethrow_exception(error);
  } catch (const std::bad_alloc&) {
    return msg::kOutOfMemory;
  } catch (const std::exception& e) {
    return std::string(msg::kRunFailed) + e.what();
  } catch (...) {
  }
  return std::string(msg::kRunFailed) + "?";
}

std::filesystem::path Absolute(const std::filesystem::path& path) {
  std::error_code ec;
  std::filesystem::path absolute = std::filesystem::absolute(path, ec);
  return ec ? path : absolute;
}

}  // namespace batch

using batch::Absolute;
using batch::FailureMessage;

BatchOutcome RunBatchCommand(const BatchCommand& command, CommonSettings& settings, GapTable& table,
                             Reporter& reporter, BatchProgress* progress, BatchSummary* summary) {
  if (!LoadGapTable(command.gapTableFile, table, reporter)) return BatchOutcome::Failed;
  // The table's digest as near its load as can be.
  std::optional<std::string> tableDigest;
  if (summary != nullptr) {
    try {
      tableDigest = Sha256OfFile(command.gapTableFile);
    } catch (...) {  // the digest itself failed, not the file
      reporter.error(FailureMessage(std::current_exception()));
      return BatchOutcome::Failed;
    }
  }
  if (!CheckCommonSettings(command.settingTexts, command.mode, settings, reporter, command.decimalSeparator)) {
    return BatchOutcome::Failed;
  }
  BatchOptions options = command.options;
  if (!CheckBatchFiles(command.input, command.output, command.mode, reporter, progress, options,
                       &options.inputIsUtf8)) {
    return progress != nullptr && progress->cancelled() ? BatchOutcome::Cancelled : BatchOutcome::Failed;
  }
  BatchSummary run;
  const BatchOutcome outcome = RunBatch(command.input, command.output, command.mode, settings, table, reporter,
                                        progress, options, summary != nullptr ? &run : nullptr);
  if (outcome != BatchOutcome::Completed) return outcome;
  if (summary != nullptr) {
    run.version = kVersion;
    run.mode = command.mode;
    for (std::size_t k = 0; k < run.settingTexts.size(); ++k) run.settingTexts[k] = command.settingTexts[k];
    run.settings = settings;
    run.gapTable = Absolute(command.gapTableFile);
    run.gapTableSha256 = tableDigest.value_or("");
    *summary = std::move(run);
  }
  // Kept columns of a UTF-8 input without the mark made the result UTF-8.
  if (options.inputIsUtf8 && options.keepColumns && options.encoding == OutputEncoding::FromInput) {
    reporter.info(std::string(msg::kBatchCompleted) + "\n" + msg::kWrittenAsUtf8);
  } else {
    reporter.info(msg::kBatchCompleted);
  }
  return outcome;
}

}  // namespace velmora
